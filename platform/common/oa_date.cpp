// Calendar arithmetic for automation dates (proleptic Gregorian calendar).

#include "platform/oa_date.h"

#include <cmath>
#include <cstdint>

#include "platform/automation_error.h"
#include "platform/clock.h"

namespace platform {
namespace {

// Day number of 30 December 1899 counted from 1 January 1970.
constexpr int64_t kOaEpochFromUnix = -25569;
// 1 January 100 and 31 December 9999 as automation day numbers.
constexpr int64_t kFirstDay = -657434;
constexpr int64_t kLastDay = 2958465;
constexpr int64_t kSecondsPerDay = 86400;

// Days since 1 January 1970 of a civil date (H. Hinnant's algorithm).
int64_t days_from_civil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void civil_from_days(int64_t z, OaDateParts& out) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  out.year = static_cast<int>(static_cast<int64_t>(yoe) + era * 400 + (m <= 2));
  out.month = static_cast<int>(m);
  out.day = static_cast<int>(d);
}

bool leap_year(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int days_in_month(int y, int m) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && leap_year(y) ? 29 : kDays[m - 1];
}

[[noreturn]] void invalid_date() { throw AutomationError(errnum::kInvalidCall); }

}  // namespace

OaDateParts oa_date_parts(double oa_date) {
  // The range test on the double comes first so that the integer conversions below are defined.
  if (!std::isfinite(oa_date) || oa_date <= static_cast<double>(kFirstDay - 1) ||
      oa_date >= static_cast<double>(kLastDay + 1)) {
    invalid_date();
  }
  const double whole = std::trunc(oa_date);
  int64_t day = static_cast<int64_t>(whole);
  auto seconds = static_cast<int64_t>(std::llround(std::fabs(oa_date - whole) * kSecondsPerDay));
  if (seconds >= kSecondsPerDay) {  // 23:59:59.5 and later round to the next day's midnight
    seconds -= kSecondsPerDay;
    ++day;
  }
  if (day < kFirstDay || day > kLastDay) invalid_date();
  OaDateParts parts;
  civil_from_days(day + kOaEpochFromUnix, parts);
  parts.hour = static_cast<int>(seconds / 3600);
  parts.minute = static_cast<int>(seconds / 60 % 60);
  parts.second = static_cast<int>(seconds % 60);
  return parts;
}

double oa_date_from_parts(int year, int month, int day, int hour, int minute, int second) {
  if (year < 100 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > days_in_month(year, month) || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
      second < 0 || second > 59) {
    invalid_date();
  }
  const int64_t days =
      days_from_civil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) -
      kOaEpochFromUnix;
  const double time = static_cast<double>(hour * 3600 + minute * 60 + second) / kSecondsPerDay;
  // Before the epoch the time still counts forwards from the start of the day.
  return days >= 0 ? static_cast<double>(days) + time : static_cast<double>(days) - time;
}

}  // namespace platform
