#include "connection/Station.h"

#include <fstream>
#include <random>

#include "config/HotKeys.h"
#include "platform/Text.h"

namespace korvel {

namespace {
const char* const kBatteryTexts[] = {
    "Set BTY Low Level: VBAT <= 2.2V(Two-Cell)/1.1V(One-Cell)",
    "Set BTY Low Level: VBAT <= 2.0V(Two-Cell)/1.0V(One-Cell)",
    "Set BTY Low Level: VBAT <= 1.8V(Two-Cell)/0.9V(One-Cell)",
};

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

// Follow gbSetting, in this order (the four serial fields also need their byte counts).
const char* const kLocked[] = {"rbMouseOnly",
                               "rbKbdMse",
                               "suiSpinEdit1",
                               "suiSpinEdit2",
                               "cbCustKey1",
                               "cbCustKey2",
                               "rbRF_DR_15",
                               "rbRF_DR_1A",
                               "rbRF_CPI_H",
                               "rbRF_CPI_L",
                               "rbRF_DR_45",
                               "rbRF_DR_4A",
                               "rbRF_DR_4F",
                               "CallMAPX",
                               "cbRF_Set_BTY_Low_Level",
                               "edtVID_SET",
                               "edtPID_SET",
                               "edtEEPROM_20",
                               "ComboRFPower",
                               "cbResetRF",
                               "LRMBinding",
                               "Call3204L",
                               "cbRX_IsSN",
                               "cbRX_IsDate",
                               "edtRX_FixByteCount",
                               "edtRX_IncByteCount",
                               "edtRX_FixSN",
                               "edtRX_IncInitSN",
                               "rbRX_FixAscii",
                               "rbRX_FixHex",
                               "cbTX_IsSN",
                               "cbTX_IsDate",
                               "edtTX_FixByteCount",
                               "edtTX_IncByteCount",
                               "edtTX_FixSN",
                               "edtTX_IncInitSN",
                               "rbTX_FixAscii",
                               "rbTX_FixHex",
                               "cbKeyboardbind",
                               "rbRX_RandomRFID",
                               "rbRX_CustomRFID",
                               "edtRX_IncInitRFID",
                               "rbTX_RandomRFID",
                               "rbTX_CustomRFID",
                               "edtTX_IncInitRFID",
                               "gbWKUP",
                               "rbRF_DR_25",
                               "rbRF_DR_2A",
                               "TX_Erased",
                               "RX_Erased"};

void Radio(ViewState& v, std::initializer_list<const char*> group, size_t checked) {
  size_t i = 0;
  for (const char* name : group) v[name].checked = i++ == checked;
}
}  // namespace

// The engineering page: hidden, all tabs but the first disabled, every address and data
// field "00".
static void AddEngineeringPage(ViewState& v) {
  auto set = [&](const std::string& name, const std::string& text, bool enabled = true,
                 bool visible = true) {
    ControlState& c = v[name];
    c.text = text;
    c.enabled = enabled;
    c.visible = visible;
  };
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
  v["rbC_RF_LEAVE_ACCESS"].checked = true;
  ControlState& cpi = v["edtC_RF_SETUP_CPI"];
  cpi.minimum = 0, cpi.maximum = 3, cpi.value = 0;
  set("btnC_RF_SETUP_CPI", "C_RF_SETUP_CPI");
  set("btnRF_DR_3C", "Execute Jump to POR Function");
  set("btnRF_DR_3D", "Fast Reload System Parameter");
  for (const char* address : {"00", "01", "02", "15", "16", "17", "18", "19"}) {
    set(std::string("edtEEPROM_") + address, "00");
    set(std::string("btnEEPROM_R_") + address, "R");
    set(std::string("btnEEPROM_W_") + address, "W");
  }
  v["btnEEPROM_W_19"].visible = v["btnEEPROM_W_19"].enabled = false;
  for (const char* row : {"20", "VID", "PID"}) {
    set(std::string("btnEEPROM_R_") + row, "R");
    set(std::string("btnEEPROM_W_") + row, "W");
  }
  set("rbKB", "KEYBOARD");
  set("rbMSE", "MOUSE");
  v["rbMSE"].checked = true;
  set("btnUpdateCustKey", "Update Cust Key");
  set("btnLoadSetting", "Load Setting");
  set("btnWriteSetting", "Write Setting");
  set("btnSetTX", "Set TX");
}

std::vector<std::pair<std::string, TTerm>> TextBindings() {
  return {std::begin(kTexts), std::end(kTexts)};
}

ViewState InitialViewState() {
  ViewState v;
  v.caption = kFormCaption;
  auto set = [&](const char* name, const std::string& text, bool enabled = true,
                 bool visible = true) {
    ControlState& c = v[name];
    c.text = text;
    c.enabled = enabled;
    c.visible = visible;
  };
  set("imgLogo", "");
  set("imgCust", "", true, false);
  set("imgNoneDev", "");
  set("imgConnected", "", true, false);
  set("gifBind", "", true, false);
  set("btnCombo_Cmd_Soft_Bind_SW", "&Connect", false);
  set("gbSysStatus", "USB Info.");
  set("edtVID", "");
  set("edtPID", "");
  v["cbbLang"].items = {"|0", "|1", "|2"};
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
  v["gb1"].height = 70;
  set("gbRX", "RX");
  v["gbRX"].height = 95;
  set("gbTX", "TX");
  v["gbTX"].height = 95;
  set("gbGo", "");
  v["gbGo"].height = 120;
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
  v["ComboRFPower"].items = {"0", "-5", "-10", "-20"};
  v["ComboRFPower"].itemIndex = 3;
  v["ComboRFPower"].enabled = false;
  set("cbResetRF", "Reset RF Power When End of Setting", false);
  v["cbResetRF"].checked = true;
  set("cbKeyboardbind", "Keyboard Binding", true, false);
  for (const char* name : {"edtMseDongleAddr", "edtRX_SN", "edtTX_SN"}) set(name, "HHHHHH-HHHHHH");
  set("btnEraseRX", "Erase RX");
  set("btnEraseTX", "Erase TX", false);
  set("TX_Erased", "TX Erase Operation");
  set("RX_Erased", "RX Erase Operation");
  set("LRMBinding", "Enabled L+R+M Binding", false);
  ControlState& sleep = v["suiSpinEdit1"];
  sleep.minimum = 0, sleep.maximum = 200, sleep.value = 56;
  ControlState& wake = v["suiSpinEdit2"];
  wake.minimum = 3, wake.maximum = 19, wake.value = 15;
  set("Label3", "1828.2ms");
  set("Label4", "6.4ms");
  set("Call3204L", "Use PAN3204L Sensor", false);
  set("CallMAPX", "Enabled Auto MPAX", false);
  set("btnPBind", "PBind Switch");
  set("spgcntrl1", "", true, false);
  ControlState& progress = v["pbSetTX"];
  progress.minimum = 0, progress.maximum = 20, progress.height = 16;
  set("cbCustKey1", "");
  set("cbCustKey2", "");
  set("cbRF_Set_BTY_Low_Level", "");
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

Station::Station(StationEnvironment env, StationView& view)
    : env_(std::move(env)),
      ui_(view),
      view_(InitialViewState()),
      hidAccess_(env_.hid, env_.host),
      channel_(hidAccess_, env_.host, device_),
      commands_(channel_),
      detect_(env_.host.CreateTimer()),
      softBind_(env_.host.CreateTimer()),
      isTxLink_(env_.host.CreateTimer()) {
  detect_->SetInterval(5500);
  softBind_->SetInterval(1000);
  isTxLink_->SetInterval(500);
  detect_->OnTimer = [this] { DetectHIDDeviceCounterTimer(); };
  softBind_->OnTimer = [this] { tmrSoftBindTimer(); };
  isTxLink_->OnTimer = [this] { tmrIsTxLinkTimer(); };
}

Station::~Station() = default;

void Station::Paint() {
  ui_.Render(view_);
}

void Station::FormCreate(const std::vector<std::string>& args) {
  AutoStart = !args.empty();
  std::mt19937 random(env_.randomSeed ? env_.randomSeed
                                      : uint32_t(env_.host.TickCount()) ^ std::random_device{}());
  TempID = int(std::uniform_int_distribution<int>(0, 254)(random));
  FillFixedVidPids(vidPidTable_);
  RegisterGeneratorClasses();
  detect_->SetEnabled(true);
  view_.caption += " For B-Nova Only";
  view_.caption += " TempID=" + std::to_string(TempID);
  view_["lblResult"].text.clear();
  view_["Image1"].visible = false;
  if (env_.killOtherInstances) env_.killOtherInstances();
  LoadLanguage(env_.languageStore, [this](TLanguateKind pre) {
    // The link check must not talk to the devices while the operator is choosing.
    languageDialogOpen_ = true;
    const int chosen = ui_.AskLanguage(int(pre));
    languageDialogOpen_ = false;
    return chosen >= 0 && chosen <= 2 ? TLanguateKind(chosen) : pre;
  });
  view_["cbbLang"].itemIndex = int(CurrentLanguage());
  ApplyTexts();
  for (const char* name :
       {"edtEEPROM_20", "edtMseDongleAddr", "edtTX_SN", "edtRX_SN", "lblRX_Date", "lblTX_Date"})
    view_[name].text.clear();
  for (const char* box : {"cbCustKey1", "cbCustKey2"}) {
    ControlState& c = view_[box];
    c.items.clear();
    for (const HotKey& k : kHotKeys) c.items.push_back(k.text);
  }
  view_["cbCustKey1"].itemIndex = kDefaultCustKey1;
  view_["cbCustKey2"].itemIndex = kDefaultCustKey2;
  env_.host.ProcessMessages();
  for (const char* name : {"gb1", "gbRX", "gbTX", "edtMseDongleAddr", "edtTX_SN", "edtRX_SN",
                           "lbl14", "lbl55", "Label2"})
    view_[name].visible = false;
  view_["imgConnected"].top = view_["imgNoneDev"].top = view_["gifBind"].top;
  int w = 0, h = 0;
  const bool logo = ReadBmpSize(env_.workingDirectory / "logo.bmp", w, h);
  view_["imgCust"].visible = logo && w <= 400 && h <= 60;
  view_["imgLogo"].visible = !view_["imgCust"].visible;
  ControlState& bty = view_["cbRF_Set_BTY_Low_Level"];
  bty.items.assign(std::begin(kBatteryTexts), std::end(kBatteryTexts));
  bty.itemIndex = 2;
  FillFixedVidPids(vidPidTable_);
  view_.width = kLayoutWidth;
  view_.height = kLayoutHeight;
  view_.left = ui_.ScreenWidth() / 2 - view_.width / 2;
  view_.top = ui_.ScreenHeight() / 2 - view_.height / 2;
  btnLoadSettingClick();
  RefreshSerialPanel();
  Paint();
}

void Station::FormActivate() {
  StartingUp = false;
  SettingsWriteBlocked = false;
}

void Station::FormResize() {
  view_.width = kLayoutWidth;
  // The layout height has room for the panel groups at their full heights; hidden (as for
  // operators) they give all of it back, shown they give back what they are shorter by.
  view_.height = kLayoutHeight;
  for (const auto& [name, full] :
       {std::pair{"gb1", 70}, std::pair{"gbRX", 95}, std::pair{"gbTX", 95}})
    view_.height -= view_[name].visible ? full - view_[name].height : view_[name].height;
  const int bar = view_["pbSetTX"].height;
  view_["gbGo"].top = view_.height - view_["gbGo"].height - bar;
  view_["pbSetTX"].top = view_.height - bar;
}

bool Station::FormKeyDown(int virtualKey) {
  if (virtualKey != kVkPageDown || !view_["btnGo"].enabled) return false;
  btnGoClick();
  return true;
}

bool Station::Click(const std::string& name) {
  static const std::map<std::string, std::function<void(Station&)>> handlers = {
      {"btnGo", &Station::btnGoClick},
      {"btnLoadSetting", &Station::btnLoadSettingClick},
      {"btnWriteSetting", &Station::btnWriteSettingClick},
      {"btnClearLng", &Station::btnClearLngClick},
      {"btnCombo_Cmd_Soft_Bind_SW", &Station::btnCombo_Cmd_Soft_Bind_SWClick},
      {"btnPBind", &Station::btnPBindClick},
      {"btnSpecialCmd1", [](Station& s) { s.SpecialCommand(1); }},
      {"btnSpecialCmd4", [](Station& s) { s.SpecialCommand(4); }},
      {"btnC_Wrt_Direct_Reg", &Station::btnC_Wrt_Direct_RegClick},
      {"btnC_Rd_Direct_Reg", &Station::RxDirectRead},
      {"btnRd_RFIC", &Station::TransceiverRead},
      {"btnWrt_RFIC", &Station::btnWrt_RFICClick},
      {"btnC_JUMP_TO_POR",
       [](Station& s) {
         if (s.HaveRx()) s.commands_.JumpToPor();
       }},
      {"btnC_RELOAD_PARAMETER",
       [](Station& s) {
         if (s.HaveRx()) s.commands_.ReloadParameter();
       }},
      {"btnC_RF_SETUP_CPI", &Station::btnC_RF_SETUP_CPIClick},
      {"btnRF_DR_3C", [](Station& s) { s.RfDirectAction("3C"); }},
      {"btnRF_DR_3D", [](Station& s) { s.RfDirectAction("3D"); }},
      {"btnUpdateCustKey", &Station::btnUpdateCustKeyClick},
      {"btnSetTX", &Station::btnSetTXClick},
      {"btnEraseTX", &Station::btnEraseTXClick},
      {"btnEraseRX", &Station::btnEraseRXClick},
  };
  auto starts = [&](const char* prefix) { return name.rfind(prefix, 0) == 0; };
  auto rest = [&](const char* prefix) { return name.substr(std::string(prefix).size()); };
  const auto it = handlers.find(name);
  if (it != handlers.end())
    it->second(*this);
  else if (starts("btnC_RF_Rd_"))
    RfRead(rest("btnC_RF_Rd_"));
  else if (starts("btnC_RF_Wrt_"))
    RfWrite(rest("btnC_RF_Wrt_"));
  else if (name == "btnEEPROM_R_20")
    StringRead();
  else if (name == "btnEEPROM_W_20")
    StringWrite();
  else if (name == "btnEEPROM_R_VID" || name == "btnEEPROM_R_PID")
    IdRead(name.c_str() + 12);
  else if (name == "btnEEPROM_W_VID" || name == "btnEEPROM_W_PID")
    IdWrite(name.c_str() + 12);
  else if (starts("btnEEPROM_R_"))
    EepromRead(rest("btnEEPROM_R_"));
  else if (starts("btnEEPROM_W_") && name != "btnEEPROM_W_19")
    EepromWrite(rest("btnEEPROM_W_"));
  else
    return false;
  Paint();
  return true;
}

void Station::FormCloseQuery() {
  softBind_->SetEnabled(false);
  isTxLink_->SetEnabled(false);
  btnWriteSettingClick();
  if (device_.DeviceHandle != kNoHandle) commands_.RfLeaveAccess();
  env_.host.Sleep(50);
}

void Station::ApplyTexts() {
  for (const auto& [name, key] : kTexts) GetText(key, view_[name].text);
}

void Station::cbbLangChange(int index) {
  if (index < 0 || index > 2) return;
  SetCurrentLanguage(TLanguateKind(index));
  view_["cbbLang"].itemIndex = index;
  ApplyTexts();
  SaveLanguage(env_.languageStore);
  Paint();
}

void Station::btnClearLngClick() {
  ForgetLanguage(env_.languageStore);
}

void Station::imgLogoDblClick() {
  ControlState& setting = view_["gbSetting"];
  if (setting.enabled) {
    setting.enabled = false;
    if (EngineerView) ToggleEngineerView();
    ui_.ShowMessage("", "", "Locked");
  } else if (++LogoDoubleClicks % 5 == 0) {
    const auto entered = ui_.AskPassword();
    if (entered && *entered == kPassPhrase) setting.enabled = true;
  }
  ApplyLock();
  Paint();
}

void Station::ApplyLock() {
  const bool on = view_["gbSetting"].enabled;
  for (const char* name : kLocked) view_[name].enabled = on;
  view_["edtRX_FixSN"].enabled = on && generators_.RxSN.FixSNByteCount() > 0;
  view_["edtRX_IncInitSN"].enabled = on && generators_.RxSN.IncSNByteCount() > 0;
  view_["edtTX_FixSN"].enabled = on && generators_.TxSN.FixSNByteCount() > 0;
  view_["edtTX_IncInitSN"].enabled = on && generators_.TxSN.IncSNByteCount() > 0;
}

void Station::SettingsToView(const Settings& s) {
  view_["cbCustKey1"].itemIndex = s.CustKey1;
  view_["cbCustKey2"].itemIndex = s.CustKey2;
  Radio(view_, {"rbMouseOnly", "rbKbdMse"}, s.MouseOnly ? 0 : 1);
  Radio(view_, {"rbRF_DR_15", "rbRF_DR_1A"}, s.SoftISS ? 0 : 1);
  view_["suiSpinEdit1"].value = s.Sleep;
  view_["suiSpinEdit2"].value = s.WakeupPeriod;
  Radio(view_, {"rbRF_CPI_L", "rbRF_CPI_H"}, s.CPI == 0 ? 0 : 1);
  Radio(view_, {"rbRF_DR_45", "rbRF_DR_4A", "rbRF_DR_4F"}, size_t(s.PowerSaving));
  Radio(view_, {"rbRF_DR_25", "rbRF_DR_2A"}, s.Wakeup == 0 ? 0 : 1);
  Radio(view_, {"rbRF_DR_5A", "rbRF_DR_55"}, s.AutoBind ? 0 : 1);
  view_["cbRF_Set_BTY_Low_Level"].itemIndex = s.BTY;
  view_["edtVID_SET"].text = s.VidSet;
  view_["edtPID_SET"].text = s.PidSet;
  view_["TX_Erased"].checked = s.TX_Erased;
  view_["RX_Erased"].checked = s.RX_Erased;
  view_["edtEEPROM_20"].text = s.PName;
  view_["LRMBinding"].checked = s.LRMBinding;
  view_["ComboRFPower"].itemIndex = s.RFPower;
  view_["cbResetRF"].checked = s.ResetRF;
  view_["cbKeyboardbind"].checked = s.KBind;
  view_["CallMAPX"].checked = s.EnabledMAPX;
  view_["Call3204L"].checked = s.Enabled3204L;
  delay_ = s.Delay;
  SpinLabels();
  EraseEnables();
  view_["cbKeyboardbind"].visible = !s.MouseOnly || s.KeyboardBindVisible;
}

Settings Station::SettingsFromView() const {
  auto c = [this](const char* name) -> const ControlState& { return view_.controls.at(name); };
  Settings s;
  s.CustKey1 = c("cbCustKey1").itemIndex;
  s.CustKey2 = c("cbCustKey2").itemIndex;
  s.MouseOnly = c("rbMouseOnly").checked;
  s.SoftISS = c("rbRF_DR_15").checked;
  s.Sleep = c("suiSpinEdit1").value;
  s.WakeupPeriod = c("suiSpinEdit2").value;
  s.CPI = c("rbRF_CPI_L").checked ? 0 : 1;
  s.PowerSaving = c("rbRF_DR_45").checked ? 0 : c("rbRF_DR_4A").checked ? 1 : 2;
  s.Wakeup = c("rbRF_DR_25").checked ? 0 : 1;
  s.AutoBind = c("rbRF_DR_5A").checked;
  s.BTY = c("cbRF_Set_BTY_Low_Level").itemIndex;
  s.VidSet = c("edtVID_SET").text;
  s.PidSet = c("edtPID_SET").text;
  s.TX_Erased = c("TX_Erased").checked;
  s.RX_Erased = c("RX_Erased").checked;
  s.PName = c("edtEEPROM_20").text;
  s.LRMBinding = c("LRMBinding").checked;
  s.RFPower = c("ComboRFPower").itemIndex;
  s.ResetRF = c("cbResetRF").checked;
  s.Delay = delay_;
  s.KBind = c("cbKeyboardbind").checked;
  s.EnabledMAPX = c("CallMAPX").checked;
  s.Enabled3204L = c("Call3204L").checked;
  return s;
}

void Station::btnLoadSettingClick() {
  Settings s = SettingsFromView();
  const SettingsLoadReport report =
      LoadSettings(IniPath(), s, generators_, vidPidTable_, staging_.StagingMode);
  if (env_.date) {
    generators_.RxSN.SetDateSource(env_.date);
    generators_.TxSN.SetDateSource(env_.date);
  }
  SettingsToView(s);
  std::string problems;
  if (!report.readError.empty()) problems += report.readError + "\n";
  for (const auto& bad : report.badDeviceEntries)
    problems += "TX.ini [Device] " + bad.key + "=" + bad.text + ": not a VID/PID, skipped\n";
  for (const auto& bad : report.badGenerators)
    problems += "TX.ini " + bad.key + ": " + bad.text + " (started from the defaults)\n";
  if (!problems.empty()) ui_.ShowMessage("dlgError", "Message", problems);
}

void Station::btnWriteSettingClick() {
  std::string error;
  if (WriteSettings(IniPath(), SettingsFromView(), generators_, SettingsWriteBlocked, error) ==
      WriteResult::Failed)
    ui_.ShowMessage("dlgError", "Message", "The settings were not saved: " + error);
}

void Station::ControlChanged(const std::string& name, const ControlState& state) {
  if (SerialPanelChanged(name, state)) return;
  view_[name] = state;
  if (name == "CallMAPX" || name == "Call3204L") btnWriteSettingClick();
  // The device type follows the Device tab's choice at once.
  if ((name == "rbMSE" || name == "rbKB") && state.checked) {
    Radio(view_, {"rbMSE", "rbKB"}, name == "rbMSE" ? 0 : 1);
    SendDeviceType();
  }
  if (state.checked && OptionClick(name)) {
  } else if (name == "cbRF_Set_BTY_Low_Level") {
    cbRF_Set_BTY_Low_LevelChange();
  } else if (name == "LRMBinding") {
    LRMBindingClick();
  } else if (name == "Call3204L") {
    Call3204LClick();
  } else if ((name == "rbMouseOnly" || name == "rbKbdMse") && state.checked) {
    Radio(view_, {"rbMouseOnly", "rbKbdMse"}, name == "rbMouseOnly" ? 0 : 1);
    RxTypeClick();
  } else if (name == "suiSpinEdit1" || name == "suiSpinEdit2") {
    SpinLabels();
  } else if ((name == "rbRF_CPI_L" || name == "rbRF_CPI_H") && state.checked) {
    Radio(view_, {"rbRF_CPI_L", "rbRF_CPI_H"}, name == "rbRF_CPI_L" ? 0 : 1);
    CpiClick();
  } else if (name == "TX_Erased" || name == "RX_Erased") {
    EraseEnables();
  } else if (name == "cbCustKey1" || name == "cbCustKey2") {
    CustKeyChange(name == "cbCustKey1" ? 1 : 2);
  } else if (name.rfind("rbC_RF_", 0) == 0 && state.checked) {
    Radio(view_, {"rbC_RF_ENTER_ACCESS_WO_LED", "rbC_RF_ENTER_ACCESS_W_LED", "rbC_RF_LEAVE_ACCESS"},
          name == "rbC_RF_ENTER_ACCESS_WO_LED"  ? 0
          : name == "rbC_RF_ENTER_ACCESS_W_LED" ? 1
                                                : 2);
    RfAccess(name);
  }
  Paint();
}

}  // namespace korvel
