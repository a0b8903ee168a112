#include "config/Settings.h"

#include <algorithm>
#include <cctype>
#include <string_view>

#include "config/SettingsBinding.h"
#include "device/Staging.h"
#include "platform/AtomicFile.h"
#include "platform/CodePage.h"
#include "platform/Text.h"

namespace korvel {

namespace {
constexpr const char* kTX = "TX";
constexpr const char* kDevice = "Device";
constexpr size_t kDeviceKeys = 14;

bool ParseHexStrict(const std::string& s, int32_t& out) {
  uint32_t v = 0;
  if (!ParseHexDigits(s, v)) return false;
  out = int32_t(v);
  return true;
}

// An item index as a list control takes it: outside the list, no selection.
int ItemIndex(int32_t value, int count) {
  return value >= 0 && value < count ? value : -1;
}

int& IntOf(Settings& s, const SettingBinding& b) {
  return s.*std::get<int Settings::*>(b.field);
}
bool& BoolOf(Settings& s, const SettingBinding& b) {
  return s.*std::get<bool Settings::*>(b.field);
}
// A text key as the file holds it: code page bytes, or UTF-8 from an earlier version of this
// tool, which kept the window's text as it stood. Code page text that is also valid UTF-8 with
// a character beyond ASCII ("Ã©") is not a name anyone gives a product.
std::string TextFromFile(const std::string& bytes) {
  const bool ascii =
      std::all_of(bytes.begin(), bytes.end(), [](char c) { return uint8_t(c) < 0x80; });
  if (!ascii && DecodeUtf8(bytes)) return bytes;
  return FromCodePage(bytes);
}

std::string& TextOf(Settings& s, const SettingBinding& b) {
  return s.*std::get<std::string Settings::*>(b.field);
}

// A value from the file (or, with no file, the binding's noFile value) as the control takes it.
void Take(Settings& s, const SettingBinding& b, int32_t v) {
  switch (b.kind) {
    case SettingKind::Index:
      IntOf(s, b) = ItemIndex(v, b.high + 1);
      break;
    case SettingKind::Battery: {
      // An index the list does not have (the default 6 among them) stages what its second
      // item stages; the list shows that item, so the window shows what the unit gets.
      const int index = ItemIndex(v >= b.low && v <= b.high ? v : b.def, kBatteryItems);
      IntOf(s, b) = index < 0 ? kBatteryUnlistedItem : index;
      break;
    }
    case SettingKind::Flag:
    case SettingKind::Pair:
      BoolOf(s, b) = v != 0;
      break;
    case SettingKind::Choice:
      // A value outside the group checks nothing and leaves the group as it was.
      if (v >= b.low && v <= b.high) IntOf(s, b) = v;
      break;
    case SettingKind::Number:
      IntOf(s, b) = std::clamp(v, b.low, b.high);
      break;
    case SettingKind::Memory:
      IntOf(s, b) = v;
      break;
    case SettingKind::Text:
    case SettingKind::HexId:
      break;  // not numbers
  }
}
}  // namespace

int64_t HexFieldValue(const std::string& text) {
  int32_t v = 0;
  return ParseHexStrict(text, v) ? int64_t(uint32_t(v)) : 0;
}

void ApplyMissingFileDefaults(Settings& s) {
  for (const SettingBinding& b : SettingBindings()) {
    if (b.noFile == kKeep) continue;
    if (b.kind == SettingKind::Text || b.kind == SettingKind::HexId)
      TextOf(s, b).clear();
    else
      Take(s, b, b.noFile);
  }
}

SettingsLoadReport LoadSettingsFrom(const IniFile& ini, Settings& s, VidPidTableType& table,
                                    IniPart* more) {
  SettingsLoadReport report;
  report.fileFound = true;
  std::vector<std::pair<const SettingBinding*, int32_t>> ids;  // VID and PID: both or neither
  for (const SettingBinding& b : SettingBindings()) {
    if (!b.key) continue;
    if (b.kind == SettingKind::Text)
      TextOf(s, b) = TextFromFile(ini.ReadString(kTX, b.key, b.defText));
    else if (b.kind == SettingKind::HexId)
      ids.emplace_back(&b, ini.ReadInteger(kTX, b.key, b.def));
    else if (b.kind == SettingKind::Flag || b.kind == SettingKind::Pair)
      BoolOf(s, b) = ini.ReadBool(kTX, b.key, b.def != 0);
    else
      Take(s, b, ini.ReadInteger(kTX, b.key, b.def));
  }
  bool bothSet = true;
  for (const auto& [b, v] : ids) bothSet &= v >= 1;
  for (const auto& [b, v] : ids) TextOf(s, *b) = bothSet ? HexText(uint32_t(v), 4) : "";

  for (size_t k = 0; k < kDeviceKeys; ++k) {
    const std::string key = std::to_string(k);
    const std::string value = ini.ReadString(kDevice, key, "0");
    int32_t vid = 0, pid = 0;
    const std::string vidText = value.substr(0, 4);
    const std::string pidText = value.size() > 4 ? value.substr(value.size() - 4) : value;
    if (!ParseHexStrict(vidText, vid) || !ParseHexStrict(pidText, pid)) {
      // The old load stopped here and lost everything after it, counters included.
      report.badDeviceEntries.push_back({key, Phrase::Literal(value)});
      continue;
    }
    table[kFixedVidPidEntries + k] = {vid, pid};
  }
  s.RecordPath = ini.ReadString("Record", "Path", "");
  s.RecordUrl = ini.ReadString("Record", "Url", "");
  s.RecordStation = ini.ReadString("Record", "Station", "");
  // Out of range gives the default: a huge block would leave a huge gap behind a station
  // that stops and never comes back.
  const int32_t lease = ini.ReadInteger("Record", "Lease", kDefaultLease);
  s.RecordLease = lease >= kMinLease && lease <= kMaxLease ? lease : kDefaultLease;
  if (more) more->Load(&ini, report);
  return report;
}

namespace {
// A key or a section header that follows a control character inside a line: the file's
// lines end in something the profile functions do not read as a line end, so its keys would
// be missed and their defaults used.
bool HoldsRunTogetherKeys(std::string_view line) {
  for (size_t i = 0; i < line.size(); ++i) {
    const auto c = uint8_t(line[i]);
    if (c >= 0x20 || c == '\t') continue;
    size_t j = i + 1;
    while (j < line.size() && (uint8_t(line[j]) < 0x20 || line[j] == ' ')) ++j;
    if (j < line.size() && line[j] == '[') return true;
    size_t k = j;
    while (k < line.size() && (std::isalnum(uint8_t(line[k])) || line[k] == '_')) ++k;
    while (k < line.size() && (line[k] == ' ' || line[k] == '\t')) ++k;
    if (k > j && k < line.size() && line[k] == '=') return true;
  }
  return false;
}
}  // namespace

Phrase NotSettingsReason(const std::string& bytes) {
  if (bytes.size() >= 2 && ((uint8_t(bytes[0]) == 0xFF && uint8_t(bytes[1]) == 0xFE) ||
                            (uint8_t(bytes[0]) == 0xFE && uint8_t(bytes[1]) == 0xFF)))
    return Say("it is UTF-16 text; save it as ANSI text");
  if (bytes.find('\0') != std::string::npos) return Say("it is not a text file");
  if (bytes.find_first_not_of(" \t\r\n") == std::string::npos) return {};
  // A file of [Device] entries alone is how an engineer adds receivers: that one is ours.
  const IniFile ini = IniFile::FromBytes(bytes);
  for (size_t i = 0; i < ini.LineCount(); ++i)
    if (HoldsRunTogetherKeys(ini.LineText(i)))
      return Say("line {0} holds several keys: its line ends cannot be read", i + 1);
  if (!ini.HasSection(kTX) && !ini.HasSection(kDevice)) return Say("it has no [TX] section");
  return {};
}

namespace {
Phrase NotSettingsError(const std::filesystem::path& path, const Phrase& why) {
  return Say("{0} is not a settings file ({1}); it was left as it is", path.string(), why);
}
}  // namespace

SettingsLoadReport LoadSettings(const std::filesystem::path& iniPath, Settings& s,
                                VidPidTableType& table, IniPart* more) {
  SettingsLoadReport report;
  const Result<FileContents> read = ReadWholeFile(iniPath);
  if (!read) {
    report.readError = read.status.failure;
  } else if (read->missing) {
    ApplyMissingFileDefaults(s);
    if (more) more->Load(nullptr, report);
  } else if (const Phrase why = NotSettingsReason(read->bytes); !why.empty()) {
    // Taken as "no settings" it would mean serials off and fresh IDs: report it instead.
    report.fileFound = true;
    report.readError = NotSettingsError(iniPath, why);
  } else {
    report = LoadSettingsFrom(IniFile::FromBytes(read->bytes), s, table, more);
  }
  return report;
}

void StoreSettings(IniFile& ini, const Settings& settings, IniPart* more) {
  Settings s = settings;  // the table's fields are reached through a mutable object
  bool bothSet = true;
  for (const SettingBinding& b : SettingBindings())
    if (b.kind == SettingKind::HexId) bothSet &= HexFieldValue(TextOf(s, b)) > 0;
  for (const SettingBinding& b : SettingBindings()) {
    if (!b.key) continue;
    switch (b.kind) {
      case SettingKind::Flag:
      case SettingKind::Pair:
        ini.WriteBool(kTX, b.key, BoolOf(s, b));
        break;
      case SettingKind::Choice: {
        // The last button stands for every value the others do not.
        const int v = IntOf(s, b);
        ini.WriteInteger(kTX, b.key, v >= b.low && v < b.high ? v : b.high);
        break;
      }
      case SettingKind::Text:
        // A text the code page cannot hold leaves the file's value as it is rather than
        // writing it damaged; SettingsNotKept says so.
        if (const CodePageText text = ToCodePage(TextOf(s, b)); text.Ok())
          ini.WriteString(kTX, b.key, text.bytes);
        break;
      case SettingKind::HexId:
        if (bothSet)
          ini.WriteInteger(kTX, b.key, int32_t(HexFieldValue(TextOf(s, b))));
        else
          ini.DeleteKey(kTX, b.key);
        break;
      default:
        ini.WriteInteger(kTX, b.key, IntOf(s, b));
        break;
    }
  }
  if (more) more->Store(ini);
}

Phrase SettingsNotKept(const Settings& settings) {
  Phrase problem = ProductNameBytes(settings.PName).problem;
  if (problem.empty()) return {};
  return Say("The product name was not saved to TX.ini (the file keeps the one it had): {0}",
             std::move(problem));
}

std::string SettingsKeys(const Settings& settings) {
  IniFile ini;
  StoreSettings(ini, settings, nullptr);
  return ini.Bytes();
}

std::string SettingsFingerprint(const Settings& settings) {
  uint64_t hash = 0xcbf29ce484222325ull;
  for (unsigned char c : SettingsKeys(settings)) hash = (hash ^ c) * 0x100000001b3ull;
  return HexText(hash, 16);
}

Result<WriteResult> WriteSettings(const std::filesystem::path& iniPath, const Settings& s,
                                  IniPart* more, bool settingsWriteBlocked) {
  if (settingsWriteBlocked) return WriteResult::Blocked;
  // A file that is there but unreadable is not overwritten: it holds the counters.
  const Result<FileContents> read = ReadWholeFile(iniPath);
  if (!read) return read.status;
  if (const Phrase why = NotSettingsReason(read->bytes); !why.empty())
    return Status::Failed(NotSettingsError(iniPath, why));
  IniFile ini = IniFile::FromBytes(read->bytes);
  if (more)
    if (Phrase refused = more->CheckBeforeStore(ini); !refused.empty())
      return Status::Failed(std::move(refused));
  StoreSettings(ini, s, more);
  if (Status saved = ini.Save(iniPath); !saved) return saved;
  if (more) more->Saved();
  return WriteResult::Written;
}

const std::vector<SettingBinding>& SettingBindings() {
  using K = SettingKind;
  using S = Settings;
  static const std::vector<SettingBinding> bindings = {
      {"CustKey1",
       K::Index,
       {"cbCustKey1"},
       kDefaultCustKey1,
       0,
       int(kHotKeyCount) - 1,
       &S::CustKey1,
       kDefaultCustKey1},
      {"CustKey2",
       K::Index,
       {"cbCustKey2"},
       kDefaultCustKey2,
       0,
       int(kHotKeyCount) - 1,
       &S::CustKey2,
       kDefaultCustKey2},
      {"MouseOnly", K::Pair, {"rbMouseOnly", "rbKbdMse"}, 1, 0, 1, &S::MouseOnly, kKeep},
      {"SoftISS", K::Pair, {"rbRF_DR_15", "rbRF_DR_1A"}, 1, 0, 1, &S::SoftISS, 0},
      {"Sleep", K::Number, {"suiSpinEdit1"}, 56, 0, 200, &S::Sleep, kKeep},
      {"WakeupPeriod", K::Number, {"suiSpinEdit2"}, 15, 3, 19, &S::WakeupPeriod, kKeep},
      {"CPI", K::Choice, {"rbRF_CPI_L", "rbRF_CPI_H"}, 0, 0, 1, &S::CPI, 0},
      {"PowerSaving",
       K::Choice,
       {"rbRF_DR_45", "rbRF_DR_4A", "rbRF_DR_4F"},
       0,
       0,
       2,
       &S::PowerSaving,
       0},
      {"Wakeup", K::Choice, {"rbRF_DR_25", "rbRF_DR_2A"}, 0, 0, 1, &S::Wakeup, kKeep},
      {"BTY", K::Battery, {"cbRF_Set_BTY_Low_Level"}, 6, 0, 7, &S::BTY, 6},
      {"VID", K::HexId, {"edtVID_SET"}, 0, 0, 0, &S::VidSet, 0},
      {"PID", K::HexId, {"edtPID_SET"}, 0, 0, 0, &S::PidSet, 0},
      {"TX_Erased", K::Flag, {"TX_Erased"}, 0, 0, 1, &S::TX_Erased, kKeep},
      {"RX_Erased", K::Flag, {"RX_Erased"}, 0, 0, 1, &S::RX_Erased, kKeep},
      {"PName", K::Text, {"edtEEPROM_20"}, 0, 0, 0, &S::PName, 0, kDefaultPName},
      {"LRMBinding", K::Flag, {"LRMBinding"}, 0, 0, 1, &S::LRMBinding, kKeep},
      {"RFPower", K::Index, {"ComboRFPower"}, 3, 0, kRfPowerItems - 1, &S::RFPower, kKeep},
      {"ResetRF", K::Flag, {"cbResetRF"}, 1, 0, 1, &S::ResetRF, kKeep},
      {"Delay", K::Memory, {}, 0, 0, 0, &S::Delay, kKeep},
      {"KBind", K::Flag, {"cbKeyboardbind"}, 0, 0, 1, &S::KBind, kKeep},
      {"EnabledMAPX", K::Flag, {"CallMAPX"}, 0, 0, 1, &S::EnabledMAPX, kKeep},
      {"Enabled3204L", K::Flag, {"Call3204L"}, 0, 0, 1, &S::Enabled3204L, kKeep},
      // The automatic binding choice is not kept in the file.
      {nullptr, K::Pair, {"rbRF_DR_5A", "rbRF_DR_55"}, 1, 0, 1, &S::AutoBind, 1},
  };
  return bindings;
}

}  // namespace korvel
