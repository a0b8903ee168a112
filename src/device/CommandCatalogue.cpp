#include "device/CommandCatalogue.h"

namespace korvel {

bool CommandCatalogue::SendLocal(uint8_t code, uint8_t p1, uint8_t p2, uint8_t p3) {
  CommandReport report = MakeReport(code, p1, p2, p3);
  return ch_.Hid().SendFeature(ch_.State().DeviceHandle, report);
}

std::optional<CommandAnswer> CommandCatalogue::AskUntilOk(const CommandReport& request,
                                                          uint32_t waitMs) {
  for (int32_t attempt = 0; attempt < RetryCount; ++attempt) {
    CommandAnswer answer = request;
    ch_.Hid().TransactFeature(ch_.State().DeviceHandle, answer);
    if (waitMs) ch_.HostRef().Sleep(waitMs);
    ch_.HostRef().ProcessMessages();
    if (IsAnswerOk(answer)) return answer;
  }
  return std::nullopt;
}

int32_t CommandCatalogue::RfQuery(uint8_t code, uint8_t address) {
  DeviceState& s = ch_.State();
  if (!HaveDevice()) {
    s.CommandFailed = true;
    return -1;
  }
  Host& host = ch_.HostRef();
  const uint64_t start = host.TickCount();
  for (int32_t attempt = 1;; ++attempt) {
    CommandAnswer answer = MakeReport(code, kRfMarker, address);
    ch_.Hid().TransactFeature(s.DeviceHandle, answer);  // its result is not examined
    host.ProcessMessages();
    if (host.TickCount() - start > kRfQueryLimitMs) attempt = RetryCount;
    // An answer that arrives in the attempt in which time ran out still counts.
    if (IsAnswerOk(answer)) return answer[0];
    if (attempt >= RetryCount) {
      s.CommandFailed = true;
      return -1;
    }
  }
}

void CommandCatalogue::RfSend(uint8_t code, uint8_t a, uint8_t b) {
  if (!HaveDevice()) {
    ch_.State().CommandFailed = true;
    return;
  }
  ch_.HostRef().Sleep(kRfSendDelayMs);
  CommandReport report = MakeReport(code, kRfMarker, a, b);
  if (!ch_.Hid().SendFeature(ch_.State().DeviceHandle, report)) ch_.State().CommandFailed = true;
}

void CommandCatalogue::RfEepromWrite(uint8_t address, uint8_t data) {
  if (!HaveDevice()) return;
  Host& host = ch_.HostRef();
  bool mismatch = false;  // once set, stays set across the writes
  int polls = 0;
  int32_t readBack = -1;
  for (int attempt = 1; attempt <= kEepromMaxWrites; ++attempt) {
    RfSend(C_RF_Wrt_EEPROM, address, data);
    host.Sleep(kEepromConfirmWaitMs);
    polls = 0;
    for (;;) {
      host.ProcessMessages();
      ++polls;
      CommandAnswer answer{};
      answer[0] = kReportId;
      const bool fetched = ch_.Hid().ReceiveFeature(ch_.State().DeviceHandle, answer);
      host.ProcessMessages();
      if (fetched && IsAnswerOk(answer) && answer[4] == C_RF_Wrt_EEPROM && answer[5] == address)
        break;
      host.Sleep(kEepromReadBackWaitMs);
      readBack = RfQuery(C_RF_Rd_EEPROM, address);
      if (readBack == data) break;
      mismatch = true;
      if (polls > kEepromMaxPolls) break;
    }
    if (!mismatch) break;
  }
  if (polls > kEepromMaxPolls) ch_.State().CommandFailed = true;
  if (mismatch && readBack != data) ch_.State().CommandFailed = true;
}

std::optional<SpecialAnswer> CommandCatalogue::SpecialQuery(uint8_t selector) {
  if (!HaveDevice()) return std::nullopt;
  for (int32_t attempt = 0; attempt < RetryCount; ++attempt) {
    CommandAnswer answer = MakeReport(C_Rd_Direct_Reg, kSpecialQueryAddress, kRfMarker, selector);
    if (!ch_.Hid().TransactFeature(ch_.State().DeviceHandle, answer)) return std::nullopt;
    ch_.HostRef().ProcessMessages();
    if (IsAnswerOk(answer)) {
      SpecialAnswer bytes;
      std::copy_n(answer.begin(), kSpecialQueryBytes, bytes.begin());
      return bytes;
    }
  }
  return std::nullopt;
}

int32_t CommandCatalogue::ReadDirectRegister(uint8_t address) {
  if (!HaveDevice()) return -1;
  const auto answer = AskUntilOk(MakeReport(C_Rd_Direct_Reg, address), 0);
  if (!answer) {
    ch_.State().CommandFailed = true;
    return -1;
  }
  return (*answer)[0];
}

void CommandCatalogue::WriteDirectRegister(uint8_t address, uint8_t data) {
  if (!HaveDevice()) return;
  SendLocal(C_Wrt_Direct_Reg, address, data, 0);  // one send, no check
}

int32_t CommandCatalogue::ReadTransceiver(uint8_t address) {
  if (!HaveDevice()) {
    ch_.State().CommandFailed = true;
    return -1;
  }
  const auto answer = AskUntilOk(MakeReport(C_Rd_RFIC_TRX5120B, address), kTransceiverWaitMs);
  if (!answer) {
    ch_.State().CommandFailed = true;
    return -1;
  }
  return (*answer)[1];
}

void CommandCatalogue::WriteTransceiver(uint8_t address, uint8_t data) {
  if (!HaveDevice()) return;
  for (int32_t sends = 0; sends < RetryCount; ++sends) {
    const bool sent = SendLocal(C_Wrt_RFIC_TRX5120B, address, data, 0);
    ch_.HostRef().Sleep(kTransceiverWaitMs);
    ch_.HostRef().ProcessMessages();
    if (sent) return;
  }
  // Not one send got through: the RF power was not set, so the run must not pass.
  ch_.State().CommandFailed = true;
}

void CommandCatalogue::SetDeviceType(DeviceType type) {
  if (!HaveDevice()) return;
  SendLocal(C_Set_Device_Type, 0x3C, 0x5A, uint8_t(type));
}

void CommandCatalogue::JumpToPor() {
  if (!HaveDevice()) return;
  if (!SendLocal(C_JUMP_TO_POR, 0x55, 0xAA, 0xCC)) ch_.State().CommandFailed = true;
}

void CommandCatalogue::ReloadParameter() {
  if (!HaveDevice()) return;
  if (!SendLocal(C_RELOAD_PARAMETER, 0xCC, 0x33, 0x55)) ch_.State().CommandFailed = true;
}

std::optional<LinkStatus> CommandCatalogue::QueryLinkStatus() {
  if (!HaveDevice()) return std::nullopt;
  CommandAnswer answer = MakeReport(C_Get_Link_Status);
  if (!ch_.Hid().TransactFeature(ch_.State().DeviceHandle, answer)) return std::nullopt;
  if (answer[0] < 2 || answer[0] > 82) return std::nullopt;
  return LinkStatus{answer[0], {answer[1], answer[2]}};
}

bool CommandCatalogue::ProbeSensorLink(int attempts) {
  if (!HaveDevice()) return false;
  for (int i = 0; i < attempts; ++i) {
    CommandAnswer answer = MakeReport(C_RF_Rd_Sensor, kRfMarker, 0);
    ch_.Hid().TransactFeature(ch_.State().DeviceHandle, answer);
    ch_.HostRef().ProcessMessages();
    if (IsAnswerOk(answer)) return true;
  }
  return false;
}

std::optional<CommandAnswer> CommandCatalogue::LinkQueryAnswer() {
  if (!HaveDevice()) return std::nullopt;
  CommandAnswer answer = MakeReport(C_Get_Link_Status);
  if (!ch_.Hid().TransactFeature(ch_.State().DeviceHandle, answer)) return std::nullopt;
  return answer;
}

std::optional<uint8_t> CommandCatalogue::QueryBattery() {
  if (!HaveDevice()) return std::nullopt;
  CommandAnswer answer = MakeReport(C_Get_TX_Battery);
  if (!ch_.Hid().TransactFeature(ch_.State().DeviceHandle, answer)) return std::nullopt;
  if (answer[0] == 0 || !IsAnswerOk(answer)) return std::nullopt;
  return uint8_t(answer[1] & 0x0F);
}

void CommandCatalogue::StartSoftBind() {
  if (!HaveDevice()) return;
  SendLocal(C_Combo_Cmd, 0x00, 0x01, 0);
}

bool CommandCatalogue::ApplyCustomKeys() {
  if (!HaveDevice()) return false;
  return SendLocal(C_Combo_Cmd, 0x0B, 0, 0);
}

}  // namespace korvel
