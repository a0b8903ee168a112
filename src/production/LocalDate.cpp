#include "production/LocalDate.h"

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

}  // namespace korvel
