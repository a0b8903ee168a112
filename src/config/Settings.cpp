#include "config/Settings.h"

#include <algorithm>

#include "config/CompStream.h"
#include "platform/AtomicFile.h"
#include "platform/Text.h"

namespace korvel {

namespace {
constexpr const char* kTX = "TX";
constexpr const char* kDevice = "Device";
constexpr size_t kDeviceKeys = 14;

std::string Replace(std::string s, const std::string& from, const std::string& to) {
  for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
    s.replace(at, from.size(), to);
  return s;
}

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

template <typename T>
bool LoadGenerator(const IniFile& ini, const char* key, T& generator, SettingsLoadReport& report) {
  const std::string value = ini.ReadString(kTX, key, "");
  if (value.empty()) {
    generator = T();
    return true;
  }
  ComponentResult built = TextToComponent(Replace(value, ";", "\r\n"));
  T* typed = dynamic_cast<T*>(built.object.get());
  if (!typed) {
    report.badGenerators.push_back(
        {key, built.error.empty()
                  ? "holds a " + built.object->Class().name + ", not a " + T::ClassInfo().name
                  : built.error});
    generator = T();
    return false;
  }
  generator = std::move(*typed);
  return true;
}
}  // namespace

void RegisterGeneratorClasses() {
  RegisterComponentClass(TProdSN::ClassInfo());
  RegisterComponentClass(TProdRFID::ClassInfo());
}

std::string GeneratorToIniValue(const TPersistentComponent& generator) {
  return Replace(ComponentToText(generator), "\r\n", ";");
}

int64_t HexFieldValue(const std::string& text) {
  int32_t v = 0;
  return ParseHexStrict(text, v) ? int64_t(uint32_t(v)) : 0;
}

void ApplyMissingFileDefaults(Settings& s, Generators& g) {
  s.CustKey1 = kDefaultCustKey1;
  s.CustKey2 = kDefaultCustKey2;
  s.SoftISS = false;
  s.CPI = 0;
  s.PowerSaving = 0;
  s.AutoBind = true;
  s.BTY = ItemIndex(6, kBatteryItems);
  s.VidSet.clear();
  s.PidSet.clear();
  s.PName.clear();
  g = Generators{};
}

SettingsLoadReport LoadSettingsFrom(const IniFile& ini, Settings& s, Generators& g,
                                    VidPidTableType& table) {
  RegisterGeneratorClasses();
  SettingsLoadReport report;
  report.fileFound = true;
  s.MouseOnly = ini.ReadBool(kTX, "MouseOnly", true);
  s.CustKey1 = ItemIndex(ini.ReadInteger(kTX, "CustKey1", kDefaultCustKey1), int(kHotKeyCount));
  s.CustKey2 = ItemIndex(ini.ReadInteger(kTX, "CustKey2", kDefaultCustKey2), int(kHotKeyCount));
  s.SoftISS = ini.ReadBool(kTX, "SoftISS", true);
  s.Delay = ini.ReadInteger(kTX, "Delay", 0);
  // A radio value outside its group checks nothing and leaves the group as it was.
  if (const int32_t cpi = ini.ReadInteger(kTX, "CPI", 0); cpi == 0 || cpi == 1) s.CPI = cpi;
  if (const int32_t w = ini.ReadInteger(kTX, "Wakeup", 0); w == 0 || w == 1) s.Wakeup = w;
  if (const int32_t p = ini.ReadInteger(kTX, "PowerSaving", 0); p >= 0 && p <= 2) s.PowerSaving = p;
  s.TX_Erased = ini.ReadBool(kTX, "TX_Erased", false);
  s.RX_Erased = ini.ReadBool(kTX, "RX_Erased", false);

  for (size_t k = 0; k < kDeviceKeys; ++k) {
    const std::string key = std::to_string(k);
    const std::string value = ini.ReadString(kDevice, key, "0");
    int32_t vid = 0, pid = 0;
    const std::string vidText = value.substr(0, 4);
    const std::string pidText = value.size() > 4 ? value.substr(value.size() - 4) : value;
    if (!ParseHexStrict(vidText, vid) || !ParseHexStrict(pidText, pid)) {
      // The old load stopped here and lost everything after it, counters included.
      report.badDeviceEntries.push_back({key, value});
      continue;
    }
    table[kFixedVidPidEntries + k] = {vid, pid};
  }

  const int32_t bty = ini.ReadInteger(kTX, "BTY", 6);
  s.BTY = ItemIndex(bty >= 0 && bty <= 7 ? bty : 6, kBatteryItems);
  const int32_t vid = ini.ReadInteger(kTX, "VID", 0);
  const int32_t pid = ini.ReadInteger(kTX, "PID", 0);
  s.LRMBinding = ini.ReadBool(kTX, "LRMBinding", false);
  if (vid >= 1 && pid >= 1) {
    s.VidSet = HexText(uint32_t(vid), 4);
    s.PidSet = HexText(uint32_t(pid), 4);
  } else {
    s.VidSet.clear();
    s.PidSet.clear();
  }
  s.PName = ini.ReadString(kTX, "PName", kDefaultPName);
  s.RFPower = ItemIndex(ini.ReadInteger(kTX, "RFPower", 3), kRfPowerItems);
  s.Sleep = std::clamp(ini.ReadInteger(kTX, "Sleep", 56), 0, 200);
  s.WakeupPeriod = std::clamp(ini.ReadInteger(kTX, "WakeupPeriod", 15), 3, 19);
  s.KBind = ini.ReadBool(kTX, "KBind", false);
  s.EnabledMAPX = ini.ReadBool(kTX, "EnabledMAPX", false);
  s.Enabled3204L = ini.ReadBool(kTX, "Enabled3204L", false);
  s.ResetRF = ini.ReadBool(kTX, "ResetRF", true);
  s.KeyboardBindVisible = !s.MouseOnly;

  LoadGenerator(ini, "RXSNINFO", g.RxSN, report);
  LoadGenerator(ini, "TXSNINFO", g.TxSN, report);
  LoadGenerator(ini, "RXRFIDINFO", g.RxRFID, report);
  LoadGenerator(ini, "TXRFIDINFO", g.TxRFID, report);
  return report;
}

SettingsLoadReport LoadSettings(const std::filesystem::path& iniPath, Settings& s, Generators& g,
                                VidPidTableType& table, uint8_t& stagingMode) {
  stagingMode = kStagingLoading;
  SettingsLoadReport report;
  std::string bytes;
  bool missing = false;
  if (ReadWholeFile(iniPath, bytes, missing, report.readError)) {
    report = LoadSettingsFrom(IniFile::FromBytes(bytes), s, g, table);
  } else if (missing) {
    ApplyMissingFileDefaults(s, g);
  }
  stagingMode = kStagingIdle;
  return report;
}

void StoreSettings(IniFile& ini, const Settings& s, Generators& g) {
  ini.WriteInteger(kTX, "CustKey1", s.CustKey1);
  ini.WriteInteger(kTX, "CustKey2", s.CustKey2);
  ini.WriteBool(kTX, "MouseOnly", s.MouseOnly);
  ini.WriteBool(kTX, "SoftISS", s.SoftISS);
  ini.WriteInteger(kTX, "Sleep", s.Sleep);
  ini.WriteInteger(kTX, "WakeupPeriod", s.WakeupPeriod);
  ini.WriteInteger(kTX, "CPI", s.CPI == 0 ? 0 : 1);
  ini.WriteInteger(kTX, "PowerSaving", s.PowerSaving == 0 ? 0 : s.PowerSaving == 1 ? 1 : 2);
  ini.WriteInteger(kTX, "Wakeup", s.Wakeup == 0 ? 0 : 1);
  ini.WriteInteger(kTX, "BTY", s.BTY);
  const int64_t vid = HexFieldValue(s.VidSet), pid = HexFieldValue(s.PidSet);
  if (vid > 0 && pid > 0) {
    ini.WriteInteger(kTX, "VID", int32_t(vid));
    ini.WriteInteger(kTX, "PID", int32_t(pid));
  } else {
    ini.DeleteKey(kTX, "VID");
    ini.DeleteKey(kTX, "PID");
  }
  ini.WriteBool(kTX, "TX_Erased", s.TX_Erased);
  ini.WriteBool(kTX, "RX_Erased", s.RX_Erased);
  ini.WriteString(kTX, "PName", s.PName);
  ini.WriteBool(kTX, "LRMBinding", s.LRMBinding);
  ini.WriteInteger(kTX, "RFPower", s.RFPower);
  ini.WriteBool(kTX, "ResetRF", s.ResetRF);
  ini.WriteInteger(kTX, "Delay", s.Delay);
  ini.WriteBool(kTX, "KBind", s.KBind);
  ini.WriteBool(kTX, "EnabledMAPX", s.EnabledMAPX);
  ini.WriteBool(kTX, "Enabled3204L", s.Enabled3204L);
  // The start of each link-ID sequence moves up to its next ID before it is saved.
  g.RxRFID.SetIncInitRFID(g.RxRFID.NextRFID());
  g.TxRFID.SetIncInitRFID(g.TxRFID.NextRFID());
  ini.WriteString(kTX, "RXSNINFO", GeneratorToIniValue(g.RxSN));
  ini.WriteString(kTX, "TXSNINFO", GeneratorToIniValue(g.TxSN));
  ini.WriteString(kTX, "RXRFIDINFO", GeneratorToIniValue(g.RxRFID));
  ini.WriteString(kTX, "TXRFIDINFO", GeneratorToIniValue(g.TxRFID));
}

WriteResult WriteSettings(const std::filesystem::path& iniPath, const Settings& s, Generators& g,
                          bool settingsWriteBlocked, std::string& error) {
  if (settingsWriteBlocked) return WriteResult::Blocked;
  std::string bytes;
  bool missing = false;
  // A file that is there but unreadable is not overwritten: it holds the counters.
  if (!ReadWholeFile(iniPath, bytes, missing, error) && !missing) return WriteResult::Failed;
  IniFile ini = IniFile::FromBytes(bytes);
  StoreSettings(ini, s, g);
  return ini.Save(iniPath, error) ? WriteResult::Written : WriteResult::Failed;
}

}  // namespace korvel
