// The production record's side of the fleet database: the record's identity, the outbox of
// rows for the database, the leases the station holds, and what a unit's row can tell later.
#include <random>
#include <sstream>

#include "platform/Text.h"
#include "production/ProductionRecord.h"
#include "production/RecordSql.h"

namespace korvel {

namespace {
const char* const kNumberColumns =
    "o.rx_serial_series, o.rx_serial_value, o.tx_serial_series, o.tx_serial_value, "
    "o.rx_id_series, o.rx_id_value, o.tx_id_series, o.tx_id_value";

std::string RandomUid() {
  std::random_device device;
  std::string text;
  for (int i = 0; i < 4; ++i) text += HexText(uint32_t(device()), 8);
  return text;
}

std::string JoinValues(const std::vector<int64_t>& values) {
  std::string text;
  for (size_t i = 0; i < values.size(); ++i) text += (i ? "," : "") + std::to_string(values[i]);
  return text;
}

std::vector<int64_t> SplitValues(const std::string& text) {
  std::vector<int64_t> values;
  std::istringstream in(text);
  std::string part;
  while (std::getline(in, part, ','))
    if (!part.empty()) values.push_back(std::stoll(part));
  return values;
}
}  // namespace

Status ProductionRecord::InTransaction(const std::function<Status()>& body) {
  if (!db_) return Status::Failed(Say("the production record is not open"));
  if (!sqlite3_get_autocommit(db_)) return body();
  // IMMEDIATE: another station sharing the file waits here, not half-way through.
  if (sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
    return Error(Say("cannot write the production record"));
  Status done = body();
  if (done && sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK)
    done = Error(Say("cannot write the production record"));
  if (!done) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  return done;
}

Result<std::string> ProductionRecord::Meta(const std::string& key) {
  Statement s(db_, "SELECT value FROM record_meta WHERE key = ?1");
  if (!s.Ok()) return Error(Say("cannot read the production record"));
  s.Text(1, key);
  const int rc = s.Step();
  if (rc == SQLITE_ROW) return s.Column(0);
  if (rc != SQLITE_DONE) return Error(Say("cannot read the production record"));
  return std::string();
}

Status ProductionRecord::SetMeta(const std::string& key, const std::string& value) {
  Statement s(db_, "INSERT OR REPLACE INTO record_meta(key, value) VALUES(?1, ?2)");
  if (!s.Ok()) return Error(Say("cannot write the production record"));
  s.Text(1, key);
  s.Text(2, value);
  if (s.Step() != SQLITE_DONE) return Error(Say("cannot write the production record"));
  return {};
}

Status ProductionRecord::TakeIdentity() {
  // Two stations sharing the file may both find none: the first one written is the record's.
  Statement make(db_, "INSERT OR IGNORE INTO record_meta(key, value) VALUES('uid', ?1)");
  if (!make.Ok()) return Error(Say("cannot write the production record"));
  make.Text(1, RandomUid());
  if (make.Step() != SQLITE_DONE) return Error(Say("cannot write the production record"));
  const Result<std::string> uid = Meta("uid");
  if (!uid) return uid.status;
  uid_ = *uid;
  return {};
}

Status ProductionRecord::Enqueue(int64_t id, const OutboxEntry& entry) {
  Statement s(db_,
              "INSERT INTO outbox(unit, station, record_uid, rx_serial_series, rx_serial_value, "
              "tx_serial_series, tx_serial_value, rx_id_series, rx_id_value, tx_id_series, "
              "tx_id_value) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11)");
  if (!s.Ok()) return Error(Say("cannot write the production record"));
  s.Int(1, id);
  s.Text(2, entry.station);
  s.Text(3, uid_);
  for (size_t i = 0; i < entry.numbers.size(); ++i) {
    const SeriesNumber& n = entry.numbers[i];
    const int at = 4 + int(i) * 2;
    if (n.value < 0) {
      s.Null(at);
      s.Null(at + 1);
    } else {
      s.Text(at, n.series);
      s.Int(at + 1, n.value);
    }
  }
  if (s.Step() != SQLITE_DONE) return Error(Say("cannot write the production record"));
  return {};
}

Status ProductionRecord::MarkReady(int64_t id, bool durable) {
  // Not worth a disk flush of its own: the next unit's row flushes it with its own, and a
  // mark lost to a power cut is found again when the station starts (the last row only).
  if (!durable && sqlite3_get_autocommit(db_))
    sqlite3_exec(db_, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
  Status result;
  Statement s(db_, "UPDATE outbox SET ready = 1 WHERE unit = ?1");
  if (s.Ok()) s.Int(1, id);
  if (!s.Ok() || s.Step() != SQLITE_DONE) result = Error(Say("cannot write the production record"));
  if (!durable) sqlite3_exec(db_, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr);
  return result;
}

Result<std::vector<std::pair<std::string, std::string>>> ProductionRecord::OutboxSenders() {
  Statement s(db_, "SELECT DISTINCT station, record_uid FROM outbox");
  if (!s.Ok()) return Error(Say("cannot read the production record"));
  std::vector<std::pair<std::string, std::string>> senders;
  int rc = SQLITE_ROW;
  while ((rc = s.Step()) == SQLITE_ROW) senders.emplace_back(s.Column(0), s.Column(1));
  if (rc != SQLITE_DONE) return Error(Say("cannot read the production record"));
  return senders;
}

namespace {
OutboxRow ReadOutboxRow(Statement& s) {
  OutboxRow r;
  r.seq = s.ColumnInt(0);
  r.station = s.Column(1);
  r.recordUid = s.Column(2);
  r.ready = s.ColumnInt(3) != 0;
  r.row = ReadRecordRow(s, 4);
  const int numbers = 4 + kRecordColumnCount;
  for (int i = 0; i < 4; ++i)
    if (!s.ColumnNull(numbers + 2 * i + 1))
      r.numbers[size_t(i)] = {s.Column(numbers + 2 * i), s.ColumnInt(numbers + 2 * i + 1)};
  r.settingsKeys = s.Column(numbers + 8);
  const int64_t shared = s.ColumnInt(numbers + 9);
  r.row.numbers.rxSerialShared = (shared & 1) != 0;
  r.row.numbers.txSerialShared = (shared & 2) != 0;
  return r;
}

std::string OutboxQuery(const char* where) {
  return std::string("SELECT o.seq, o.station, o.record_uid, o.ready, ") + kRecordColumnsOfU +
         ", " + kNumberColumns +
         ", k.keys, u.shared_serials FROM outbox o JOIN units u ON u.id = o.unit "
         "LEFT JOIN settings_keys k ON k.fingerprint = u.settings_hash " +
         where;
}
}  // namespace

Result<std::vector<OutboxRow>> ProductionRecord::OutboxAfter(int64_t seq, int limit) {
  const std::string sql = OutboxQuery("WHERE o.seq > ?1 ORDER BY o.seq LIMIT ?2");
  Statement s(db_, sql.c_str());
  if (!s.Ok()) return Error(Say("cannot read the production record"));
  s.Int(1, seq);
  s.Int(2, limit);
  std::vector<OutboxRow> rows;
  int rc = SQLITE_ROW;
  while ((rc = s.Step()) == SQLITE_ROW) rows.push_back(ReadOutboxRow(s));
  if (rc != SQLITE_DONE) return Error(Say("cannot read the production record"));
  return rows;
}

Result<std::optional<OutboxRow>> ProductionRecord::Queued(int64_t id) {
  const std::string sql = OutboxQuery("WHERE o.unit = ?1");
  Statement s(db_, sql.c_str());
  if (!s.Ok()) return Error(Say("cannot read the production record"));
  s.Int(1, id);
  const int rc = s.Step();
  if (rc == SQLITE_ROW) return std::optional<OutboxRow>(ReadOutboxRow(s));
  if (rc != SQLITE_DONE) return Error(Say("cannot read the production record"));
  return std::optional<OutboxRow>();
}

Result<int64_t> ProductionRecord::OutboxCountAfter(const std::string& station,
                                                   const std::string& recordUid, int64_t seq) {
  Statement s(db_,
              "SELECT COUNT(*) FROM outbox WHERE station = ?1 AND record_uid = ?2 AND seq > ?3");
  if (!s.Ok()) return Error(Say("cannot read the production record"));
  s.Text(1, station);
  s.Text(2, recordUid);
  s.Int(3, seq);
  if (s.Step() != SQLITE_ROW) return Error(Say("cannot read the production record"));
  return s.ColumnInt(0);
}

Status ProductionRecord::SaveLease(const LocalLease& lease) {
  return InTransaction([&]() -> Status {
    Statement s(db_,
                "INSERT INTO fleet_leases(fleet, id, station, series, pool, lo, hi, next, taken, "
                "use_until) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10)");
    if (!s.Ok()) return Error(Say("cannot write the production record"));
    s.Text(1, lease.fleet);
    s.Int(2, lease.id);
    s.Text(3, lease.station);
    s.Text(4, lease.series);
    s.Int(5, lease.pool ? 1 : 0);
    s.Int(6, lease.lo);
    s.Int(7, lease.hi);
    s.Int(8, lease.next);
    s.Text(9, JoinValues(lease.taken));
    s.Int(10, lease.useUntil);
    if (s.Step() != SQLITE_DONE) return Error(Say("cannot write the production record"));
    Statement value(db_, "INSERT INTO fleet_pool(fleet, lease, value) VALUES(?1, ?2, ?3)");
    if (!value.Ok()) return Error(Say("cannot write the production record"));
    for (int64_t v : lease.unused) {
      value.Reset();
      value.Text(1, lease.fleet);
      value.Int(2, lease.id);
      value.Int(3, v);
      if (value.Step() != SQLITE_DONE) return Error(Say("cannot write the production record"));
    }
    return {};
  });
}

Result<std::vector<LocalLease>> ProductionRecord::HeldLeases(const std::string& fleet,
                                                             const std::string& station) {
  Statement s(db_,
              "SELECT id, series, pool, lo, hi, next, taken, use_until FROM fleet_leases "
              "WHERE fleet = ?1 AND station = ?2 AND state = 'held' ORDER BY id");
  if (!s.Ok()) return Error(Say("cannot read the production record"));
  s.Text(1, fleet);
  s.Text(2, station);
  std::vector<LocalLease> leases;
  int rc = SQLITE_ROW;
  while ((rc = s.Step()) == SQLITE_ROW) {
    LocalLease l;
    l.fleet = fleet;
    l.station = station;
    l.id = s.ColumnInt(0);
    l.series = s.Column(1);
    l.pool = s.ColumnInt(2) != 0;
    l.lo = s.ColumnInt(3);
    l.hi = s.ColumnInt(4);
    l.next = s.ColumnInt(5);
    l.taken = SplitValues(s.Column(6));
    l.useUntil = s.ColumnInt(7);
    leases.push_back(std::move(l));
  }
  if (rc != SQLITE_DONE) return Error(Say("cannot read the production record"));
  Statement values(db_,
                   "SELECT value FROM fleet_pool WHERE fleet = ?1 AND lease = ?2 AND used = 0 "
                   "ORDER BY rowid");
  if (!values.Ok()) return Error(Say("cannot read the production record"));
  for (LocalLease& l : leases) {
    if (!l.pool) continue;
    values.Reset();
    values.Text(1, fleet);
    values.Int(2, l.id);
    while ((rc = values.Step()) == SQLITE_ROW) l.unused.push_back(values.ColumnInt(0));
    if (rc != SQLITE_DONE) return Error(Say("cannot read the production record"));
  }
  return leases;
}

Status ProductionRecord::MoveLease(const std::string& fleet, int64_t id, int64_t next) {
  Statement s(db_, "UPDATE fleet_leases SET next = ?3 WHERE fleet = ?1 AND id = ?2");
  if (!s.Ok()) return Error(Say("cannot write the production record"));
  s.Text(1, fleet);
  s.Int(2, id);
  s.Int(3, next);
  if (s.Step() != SQLITE_DONE) return Error(Say("cannot write the production record"));
  return {};
}

Status ProductionRecord::TakePoolValue(const std::string& fleet, int64_t lease, int64_t value) {
  Statement s(db_, "UPDATE fleet_pool SET used = 1 WHERE fleet = ?1 AND lease = ?2 AND value = ?3");
  if (!s.Ok()) return Error(Say("cannot write the production record"));
  s.Text(1, fleet);
  s.Int(2, lease);
  s.Int(3, value);
  if (s.Step() != SQLITE_DONE) return Error(Say("cannot write the production record"));
  return {};
}

Status ProductionRecord::EndLease(const std::string& fleet, int64_t id, const std::string& state) {
  Statement s(db_, "UPDATE fleet_leases SET state = ?3 WHERE fleet = ?1 AND id = ?2");
  if (!s.Ok()) return Error(Say("cannot write the production record"));
  s.Text(1, fleet);
  s.Int(2, id);
  s.Text(3, state);
  if (s.Step() != SQLITE_DONE) return Error(Say("cannot write the production record"));
  return {};
}

Result<std::vector<RecordRow>> ProductionRecord::RowsWithSerial(const std::string& serial) {
  const std::string sql = std::string("SELECT ") + kRecordColumns +
                          " FROM units WHERE rx_serial = ?1 OR tx_serial = ?1 ORDER BY id";
  Statement s(db_, sql.c_str());
  if (!s.Ok()) return Error(Say("cannot read the production record"));
  s.Text(1, serial);
  std::vector<RecordRow> rows;
  int rc = SQLITE_ROW;
  while ((rc = s.Step()) == SQLITE_ROW) rows.push_back(ReadRecordRow(s));
  if (rc != SQLITE_DONE) return Error(Say("cannot read the production record"));
  return rows;
}

Result<std::optional<std::string>> ProductionRecord::SettingsKeysOf(
    const std::string& fingerprint) {
  // A record of an earlier version has no such table: it never kept them.
  Statement table(db_,
                  "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'settings_keys'");
  if (!table.Ok()) return Error(Say("cannot read the production record"));
  if (table.Step() != SQLITE_ROW) return std::optional<std::string>();
  Statement s(db_, "SELECT keys FROM settings_keys WHERE fingerprint = ?1");
  if (!s.Ok()) return Error(Say("cannot read the production record"));
  s.Text(1, fingerprint);
  const int rc = s.Step();
  if (rc == SQLITE_ROW) return std::optional<std::string>(s.Column(0));
  if (rc != SQLITE_DONE) return Error(Say("cannot read the production record"));
  return std::optional<std::string>();
}

}  // namespace korvel
