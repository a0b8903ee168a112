// The local calendar date, from an injectable source so serial numbers can be tested on any day.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace korvel {

struct LocalDate {
  int year = 2000;
  int month = 1;  // 1..12
  int day = 1;    // 1..31
};

using DateSource = std::function<LocalDate()>;

// Today on this PC's local clock.
LocalDate SystemLocalDate();
bool IsLeapYear(int year);
// 1 for 1 January, up to 366.
int DayOfYear(const LocalDate& date);
// Parses YYYY-MM-DD; false for anything else or an impossible date.
bool ParseIsoDate(const std::string& text, LocalDate& date);
// YYYY-MM-DD.
std::string IsoDateText(const LocalDate& date);
// Calendar arithmetic, no time zone: days since 1970-01-01 and back.
int64_t DaysSinceEpoch(const LocalDate& date);
LocalDate DateOfDay(int64_t days);
LocalDate AddDays(const LocalDate& date, int64_t days);

}  // namespace korvel
