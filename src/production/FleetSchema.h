// The fleet database's tables, their upgrades and the rights of its three roles. Only
// `korvel-rf db init` creates or changes them; a station checks the version and stops on a
// database without them.
#pragma once

#include <cstdint>
#include <optional>

#include "production/FleetDatabase.h"

namespace korvel {

// The schema this program writes and reads.
constexpr int kFleetSchemaVersion = 1;
// The group roles `db init` creates; login users are made members of one of them.
constexpr const char* kFleetStationRole = "korvel_station";
constexpr const char* kFleetReaderRole = "korvel_reader";
constexpr const char* kFleetAdminRole = "korvel_admin";
constexpr int64_t kDefaultLeaseExpirySeconds = 24 * 3600;

// The indexes the line's page reads the units by (local time as the record compares it, a
// unit's key); each db init makes those a database lacks.
constexpr const char* kFleetLineIndexes[] = {"units_by_local_time", "units_by_unit"};

struct FleetInitOptions {
  // How long a block stays a station's before its unused numbers count as unused; nullopt
  // keeps what the database has (a day when it is new).
  std::optional<int64_t> leaseExpirySeconds;
};

struct FleetInitReport {
  int fromVersion = 0;  // 0: the database had no tables of ours
  int toVersion = 0;
};

// Creates or upgrades the schema (each upgrade in one transaction, in order; concurrent runs
// wait for each other), then the indexes that are missing, the roles and their grants.
Result<FleetInitReport> InitFleetDatabase(PgSession& db, const FleetInitOptions& options);

// What a station or a reader finds: the schema's version and the database's own identity.
struct FleetIdentity {
  int version = 0;
  std::string databaseUid;
};
// Fails with "run korvel-rf db init" when the tables are missing or older, and asks for a
// newer program when they are newer.
Result<FleetIdentity> CheckFleetSchema(PgSession& db);

}  // namespace korvel
