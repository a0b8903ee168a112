// The production record: a given number stays unique, a killed run is closed, and the CSV a
// spreadsheet imports.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fstream>

#include "Isolation.h"
#include "TempDir.h"
#include "production/ProductionRecord.h"

namespace korvel {
namespace {

class RecordTest : public ::testing::Test {
 protected:
  void SetUp() override {
    record.SetClock([] { return int64_t(1796730000); });  // 2026-12-08 (UTC)
    record.SetBusyTimeout(0);
    const Status opened = record.Open(dir.path / "production.db");
    ASSERT_TRUE(opened) << opened.failure;
  }
  RecordRow Row(const std::string& rxsn) {
    RecordRow row;
    row.station = "bench";
    row.settingsFile = "/line/TX.ini";
    row.numbers = {rxsn, "", "8A0101", "8B0101"};
    row.settingsHash = "00";
    return row;
  }
  test::TempDir dir;
  ProductionRecord record;
};

TEST_F(RecordTest, ANumberIsGivenOnlyOnceItsUnitCommitted) {
  const auto failed = record.Begin(Row("35554B370001"));
  ASSERT_TRUE(failed) << failed.status.failure;
  ASSERT_TRUE(record.Finish(*failed, "FAIL", "link not back after reload", 2100, false));
  // A failed unit gives nothing: the same numbers may be offered again.
  const auto none = record.FindGiven(Row("35554B370001").numbers);
  ASSERT_TRUE(none);
  EXPECT_FALSE(*none);
  const auto passed = record.Begin(Row("35554B370001"));
  ASSERT_TRUE(passed);
  ASSERT_TRUE(record.Finish(*passed, "PASS", "", 2200, true));
  const auto given = record.FindGiven({"", "", "", "8B0101"});
  ASSERT_TRUE(given && *given);
  EXPECT_EQ((*given)->what.English(), "TX link ID");
  EXPECT_EQ((*given)->row.id, *passed);
  EXPECT_EQ((*given)->row.timeUtc, "2026-12-08T11:40:00Z");
  // The index refuses a second unit with a given number, whatever the caller checked.
  const auto twin = record.Begin(Row("35554B370001"));
  ASSERT_TRUE(twin);
  const Status refused = record.Finish(*twin, "PASS", "", 2200, true);
  EXPECT_FALSE(refused);
  EXPECT_NE(refused.failure.English().find("UNIQUE"), std::string::npos) << refused.failure;
  const auto last = record.LastGiven("bench", "/line/TX.ini");
  ASSERT_TRUE(last && *last);
  EXPECT_EQ((*last)->id, *passed);
}

// A record of an earlier version (no column for batch codes, the first serial indexes) opens
// as it is: its given serials stay unique, and a batch code may now repeat.
TEST_F(RecordTest, ARecordOfAnEarlierVersionTakesBatchCodesAndKeepsItsSerialsUnique) {
  record.Close();
  const auto old = dir.path / "old.db";
  sqlite3* raw = nullptr;
  ASSERT_EQ(sqlite3_open(old.string().c_str(), &raw), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(raw,
                         "CREATE TABLE units(id INTEGER PRIMARY KEY AUTOINCREMENT, time_utc TEXT "
                         "NOT NULL, time_local TEXT NOT NULL, station TEXT NOT NULL, settings_file "
                         "TEXT NOT NULL, result TEXT NOT NULL, failed_step TEXT NOT NULL DEFAULT "
                         "'', set_tx_ms INTEGER NOT NULL DEFAULT 0, rx_serial TEXT, tx_serial "
                         "TEXT, rx_id TEXT, tx_id TEXT, rx_vid INTEGER, rx_pid INTEGER, "
                         "rx_version INTEGER, settings_hash TEXT NOT NULL, given INTEGER NOT NULL "
                         "DEFAULT 0);"
                         "CREATE UNIQUE INDEX given_rx_serial ON units(rx_serial) WHERE given = 1 "
                         "AND rx_serial IS NOT NULL;"
                         "INSERT INTO units(time_utc, time_local, station, settings_file, result, "
                         "rx_serial, settings_hash, given) VALUES('2026-12-01T08:00:00Z', "
                         "'2026-12-01 09:00:00', 'bench', '/line/TX.ini', 'PASS', '35554B370001', "
                         "'00', 1);",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(raw);
  ProductionRecord reopened;
  reopened.SetBusyTimeout(0);
  const Status opened = reopened.Open(old);
  ASSERT_TRUE(opened) << opened.failure;
  EXPECT_TRUE(*reopened.FindGiven(Row("35554B370001").numbers));
  const auto twin = reopened.Begin(Row("35554B370001"));
  ASSERT_TRUE(twin);
  EXPECT_FALSE(reopened.Finish(*twin, "PASS", "", 2200, true));
  RecordRow batch = Row("35554B423531");
  batch.numbers.rxSerialShared = true;
  for (const char* id : {"8A0102", "8A0103"}) {
    batch.numbers.rxId = batch.numbers.txId = id;
    EXPECT_FALSE(*reopened.FindGiven(batch.numbers));
    const auto unit = reopened.Begin(batch);
    ASSERT_TRUE(unit);
    EXPECT_TRUE(reopened.Finish(*unit, "PASS", "", 2200, true)) << id;
  }
}

TEST_F(RecordTest, RowsAKilledRunLeftRunningAreClosedAsInterrupted) {
  ASSERT_TRUE(record.Begin(Row("35554B370001")));
  record.Close();
  ASSERT_TRUE(record.Open(dir.path / "production.db"));
  EXPECT_EQ(*record.CloseInterrupted("other", "/line/TX.ini"), 0);
  EXPECT_EQ(*record.CloseInterrupted("bench", "/line/TX.ini"), 1);
  const auto read = record.Rows("");
  ASSERT_TRUE(read);
  const std::vector<RecordRow>& rows = *read;
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].result, "FAIL");
  EXPECT_NE(rows[0].failedStep.find("interrupted"), std::string::npos);
}

TEST_F(RecordTest, CsvHasAHeaderAndQuotesWhatNeedsIt) {
  const auto id = record.Begin(Row(""));
  ASSERT_TRUE(id);
  ASSERT_TRUE(
      record.Finish(*id, "FAIL", "RX register 19 read-back 0x1234 != 0x5678, \"x\"", 7, false));
  auto rows = *record.Rows("2026-12-01");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(RecordCsvHeader().substr(0, 40), "id,time_utc,time_local,station,settings_");
  const std::string line = RecordCsvLine(rows[0]);
  EXPECT_NE(line.find(",FAIL,\"RX register 19 read-back 0x1234 != 0x5678, \"\"x\"\"\",7,,,8A0101,"),
            std::string::npos)
      << line;
  EXPECT_TRUE(record.Rows("2026-12-09")->empty());
}

TEST_F(RecordTest, AFileThatIsNoRecordOrIsBusyIsAnErrorBeforeAnythingIsWritten) {
  record.Close();
  std::ofstream(dir.path / "garbage.db", std::ios::binary) << std::string(4096, 'x');
  ProductionRecord other;
  const Status garbage = other.Open(dir.path / "garbage.db");
  EXPECT_NE(garbage.failure.English().find("not a database"), std::string::npos) << garbage.failure;
  EXPECT_FALSE(other.OpenToRead(dir.path / "none.db"));
  EXPECT_FALSE(std::filesystem::exists(dir.path / "none.db"));

  // Another writer holds the file: the unit's first row cannot go in.
  ASSERT_TRUE(record.Open(dir.path / "production.db"));
  sqlite3* rival = nullptr;
  ASSERT_EQ(sqlite3_open((dir.path / "production.db").string().c_str(), &rival), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(rival, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  const auto locked = record.Begin(Row("35554B370001"));
  EXPECT_NE(locked.status.failure.English().find("locked"), std::string::npos)
      << locked.status.failure;
  sqlite3_exec(rival, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(rival);
  EXPECT_TRUE(record.Begin(Row("35554B370001")));
}

// Places where no record can be: each is named for what it is, by the station and by a
// listing alike, and none becomes a file.
TEST_F(RecordTest, APlaceThatCannotHoldTheRecordIsNamedForWhatItIs) {
  struct Case {
    const char* what;
    std::filesystem::path configured;  // as [Record] Path= or --db gives it
    const char* said;
  };
  std::filesystem::create_directory(dir.path / "line");
  std::filesystem::create_directory(dir.path / "line" / "production.db");
#ifndef _WIN32
  std::filesystem::create_symlink(dir.path / "decoy", dir.path / "planted.db");
#endif
  const Case cases[] = {
      {"the usual name is a folder", "", "production.db is a folder, not a production record"},
#ifndef _WIN32
      {"a device", "/dev/null", "/dev/null is a device or another special file"},
      {"a Windows path on this system", "Z:\\records\\production.db",
       "is not a path on this system"},
      {"a link planted in the record's place", dir.path / "planted.db",
       "planted.db is a symbolic link; the record must be a file of the station's own"},
#endif
      {"a folder that is not there", dir.path / "gone" / "production.db", "gone does not exist"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto path = ResolveRecordPath(c.configured, dir.path / "line");
    ProductionRecord station, listing;
    const Status opened = station.Open(path);
    EXPECT_NE(opened.failure.English().find(c.said), std::string::npos) << opened.failure;
    // A listing only reads: a link to a record lists it (here: to nothing).
    if (std::string(c.what) != "a folder that is not there" &&
        std::string(c.what) != "a link planted in the record's place") {
      const Status read = listing.OpenToRead(path);
      EXPECT_NE(read.failure.English().find(c.said), std::string::npos) << read.failure;
    }
  }
  EXPECT_FALSE(std::filesystem::exists("Z:\\records\\production.db"));
  EXPECT_FALSE(std::filesystem::exists(dir.path / "decoy")) << "the link was followed";
  // A folder given on purpose holds the record under its usual name.
  EXPECT_EQ(ResolveRecordPath(dir.path / "line", {}), dir.path / "line" / "production.db");
}

#ifndef _WIN32
TEST_F(RecordTest, AReadOnlyFolderStopsTheStationButNotAListing) {
  ASSERT_TRUE(record.Begin(Row("35554B370001")));
  record.Close();
  std::filesystem::permissions(
      dir.path, std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                    std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
                    std::filesystem::perms::others_exec);
  KORVEL_EXPECT_CHILD(test::AsNobody([&] {
    ProductionRecord station, listing;
    const Status opened = station.Open(dir.path / "production.db");
    EXPECT_NE(opened.failure.English().find("its folder " + dir.path.string() +
                                            " is read-only for this user (errno 13: Permission "
                                            "denied"),
              std::string::npos)
        << opened.failure;
    const Status read = listing.OpenToRead(dir.path / "production.db");
    ASSERT_TRUE(read) << read.failure;
    EXPECT_EQ(listing.Rows("")->size(), 1u);
  }));
}

TEST_F(RecordTest, AFullDiskIsSaidInWords) {
  record.Close();
  const auto disk = dir.path / "disk";
  std::filesystem::create_directory(disk);
  KORVEL_EXPECT_CHILD(test::OnSmallDisk(disk, 256 * 1024, [&] {
    ProductionRecord full;
    ASSERT_TRUE(full.Open(disk / "production.db"));
    test::FillDisk(disk, 0);
    const auto begun = full.Begin(Row("35554B370001"));
    EXPECT_NE(begun.status.failure.English().find("cannot write the production record " +
                                                  (disk / "production.db").string() +
                                                  ": the disk is full ("),
              std::string::npos)
        << begun.status.failure;
  }));
}
#endif

}  // namespace
}  // namespace korvel
