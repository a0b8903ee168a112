#include "device/CommandCatalogue.h"

#include "platform/Text.h"

namespace korvel {

namespace {
std::string Hex(uint8_t value) {
  return "0x" + HexText(value, 2);
}

Status NoRx(const Phrase& what) {
  return Status::Failed(Say("{0}: no RX open", what));
}
}  // namespace

Phrase RfTargetName(uint8_t code, uint8_t address) {
  switch (code) {
    case C_RF_Wrt_EEPROM:
    case C_RF_Rd_EEPROM:
      return Say("TX EEPROM {0}", Hex(address));
    case C_RF_Wrt_Index_Reg:
    case C_RF_Rd_Index_Reg:
      return Say("TX index register {0}", Hex(address));
    case C_RF_Wrt_Direct_Reg:
    case C_RF_Rd_Direct_Reg:
      return Say("TX direct register {0}", Hex(address));
    case C_RF_Wrt_RFIC_TRX5120B:
    case C_RF_Rd_RFIC_TRX5120B:
      return Say("TX transceiver register {0}", Hex(address));
    case C_RF_Wrt_Sensor:
    case C_RF_Rd_Sensor:
      return Say("TX sensor register {0}", Hex(address));
    case C_RF_ENTER_ACCESS:
      return Say("TX access mode");
    case C_RF_LEAVE_ACCESS:
      return Say("TX access mode leave");
    case C_RF_SETUP_CPI:
      return Say("TX CPI set-up");
    default:
      return Say("TX command {0}", Hex(code));
  }
}

Status CommandCatalogue::SendLocal(const Phrase& what, uint8_t code, uint8_t p1, uint8_t p2,
                                   uint8_t p3) {
  CommandReport report = MakeReport(code, p1, p2, p3);
  if (!ch_.Hid().SendFeature(ch_.State().DeviceHandle, report)) return ch_.Hid().Failed(what);
  return {};
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

Result<uint8_t> CommandCatalogue::RfQuery(uint8_t code, uint8_t address) {
  DeviceState& s = ch_.State();
  const Phrase what = Say("{0} read", RfTargetName(code, address));
  if (!HaveDevice()) {
    s.CommandFailed = true;
    return NoRx(what);
  }
  Host& host = ch_.HostRef();
  const uint64_t start = host.TickCount();
  for (int32_t attempt = 1;; ++attempt) {
    CommandAnswer answer = MakeReport(code, kRfMarker, address);
    // Its result only explains a failure; the answer's status decides.
    const bool transferred = ch_.Hid().TransactFeature(s.DeviceHandle, answer);
    host.ProcessMessages();
    const bool outOfTime = host.TickCount() - start > kRfQueryLimitMs;
    if (outOfTime) attempt = RetryCount;
    // An answer that arrives in the attempt in which time ran out still counts.
    if (IsAnswerOk(answer)) return answer[0];
    if (attempt >= RetryCount) {
      s.CommandFailed = true;
      if (!transferred) return ch_.Hid().Failed(what);
      return Status::NoAnswer(outOfTime
                                  ? Say("{0}: no valid answer in {1} ms", what, kRfQueryLimitMs)
                                  : Say("{0}: no valid answer in {1} tries", what, RetryCount));
    }
  }
}

Status CommandCatalogue::RfSend(uint8_t code, uint8_t a, uint8_t b) {
  const Phrase what =
      code == C_RF_ENTER_ACCESS || code == C_RF_LEAVE_ACCESS || code == C_RF_SETUP_CPI
          ? RfTargetName(code, a)
          : Say("{0} write", RfTargetName(code, a));
  if (!HaveDevice()) {
    ch_.State().CommandFailed = true;
    return NoRx(what);
  }
  ch_.HostRef().Sleep(kRfSendDelayMs);
  CommandReport report = MakeReport(code, kRfMarker, a, b);
  if (!ch_.Hid().SendFeature(ch_.State().DeviceHandle, report)) {
    ch_.State().CommandFailed = true;
    return ch_.Hid().Failed(what);
  }
  return {};
}

Status CommandCatalogue::RfEepromWrite(uint8_t address, uint8_t data) {
  const Phrase what = Say("{0} write", RfTargetName(C_RF_Wrt_EEPROM, address));
  if (!HaveDevice()) return NoRx(what);
  Host& host = ch_.HostRef();
  Status firstFailure;  // of the sends and reads on the way, each raising CommandFailed
  auto note = [&](const Status& status) {
    if (!status && firstFailure) firstFailure = status;
  };
  bool mismatch = false;  // once set, stays set across the writes
  int polls = 0;
  Result<uint8_t> readBack;
  for (int attempt = 1; attempt <= kEepromMaxWrites; ++attempt) {
    note(RfSend(C_RF_Wrt_EEPROM, address, data));
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
      note(readBack.status);
      if (readBack.value == data) break;
      mismatch = true;
      if (polls > kEepromMaxPolls) break;
    }
    if (!mismatch) break;
  }
  if (polls > kEepromMaxPolls) {
    ch_.State().CommandFailed = true;
    return Status::Failed(Say("{0} not confirmed", what));
  }
  if (mismatch && readBack.value != data) {
    ch_.State().CommandFailed = true;
    if (!readBack) return readBack.status;
    return Status::Failed(Say("{0} read-back {1} != {2}", RfTargetName(C_RF_Wrt_EEPROM, address),
                              Hex(*readBack), Hex(data)));
  }
  return firstFailure;
}

Result<SpecialAnswer> CommandCatalogue::SpecialQuery(uint8_t selector) {
  const Phrase what = Say("special query {0}", selector);
  if (!HaveDevice()) return NoRx(what);
  for (int32_t attempt = 0; attempt < RetryCount; ++attempt) {
    CommandAnswer answer = MakeReport(C_Rd_Direct_Reg, kSpecialQueryAddress, kRfMarker, selector);
    if (!ch_.Hid().TransactFeature(ch_.State().DeviceHandle, answer)) return ch_.Hid().Failed(what);
    ch_.HostRef().ProcessMessages();
    if (IsAnswerOk(answer)) {
      SpecialAnswer bytes;
      std::copy_n(answer.begin(), kSpecialQueryBytes, bytes.begin());
      return bytes;
    }
  }
  return Status::Failed(Say("{0}: no valid answer in {1} tries", what, RetryCount));
}

Result<uint8_t> CommandCatalogue::ReadDirectRegister(uint8_t address) {
  const Phrase what = Say("RX direct register {0} read", Hex(address));
  if (!HaveDevice()) return NoRx(what);
  const auto answer = AskUntilOk(MakeReport(C_Rd_Direct_Reg, address), 0);
  if (!answer) {
    ch_.State().CommandFailed = true;
    return Status::Failed(Say("{0}: no valid answer in {1} tries", what, RetryCount));
  }
  return (*answer)[0];
}

Status CommandCatalogue::WriteDirectRegister(uint8_t address, uint8_t data) {
  const Phrase what = Say("RX direct register {0} write", Hex(address));
  if (!HaveDevice()) return NoRx(what);
  return SendLocal(what, C_Wrt_Direct_Reg, address, data, 0);  // one send, no check
}

Result<uint8_t> CommandCatalogue::ReadTransceiver(uint8_t address) {
  const Phrase what = Say("RX transceiver register {0} read", Hex(address));
  if (!HaveDevice()) {
    ch_.State().CommandFailed = true;
    return NoRx(what);
  }
  const auto answer = AskUntilOk(MakeReport(C_Rd_RFIC_TRX5120B, address), kTransceiverWaitMs);
  if (!answer) {
    ch_.State().CommandFailed = true;
    return Status::Failed(Say("{0}: no valid answer in {1} tries", what, RetryCount));
  }
  return (*answer)[1];
}

Status CommandCatalogue::WriteTransceiver(uint8_t address, uint8_t data) {
  const Phrase what = Say("RX transceiver register {0} write", Hex(address));
  if (!HaveDevice()) return NoRx(what);
  Status sent;
  for (int32_t sends = 0; sends < RetryCount; ++sends) {
    sent = SendLocal(what, C_Wrt_RFIC_TRX5120B, address, data, 0);
    ch_.HostRef().Sleep(kTransceiverWaitMs);
    ch_.HostRef().ProcessMessages();
    if (sent) return sent;
  }
  // Not one send got through: the RF power was not set, so the run must not pass.
  ch_.State().CommandFailed = true;
  return sent;
}

Status CommandCatalogue::SetDeviceType(DeviceType type) {
  if (!HaveDevice()) return NoRx(Say("device type"));
  return SendLocal(Say("device type"), C_Set_Device_Type, 0x3C, 0x5A, uint8_t(type));
}

Status CommandCatalogue::JumpToPor() {
  if (!HaveDevice()) return NoRx(Say("RX jump to POR"));
  Status sent = SendLocal(Say("RX jump to POR"), C_JUMP_TO_POR, 0x55, 0xAA, 0xCC);
  if (!sent) ch_.State().CommandFailed = true;
  return sent;
}

Status CommandCatalogue::ReloadParameter() {
  if (!HaveDevice()) return NoRx(Say("RX reload"));
  Status sent = SendLocal(Say("RX reload"), C_RELOAD_PARAMETER, 0xCC, 0x33, 0x55);
  if (!sent) ch_.State().CommandFailed = true;
  return sent;
}

Result<LinkStatus> CommandCatalogue::QueryLinkStatus() {
  const Result<CommandAnswer> answer = LinkQueryAnswer();
  if (!answer) return answer.status;
  const CommandAnswer& a = *answer;
  if (a[0] < 2 || a[0] > 82) return Status::Failed(Say("link query: no link (channel {0})", a[0]));
  return LinkStatus{a[0], {a[1], a[2]}};
}

Status CommandCatalogue::ProbeSensorLink(int attempts) {
  if (!HaveDevice()) return NoRx(Say("sensor probe"));
  for (int i = 0; i < attempts; ++i) {
    CommandAnswer answer = MakeReport(C_RF_Rd_Sensor, kRfMarker, 0);
    ch_.Hid().TransactFeature(ch_.State().DeviceHandle, answer);
    ch_.HostRef().ProcessMessages();
    if (IsAnswerOk(answer)) return {};
  }
  return Status::NoAnswer(Say("sensor probe: no answer from the TX in {0} tries", attempts));
}

Result<CommandAnswer> CommandCatalogue::LinkQueryAnswer() {
  if (!HaveDevice()) return NoRx(Say("link query"));
  CommandAnswer answer = MakeReport(C_Get_Link_Status);
  if (!ch_.Hid().TransactFeature(ch_.State().DeviceHandle, answer))
    return ch_.Hid().Failed(Say("link query"));
  return answer;
}

Result<uint8_t> CommandCatalogue::QueryBattery() {
  if (!HaveDevice()) return NoRx(Say("battery query"));
  CommandAnswer answer = MakeReport(C_Get_TX_Battery);
  if (!ch_.Hid().TransactFeature(ch_.State().DeviceHandle, answer))
    return ch_.Hid().Failed(Say("battery query"));
  if (answer[0] == 0 || !IsAnswerOk(answer))
    return Status::Failed(Say("battery query: no valid answer"));
  return uint8_t(answer[1] & 0x0F);
}

Status CommandCatalogue::StartSoftBind() {
  if (!HaveDevice()) return NoRx(Say("bind start"));
  return SendLocal(Say("bind start"), C_Combo_Cmd, 0x00, 0x01, 0);
}

Status CommandCatalogue::ApplyCustomKeys() {
  if (!HaveDevice()) return NoRx(Say("custom key update"));
  return SendLocal(Say("custom key update"), C_Combo_Cmd, 0x0B, 0, 0);
}

}  // namespace korvel
