// The command report, its answer convention and the register primitives.
#pragma once

#include <cstdint>
#include <string>

#include "device/HidAccess.h"

namespace korvel {

// 1, code, params...; the answer comes back in the same buffer with status in byte 7.
using CommandReport = ReportBuffer;
using CommandAnswer = ReportBuffer;

constexpr uint8_t kReportId = 1;
constexpr uint8_t AnswerOk = 0xCC;
constexpr int32_t RetryCount = 30;
constexpr size_t kAnswerStatusByte = 7;

constexpr uint8_t C_Rd_Reg = 0x03;
constexpr uint8_t C_Wrt_Reg = 0x04;

// The device side of the main window's shared state.
struct DeviceState {
  intptr_t DeviceHandle = kNoHandle;
  int32_t ActiveVid = 0;
  int32_t ActivePid = 0;
  uint32_t RxVersion = 0;
  // Sticky: raised by failed primitives, lowered only by the production actions.
  bool CommandFailed = false;
};

CommandReport MakeReport(uint8_t code, uint8_t p1 = 0, uint8_t p2 = 0, uint8_t p3 = 0,
                         uint8_t p4 = 0, uint8_t p5 = 0, uint8_t p6 = 0, uint8_t p7 = 0);
inline bool IsAnswerOk(const CommandAnswer& a) {
  return a[kAnswerStatusByte] == AnswerOk;
}

class CommandChannel {
 public:
  CommandChannel(HidAccess& hid, Host& host, DeviceState& state)
      : hid_(hid), host_(host), state_(state) {}

  // Sends 1, code, p1, p2, p3, 0... with no answer; fails (nothing sent) with no active RX.
  Status SendCommand(uint8_t code, uint8_t p1, uint8_t p2, uint8_t p3);
  // The 16-bit value; a failure raises CommandFailed.
  Result<uint16_t> ReadRegister(uint8_t address);
  // Written and read back until they agree; a failure raises CommandFailed.
  Status WriteRegisterVerified(uint8_t address, uint16_t value);

  HidAccess& Hid() { return hid_; }
  Host& HostRef() { return host_; }
  DeviceState& State() { return state_; }

  static constexpr uint32_t kWriteSettleMs = 20;

 private:
  Status Send(const Phrase& what, uint8_t code, uint8_t p1, uint8_t p2, uint8_t p3);

  HidAccess& hid_;
  Host& host_;
  DeviceState& state_;
};

}  // namespace korvel
