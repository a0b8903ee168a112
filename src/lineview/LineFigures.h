// The line's figures over a period, made from the rows a LineRecordReader gives. The
// definitions live here, once, whatever kind of record the rows come from.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "production/LineRecordReader.h"
#include "production/LocalDate.h"

namespace korvel {

// Local dates, both included.
struct LinePeriod {
  LocalDate since, until;
};
LocalSpan SpanOf(const LinePeriod& period);

// A failure's step, so that one step failing at different addresses or with different values
// is one bar: every number in the reason becomes "#". A number is a maximal run of ASCII
// letters and digits that is all decimal digits, or 0x and hexadecimal digits, or hexadecimal
// digits with at least one decimal digit ("0C", "35554B370001"; not "ADD" or "EEPROM").
std::string FailureStep(const std::string& failedStep);

struct StationFigures {
  std::string station;  // empty for the line's total
  int units = 0;        // distinct units (a unit counts at the station that ran it first)
  int pass = 0, fail = 0, running = 0;  // runs
  // A yield counts the units whose run in question has ended: a unit in its first run counts
  // in neither, a unit being retried counts against first-pass yield and not yet in final.
  int firstRunEnded = 0, firstPassUnits = 0;   // units whose earliest run ended, and passed
  int latestRunEnded = 0, finalPassUnits = 0;  // units whose latest run in the period ended, ...
  std::vector<int> passedByHour;               // one per LineFigures::hours
  int activeHours = 0;                         // hours in which the station recorded a run
  std::optional<RecordRow> lastRun;            // its latest run in the period (highest row id)
  std::optional<int64_t> secondsSinceLastRun;
  bool stopped = false;  // a live period, and no run for longer than the stop limit

  std::optional<double> FirstPassYield() const;
  std::optional<double> FinalYield() const;
  std::optional<double> UnitsPerHour() const;  // PASS runs per active hour
};

struct ParetoBar {
  std::string step;  // FailureStep of the reasons
  int count = 0;     // failed runs
};

struct LineFigures {
  LinePeriod period;
  int64_t now = 0;                 // seconds since 1970
  std::string nowLocal;            // "2026-12-08 11:15:00"
  bool live = false;               // the period holds today
  int64_t stopAfter = 0;           // seconds without a run before a station counts as stopped
  std::vector<std::string> hours;  // "2026-12-08 10:00", each local hour charted
  StationFigures total;
  std::vector<StationFigures> stations;  // by name
  std::vector<ParetoBar> pareto;         // most failures first, then by name
};

// A live period lists also the stations that ran in the week before it, so one that stopped
// yesterday still shows.
constexpr int kQuietStationDays = 7;

Status ComputeLineFigures(LineRecordReader& reader, const LinePeriod& period, int64_t now,
                          int64_t stopAfterSeconds, LineFigures& figures);

// Seconds since 1970 of a UTC time as the record writes it ("2026-12-08T10:15:00Z").
std::optional<int64_t> ParseUtcText(const std::string& text);

}  // namespace korvel
