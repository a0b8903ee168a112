// The line's figures on a known record: yields counted per unit from its first run, retries,
// stations that stopped, the Pareto's grouping, and the calendar arithmetic under them.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>

#include "LineFixture.h"
#include "lineview/LineFigures.h"

namespace korvel {
namespace {

TEST(FailureStep, NumbersBecomeOneMarkWordsStay) {
  const std::pair<const char*, const char*> cases[] = {
      {"TX EEPROM 0x0C write not confirmed", "TX EEPROM # write not confirmed"},
      {"TX EEPROM 0x0D write not confirmed", "TX EEPROM # write not confirmed"},
      {"RX register 19 read-back 0x1234 != 0x5678", "RX register # read-back # != #"},
      {"RX gone (errno 19: No such device)", "RX gone (errno #: No such device)"},
      {"RX serial 35554B370001 was already given", "RX serial # was already given"},
      {"ADD and BEEF are words, C0FFEE and 1bcf are not",
       "ADD and BEEF are words, # and # are not"},
      {"link not back after reload", "link not back after reload"},
      {"took 2.005 s", "took #.# s"},
      {"x86 TX2 0x", "x86 TX2 0x"},
      {"", ""},
  };
  for (const auto& [reason, step] : cases) EXPECT_EQ(FailureStep(reason), step) << reason;
}

TEST(LineCalendar, DaysAndUtcTimesCountLikeTheCalendar) {
  const std::pair<LocalDate, int64_t> days[] = {
      {{1970, 1, 1}, 0},    {{2000, 2, 29}, 11016}, {{2026, 12, 8}, 20795},
      {{1969, 12, 31}, -1}, {{2100, 3, 1}, 47541},
  };
  for (const auto& [date, number] : days) {
    EXPECT_EQ(DaysSinceEpoch(date), number) << IsoDateText(date);
    const LocalDate back = DateOfDay(number);
    EXPECT_EQ(IsoDateText(back), IsoDateText(date));
  }
  EXPECT_EQ(IsoDateText(AddDays({2026, 12, 31}, 1)), "2027-01-01");
  EXPECT_EQ(IsoDateText(AddDays({2028, 3, 1}, -1)), "2028-02-29");
  EXPECT_EQ(ParseUtcText("2026-12-08T11:40:00Z"), 1796730000);
  for (const char* bad : {"2026-12-08 11:40:00", "2026-13-08T11:40:00Z", "2026-12-08T24:00:00Z",
                          "2026-12-08T11:4x:00Z", ""})
    EXPECT_FALSE(ParseUtcText(bad)) << bad;
}

class LineFiguresTest : public test::LineReadersFixture {
 protected:
  LineFigures Figures(LocalDate since, LocalDate until) {
    const auto reader = OpenLineRecord(Where());
    EXPECT_TRUE(reader) << reader.status.failure;
    LineFigures figures;
    if (reader) {
      const Status computed = ComputeLineFigures(**reader, {since, until}, Now(), 600, figures);
      EXPECT_TRUE(computed) << computed.failure;
    }
    return figures;
  }
  static const StationFigures& Station(const LineFigures& f, const std::string& name) {
    for (const StationFigures& s : f.stations)
      if (s.station == name) return s;
    static const StationFigures none;
    ADD_FAILURE() << "no station " << name;
    return none;
  }
};

TEST_P(LineFiguresTest, TodayCountsUnitsFromTheirFirstRunAndRunsAsTheyEnded) {
  const LineFigures f = Figures({2026, 12, 8}, {2026, 12, 8});
  EXPECT_TRUE(f.live);
  ASSERT_EQ(f.stations.size(), 3u);  // LINE3 ran only yesterday; a live page still lists it

  // LINE1: A passed; B failed then passed; C failed twice; D passed; E is being written.
  const StationFigures& one = Station(f, "LINE1");
  EXPECT_EQ(one.units, 5);
  EXPECT_EQ(one.pass, 3);
  EXPECT_EQ(one.fail, 3);
  EXPECT_EQ(one.running, 1);
  EXPECT_EQ(one.firstPassUnits, 2);  // A, D
  EXPECT_EQ(one.finalPassUnits, 3);  // A, B, D
  // E is in neither yield until its run ends.
  EXPECT_DOUBLE_EQ(*one.FirstPassYield(), 0.5);
  EXPECT_DOUBLE_EQ(*one.FinalYield(), 0.75);
  EXPECT_EQ(one.activeHours, 2);
  EXPECT_DOUBLE_EQ(*one.UnitsPerHour(), 1.5);
  EXPECT_EQ(one.passedByHour, (std::vector<int>{2, 1}));
  ASSERT_TRUE(one.lastRun);
  EXPECT_EQ(one.lastRun->result, "RUNNING");
  EXPECT_EQ(one.secondsSinceLastRun, 5 * 60);
  EXPECT_FALSE(one.stopped);

  // LINE2: F failed yesterday and passed today, so it did not pass the first time.
  const StationFigures& two = Station(f, "LINE2");
  EXPECT_EQ(two.units, 3);
  EXPECT_EQ(two.pass, 3);
  EXPECT_EQ(two.fail, 0);
  EXPECT_EQ(two.firstPassUnits, 2);
  EXPECT_EQ(two.finalPassUnits, 3);
  EXPECT_EQ(two.passedByHour, (std::vector<int>{3, 0}));
  EXPECT_EQ(two.secondsSinceLastRun, 30 * 60);
  EXPECT_TRUE(two.stopped);

  const StationFigures& three = Station(f, "LINE3");
  EXPECT_EQ(three.units, 0);
  EXPECT_FALSE(three.FirstPassYield());
  EXPECT_FALSE(three.UnitsPerHour());
  ASSERT_TRUE(three.lastRun);
  EXPECT_EQ(three.lastRun->timeLocal, "2026-12-07 17:30:00");
  EXPECT_TRUE(three.stopped);

  EXPECT_EQ(f.total.units, 8);
  EXPECT_EQ(f.total.pass, 6);
  EXPECT_EQ(f.total.fail, 3);
  EXPECT_EQ(f.total.running, 1);
  EXPECT_DOUBLE_EQ(*f.total.FirstPassYield(), 4.0 / 7);
  EXPECT_DOUBLE_EQ(*f.total.FinalYield(), 6.0 / 7);
  EXPECT_DOUBLE_EQ(*f.total.UnitsPerHour(), 3.0);
  EXPECT_EQ(f.total.passedByHour, (std::vector<int>{5, 1}));
  EXPECT_FALSE(f.total.stopped);
  EXPECT_EQ(f.hours, (std::vector<std::string>{"2026-12-08 08:00", "2026-12-08 09:00"}));

  ASSERT_EQ(f.pareto.size(), 2u);  // yesterday's failure is not today's
  EXPECT_EQ(f.pareto[0].step, "TX EEPROM # write not confirmed");
  EXPECT_EQ(f.pareto[0].count, 2);
  EXPECT_EQ(f.pareto[1].step, "link not back after reload");
  EXPECT_EQ(f.pareto[1].count, 1);
}

TEST_P(LineFiguresTest, TwoDaysHoldTheFirstTryAndAPastDayIsNotLive) {
  const LineFigures both = Figures({2026, 12, 7}, {2026, 12, 8});
  const StationFigures& two = Station(both, "LINE2");
  EXPECT_EQ(two.units, 3);  // F once, though it ran on both days
  EXPECT_EQ(two.fail, 1);
  EXPECT_EQ(two.firstPassUnits, 2);
  EXPECT_EQ(Station(both, "LINE3").units, 1);
  EXPECT_EQ(both.total.units, 9);
  ASSERT_EQ(both.pareto.size(), 3u);  // most first, then by name
  EXPECT_EQ(both.pareto[1].step, "RX register # read-back # != #");
  EXPECT_EQ(both.pareto[2].step, "link not back after reload");
  // 17:00 yesterday to 09:00 today, the quiet night included.
  EXPECT_EQ(both.hours.size(), 17u);

  const LineFigures past = Figures({2026, 12, 7}, {2026, 12, 7});
  EXPECT_FALSE(past.live);
  ASSERT_EQ(past.stations.size(), 2u);  // only the stations that ran that day
  const StationFigures& line2 = Station(past, "LINE2");
  EXPECT_EQ(line2.units, 1);
  EXPECT_EQ(line2.finalPassUnits, 0);  // as the day ended
  EXPECT_FALSE(line2.stopped);         // stopping is said of today only
  ASSERT_TRUE(line2.lastRun);          // as the day ended
  EXPECT_EQ(line2.lastRun->timeLocal, "2026-12-07 17:00:00");
  EXPECT_EQ(past.hours, (std::vector<std::string>{"2026-12-07 17:00"}));
}

TEST_P(LineFiguresTest, AUnitBeingRetriedHasFailedItsFirstPassButHasNoFinalResultYet) {
  Run(Today(9, 11), "LINE5", "RXR", "FAIL", "link not back after reload");
  Run(Today(9, 13), "LINE5", "RXR", "RUNNING");
  const LineFigures f = Figures({2026, 12, 8}, {2026, 12, 8});
  const StationFigures& five = Station(f, "LINE5");
  EXPECT_EQ(five.units, 1);
  EXPECT_EQ(five.running, 1);
  EXPECT_DOUBLE_EQ(*five.FirstPassYield(), 0.0);
  EXPECT_FALSE(five.FinalYield());
}

TEST_P(LineFiguresTest, AnEmptyPeriodHasNoUnitsAndNoHours) {
  const LineFigures f = Figures({2026, 11, 1}, {2026, 11, 30});
  EXPECT_TRUE(f.stations.empty());
  EXPECT_EQ(f.total.units, 0);
  EXPECT_FALSE(f.total.FirstPassYield());
  EXPECT_TRUE(f.hours.empty());
  EXPECT_TRUE(f.pareto.empty());
}

TEST_P(LineFiguresTest, ARetryLongAfterItsFailureIsFoundWhicheverWayTheReaderLooks) {
  // Many rows before the period: the reader looks each unit up in the index instead of
  // walking them; a January failure still counts against a December pass.
  for (int i = 0; i < 40; ++i)
    Run(test::LocalSeconds(2026, 1, 5, 10, i), "LINE9", "RY" + std::to_string(10 + i), "PASS");
  Run(test::LocalSeconds(2026, 1, 6, 10, 0), "LINE9", "RZZ", "FAIL", "link not back after reload");
  Run(Today(9, 0), "LINE9", "RZZ", "PASS");
  const LineFigures f = Figures({2026, 12, 8}, {2026, 12, 8});
  const StationFigures& nine = Station(f, "LINE9");
  EXPECT_EQ(nine.units, 1);
  EXPECT_EQ(nine.firstPassUnits, 0);
  EXPECT_EQ(nine.finalPassUnits, 1);
}

TEST_P(LineFiguresTest, ALongPeriodComesInTimeOrderEitherWayAndStopsWhenAsked) {
  // More rows than the fleet's reader fetches at once, written out of time order, two to a
  // second (their row ids order them), and one on each edge of the day.
  constexpr int kRows = 2400;
  const int64_t day = test::LocalSeconds(2026, 11, 2, 0, 0);
  ASSERT_TRUE(record.InTransaction([&] {
    Run(day, "LINE7", "RQ-first", "PASS");
    for (int i = 0; i < kRows; ++i)
      Run(day + 60 + (i * 7919 % kRows) / 2, "LINE7", "RQ" + std::to_string(i),
          i % 5 ? "PASS" : "FAIL", i % 5 ? "" : "link not back after reload");
    Run(test::LocalSeconds(2026, 11, 3, 0, 0), "LINE7", "RQ-next-day", "PASS");
    return Status();
  }));
  const Result<std::vector<RecordRow>> all = record.Rows("");
  ASSERT_TRUE(all);
  std::vector<std::pair<std::string, int64_t>> expected;
  for (const RecordRow& row : *all)
    if (row.timeLocal >= "2026-11-02 00:00:00" && row.timeLocal < "2026-11-03 00:00:00")
      expected.emplace_back(row.timeLocal, row.id);
  std::sort(expected.begin(), expected.end());
  ASSERT_EQ(expected.size(), size_t(kRows + 1));

  const auto reader = OpenLineRecord(Where());
  ASSERT_TRUE(reader) << reader.status.failure;
  const LocalSpan span{"2026-11-02 00:00:00", "2026-11-03 00:00:00"};
  for (const RunOrder order : {RunOrder::OldestFirst, RunOrder::NewestFirst}) {
    std::vector<std::pair<std::string, int64_t>> got;
    const Status read = (*reader)->ForEachRun(span, order, [&](const RecordRow& row) {
      got.emplace_back(row.timeLocal, row.id);
      return true;
    });
    ASSERT_TRUE(read) << read.failure;
    if (order == RunOrder::NewestFirst) std::reverse(got.begin(), got.end());
    EXPECT_EQ(got, expected) << (order == RunOrder::OldestFirst ? "oldest first" : "newest first");
  }
  // Stopped half way, the reader is ready for the next walk.
  for (const size_t stopAt : {size_t(1500), expected.size()}) {
    size_t seen = 0;
    const Status read = (*reader)->ForEachRun(span, RunOrder::NewestFirst,
                                              [&](const RecordRow&) { return ++seen < stopAt; });
    ASSERT_TRUE(read) << read.failure;
    EXPECT_EQ(seen, stopAt);
  }
}

TEST_P(LineFiguresTest, AMissingIndexIsSaidUntilTheRecordGetsItAgain) {
  const auto note = [this] {
    const auto reader = OpenLineRecord(Where());
    EXPECT_TRUE(reader) << reader.status.failure;
    return reader ? (*reader)->SlowRecordNote().English() : std::string("(no reader)");
  };
  EXPECT_EQ(note(), "");
  if (Reader() == test::LineReader::SqliteRecord) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(Path().string().c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, "DROP INDEX units_by_unit", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    EXPECT_NE(note().find("has no index of units yet"), std::string::npos) << note();
    // A station opening the record makes it again.
    record.Close();
    ASSERT_TRUE(record.Open(Path()));
  } else {
#ifdef KORVEL_TEST_FLEET
    ASSERT_TRUE(fleet->Admin().Exec(Phrase::Literal("drop"),
                                    "DROP INDEX korvel.units_by_local_time, korvel.units_by_unit"));
    EXPECT_NE(note().find("lacks the indexes units_by_local_time, units_by_unit"),
              std::string::npos)
        << note();
    const Result<FleetInitReport> init = InitFleetDatabase(fleet->Admin(), {});
    ASSERT_TRUE(init) << init.status.failure;
#endif
  }
  EXPECT_EQ(note(), "");
}

INSTANTIATE_TEST_SUITE_P(Readers, LineFiguresTest, KORVEL_LINE_READERS, test::LineReaderName);

}  // namespace
}  // namespace korvel
