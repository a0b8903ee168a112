#include "lineview/LineFigures.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <unordered_map>

namespace korvel {

namespace {

bool IsHex(char c) {
  return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsAsciiAlnum(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsNumberToken(const std::string& token) {
  if (token.size() > 2 && token[0] == '0' && (token[1] == 'x' || token[1] == 'X'))
    return std::all_of(token.begin() + 2, token.end(), IsHex);
  return std::all_of(token.begin(), token.end(), IsHex) &&
         std::any_of(token.begin(), token.end(), IsDigit);
}

// "2026-12-08 10:15:00" -> hours since 1970 on the calendar (no time zone); -1 when it is not
// a local time.
int64_t HourOf(const std::string& timeLocal) {
  LocalDate date;
  if (timeLocal.size() < 13 || !ParseIsoDate(timeLocal.substr(0, 10), date) ||
      !IsDigit(timeLocal[11]) || !IsDigit(timeLocal[12]))
    return -1;
  return DaysSinceEpoch(date) * 24 + (timeLocal[11] - '0') * 10 + (timeLocal[12] - '0');
}

std::string HourText(int64_t hour) {
  const int h = int(hour % 24);
  return IsoDateText(DateOfDay(hour / 24)) + (h < 10 ? " 0" : " ") + std::to_string(h) + ":00";
}

// One unit as the period sees it.
struct UnitState {
  size_t station = 0;  // where it ran first in the period
  std::string firstResult;
  std::string latestResult;
  std::string earlierResult;  // its earliest run before the period, if any
};

struct StationTally {
  StationFigures figures;
  std::map<int64_t, int> passed;  // hour -> PASS runs
  std::map<int64_t, bool> active;
};

}  // namespace

LocalSpan SpanOf(const LinePeriod& period) {
  return {IsoDateText(period.since) + " 00:00:00",
          IsoDateText(AddDays(period.until, 1)) + " 00:00:00"};
}

std::string FailureStep(const std::string& failedStep) {
  std::string out;
  for (size_t i = 0; i < failedStep.size();) {
    if (!IsAsciiAlnum(failedStep[i])) {
      out += failedStep[i++];
      continue;
    }
    size_t end = i;
    while (end < failedStep.size() && IsAsciiAlnum(failedStep[end])) ++end;
    const std::string token = failedStep.substr(i, end - i);
    out += IsNumberToken(token) ? "#" : token;
    i = end;
  }
  return out;
}

std::optional<int64_t> ParseUtcText(const std::string& text) {
  LocalDate date;
  if (text.size() != 20 || text[10] != 'T' || text[13] != ':' || text[16] != ':' ||
      text[19] != 'Z' || !ParseIsoDate(text.substr(0, 10), date))
    return std::nullopt;
  for (size_t i : {11, 12, 14, 15, 17, 18})
    if (!IsDigit(text[i])) return std::nullopt;
  const int h = std::stoi(text.substr(11, 2)), m = std::stoi(text.substr(14, 2)),
            s = std::stoi(text.substr(17, 2));
  if (h > 23 || m > 59 || s > 60) return std::nullopt;
  return DaysSinceEpoch(date) * 86400 + h * 3600 + m * 60 + s;
}

std::optional<double> StationFigures::FirstPassYield() const {
  if (firstRunEnded == 0) return std::nullopt;
  return double(firstPassUnits) / firstRunEnded;
}

std::optional<double> StationFigures::FinalYield() const {
  if (latestRunEnded == 0) return std::nullopt;
  return double(finalPassUnits) / latestRunEnded;
}

std::optional<double> StationFigures::UnitsPerHour() const {
  if (activeHours == 0) return std::nullopt;
  return double(pass) / activeHours;
}

Status ComputeLineFigures(LineRecordReader& reader, const LinePeriod& period, int64_t now,
                          int64_t stopAfterSeconds, LineFigures& figures) {
  figures = {};
  figures.period = period;
  figures.now = now;
  figures.nowLocal = ProductionRecord::LocalText(now);
  figures.stopAfter = stopAfterSeconds;
  LocalDate today;
  ParseIsoDate(figures.nowLocal.substr(0, 10), today);
  const int64_t todayDay = DaysSinceEpoch(today);
  figures.live =
      DaysSinceEpoch(period.since) <= todayDay && todayDay <= DaysSinceEpoch(period.until);
  const LocalSpan span = SpanOf(period);

  std::vector<StationTally> tallies;
  std::unordered_map<std::string, size_t> stationIndex;
  auto stationOf = [&](const std::string& name) {
    const auto [at, added] = stationIndex.emplace(name, tallies.size());
    if (added) {
      tallies.emplace_back();
      tallies.back().figures.station = name;
    }
    return at->second;
  };

  // Units by key; the key's kind goes in front so an RX serial never meets a TX serial.
  std::unordered_map<std::string, size_t> unitIndex;
  std::vector<UnitState> units;
  std::vector<UnitKey> keys;
  std::map<std::string, int> pareto;
  const Status read = reader.ForEachRun(span, RunOrder::OldestFirst, [&](const RecordRow& row) {
    const size_t station = stationOf(row.station);
    StationTally& tally = tallies[station];
    if (!tally.figures.lastRun || row.id > tally.figures.lastRun->id) tally.figures.lastRun = row;
    UnitKey key = UnitKeyOf(row);
    const std::string keyText = char('0' + int(key.kind)) + key.value;
    const auto [at, added] = unitIndex.emplace(keyText, units.size());
    if (added) {
      units.push_back({station, row.result, row.result, {}});
      keys.push_back(std::move(key));
    }
    units[at->second].latestResult = row.result;
    const int64_t hour = HourOf(row.timeLocal);
    tally.active[hour] = true;
    if (row.result == "PASS") {
      ++tally.figures.pass;
      ++tally.passed[hour];
    } else if (row.result == "FAIL") {
      ++tally.figures.fail;
      ++pareto[FailureStep(row.failedStep)];
    } else {
      ++tally.figures.running;
    }
    return true;
  });
  if (!read) return read;

  // A unit whose first try was before the period (a retry today of yesterday's failure) did
  // not pass the first time, whatever it did today.
  const Status earlier = reader.ForEachEarlierRun(keys, span.from, [&](const RecordRow& row) {
    const UnitKey key = UnitKeyOf(row);
    const auto at = unitIndex.find(char('0' + int(key.kind)) + key.value);
    if (at != unitIndex.end() && units[at->second].earlierResult.empty())
      units[at->second].earlierResult = row.result;
    return true;
  });
  if (!earlier) return earlier;

  for (const UnitState& unit : units) {
    StationFigures& f = tallies[unit.station].figures;
    ++f.units;
    const std::string& first = unit.earlierResult.empty() ? unit.firstResult : unit.earlierResult;
    if (first != "RUNNING") ++f.firstRunEnded;
    if (first == "PASS") ++f.firstPassUnits;
    if (unit.latestResult != "RUNNING") ++f.latestRunEnded;
    if (unit.latestResult == "PASS") ++f.finalPassUnits;
  }

  // A station's last run: its latest in the period (a past period is seen as it ended). A
  // live period runs to now, and lists also the stations of the week before it.
  if (figures.live) {
    const std::string weekAgo = IsoDateText(AddDays(today, -kQuietStationDays)) + " 00:00:00";
    Result<std::vector<RecordRow>> latest = reader.LatestRunPerStation(weekAgo);
    if (!latest) return latest.status;
    for (RecordRow& row : *latest) {
      std::optional<RecordRow>& last = tallies[stationOf(row.station)].figures.lastRun;
      if (!last || row.id > last->id) last = std::move(row);
    }
  }
  for (StationTally& tally : tallies) {
    StationFigures& f = tally.figures;
    if (!f.lastRun) continue;
    if (const auto at = ParseUtcText(f.lastRun->timeUtc)) f.secondsSinceLastRun = now - *at;
    f.stopped = figures.live && f.secondsSinceLastRun && *f.secondsSinceLastRun > stopAfterSeconds;
  }

  // The hours charted: from the first hour with a run to the last, and on to this hour while
  // the period is live, so a station that stopped shows its empty hours.
  int64_t firstHour = -1, lastHour = -1;
  for (const StationTally& tally : tallies)
    for (const auto& [hour, on] : tally.active) {
      if (hour < 0) continue;
      if (firstHour < 0 || hour < firstHour) firstHour = hour;
      lastHour = std::max(lastHour, hour);
    }
  if (figures.live && firstHour >= 0) lastHour = std::max(lastHour, HourOf(figures.nowLocal));
  if (firstHour >= 0)
    for (int64_t h = firstHour; h <= lastHour; ++h) figures.hours.push_back(HourText(h));

  std::sort(tallies.begin(), tallies.end(), [](const StationTally& a, const StationTally& b) {
    return a.figures.station < b.figures.station;
  });
  StationFigures& total = figures.total;
  total.passedByHour.assign(figures.hours.size(), 0);
  std::map<int64_t, bool> anyActive;
  for (StationTally& tally : tallies) {
    StationFigures& f = tally.figures;
    f.passedByHour.assign(figures.hours.size(), 0);
    for (const auto& [hour, count] : tally.passed)
      if (hour >= firstHour && hour <= lastHour) {
        f.passedByHour[size_t(hour - firstHour)] = count;
        total.passedByHour[size_t(hour - firstHour)] += count;
      }
    f.activeHours = int(tally.active.size());
    anyActive.insert(tally.active.begin(), tally.active.end());
    total.units += f.units;
    total.pass += f.pass;
    total.fail += f.fail;
    total.running += f.running;
    total.firstRunEnded += f.firstRunEnded;
    total.firstPassUnits += f.firstPassUnits;
    total.latestRunEnded += f.latestRunEnded;
    total.finalPassUnits += f.finalPassUnits;
    if (f.lastRun && (!total.lastRun || f.lastRun->id > total.lastRun->id)) {
      total.lastRun = f.lastRun;
      total.secondsSinceLastRun = f.secondsSinceLastRun;
    }
    figures.stations.push_back(std::move(f));
  }
  total.activeHours = int(anyActive.size());
  total.stopped =
      figures.live && total.secondsSinceLastRun && *total.secondsSinceLastRun > stopAfterSeconds;

  for (const auto& [step, count] : pareto) figures.pareto.push_back({step, count});
  std::stable_sort(figures.pareto.begin(), figures.pareto.end(),
                   [](const ParetoBar& a, const ParetoBar& b) { return a.count > b.count; });
  return {};
}

}  // namespace korvel
