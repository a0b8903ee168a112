// The window's controls as it is created: every name the core may touch, with its caption,
// initial value, range and state.
#include <fstream>

#include "presenter/StationPresenter.h"

namespace korvel {

namespace {
// Control -> text key, applied in this order.
const std::pair<const char*, TTerm> kTexts[] = {
    {"gbSysStatus", 0},
    {"btnCombo_Cmd_Soft_Bind_SW", 4},
    {"btnCombo_Cmd_Soft_Bind_SW", 3},
    {"gbCustKey", 7},
    {"lblHK1", 8},
    {"lblHK2", 9},
    {"lblRFPower", 41},
    {"cbResetRF", 42},
    {"gbISS", 10},
    {"rbRF_DR_15", 11},
    {"rbRF_DR_1A", 12},
    {"gbWKUP", 13},
    {"rbRF_DR_25", 14},
    {"rbRF_DR_2A", 15},
    {"gbCPI", 16},
    {"rbRF_CPI_H", 17},
    {"rbRF_CPI_L", 18},
    {"gbNL", 19},
    {"rbRF_DR_45", 20},
    {"rbRF_DR_4A", 21},
    {"rbRF_DR_4F", 22},
    {"gbPO_BIND", 24},
    {"rbRF_DR_55", 12},
    {"rbRF_DR_5A", 11},
    {"gbBTY", 25},
    {"btnGo", 39},
    {"cbKeyboardbind", 23},
    {"gbVIDPID", 29},
    {"lblStrDesc", 30},
    {"btnEEPROM_R_VID", 27},
    {"btnEEPROM_R_PID", 27},
    {"btnEEPROM_R_20", 27},
    {"btnEEPROM_W_VID", 28},
    {"btnEEPROM_W_PID", 28},
    {"btnEEPROM_W_20", 28},
    {"lblHotKey", 40},
    {"cbRX_IsSN", 43},
    {"cbRX_IsDate", 44},
    {"lblRX_FixSN", 45},
    {"lblRX_IncSN", 46},
    {"cbTX_IsSN", 43},
    {"cbTX_IsDate", 44},
    {"lblTX_FixSN", 45},
    {"lblTX_IncSN", 46},
    {"lblRX_FixSNByte", 47},
    {"lblRX_IncSNByte", 47},
    {"lblRX_FixSNV", 48},
    {"lblTX_FixSNByte", 47},
    {"lblTX_IncSNByte", 47},
    {"lblTX_FixSNV", 48},
    {"lblRX_IncInitSN", 49},
    {"lblRX_IncCurrentSN", 50},
    {"lblRX_IncNextSN", 51},
    {"lblTX_IncInitSN", 49},
    {"lblTX_IncCurrentSN", 50},
    {"lblTX_IncNextSN", 51},
    {"rbRX_RandomRFID", 52},
    {"rbRX_CustomRFID", 53},
    {"rbTX_RandomRFID", 52},
    {"rbTX_CustomRFID", 53},
    {"lblRX_IncInitRFID", 49},
    {"lblRX_IncCurrentRFID", 50},
    {"lblRX_IncNextRFID", 51},
    {"lblTX_IncInitRFID", 49},
    {"lblTX_IncCurrentRFID", 50},
    {"lblTX_IncNextRFID", 51},
    {"lblRFIDNOTE", 57},
    {"gbRXType", 54},
    {"rbMouseOnly", 55},
    {"rbKbdMse", 56},
};

void Radio(ViewState& v, std::initializer_list<const char*> group, size_t checked) {
  size_t i = 0;
  for (const char* name : group) v.Add(name).checked = i++ == checked;
}

// Adds a control with its caption and state.
void Set(ViewState& v, const std::string& name, const std::string& text, bool enabled,
         bool visible) {
  ControlState& c = v.Add(name);
  c.text = text;
  c.enabled = enabled;
  c.visible = visible;
}

void AddSerialPanel(ViewState& v) {
  for (const char* side : {"RX", "TX"}) {
    auto add = [&](const char* kind, const char* role) {
      return &v.Add(std::string(kind) + side + "_" + role);
    };
    for (const char* role : {"IsSN", "IsDate"}) add("cb", role);
    add("lbl", "Side")->text = side;
    for (const char* role :
         {"Date", "FixSN", "FixSNByte", "FixSNV", "IncSN", "IncSNByte", "IncInitSN", "IncCurrentSN",
          "IncNextSN", "IncInitRFID", "IncCurrentRFID", "IncNextRFID"})
      add("lbl", role);
    for (const char* role : {"FixByteCount", "FixSN", "IncByteCount", "IncInitSN", "IncCurrentSN",
                             "IncNextSN", "IncInitRFID", "IncCurrentRFID", "IncNextRFID"})
      add("edt", role);
    add("rb", "FixAscii")->text = "ASCII";
    add("rb", "FixHex")->text = "HEX";
    for (const char* role : {"RandomRFID", "CustomRFID"}) add("rb", role);
  }
  v.Add("lblRFIDNOTE");
}

// The engineering page: hidden, all tabs but the first disabled, every address and data
// field "00".
void AddEngineeringPage(ViewState& v) {
  auto set = [&](const std::string& name, const std::string& text, bool enabled = true,
                 bool visible = true) { Set(v, name, text, enabled, visible); };
  set("stbsht1", "EEPROM   RFIC  Reg");
  set("stbsht3", "Combo_cmd   ACCESS   JUMP_TO_POR RSSI", false);
  set("shtRF", "RF", false);
  set("sht1", "EEPROM", false);
  set("sht2", "Device", false);
  set("sht3", "SETTING", false);
  set("btnSpecialCmd1", "14 FF AA 01");
  set("btnSpecialCmd4", "14 FF AA 04");
  for (int q : {1, 4})
    for (int i = 0; i < 7; ++i) set("edtSC0" + std::to_string(q) + "_0" + std::to_string(i), "");
  for (const char* field :
       {"edtDirectAddr", "edtDirectData", "edtRFICAddr", "edtRFICData", "edtRF_DirectRegAddr",
        "edtRF_DirectRegData", "edtRF_EEPROMAddr", "edtRF_EEPROMData", "edtRF_IndexRegAddr",
        "edtRF_IndexRegData", "edtRF_SensorAddr", "edtRF_SensorData", "edtRF_RFICAddr",
        "edtRF_RFICData"})
    set(field, "00");
  set("btnC_Rd_Direct_Reg", "C_Rd_Direct_Reg");
  set("btnC_Wrt_Direct_Reg", "C_Wrt_Direct_Reg");
  set("btnRd_RFIC", "C_Rd_RFIC_TRX5120B");
  set("btnWrt_RFIC", "C_Wrt_RFIC_TRX5120B");
  set("gbTestMode", "Set Test Mode", true, false);
  set("edtTestMode", "12");
  set("btnC_Combo_Cmd_Set_Test_Mode", "C_Combo_Cmd_Set_Test_Mode");
  set("btnC_JUMP_TO_POR", "C_JUMP_TO_POR");
  set("btnC_RELOAD_PARAMETER", "C_RELOAD_PARAMETER");
  for (const char* kind : {"Direct_Reg", "EEPROM", "Index_Reg", "Sensor", "RFIC"}) {
    const std::string suffix = std::string(kind) == "RFIC" ? "RFIC_TRX5120B" : kind;
    set(std::string("btnC_RF_Rd_") + kind,
        "C_RF_Rd_" + suffix + (std::string(kind) == "Direct_Reg" ? "\t" : ""));
    set(std::string("btnC_RF_Wrt_") + kind, "C_RF_Wrt_" + suffix);
  }
  set("rbC_RF_ENTER_ACCESS_WO_LED", "C_RF_ENTER_ACCESS wo LED");
  set("rbC_RF_ENTER_ACCESS_W_LED", "C_RF_ENTER_ACCESS w LED");
  set("rbC_RF_LEAVE_ACCESS", "C_RF_LEAVE_ACCESS");
  v.Add("rbC_RF_LEAVE_ACCESS").checked = true;
  ControlState& cpi = v.Add("edtC_RF_SETUP_CPI");
  cpi.minimum = 0, cpi.maximum = 3, cpi.value = 0;
  set("btnC_RF_SETUP_CPI", "C_RF_SETUP_CPI");
  set("btnRF_DR_3C", "Execute Jump to POR Function");
  set("btnRF_DR_3D", "Fast Reload System Parameter");
  for (const char* address : {"00", "01", "02", "15", "16", "17", "18", "19"}) {
    set(std::string("edtEEPROM_") + address, "00");
    set(std::string("btnEEPROM_R_") + address, "R");
    set(std::string("btnEEPROM_W_") + address, "W");
  }
  v.Add("btnEEPROM_W_19").visible = v.Add("btnEEPROM_W_19").enabled = false;
  for (const char* row : {"20", "VID", "PID"}) {
    set(std::string("btnEEPROM_R_") + row, "R");
    set(std::string("btnEEPROM_W_") + row, "W");
  }
  set("rbKB", "KEYBOARD");
  set("rbMSE", "MOUSE");
  v.Add("rbMSE").checked = true;
  set("btnUpdateCustKey", "Update Cust Key");
  set("btnLoadSetting", "Load Setting");
  set("btnWriteSetting", "Write Setting");
  set("btnSetTX", "Set TX");
  // What the last operation of the page did, when it failed.
  set("lblEngResult", "");
}
}  // namespace

std::vector<std::pair<std::string, TTerm>> TextBindings() {
  return {std::begin(kTexts), std::end(kTexts)};
}

ViewState InitialViewState() {
  ViewState v;
  v.caption = kFormCaption;
  auto set = [&](const char* name, const std::string& text, bool enabled = true,
                 bool visible = true) { Set(v, name, text, enabled, visible); };
  set("imgLogo", "");
  set("imgCust", "", true, false);
  set("imgNoneDev", "");
  set("imgConnected", "", true, false);
  set("gifBind", "", true, false);
  set("btnCombo_Cmd_Soft_Bind_SW", "&Connect", false);
  set("gbSysStatus", "USB Info.");
  set("edtVID", "");
  set("edtPID", "");
  v.Add("cbbLang").items = {"|0", "|1", "|2"};
  // Forgets the saved language, so the next start asks again.
  set("btnClearLng", "Clear");
  set("gbSetting", "", false);
  set("gbCustKey", "CustKey");
  set("gbISS", "Switch CPI by L+R");
  Radio(v, {"rbRF_DR_15", "rbRF_DR_1A"}, 1);
  set("gbNL", "Sensor Power Management(During RF Disconnect)");
  Radio(v, {"rbRF_DR_45", "rbRF_DR_4F", "rbRF_DR_4A"}, 0);
  set("gbBTY", "Mouse Bettery Low Level");
  set("gbCPI", "Setup CPI");
  Radio(v, {"rbRF_CPI_H", "rbRF_CPI_L"}, 1);
  set("gbVIDPID", "VID PID StringDesc");
  set("edtVID_SET", "");
  set("edtPID_SET", "");
  set("edtEEPROM_20", kInitialPName);
  set("gbWKUP", "Wakeup Setting");
  Radio(v, {"rbRF_DR_25", "rbRF_DR_2A"}, 0);
  set("gbRXType", "RX Type");
  Radio(v, {"rbMouseOnly", "rbKbdMse"}, 0);
  set("gbPO_BIND", "PowerOn Auto Connecting", true, false);
  Radio(v, {"rbRF_DR_5A", "rbRF_DR_55"}, 0);
  set("gb1", "ID");
  v.Add("gb1").height = 70;
  set("gbRX", "RX");
  v.Add("gbRX").height = 95;
  set("gbTX", "TX");
  v.Add("gbTX").height = 95;
  set("gbGo", "");
  v.Add("gbGo").height = 120;
  set("ledRX", "");
  set("ledTX", "");
  set("edtRX", "Mouse RX Not Ready");
  set("edtTX", "Mouse TX Not Ready");
  set("btnGo", "Go", false);
  set("lblResult", "PASS");
  set("Image1", "");
  set("Image2", "", true, false);
  set("lblHotKey", "Hotkey:PageDown");
  set("edtCaliTime", "");
  set("lblRFPower", "RF Power(dbm)");
  v.Add("ComboRFPower").items = {"0", "-5", "-10", "-20"};
  v.Add("ComboRFPower").itemIndex = 3;
  v.Add("ComboRFPower").enabled = false;
  set("cbResetRF", "Reset RF Power When End of Setting", false);
  v.Add("cbResetRF").checked = true;
  set("cbKeyboardbind", "Keyboard Binding", true, false);
  for (const char* name : {"edtMseDongleAddr", "edtRX_SN", "edtTX_SN"}) set(name, "HHHHHH-HHHHHH");
  set("btnEraseRX", "Erase RX");
  set("btnEraseTX", "Erase TX", false);
  set("TX_Erased", "TX Erase Operation");
  set("RX_Erased", "RX Erase Operation");
  set("LRMBinding", "Enabled L+R+M Binding", false);
  ControlState& sleep = v.Add("suiSpinEdit1");
  sleep.minimum = 0, sleep.maximum = 200, sleep.value = 56;
  ControlState& wake = v.Add("suiSpinEdit2");
  wake.minimum = 3, wake.maximum = 19, wake.value = 15;
  set("Label3", "1828.2ms");
  set("Label4", "6.4ms");
  set("Call3204L", "Use PAN3204L Sensor", false);
  set("CallMAPX", "Enabled Auto MPAX", false);
  set("btnPBind", "PBind Switch");
  set("spgcntrl1", "", true, false);
  ControlState& progress = v.Add("pbSetTX");
  progress.minimum = 0, progress.maximum = 20, progress.height = 16;
  set("cbCustKey1", "");
  set("cbCustKey2", "");
  set("cbRF_Set_BTY_Low_Level", "");
  for (const char* label : {"lblHK1", "lblHK2", "lblStrDesc"}) set(label, "");
  // Why the last unit failed, below its result.
  set("lblReason", "");
  // Today's PASS and FAIL counts and the rate since start; the engineer may reset them.
  set("lblYield", "");
  set("btnYieldReset", "Reset", false);
  for (const char* label : {"lbl14", "lbl55", "Label2"}) set(label, "");
  AddSerialPanel(v);
  AddEngineeringPage(v);
  return v;
}

bool ReadBmpSize(const std::filesystem::path& path, int& width, int& height) {
  std::ifstream in(path, std::ios::binary);
  unsigned char h[26] = {};
  if (!in.read(reinterpret_cast<char*>(h), sizeof h) || h[0] != 'B' || h[1] != 'M') return false;
  const uint32_t headerSize = h[14] | h[15] << 8 | h[16] << 16 | uint32_t(h[17]) << 24;
  if (headerSize == 12) {  // OS/2 core header
    width = h[18] | h[19] << 8;
    height = h[20] | h[21] << 8;
  } else {
    width = int32_t(h[18] | h[19] << 8 | h[20] << 16 | uint32_t(h[21]) << 24);
    height = int32_t(h[22] | h[23] << 8 | h[24] << 16 | uint32_t(h[25]) << 24);
    if (height < 0) height = -height;  // top-down bitmap
  }
  return width > 0 && height > 0;
}

}  // namespace korvel
