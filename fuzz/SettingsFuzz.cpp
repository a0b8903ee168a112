// Any bytes as TX.ini: the load must not crash, what it loads must write back and load
// again to the same settings, and a generator must settle after one round.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "config/Settings.h"
#include "production/NumberingLedger.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace korvel;
  const IniFile ini = IniFile::FromBytes(std::string(reinterpret_cast<const char*>(data), size));
  if (ini.Bytes() != std::string(reinterpret_cast<const char*>(data), size))
    std::abort();  // bytes in, bytes out
  Settings settings;
  NumberingLedger ledger;
  VidPidTableType table{};
  const auto first = LoadSettingsFrom(ini, settings, table, &ledger);
  IniFile written = ini;
  StoreSettings(written, settings, &ledger);
  Settings again;
  NumberingLedger ledgerAgain;
  VidPidTableType tableAgain{};
  const auto report =
      LoadSettingsFrom(IniFile::FromBytes(written.Bytes()), again, tableAgain, &ledgerAgain);
  // Writing never makes a generator unsound: the problems after are the ones before (an
  // unreadable or unsound value is kept as it was).
  for (const auto& bad : report.badGenerators) {
    bool before = false;
    for (const auto& old : first.badGenerators) before |= old.key == bad.key;
    if (!before) std::abort();
  }
  if (again.Sleep != settings.Sleep || again.CustKey1 != settings.CustKey1 ||
      again.PName != settings.PName)
    std::abort();
  // A hand-edited generator may settle once (its counts); after that it must stay put.
  IniFile third = IniFile::FromBytes(written.Bytes());
  StoreSettings(third, again, &ledgerAgain);
  Settings last;
  NumberingLedger ledgerLast;
  LoadSettingsFrom(third, last, tableAgain, &ledgerLast);
  if (ComponentToText(ledgerLast.Gen().TxSN) != ComponentToText(ledgerAgain.Gen().TxSN))
    std::abort();
  return 0;
}
