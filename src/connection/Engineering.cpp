// The engineering page's operations. The production run and the link check use the same
// operations, so the fields always show what last went to the device.
#include <cstdio>

#include "config/HotKeys.h"
#include "connection/Station.h"
#include "platform/Text.h"
#include "ui/HexField.h"

namespace korvel {

namespace {
struct RfRow {
  const char* kind;  // button name suffix
  const char* addressField;
  const char* dataField;
  uint8_t readCode;
  uint8_t writeCode;  // 0: the EEPROM write with its confirmation
};
const RfRow kRfRows[] = {
    {"Direct_Reg", "edtRF_DirectRegAddr", "edtRF_DirectRegData", C_RF_Rd_Direct_Reg,
     C_RF_Wrt_Direct_Reg},
    {"EEPROM", "edtRF_EEPROMAddr", "edtRF_EEPROMData", C_RF_Rd_EEPROM, 0},
    {"Index_Reg", "edtRF_IndexRegAddr", "edtRF_IndexRegData", C_RF_Rd_Index_Reg,
     C_RF_Wrt_Index_Reg},
    {"Sensor", "edtRF_SensorAddr", "edtRF_SensorData", C_RF_Rd_Sensor, C_RF_Wrt_Sensor},
    {"RFIC", "edtRF_RFICAddr", "edtRF_RFICData", C_RF_Rd_RFIC_TRX5120B, C_RF_Wrt_RFIC_TRX5120B},
};

std::string TwoDigits(int32_t value) {
  return FormatRfByte(value);
}
}  // namespace

std::optional<uint16_t> Station::FieldWord(const std::string& name) {
  const std::optional<int64_t> n = HexFieldNumber(view_[name].text);
  if (!n || *n > 0xFFFF) {
    ui_.ShowMessage("dlgError", "Message",
                    "'" + view_[name].text + "' is not a valid hexadecimal value (" + name + ").");
    return std::nullopt;
  }
  return uint16_t(*n);
}

bool Station::HaveRx() const {
  return device_.DeviceHandle != kNoHandle;
}

void Station::RxDirectRead() {
  if (!HaveRx()) return;
  const auto address = FieldByte("edtDirectAddr");
  if (!address) return;
  view_["edtDirectData"].text = TwoDigits(commands_.ReadDirectRegister(*address));
}

void Station::TransceiverRead() {
  if (!HaveRx()) return;
  const auto address = FieldByte("edtRFICAddr");
  if (!address) return;
  view_["edtRFICData"].text = TwoDigits(commands_.ReadTransceiver(*address));
}

void Station::btnWrt_RFICClick() {
  if (!HaveRx()) return;
  const auto address = FieldByte("edtRFICAddr");
  const auto data = address ? FieldByte("edtRFICData") : std::nullopt;
  if (!data) return;
  commands_.WriteTransceiver(*address, *data);
}

void Station::RfRead(const std::string& kind) {
  for (const RfRow& row : kRfRows) {
    if (kind != row.kind) continue;
    if (!HaveRx()) return;
    const auto address = FieldByte(row.addressField);
    if (!address) return;
    view_[row.dataField].text = TwoDigits(commands_.RfQuery(row.readCode, *address));
  }
}

void Station::RfWrite(const std::string& kind) {
  for (const RfRow& row : kRfRows) {
    if (kind != row.kind) continue;
    if (!HaveRx()) return;
    const auto address = FieldByte(row.addressField);
    const auto data = address ? FieldByte(row.dataField) : std::nullopt;
    if (!data) return;
    if (row.writeCode == 0)
      commands_.RfEepromWrite(*address, *data);
    else
      commands_.RfSend(row.writeCode, *address, *data);
  }
}

void Station::RfDirectAction(const char* data) {
  view_["edtRF_DirectRegAddr"].text = "FF";
  view_["edtRF_DirectRegData"].text = data;
  RfWrite("Direct_Reg");
}

void Station::btnC_RF_SETUP_CPIClick() {
  if (!HaveRx()) return;
  commands_.RfSetupCpi(uint8_t(view_["edtC_RF_SETUP_CPI"].value));
}

void Station::RfAccess(const std::string& choice) {
  if (!HaveRx()) return;
  if (choice == "rbC_RF_ENTER_ACCESS_WO_LED")
    commands_.RfEnterAccess(false);
  else if (choice == "rbC_RF_ENTER_ACCESS_W_LED")
    commands_.RfEnterAccess(true);
  else
    commands_.RfLeaveAccess();
}

void Station::EepromRead(const std::string& address) {
  const std::string field = "edtEEPROM_" + address;
  view_[field].text.clear();
  if (!HaveRx()) return;
  view_[field].text = FormatRegisterHighByte(channel_.ReadRegister(uint8_t(std::stoi(address))));
}

void Station::EepromWrite(const std::string& address) {
  if (!HaveRx()) return;
  const auto value = FieldByte("edtEEPROM_" + address);
  if (!value) return;
  StageRxByte(staging_, uint8_t(std::stoi(address)), *value);
}

void Station::StringRead() {
  view_["edtEEPROM_20"].text.clear();
  if (!HaveRx()) return;
  EepromRead("19");
  const auto length = HexFieldNumber(view_["edtEEPROM_19"].text);
  view_["edtEEPROM_20"].text = UnpackString(
      uint8_t(length.value_or(0)), [this](uint8_t reg) { return channel_.ReadRegister(reg); });
}

void Station::StringWrite() {
  if (!HaveRx()) return;
  const std::string& text = view_["edtEEPROM_20"].text;
  const size_t chars = std::min(text.size(), kMaxStringChars);
  view_["edtEEPROM_19"].text = HexFieldText(int64_t(2 * chars + 2));
  EepromWrite("19");
  StageString(staging_, text);
}

void Station::IdRead(const char* which) {
  const bool vid = std::string(which) == "VID";
  EepromRead(vid ? "15" : "17");
  EepromRead(vid ? "16" : "18");
  view_[vid ? "edtVID_SET" : "edtPID_SET"].text =
      view_[vid ? "edtEEPROM_15" : "edtEEPROM_17"].text +
      view_[vid ? "edtEEPROM_16" : "edtEEPROM_18"].text;
}

void Station::IdWrite(const char* which) {
  const bool vid = std::string(which) == "VID";
  const auto value = FieldWord(vid ? "edtVID_SET" : "edtPID_SET");
  if (!value) return;
  view_[vid ? "edtEEPROM_15" : "edtEEPROM_17"].text = HexFieldText(*value >> 8);
  view_[vid ? "edtEEPROM_16" : "edtEEPROM_18"].text = HexFieldText(*value & 0xFF);
  EepromWrite(vid ? "15" : "17");
  EepromWrite(vid ? "16" : "18");
}

void Station::btnUpdateCustKeyClick() {
  commands_.ApplyCustomKeys();
}

std::string Station::FormatTrace(const HidTraceEvent& event) {
  char head[48];
  std::snprintf(head, sizeof head, "%10llu ms %s ", static_cast<unsigned long long>(event.timeMs),
                event.direction == HidTraceEvent::Direction::Sent ? "->" : "<-");
  std::string line = head;
  for (size_t i = 0; i < event.bytes.size(); ++i)
    line += (i ? " " : "") + HexText(event.bytes[i], 2);
  if (!event.ok) line += "  (failed)";
  return line;
}

void Station::SetTraceSink(std::function<void(const std::string&)> sink) {
  if (!sink) {
    hidAccess_.SetTraceHook(nullptr);
    return;
  }
  hidAccess_.SetTraceHook(
      [sink = std::move(sink)](const HidTraceEvent& event) { sink(FormatTrace(event)); });
}

}  // namespace korvel
