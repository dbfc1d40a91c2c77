#pragma once
// A point in time as seconds since 1970 (the reference the platform also exposes as seconds since 2001).
// Below it, the day arithmetic of the Gregorian calendar that the stores and the calendars share.
#include <compare>
#include <cstdint>

namespace os {

class Date {
 public:
  static constexpr double kSecondsFrom1970To2001 = 978307200.0;

  constexpr Date() = default;
  static constexpr Date fromTimeIntervalSince1970(double s) { Date d; d.s1970_ = s; return d; }
  static constexpr Date fromTimeIntervalSinceReferenceDate(double s) {
    return fromTimeIntervalSince1970(s + kSecondsFrom1970To2001);
  }
  // The current time of os::Clock (virtual in tests).
  static Date now();
  static constexpr Date distantFuture() { return fromTimeIntervalSince1970(64092211200.0); }
  static constexpr Date distantPast() { return fromTimeIntervalSince1970(-62135769600.0); }

  constexpr double timeIntervalSince1970() const { return s1970_; }
  constexpr double timeIntervalSinceReferenceDate() const { return s1970_ - kSecondsFrom1970To2001; }
  constexpr double timeIntervalSince(Date other) const { return s1970_ - other.s1970_; }
  double timeIntervalSinceNow() const;
  constexpr Date addingTimeInterval(double s) const { return fromTimeIntervalSince1970(s1970_ + s); }

  constexpr auto operator<=>(const Date&) const = default;

 private:
  double s1970_ = 0;
};

// ---- The proleptic Gregorian calendar, counted in whole days since 1970-01-01 ----

// a / b rounded toward minus infinity (b not 0): the day of a second before 1970 is the one before.
constexpr std::int64_t floorDivide(std::int64_t a, std::int64_t b) {
  return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

constexpr bool isLeapYear(std::int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

// The days of a month (1-12).
constexpr unsigned daysInMonth(std::int64_t year, unsigned month) {
  constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

// The day of a date (month 1-12, day 1 to the month's last), and back.
constexpr std::int64_t daysFromCivil(std::int64_t year, unsigned month, unsigned day) {
  const std::int64_t m = month, d = day;
  const std::int64_t y = year - (m <= 2);
  const std::int64_t era = floorDivide(y, 400);
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

struct CivilDate {
  std::int64_t year;
  unsigned month;  // 1-12
  unsigned day;    // 1-31
};

constexpr CivilDate civilFromDays(std::int64_t days) {
  const std::int64_t z = days + 719468;
  const std::int64_t era = floorDivide(z, 146097);
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const auto day = static_cast<unsigned>(doy - (153 * mp + 2) / 5 + 1);
  const auto month = static_cast<unsigned>(mp < 10 ? mp + 3 : mp - 9);
  return {yoe + era * 400 + (month <= 2), month, day};
}

}  // namespace os
