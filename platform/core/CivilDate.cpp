#include "CivilDate.h"

#include <cmath>

namespace pendra {

namespace {

// Automation day 0, 1899-12-30, lies this many days before 1970-01-01.
constexpr long long kAutomationEpochOffset = 25569;
constexpr long kSecondsPerDay = 86400;

}  // namespace

long long DaysFromCivil(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

CivilDate CivilFromDays(long long z) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  long long y = static_cast<long long>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  y += m <= 2;
  return {y, m, d};
}

DateTimeParts SplitAutomationDate(double date) {
  const double whole = std::trunc(date);
  long seconds = std::lround(std::fabs(date - whole) * kSecondsPerDay);
  auto day = static_cast<long long>(whole);
  if (seconds >= kSecondsPerDay) {
    seconds -= kSecondsPerDay;
    day += date < 0 ? -1 : 1;
  }
  return {CivilFromDays(day - kAutomationEpochOffset), seconds};
}

double AutomationDate(const CivilDate& date, long secondOfDay) {
  const auto day = static_cast<double>(DaysFromCivil(date.year, date.month, date.day) + kAutomationEpochOffset);
  const double fraction = static_cast<double>(secondOfDay) / kSecondsPerDay;
  // Before day 0 the time counts away from zero, as automation dates do.
  return day < 0 ? day - fraction : day + fraction;
}

}  // namespace pendra
