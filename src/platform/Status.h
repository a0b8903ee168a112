// What an operation gives back, for the device and the stores alike: done, or the step that
// failed in words together with the OS error behind it. Nodiscard: a failure is handled or
// passed on, never dropped.
#pragma once

#include <optional>
#include <utility>

#include "platform/Phrase.h"

namespace korvel {

struct [[nodiscard]] Status {
  // Empty when the operation did its job; otherwise the step that failed, with the OS error
  // already in words ("RX register 19 read-back 0x1234 != 0x5678", "RX gone (errno 19 ...)").
  Phrase failure;
  // errno / GetLastError of the call that failed; 0 when the OS reported nothing.
  int osError = 0;
  // The far side never answered (a relayed request the mouse did not take up).
  bool noAnswer = false;

  bool Ok() const { return failure.empty(); }
  explicit operator bool() const { return Ok(); }
  static Status Done() { return {}; }
  static Status Failed(Phrase what, int osError = 0) {
    return Status{std::move(what), osError, false};
  }
  static Status NoAnswer(Phrase what) { return Status{std::move(what), 0, true}; }
};

// A value, or the status that says why there is none.
template <class T>
struct [[nodiscard]] Result {
  std::optional<T> value;
  Status status;

  Result() = default;                                   // nothing yet
  Result(T v) : value(std::move(v)) {}                  // NOLINT: a value is a success
  Result(Status failed) : status(std::move(failed)) {}  // NOLINT
  bool Ok() const { return value.has_value(); }
  explicit operator bool() const { return Ok(); }
  const T& operator*() const { return *value; }
  T& operator*() { return *value; }
  const T* operator->() const { return &*value; }
};

}  // namespace korvel
