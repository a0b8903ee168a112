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
    ASSERT_TRUE(record.Open(dir.path / "production.db", error)) << error;
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
  Phrase error;
};

TEST_F(RecordTest, ANumberIsGivenOnlyOnceItsUnitCommitted) {
  const auto failed = record.Begin(Row("35554B370001"), error);
  ASSERT_TRUE(failed) << error;
  ASSERT_TRUE(record.Finish(*failed, "FAIL", "link not back after reload", 2100, false, error));
  // A failed unit gives nothing: the same numbers may be offered again.
  EXPECT_FALSE(record.FindGiven(Row("35554B370001").numbers, error));
  const auto passed = record.Begin(Row("35554B370001"), error);
  ASSERT_TRUE(passed);
  ASSERT_TRUE(record.Finish(*passed, "PASS", "", 2200, true, error)) << error;
  const auto given = record.FindGiven({"", "", "", "8B0101"}, error);
  ASSERT_TRUE(given);
  EXPECT_EQ(given->what.English(), "TX link ID");
  EXPECT_EQ(given->row.id, *passed);
  EXPECT_EQ(given->row.timeUtc, "2026-12-08T11:40:00Z");
  // The index refuses a second unit with a given number, whatever the caller checked.
  const auto twin = record.Begin(Row("35554B370001"), error);
  ASSERT_TRUE(twin);
  EXPECT_FALSE(record.Finish(*twin, "PASS", "", 2200, true, error));
  EXPECT_NE(error.English().find("UNIQUE"), std::string::npos) << error;
  const auto last = record.LastGiven("bench", "/line/TX.ini", error);
  ASSERT_TRUE(last);
  EXPECT_EQ(last->id, *passed);
}

TEST_F(RecordTest, RowsAKilledRunLeftRunningAreClosedAsInterrupted) {
  ASSERT_TRUE(record.Begin(Row("35554B370001"), error));
  record.Close();
  ASSERT_TRUE(record.Open(dir.path / "production.db", error));
  EXPECT_EQ(record.CloseInterrupted("other", "/line/TX.ini", error), 0);
  EXPECT_EQ(record.CloseInterrupted("bench", "/line/TX.ini", error), 1);
  std::vector<RecordRow> rows;
  ASSERT_TRUE(record.Rows("", rows, error));
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].result, "FAIL");
  EXPECT_NE(rows[0].failedStep.find("interrupted"), std::string::npos);
}

TEST_F(RecordTest, CsvHasAHeaderAndQuotesWhatNeedsIt) {
  const auto id = record.Begin(Row(""), error);
  ASSERT_TRUE(id);
  ASSERT_TRUE(record.Finish(*id, "FAIL", "RX register 19 read-back 0x1234 != 0x5678, \"x\"", 7,
                            false, error));
  std::vector<RecordRow> rows;
  ASSERT_TRUE(record.Rows("2026-12-01", rows, error));
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(RecordCsvHeader().substr(0, 40), "id,time_utc,time_local,station,settings_");
  const std::string line = RecordCsvLine(rows[0]);
  EXPECT_NE(line.find(",FAIL,\"RX register 19 read-back 0x1234 != 0x5678, \"\"x\"\"\",7,,,8A0101,"),
            std::string::npos)
      << line;
  rows.clear();
  ASSERT_TRUE(record.Rows("2026-12-09", rows, error));
  EXPECT_TRUE(rows.empty());
}

TEST_F(RecordTest, AFileThatIsNoRecordOrIsBusyIsAnErrorBeforeAnythingIsWritten) {
  record.Close();
  std::ofstream(dir.path / "garbage.db", std::ios::binary) << std::string(4096, 'x');
  ProductionRecord other;
  EXPECT_FALSE(other.Open(dir.path / "garbage.db", error));
  EXPECT_NE(error.English().find("not a database"), std::string::npos) << error;
  EXPECT_FALSE(other.OpenToRead(dir.path / "none.db", error));
  EXPECT_FALSE(std::filesystem::exists(dir.path / "none.db"));

  // Another writer holds the file: the unit's first row cannot go in.
  ASSERT_TRUE(record.Open(dir.path / "production.db", error));
  sqlite3* rival = nullptr;
  ASSERT_EQ(sqlite3_open((dir.path / "production.db").string().c_str(), &rival), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(rival, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  EXPECT_FALSE(record.Begin(Row("35554B370001"), error));
  EXPECT_NE(error.English().find("locked"), std::string::npos) << error;
  sqlite3_exec(rival, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(rival);
  EXPECT_TRUE(record.Begin(Row("35554B370001"), error)) << error;
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
    EXPECT_FALSE(station.Open(path, error));
    EXPECT_NE(error.English().find(c.said), std::string::npos) << error;
    // A listing only reads: a link to a record lists it (here: to nothing).
    if (std::string(c.what) != "a folder that is not there" &&
        std::string(c.what) != "a link planted in the record's place") {
      EXPECT_FALSE(listing.OpenToRead(path, error));
      EXPECT_NE(error.English().find(c.said), std::string::npos) << error;
    }
  }
  EXPECT_FALSE(std::filesystem::exists("Z:\\records\\production.db"));
  EXPECT_FALSE(std::filesystem::exists(dir.path / "decoy")) << "the link was followed";
  // A folder given on purpose holds the record under its usual name.
  EXPECT_EQ(ResolveRecordPath(dir.path / "line", {}), dir.path / "line" / "production.db");
}

#ifndef _WIN32
TEST_F(RecordTest, AReadOnlyFolderStopsTheStationButNotAListing) {
  ASSERT_TRUE(record.Begin(Row("35554B370001"), error));
  record.Close();
  std::filesystem::permissions(
      dir.path, std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                    std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
                    std::filesystem::perms::others_exec);
  KORVEL_EXPECT_CHILD(test::AsNobody([&] {
    ProductionRecord station, listing;
    Phrase why;
    EXPECT_FALSE(station.Open(dir.path / "production.db", why));
    EXPECT_NE(why.English().find("its folder " + dir.path.string() +
                                 " is read-only for this "
                                 "user (errno 13: Permission denied"),
              std::string::npos)
        << why;
    ASSERT_TRUE(listing.OpenToRead(dir.path / "production.db", why)) << why;
    std::vector<RecordRow> rows;
    ASSERT_TRUE(listing.Rows("", rows, why)) << why;
    EXPECT_EQ(rows.size(), 1u);
  }));
}

TEST_F(RecordTest, AFullDiskIsSaidInWords) {
  record.Close();
  const auto disk = dir.path / "disk";
  std::filesystem::create_directory(disk);
  KORVEL_EXPECT_CHILD(test::OnSmallDisk(disk, 256 * 1024, [&] {
    ProductionRecord full;
    Phrase why;
    ASSERT_TRUE(full.Open(disk / "production.db", why)) << why;
    test::FillDisk(disk, 0);
    EXPECT_FALSE(full.Begin(Row("35554B370001"), why));
    EXPECT_NE(why.English().find("cannot write the production record " +
                                 (disk / "production.db").string() + ": the disk is full ("),
              std::string::npos)
        << why;
  }));
}
#endif

}  // namespace
}  // namespace korvel
