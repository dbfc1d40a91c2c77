#pragma once
// Date arithmetic, calendar comparisons and formatted strings, in the calendar and time zone of
// DateCalendar::currentCalendar(). "Now" is os::Date::now(), so tests run on a virtual clock.
#include <string>
#include <string_view>

#include "foundation/formats/DateCalendar.h"
#include "os/core/Date.h"

inline constexpr long kDateMinute = 60;
inline constexpr long kDateHour = 3600;
inline constexpr long kDateDay = 86400;
inline constexpr long kDateWeek = 604800;

inline DateCalendar& currentCalendar() { return DateCalendar::currentCalendar(); }

// Creating dates from now.
os::Date dateWithDaysFromNow(long days);
os::Date dateWithDaysBeforeNow(long days);
os::Date dateTomorrow();
os::Date dateYesterday();
os::Date dateWithHoursFromNow(long hours);
os::Date dateWithHoursBeforeNow(long hours);
os::Date dateWithMinutesFromNow(long minutes);
os::Date dateWithMinutesBeforeNow(long minutes);

// Strings. Patterns take y M d H h m s S a E z and 'quoted text'; styles are those of the
// Chinese (China) locale.
enum class DateFormatterStyle { None, Short, Medium, Long };
std::string stringWithFormat(os::Date date, std::string_view pattern);
std::string stringWithDateStyle(os::Date date, DateFormatterStyle dateStyle, DateFormatterStyle timeStyle);
std::string shortString(os::Date date);
std::string shortTimeString(os::Date date);
std::string shortDateString(os::Date date);
std::string mediumString(os::Date date);
std::string mediumTimeString(os::Date date);
std::string mediumDateString(os::Date date);
std::string longString(os::Date date);
std::string longTimeString(os::Date date);
std::string longDateString(os::Date date);

// Comparisons.
bool isEqualToDateIgnoringTime(os::Date date, os::Date other);
bool isToday(os::Date date);
bool isTomorrow(os::Date date);
bool isYesterday(os::Date date);
bool isSameWeekAsDate(os::Date date, os::Date other);
bool isThisWeek(os::Date date);
bool isNextWeek(os::Date date);
bool isLastWeek(os::Date date);
bool isSameMonthAsDate(os::Date date, os::Date other);
bool isThisMonth(os::Date date);
bool isLastMonth(os::Date date);
bool isNextMonth(os::Date date);
bool isSameYearAsDate(os::Date date, os::Date other);
bool isThisYear(os::Date date);
bool isNextYear(os::Date date);
bool isLastYear(os::Date date);
bool isEarlierThanDate(os::Date date, os::Date other);
bool isLaterThanDate(os::Date date, os::Date other);
bool isInFuture(os::Date date);
bool isInPast(os::Date date);
bool isTypicallyWeekend(os::Date date);
bool isTypicallyWorkday(os::Date date);

// Arithmetic.
os::Date dateByAddingYears(os::Date date, long years);
os::Date dateBySubtractingYears(os::Date date, long years);
os::Date dateByAddingMonths(os::Date date, long months);
os::Date dateBySubtractingMonths(os::Date date, long months);
os::Date dateByAddingDays(os::Date date, long days);
os::Date dateBySubtractingDays(os::Date date, long days);
os::Date dateByAddingHours(os::Date date, long hours);
os::Date dateBySubtractingHours(os::Date date, long hours);
os::Date dateByAddingMinutes(os::Date date, long minutes);
os::Date dateBySubtractingMinutes(os::Date date, long minutes);
os::Date dateAtStartOfDay(os::Date date);
os::Date dateAtEndOfDay(os::Date date);

// Differences and components.
DateComponents componentsWithOffsetFromDate(os::Date date, os::Date other);
long minutesAfterDate(os::Date date, os::Date other);
long minutesBeforeDate(os::Date date, os::Date other);
long hoursAfterDate(os::Date date, os::Date other);
long hoursBeforeDate(os::Date date, os::Date other);
long daysAfterDate(os::Date date, os::Date other);
long daysBeforeDate(os::Date date, os::Date other);
long distanceInDaysToDate(os::Date date, os::Date other);
// The hour of the date rounded to the nearest whole hour.
long nearestHour(os::Date date);
long hour(os::Date date);
long minute(os::Date date);
long seconds(os::Date date);
long day(os::Date date);
long month(os::Date date);
long week(os::Date date);
long weekday(os::Date date);
long nthWeekday(os::Date date);
long year(os::Date date);
