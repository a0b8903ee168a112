// A small line written through the station's own record: three stations, a unit passed at its
// second attempt, a retry today of yesterday's failure, a unit still running, a unit known by
// its link ID alone, failures at two EEPROM addresses, and a station that ran only yesterday.
// Each test reads it twice: from the record file, and (in builds with the fleet database) from
// a database of the private test cluster holding the same rows, read as a reader would.
#pragma once

#include <gtest/gtest.h>

#include <ctime>
#include <memory>
#include <string>

#include "TempDir.h"
#include "production/ProductionRecord.h"
#ifdef KORVEL_TEST_FLEET
#include "production/FleetServer.h"
#endif

namespace korvel::test {

enum class LineReader { SqliteRecord, FleetDatabase };

inline std::string LineReaderName(const ::testing::TestParamInfo<LineReader>& info) {
  return info.param == LineReader::SqliteRecord ? "SqliteRecord" : "FleetDatabase";
}

// ctest runs the FleetDatabase cases with the private cluster, as it runs the fleet tests.
#ifdef KORVEL_TEST_FLEET
#define KORVEL_LINE_READERS \
  ::testing::Values(test::LineReader::SqliteRecord, test::LineReader::FleetDatabase)
#else
#define KORVEL_LINE_READERS ::testing::Values(test::LineReader::SqliteRecord)
#endif

// Seconds since 1970 of a local time on this PC.
inline int64_t LocalSeconds(int year, int month, int day, int hour, int minute) {
  std::tm parts{};
  parts.tm_year = year - 1900;
  parts.tm_mon = month - 1;
  parts.tm_mday = day;
  parts.tm_hour = hour;
  parts.tm_min = minute;
  parts.tm_isdst = -1;
  return int64_t(std::mktime(&parts));
}

class LineFixture : public ::testing::Test {
 protected:
  // The record file, unless a test runs on each reader (LineReadersFixture).
  virtual LineReader Reader() const { return LineReader::SqliteRecord; }

  // "Today" is 2026-12-08 and it is 09:15.
  static int64_t Today(int hour, int minute) { return LocalSeconds(2026, 12, 8, hour, minute); }
  static int64_t Yesterday(int hour, int minute) { return LocalSeconds(2026, 12, 7, hour, minute); }
  static int64_t Now() { return Today(9, 15); }
  std::filesystem::path Path() const { return dir.path / "production.db"; }

  void SetUp() override {
#ifdef KORVEL_TEST_FLEET
    if (Reader() == LineReader::FleetDatabase) {
      fleet = std::make_unique<FleetTestDb>();
      KORVEL_NEED_FLEET(*fleet);
      ASSERT_NO_FATAL_FAILURE(PrepareFleet());
    }
#endif
    ASSERT_TRUE(record.Open(Path()));
    Run(Yesterday(17, 0), "LINE2", "RXF", "FAIL", "RX register 19 read-back 0x1234 != 0x5678");
    Run(Yesterday(17, 30), "LINE3", "RXH", "PASS");
    Run(Today(8, 5), "LINE1", "RXA", "PASS");
    Run(Today(8, 10), "LINE1", "RXB", "FAIL", "TX EEPROM 0x0C write not confirmed");
    Run(Today(8, 12), "LINE1", "RXB", "PASS");
    Run(Today(8, 20), "LINE1", "RXC", "FAIL", "TX EEPROM 0x0D write not confirmed");
    Run(Today(8, 25), "LINE1", "RXC", "FAIL", "link not back after reload");
    Run(Today(8, 30), "LINE2", "RXF", "PASS");
    Run(Today(8, 40), "LINE2", "RXG", "PASS");
    Run(Today(8, 45), "LINE2", "", "PASS");  // serials off: its RX link ID names it
    Run(Today(9, 5), "LINE1", "RXD", "PASS");
    Run(Today(9, 10), "LINE1", "RXE", "RUNNING");
  }

  // One Go as a station records it: the row first, then its end.
  void Run(int64_t at, const std::string& station, const std::string& rxSerial,
           const std::string& result, const std::string& reason = "") {
    record.SetClock([at] { return at; });
    RecordRow row;
    row.station = station;
    row.settingsFile = "/line/" + station + "/TX.ini";
    ++unitNumber;
    // A retried unit carries the numbers of its failed run.
    const std::string id = rxSerial.empty() ? "C0" + std::to_string(1000 + unitNumber)
                                            : "A" + rxSerial.substr(2) + "000";
    row.numbers = {rxSerial.empty() ? "" : rxSerial + "000001",
                   rxSerial.empty() ? "" : "TX" + rxSerial.substr(2) + "00001", id, id};
    row.settingsHash = "00";
    const auto rowId = record.Begin(row);
    ASSERT_TRUE(rowId) << rowId.status.failure;
    if (result != "RUNNING") {
      ASSERT_TRUE(record.Finish(*rowId, result, reason, 2200, result == "PASS"));
    }
  }

  // What OpenLineRecord is given: the record's file, or the fleet database once it holds the
  // record's rows as they are now.
  std::string Where() {
#ifdef KORVEL_TEST_FLEET
    if (fleet) {
      CopyRowsToFleet();
      return fleet->Url("korvel_t_reader");
    }
#endif
    return Path().string();
  }

  test::TempDir dir;
  ProductionRecord record;
  int unitNumber = 0;

#ifdef KORVEL_TEST_FLEET
  std::unique_ptr<FleetTestDb> fleet;

 private:
  void PrepareFleet() {
    PgSession& db = fleet->Admin();
    // A station sends only ended runs; the fixture's unit still being written goes in all the
    // same, so both readers are given the very same rows.
    ASSERT_TRUE(db.Exec(Phrase::Literal("running rows"),
                        "ALTER TABLE korvel.units DROP CONSTRAINT units_result_check"));
    // The page is read as a supervisor would: a user of the reader role, nothing more.
    ASSERT_TRUE(db.Exec(Phrase::Literal("reader"), R"sql(
DO $$ BEGIN
  CREATE ROLE korvel_t_reader LOGIN IN ROLE korvel_reader;
EXCEPTION WHEN duplicate_object OR unique_violation THEN NULL;
END $$)sql"));
  }

  // The record's rows, with their ids, as the fleet's units (the station's name as its name
  // there).
  void CopyRowsToFleet() {
    PgSession& db = fleet->Admin();
    const Result<std::vector<RecordRow>> rows = record.Rows("");
    ASSERT_TRUE(rows) << rows.status.failure;
    ASSERT_TRUE(db.Begin());
    ASSERT_TRUE(db.Exec(Phrase::Literal("empty"), "DELETE FROM korvel.units"));
    for (const RecordRow& r : *rows) {
      const auto orNull = [](const std::string& text) { return text.empty() ? PgParam() : text; };
      const Status added = db.Exec(
          Phrase::Literal("a fixture row"),
          "INSERT INTO korvel.units(id, station, record_uid, local_id, outbox_seq, pc, time_utc, "
          "time_local, settings_file, result, failed_step, set_tx_ms, rx_serial, tx_serial, "
          "rx_id, tx_id, rx_vid, rx_pid, rx_version, settings_hash, given) VALUES ($1::bigint, "
          "$2, 'fixture', $1::bigint, $1::bigint, $2, $3::timestamptz, $4, $5, $6, $7, "
          "$8::bigint, $9, $10, $11, $12, $13::integer, $14::integer, $15::integer, $16, "
          "$17::boolean)",
          {std::to_string(r.id), r.station, r.timeUtc, r.timeLocal, r.settingsFile, r.result,
           r.failedStep, std::to_string(r.ms), orNull(r.numbers.rxSerial),
           orNull(r.numbers.txSerial), orNull(r.numbers.rxId), orNull(r.numbers.txId),
           std::to_string(r.rxVid), std::to_string(r.rxPid), std::to_string(r.rxVersion),
           r.settingsHash, r.given ? "true" : "false"});
      ASSERT_TRUE(added) << added.failure;
    }
    ASSERT_TRUE(db.Commit());
  }
#endif
};

// The same line, once from each reader (KORVEL_LINE_READERS).
class LineReadersFixture : public LineFixture, public ::testing::WithParamInterface<LineReader> {
 protected:
  LineReader Reader() const override { return GetParam(); }
};

}  // namespace korvel::test
