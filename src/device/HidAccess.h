// The five HID operations every other part of the tool goes through.
#pragma once

#include <array>
#include <cstdint>
#include <functional>

#include "device/DeviceErrors.h"
#include "device/HidPlatform.h"
#include "platform/Host.h"

namespace korvel {

// Every caller passes report ID + 8 bytes.
constexpr size_t kReportSize = 9;
using ReportBuffer = std::array<uint8_t, kReportSize>;

// What the engineering page and the tests see of each transfer.
struct HidTraceEvent {
  enum class Direction { Sent, Fetched };
  uint64_t timeMs = 0;
  Direction direction = Direction::Sent;
  bool ok = false;
  ReportBuffer bytes{};
};
using HidTraceHook = std::function<void(const HidTraceEvent&)>;

class HidAccess {
 public:
  HidAccess(HidPlatform& platform, Host& host) : platform_(platform), host_(host) {}

  // Interfaces that could be opened, of every vendor; pumps messages after each.
  int32_t CountHidDevices();
  // See the matching rule in the .cpp; version is in/out, handle is out (kept open).
  bool OpenDeviceByVidPid(int32_t vid, int32_t pid, uint32_t& version, intptr_t& handle);
  bool SendFeature(intptr_t handle, ReportBuffer& buffer);
  // buffer[0] must hold the report ID.
  bool ReceiveFeature(intptr_t handle, ReportBuffer& buffer);
  // Send, 8 ms, fetch into the same buffer.
  bool TransactFeature(intptr_t handle, ReportBuffer& buffer);
  void CloseDevice(intptr_t handle);

  // Why the last transfer failed: the device is gone (the liveness test failed), or it
  // refused; with the OS error behind it.
  struct TransferFailure {
    bool noHandle = false;
    bool gone = false;
    int osError = 0;
  };
  const TransferFailure& LastFailure() const { return failure_; }
  // The last failure as a status, prefixed with what was being done.
  Status Failed(const Phrase& what) const;

  void SetTraceHook(HidTraceHook hook) { trace_ = std::move(hook); }
  HidPlatform& Platform() { return platform_; }

  static constexpr uint32_t kAnswerPrepareMs = 8;

 private:
  // Liveness and length checks shared by the three transfers; 0 = unusable.
  size_t TransferLength(intptr_t handle);
  bool Set(intptr_t handle, ReportBuffer& buffer, size_t length);
  bool Get(intptr_t handle, ReportBuffer& buffer, size_t length);
  void Trace(HidTraceEvent::Direction direction, bool ok, const ReportBuffer& bytes);
  bool Fail(bool gone, int osError);

  HidPlatform& platform_;
  Host& host_;
  HidTraceHook trace_;
  TransferFailure failure_;
};

}  // namespace korvel
