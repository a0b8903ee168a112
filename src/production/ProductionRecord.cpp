#include "production/ProductionRecord.h"

#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <iterator>

#include "platform/Text.h"

namespace korvel {

namespace {
constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS units(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  time_utc TEXT NOT NULL,
  time_local TEXT NOT NULL,
  station TEXT NOT NULL,
  settings_file TEXT NOT NULL,
  result TEXT NOT NULL CHECK(result IN ('RUNNING', 'PASS', 'FAIL')),
  failed_step TEXT NOT NULL DEFAULT '',
  set_tx_ms INTEGER NOT NULL DEFAULT 0,
  rx_serial TEXT, tx_serial TEXT, rx_id TEXT, tx_id TEXT,
  rx_vid INTEGER, rx_pid INTEGER, rx_version INTEGER,
  settings_hash TEXT NOT NULL,
  given INTEGER NOT NULL DEFAULT 0 CHECK(given IN (0, 1)));
CREATE UNIQUE INDEX IF NOT EXISTS given_rx_serial ON units(rx_serial)
  WHERE given = 1 AND rx_serial IS NOT NULL;
CREATE UNIQUE INDEX IF NOT EXISTS given_tx_serial ON units(tx_serial)
  WHERE given = 1 AND tx_serial IS NOT NULL;
CREATE UNIQUE INDEX IF NOT EXISTS given_rx_id ON units(rx_id)
  WHERE given = 1 AND rx_id IS NOT NULL;
CREATE UNIQUE INDEX IF NOT EXISTS given_tx_id ON units(tx_id)
  WHERE given = 1 AND tx_id IS NOT NULL;
CREATE INDEX IF NOT EXISTS units_by_station ON units(station, settings_file, given);
CREATE INDEX IF NOT EXISTS units_by_time ON units(time_local);
)sql";

constexpr const char* kColumns =
    "id, time_utc, time_local, station, settings_file, result, failed_step, set_tx_ms, "
    "rx_serial, tx_serial, rx_id, tx_id, rx_vid, rx_pid, rx_version, settings_hash, given";

// A prepared statement that finalizes itself.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr); }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  bool Ok() const { return stmt_ != nullptr; }
  sqlite3_stmt* get() { return stmt_; }
  // Empty text binds NULL: a number the unit does not get.
  void Text(int at, const std::string& text, bool emptyIsNull = false) {
    if (emptyIsNull && text.empty())
      sqlite3_bind_null(stmt_, at);
    else
      sqlite3_bind_text(stmt_, at, text.c_str(), int(text.size()), SQLITE_TRANSIENT);
  }
  void Int(int at, int64_t v) { sqlite3_bind_int64(stmt_, at, v); }
  int Step() { return sqlite3_step(stmt_); }
  std::string Column(int at) {
    const unsigned char* t = sqlite3_column_text(stmt_, at);
    return t ? reinterpret_cast<const char*>(t) : "";
  }
  int64_t ColumnInt(int at) { return sqlite3_column_int64(stmt_, at); }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

RecordRow ReadRow(Statement& s) {
  RecordRow r;
  r.id = s.ColumnInt(0);
  r.timeUtc = s.Column(1);
  r.timeLocal = s.Column(2);
  r.station = s.Column(3);
  r.settingsFile = s.Column(4);
  r.result = s.Column(5);
  r.failedStep = s.Column(6);
  r.ms = s.ColumnInt(7);
  r.numbers = {s.Column(8), s.Column(9), s.Column(10), s.Column(11)};
  r.rxVid = int(s.ColumnInt(12));
  r.rxPid = int(s.ColumnInt(13));
  r.rxVersion = int(s.ColumnInt(14));
  r.settingsHash = s.Column(15);
  r.given = s.ColumnInt(16) != 0;
  return r;
}

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}
}  // namespace

ProductionRecord::ProductionRecord()
    : clock_([] {
        return int64_t(std::chrono::duration_cast<std::chrono::seconds>(
                           std::chrono::system_clock::now().time_since_epoch())
                           .count());
      }) {}

ProductionRecord::~ProductionRecord() {
  Close();
}

std::string ProductionRecord::LocalText(int64_t seconds) {
  return FormatTime(LocalTimeParts(seconds), "%Y-%m-%d %H:%M:%S");
}

std::string ProductionRecord::UtcText(int64_t seconds) {
  return FormatTime(UtcTimeParts(seconds), "%Y-%m-%dT%H:%M:%SZ");
}

Phrase ProductionRecord::Error(const Phrase& what) const {
  if (!db_) return Say("{0} {1}: no database", what, path_.string());
  return Say("{0} {1}: {2} (SQLite {3})", what, path_.string(), sqlite3_errmsg(db_),
             sqlite3_extended_errcode(db_));
}

bool ProductionRecord::Exec(const char* sql, Phrase& error) {
  char* message = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
  error = Say("production record {0}: {1} (SQLite {2})", path_.string(),
              message ? message : "error", sqlite3_extended_errcode(db_));
  sqlite3_free(message);
  return false;
}

bool ProductionRecord::OpenFile(const std::filesystem::path& path, int flags, Phrase& error) {
  Close();
  path_ = path;
  // SQLite takes UTF-8 names on every system.
  const std::u8string utf8 = path.u8string();
  const std::string name(reinterpret_cast<const char*>(utf8.data()), utf8.size());
  const int rc = sqlite3_open_v2(name.c_str(), &db_, flags, nullptr);
  if (rc != SQLITE_OK) {
    error = Say("cannot open the production record {0}: {1}", path.string(),
                db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc));
    Close();
    return false;
  }
  sqlite3_extended_result_codes(db_, 1);
  sqlite3_busy_timeout(db_, busyMs_);
  return true;
}

bool ProductionRecord::OpenToRead(const std::filesystem::path& path, Phrase& error) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) {
    error = Say("there is no production record at {0}", path.string());
    return false;
  }
  if (!OpenFile(path, SQLITE_OPEN_READWRITE, error)) return false;
  Statement table(db_, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'units'");
  if (!table.Ok() || table.Step() != SQLITE_ROW) {
    error = table.Ok()
                ? Say("{0} is not a production record", path.string())
                : Say("{0} is not a production record: {1}", path.string(), sqlite3_errmsg(db_));
    Close();
    return false;
  }
  return true;
}

bool ProductionRecord::Open(const std::filesystem::path& path, Phrase& error) {
  if (!OpenFile(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, error)) return false;
  if (sqlite3_db_readonly(db_, "main") == 1) {
    error = Say("the production record {0} is read-only", path.string());
    Close();
    return false;
  }
  // WAL: readers (the companion's listing) never block the station's writes.
  Statement wal(db_, "PRAGMA journal_mode=WAL");
  if (!wal.Ok() || wal.Step() != SQLITE_ROW) {
    error = Error(Say("cannot use the production record"));
    Close();
    return false;
  }
  if (!Exec("PRAGMA synchronous=FULL", error) || !Exec(kSchema, error)) {
    Close();
    return false;
  }
  return true;
}

void ProductionRecord::Close() {
  if (db_) sqlite3_close_v2(db_);
  db_ = nullptr;
}

void ProductionRecord::SetBusyTimeout(int ms) {
  busyMs_ = ms;
  if (db_) sqlite3_busy_timeout(db_, ms);
}

std::optional<GivenNumber> ProductionRecord::FindGiven(const RecordNumbers& n, Phrase& error) {
  const std::pair<const char*, const std::string*> checks[] = {{"rx_serial", &n.rxSerial},
                                                               {"tx_serial", &n.txSerial},
                                                               {"rx_id", &n.rxId},
                                                               {"tx_id", &n.txId}};
  const Phrase names[] = {Say("RX serial"), Say("TX serial"), Say("RX link ID"), Say("TX link ID")};
  for (size_t i = 0; i < 4; ++i) {
    if (checks[i].second->empty()) continue;
    const std::string sql = std::string("SELECT ") + kColumns + " FROM units WHERE given = 1 AND " +
                            checks[i].first + " = ?1 LIMIT 1";
    Statement s(db_, sql.c_str());
    if (!s.Ok()) {
      error = Error(Say("cannot read the production record"));
      return std::nullopt;
    }
    s.Text(1, *checks[i].second);
    const int rc = s.Step();
    if (rc == SQLITE_ROW)
      return GivenNumber{NumberKind(i), names[i], *checks[i].second, ReadRow(s)};
    if (rc != SQLITE_DONE) {
      error = Error(Say("cannot read the production record"));
      return std::nullopt;
    }
  }
  return std::nullopt;
}

std::optional<RecordRow> ProductionRecord::LastGiven(const std::string& station,
                                                     const std::string& settingsFile,
                                                     Phrase& error) {
  const std::string sql = std::string("SELECT ") + kColumns +
                          " FROM units WHERE given = 1 AND station = ?1 AND settings_file = ?2 "
                          "ORDER BY id DESC LIMIT 1";
  Statement s(db_, sql.c_str());
  if (!s.Ok()) {
    error = Error(Say("cannot read the production record"));
    return std::nullopt;
  }
  s.Text(1, station);
  s.Text(2, settingsFile);
  const int rc = s.Step();
  if (rc == SQLITE_ROW) return ReadRow(s);
  if (rc != SQLITE_DONE) error = Error(Say("cannot read the production record"));
  return std::nullopt;
}

std::optional<int64_t> ProductionRecord::Begin(RecordRow row, Phrase& error) {
  if (!db_) {
    error = Say("the production record is not open");
    return std::nullopt;
  }
  const int64_t now = clock_();
  Statement s(db_,
              "INSERT INTO units(time_utc, time_local, station, settings_file, result, "
              "rx_serial, tx_serial, rx_id, tx_id, rx_vid, rx_pid, rx_version, settings_hash) "
              "VALUES(?1, ?2, ?3, ?4, 'RUNNING', ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12)");
  if (!s.Ok()) {
    error = Error(Say("cannot write the production record"));
    return std::nullopt;
  }
  s.Text(1, UtcText(now));
  s.Text(2, LocalText(now));
  s.Text(3, row.station);
  s.Text(4, row.settingsFile);
  s.Text(5, row.numbers.rxSerial, true);
  s.Text(6, row.numbers.txSerial, true);
  s.Text(7, row.numbers.rxId, true);
  s.Text(8, row.numbers.txId, true);
  s.Int(9, row.rxVid);
  s.Int(10, row.rxPid);
  s.Int(11, row.rxVersion);
  s.Text(12, row.settingsHash);
  if (s.Step() != SQLITE_DONE) {
    error = Error(Say("cannot write the production record"));
    return std::nullopt;
  }
  return sqlite3_last_insert_rowid(db_);
}

bool ProductionRecord::Finish(int64_t id, const std::string& result, const std::string& failedStep,
                              int64_t ms, bool given, Phrase& error) {
  if (!db_) {
    error = Say("the production record is not open");
    return false;
  }
  Statement s(db_,
              "UPDATE units SET result = ?2, failed_step = ?3, set_tx_ms = ?4, given = ?5 "
              "WHERE id = ?1");
  if (!s.Ok()) {
    error = Error(Say("cannot write the production record"));
    return false;
  }
  s.Int(1, id);
  s.Text(2, result);
  s.Text(3, failedStep);
  s.Int(4, ms);
  s.Int(5, given ? 1 : 0);
  if (s.Step() != SQLITE_DONE || sqlite3_changes(db_) != 1) {
    error = Error(Say("cannot write the production record"));
    return false;
  }
  return true;
}

int ProductionRecord::CloseInterrupted(const std::string& station, const std::string& settingsFile,
                                       Phrase& error) {
  Statement s(db_,
              "UPDATE units SET result = 'FAIL', failed_step = 'interrupted: the station stopped "
              "while the unit was written' WHERE result = 'RUNNING' AND station = ?1 AND "
              "settings_file = ?2");
  if (!s.Ok()) {
    error = Error(Say("cannot write the production record"));
    return -1;
  }
  s.Text(1, station);
  s.Text(2, settingsFile);
  if (s.Step() != SQLITE_DONE) {
    error = Error(Say("cannot write the production record"));
    return -1;
  }
  return sqlite3_changes(db_);
}

bool ProductionRecord::CountToday(const std::string& station, const std::string& settingsFile,
                                  int& pass, int& fail, Phrase& error) {
  const std::string day = LocalText(clock_()).substr(0, 10);
  Statement s(db_,
              "SELECT result, COUNT(*) FROM units WHERE station = ?1 AND settings_file = ?2 AND "
              "substr(time_local, 1, 10) = ?3 GROUP BY result");
  if (!s.Ok()) {
    error = Error(Say("cannot read the production record"));
    return false;
  }
  s.Text(1, station);
  s.Text(2, settingsFile);
  s.Text(3, day);
  pass = fail = 0;
  int rc = SQLITE_ROW;
  while ((rc = s.Step()) == SQLITE_ROW) {
    if (s.Column(0) == "PASS") pass = int(s.ColumnInt(1));
    if (s.Column(0) == "FAIL") fail = int(s.ColumnInt(1));
  }
  if (rc != SQLITE_DONE) {
    error = Error(Say("cannot read the production record"));
    return false;
  }
  return true;
}

bool ProductionRecord::Rows(const std::string& since, std::vector<RecordRow>& rows, Phrase& error) {
  const std::string sql =
      std::string("SELECT ") + kColumns + " FROM units WHERE time_local >= ?1 ORDER BY id";
  Statement s(db_, sql.c_str());
  if (!s.Ok()) {
    error = Error(Say("cannot read the production record"));
    return false;
  }
  s.Text(1, since);
  int rc = SQLITE_ROW;
  while ((rc = s.Step()) == SQLITE_ROW) rows.push_back(ReadRow(s));
  if (rc != SQLITE_DONE) {
    error = Error(Say("cannot read the production record"));
    return false;
  }
  return true;
}

std::string RecordCsvHeader() {
  return "id,time_utc,time_local,station,settings_file,result,failed_step,set_tx_ms,rx_serial,"
         "tx_serial,rx_id,tx_id,rx_vid,rx_pid,rx_version,settings_hash,given\r\n";
}

std::string RecordCsvLine(const RecordRow& r) {
  auto hex4 = [](int v) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", unsigned(v) & 0xFFFF);
    return std::string(text);
  };
  const std::string fields[] = {
      std::to_string(r.id), r.timeUtc,          r.timeLocal,       r.station,
      r.settingsFile,       r.result,           r.failedStep,      std::to_string(r.ms),
      r.numbers.rxSerial,   r.numbers.txSerial, r.numbers.rxId,    r.numbers.txId,
      hex4(r.rxVid),        hex4(r.rxPid),      hex4(r.rxVersion), r.settingsHash,
      r.given ? "1" : "0"};
  std::string line;
  for (size_t i = 0; i < std::size(fields); ++i) line += (i ? "," : "") + CsvField(fields[i]);
  return line + "\r\n";
}

}  // namespace korvel
