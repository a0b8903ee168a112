// One unit end to end: the Set TX run that stages and writes both devices, the Go run that
// times it and hands the result on, and the erase actions of the serial panel.
#include <cstdio>

#include "connection/Station.h"
#include "platform/ProcessControl.h"
#include "platform/Text.h"
#include "ui/HexField.h"

namespace korvel {

namespace {
constexpr uint8_t kTxSerialAddress = 0x78;
constexpr uint8_t kRxSerialRegister = 60;
const uint8_t kTxIdAddress[6] = {0x0C, 0x0D, 0x0E, 0x08, 0x09, 0x0A};
const uint8_t kRxIdRegister[6] = {0, 1, 2, 51, 52, 53};
constexpr uint8_t kTxIdCheckA = 0x0F, kTxIdCheckB = 0x0B;
constexpr int kLinkRounds = 20;
const uint8_t kKeyboardBindRegisters[6] = {43, 44, 45, 48, 49, 50};

// The option buttons in the order the run stages them (the checked one of each group).
const char* const kAutoConnect[] = {"rbRF_DR_5A", "rbRF_DR_55"};
const char* const kCpiSwitch[] = {"rbRF_DR_15", "rbRF_DR_1A"};
const char* const kPowerSaving[] = {"rbRF_DR_45", "rbRF_DR_4A", "rbRF_DR_4F"};
const char* const kWakeup[] = {"rbRF_DR_25", "rbRF_DR_2A"};
}  // namespace

std::string RunTimeText(uint64_t ms) {
  return std::to_string(ms / 1000) + "." + std::to_string(ms % 1000);
}

void Station::Progress(int position) {
  view_["pbSetTX"].value = position;
  Paint();
}

void Station::btnSetTXClick() {
  if (SetTxRunning) return;
  SetTxRunning = true;
  // 1. Start clean.
  staging_.StagingMode = kStagingRun;
  view_["lblResult"].text.clear();
  view_["Image1"].visible = false;
  RunPassed = false;
  device_.CommandFailed = false;
  runAborted_ = false;
  LastIdA = LastIdB = 0;  // none drawn yet (0 is never a link ID)
  // Binds from now on are recognised the way this run's product binds.
  KeyboardBindMode = view_["cbKeyboardbind"].checked && view_["rbKbdMse"].checked;
  staging_.Clear();
  // Fields the run needs later are checked before anything reaches a device.
  for (const char* field : {"edtVID_SET", "edtPID_SET"})
    if (!FieldWord(field)) runAborted_ = true;
  if (!HaveRx()) device_.CommandFailed = true;

  uint8_t idBytes[6] = {};
  // 2. to 7.: the mouse.
  if (Ok() && SetTxStageAndWriteTx(idBytes) && SetTxStageAndWriteRx(idBytes) && SetTxAwaitLink()) {
    // 12. The unit answers with its new identity.
    Progress(20);
    RunPassed = true;
    if (view_["cbKeyboardbind"].checked && view_["rbKbdMse"].checked) {
      view_["lblResult"].text = "Wait";
      view_["Image2"].visible = true;
      Paint();
      btnCombo_Cmd_Soft_Bind_SWClick();
      bool settled = false;
      while (!settled && softBind_->Enabled() && HaveRx()) {
        settled = true;
        for (uint8_t reg : kKeyboardBindRegisters) {
          const int32_t word = channel_.ReadRegister(reg);
          settled &= word >= 0 && ((word >> 8) ^ 0xFF) == (word & 0xFF);
        }
        if (settled) break;
        env_.host.Sleep(100);
        env_.host.ProcessMessages();
      }
      RunPassed = settled;
    }
  }
  SetTxEnd();
  SetTxRunning = false;
}

bool Station::SetTxStageAndWriteTx(uint8_t idBytes[6]) {
  // 2. Access and RF power.
  commands_.RfEnterAccess(false);
  env_.host.Sleep(50);
  view_["edtRFICAddr"].text = HexFieldText(1);
  view_["edtRFICData"].text = HexFieldText(RfPowerValue(view_["ComboRFPower"].itemIndex));
  btnWrt_RFICClick();
  commands_.RfEnterAccess(false);
  env_.host.Sleep(50);
  Progress(1);
  if (!Ok()) return false;
  // 3. The sensor is read once per program run; a failed read is not remembered.
  if (SensorByte == 0) {
    view_["edtRF_SensorAddr"].text = HexFieldText(0);
    RfRead("Sensor");
    if (!Ok()) return false;
    const auto id = HexFieldNumber(view_["edtRF_SensorData"].text);
    SensorByte = id && (*id == 0x11 || *id == 0x29) ? 0x91 : 0x9D;
  }
  // 4. The mouse's settings, through the controls' own handlers.
  auto stageChecked = [this](const auto& group) {
    for (const char* button : group)
      if (view_[button].checked) OptionClick(button);
  };
  stageChecked(kAutoConnect);
  stageChecked(kCpiSwitch);
  CpiClick();
  stageChecked(kPowerSaving);
  LRMBindingClick();
  Call3204LClick();
  stageChecked(kWakeup);
  cbRF_Set_BTY_Low_LevelChange();
  Progress(2);
  if (!Ok()) return false;
  // 5. TX serial.
  if (generators_.TxSN.IsSN()) {
    view_["edtTX_SN"].text = generators_.TxSN.GetSNText();
    for (int j = 0; j < 6; ++j)
      staging_.TxEepromImage[kTxSerialAddress + j] = generators_.TxSN.GetSNByte(j);
    staging_.TxEepromImage[kTxSerialAddress + 6] = 0xFF;
    staging_.TxEepromImage[kTxSerialAddress + 7] = 0xFF;
  }
  // 6. Link IDs. On a clash the TX side takes the next acceptable ID, never a reserved one.
  LastIdA = uint32_t(generators_.RxRFID.NextRFID()) & 0xFFFFFF;
  LastIdB = TxLinkIdFor(LastIdA, uint32_t(generators_.TxRFID.NextRFID()) & 0xFFFFFF);
  const uint64_t both = uint64_t(LastIdA) << 24 | LastIdB;
  for (int p = 0; p < 6; ++p) idBytes[p] = uint8_t(both >> (8 * (5 - p)));
  idBytes[0] |= 0x80;
  idBytes[3] |= 0x80;
  for (int p = 0; p < 6; ++p) {
    staging_.TxEepromImage[kTxIdAddress[p]] = idBytes[p];
    StageRxByte(staging_, kRxIdRegister[p], idBytes[p]);
  }
  staging_.TxEepromImage[kTxIdCheckA] = idBytes[0] ^ idBytes[1] ^ idBytes[2] ^ 0xFF;
  staging_.TxEepromImage[kTxIdCheckB] = idBytes[3] ^ idBytes[4] ^ idBytes[5] ^ 0xFF;
  view_["edtMseDongleAddr"].text =
      HexText(idBytes[0], 2) + HexText(idBytes[1], 2) + HexText(idBytes[2], 2);
  Paint();
  // 7. The TX EEPROM, in address order, through the page's write.
  commands_.RfEnterAccess(false);
  env_.host.Sleep(50);
  for (int address = 0; address < int(kTxEepromSize) && Ok(); ++address) {
    const int32_t value = staging_.TxEepromImage[size_t(address)];
    if (value == kNotStaged) continue;
    view_["edtRF_EEPROMAddr"].text = HexFieldText(address);
    view_["edtRF_EEPROMData"].text = HexFieldText(value);
    RfWrite("EEPROM");
    Progress(address / 25 + 3);
  }
  return Ok();
}

bool Station::SetTxStageAndWriteRx(const uint8_t idBytes[6]) {
  // 8. The mouse takes its new settings; then the RX's side is staged.
  for (int i = 0; i < 2; ++i) {
    RfDirectAction("3D");
    env_.host.Sleep(50);
  }
  device_.CommandFailed = false;  // the mouse drops off the air while it reloads
  StageRxByte(staging_, kSensorByteRegister, SensorByte);
  RxTypeClick();
  if (!Ok()) return false;
  CustKeyChange(1);
  if (!Ok()) return false;
  CustKeyChange(2);
  if (!Ok()) return false;
  const int64_t vid = HexFieldNumber(view_["edtVID_SET"].text).value_or(0);
  const int64_t pid = HexFieldNumber(view_["edtPID_SET"].text).value_or(0);
  if (vid >= 1 && pid >= 1) {
    IdWrite("VID");
    IdWrite("PID");
  } else {
    for (int reg = 15; reg <= 18; ++reg) staging_.RxRegisterImage[size_t(reg)] = kNotStaged;
    view_["edtVID_SET"].text.clear();
    view_["edtPID_SET"].text.clear();
  }
  if (!std::string(TrimBlanks(view_["edtEEPROM_20"].text)).empty())
    StringWrite();
  else
    staging_.RxRegisterImage[kStringLengthRegister] = kNotStaged;
  // 9. RX serial.
  if (generators_.RxSN.IsSN()) {
    view_["edtRX_SN"].text = generators_.RxSN.GetSNText();
    for (int k = 0; k < 3; ++k)
      staging_.RxRegisterImage[kRxSerialRegister + k] =
          generators_.RxSN.GetSNByte(2 * k) << 8 | generators_.RxSN.GetSNByte(2 * k + 1);
  }
  // 10. The RX's ID bytes and periods, then every staged register, verified.
  for (int p = 0; p < 6; ++p) StageRxByte(staging_, kRxIdRegister[p], idBytes[p]);
  StagePeriods();
  Paint();
  for (int reg = 0; reg < int(kRxRegisterCount) && Ok(); ++reg) {
    const int32_t word = staging_.RxRegisterImage[size_t(reg)];
    if (word == kNotStaged) continue;
    channel_.WriteRegisterVerified(uint8_t(reg), uint16_t(word));
    Progress(reg / 6 + 9);
  }
  return Ok();
}

bool Station::SetTxAwaitLink() {
  // 11. Both reload; the link must come back with the new identity.
  Progress(19);
  for (int i = 0; i < 2; ++i) {
    if (HaveRx()) commands_.ReloadParameter();
    env_.host.Sleep(100);
  }
  view_["lblResult"].text = "Move";
  view_["lblResult"].color = "green";
  Paint();
  for (int round = 0; round < kLinkRounds; ++round) {
    for (int check = 0; check < 2; ++check) {
      TxStatusCheck();
      if (view_["ledTX"].checked && view_["edtTX"].text == "Mouse TX Ready") return Ok();
    }
  }
  return false;
}

void Station::SetTxEnd() {
  // 13. PASS commits the numbering and saves it before PASS is shown.
  bool pass = RunPassed && HaveRx();
  if (pass) {
    if (generators_.RxSN.IsSN() && generators_.RxSN.IncSNByteCount() > 0) generators_.RxSN.Commit();
    if (generators_.TxSN.IsSN() && generators_.TxSN.IncSNByteCount() > 0) generators_.TxSN.Commit();
    if (!generators_.RxRFID.IsRandom()) generators_.RxRFID.Commit(int32_t(LastIdA));
    if (!generators_.TxRFID.IsRandom()) generators_.TxRFID.Commit(int32_t(LastIdB));
    RefreshSerialPanel();
    std::string error;
    if (WriteSettings(IniPath(), SettingsFromView(), generators_, false, error) !=
        WriteResult::Written) {
      // The unit is good, but a restart would hand its numbers out again: stop the line.
      pass = RunPassed = false;
      ui_.ShowMessage(
          "dlgError", "Message",
          "The unit was written, but its serial numbers and IDs could not be saved to " +
              IniPath().string() + ": " + error +
              "\nDo not ship this unit; fix the file and run it again.");
    }
    if (view_["cbResetRF"].checked && view_["ComboRFPower"].itemIndex != 0) {
      commands_.RfEnterAccess(false);
      env_.host.Sleep(50);
      view_["edtRF_RFICAddr"].text = HexFieldText(1);
      view_["edtRF_RFICData"].text = HexFieldText(0x1B);
      RfWrite("RFIC");
      env_.host.Sleep(20);
      view_["edtRFICAddr"].text = HexFieldText(1);
      view_["edtRFICData"].text = HexFieldText(0x1B);
      btnWrt_RFICClick();
    }
  } else {
    RunPassed = false;
  }
  view_["lblResult"].text = pass ? "PASS" : "FAIL";
  view_["lblResult"].color = pass ? "blue" : "red";
  if (HaveRx()) commands_.RfLeaveAccess();
  env_.host.Sleep(50);
  view_["Image2"].visible = false;
  view_["Image1"].visible = true;
  staging_.StagingMode = kStagingIdle;
  Paint();
}

void Station::btnGoClick() {
  ++GoRequests;
  if (GoRunning) return;
  GoRunning = true;
  GoPending = true;  // a link check in progress stands aside
  // 1. and 2.
  detect_->SetEnabled(false);
  view_["btnGo"].enabled = false;
  for (const char* name : {"edtCaliTime", "lblResult", "edtTX_SN", "edtRX_SN", "edtMseDongleAddr"})
    view_[name].text.clear();
  view_["Image1"].visible = false;
  // 3. Both sides must be ready.
  const bool tx = view_["ledTX"].checked, rx = view_["ledRX"].checked;
  if (!tx || !rx) {
    std::string text;
    GetText(36, text);
    text += "\r\n";
    if (!tx) text += "* Mouse TX\r\n";
    if (!rx) text += "* Mouse RX\r\n";
    Paint();
    ui_.ShowMessage("dlgError", "Message", text);
    // Detection comes back so the tool recovers by itself once the devices are ready.
    detect_->SetEnabled(true);
    GoRunning = GoPending = false;
    Paint();
    return;
  }
  // 4. and 5. The timed run.
  isTxLink_->SetEnabled(false);
  const uint64_t start = env_.host.TickCount();
  btnSetTXClick();
  LastSetTxMs = env_.host.TickCount() - start;
  view_["edtCaliTime"].text = RunTimeText(LastSetTxMs);
  Paint();
  env_.host.ProcessMessages();
  // 7. The automatic programming tool, for passed units only.
  if (view_["CallMAPX"].checked && RunPassed) {
    const std::filesystem::path tool =
        std::filesystem::absolute(env_.workingDirectory) / kMapxProgram;
    std::error_code ec;
    if (std::filesystem::exists(tool, ec)) {
      if (env_.startProgram)
        env_.startProgram(tool.string());
      else
        StartDetached(tool.string());
    }
  }
  // 8. The loader that started us learns the result from its window title.
  if (AutoStart) {
    const std::string title = RunPassed ? "PASS" : "FAIL";
    if (env_.reportToLoader)
      env_.reportToLoader(title);
    else
      RetitleWindow("TApplication", "KRVRF MFP Loader", title);
  }
  // 9. Release the RX; detection finds the next unit.
  NotReadyState();
  Paint();
  detect_->SetEnabled(true);
  if (HaveRx()) hidAccess_.CloseDevice(device_.DeviceHandle);
  device_.DeviceHandle = kNoHandle;
  GoRunning = GoPending = false;
  Paint();
}

void Station::btnEraseTXClick() {
  if (!view_["TX_Erased"].checked || !HaveRx()) return;
  device_.CommandFailed = false;
  commands_.RfEnterAccess(false);
  env_.host.Sleep(50);
  int address = 0;
  for (; address < int(kTxEepromSize) && !device_.CommandFailed; ++address) {
    commands_.RfEepromWrite(uint8_t(address), 0xFF);
  }
  const bool failed = device_.CommandFailed;
  commands_.RfLeaveAccess();
  Paint();
  ui_.ShowMessage("", "",
                  failed ? "TX erase failed at EEPROM address " + HexText(uint32_t(address - 1), 2)
                         : "TX Erased");
}

void Station::btnEraseRXClick() {
  if (!view_["RX_Erased"].checked || !HaveRx()) return;
  device_.CommandFailed = false;
  int reg = 0;
  for (; reg < int(kRxRegisterCount) && !device_.CommandFailed; ++reg) {
    channel_.WriteRegisterVerified(uint8_t(reg), 0xFFFF);
    env_.host.Sleep(20);
  }
  Paint();
  ui_.ShowMessage("", "",
                  device_.CommandFailed ? "RX erase failed at register " + std::to_string(reg - 1)
                                        : "RX Erased");
}

}  // namespace korvel
