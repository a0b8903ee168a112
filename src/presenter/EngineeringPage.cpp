#include "presenter/EngineeringPage.h"

#include <cstdio>

#include "localization/Lang.h"
#include "platform/CodePage.h"
#include "platform/Text.h"

namespace korvel {

namespace {
struct Fields {
  const char* address;
  const char* data;
};

Fields FieldsOf(RegisterSpace space) {
  switch (space) {
    case RegisterSpace::RxDirect:
      return {"edtDirectAddr", "edtDirectData"};
    case RegisterSpace::RxTransceiver:
      return {"edtRFICAddr", "edtRFICData"};
    case RegisterSpace::TxDirect:
      return {"edtRF_DirectRegAddr", "edtRF_DirectRegData"};
    case RegisterSpace::TxEeprom:
      return {"edtRF_EEPROMAddr", "edtRF_EEPROMData"};
    case RegisterSpace::TxIndex:
      return {"edtRF_IndexRegAddr", "edtRF_IndexRegData"};
    case RegisterSpace::TxSensor:
      return {"edtRF_SensorAddr", "edtRF_SensorData"};
    case RegisterSpace::TxTransceiver:
      return {"edtRF_RFICAddr", "edtRF_RFICData"};
  }
  return {"edtDirectAddr", "edtDirectData"};
}

// The RF tab's rows by the suffix of their buttons' names.
std::optional<RegisterSpace> TxSpaceOf(const std::string& kind) {
  if (kind == "Direct_Reg") return RegisterSpace::TxDirect;
  if (kind == "EEPROM") return RegisterSpace::TxEeprom;
  if (kind == "Index_Reg") return RegisterSpace::TxIndex;
  if (kind == "Sensor") return RegisterSpace::TxSensor;
  if (kind == "RFIC") return RegisterSpace::TxTransceiver;
  return std::nullopt;
}
}  // namespace

std::optional<uint16_t> EngineeringPage::FieldWord(const std::string& name) {
  const std::optional<int64_t> n = HexFieldNumber(view_[name].text);
  if (!n || *n > 0xFFFF) {
    ui_.ShowMessage(
        "dlgError", "Message",
        Words(Say("'{0}' is not a valid hexadecimal value ({1}).", view_[name].text, name)));
    return std::nullopt;
  }
  return uint16_t(*n);
}

std::optional<uint8_t> EngineeringPage::FieldByte(const std::string& name) {
  const auto word = FieldWord(name);
  return word ? std::optional<uint8_t>(uint8_t(*word)) : std::nullopt;
}

void EngineeringPage::Show(const LinkOperation& op) {
  const Fields fields = FieldsOf(op.space);
  switch (op.kind) {
    case LinkOperation::Kind::Read:
      if (!pageOperation_) view_[fields.address].text = HexFieldText(op.address);
      view_[fields.data].text = FormatRfByte(op.value ? *op.value : -1);
      view_[fields.data].color = op.value ? "" : "red";
      break;
    case LinkOperation::Kind::Write:
      if (!pageOperation_) {
        view_[fields.address].text = HexFieldText(op.address);
        view_[fields.data].text = HexFieldText(op.value.value_or(0));
      }
      view_[fields.data].color.clear();
      break;
    case LinkOperation::Kind::CpiSetup:
      view_["edtC_RF_SETUP_CPI"].value = op.value.value_or(0);
      break;
    case LinkOperation::Kind::SpecialAnswer:
      if (op.address != 1 && op.address != 4) break;  // the page has fields for 1 and 4
      for (int i = 0; i < 7; ++i)
        view_["edtSC0" + std::to_string(op.address) + "_0" + std::to_string(i)].text =
            FormatSpecialByte(op.special[size_t(i)]);
      break;
  }
}

void EngineeringPage::ShowStaged(uint8_t reg, uint8_t value) {
  char field[16];
  std::snprintf(field, sizeof field, "edtEEPROM_%02d", reg);
  if (view_.Has(field)) view_[field].text = HexFieldText(value);
}

void EngineeringPage::AccessChosen(AccessChoice choice) {
  if (console_.HaveRx()) Report(console_.Access(choice));
}

void EngineeringPage::Report(const Status& status) {
  ControlState& line = view_["lblEngResult"];
  line.text = Words(status.failure);
  line.color = status.Ok() ? "" : "red";
}

bool EngineeringPage::Click(const std::string& name) {
  // The page's own operations take their parameters from its fields: those stay as typed.
  pageOperation_ = true;
  const bool handled = Handle(name);
  pageOperation_ = false;
  return handled;
}

bool EngineeringPage::Handle(const std::string& name) {
  auto starts = [&](const char* prefix) { return name.rfind(prefix, 0) == 0; };
  auto rest = [&](const char* prefix) { return name.substr(std::string(prefix).size()); };
  const bool rx = console_.HaveRx();
  if (name == "btnSpecialCmd1" || name == "btnSpecialCmd4") {
    // The selector is the last character of the button's name.
    if (rx) Report(console_.Special(uint8_t(name.back() - '0')).status);
  } else if (name == "btnC_Rd_Direct_Reg" || name == "btnRd_RFIC") {
    const bool direct = name == "btnC_Rd_Direct_Reg";
    const auto address = rx ? FieldByte(direct ? "edtDirectAddr" : "edtRFICAddr") : std::nullopt;
    if (address)
      Report(
          console_.Read(direct ? RegisterSpace::RxDirect : RegisterSpace::RxTransceiver, *address)
              .status);
  } else if (name == "btnC_Wrt_Direct_Reg" || name == "btnWrt_RFIC") {
    const bool direct = name == "btnC_Wrt_Direct_Reg";
    const Fields fields = FieldsOf(direct ? RegisterSpace::RxDirect : RegisterSpace::RxTransceiver);
    const auto address = rx ? FieldByte(fields.address) : std::nullopt;
    const auto data = address ? FieldByte(fields.data) : std::nullopt;
    if (data)
      Report(console_.Write(direct ? RegisterSpace::RxDirect : RegisterSpace::RxTransceiver,
                            *address, *data));
  } else if (name == "btnC_JUMP_TO_POR") {
    if (rx) Report(console_.JumpToPor());
  } else if (name == "btnC_RELOAD_PARAMETER") {
    if (rx) Report(console_.Reload());
  } else if (name == "btnUpdateCustKey") {
    if (rx) Report(console_.UpdateCustomKeys());
  } else if (name == "btnC_RF_SETUP_CPI") {
    if (rx) Report(console_.SetupCpi(uint8_t(view_["edtC_RF_SETUP_CPI"].value)));
  } else if (name == "btnRF_DR_3C" || name == "btnRF_DR_3D") {
    // Jump to POR and fast reload: the TX's action register 0xFF takes the action.
    view_["edtRF_DirectRegAddr"].text = "FF";
    view_["edtRF_DirectRegData"].text = name == "btnRF_DR_3C" ? "3C" : "3D";
    RfWrite("Direct_Reg");
  } else if (starts("btnC_RF_Rd_")) {
    RfRead(rest("btnC_RF_Rd_"));
  } else if (starts("btnC_RF_Wrt_")) {
    RfWrite(rest("btnC_RF_Wrt_"));
  } else if (name == "btnEEPROM_R_20") {
    StringRead();
  } else if (name == "btnEEPROM_W_20") {
    StringWrite();
  } else if (name == "btnEEPROM_R_VID" || name == "btnEEPROM_R_PID") {
    IdRead(name.c_str() + 12);
  } else if (name == "btnEEPROM_W_VID" || name == "btnEEPROM_W_PID") {
    IdWrite(name.c_str() + 12);
  } else if (starts("btnEEPROM_R_") && view_.Has("edtEEPROM_" + rest("btnEEPROM_R_"))) {
    (void)EepromRead(rest("btnEEPROM_R_"));  // it shows its own outcome
  } else if (starts("btnEEPROM_W_") && name != "btnEEPROM_W_19" &&
             view_.Has("edtEEPROM_" + rest("btnEEPROM_W_"))) {
    EepromWrite(rest("btnEEPROM_W_"));
  } else {
    return false;
  }
  return true;
}

void EngineeringPage::RfRead(const std::string& kind) {
  const auto space = TxSpaceOf(kind);
  if (!space || !console_.HaveRx()) return;
  const auto address = FieldByte(FieldsOf(*space).address);
  if (address) Report(console_.Read(*space, *address).status);
}

void EngineeringPage::RfWrite(const std::string& kind) {
  const auto space = TxSpaceOf(kind);
  if (!space || !console_.HaveRx()) return;
  const auto address = FieldByte(FieldsOf(*space).address);
  const auto data = address ? FieldByte(FieldsOf(*space).data) : std::nullopt;
  if (data) Report(console_.Write(*space, *address, *data));
}

Result<uint16_t> EngineeringPage::EepromRead(const std::string& address) {
  const std::string field = "edtEEPROM_" + address;
  view_[field].text.clear();
  if (!console_.HaveRx()) return Status::Failed(Say("no RX open"));
  const Result<uint16_t> word = console_.ReadRegister(uint8_t(std::stoi(address)));
  view_[field].text = FormatRegisterHighByte(word ? int32_t(*word) : -1);
  view_[field].color = word ? "" : "red";
  Report(word.status);
  return word;
}

void EngineeringPage::EepromWrite(const std::string& address) {
  if (!console_.HaveRx()) return;
  const auto value = FieldByte("edtEEPROM_" + address);
  if (value) console_.StageRegisterByte(uint8_t(std::stoi(address)), *value);
}

void EngineeringPage::StringRead() {
  view_["edtEEPROM_20"].text.clear();
  settings_.PName.clear();
  if (!console_.HaveRx()) return;
  // A length that could not be read names no text: nothing more is asked.
  const Result<uint16_t> length = EepromRead("19");
  if (!length) return;
  const Result<std::string> text = console_.ReadStringBody(uint8_t(*length >> 8));
  if (text) settings_.PName = view_["edtEEPROM_20"].text = FromCodePage(*text);
  Report(text.status);
}

void EngineeringPage::StringWrite() {
  if (!console_.HaveRx()) return;
  const DescriptorText name = ProductNameBytes(view_["edtEEPROM_20"].text);
  if (!name.problem.empty()) {
    ui_.ShowMessage("dlgError", "Message", Words(name.problem));
    return;
  }
  view_["edtEEPROM_19"].text = HexFieldText(int64_t(2 * name.bytes.size() + 2));
  EepromWrite("19");
  console_.StageStringDescriptor(name.bytes);
}

void EngineeringPage::IdRead(const char* which) {
  const bool vid = std::string(which) == "VID";
  const Result<uint16_t> high = EepromRead(vid ? "15" : "17");
  const Result<uint16_t> low = EepromRead(vid ? "16" : "18");
  // A register that could not be read gives no VID or PID at all, not a made-up one.
  if (console_.HaveRx() && (!high || !low)) {
    Report(high ? low.status : high.status);
    return;
  }
  (vid ? settings_.VidSet : settings_.PidSet) = view_[vid ? "edtVID_SET" : "edtPID_SET"].text =
      view_[vid ? "edtEEPROM_15" : "edtEEPROM_17"].text +
      view_[vid ? "edtEEPROM_16" : "edtEEPROM_18"].text;
}

void EngineeringPage::IdWrite(const char* which) {
  const bool vid = std::string(which) == "VID";
  const auto value = FieldWord(vid ? "edtVID_SET" : "edtPID_SET");
  if (!value) return;
  view_[vid ? "edtEEPROM_15" : "edtEEPROM_17"].text = HexFieldText(*value >> 8);
  view_[vid ? "edtEEPROM_16" : "edtEEPROM_18"].text = HexFieldText(*value & 0xFF);
  EepromWrite(vid ? "15" : "17");
  EepromWrite(vid ? "16" : "18");
}

}  // namespace korvel
