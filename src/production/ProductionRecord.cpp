#include "production/ProductionRecord.h"

#include <sqlite3.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iterator>

#include "platform/OsError.h"
#include "platform/Text.h"
#include "production/RecordSql.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

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
  given INTEGER NOT NULL DEFAULT 0 CHECK(given IN (0, 1)),
  shared_serials INTEGER NOT NULL DEFAULT 0);
)sql";

// A serial without an incrementing part is a batch code that every unit of the batch
// carries (bit 1: the RX serial, bit 2: the TX serial): it is kept, but never unique.
constexpr const char* kSharedSerialsColumn =
    "ALTER TABLE units ADD COLUMN shared_serials INTEGER NOT NULL DEFAULT 0";
constexpr const char* kSerialIndexes = R"sql(
CREATE UNIQUE INDEX IF NOT EXISTS given_rx_serial_unshared ON units(rx_serial)
  WHERE given = 1 AND rx_serial IS NOT NULL AND (shared_serials & 1) = 0;
CREATE UNIQUE INDEX IF NOT EXISTS given_tx_serial_unshared ON units(tx_serial)
  WHERE given = 1 AND tx_serial IS NOT NULL AND (shared_serials & 2) = 0;
DROP INDEX IF EXISTS given_rx_serial;
DROP INDEX IF EXISTS given_tx_serial;
)sql";

constexpr const char* kIndexes = R"sql(
CREATE UNIQUE INDEX IF NOT EXISTS given_rx_id ON units(rx_id)
  WHERE given = 1 AND rx_id IS NOT NULL;
CREATE UNIQUE INDEX IF NOT EXISTS given_tx_id ON units(tx_id)
  WHERE given = 1 AND tx_id IS NOT NULL;
CREATE INDEX IF NOT EXISTS units_by_station ON units(station, settings_file, given);
CREATE INDEX IF NOT EXISTS units_by_time ON units(time_local);
CREATE INDEX IF NOT EXISTS units_by_unit ON units(COALESCE(rx_serial, tx_serial, rx_id), time_local);
CREATE TABLE IF NOT EXISTS record_meta(key TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS settings_keys(fingerprint TEXT PRIMARY KEY, keys TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS outbox(
  seq INTEGER PRIMARY KEY AUTOINCREMENT,
  unit INTEGER NOT NULL UNIQUE REFERENCES units(id),
  station TEXT NOT NULL,
  record_uid TEXT NOT NULL,
  ready INTEGER NOT NULL DEFAULT 0,
  rx_serial_series TEXT, rx_serial_value INTEGER,
  tx_serial_series TEXT, tx_serial_value INTEGER,
  rx_id_series TEXT, rx_id_value INTEGER,
  tx_id_series TEXT, tx_id_value INTEGER);
CREATE TABLE IF NOT EXISTS fleet_leases(
  fleet TEXT NOT NULL,
  id INTEGER NOT NULL,
  station TEXT NOT NULL,
  series TEXT NOT NULL,
  pool INTEGER NOT NULL,
  lo INTEGER NOT NULL,
  hi INTEGER NOT NULL,
  next INTEGER NOT NULL,
  taken TEXT NOT NULL DEFAULT '',
  use_until INTEGER NOT NULL,
  state TEXT NOT NULL DEFAULT 'held',
  PRIMARY KEY (fleet, id));
CREATE TABLE IF NOT EXISTS fleet_pool(
  fleet TEXT NOT NULL,
  lease INTEGER NOT NULL,
  value INTEGER NOT NULL,
  used INTEGER NOT NULL DEFAULT 0,
  PRIMARY KEY (fleet, lease, value));
)sql";

namespace fs = std::filesystem;

fs::path FolderOf(const fs::path& path) {
  return path.has_parent_path() ? path.parent_path() : fs::path(".");
}

// A name in a Windows form (drive letter, backslashes) means nothing here: on Linux it would
// become a file of that literal name.
bool ForeignPath(const fs::path& path) {
#ifdef _WIN32
  (void)path;
  return false;
#else
  const std::string text = path.string();
  if (text.find('\\') != std::string::npos) return true;
  for (const fs::path& part : path) {
    const std::string p = part.string();
    if (p.size() >= 2 && std::isalpha(static_cast<unsigned char>(p[0])) && p[1] == ':') return true;
  }
  return false;
#endif
}

// Whether a new file can be made in `folder`: 0, or the OS error that stops it. Asked only
// after SQLite failed, to name the cause.
int CreateError(const fs::path& folder) {
  const fs::path probe = folder / ".production.db-write-check";
#ifdef _WIN32
  HANDLE h = CreateFileW(probe.wstring().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const int code = LastOsError();
    return code == ERROR_FILE_EXISTS ? 0 : code;
  }
  CloseHandle(h);
  return 0;
#else
  const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return errno == EEXIST ? 0 : errno;
  ::close(fd);
  ::unlink(probe.c_str());
  return 0;
#endif
}

bool FileReadOnly(const fs::path& path) {
#ifdef _WIN32
  const DWORD attributes = GetFileAttributesW(path.wstring().c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
#else
  return ::access(path.c_str(), F_OK) == 0 && ::access(path.c_str(), W_OK) != 0;
#endif
}

// Why a record that SQLite could not open or write cannot be written, when the file system
// can tell: a read-only folder or file, a full disk.
Phrase WriteCause(const fs::path& path, int sqliteCode, int osError) {
  if ((sqliteCode & 0xFF) == SQLITE_FULL || IsDiskFullError(osError))
    return Say("the disk is full");
  if (IsReadOnlyFileSystemError(osError)) return Say("the disk is read-only");
  const int folderError = CreateError(FolderOf(path));
  if (IsReadOnlyFileSystemError(folderError)) return Say("the disk is read-only");
  if (folderError != 0 && fs::exists(FolderOf(path)))
    return Say("its folder {0} is read-only for this user ({1})", FolderOf(path).string(),
               OsErrorText(folderError));
  if (FileReadOnly(path)) return Say("the file is read-only for this user");
  return {};
}

// The record as a read-only URI that SQLite takes as it lies (no WAL index, no locks).
std::string ImmutableUri(const fs::path& path) {
  const std::u8string utf8 = path.generic_u8string();
  // "file:/C:/..." on Windows: SQLite drops the slash before a drive letter.
  std::string uri = utf8.size() > 1 && utf8[1] == u8':' ? "file:/" : "file:";
  for (const char8_t c8 : utf8) {
    const auto c = static_cast<unsigned char>(c8);
    if (std::isalnum(c) || std::strchr("/-_.~:", c) != nullptr) {
      uri += char(c);
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      uri += hex;
    }
  }
  return uri + "?immutable=1";
}

}  // namespace

fs::path ResolveRecordPath(const fs::path& configured, const fs::path& defaultFolder) {
  if (configured.empty()) return defaultFolder / kRecordFileName;
  std::error_code ec;
  if (!configured.has_filename() || fs::is_directory(configured, ec))
    return configured / kRecordFileName;
  return configured;
}

Phrase RecordPathProblem(const fs::path& path, bool toWrite) {
  if (ForeignPath(path))
    return Say(
        "{0} is not a path on this system (a Windows path?); give the record's place "
        "as this system writes it",
        path.string());
  std::error_code ec;
  // The station writes beside the record (its WAL): only into a file of its own, never through
  // a link planted in its place.
  if (toWrite && fs::is_symlink(path, ec))
    return Say(
        "{0} is a symbolic link; the record must be a file of the station's own (give "
        "its real place in [Record] Path)",
        path.string());
  const fs::file_status status = fs::status(path, ec);
  if (status.type() == fs::file_type::directory)
    return Say("{0} is a folder, not a production record", path.string());
  if (status.type() != fs::file_type::not_found && status.type() != fs::file_type::regular &&
      status.type() != fs::file_type::none)
    return Say("{0} is a device or another special file, not a production record", path.string());
  if (toWrite && !fs::is_directory(FolderOf(path), ec))
    return Say("the folder {0} does not exist", FolderOf(path).string());
  return {};
}

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

Status ProductionRecord::Error(const Phrase& what) const {
  if (!db_) return Status::Failed(Say("{0} {1}: no database", what, path_.string()));
  const int code = sqlite3_extended_errcode(db_);
  const int os = sqlite3_system_errno(db_);
  const Phrase cause = WriteCause(path_, code, os);
  if (!cause.empty())
    return Status::Failed(Say("{0} {1}: {2} ({3}, SQLite {4})", what, path_.string(), cause,
                              sqlite3_errmsg(db_), code),
                          os);
  return Status::Failed(
      Say("{0} {1}: {2} (SQLite {3})", what, path_.string(), sqlite3_errmsg(db_), code), os);
}

Status ProductionRecord::Exec(const char* sql) {
  if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK) return {};
  return Error(Say("production record"));
}

Status ProductionRecord::OpenFile(const std::filesystem::path& path, int flags) {
  Close();
  path_ = path;
  const bool toWrite = (flags & SQLITE_OPEN_READWRITE) != 0;
  // Named before SQLite sees it: a folder, a device or a foreign name must not become a file.
  if (Phrase problem = RecordPathProblem(path, toWrite); !problem.empty())
    return Status::Failed(Say("cannot open the production record: {0}", problem));
  // SQLite takes UTF-8 names on every system.
  const std::u8string utf8 = path.u8string();
  const std::string name(reinterpret_cast<const char*>(utf8.data()), utf8.size());
  const int rc =
      sqlite3_open_v2(name.c_str(), &db_, toWrite ? flags | SQLITE_OPEN_NOFOLLOW : flags, nullptr);
  if (rc != SQLITE_OK) {
    const int code = db_ ? sqlite3_extended_errcode(db_) : rc;
    const int os = db_ ? sqlite3_system_errno(db_) : 0;
    const std::string said = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    const Phrase cause = toWrite ? WriteCause(path, code, os) : Phrase();
    Close();
    return Status::Failed(
        cause.empty() ? Say("cannot open the production record {0}: {1}", path.string(), said)
                      : Say("cannot open the production record {0}: {1} ({2}, SQLite {3})",
                            path.string(), cause, said, code),
        os);
  }
  sqlite3_extended_result_codes(db_, 1);
  sqlite3_busy_timeout(db_, busyMs_);
  return {};
}

Status ProductionRecord::OpenToRead(const std::filesystem::path& path) {
  std::error_code ec;
  if (Phrase problem = RecordPathProblem(path, false); !problem.empty())
    return Status::Failed(std::move(problem));
  if (!std::filesystem::is_regular_file(path, ec))
    return Status::Failed(Say("there is no production record at {0}", path.string()));
  // Read-only: a listing never changes the record. A record in a folder this user may not
  // write (an archive, a share) has no WAL index to open: read it as it lies.
  auto isRecord = [this] {
    Statement table(db_, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'units'");
    return table.Ok() && table.Step() == SQLITE_ROW;
  };
  if (Status opened = OpenFile(path, SQLITE_OPEN_READONLY); !opened) return opened;
  if (isRecord()) {
    shared_ = HasSharedSerials();
    return {};
  }
  const int code = sqlite3_extended_errcode(db_);
  const std::string said = sqlite3_errmsg(db_);
  if (code != SQLITE_OK && (CreateError(FolderOf(path)) != 0 || FileReadOnly(path))) {
    Close();
    path_ = path;
    if (sqlite3_open_v2(ImmutableUri(path).c_str(), &db_, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI,
                        nullptr) == SQLITE_OK &&
        isRecord()) {
      sqlite3_extended_result_codes(db_, 1);
      shared_ = HasSharedSerials();
      return {};
    }
  }
  Close();
  // No table of units, or a file that is not a database at all.
  return Status::Failed(code == SQLITE_OK
                            ? Say("{0} is not a production record", path.string())
                            : Say("{0} is not a production record: {1}", path.string(), said));
}

bool ProductionRecord::HasSharedSerials() {
  Statement s(db_, "SELECT 1 FROM pragma_table_info('units') WHERE name = 'shared_serials'");
  return s.Ok() && s.Step() == SQLITE_ROW;
}

Status ProductionRecord::Open(const std::filesystem::path& path) {
  if (Status opened = OpenFile(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE); !opened)
    return opened;
  if (sqlite3_db_readonly(db_, "main") == 1) {
    const Phrase cause = WriteCause(path, SQLITE_READONLY, 0);
    Close();
    return Status::Failed(
        cause.empty()
            ? Say("the production record {0} is read-only", path.string())
            : Say("the production record {0} cannot be written: {1}", path.string(), cause));
  }
  // WAL: readers (the companion's listing) never block the station's writes.
  Status ready = [this] {
    Statement wal(db_, "PRAGMA journal_mode=WAL");
    return wal.Ok() && wal.Step() == SQLITE_ROW ? Status()
                                                : Error(Say("cannot use the production record"));
  }();
  if (ready) ready = Exec("PRAGMA synchronous=FULL");
  if (ready) ready = Exec(kSchema);
  // Records of earlier versions get what this one keeps beside their rows.
  if (ready && !HasSharedSerials()) ready = Exec(kSharedSerialsColumn);
  if (ready) ready = Exec(kSerialIndexes);
  if (ready) ready = Exec(kIndexes);
  shared_ = ready.Ok();
  if (ready) ready = TakeIdentity();
  if (!ready) Close();
  return ready;
}

void ProductionRecord::Close() {
  if (db_) sqlite3_close_v2(db_);
  db_ = nullptr;
}

void ProductionRecord::SetBusyTimeout(int ms) {
  busyMs_ = ms;
  if (db_) sqlite3_busy_timeout(db_, ms);
}

Result<std::optional<GivenNumber>> ProductionRecord::FindGiven(const RecordNumbers& n) {
  const std::pair<const char*, const std::string*> checks[] = {{"rx_serial", &n.rxSerial},
                                                               {"tx_serial", &n.txSerial},
                                                               {"rx_id", &n.rxId},
                                                               {"tx_id", &n.txId}};
  const Phrase names[] = {Say("RX serial"), Say("TX serial"), Say("RX link ID"), Say("TX link ID")};
  const bool shared[] = {n.rxSerialShared, n.txSerialShared, false, false};
  for (size_t i = 0; i < 4; ++i) {
    // A batch code is no number of one unit.
    if (checks[i].second->empty() || shared[i]) continue;
    const std::string sql = std::string("SELECT ") + kRecordColumns +
                            " FROM units WHERE given = 1 AND " + checks[i].first + " = ?1 LIMIT 1";
    Statement s(db_, sql.c_str());
    if (!s.Ok()) return Error(Say("cannot read the production record"));
    s.Text(1, *checks[i].second);
    const int rc = s.Step();
    if (rc == SQLITE_ROW)
      return std::optional<GivenNumber>(
          GivenNumber{NumberKind(i), names[i], *checks[i].second, ReadRecordRow(s)});
    if (rc != SQLITE_DONE) return Error(Say("cannot read the production record"));
  }
  return std::optional<GivenNumber>();
}

Result<std::optional<RecordRow>> ProductionRecord::LastGiven(const std::string& station,
                                                             const std::string& settingsFile) {
  const std::string sql = std::string("SELECT ") + kRecordColumns +
                          " FROM units WHERE given = 1 AND station = ?1 AND settings_file = ?2 "
                          "ORDER BY id DESC LIMIT 1";
  Statement s(db_, sql.c_str());
  if (!s.Ok()) return Error(Say("cannot read the production record"));
  s.Text(1, station);
  s.Text(2, settingsFile);
  const int rc = s.Step();
  if (rc == SQLITE_ROW) return std::optional<RecordRow>(ReadRecordRow(s));
  if (rc != SQLITE_DONE) return Error(Say("cannot read the production record"));
  return std::optional<RecordRow>();
}

Result<int64_t> ProductionRecord::Begin(RecordRow row, const OutboxEntry* outbox) {
  if (!db_) return Status::Failed(Say("the production record is not open"));
  const int64_t now = clock_();
  int64_t id = 0;
  const Status written = InTransaction([&]() -> Status {
    Statement s(db_,
                "INSERT INTO units(time_utc, time_local, station, settings_file, result, "
                "rx_serial, tx_serial, rx_id, tx_id, rx_vid, rx_pid, rx_version, settings_hash, "
                "shared_serials) "
                "VALUES(?1, ?2, ?3, ?4, 'RUNNING', ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13)");
    if (!s.Ok()) return Error(Say("cannot write the production record"));
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
    s.Int(13, (row.numbers.rxSerialShared ? 1 : 0) | (row.numbers.txSerialShared ? 2 : 0));
    if (s.Step() != SQLITE_DONE) return Error(Say("cannot write the production record"));
    id = int64_t(sqlite3_last_insert_rowid(db_));
    // The settings behind a fingerprint, once: what a unit got can be read back from its row.
    if (!row.settingsKeys.empty()) {
      Statement keys(db_, "INSERT OR IGNORE INTO settings_keys(fingerprint, keys) VALUES(?1, ?2)");
      if (!keys.Ok()) return Error(Say("cannot write the production record"));
      keys.Text(1, row.settingsHash);
      keys.Text(2, row.settingsKeys);
      if (keys.Step() != SQLITE_DONE) return Error(Say("cannot write the production record"));
    }
    return outbox ? Enqueue(id, *outbox) : Status();
  });
  if (!written) return written;
  return id;
}

Status ProductionRecord::Finish(int64_t id, const std::string& result,
                                const std::string& failedStep, int64_t ms, bool given,
                                const std::function<Status()>& alsoInTransaction) {
  if (!db_) return Status::Failed(Say("the production record is not open"));
  return InTransaction([&]() -> Status {
    Statement s(db_,
                "UPDATE units SET result = ?2, failed_step = ?3, set_tx_ms = ?4, given = ?5 "
                "WHERE id = ?1");
    if (!s.Ok()) return Error(Say("cannot write the production record"));
    s.Int(1, id);
    s.Text(2, result);
    s.Text(3, failedStep);
    s.Int(4, ms);
    s.Int(5, given ? 1 : 0);
    if (s.Step() != SQLITE_DONE || sqlite3_changes(db_) != 1)
      return Error(Say("cannot write the production record"));
    // A failed unit's row is final; a passed one waits until TX.ini took its numbers.
    if (result == "FAIL")
      if (Status ready = MarkReady(id); !ready) return ready;
    return alsoInTransaction ? alsoInTransaction() : Status();
  });
}

Result<int> ProductionRecord::CloseInterrupted(const std::string& station,
                                               const std::string& settingsFile) {
  int closed = 0;
  const Status done = InTransaction([&]() -> Status {
    // Their rows are final now: the fleet database takes them as they are.
    Statement ready(db_,
                    "UPDATE outbox SET ready = 1 WHERE unit IN (SELECT id FROM units WHERE "
                    "result = 'RUNNING' AND station = ?1 AND settings_file = ?2)");
    if (!ready.Ok()) return Error(Say("cannot write the production record"));
    ready.Text(1, station);
    ready.Text(2, settingsFile);
    if (ready.Step() != SQLITE_DONE) return Error(Say("cannot write the production record"));
    Statement s(db_,
                "UPDATE units SET result = 'FAIL', failed_step = 'interrupted: the station "
                "stopped while the unit was written' WHERE result = 'RUNNING' AND station = ?1 "
                "AND settings_file = ?2");
    if (!s.Ok()) return Error(Say("cannot write the production record"));
    s.Text(1, station);
    s.Text(2, settingsFile);
    if (s.Step() != SQLITE_DONE) return Error(Say("cannot write the production record"));
    closed = sqlite3_changes(db_);
    return {};
  });
  if (!done) return done;
  return closed;
}

Result<DayCounts> ProductionRecord::CountToday(const std::string& station,
                                               const std::string& settingsFile) {
  const std::string day = LocalText(clock_()).substr(0, 10);
  Statement s(db_,
              "SELECT result, COUNT(*) FROM units WHERE station = ?1 AND settings_file = ?2 AND "
              "substr(time_local, 1, 10) = ?3 GROUP BY result");
  if (!s.Ok()) return Error(Say("cannot read the production record"));
  s.Text(1, station);
  s.Text(2, settingsFile);
  s.Text(3, day);
  DayCounts counts;
  int rc = SQLITE_ROW;
  while ((rc = s.Step()) == SQLITE_ROW) {
    if (s.Column(0) == "PASS") counts.pass = int(s.ColumnInt(1));
    if (s.Column(0) == "FAIL") counts.fail = int(s.ColumnInt(1));
  }
  if (rc != SQLITE_DONE) return Error(Say("cannot read the production record"));
  return counts;
}

Result<std::vector<RecordRow>> ProductionRecord::Rows(const std::string& since) {
  std::vector<RecordRow> rows;
  const Status read = ForEachRow(since, [&rows](const RecordRow& row) {
    rows.push_back(row);
    return true;
  });
  if (!read) return read;
  return rows;
}

Status ProductionRecord::ForEachRow(const std::string& since,
                                    const std::function<bool(const RecordRow&)>& each) {
  const std::string sql =
      std::string("SELECT ") + kRecordColumns + " FROM units WHERE time_local >= ?1 ORDER BY id";
  Statement s(db_, sql.c_str());
  if (!s.Ok()) return Error(Say("cannot read the production record"));
  s.Text(1, since);
  int rc = SQLITE_ROW;
  while ((rc = s.Step()) == SQLITE_ROW)
    if (!each(ReadRecordRow(s))) return {};
  if (rc != SQLITE_DONE) return Error(Say("cannot read the production record"));
  return {};
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
