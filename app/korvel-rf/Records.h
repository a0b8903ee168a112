#pragma once

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>

namespace korvel {

struct RecordsOptions {
  std::filesystem::path db;                  // empty: production.db here
  std::string since;                         // YYYY-MM-DD, local date; empty for all
  std::optional<std::filesystem::path> csv;  // "-" for the standard output
};

// Lists the production record: one line per unit, or CSV with a header row. Returns the exit
// code (ExitCode).
int RunRecords(const RecordsOptions& options, std::ostream& out, std::ostream& err);

}  // namespace korvel
