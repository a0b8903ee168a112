#include "device/CommandChannel.h"

namespace korvel {

CommandReport MakeReport(uint8_t code, uint8_t p1, uint8_t p2, uint8_t p3, uint8_t p4, uint8_t p5,
                         uint8_t p6, uint8_t p7) {
  return CommandReport{kReportId, code, p1, p2, p3, p4, p5, p6, p7};
}

bool CommandChannel::SendCommand(uint8_t code, uint8_t p1, uint8_t p2, uint8_t p3) {
  if (state_.ActiveVid == 0 || state_.ActivePid == 0) return false;
  CommandReport report = MakeReport(code, p1, p2, p3);
  return hid_.SendFeature(state_.DeviceHandle, report);
}

int32_t CommandChannel::ReadRegister(uint8_t address) {
  if (state_.DeviceHandle == kNoHandle) {
    state_.CommandFailed = true;
    return -1;
  }
  CommandAnswer answer{};
  for (int32_t attempt = 1;; ++attempt) {
    answer = MakeReport(C_Rd_Reg, address);
    if (!hid_.TransactFeature(state_.DeviceHandle, answer)) {
      // A refused transfer is not worth retrying: the device is gone or broken.
      state_.CommandFailed = true;
      return -1;
    }
    host_.ProcessMessages();
    if (IsAnswerOk(answer) || attempt == RetryCount) break;
  }
  if (!IsAnswerOk(answer)) {
    state_.CommandFailed = true;
    return -1;
  }
  return answer[0] * 256 + answer[1];
}

void CommandChannel::WriteRegisterVerified(uint8_t address, uint16_t value) {
  host_.ProcessMessages();
  if (state_.DeviceHandle == kNoHandle) {
    state_.CommandFailed = true;
    return;
  }
  uint16_t readBack = 0;
  for (int32_t attempt = 1;; ++attempt) {
    if (!SendCommand(C_Wrt_Reg, address, uint8_t(value >> 8), uint8_t(value & 0xFF))) {
      state_.CommandFailed = true;
      return;
    }
    host_.Sleep(kWriteSettleMs);
    // A failed read (-1) becomes 0xFFFF; the read itself has raised CommandFailed.
    readBack = uint16_t(ReadRegister(address) & 0xFFFF);
    if (readBack == value || attempt == RetryCount) break;
  }
  if (readBack != value) state_.CommandFailed = true;
}

}  // namespace korvel
