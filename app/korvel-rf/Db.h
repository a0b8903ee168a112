#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

namespace korvel {

struct DbOptions {
  std::string verb;  // init, leases
  std::string url;
  std::optional<int64_t> leaseExpirySeconds;  // init: how long a block stays a station's
  std::string station;                        // leases: one station's only
};

// `db init` creates or upgrades the fleet database's tables and roles; `db leases` lists
// every series and lease with what became of its numbers. Returns the exit code (ExitCode).
int RunDb(const DbOptions& options, std::ostream& out, std::ostream& err);

// "3600", "90s", "45m", "24h", "7d" as seconds; nothing when it is none of these.
std::optional<int64_t> ParseDuration(const std::string& text);

}  // namespace korvel
