#include "ui/WindowLayout.h"

#include <algorithm>
#include <utility>

namespace korvel {

namespace {
using K = ControlKind;

class Table {
 public:
  ControlLayout& Add(const std::string& name, ControlKind kind, const std::string& parent, int x,
                     int y, int w, int h, std::string caption = {}) {
    ControlLayout c;
    c.name = name;
    c.kind = kind;
    c.parent = parent;
    c.x = x;
    c.y = y;
    c.width = w;
    c.height = h;
    c.caption = std::move(caption);
    rows_.push_back(std::move(c));
    return rows_.back();
  }
  ControlLayout& Label(const std::string& parent, const std::string& name, std::string text, int x,
                       int y, int w, int h = 20) {
    return Add(name, K::Label, parent, x, y, w, h, std::move(text));
  }
  // The engineering page's address and data fields show what was read, unfiltered.
  ControlLayout& Hex(const std::string& parent, const std::string& name, int x, int y) {
    ControlLayout& e = Add(name, K::HexEdit, parent, x, y, 40, 24);
    e.filterHex = false;
    e.maxLength = 2;
    return e;
  }
  ControlLayout& Button(const std::string& parent, const std::string& name, int x, int y,
                        int w = 180) {
    return Add(name, K::Button, parent, x, y, w, 26);
  }
  std::vector<ControlLayout> Take() { return std::move(rows_); }

 private:
  std::vector<ControlLayout> rows_;
};

// Fields that only show what the core computed.
bool EndsWith(const std::string& s, const std::string& end) {
  return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}
bool ShowsOnly(const std::string& name) {
  return name == "edtVID" || name == "edtPID" || name == "edtRX" || name == "edtTX" ||
         name == "edtCaliTime" || EndsWith(name, "_IncCurrentSN") || EndsWith(name, "_IncNextSN") ||
         EndsWith(name, "_IncCurrentRFID") || EndsWith(name, "_IncNextRFID") ||
         name == "edtMseDongleAddr" || name == "edtRX_SN" || name == "edtTX_SN";
}

void TopStrip(Table& t) {
  t.Add("imgLogo", K::Picture, "Form1", 8, 4, 200, 66);
  t.Add("imgCust", K::Picture, "Form1", 8, 4, 400, 60);
  for (const char* name : {"imgNoneDev", "imgConnected", "gifBind"})
    t.Add(name, K::Image, "Form1", 216, 4, 64, 64);
  t.Add("btnCombo_Cmd_Soft_Bind_SW", K::Button, "Form1", 288, 20, 116, 32);
  t.Add("gbSysStatus", K::Group, "Form1", 412, 2, 196, 66);
  t.Label("gbSysStatus", "lblVID", "VID", 10, 28, 28);
  t.Add("edtVID", K::HexEdit, "gbSysStatus", 38, 25, 52, 24).filterHex = false;
  t.Label("gbSysStatus", "lblPID", "PID", 100, 28, 28);
  t.Add("edtPID", K::HexEdit, "gbSysStatus", 128, 25, 52, 24).filterHex = false;
  t.Add("cbbLang", K::ImageComboBox, "Form1", 618, 6, 84, 30);
  t.Add("btnClearLng", K::Button, "Form1", 618, 40, 84, 24);
  t.Add("btnPBind", K::Button, "Form1", 716, 4, 176, 26);
  t.Add("Call3204L", K::CheckBox, "Form1", 716, 32, 176, 18);
  t.Add("CallMAPX", K::CheckBox, "Form1", 716, 50, 176, 18);
}

void Settings(Table& t) {
  const std::string gb = "gbSetting";
  t.Add(gb, K::Group, "Form1", 4, kWindowTopStrip, 892, kWindowSettingsEnd - kWindowTopStrip - 2);
  t.Add("gbCustKey", K::Group, gb, 6, 6, 268, 76);
  t.Label("gbCustKey", "lblHK1", "", 8, 24, 70);
  t.Add("cbCustKey1", K::ComboBox, "gbCustKey", 80, 20, 180, 24);
  t.Label("gbCustKey", "lblHK2", "", 8, 50, 70);
  t.Add("cbCustKey2", K::ComboBox, "gbCustKey", 80, 46, 180, 24);
  t.Add("gbISS", K::Group, gb, 6, 84, 268, 44);
  t.Add("rbRF_DR_15", K::RadioButton, "gbISS", 8, 20, 130, 20);
  t.Add("rbRF_DR_1A", K::RadioButton, "gbISS", 136, 20, 128, 20);
  t.Add("gbCPI", K::Group, gb, 6, 130, 268, 44);
  t.Add("rbRF_CPI_H", K::RadioButton, "gbCPI", 8, 20, 130, 20);
  t.Add("rbRF_CPI_L", K::RadioButton, "gbCPI", 136, 20, 128, 20);
  // The battery list is the last row: its items are long, and it widens under the middle
  // column, which ends above it.
  t.Add("gbBTY", K::Group, gb, 6, 220, 268, 46);
  t.Add("cbRF_Set_BTY_Low_Level", K::ComboBox, "gbBTY", 8, 18, 252, 24);
  t.Add("gbRXType", K::Group, gb, 6, 176, 268, 42);
  t.Add("rbMouseOnly", K::RadioButton, "gbRXType", 8, 18, 130, 20);
  t.Add("rbKbdMse", K::RadioButton, "gbRXType", 128, 18, 136, 20);

  t.Add("gbNL", K::Group, gb, 280, 6, 330, 86);
  t.Add("rbRF_DR_45", K::RadioButton, "gbNL", 8, 20, 314, 20);
  t.Add("rbRF_DR_4F", K::RadioButton, "gbNL", 8, 41, 314, 20);
  t.Add("rbRF_DR_4A", K::RadioButton, "gbNL", 8, 62, 314, 20);
  t.Add("gbVIDPID", K::Group, gb, 280, 94, 330, 106);
  t.Label("gbVIDPID", "lblVID_SET", "VID", 8, 26, 30);
  t.Add("edtVID_SET", K::HexEdit, "gbVIDPID", 38, 22, 60, 24).maxLength = 4;
  t.Label("gbVIDPID", "lblPID_SET", "PID", 112, 26, 30);
  t.Add("edtPID_SET", K::HexEdit, "gbVIDPID", 142, 22, 60, 24).maxLength = 4;
  t.Label("gbVIDPID", "lblStrDesc", "", 8, 50, 314);
  t.Add("edtEEPROM_20", K::Edit, "gbVIDPID", 8, 72, 314, 24).maxLength = 46;
  t.Add("gbPO_BIND", K::Group, gb, 280, 94, 330, 44);
  t.Add("rbRF_DR_5A", K::RadioButton, "gbPO_BIND", 8, 20, 130, 20);
  t.Add("rbRF_DR_55", K::RadioButton, "gbPO_BIND", 146, 20, 140, 20);

  t.Add("gbErase", K::Group, gb, 616, 6, 270, 76, "Erase EEPROM");
  t.Add("TX_Erased", K::CheckBox, "gbErase", 8, 22, 150, 20);
  t.Add("btnEraseTX", K::Button, "gbErase", 160, 18, 102, 26);
  t.Add("RX_Erased", K::CheckBox, "gbErase", 8, 50, 150, 20);
  t.Add("btnEraseRX", K::Button, "gbErase", 160, 46, 102, 26);
  t.Add("gbLRM", K::Group, gb, 616, 84, 270, 44, "L+R+M Binding");
  t.Add("LRMBinding", K::CheckBox, "gbLRM", 8, 20, 254, 20);
  t.Add("gbSuspend", K::Group, gb, 616, 130, 270, 76, "Rx USB Suspend Behavior");
  t.Label("gbSuspend", "lblWakeupPeriod", "Wakeup Period", 8, 24, 100);
  t.Add("suiSpinEdit2", K::SpinBox, "gbSuspend", 110, 20, 64, 24);
  t.Label("gbSuspend", "Label4", "", 180, 24, 100);
  t.Label("gbSuspend", "lblSleepPeriod", "Sleep Period", 8, 50, 100);
  t.Add("suiSpinEdit1", K::SpinBox, "gbSuspend", 110, 46, 64, 24);
  t.Label("gbSuspend", "Label3", "", 180, 50, 100);
  t.Add("gbWKUP", K::Group, gb, 616, 208, 270, 58);
  t.Add("rbRF_DR_25", K::RadioButton, "gbWKUP", 8, 17, 254, 19);
  t.Add("rbRF_DR_2A", K::RadioButton, "gbWKUP", 8, 37, 254, 19);
}

void SerialPanel(Table& t) {
  // Link IDs: one row per side.
  t.Add("gb1", K::Group, "Form1", 4, kWindowSettingsEnd, 892, 70);
  const char* const sides[] = {"RX", "TX"};
  for (int row = 0; row < 2; ++row) {
    const std::string x = sides[row];
    const int y = 16 + 26 * row;
    auto name = [&](const char* kind, const char* role) {
      return std::string(kind) + x + "_" + role;
    };
    t.Label("gb1", name("lbl", "Side"), x, 8, y + 2, 28);
    t.Add(name("rb", "RandomRFID"), K::RadioButton, "gb1", 36, y, 100, 22).radioGroup = x + "_RFID";
    t.Add(name("rb", "CustomRFID"), K::RadioButton, "gb1", 138, y, 90, 22).radioGroup = x + "_RFID";
    t.Label("gb1", name("lbl", "IncInitRFID"), "", 232, y + 2, 60);
    t.Add(name("edt", "IncInitRFID"), K::HexEdit, "gb1", 294, y, 70, 22).maxLength = 6;
    t.Label("gb1", name("lbl", "IncCurrentRFID"), "", 372, y + 2, 60);
    t.Add(name("edt", "IncCurrentRFID"), K::HexEdit, "gb1", 434, y, 70, 22);
    t.Label("gb1", name("lbl", "IncNextRFID"), "", 512, y + 2, 50);
    t.Add(name("edt", "IncNextRFID"), K::HexEdit, "gb1", 564, y, 70, 22);
  }
  t.Label("gb1", "lblRFIDNOTE", "", 644, 14, 240, 50).wordWrap = true;

  for (const std::string x : sides) {
    auto name = [&](const char* kind, const char* role) {
      return std::string(kind) + x + "_" + role;
    };
    const std::string gb = "gb" + x;
    t.Add(gb, K::Group, "Form1", 4, kWindowSettingsEnd, 892, 95);
    t.Add(name("cb", "IsSN"), K::CheckBox, gb, 8, 14, 300, 20);
    t.Add(name("cb", "IsDate"), K::CheckBox, gb, 316, 14, 330, 20);
    t.Label(gb, name("lbl", "Date"), "", 652, 16, 120);
    t.Label(gb, name("lbl", "FixSN"), "", 8, 42, 62);
    t.Add(name("edt", "FixByteCount"), K::Edit, gb, 72, 40, 30, 22).maxLength = 1;
    t.Label(gb, name("lbl", "FixSNByte"), "", 106, 42, 44);
    t.Add(name("rb", "FixAscii"), K::RadioButton, gb, 152, 40, 70, 22).radioGroup = x + "_Fix";
    t.Add(name("rb", "FixHex"), K::RadioButton, gb, 224, 40, 60, 22).radioGroup = x + "_Fix";
    t.Label(gb, name("lbl", "FixSNV"), "", 292, 42, 50);
    t.Add(name("edt", "FixSN"), K::Edit, gb, 344, 40, 130, 22);
    t.Label(gb, name("lbl", "IncSN"), "", 8, 68, 62);
    t.Add(name("edt", "IncByteCount"), K::Edit, gb, 72, 66, 30, 22).maxLength = 1;
    t.Label(gb, name("lbl", "IncSNByte"), "", 106, 68, 44);
    t.Label(gb, name("lbl", "IncInitSN"), "", 152, 68, 60);
    t.Add(name("edt", "IncInitSN"), K::HexEdit, gb, 214, 66, 120, 22);
    t.Label(gb, name("lbl", "IncCurrentSN"), "", 342, 68, 60);
    t.Add(name("edt", "IncCurrentSN"), K::HexEdit, gb, 404, 66, 120, 22);
    t.Label(gb, name("lbl", "IncNextSN"), "", 532, 68, 50);
    t.Add(name("edt", "IncNextSN"), K::HexEdit, gb, 584, 66, 120, 22);
  }
}

void Go(Table& t) {
  const std::string gb = "gbGo";
  t.Add(gb, K::Group, "Form1", 4, 0, 892, 120);
  t.Add("ledRX", K::Lamp, gb, 10, 22, 22, 22);
  t.Add("ledTX", K::Lamp, gb, 10, 58, 22, 22);
  t.Add("edtRX", K::Edit, gb, 40, 20, 210, 26);
  t.Add("edtTX", K::Edit, gb, 40, 56, 210, 26);
  t.Add("btnGo", K::Button, gb, 262, 14, 150, 64).font = FontSize::Large;
  t.Label(gb, "lblHotKey", "", 262, 84, 150).align = TextAlign::Centre;
  ControlLayout& result = t.Label(gb, "lblResult", "", 424, 8, 170, 66);
  result.font = FontSize::Huge;
  result.align = TextAlign::Centre;
  // The result pictures carry nothing the result text does not say; they stay empty.
  t.Add("Image1", K::Image, gb, 424, 8, 1, 1);
  t.Add("Image2", K::Image, gb, 424, 8, 1, 1);
  // Why the unit failed: the group's last line, across its width.
  ControlLayout& reason = t.Label(gb, "lblReason", "", 10, 106, 876, 14);
  reason.elide = true;
  reason.font = FontSize::Small;
  reason.align = TextAlign::Left;
  t.Label(gb, "lblYield", "", 10, 88, 196, 16).font = FontSize::Small;
  t.Add("btnYieldReset", K::Button, gb, 208, 86, 46, 20).font = FontSize::Small;
  t.Add("edtCaliTime", K::Edit, gb, 448, 82, 80, 24).align = TextAlign::Right;
  t.Label(gb, "lblSec", "sec", 532, 86, 40);
  t.Label(gb, "lblRFPower", "", 606, 16, 112);
  t.Add("ComboRFPower", K::ComboBox, gb, 720, 12, 80, 26);
  t.Add("cbResetRF", K::CheckBox, gb, 606, 44, 280, 20);
  t.Add("cbKeyboardbind", K::CheckBox, gb, 606, 68, 200, 20);
  t.Label(gb, "lbl14", "ID", 606, 94, 40);
  t.Label(gb, "lbl55", "RXSN", 606, 94, 40);
  t.Label(gb, "Label2", "TXSN", 606, 94, 40);
  for (const char* name : {"edtMseDongleAddr", "edtRX_SN", "edtTX_SN"})
    t.Add(name, K::HexEdit, gb, 650, 92, 150, 22).filterHex = false;
}

void EngineeringPage(Table& t) {
  // A window of its own beside the main window, so the operator's layout never moves.
  const std::string page = "spgcntrl1";
  ControlLayout& tabs = t.Add(page, K::TabControl, "Form1", 0, 0, 900, 356, "Engineering");
  tabs.ownWindow = true;
  tabs.shown = false;
  auto tab = [&](const std::string& name, std::string caption = {}) {
    t.Add(name, K::TabPage, page, 0, 0, 750, 300, std::move(caption));
    return name;
  };

  const std::string t1 = tab("stbsht1");
  const std::string special = "gbSpecialCmd";
  t.Add(special, K::Group, t1, 6, 6,
        kSpecialColumnsLeft + kSpecialColumns * kSpecialColumnWidth + 8, 150, "Special Command");
  const char* const labels1[kSpecialColumns] = {
      "RSSIthreshold",  "MSE_SN",         "KBD_SN ",       "CurrentChannelIdx",
      "RSSIChannelIdx", "BindChannelIdx", "GoodChannelCNT"};
  for (int q : {1, 4}) {
    const int y = q == 1 ? 22 : 90;
    t.Button(special, "btnSpecialCmd" + std::to_string(q), 8, y + 18, 110);
    for (int i = 0; i < kSpecialColumns; ++i) {
      const std::string field = "edtSC0" + std::to_string(q) + "_0" + std::to_string(i);
      const int x = kSpecialColumnsLeft + kSpecialColumnWidth * i;
      if (q == 1)
        t.Label(special, "lbl" + field, labels1[i], x, y, kSpecialColumnWidth - 2).font =
            FontSize::Small;
      t.Hex(special, field, x, y + 18);
    }
  }
  t.Label(special, "lblSC04", "Remain KBD ChannelMap Array & Binding Status", kSpecialColumnsLeft,
          90, 600);
  t.Add("gbDirectReg", K::Group, t1, 6, 160, 360, 100, "Direct Reg");
  t.Hex("gbDirectReg", "edtDirectAddr", 8, 24);
  t.Hex("gbDirectReg", "edtDirectData", 56, 24);
  t.Button("gbDirectReg", "btnC_Rd_Direct_Reg", 110, 22, 240);
  t.Button("gbDirectReg", "btnC_Wrt_Direct_Reg", 110, 56, 240);
  t.Add("gbRFIC", K::Group, t1, 382, 160, 360, 100, "RFIC");
  t.Hex("gbRFIC", "edtRFICAddr", 8, 24);
  t.Hex("gbRFIC", "edtRFICData", 56, 24);
  t.Button("gbRFIC", "btnRd_RFIC", 110, 22, 240);
  t.Button("gbRFIC", "btnWrt_RFIC", 110, 56, 240);

  const std::string t3 = tab("stbsht3");
  t.Add("gbTestMode", K::Group, t3, 6, 6, 360, 60);
  t.Label("gbTestMode", "lblTestMode", "(1-12)", 8, 26, 50);
  t.Add("edtTestMode", K::Edit, "gbTestMode", 60, 22, 40, 24);
  t.Button("gbTestMode", "btnC_Combo_Cmd_Set_Test_Mode", 110, 20, 240);
  t.Button(t3, "btnC_JUMP_TO_POR", 6, 80);
  t.Button(t3, "btnC_RELOAD_PARAMETER", 6, 114);

  const std::string rf = tab("shtRF");
  const char* const kinds[][2] = {{"Direct_Reg", "Direct Reg"},
                                  {"EEPROM", "EEPROM"},
                                  {"Index_Reg", "Index Reg"},
                                  {"Sensor", "Sensor"},
                                  {"RFIC", "RFIC"}};
  const char* const fields[][2] = {{"edtRF_DirectRegAddr", "edtRF_DirectRegData"},
                                   {"edtRF_EEPROMAddr", "edtRF_EEPROMData"},
                                   {"edtRF_IndexRegAddr", "edtRF_IndexRegData"},
                                   {"edtRF_SensorAddr", "edtRF_SensorData"},
                                   {"edtRF_RFICAddr", "edtRF_RFICData"}};
  for (int i = 0; i < 5; ++i) {
    const std::string g = std::string("gbRF_") + kinds[i][0];
    t.Add(g, K::Group, rf, 6 + (i % 2) * 250, 6 + (i / 2) * 84, 244, 80, kinds[i][1]);
    t.Hex(g, fields[i][0], 8, 22);
    t.Hex(g, fields[i][1], 8, 50);
    t.Button(g, std::string("btnC_RF_Rd_") + kinds[i][0], 56, 20);
    t.Button(g, std::string("btnC_RF_Wrt_") + kinds[i][0], 56, 48);
  }
  t.Add("gbRF_ACCESS", K::Group, rf, 506, 6, 236, 92, "ACCESS");
  t.Add("rbC_RF_ENTER_ACCESS_WO_LED", K::RadioButton, "gbRF_ACCESS", 8, 20, 224, 22);
  t.Add("rbC_RF_ENTER_ACCESS_W_LED", K::RadioButton, "gbRF_ACCESS", 8, 42, 224, 22);
  t.Add("rbC_RF_LEAVE_ACCESS", K::RadioButton, "gbRF_ACCESS", 8, 64, 224, 22);
  t.Add("gbRF_SETUP_CPI", K::Group, rf, 506, 102, 236, 56, "SETUP CPI");
  t.Add("edtC_RF_SETUP_CPI", K::SpinBox, "gbRF_SETUP_CPI", 8, 22, 50, 24);
  t.Button("gbRF_SETUP_CPI", "btnC_RF_SETUP_CPI", 66, 20, 160);
  t.Add("gbRF_POR", K::Group, rf, 256, 174, 244, 56, "POR");
  t.Button("gbRF_POR", "btnRF_DR_3C", 8, 20, 228);
  t.Add("gbRF_Reload", K::Group, rf, 506, 174, 236, 56, "Fast Reload System Parameter");
  t.Button("gbRF_Reload", "btnRF_DR_3D", 8, 20, 220);

  const std::string ee = tab("sht1");
  const char* const rows[][2] = {
      {"00", "C_DongleMseAd0_AD equ 00d"}, {"01", "C_DongleMseAd1_AD equ 01d"},
      {"02", "C_DongleMseAd2_AD equ 02d"}, {"15", "C_VID_H_AD  equ 15d"},
      {"16", "C_VID_L_AD  equ 16d"},       {"17", "C_PID_H_AD  equ 17d"},
      {"18", "C_PID_L_AD  equ 18d"},       {"19", "C_Str_Length_AD equ 19d"}};
  for (int i = 0; i < 8; ++i) {
    const int x = 6 + (i / 4) * 370, y = 8 + (i % 4) * 32;
    t.Label(ee, std::string("lblEEPROM_") + rows[i][0], rows[i][1], x, y + 4, 190);
    t.Hex(ee, std::string("edtEEPROM_") + rows[i][0], x + 196, y);
    t.Button(ee, std::string("btnEEPROM_R_") + rows[i][0], x + 242, y, 40);
    t.Button(ee, std::string("btnEEPROM_W_") + rows[i][0], x + 286, y, 40);
  }
  const char* const extra[][2] = {{"20", "C_String_AD (20d~42d)"}, {"VID", "VID"}, {"PID", "PID"}};
  for (int i = 0; i < 3; ++i) {
    const int y = 144 + 32 * i;
    t.Label(ee, std::string("lblEEPROM_") + extra[i][0], extra[i][1], 6, y + 4, 190);
    t.Button(ee, std::string("btnEEPROM_R_") + extra[i][0], 248, y, 40);
    t.Button(ee, std::string("btnEEPROM_W_") + extra[i][0], 292, y, 40);
  }

  const std::string device = tab("sht2");
  t.Add("rbKB", K::RadioButton, device, 8, 12, 120, 22);
  t.Add("rbMSE", K::RadioButton, device, 8, 36, 120, 22);
  t.Button(device, "btnUpdateCustKey", 8, 70);

  const std::string settings = tab("sht3");
  t.Button(settings, "btnLoadSetting", 8, 12);
  t.Button(settings, "btnWriteSetting", 8, 46);
  t.Button(settings, "btnSetTX", 8, 80);

  // The failure of the page's last operation, on the strip below every tab's controls.
  t.Label(page, "lblEngResult", "", 10, 332, 880, 20);

  // Every feature report, as it went to and came from the dongle.
  const std::string trace = tab("shtTrace", "HID trace");
  t.Add("lstTrace", K::List, trace, 6, 6, 736, 250).font = FontSize::Fixed;
  t.Button(trace, "btnClearTrace", 6, 262, 120).caption = "Clear";
}
}  // namespace

std::vector<ControlLayout> MainWindowLayout() {
  Table t;
  t.Add("Form1", K::Form, "", 0, 0, 900, 740);
  TopStrip(t);
  Settings(t);
  SerialPanel(t);
  Go(t);
  t.Add("pbSetTX", K::ProgressBar, "Form1", 0, 0, 900, 16);
  // Never shown to an operator.
  EngineeringPage(t);
  t.Add("lstDebug", K::List, "Form1", 0, 0, 10, 10).shown = false;
  t.Add("DevListBox", K::List, "Form1", 0, 0, 10, 10).shown = false;
  std::vector<ControlLayout> rows = t.Take();
  for (ControlLayout& row : rows)
    row.readOnly = (row.kind == K::Edit || row.kind == K::HexEdit) && ShowsOnly(row.name);
  return rows;
}

ScreenPoint PlaceBeside(const ScreenBox& main, int outerWidth, int outerHeight,
                        const ScreenBox& room) {
  constexpr int kGap = 8;
  const int roomRight = room.left + room.width, roomBottom = room.top + room.height;
  int x = main.left + main.width + kGap;
  if (x + outerWidth > roomRight) x = main.left - kGap - outerWidth;
  if (x < room.left) x = roomRight - outerWidth;
  x = std::max(x, room.left);
  const int y = std::max(std::min(main.top, roomBottom - outerHeight), room.top);
  return {x, y};
}

}  // namespace korvel
