// The production record's SQL helpers: a prepared statement that finalizes itself, and the
// columns of a unit's row.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>

#include "production/ProductionRecord.h"

namespace korvel {

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
  void Null(int at) { sqlite3_bind_null(stmt_, at); }
  int Step() { return sqlite3_step(stmt_); }
  void Reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
  std::string Column(int at) {
    const unsigned char* t = sqlite3_column_text(stmt_, at);
    return t ? reinterpret_cast<const char*>(t) : "";
  }
  int64_t ColumnInt(int at) { return sqlite3_column_int64(stmt_, at); }
  bool ColumnNull(int at) { return sqlite3_column_type(stmt_, at) == SQLITE_NULL; }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

// A unit's row, in this order; `u.` prefixes them where a query joins other tables.
constexpr const char* kRecordColumns =
    "id, time_utc, time_local, station, settings_file, result, failed_step, set_tx_ms, "
    "rx_serial, tx_serial, rx_id, tx_id, rx_vid, rx_pid, rx_version, settings_hash, given";
constexpr const char* kRecordColumnsOfU =
    "u.id, u.time_utc, u.time_local, u.station, u.settings_file, u.result, u.failed_step, "
    "u.set_tx_ms, u.rx_serial, u.tx_serial, u.rx_id, u.tx_id, u.rx_vid, u.rx_pid, u.rx_version, "
    "u.settings_hash, u.given";
constexpr int kRecordColumnCount = 17;

// The row's columns from column `at` on.
inline RecordRow ReadRecordRow(Statement& s, int at = 0) {
  RecordRow r;
  r.id = s.ColumnInt(at + 0);
  r.timeUtc = s.Column(at + 1);
  r.timeLocal = s.Column(at + 2);
  r.station = s.Column(at + 3);
  r.settingsFile = s.Column(at + 4);
  r.result = s.Column(at + 5);
  r.failedStep = s.Column(at + 6);
  r.ms = s.ColumnInt(at + 7);
  r.numbers = {s.Column(at + 8), s.Column(at + 9), s.Column(at + 10), s.Column(at + 11)};
  r.rxVid = int(s.ColumnInt(at + 12));
  r.rxPid = int(s.ColumnInt(at + 13));
  r.rxVersion = int(s.ColumnInt(at + 14));
  r.settingsHash = s.Column(at + 15);
  r.given = s.ColumnInt(at + 16) != 0;
  return r;
}

}  // namespace korvel
