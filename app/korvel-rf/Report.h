#pragma once

#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>

namespace korvel {

struct ReportOptions {
  std::string db;  // a record file or a fleet database's URI; empty: production.db here
  std::filesystem::path html;
  std::string since, until;  // YYYY-MM-DD, local dates; empty: the page's defaults
  std::string lang;          // en, zh-TW, zh-CN; empty: English
  int64_t stopAfterSeconds = 600;
};

// The line's page as one file that needs nothing else (its data, scripts and chart library
// inside), to mail or archive. Returns the exit code (ExitCode).
int RunReport(const ReportOptions& options, std::ostream& out, std::ostream& err);

}  // namespace korvel
