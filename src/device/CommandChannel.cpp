#include "device/CommandChannel.h"

#include "platform/Text.h"

namespace korvel {

CommandReport MakeReport(uint8_t code, uint8_t p1, uint8_t p2, uint8_t p3, uint8_t p4, uint8_t p5,
                         uint8_t p6, uint8_t p7) {
  return CommandReport{kReportId, code, p1, p2, p3, p4, p5, p6, p7};
}

DeviceStatus CommandChannel::SendCommand(uint8_t code, uint8_t p1, uint8_t p2, uint8_t p3) {
  return Send("command 0x" + HexText(code, 2), code, p1, p2, p3);
}

DeviceStatus CommandChannel::Send(const std::string& what, uint8_t code, uint8_t p1, uint8_t p2,
                                  uint8_t p3) {
  if (state_.ActiveVid == 0 || state_.ActivePid == 0)
    return DeviceStatus::Failed(what + ": no RX open");
  CommandReport report = MakeReport(code, p1, p2, p3);
  if (!hid_.SendFeature(state_.DeviceHandle, report)) return hid_.Failed(what);
  return {};
}

DeviceResult<uint16_t> CommandChannel::ReadRegister(uint8_t address) {
  const std::string what = "RX register " + std::to_string(address) + " read";
  if (state_.DeviceHandle == kNoHandle) {
    state_.CommandFailed = true;
    return DeviceStatus::Failed(what + ": no RX open");
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
    return DeviceStatus::Failed(what + ": no valid answer in " + std::to_string(RetryCount) +
                                " tries");
  }
  return uint16_t(answer[0] * 256 + answer[1]);
}

DeviceStatus CommandChannel::WriteRegisterVerified(uint8_t address, uint16_t value) {
  host_.ProcessMessages();
  const std::string what = "RX register " + std::to_string(address);
  if (state_.DeviceHandle == kNoHandle) {
    state_.CommandFailed = true;
    return DeviceStatus::Failed(what + " write: no RX open");
  }
  DeviceStatus readFailure;
  uint16_t readBack = 0;
  for (int32_t attempt = 1;; ++attempt) {
    DeviceStatus sent =
        Send(what + " write", C_Wrt_Reg, address, uint8_t(value >> 8), uint8_t(value & 0xFF));
    if (!sent) {
      state_.CommandFailed = true;
      return sent;
    }
    host_.Sleep(kWriteSettleMs);
    // A failed read (raising CommandFailed) counts as 0xFFFF.
    const DeviceResult<uint16_t> read = ReadRegister(address);
    if (!read && readFailure.Ok()) readFailure = read.status;
    readBack = read.value.value_or(0xFFFF);
    if (readBack == value || attempt == RetryCount) break;
  }
  if (readBack != value) {
    state_.CommandFailed = true;
    return DeviceStatus::Failed(what + " read-back 0x" + HexText(readBack, 4) + " != 0x" +
                                HexText(value, 4));
  }
  return readFailure;
}

}  // namespace korvel
