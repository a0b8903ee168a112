#include "production/LocalDate.h"

#include <cstdio>
#include <ctime>

#include "platform/Text.h"

namespace korvel {

LocalDate SystemLocalDate() {
  const std::tm local = LocalTimeParts(int64_t(std::time(nullptr)));
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

bool IsLeapYear(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

namespace {
int DaysInMonth(int year, int month) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : days[month - 1];
}
}  // namespace

int DayOfYear(const LocalDate& date) {
  int d = date.day;
  for (int m = 1; m < date.month; ++m) d += DaysInMonth(date.year, m);
  return d;
}

bool ParseIsoDate(const std::string& text, LocalDate& date) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return false;
  for (size_t i : {0, 1, 2, 3, 5, 6, 8, 9})
    if (text[i] < '0' || text[i] > '9') return false;
  const int y = std::stoi(text.substr(0, 4)), m = std::stoi(text.substr(5, 2)),
            d = std::stoi(text.substr(8, 2));
  if (y < 1 || m < 1 || m > 12 || d < 1 || d > DaysInMonth(y, m)) return false;
  date = {y, m, d};
  return true;
}

std::string IsoDateText(const LocalDate& date) {
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", date.year % 10000, date.month % 100,
                date.day % 100);
  return text;
}

// The civil-from-days algorithm (proleptic Gregorian calendar, eras of 400 years).
int64_t DaysSinceEpoch(const LocalDate& date) {
  const int64_t y = date.month <= 2 ? date.year - 1 : date.year;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (date.month + (date.month > 2 ? -3 : 9)) + 2) / 5 + date.day - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

LocalDate DateOfDay(int64_t days) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t doe = days - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int d = int(doy - (153 * mp + 2) / 5 + 1);
  const int m = int(mp < 10 ? mp + 3 : mp - 9);
  return {int(yoe + era * 400 + (m <= 2 ? 1 : 0)), m, d};
}

LocalDate AddDays(const LocalDate& date, int64_t days) {
  return DateOfDay(DaysSinceEpoch(date) + days);
}

}  // namespace korvel
