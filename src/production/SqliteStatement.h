// The record's SQL helpers, shared by the station's record and the line's reader.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>

#include "production/ProductionRecord.h"

namespace korvel::sqlite {

inline constexpr const char* kColumns =
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

inline RecordRow ReadRow(Statement& s) {
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

}  // namespace korvel::sqlite
