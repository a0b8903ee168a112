// A small line written through the station's own record: three stations, a unit passed at its
// second attempt, a retry today of yesterday's failure, a unit still running, a unit known by
// its link ID alone, failures at two EEPROM addresses, and a station that ran only yesterday.
#pragma once

#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "TempDir.h"
#include "production/ProductionRecord.h"

namespace korvel::test {

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
  // "Today" is 2026-12-08 and it is 09:15.
  static int64_t Today(int hour, int minute) { return LocalSeconds(2026, 12, 8, hour, minute); }
  static int64_t Yesterday(int hour, int minute) { return LocalSeconds(2026, 12, 7, hour, minute); }
  static int64_t Now() { return Today(9, 15); }

  void SetUp() override {
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

  std::filesystem::path Path() const { return dir.path / "production.db"; }

  test::TempDir dir;
  ProductionRecord record;
  int unitNumber = 0;
};

}  // namespace korvel::test
