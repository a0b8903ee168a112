// SQLite as the build provides it (Debian's library on Linux, the amalgamation on Windows),
// on the platform's real file system: WAL, a UNIQUE constraint, data surviving a reopen.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <memory>
#include <string>
#include <utility>

#include "TempDir.h"

namespace korvel {
namespace {

struct CloseDb {
  void operator()(sqlite3* db) const { sqlite3_close(db); }
};
struct FinalizeStmt {
  void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
};
using Db = std::unique_ptr<sqlite3, CloseDb>;
using Stmt = std::unique_ptr<sqlite3_stmt, FinalizeStmt>;

Db Open(const std::filesystem::path& file) {
  // SQLite takes UTF-8 names on every platform.
  const std::u8string name = file.u8string();
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(reinterpret_cast<const char*>(name.c_str()), &raw,
                                 SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  Db db(raw);  // a failed open still hands back a handle to close
  EXPECT_EQ(rc, SQLITE_OK) << (raw ? sqlite3_errmsg(raw) : "no memory");
  return rc == SQLITE_OK ? std::move(db) : Db();
}

Stmt Prepare(sqlite3* db, const char* sql) {
  sqlite3_stmt* raw = nullptr;
  EXPECT_EQ(sqlite3_prepare_v2(db, sql, -1, &raw, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  return Stmt(raw);
}

std::string Text(sqlite3_stmt* stmt, int column) {
  const unsigned char* text = sqlite3_column_text(stmt, column);
  return text ? reinterpret_cast<const char*>(text) : "";
}

// First column of the first row, or "<no row>".
std::string QueryText(sqlite3* db, const char* sql) {
  Stmt stmt = Prepare(db, sql);
  if (!stmt || sqlite3_step(stmt.get()) != SQLITE_ROW) return "<no row>";
  return Text(stmt.get(), 0);
}

int InsertUnit(sqlite3_stmt* insert, const char* serial, const char* result) {
  sqlite3_reset(insert);
  sqlite3_bind_text(insert, 1, serial, -1, SQLITE_STATIC);
  sqlite3_bind_text(insert, 2, result, -1, SQLITE_STATIC);
  return sqlite3_step(insert);
}

TEST(Sqlite, IsBuiltForUseFromSeveralThreads) {
  EXPECT_EQ(sqlite3_threadsafe(), 1);
}

TEST(Sqlite, WalUniqueRowSurvivesReopen) {
  test::TempDir dir;
  const std::filesystem::path file = dir.path / "units.db";
  {
    Db db = Open(file);
    ASSERT_TRUE(db);
    EXPECT_EQ(QueryText(db.get(), "PRAGMA journal_mode=WAL"), "wal");
    ASSERT_EQ(sqlite3_exec(db.get(),
                           "CREATE TABLE unit(serial TEXT NOT NULL UNIQUE, result TEXT NOT NULL)",
                           nullptr, nullptr, nullptr),
              SQLITE_OK)
        << sqlite3_errmsg(db.get());

    Stmt insert = Prepare(db.get(), "INSERT INTO unit(serial, result) VALUES(?1, ?2)");
    ASSERT_TRUE(insert);
    ASSERT_EQ(InsertUnit(insert.get(), "RX0001", "PASS"), SQLITE_DONE) << sqlite3_errmsg(db.get());
    EXPECT_EQ(InsertUnit(insert.get(), "RX0001", "FAIL"), SQLITE_CONSTRAINT);
    EXPECT_EQ(sqlite3_extended_errcode(db.get()), SQLITE_CONSTRAINT_UNIQUE);
    // The write went to the log beside the database, as WAL does.
    EXPECT_TRUE(std::filesystem::exists(dir.path / "units.db-wal"));

    insert.reset();
    ASSERT_EQ(sqlite3_close(db.release()), SQLITE_OK);
  }

  Db db = Open(file);
  ASSERT_TRUE(db);
  EXPECT_EQ(QueryText(db.get(), "PRAGMA journal_mode"), "wal");  // kept in the file
  Stmt select = Prepare(db.get(), "SELECT serial, result FROM unit ORDER BY rowid");
  ASSERT_TRUE(select);
  ASSERT_EQ(sqlite3_step(select.get()), SQLITE_ROW);
  EXPECT_EQ(Text(select.get(), 0), "RX0001");
  EXPECT_EQ(Text(select.get(), 1), "PASS");
  EXPECT_EQ(sqlite3_step(select.get()), SQLITE_DONE);  // the refused duplicate left nothing
}

}  // namespace
}  // namespace korvel
