// The settings controls' handlers. A Set TX run calls them with StagingMode 1 and they stage
// their setting for the devices; at any other time they only update the window.
#include <cstdio>

#include "config/HotKeys.h"
#include "connection/Station.h"
#include "ui/HexField.h"

namespace korvel {

namespace {
const std::pair<const char*, TxOption> kOptionButtons[] = {
    {"rbRF_DR_15", TxOption::CpiSwitchEnabled},    {"rbRF_DR_1A", TxOption::CpiSwitchDisabled},
    {"rbRF_DR_25", TxOption::WakeOnMoveAndKeys},   {"rbRF_DR_2A", TxOption::WakeOnKeysOnly},
    {"rbRF_DR_45", TxOption::PowerSavingOff},      {"rbRF_DR_4A", TxOption::PowerSavingWakeLRM},
    {"rbRF_DR_4F", TxOption::PowerSavingWakeLink}, {"rbRF_DR_5A", TxOption::AutoBindEnabled},
    {"rbRF_DR_55", TxOption::AutoBindDisabled},
};

// Like the toolkit's float-to-text: shortest form, no trailing zeros.
std::string Milliseconds(double ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%.15g", ms);
  return std::string(text) + "ms";
}
}  // namespace

bool Station::OptionClick(const std::string& name) {
  for (const auto& [button, option] : kOptionButtons) {
    if (name != button) continue;
    TxPair staged{};
    if (StageTxOption(staging_, option, &staged)) {
      // The page shows the last pair staged: the complement at the second address.
      view_["edtRF_EEPROMAddr"].text = HexFieldText(staged.address + 1);
      view_["edtRF_EEPROMData"].text = HexFieldText(staged.value ^ 0xFF);
    }
    return true;
  }
  return false;
}

void Station::cbRF_Set_BTY_Low_LevelChange() {
  if (!staging_.Staging()) return;
  const uint8_t level = BatteryLevelValue(view_["cbRF_Set_BTY_Low_Level"].itemIndex);
  StageTxPair(staging_, kBatteryLevelAddress, level);
  // Bits 0 to 4 of the register belong to the RX; only the level bits are ours.
  const int32_t word = channel_.ReadRegister(kBatteryLevelRegister);
  StageRxByte(staging_, kBatteryLevelRegister, uint8_t(level | ((word >> 8) & 0x1F)));
}

void Station::LRMBindingClick() {
  if (!staging_.Staging()) return;
  // 0x20 is the firmware's default; the option is bit 2 of it.
  const uint8_t base = 0x20, option = 0x04;
  StageTxPair(staging_, kLrmBindingAddress,
              view_["LRMBinding"].checked ? base | option : base & ~option);
}

void Station::Call3204LClick() {
  if (staging_.Staging()) {
    staging_.TxEepromImage[kSensorSelectAddress] = view_["Call3204L"].checked ? 0xB2 : 0xFF;
    staging_.TxEepromImage[kSensorSelectAddress + 1] = 0x4D;
  }
}

void Station::RxTypeClick() {
  const bool mouseOnly = view_["rbMouseOnly"].checked;
  view_["cbKeyboardbind"].visible = !mouseOnly;
  if (!staging_.Staging()) return;
  staging_.RxRegisterImage[kRxTypeRegister] = mouseOnly ? EepromWord(0x5A) : 0xFFFF;
}

void Station::SpinLabels() {
  view_["Label3"].text = Milliseconds((256 - view_["suiSpinEdit1"].value) * 9.1418);
  view_["Label4"].text = Milliseconds((view_["suiSpinEdit2"].value + 1) * 400 / 1000.0);
}

void Station::StagePeriods() {
  StageRxByte(staging_, kSleepPeriodRegister, uint8_t(view_["suiSpinEdit1"].value));
  StageRxByte(staging_, kWakeupPeriodRegister, uint8_t(view_["suiSpinEdit2"].value));
}

void Station::CpiClick() {
  if (!staging_.Staging()) return;
  view_["edtC_RF_SETUP_CPI"].value = view_["rbRF_CPI_H"].checked ? 1 : 0;
  btnC_RF_SETUP_CPIClick();
}

void Station::EraseEnables() {
  view_["btnEraseTX"].enabled = view_["TX_Erased"].checked;
  view_["btnEraseRX"].enabled = view_["RX_Erased"].checked;
}

void Station::CustKeyChange(int key) {
  if (!staging_.Staging()) return;
  const int index = view_[key == 1 ? "cbCustKey1" : "cbCustKey2"].itemIndex;
  if (!StageCustomKey(staging_, key, index)) return;
  btnUpdateCustKeyClick();
}

uint8_t RfPowerValue(int itemIndex) {
  static const uint8_t values[] = {27, 19, 11, 3};
  return itemIndex >= 0 && itemIndex < 4 ? values[itemIndex] : values[3];
}

}  // namespace korvel
