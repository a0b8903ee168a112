// What a device operation gives back: done, or what failed in an engineer's words together
// with the OS error behind it. CommandFailed keeps its protocol meaning beside this.
#pragma once

#include <optional>
#include <string>
#include <utility>

#include "platform/OsError.h"
#include "platform/Phrase.h"

namespace korvel {

struct DeviceStatus {
  // Empty when the operation did its job; otherwise the step that failed, with the OS error
  // already in words ("RX register 19 read-back 0x1234 != 0x5678", "RX gone (errno 19 ...)").
  Phrase failure;
  // errno / GetLastError of the transfer that failed; 0 when the OS reported nothing.
  int osError = 0;
  // The RX relayed a request and the TX never answered it: the radio side is silent.
  bool txSilent = false;

  bool Ok() const { return failure.empty(); }
  explicit operator bool() const { return Ok(); }
  static DeviceStatus Failed(Phrase what, int osError = 0) {
    return DeviceStatus{std::move(what), osError, false};
  }
  static DeviceStatus TxSilent(Phrase what) { return DeviceStatus{std::move(what), 0, true}; }
};

template <class T>
struct DeviceResult {
  std::optional<T> value;
  DeviceStatus status;

  DeviceResult() = default;
  DeviceResult(T v) : value(std::move(v)) {}                        // NOLINT: a value is a success
  DeviceResult(DeviceStatus failed) : status(std::move(failed)) {}  // NOLINT

  bool Ok() const { return value.has_value(); }
  explicit operator bool() const { return Ok(); }
  const T& operator*() const { return *value; }
  const T* operator->() const { return &*value; }
};

// The error a transfer gets once its device is unplugged.
bool IsDeviceGoneError(int osError);
// The error an open gets when the system's permissions keep this user out.
bool IsAccessDeniedError(int osError);

}  // namespace korvel
