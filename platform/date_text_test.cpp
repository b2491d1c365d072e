// Boolean and date texts, automation date arithmetic and the clock. The expected texts are the
// English (United States) ones, which is also what Wine shows in its default locale.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/automation_error.h"
#include "platform/clock.h"
#include "platform/locale_text.h"
#include "platform/oa_date.h"
#include "platform/utf.h"
#include "tests/support/error_of.h"

namespace platform {
namespace {

std::string text_of(double oa_date) { return to_utf8(date_text(oa_date)); }

TEST(BooleanText, EnglishWords) {
  EXPECT_EQ(boolean_text(true), u"True");
  EXPECT_EQ(boolean_text(false), u"False");
}

// Midnight shows the date only, day zero the time only; before 1899-12-30 the day counts
// backwards and the time forwards.
TEST(DateText, DatesAndTimesAcrossTheRangeAndInvalidValues) {
  const std::pair<double, const char*> texts[] = {
      {2.5, "1/1/1900 12:00:00 PM"},
      {36526.0 + (13 * 3600 + 5 * 60 + 9) / 86400.0, "1/1/2000 1:05:09 PM"},
      {45657.0 + (23 * 3600 + 59 * 60 + 59) / 86400.0, "12/31/2024 11:59:59 PM"},
      {1.0, "12/31/1899"},
      {36526.0, "1/1/2000"},
      {0.0, "12:00:00 AM"},
      {0.25, "6:00:00 AM"},
      {0.5 + 1.0 / 86400, "12:00:01 PM"},
      {-1.0, "12/29/1899"},
      {-1.25, "12/29/1899 6:00:00 AM"},
      {-0.75, "6:00:00 PM"},  // still 30 December 1899
      {-36522.5, "1/1/1800 12:00:00 PM"},
      {-657434.0, "1/1/100"},
      {2958465.0 + 86399.0 / 86400, "12/31/9999 11:59:59 PM"},
  };
  for (const auto& [value, text] : texts) EXPECT_EQ(text_of(value), text) << value;
  for (const double invalid : {std::numeric_limits<double>::quiet_NaN(),
                               std::numeric_limits<double>::infinity(),
                               -std::numeric_limits<double>::infinity(), -657435.0, 2958466.0,
                               1e300}) {
    EXPECT_EQ(testsupport::error_of([&] { (void)date_text(invalid); }), errnum::kInvalidCall)
        << invalid;
  }
}

TEST(OaDate, PartsRoundTheTimeToTheNearestSecond) {
  const OaDateParts below = oa_date_parts(0.5 + 0.4 / 86400);
  EXPECT_EQ(below.hour * 3600 + below.minute * 60 + below.second, 43200);
  const OaDateParts carried = oa_date_parts(2.0 - 0.2 / 86400);  // 23:59:59.8 on 31 Dec 1899
  EXPECT_EQ(carried.year, 1900);
  EXPECT_EQ(carried.month, 1);
  EXPECT_EQ(carried.day, 1);
  EXPECT_TRUE(carried.midnight());
  const OaDateParts before_epoch = oa_date_parts(-2.0 + 0.2 / 86400);  // 23:59:59.8 on 29 Dec
  EXPECT_EQ(before_epoch.day, 30);
  EXPECT_TRUE(before_epoch.day_zero());
}

TEST(OaDate, FromPartsKnownValues) {
  EXPECT_EQ(oa_date_from_parts(1899, 12, 30, 0, 0, 0), 0.0);
  EXPECT_EQ(oa_date_from_parts(1900, 1, 1, 0, 0, 0), 2.0);
  EXPECT_EQ(oa_date_from_parts(2000, 1, 1, 0, 0, 0), 36526.0);
  EXPECT_EQ(oa_date_from_parts(2000, 2, 29, 12, 0, 0), 36585.5);
  EXPECT_EQ(oa_date_from_parts(1899, 12, 29, 6, 0, 0), -1.25);
  EXPECT_EQ(oa_date_from_parts(100, 1, 1, 0, 0, 0), -657434.0);
  EXPECT_EQ(oa_date_from_parts(9999, 12, 31, 0, 0, 0), 2958465.0);
}

TEST(OaDate, FromPartsRejectsImpossibleDates) {
  EXPECT_THROW(oa_date_from_parts(1900, 2, 29, 0, 0, 0), AutomationError);  // not a leap year
  EXPECT_THROW(oa_date_from_parts(2023, 13, 1, 0, 0, 0), AutomationError);
  EXPECT_THROW(oa_date_from_parts(2023, 4, 31, 0, 0, 0), AutomationError);
  EXPECT_THROW(oa_date_from_parts(99, 12, 31, 0, 0, 0), AutomationError);
  EXPECT_THROW(oa_date_from_parts(10000, 1, 1, 0, 0, 0), AutomationError);
  EXPECT_THROW(oa_date_from_parts(2023, 1, 1, 24, 0, 0), AutomationError);
  EXPECT_THROW(oa_date_from_parts(2023, 1, 1, 0, 60, 0), AutomationError);
}

TEST(OaDate, PartsAndFromPartsAgreeAcrossTheRange) {
  for (int year = 100; year <= 9999; year += 37) {
    for (int month = 1; month <= 12; month += 5) {
      const double value = oa_date_from_parts(year, month, 28, 17, 42, 3);
      const OaDateParts p = oa_date_parts(value);
      ASSERT_EQ(p.year, year);
      ASSERT_EQ(p.month, month);
      ASSERT_EQ(p.day, 28);
      ASSERT_EQ(p.hour, 17);
      ASSERT_EQ(p.minute, 42);
      ASSERT_EQ(p.second, 3);
    }
  }
}

TEST(Clock, NowIsARecentDateInWholeSeconds) {
  const double now = local_now_as_oa_date();
  const OaDateParts parts = oa_date_parts(now);
  EXPECT_GE(parts.year, 2024);
  const double seconds = (now - std::floor(now)) * 86400;
  EXPECT_NEAR(seconds, std::round(seconds), 1e-3);
}

}  // namespace
}  // namespace platform
