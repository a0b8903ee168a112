// What the settings controls hold, and its trip to and from TX.ini. The numbering that the
// same file keeps travels beside it through an IniPart, so this layer knows nothing of it.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "config/HotKeys.h"
#include "config/IniFile.h"
#include "device/VidPidTable.h"

namespace korvel {

constexpr const char* kIniFileName = "TX.ini";
constexpr const char* kDefaultPName = "USB 2.4G Wireless Desktop";
constexpr const char* kInitialPName = "123456789A123456789B123456789C123456789D123456";
constexpr int kBatteryItems = 3;
// The item an unlisted battery index shows: it stages the same level byte (0x20).
constexpr int kBatteryUnlistedItem = 1;
constexpr int kRfPowerItems = 4;
// Numbers a station takes from the fleet database at a time, and the bounds of [Record] Lease.
constexpr int kDefaultLease = 100;
constexpr int kMinLease = 1;
constexpr int kMaxLease = 100000;

// The controls' state as the window starts (before any load).
struct Settings {
  int CustKey1 = kDefaultCustKey1;  // cbCustKey1 item index, -1 for none
  int CustKey2 = kDefaultCustKey2;
  bool MouseOnly = true;  // rbMouseOnly, else rbKbdMse
  bool SoftISS = false;   // rbRF_DR_15, else rbRF_DR_1A
  int Sleep = 56;         // suiSpinEdit1, 0..200
  int WakeupPeriod = 15;  // suiSpinEdit2, 3..19
  int CPI = 0;            // 0 rbRF_CPI_L, 1 rbRF_CPI_H
  int PowerSaving = 0;    // 0 rbRF_DR_45, 1 rbRF_DR_4A, 2 rbRF_DR_4F
  int Wakeup = 0;         // 0 rbRF_DR_25, 1 rbRF_DR_2A
  bool AutoBind = true;   // rbRF_DR_5A, else rbRF_DR_55 (not in the file)
  int BTY = 2;            // cbRF_Set_BTY_Low_Level item index, -1 for none
  std::string VidSet;     // edtVID_SET text (hex)
  std::string PidSet;     // edtPID_SET text (hex)
  bool TX_Erased = false;
  bool RX_Erased = false;
  std::string PName = kInitialPName;  // edtEEPROM_20
  bool LRMBinding = false;
  int RFPower = 3;            // ComboRFPower item index, -1 for none
  bool ResetRF = true;        // cbResetRF
  int Delay = 0;              // kept for the file only
  bool KBind = false;         // cbKeyboardbind
  bool EnabledMAPX = false;   // CallMAPX
  bool Enabled3204L = false;  // Call3204L
  // [Record] Path: the production record's file, when not beside TX.ini. Only read.
  std::string RecordPath;
  // [Record] Url: the fleet database (a libpq connection URI), Station: this station's name
  // there (empty: the PC's name and TX.ini's folder), Lease: numbers per block. Only read.
  std::string RecordUrl;
  std::string RecordStation;
  int RecordLease = kDefaultLease;
};

struct SettingsLoadReport {
  struct Problem {
    std::string key;
    Phrase text;  // the offending value, or what went wrong
  };
  bool fileFound = false;
  Phrase readError;  // the file is there but could not be read, or is no settings file
  std::vector<Problem> badDeviceEntries;  // skipped; everything else was loaded
  std::vector<Problem> badGenerators;     // started from their defaults
  bool Clean() const {
    return readError.empty() && badDeviceEntries.empty() && badGenerators.empty();
  }
};

// Keys TX.ini keeps beside the settings, loaded and saved with them in one go.
class IniPart {
 public:
  virtual ~IniPart() = default;
  // From the file; null when there is none. Problems go to the report.
  virtual void Load(const IniFile* ini, SettingsLoadReport& report) = 0;
  // Why the file as it is now must not be written over (empty: it may); asked before Store.
  virtual Phrase CheckBeforeStore(const IniFile& /*ini*/) { return {}; }
  // Written after the settings' own keys.
  virtual void Store(IniFile& ini) = 0;
  // The file holding what Store wrote is on the disk.
  virtual void Saved() {}
};

// Why these bytes cannot be a settings file (empty when they can): not text, UTF-16, or no
// [TX] (nor [Device]) section in a file that is not empty. Such a file is reported and never
// written over.
Phrase NotSettingsReason(const std::string& bytes);

// "Load Setting". A file that exists but cannot be read loads nothing and says so.
SettingsLoadReport LoadSettings(const std::filesystem::path& iniPath, Settings& settings,
                                VidPidTableType& table, IniPart* more);
// The same from an already read file.
SettingsLoadReport LoadSettingsFrom(const IniFile& ini, Settings& settings, VidPidTableType& table,
                                    IniPart* more);
// No file: the defaults a missing file sets; every other setting keeps its value.
void ApplyMissingFileDefaults(Settings& settings);

enum class WriteResult { Written, Blocked };
// "Write Setting": nothing while blocked. The write is atomic; other lines of the file are
// kept, and a file that is there but unreadable is not overwritten (a failure says why).
Result<WriteResult> WriteSettings(const std::filesystem::path& iniPath, const Settings& settings,
                                  IniPart* more, bool settingsWriteBlocked);
// The key writes alone, in the file's order.
void StoreSettings(IniFile& ini, const Settings& settings, IniPart* more);
// What a write of these settings could not keep, for the operator: the product name is kept in
// the system's 8-bit code page, and a name it cannot hold leaves the file's PName as it was.
// Empty when everything is kept.
Phrase SettingsNotKept(const Settings& settings);

// The TX.ini keys a unit is written with (not the numbering), as the file holds them.
std::string SettingsKeys(const Settings& settings);
// A short fingerprint of those keys: 16 hex digits of FNV-1a.
std::string SettingsFingerprint(const Settings& settings);

// A hex edit's value: its text read as hexadecimal, empty (or not hex) as 0.
int64_t HexFieldValue(const std::string& text);

}  // namespace korvel
