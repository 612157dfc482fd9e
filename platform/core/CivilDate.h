// Automation dates (days since 1899-12-30, the time of day as the fraction)
// and the civil calendar. The one home of the calendar arithmetic: the
// value's own text and the database's stored text both split a date here.
#pragma once

namespace pendra {

struct CivilDate {
  long long year;
  unsigned month;   // 1-12
  unsigned day;     // 1-31
};

// Days from 1970-01-01 of a civil date, and back (Howard Hinnant's
// algorithms, valid for every year of the proleptic Gregorian calendar).
long long DaysFromCivil(long long year, unsigned month, unsigned day);
CivilDate CivilFromDays(long long days);

// An automation date as a civil date and a time of day rounded to the
// second. The time is the fraction's absolute value, as the automation
// runtime reads negative dates; a time that rounds up to 24:00:00 is
// 00:00:00 of the next day (away from day 0).
struct DateTimeParts {
  CivilDate date;
  long secondOfDay;   // 0-86399
};
DateTimeParts SplitAutomationDate(double automationDate);

// The automation date of a civil date at a second of its day.
double AutomationDate(const CivilDate& date, long secondOfDay);

}  // namespace pendra
