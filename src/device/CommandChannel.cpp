#include "device/CommandChannel.h"

#include "platform/Text.h"

namespace korvel {

CommandReport MakeReport(uint8_t code, uint8_t p1, uint8_t p2, uint8_t p3, uint8_t p4, uint8_t p5,
                         uint8_t p6, uint8_t p7) {
  return CommandReport{kReportId, code, p1, p2, p3, p4, p5, p6, p7};
}

Status CommandChannel::SendCommand(uint8_t code, uint8_t p1, uint8_t p2, uint8_t p3) {
  return Send(Say("command 0x{0}", HexText(code, 2)), code, p1, p2, p3);
}

Status CommandChannel::Send(const Phrase& what, uint8_t code, uint8_t p1, uint8_t p2, uint8_t p3) {
  if (state_.ActiveVid == 0 || state_.ActivePid == 0)
    return Status::Failed(Say("{0}: no RX open", what));
  CommandReport report = MakeReport(code, p1, p2, p3);
  if (!hid_.SendFeature(state_.DeviceHandle, report)) return hid_.Failed(what);
  return {};
}

Result<uint16_t> CommandChannel::ReadRegister(uint8_t address) {
  const Phrase what = Say("RX register {0} read", address);
  if (state_.DeviceHandle == kNoHandle) {
    state_.CommandFailed = true;
    return Status::Failed(Say("{0}: no RX open", what));
  }
  CommandAnswer answer{};
  for (int32_t attempt = 1;; ++attempt) {
    answer = MakeReport(C_Rd_Reg, address);
    if (!hid_.TransactFeature(state_.DeviceHandle, answer)) {
      // A refused transfer is not worth retrying: the device is gone or broken.
      state_.CommandFailed = true;
      return hid_.Failed(what);
    }
    host_.ProcessMessages();
    if (IsAnswerOk(answer) || attempt == RetryCount) break;
  }
  if (!IsAnswerOk(answer)) {
    state_.CommandFailed = true;
    return Status::Failed(Say("{0}: no valid answer in {1} tries", what, RetryCount));
  }
  return uint16_t(answer[0] * 256 + answer[1]);
}

Status CommandChannel::WriteRegisterVerified(uint8_t address, uint16_t value) {
  host_.ProcessMessages();
  const Phrase what = Say("RX register {0} write", address);
  if (state_.DeviceHandle == kNoHandle) {
    state_.CommandFailed = true;
    return Status::Failed(Say("{0}: no RX open", what));
  }
  Status readFailure;
  uint16_t readBack = 0;
  for (int32_t attempt = 1;; ++attempt) {
    Status sent = Send(what, C_Wrt_Reg, address, uint8_t(value >> 8), uint8_t(value & 0xFF));
    if (!sent) {
      state_.CommandFailed = true;
      return sent;
    }
    host_.Sleep(kWriteSettleMs);
    // A failed read (raising CommandFailed) counts as 0xFFFF.
    const Result<uint16_t> read = ReadRegister(address);
    if (!read && readFailure.Ok()) readFailure = read.status;
    readBack = read.value.value_or(0xFFFF);
    if (readBack == value || attempt == RetryCount) break;
  }
  if (readBack != value) {
    state_.CommandFailed = true;
    return Status::Failed(Say("RX register {0} read-back 0x{1} != 0x{2}", address,
                              HexText(readBack, 4), HexText(value, 4)));
  }
  return readFailure;
}

}  // namespace korvel
