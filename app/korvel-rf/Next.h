#pragma once

#include <filesystem>
#include <optional>
#include <ostream>

#include "config/Settings.h"
#include "production/NumberingLedger.h"

namespace korvel {

struct NextOptions {
  std::filesystem::path ini = kIniFileName;
  int count = 1;
  std::optional<LocalDate> date;
  bool commit = false;
};

// Loads the settings file as the window does; false (after a one-line error) when it cannot
// be read or its generators cannot be parsed. Skipped device entries are warnings.
bool LoadSettingsForCli(const std::filesystem::path& ini, Settings& settings,
                        NumberingLedger& ledger, VidPidTableType& table, std::ostream& err);

// Prints the numbering of the next units as if each passed in turn; with commit, saves the
// advanced generators as "Write Setting" does. Returns the exit code (0 done, 1 bad file).
int RunNext(const NextOptions& options, std::ostream& out, std::ostream& err);

}  // namespace korvel
