#include "Next.h"

#include <cstdio>

namespace korvel {

namespace {
std::string IdText(const TProdRFID& generator, int32_t id) {
  if (generator.IsRandom()) return "random";
  char text[8];
  std::snprintf(text, sizeof text, "%06X", unsigned(id) & kLinkIdMask);
  return text;
}

std::string SnText(const TProdSN& generator) {
  const std::string text = generator.GetSNText();
  return text.empty() ? "-" : text;
}
}  // namespace

bool LoadSettingsForCli(const std::filesystem::path& ini, Settings& settings,
                        Generators& generators, std::ostream& err) {
  VidPidTableType table{};
  FillFixedVidPids(table);
  uint8_t stagingMode = kStagingLoading;
  const SettingsLoadReport report = LoadSettings(ini, settings, generators, table, stagingMode);
  if (!report.readError.empty()) {
    err << "korvel-rf: " << report.readError << "\n";
    return false;
  }
  if (!report.badGenerators.empty()) {
    const auto& bad = report.badGenerators.front();
    err << "korvel-rf: " << ini.string() << ": " << bad.key << " cannot be read: " << bad.text
        << "\n";
    return false;
  }
  for (const auto& bad : report.badDeviceEntries)
    err << "korvel-rf: warning: " << ini.string() << ": [Device] " << bad.key << "=" << bad.text
        << " is not an 8-digit VID/PID and was skipped\n";
  return true;
}

int RunNext(const NextOptions& options, std::ostream& out, std::ostream& err) {
  Settings settings;
  Generators generators;
  if (!LoadSettingsForCli(options.ini, settings, generators, err)) return 1;

  if (options.date) {
    const LocalDate date = *options.date;
    generators.RxSN.SetDateSource([date] { return date; });
    generators.TxSN.SetDateSource([date] { return date; });
  }
  for (int unit = 1; unit <= options.count; ++unit) {
    const int32_t rxId = generators.RxRFID.NextRFID();
    int32_t txId = generators.TxRFID.NextRFID();
    const bool bothCustom = !generators.RxRFID.IsRandom() && !generators.TxRFID.IsRandom();
    if (bothCustom) txId = int32_t(TxLinkIdFor(uint32_t(rxId), uint32_t(txId)));
    out << "unit=" << unit << " rxsn=" << SnText(generators.RxSN)
        << " txsn=" << SnText(generators.TxSN) << " rxid=" << IdText(generators.RxRFID, rxId)
        << " txid=" << IdText(generators.TxRFID, txId) << "\n";
    generators.RxSN.Commit();
    generators.TxSN.Commit();
    generators.RxRFID.Commit(rxId);
    generators.TxRFID.Commit(txId);
  }
  if (options.commit) {
    std::string error;
    if (WriteSettings(options.ini, settings, generators, false, error) != WriteResult::Written) {
      err << "korvel-rf: " << error << "\n";
      return 1;
    }
  }
  return 0;
}

}  // namespace korvel
