// Reading the line's record in the fleet database: its rows (streamed through a cursor, so an
// export of millions of rows stays small), the settings behind a fingerprint, and what became
// of every leased number.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "production/FleetDatabase.h"
#include "production/ProductionRecord.h"

namespace korvel {

// A unit's row as the line keeps it. `row.id` is the database's; `row.station` the station's
// name there; `pc` the PC's name the local record gave it.
struct FleetRow {
  RecordRow row;
  std::string pc;
  int64_t localId = 0;
  std::string recordUid;
  std::string receivedUtc;
};

struct FleetRowFilter {
  std::string since;    // YYYY-MM-DD (local date), empty: all
  std::string station;  // empty: every station
  std::string serial;   // 12 hex digits, RX or TX serial; empty: any
};

// A query's rows through a cursor, a batch at a time (never all in memory), in a transaction
// of their own that writes nothing. `each` gets the batch and a row of it; false stops early.
Status ForEachFetched(PgSession& db, const Phrase& what, const std::string& query,
                      const std::vector<PgParam>& params,
                      const std::function<bool(const PgRows&, int)>& each);

// A unit's row as the local record's columns (kRecordColumns' order, UTC time as the record
// writes it), for a SELECT from korvel.units; and a row of them read back.
std::string FleetRecordColumns();
RecordRow ReadFleetRecordRow(const PgRows& rows, int row);

// Oldest first. `each` returning false stops early.
Status ForEachFleetRow(PgSession& db, const FleetRowFilter& filter,
                       const std::function<bool(const FleetRow&)>& each);
// The TX.ini keys a fingerprint stands for.
Result<std::optional<std::string>> FleetSettingsKeys(PgSession& db, const std::string& fingerprint);

// The record's CSV columns, then the line's own: pc, local_id, record_uid, received_utc.
std::string FleetCsvHeader();
std::string FleetCsvLine(const FleetRow& row);

// A lease and what became of its numbers.
struct LeaseUsage {
  int64_t id = 0;
  std::string series, generator, station, kind, state;
  int64_t lo = 0, hi = 0, size = 0, used = 0;
  std::string leasedUtc, closedUtc;
  std::optional<int64_t> returnedFrom;
  int64_t returned = 0;
};
struct SeriesUsage {
  std::string key;
  int64_t firstValue = 0, nextValue = 0, maxValue = 0, leased = 0, holes = 0;
};
Status ForEachSeries(PgSession& db, const std::function<void(const SeriesUsage&)>& each);
Status ForEachLease(PgSession& db, const std::string& station,
                    const std::function<void(const LeaseUsage&)>& each);
// Of a lease's numbers, those a unit could get (a block of link IDs holds values with a
// reserved byte, and values the high-byte substitution never gives).
int64_t UsableNumbers(const LeaseUsage& lease);
// Why a lease's numbers no unit got are not a hole: returned at close, expired, still held,
// skipped; empty when every usable number was used.
Phrase UnusedReason(const LeaseUsage& lease);

}  // namespace korvel
