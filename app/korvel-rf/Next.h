#pragma once

#include <filesystem>
#include <optional>
#include <ostream>

#include "config/Settings.h"
#include "production/FleetDatabase.h"
#include "production/NumberingLedger.h"

namespace korvel {

// The companion's exit codes.
enum ExitCode {
  kExitDone = 0,
  kExitBadSettings = 1,  // TX.ini cannot be read, is no settings file, or a generator is unsound
  kExitUsage = 2,
  kExitInUse = 3,   // another station holds TX.ini
  kExitRecord = 4,  // the production record cannot be opened, written or read
  kExitListen = 5,  // the line's server cannot listen on the address and port asked for
  kExitFleet = 6,   // the fleet database cannot be reached, or refused
};

// How a verb ends when the record --db names cannot be opened or read: a fleet database's
// URI that must not be used is a usage error, the database itself has its own code.
inline int RecordFailureExit(const std::string& db) {
  if (!IsFleetUrl(db)) return kExitRecord;
  return FleetUrlProblem(db).empty() ? kExitFleet : kExitUsage;
}

struct NextOptions {
  std::filesystem::path ini = kIniFileName;
  int count = 1;
  std::optional<LocalDate> date;
  bool commit = false;
  std::string station;  // as the record names this station; empty: the PC's name
};

// Loads the settings file as the window does; false (after a one-line error) when it cannot
// be read or its generators cannot be parsed. Skipped device entries are warnings.
bool LoadSettingsForCli(const std::filesystem::path& ini, Settings& settings,
                        NumberingLedger& ledger, VidPidTableType& table, std::ostream& err);

// Prints the numbering of the next units as if each passed in turn; with commit, saves the
// advanced generators as "Write Setting" does, holding the file as a station would.
int RunNext(const NextOptions& options, std::ostream& out, std::ostream& err);

}  // namespace korvel
