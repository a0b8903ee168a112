#include "production/UnitProgrammer.h"

#include "config/HotKeys.h"
#include "platform/Text.h"

namespace korvel {

namespace {
constexpr uint8_t kTxSerialAddress = 0x78;
constexpr uint8_t kRxSerialRegister = 60;
const uint8_t kTxIdAddress[6] = {0x0C, 0x0D, 0x0E, 0x08, 0x09, 0x0A};
const uint8_t kRxIdRegister[6] = {0, 1, 2, 51, 52, 53};
constexpr uint8_t kTxIdCheckA = 0x0F, kTxIdCheckB = 0x0B;
constexpr int kLinkRounds = 20;
const uint8_t kKeyboardBindRegisters[6] = {43, 44, 45, 48, 49, 50};
constexpr uint8_t kTransceiverPowerRegister = 1;
constexpr uint8_t kFullPower = 0x1B;
}  // namespace

uint8_t RfPowerValue(int itemIndex) {
  static const uint8_t values[] = {27, 19, 11, 3};
  return itemIndex >= 0 && itemIndex < 4 ? values[itemIndex] : values[3];
}

void StageTxSettings(StagingTables& t, const Settings& s) {
  auto stage = [&](TxOption option) {
    StageTxPair(t, TxOptionPair(option).address, TxOptionPair(option).value);
  };
  stage(s.AutoBind ? TxOption::AutoBindEnabled : TxOption::AutoBindDisabled);
  stage(s.SoftISS ? TxOption::CpiSwitchEnabled : TxOption::CpiSwitchDisabled);
  stage(s.PowerSaving == 0   ? TxOption::PowerSavingOff
        : s.PowerSaving == 1 ? TxOption::PowerSavingWakeLRM
                             : TxOption::PowerSavingWakeLink);
  // 0x20 is the firmware's default; the option is bit 2 of it.
  const uint8_t lrmBase = 0x20, lrmOption = 0x04;
  StageTxPair(t, kLrmBindingAddress, s.LRMBinding ? lrmBase | lrmOption : lrmBase & ~lrmOption);
  t.TxEepromImage[kSensorSelectAddress] = s.Enabled3204L ? 0xB2 : 0xFF;
  t.TxEepromImage[kSensorSelectAddress + 1] = 0x4D;
  stage(s.Wakeup == 0 ? TxOption::WakeOnMoveAndKeys : TxOption::WakeOnKeysOnly);
}

void StageBatteryLevel(StagingTables& t, int itemIndex, int32_t register47) {
  const uint8_t level = BatteryLevelValue(itemIndex);
  StageTxPair(t, kBatteryLevelAddress, level);
  // Bits 0 to 4 of the register belong to the RX; only the level bits are ours.
  StageRxByte(t, kBatteryLevelRegister, uint8_t(level | ((register47 >> 8) & 0x1F)));
}

void StageLinkIds(StagingTables& t, uint32_t a, uint32_t b, uint8_t bytes[6]) {
  const uint64_t both = uint64_t(a) << 24 | b;
  for (int p = 0; p < 6; ++p) bytes[p] = uint8_t(both >> (8 * (5 - p)));
  bytes[0] |= 0x80;
  bytes[3] |= 0x80;
  for (int p = 0; p < 6; ++p) {
    t.TxEepromImage[kTxIdAddress[p]] = bytes[p];
    StageRxByte(t, kRxIdRegister[p], bytes[p]);
  }
  t.TxEepromImage[kTxIdCheckA] = bytes[0] ^ bytes[1] ^ bytes[2] ^ 0xFF;
  t.TxEepromImage[kTxIdCheckB] = bytes[3] ^ bytes[4] ^ bytes[5] ^ 0xFF;
}

void StageRxKind(StagingTables& t, bool mouseOnly) {
  t.RxRegisterImage[kRxTypeRegister] = mouseOnly ? EepromWord(0x5A) : 0xFFFF;
}

void StagePeriods(StagingTables& t, int sleep, int wakeup) {
  StageRxByte(t, kSleepPeriodRegister, uint8_t(sleep));
  StageRxByte(t, kWakeupPeriodRegister, uint8_t(wakeup));
}

RunResult UnitProgrammer::Run(const Settings& s, const UnitNumbers& unit, RunObserver& o) {
  RunResult result;
  if (running_) {
    result.failedStep = Say("a Set TX run is already going on");
    return result;
  }
  // A name the unit cannot take stops the run before anything is staged or sent: a unit with
  // its mouse written and its dongle not is worse than one not touched.
  DescriptorText name = ProductNameBytes(s.PName);
  if (!name.problem.empty()) {
    result.stage = RunStage::Refused;
    result.failedStep = std::move(name.problem);
    return result;
  }
  productName_ = std::move(name.bytes);
  running_ = true;
  // 1. Start clean.
  staging_.StagingMode = kStagingRun;
  link_.ClearCommandFailed();
  failure_ = {};
  Stage(Say("start"));
  // Binds from now on are recognised the way this run's product binds.
  watch_.SetKeyboardBindMode(s.KBind && !s.MouseOnly);
  staging_.Clear();
  // Fields the run needs later are checked before anything reaches a device.
  for (const auto& [name, text] : {std::pair{"VID", &s.VidSet}, std::pair{"PID", &s.PidSet}}) {
    const auto n = HexFieldNumber(*text);
    if (!n || *n > 0xFFFF)
      Check(Status::Failed(Say("{0} '{1}' is not a hexadecimal value", name, *text)));
  }
  if (!link_.HaveRx()) Check(Status::Failed(Say("no RX open")));

  bool passed = false;
  if (Ok() && WriteTx(s, unit, result, o) && WriteRx(s, unit, result, o) && AwaitLink(o)) {
    // 12. The unit answers with its new identity.
    o.Progress(20);
    passed = true;
    if (s.KBind && !s.MouseOnly) {
      Stage(Say("keyboard bind"));
      o.PhaseShown(RunObserver::Phase::Wait);
      passed = BindKeyboard();
      if (!passed)
        Check(Status::Failed(Say("keyboard bind did not settle (RX registers 43-45, 48-50)")));
    }
  } else if (Ok()) {
    Check(Status::Failed(Say("link not back after reload")));
  }
  result.pass = passed && link_.HaveRx();
  result.stage = result.pass ? RunStage::Passed : RunStage::Device;
  if (passed && !result.pass) Check(Status::Failed(Say("RX closed before the end of the run")));
  if (!result.pass) result.failedStep = Reason();
  End(s, result);
  running_ = false;
  return result;
}

bool UnitProgrammer::Check(const Status& status) {
  if (!status.Ok() && failure_.Ok()) failure_ = status;
  return status.Ok() && failure_.Ok();
}

Phrase UnitProgrammer::Reason() {
  Status cause = failure_;
  if (cause.Ok()) return Say("{0} failed", stage_);
  // A silent TX and an RX that answers nothing valid look alike to a relayed read; one link
  // query tells them apart.
  if (cause.noAnswer && link_.HaveRx())
    cause.failure = link_.QueryLinkStatus()
                        ? Say("{0} (the RX answers its link query: the TX is off or out of range)",
                              cause.failure)
                        : Say("{0} (the RX does not answer its link query either)", cause.failure);
  return cause.failure;
}

bool UnitProgrammer::WriteTx(const Settings& s, const UnitNumbers& unit, RunResult& result,
                             RunObserver& o) {
  // 2. Access and RF power.
  Stage(Say("RF power"));
  if (!Check(link_.TxEnterAccess(false))) return false;
  host_.Sleep(50);
  if (link_.HaveRx() && !Check(link_.WriteByte(RegisterSpace::RxTransceiver,
                                               kTransceiverPowerRegister, RfPowerValue(s.RFPower))))
    return false;
  if (!Check(link_.TxEnterAccess(false))) return false;
  host_.Sleep(50);
  o.Progress(1);
  // 3. The sensor is read once per program run; a failed read is not remembered.
  if (sensorByte_ == 0) {
    Stage(Say("sensor"));
    if (link_.HaveRx()) {
      const Result<uint8_t> id = link_.ReadByte(RegisterSpace::TxSensor, 0);
      if (!Check(id.status)) return false;
      sensorByte_ = *id == 0x11 || *id == 0x29 ? 0x91 : 0x9D;
    } else {
      sensorByte_ = 0x9D;
    }
  }
  // 4. The mouse's settings; CPI goes to the mouse at once.
  Stage(Say("TX settings"));
  StageTxSettings(staging_, s);
  if (link_.HaveRx() && !Check(link_.TxSetupCpi(s.CPI == 0 ? 0 : 1))) return false;
  const Result<uint16_t> register47 = link_.ReadRegister(kBatteryLevelRegister);
  if (!Check(register47.status)) return false;
  StageBatteryLevel(staging_, s.BTY, *register47);
  o.Progress(2);
  // 5. TX serial.
  if (unit.txSerialOn) {
    result.txSerial = unit.txSerialText;
    o.TxSerialShown(unit.txSerialText);
    for (int j = 0; j < 6; ++j)
      staging_.TxEepromImage[kTxSerialAddress + j] = unit.txSerial[size_t(j)];
    staging_.TxEepromImage[kTxSerialAddress + 6] = 0xFF;
    staging_.TxEepromImage[kTxSerialAddress + 7] = 0xFF;
  }
  // 6. Link IDs.
  result.rxId = unit.rxId;
  result.txId = unit.txId;
  StageLinkIds(staging_, unit.rxId, unit.txId, idBytes_);
  o.LinkIdShown(HexText(idBytes_[0], 2) + HexText(idBytes_[1], 2) + HexText(idBytes_[2], 2));
  // 7. The TX EEPROM, in address order.
  Stage(Say("TX EEPROM"));
  if (!Check(link_.TxEnterAccess(false))) return false;
  host_.Sleep(50);
  for (int address = 0; address < int(kTxEepromSize); ++address) {
    const int32_t value = staging_.TxEepromImage[size_t(address)];
    if (value == kNotStaged) continue;
    if (link_.HaveRx() &&
        !Check(link_.WriteByte(RegisterSpace::TxEeprom, uint8_t(address), uint8_t(value))))
      return false;
    o.Progress(address / 25 + 3);
  }
  return Ok();
}

bool UnitProgrammer::WriteRx(const Settings& s, const UnitNumbers& unit, RunResult& result,
                             RunObserver& o) {
  // 8. The mouse takes its new settings; then the RX's side is staged. It drops off the air
  // while it reloads, so the reload's own answer says nothing.
  Stage(Say("TX reload"));
  for (int i = 0; i < 2; ++i) {
    if (link_.HaveRx()) (void)link_.TxFastReload();
    host_.Sleep(50);
  }
  link_.ClearCommandFailed();
  Stage(Say("RX settings"));
  StageRxByte(staging_, kSensorByteRegister, sensorByte_);
  StageRxKind(staging_, s.MouseOnly);
  for (int key = 1; key <= 2; ++key)
    if (StageCustomKey(staging_, key, key == 1 ? s.CustKey1 : s.CustKey2) &&
        !Check(link_.ApplyCustomKeys()))
      return false;
  const int64_t vid = HexFieldNumber(s.VidSet).value_or(0);
  const int64_t pid = HexFieldNumber(s.PidSet).value_or(0);
  if (vid >= 1 && pid >= 1) {
    if (link_.HaveRx()) {
      StageVid(staging_, uint16_t(vid));
      StagePid(staging_, uint16_t(pid));
      const uint8_t bytes[4] = {uint8_t(vid >> 8), uint8_t(vid), uint8_t(pid >> 8), uint8_t(pid)};
      for (int i = 0; i < 4; ++i) o.RegisterStaged(uint8_t(15 + i), bytes[i]);
    }
  } else {
    for (int reg = 15; reg <= 18; ++reg) staging_.RxRegisterImage[size_t(reg)] = kNotStaged;
    o.VidPidCleared();
  }
  if (!std::string(TrimBlanks(s.PName)).empty()) {
    if (link_.HaveRx()) {
      StageString(staging_, productName_);
      o.RegisterStaged(kStringLengthRegister, uint8_t(2 * productName_.size() + 2));
    }
  } else {
    staging_.RxRegisterImage[kStringLengthRegister] = kNotStaged;
  }
  // 9. RX serial.
  if (unit.rxSerialOn) {
    result.rxSerial = unit.rxSerialText;
    o.RxSerialShown(unit.rxSerialText);
    for (int k = 0; k < 3; ++k)
      staging_.RxRegisterImage[kRxSerialRegister + k] =
          unit.rxSerial[size_t(2 * k)] << 8 | unit.rxSerial[size_t(2 * k + 1)];
  }
  // 10. The RX's ID bytes and periods, then every staged register, verified.
  for (int p = 0; p < 6; ++p) StageRxByte(staging_, kRxIdRegister[p], idBytes_[p]);
  StagePeriods(staging_, s.Sleep, s.WakeupPeriod);
  Stage(Say("RX registers"));
  for (int reg = 0; reg < int(kRxRegisterCount); ++reg) {
    const int32_t word = staging_.RxRegisterImage[size_t(reg)];
    if (word == kNotStaged) continue;
    if (!Check(link_.WriteRegisterVerified(uint8_t(reg), uint16_t(word)))) return false;
    o.Progress(reg / 6 + 9);
  }
  return Ok();
}

bool UnitProgrammer::AwaitLink(RunObserver& o) {
  // 11. Both reload; the link must come back with the new identity.
  Stage(Say("reload"));
  o.Progress(19);
  for (int i = 0; i < 2; ++i) {
    if (link_.HaveRx() && !Check(link_.ReloadParameter())) return false;
    host_.Sleep(100);
  }
  o.PhaseShown(RunObserver::Phase::Move);
  Stage(Say("link"));
  for (int round = 0; round < kLinkRounds; ++round)
    for (int check = 0; check < 2; ++check)
      if (watch_.CheckTx()) return Ok();
  return false;
}

bool UnitProgrammer::BindKeyboard() {
  watch_.Connect();
  bool settled = false;
  while (!settled && watch_.Binding() && link_.HaveRx()) {
    settled = true;
    for (uint8_t reg : kKeyboardBindRegisters) {
      const Result<uint16_t> word = link_.ReadRegister(reg);
      settled &= word && ((*word >> 8) ^ 0xFF) == (*word & 0xFF);
    }
    if (settled) break;
    host_.Sleep(100);
    host_.ProcessMessages();
  }
  return settled;
}

void UnitProgrammer::End(const Settings& s, RunResult& result) {
  // 13. A passed unit goes back to full RF power when asked to. The unit was verified at the
  // run's power; a reset that does not go through leaves it there, which is not a failure.
  if (result.pass && s.ResetRF && s.RFPower != 0) {
    Stage(Say("RF power reset"));
    (void)link_.TxEnterAccess(false);
    host_.Sleep(50);
    if (link_.HaveRx())
      (void)link_.WriteByte(RegisterSpace::TxTransceiver, kTransceiverPowerRegister, kFullPower);
    host_.Sleep(20);
    if (link_.HaveRx())
      (void)link_.WriteByte(RegisterSpace::RxTransceiver, kTransceiverPowerRegister, kFullPower);
  }
  // Leaving access mode ends the session whatever came before; there is nothing to retry.
  if (link_.HaveRx()) (void)link_.TxLeaveAccess();
  host_.Sleep(50);
  staging_.StagingMode = kStagingIdle;
}

}  // namespace korvel
