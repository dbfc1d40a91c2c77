#include "foundation/formats/DateCalendar.h"

#include <cmath>

#include "os/views/Device.h"

DateCalendar& DateCalendar::currentCalendar() {
  // Made once, whichever thread asks first, and never destroyed: background work still running
  // while the process exits may ask for it.
  static DateCalendar& calendar = *new DateCalendar(TimeZoneRules::processLocal());
  calendar.followDeviceZone(os::Device::current().profile().timeZone);
  return calendar;
}

// Only a change of the profile's zone replaces the calendar's, so a zone set on the calendar
// itself stands until then.
void DateCalendar::followDeviceZone(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (followedZone_ == name) return;
  followedZone_ = name;
  std::optional<TimeZoneRules> zone = name.empty() ? std::nullopt : TimeZoneRules::named(name);
  state_.zone = std::make_shared<const TimeZoneRules>(zone ? std::move(*zone) : TimeZoneRules::processLocal());
}

DateCalendar::DateCalendar(TimeZoneRules zone, long firstWeekday)
    : state_{std::make_shared<const TimeZoneRules>(std::move(zone)), firstWeekday} {}

DateCalendar::State DateCalendar::state() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return state_;
}

TimeZoneRules DateCalendar::timeZone() const { return *state().zone; }

void DateCalendar::setTimeZone(TimeZoneRules zone) {
  auto z = std::make_shared<const TimeZoneRules>(std::move(zone));
  std::lock_guard<std::mutex> lock(mutex_);
  state_.zone = std::move(z);
}

long DateCalendar::firstWeekday() const { return state().firstWeekday; }

void DateCalendar::setFirstWeekday(long weekday) {
  std::lock_guard<std::mutex> lock(mutex_);
  state_.firstWeekday = weekday >= 1 && weekday <= 7 ? weekday : 1;
}

DateComponents DateCalendar::components(os::Date date) const {
  const State s = state();
  const double t = date.timeIntervalSince1970();
  const double local = std::floor(t) + static_cast<double>(s.zone->offsetAt(t));
  const auto localSeconds = static_cast<long long>(local);
  const long long days = os::floorDivide(localSeconds, 86400);
  const long long secs = localSeconds - days * 86400;
  DateComponents c;
  const os::CivilDate civil = os::civilFromDays(days);
  const long long y = civil.year;
  c.year = static_cast<long>(y);
  c.month = static_cast<long>(civil.month);
  c.day = static_cast<long>(civil.day);
  c.hour = static_cast<long>(secs / 3600);
  c.minute = static_cast<long>(secs % 3600 / 60);
  c.second = static_cast<long>(secs % 60);
  // 1970-01-01 was a Thursday (weekday 5).
  c.weekday = static_cast<long>(((days % 7) + 7 + 4) % 7) + 1;
  c.weekdayOrdinal = (c.day - 1) / 7 + 1;
  // Week 1 is the week holding 1 January; a week that holds the next 1 January is week 1 too.
  auto position = [&](long weekday) { return (weekday - s.firstWeekday + 7) % 7; };
  const long long jan1 = os::daysFromCivil(y, 1, 1);
  const long jan1Weekday = static_cast<long>(((jan1 % 7) + 7 + 4) % 7) + 1;
  const long dayOfYear = static_cast<long>(days - jan1) + 1;
  const long lastDayOfWeek = dayOfYear + 6 - position(c.weekday);
  c.weekOfYear = lastDayOfWeek > (os::isLeapYear(y) ? 366 : 365) ? 1 : (dayOfYear - 1 + position(jan1Weekday)) / 7 + 1;
  return c;
}

os::Date DateCalendar::dateFromComponents(long year, long month, long day, long hour, long minute, double second) const {
  const State s = state();
  long long y = year + os::floorDivide(month - 1, 12);
  const long m = static_cast<long>(month - 1 - os::floorDivide(month - 1, 12) * 12) + 1;
  const long long days = os::daysFromCivil(y, static_cast<unsigned>(m), 1) + (day - 1);
  const double local = static_cast<double>(days) * 86400.0 + hour * 3600.0 + minute * 60.0 + second;
  return os::Date::fromTimeIntervalSince1970(s.zone->momentFromLocal(local));
}

os::Date DateCalendar::dateByAdding(os::Date date, long years, long months, long days) const {
  const DateComponents c = components(date);
  const double fraction = date.timeIntervalSince1970() - std::floor(date.timeIntervalSince1970());
  const long totalMonths = (c.year + years) * 12 + (c.month - 1) + months;
  const long y = static_cast<long>(os::floorDivide(totalMonths, 12));
  const long m = totalMonths - y * 12 + 1;
  const long d = std::min(c.day, static_cast<long>(os::daysInMonth(y, static_cast<unsigned>(m))));
  return dateFromComponents(y, m, d + days, c.hour, c.minute, c.second + fraction);
}

long DateCalendar::daysFrom(os::Date from, os::Date to) const {
  const bool forward = to >= from;
  const os::Date start = forward ? from : to, end = forward ? to : from;
  long n = static_cast<long>((end.timeIntervalSince1970() - start.timeIntervalSince1970()) / 86400.0);
  // Local days are 23 or 25 hours across clock changes: settle on the largest whole count.
  while (n > 0 && dateByAdding(start, 0, 0, n) > end) --n;
  while (dateByAdding(start, 0, 0, n + 1) <= end) ++n;
  return forward ? n : -n;
}

DateComponents DateCalendar::difference(os::Date from, os::Date to) const {
  const bool forward = to >= from;
  os::Date start = forward ? from : to;
  const os::Date end = forward ? to : from;
  DateComponents c;
  const DateComponents a = components(start), b = components(end);
  long months = (b.year - a.year) * 12 + (b.month - a.month) + 1;
  while (months > 0 && dateByAdding(start, 0, months, 0) > end) --months;
  c.year = months / 12;
  c.month = months % 12;
  start = dateByAdding(start, 0, months, 0);
  const long days = daysFrom(start, end);
  c.weekOfYear = days / 7;
  c.day = days % 7;
  start = dateByAdding(start, 0, 0, days);
  const auto rest = static_cast<long>(end.timeIntervalSince1970() - start.timeIntervalSince1970());
  c.hour = rest / 3600;
  c.minute = rest % 3600 / 60;
  c.second = rest % 60;
  if (!forward) {
    c.year = -c.year; c.month = -c.month; c.weekOfYear = -c.weekOfYear; c.day = -c.day;
    c.hour = -c.hour; c.minute = -c.minute; c.second = -c.second;
  }
  return c;
}
