#include "production/FleetRecords.h"

#include "production/FleetLink.h"

namespace korvel {

namespace {
constexpr const char* kUtc = "'YYYY-MM-DD\"T\"HH24:MI:SS\"Z\"'";
constexpr int kFetch = 1000;

std::string UtcColumn(const char* column) {
  return std::string("to_char(") + column + " AT TIME ZONE 'UTC', " + kUtc + ")";
}

FleetRow ReadFleetRow(const PgRows& rows, int i) {
  FleetRow f;
  f.row = ReadFleetRecordRow(rows, i);
  f.pc = rows.Text(i, 17);
  f.localId = rows.Int(i, 18);
  f.recordUid = rows.Text(i, 19);
  f.receivedUtc = rows.Text(i, 20);
  return f;
}
}  // namespace

Status ForEachFetched(PgSession& db, const Phrase& what, const std::string& query,
                      const std::vector<PgParam>& params,
                      const std::function<bool(const PgRows&, int)>& each) {
  if (Status begun = db.Begin(); !begun) return begun;
  Status done = db.Exec(what, "DECLARE korvel_rows NO SCROLL CURSOR FOR " + query, params);
  for (bool more = done.Ok(); more;) {
    const Result<PgRows> rows =
        db.Query(what, "FETCH FORWARD " + std::to_string(kFetch) + " FROM korvel_rows");
    if (!rows) {
      done = rows.status;
      break;
    }
    for (int i = 0; i < rows->Count() && more; ++i) more = each(*rows, i);
    more = more && rows->Count() == kFetch;
  }
  // Nothing was written: whatever happened, the transaction only ends.
  db.Rollback();
  return done;
}

std::string FleetRecordColumns() {
  return "id, " + UtcColumn("time_utc") +
         ", time_local, station, settings_file, result, failed_step, set_tx_ms, rx_serial, "
         "tx_serial, rx_id, tx_id, rx_vid, rx_pid, rx_version, settings_hash, given";
}

RecordRow ReadFleetRecordRow(const PgRows& rows, int i) {
  RecordRow r;
  r.id = rows.Int(i, 0);
  r.timeUtc = rows.Text(i, 1);
  r.timeLocal = rows.Text(i, 2);
  r.station = rows.Text(i, 3);
  r.settingsFile = rows.Text(i, 4);
  r.result = rows.Text(i, 5);
  r.failedStep = rows.Text(i, 6);
  r.ms = rows.Int(i, 7);
  r.numbers = {rows.Text(i, 8), rows.Text(i, 9), rows.Text(i, 10), rows.Text(i, 11)};
  r.rxVid = int(rows.Int(i, 12));
  r.rxPid = int(rows.Int(i, 13));
  r.rxVersion = int(rows.Int(i, 14));
  r.settingsHash = rows.Text(i, 15);
  r.given = rows.Text(i, 16) == "t";
  return r;
}

Status ForEachFleetRow(PgSession& db, const FleetRowFilter& filter,
                       const std::function<bool(const FleetRow&)>& each) {
  const std::string sql =
      "SELECT " + FleetRecordColumns() + ", pc, local_id, record_uid, " + UtcColumn("received_at") +
      " FROM korvel.units WHERE ($1::text = '' OR time_local >= $1::text) AND ($2::text = '' OR "
      "station = $2::text) AND ($3::text = '' OR rx_serial = $3::text OR tx_serial = $3::text) "
      "ORDER BY id";
  return ForEachFetched(db, Phrase::Literal("the line's rows"), sql,
                        {filter.since, filter.station, filter.serial},
                        [&each](const PgRows& rows, int i) { return each(ReadFleetRow(rows, i)); });
}

Result<std::optional<std::string>> FleetSettingsKeys(PgSession& db,
                                                     const std::string& fingerprint) {
  const Result<PgRows> rows =
      db.Query(Phrase::Literal("the settings"),
               "SELECT keys FROM korvel.settings WHERE fingerprint = $1::text", {fingerprint});
  if (!rows) return rows.status;
  if (rows->Count() == 0) return std::optional<std::string>();
  return std::optional<std::string>(rows->Text(0, 0));
}

std::string FleetCsvHeader() {
  std::string header = RecordCsvHeader();
  return header.substr(0, header.size() - 2) + ",pc,local_id,record_uid,received_utc\r\n";
}

std::string FleetCsvLine(const FleetRow& f) {
  std::string line = RecordCsvLine(f.row);
  line.resize(line.size() - 2);
  for (const std::string& field : {f.pc, std::to_string(f.localId), f.recordUid, f.receivedUtc})
    line += "," + CsvField(field);
  return line + "\r\n";
}

Status ForEachSeries(PgSession& db, const std::function<void(const SeriesUsage&)>& each) {
  const Result<PgRows> rows = db.Query(
      Phrase::Literal("the series"),
      "SELECT key, first_value, next_value, max_value, leased, holes FROM korvel.series_usage "
      "ORDER BY key");
  if (!rows) return rows.status;
  for (int i = 0; i < rows->Count(); ++i)
    each({rows->Text(i, 0), rows->Int(i, 1), rows->Int(i, 2), rows->Int(i, 3), rows->Int(i, 4),
          rows->Int(i, 5)});
  return {};
}

Status ForEachLease(PgSession& db, const std::string& station,
                    const std::function<void(const LeaseUsage&)>& each) {
  const Result<PgRows> rows =
      db.Query(Phrase::Literal("the leases"),
               "SELECT id, series, generator, station, kind, state, lo, hi, size, used, " +
                   UtcColumn("leased_at") + ", " + UtcColumn("closed_at") +
                   ", returned_from, returned_count FROM korvel.lease_usage WHERE $1::text = '' OR "
                   "station = $1::text ORDER BY series, lo, id",
               {station});
  if (!rows) return rows.status;
  for (int i = 0; i < rows->Count(); ++i) {
    LeaseUsage l;
    l.id = rows->Int(i, 0);
    l.series = rows->Text(i, 1);
    l.generator = rows->Text(i, 2);
    l.station = rows->Text(i, 3);
    l.kind = rows->Text(i, 4);
    l.state = rows->Text(i, 5);
    l.lo = rows->Int(i, 6);
    l.hi = rows->Int(i, 7);
    l.size = rows->Int(i, 8);
    l.used = rows->Int(i, 9);
    l.leasedUtc = rows->Text(i, 10);
    l.closedUtc = rows->Text(i, 11);
    if (!rows->IsNull(i, 12)) l.returnedFrom = rows->Int(i, 12);
    l.returned = rows->Int(i, 13);
    each(l);
  }
  return {};
}

int64_t UsableNumbers(const LeaseUsage& lease) {
  const bool linkIds = lease.generator == "RXRFID" || lease.generator == "TXRFID";
  if (lease.kind != "block" || !linkIds) return lease.size;
  int64_t usable = 0;
  for (int64_t c = lease.lo;;) {
    const int64_t id = CustomLinkIdFrom(c);
    if (id < 0 || id > lease.hi) return usable;
    ++usable;
    c = id + 1;
  }
}

Phrase UnusedReason(const LeaseUsage& lease) {
  if (lease.kind == "skipped")
    return Say("{0} skipped: a station's start value was above the counter", lease.size);
  const int64_t unused = UsableNumbers(lease) - lease.used;
  if (unused <= 0) return {};
  if (lease.state == "expired") return Say("{0} unused: the lease expired", unused);
  if (lease.state == "held") return Say("{0} not used yet: the station holds them", unused);
  // Returned: the tail it gave back, and numbers below it whose rows are still on their way.
  const int64_t missing = unused - lease.returned;
  if (missing <= 0) return Say("{0} returned unused at close", lease.returned);
  if (lease.returned == 0) return Say("{0} not in the database yet: rows on their way", missing);
  return Say("{0}; {1}", Say("{0} returned unused at close", lease.returned),
             Say("{0} not in the database yet: rows on their way", missing));
}

}  // namespace korvel
