#include <gtest/gtest.h>

#include "foundation/formats/DateUtilities.h"
#include "os/runtime/Clock.h"

namespace {

// The device's zone is fixed to China time (UTC+8) for every case, and the clock is virtual.
class DateUtilities : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = std::make_unique<TimeZoneRules>(currentCalendar().timeZone());
    currentCalendar().setTimeZone(TimeZoneRules::fixed(8 * 3600));
  }
  void TearDown() override { currentCalendar().setTimeZone(*saved_); }

  static os::Date local(long y, long mo, long d, long h = 0, long mi = 0, long s = 0) {
    return currentCalendar().dateFromComponents(y, mo, d, h, mi, s);
  }
  std::unique_ptr<TimeZoneRules> saved_;
};

TEST_F(DateUtilities, ComponentsInTheDeviceZone) {
  // 2026-12-06 16:30:05 UTC is 2026-12-07 00:30:05 in China, a Monday.
  const os::Date d = os::Date::fromTimeIntervalSince1970(1796574605);
  EXPECT_EQ(year(d), 2026);
  EXPECT_EQ(month(d), 12);
  EXPECT_EQ(day(d), 7);
  EXPECT_EQ(hour(d), 0);
  EXPECT_EQ(minute(d), 30);
  EXPECT_EQ(seconds(d), 5);
  EXPECT_EQ(weekday(d), 2);
  EXPECT_EQ(nthWeekday(d), 1);
  EXPECT_EQ(local(2026, 12, 7, 0, 30, 5), d);
  EXPECT_EQ(stringWithFormat(d, "yyyy-MM-dd HH:mm:ss EEEE 'at' a"), "2026-12-07 00:30:05 星期一 at 上午");
  EXPECT_EQ(stringWithFormat(d, "MM-dd HH:mm"), "12-07 00:30");
  EXPECT_EQ(mediumString(d), "2026年12月7日 00:30:05");
  EXPECT_EQ(shortDateString(d), "2026/12/7");
  EXPECT_EQ(longTimeString(d), "GMT+8 00:30:05");
}

TEST_F(DateUtilities, TodayTomorrowYesterdayAtMidnight) {
  os::VirtualClockScope clock(local(2026, 3, 10, 12).timeIntervalSince1970());
  EXPECT_TRUE(isToday(local(2026, 3, 10, 0, 0, 1)));
  EXPECT_TRUE(isToday(local(2026, 3, 10, 23, 59, 59)));
  EXPECT_FALSE(isToday(local(2026, 3, 11)));
  EXPECT_TRUE(isTomorrow(local(2026, 3, 11)));
  EXPECT_TRUE(isYesterday(local(2026, 3, 9, 23, 59, 59)));
  EXPECT_EQ(dateAtStartOfDay(os::Date::now()), local(2026, 3, 10));
  EXPECT_EQ(dateAtEndOfDay(os::Date::now()), local(2026, 3, 10, 23, 59, 59));
  // Crossing midnight on the clock moves "today".
  os::Clock::advance(12 * 3600);
  EXPECT_TRUE(isToday(local(2026, 3, 11)));
  EXPECT_EQ(dateWithHoursBeforeNow(1), local(2026, 3, 10, 23));
}

TEST_F(DateUtilities, WeeksMonthsAndYears) {
  // Sunday 1 March 2026 to Saturday 7 March 2026: one calendar week.
  EXPECT_TRUE(isSameWeekAsDate(local(2026, 3, 1), local(2026, 3, 7, 23)));
  EXPECT_FALSE(isSameWeekAsDate(local(2026, 3, 7), local(2026, 3, 8)));
  // 1 January of two years that both start on a Thursday: same week number, a year apart.
  EXPECT_EQ(week(local(2015, 1, 1)), week(local(2026, 1, 1)));
  EXPECT_FALSE(isSameWeekAsDate(local(2026, 1, 1), local(2025, 1, 1)));
  // The last days of a year share week 1 with the next January.
  EXPECT_EQ(week(local(2026, 12, 31)), 1);
  EXPECT_EQ(week(local(2026, 12, 26)), 52);

  os::VirtualClockScope clock(local(2026, 1, 31, 9).timeIntervalSince1970());
  EXPECT_EQ(dateByAddingMonths(os::Date::now(), 1), local(2026, 2, 28, 9));
  EXPECT_EQ(dateByAddingYears(local(2024, 2, 29), 1), local(2025, 2, 28));
  EXPECT_TRUE(isNextMonth(local(2026, 2, 1)));
  EXPECT_TRUE(isLastMonth(local(2025, 12, 31)));
  EXPECT_TRUE(isThisYear(local(2026, 12, 31)));
  EXPECT_TRUE(isNextYear(local(2027, 1, 1)));
  EXPECT_TRUE(isLastYear(local(2025, 6, 1)));
  EXPECT_TRUE(isNextWeek(local(2026, 2, 2)));
  EXPECT_TRUE(isInFuture(dateWithMinutesFromNow(1)));
  EXPECT_TRUE(isInPast(dateWithDaysBeforeNow(1)));
}

TEST_F(DateUtilities, LeapCenturiesAndTheTwelveHourClock) {
  // 2000 is divisible by 400 and so a leap year; 1900 and 2100 are not.
  const os::Date leapDay = local(2000, 2, 29, 12, 5);
  EXPECT_EQ(stringWithFormat(leapDay, "yyyy-MM-dd"), "2000-02-29");
  EXPECT_EQ(month(leapDay), 2);
  EXPECT_EQ(day(leapDay), 29);
  EXPECT_EQ(dateByAddingDays(local(2000, 2, 28), 1), local(2000, 2, 29));
  EXPECT_EQ(dateByAddingYears(local(1996, 2, 29), 4), local(2000, 2, 29));
  EXPECT_EQ(dateByAddingMonths(local(2000, 1, 31), 1), local(2000, 2, 29));
  EXPECT_EQ(dateByAddingMonths(local(1900, 1, 31), 1), local(1900, 2, 28));
  EXPECT_EQ(dateByAddingMonths(local(2100, 1, 31), 1), local(2100, 2, 28));

  // Midnight and noon are 12 on the twelve-hour clock, never 0; their neighbours run 1 to 11.
  EXPECT_EQ(stringWithFormat(local(2026, 12, 7, 0, 5), "hh:mm a"), "12:05 上午");
  EXPECT_EQ(stringWithFormat(local(2026, 12, 7, 1, 5), "hh:mm a"), "01:05 上午");
  EXPECT_EQ(stringWithFormat(local(2026, 12, 7, 11, 5), "h:mm a"), "11:05 上午");
  EXPECT_EQ(stringWithFormat(local(2026, 12, 7, 12, 5), "h:mm a"), "12:05 下午");
  EXPECT_EQ(stringWithFormat(local(2026, 12, 7, 13, 5), "h:mm a"), "1:05 下午");
  EXPECT_EQ(stringWithFormat(local(2026, 12, 7, 23, 5), "h:mm a"), "11:05 下午");
}

TEST_F(DateUtilities, WeekendWhateverTheFirstWeekday) {
  for (long first : {1L, 2L}) {
    currentCalendar().setFirstWeekday(first);
    EXPECT_TRUE(isTypicallyWeekend(local(2026, 3, 7)));   // Saturday
    EXPECT_TRUE(isTypicallyWeekend(local(2026, 3, 8)));   // Sunday
    EXPECT_TRUE(isTypicallyWorkday(local(2026, 3, 9)));   // Monday
  }
  currentCalendar().setFirstWeekday(1);
}

TEST_F(DateUtilities, DifferencesTruncateTowardZero) {
  const os::Date a = local(2026, 5, 1, 10);
  const os::Date b = a.addingTimeInterval(90);
  EXPECT_EQ(minutesAfterDate(b, a), 1);
  EXPECT_EQ(minutesBeforeDate(b, a), -1);
  EXPECT_EQ(hoursAfterDate(a.addingTimeInterval(-7199), a), -1);
  EXPECT_EQ(daysBeforeDate(a, a.addingTimeInterval(86399)), 0);
  EXPECT_EQ(distanceInDaysToDate(a, local(2026, 5, 4, 9, 59, 59)), 2);
  EXPECT_EQ(distanceInDaysToDate(a, local(2026, 4, 28, 10)), -3);
  DateComponents c = componentsWithOffsetFromDate(local(2027, 7, 12, 13, 2, 3), a);
  EXPECT_EQ(c.year, 1);
  EXPECT_EQ(c.month, 2);
  EXPECT_EQ(c.weekOfYear, 1);
  EXPECT_EQ(c.day, 4);
  EXPECT_EQ(c.hour, 3);
  EXPECT_EQ(c.minute, 2);
  EXPECT_EQ(c.second, 3);
}

TEST_F(DateUtilities, NamedZoneFollowsItsClockChanges) {
  auto berlin = TimeZoneRules::named("Europe/Berlin");
  if (!berlin) GTEST_SKIP() << "no zone files";
  EXPECT_FALSE(TimeZoneRules::named("../etc/passwd"));
  currentCalendar().setTimeZone(*berlin);
  // 29 March 2026: clocks go from 02:00 to 03:00; the day has 23 hours.
  const os::Date start = local(2026, 3, 29);
  EXPECT_EQ(dateByAddingDays(start, 1).timeIntervalSince(start), 23 * 3600);
  EXPECT_EQ(hour(local(2026, 3, 29, 2, 30)), 3);
  EXPECT_EQ(distanceInDaysToDate(start, local(2026, 3, 30)), 1);
  EXPECT_EQ(stringWithFormat(local(2026, 7, 1, 12), "HH:mm z"), "12:00 GMT+2");
}

}  // namespace
