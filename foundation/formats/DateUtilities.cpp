#include "foundation/formats/DateUtilities.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

DateCalendar& cal() { return DateCalendar::currentCalendar(); }

std::string padded(long v, std::size_t width) {
  std::string s = std::to_string(std::labs(v));
  if (s.size() < width) s.insert(0, width - s.size(), '0');
  return v < 0 ? "-" + s : s;
}

std::string zoneText(long offset) {
  if (offset == 0) return "GMT";
  const long a = std::labs(offset);
  std::string s = std::string("GMT") + (offset < 0 ? "-" : "+") + std::to_string(a / 3600);
  if (a % 3600) s += ":" + padded(a % 3600 / 60, 2);
  return s;
}

const char* const kWeekdayShort[] = {"周日", "周一", "周二", "周三", "周四", "周五", "周六"};
const char* const kWeekdayLong[] = {"星期日", "星期一", "星期二", "星期三", "星期四", "星期五", "星期六"};

// The date formatter's patterns, for the fields the reader uses.
std::string formatDate(os::Date date, std::string_view pattern) {
  const DateComponents c = cal().components(date);
  const double t = date.timeIntervalSince1970();
  std::string out;
  for (std::size_t i = 0; i < pattern.size();) {
    const char ch = pattern[i];
    if (ch == '\'') {
      // 'text' is literal; '' is one quote.
      if (i + 1 < pattern.size() && pattern[i + 1] == '\'') {
        out += '\'';
        i += 2;
        continue;
      }
      std::size_t j = i + 1;
      while (j < pattern.size()) {
        if (pattern[j] == '\'') {
          if (j + 1 < pattern.size() && pattern[j + 1] == '\'') {
            out += '\'';
            j += 2;
            continue;
          }
          break;
        }
        out += pattern[j++];
      }
      i = j + 1;
      continue;
    }
    if (!((ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z'))) {
      out += ch;
      ++i;
      continue;
    }
    std::size_t n = 1;
    while (i + n < pattern.size() && pattern[i + n] == ch) ++n;
    i += n;
    switch (ch) {
      case 'y': out += n == 2 ? padded(c.year % 100, 2) : padded(c.year, n); break;
      case 'M':
      case 'L': out += n >= 3 ? std::to_string(c.month) + "月" : padded(c.month, n); break;
      case 'd': out += padded(c.day, n); break;
      case 'H': out += padded(c.hour, n); break;
      case 'h': out += padded(c.hour % 12 == 0 ? 12 : c.hour % 12, n); break;
      case 'm': out += padded(c.minute, n); break;
      case 's': out += padded(c.second, n); break;
      case 'S': {
        const double frac = t - std::floor(t);
        std::string digits = padded(static_cast<long>(std::floor(frac * 1000.0)), 3);
        digits.resize(n, '0');
        out += digits;
        break;
      }
      case 'a': out += c.hour < 12 ? "上午" : "下午"; break;
      case 'E': out += (n >= 4 ? kWeekdayLong : kWeekdayShort)[c.weekday - 1]; break;
      case 'z':
      case 'Z': out += zoneText(cal().timeZone().offsetAt(t)); break;
      default: out.append(n, ch);  // letters without a meaning here stand for themselves
    }
  }
  return out;
}

const char* datePattern(DateFormatterStyle s) {
  switch (s) {
    case DateFormatterStyle::Short: return "y/M/d";
    case DateFormatterStyle::Medium:
    case DateFormatterStyle::Long: return "y年M月d日";
    default: return "";
  }
}

const char* timePattern(DateFormatterStyle s) {
  switch (s) {
    case DateFormatterStyle::Short: return "HH:mm";
    case DateFormatterStyle::Medium: return "HH:mm:ss";
    case DateFormatterStyle::Long: return "z HH:mm:ss";
    default: return "";
  }
}

long truncatedDifference(os::Date a, os::Date b, long unit) {
  return static_cast<long>(std::trunc(a.timeIntervalSince(b) / static_cast<double>(unit)));
}

}  // namespace

os::Date dateWithDaysFromNow(long days) { return dateByAddingDays(os::Date::now(), days); }
os::Date dateWithDaysBeforeNow(long days) { return dateBySubtractingDays(os::Date::now(), days); }
os::Date dateTomorrow() { return dateWithDaysFromNow(1); }
os::Date dateYesterday() { return dateWithDaysBeforeNow(1); }
os::Date dateWithHoursFromNow(long hours) { return os::Date::now().addingTimeInterval(hours * double(kDateHour)); }
os::Date dateWithHoursBeforeNow(long hours) { return os::Date::now().addingTimeInterval(-hours * double(kDateHour)); }
os::Date dateWithMinutesFromNow(long minutes) { return os::Date::now().addingTimeInterval(minutes * double(kDateMinute)); }
os::Date dateWithMinutesBeforeNow(long minutes) { return os::Date::now().addingTimeInterval(-minutes * double(kDateMinute)); }

std::string stringWithFormat(os::Date date, std::string_view pattern) { return formatDate(date, pattern); }

std::string stringWithDateStyle(os::Date date, DateFormatterStyle dateStyle, DateFormatterStyle timeStyle) {
  std::string pattern = datePattern(dateStyle);
  const std::string time = timePattern(timeStyle);
  if (!pattern.empty() && !time.empty()) pattern += ' ';
  return formatDate(date, pattern + time);
}

using S = DateFormatterStyle;
std::string shortString(os::Date d) { return stringWithDateStyle(d, S::Short, S::Short); }
std::string shortTimeString(os::Date d) { return stringWithDateStyle(d, S::None, S::Short); }
std::string shortDateString(os::Date d) { return stringWithDateStyle(d, S::Short, S::None); }
std::string mediumString(os::Date d) { return stringWithDateStyle(d, S::Medium, S::Medium); }
std::string mediumTimeString(os::Date d) { return stringWithDateStyle(d, S::None, S::Medium); }
std::string mediumDateString(os::Date d) { return stringWithDateStyle(d, S::Medium, S::None); }
std::string longString(os::Date d) { return stringWithDateStyle(d, S::Long, S::Long); }
std::string longTimeString(os::Date d) { return stringWithDateStyle(d, S::None, S::Long); }
std::string longDateString(os::Date d) { return stringWithDateStyle(d, S::Long, S::None); }

bool isEqualToDateIgnoringTime(os::Date date, os::Date other) {
  const DateComponents a = cal().components(date), b = cal().components(other);
  return a.year == b.year && a.month == b.month && a.day == b.day;
}
bool isToday(os::Date date) { return isEqualToDateIgnoringTime(date, os::Date::now()); }
bool isTomorrow(os::Date date) { return isEqualToDateIgnoringTime(date, dateTomorrow()); }
bool isYesterday(os::Date date) { return isEqualToDateIgnoringTime(date, dateYesterday()); }

bool isSameWeekAsDate(os::Date date, os::Date other) {
  if (cal().components(date).weekOfYear != cal().components(other).weekOfYear) return false;
  return std::fabs(std::trunc(date.timeIntervalSince(other))) < kDateWeek;
}
bool isThisWeek(os::Date date) { return isSameWeekAsDate(date, os::Date::now()); }
bool isNextWeek(os::Date date) { return isSameWeekAsDate(date, os::Date::now().addingTimeInterval(kDateWeek)); }
bool isLastWeek(os::Date date) { return isSameWeekAsDate(date, os::Date::now().addingTimeInterval(-kDateWeek)); }

bool isSameMonthAsDate(os::Date date, os::Date other) {
  const DateComponents a = cal().components(date), b = cal().components(other);
  return a.month == b.month && a.year == b.year;
}
bool isThisMonth(os::Date date) { return isSameMonthAsDate(date, os::Date::now()); }
bool isLastMonth(os::Date date) { return isSameMonthAsDate(date, dateBySubtractingMonths(os::Date::now(), 1)); }
bool isNextMonth(os::Date date) { return isSameMonthAsDate(date, dateByAddingMonths(os::Date::now(), 1)); }

bool isSameYearAsDate(os::Date date, os::Date other) { return year(date) == year(other); }
bool isThisYear(os::Date date) { return isSameYearAsDate(date, os::Date::now()); }
bool isNextYear(os::Date date) { return year(date) == year(os::Date::now()) + 1; }
bool isLastYear(os::Date date) { return year(date) == year(os::Date::now()) - 1; }

bool isEarlierThanDate(os::Date date, os::Date other) { return date < other; }
bool isLaterThanDate(os::Date date, os::Date other) { return date > other; }
bool isInFuture(os::Date date) { return isLaterThanDate(date, os::Date::now()); }
bool isInPast(os::Date date) { return isEarlierThanDate(date, os::Date::now()); }

bool isTypicallyWeekend(os::Date date) {
  const long w = weekday(date);
  return w == 1 || w == 7;
}
bool isTypicallyWorkday(os::Date date) { return !isTypicallyWeekend(date); }

os::Date dateByAddingYears(os::Date date, long years) { return cal().dateByAdding(date, years, 0, 0); }
os::Date dateBySubtractingYears(os::Date date, long years) { return dateByAddingYears(date, -years); }
os::Date dateByAddingMonths(os::Date date, long months) { return cal().dateByAdding(date, 0, months, 0); }
os::Date dateBySubtractingMonths(os::Date date, long months) { return dateByAddingMonths(date, -months); }
os::Date dateByAddingDays(os::Date date, long days) { return cal().dateByAdding(date, 0, 0, days); }
os::Date dateBySubtractingDays(os::Date date, long days) { return dateByAddingDays(date, -days); }
os::Date dateByAddingHours(os::Date date, long hours) { return date.addingTimeInterval(hours * double(kDateHour)); }
os::Date dateBySubtractingHours(os::Date date, long hours) { return dateByAddingHours(date, -hours); }
os::Date dateByAddingMinutes(os::Date date, long minutes) { return date.addingTimeInterval(minutes * double(kDateMinute)); }
os::Date dateBySubtractingMinutes(os::Date date, long minutes) { return dateByAddingMinutes(date, -minutes); }

os::Date dateAtStartOfDay(os::Date date) {
  const DateComponents c = cal().components(date);
  return cal().dateFromComponents(c.year, c.month, c.day, 0, 0, 0);
}
os::Date dateAtEndOfDay(os::Date date) {
  const DateComponents c = cal().components(date);
  return cal().dateFromComponents(c.year, c.month, c.day, 23, 59, 59);
}

DateComponents componentsWithOffsetFromDate(os::Date date, os::Date other) { return cal().difference(other, date); }
long minutesAfterDate(os::Date date, os::Date other) { return truncatedDifference(date, other, kDateMinute); }
long minutesBeforeDate(os::Date date, os::Date other) { return truncatedDifference(other, date, kDateMinute); }
long hoursAfterDate(os::Date date, os::Date other) { return truncatedDifference(date, other, kDateHour); }
long hoursBeforeDate(os::Date date, os::Date other) { return truncatedDifference(other, date, kDateHour); }
long daysAfterDate(os::Date date, os::Date other) { return truncatedDifference(date, other, kDateDay); }
long daysBeforeDate(os::Date date, os::Date other) { return truncatedDifference(other, date, kDateDay); }
long distanceInDaysToDate(os::Date date, os::Date other) { return cal().daysFrom(date, other); }

// The hour nearest to the receiver's own time (half past rounds up).
long nearestHour(os::Date date) { return hour(date.addingTimeInterval(kDateMinute * 30)); }
long hour(os::Date date) { return cal().components(date).hour; }
long minute(os::Date date) { return cal().components(date).minute; }
long seconds(os::Date date) { return cal().components(date).second; }
long day(os::Date date) { return cal().components(date).day; }
long month(os::Date date) { return cal().components(date).month; }
long week(os::Date date) { return cal().components(date).weekOfYear; }
long weekday(os::Date date) { return cal().components(date).weekday; }
long nthWeekday(os::Date date) { return cal().components(date).weekdayOrdinal; }
long year(os::Date date) { return cal().components(date).year; }
