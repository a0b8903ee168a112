#include "Next.h"

#include <cstdio>

#include "config/SettingsFile.h"
#include "platform/FileLock.h"
#include "production/ProductionRun.h"

namespace korvel {

namespace {
std::string IdText(const TProdRFID& generator, uint32_t id) {
  if (generator.IsRandom()) return "random";
  char text[8];
  std::snprintf(text, sizeof text, "%06X", unsigned(id & kLinkIdMask));
  return text;
}

std::string SnText(const std::string& text) {
  return text.empty() ? "-" : text;
}
}  // namespace

bool LoadSettingsForCli(const std::filesystem::path& ini, Settings& settings,
                        NumberingLedger& ledger, VidPidTableType& table, std::ostream& err) {
  FillFixedVidPids(table);
  const SettingsLoadReport report = LoadSettings(ini, settings, table, &ledger);
  if (!report.readError.empty()) {
    err << "korvel-rf: " << report.readError << "\n";
    return false;
  }
  if (!report.badGenerators.empty()) {
    const auto& bad = report.badGenerators.front();
    err << "korvel-rf: " << ini.string() << ": " << bad.key << ": " << bad.text << "\n";
    return false;
  }
  for (const auto& bad : report.badDeviceEntries)
    err << "korvel-rf: warning: " << ini.string() << ": [Device] " << bad.key << "=" << bad.text
        << " is not an 8-digit VID/PID and was skipped\n";
  return true;
}

int RunNext(const NextOptions& options, std::ostream& out, std::ostream& err) {
  Settings settings;
  NumberingLedger ledger;
  VidPidTableType table{};
  // Committing writes the numbering: only while no station holds the file.
  SettingsFile file(options.ini);
  if (options.commit && !file.Claim("korvel-rf next").Ok()) {
    err << "korvel-rf: " << file.Problem() << "\n";
    return file.HeldElsewhere() ? kExitInUse : kExitBadSettings;
  }
  if (!LoadSettingsForCli(options.ini, settings, ledger, table, err)) return kExitBadSettings;
  if (options.date) {
    const LocalDate date = *options.date;
    ledger.SetDateSource([date] { return date; });
  }
  // Numbers the record already gave are passed over, or stop the listing, as at Go.
  ProductionRecord record;
  const std::filesystem::path folder = file.Target().parent_path();
  const std::filesystem::path configured = settings.RecordPath;
  const std::filesystem::path recordPath = ResolveRecordPath(
      configured.empty() || configured.is_absolute() ? configured : folder / configured, folder);
  std::error_code ec;
  const bool haveRecord = std::filesystem::exists(recordPath, ec);
  if (haveRecord)
    if (const Status opened = record.OpenToRead(recordPath); !opened) {
      err << "korvel-rf: " << opened.failure << "\n";
      return kExitRecord;
    }
  const std::string station = options.station.empty() ? HostName() : options.station;
  const std::string settingsFile = SettingsFileName(file);
  const Generators& g = ledger.Gen();
  for (int unit = 1; unit <= options.count; ++unit) {
    // The same draw and commit as a passed unit in the window.
    UnitNumbers numbers = ledger.Draw();
    if (haveRecord) {
      const Status drawn =
          DrawUnused(ledger, record, station, settingsFile, numbers, [&](const GivenNumber& given) {
            err << "korvel-rf: note: " << given.what << " " << given.value
                << " was already given (record row " << given.row.id << ", " << given.row.timeLocal
                << "); passed over\n";
            return Status();
          });
      if (!drawn) {
        err << "korvel-rf: unit " << unit << ": " << drawn.failure << "\n";
        return kExitBadSettings;
      }
    }
    out << "unit=" << unit << " rxsn=" << SnText(numbers.rxSerialText)
        << " txsn=" << SnText(numbers.txSerialText) << " rxid=" << IdText(g.RxRFID, numbers.rxId)
        << " txid=" << IdText(g.TxRFID, numbers.txId) << "\n";
    ledger.Commit(numbers);
  }
  if (options.commit)
    if (const Result<WriteResult> saved = file.Write(settings, &ledger, false); !saved) {
      err << "korvel-rf: " << saved.status.failure << "\n";
      return kExitBadSettings;
    }
  return kExitDone;
}

}  // namespace korvel
