#pragma once

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>

namespace korvel {

struct RecordsOptions {
  // empty: production.db here; a postgresql:// URL: the line's record in the fleet database
  std::filesystem::path db;
  std::string since;                         // YYYY-MM-DD, local date; empty for all
  std::optional<std::filesystem::path> csv;  // "-" for the standard output
  std::string station;                       // one station's rows only
  std::string serial;  // one unit (12 hex digits, RX or TX serial) and the settings it got
};

// Lists the production record: one line per unit, or CSV with a header row; with a serial,
// that unit's rows and the TX.ini keys each was written with. Returns the exit code (ExitCode).
int RunRecords(const RecordsOptions& options, std::ostream& out, std::ostream& err);

// A serial as the record keeps it (12 hex digits, capitals), from what an operator types
// ("3557-4b37-0001"); empty when it is not one.
std::string SerialKey(const std::string& typed);

}  // namespace korvel
