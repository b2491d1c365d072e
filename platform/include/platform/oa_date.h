#pragma once
// OLE automation dates taken apart into calendar date and time of day.
//
// An automation date counts days since 30 December 1899. The integer part (truncated towards
// zero) is the day; the fraction is the time of day counted as positive whatever the sign, so
// -1.25 is 29 December 1899, 06:00. The valid range is 1 January 100 to 31 December 9999.

namespace platform {

struct OaDateParts {
  int year = 1899;
  int month = 12;
  int day = 30;
  int hour = 0;
  int minute = 0;
  int second = 0;
  // True when the date is 30 December 1899, the day whose dates the runtime shows as a time only.
  bool day_zero() const { return year == 1899 && month == 12 && day == 30; }
  bool midnight() const { return hour == 0 && minute == 0 && second == 0; }
};

// Splits an automation date, rounding the time to the nearest second (a time that rounds up to
// 24:00:00 becomes midnight of the next calendar day). Throws AutomationError 5 (invalid
// argument) for NaN, infinities and dates outside years 100..9999.
OaDateParts oa_date_parts(double oa_date);

}  // namespace platform
