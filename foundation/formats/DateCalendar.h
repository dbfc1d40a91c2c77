#pragma once
// The Gregorian calendar of the date utilities: one process-wide instance in the device's time
// zone (replaceable, so tests fix the zone), with Sunday as the first weekday unless set.
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "foundation/formats/TimeZoneRules.h"
#include "os/core/Date.h"

struct DateComponents {
  long year = 0, month = 0, day = 0, weekOfYear = 0, hour = 0, minute = 0, second = 0;
  long weekday = 0;         // 1 Sunday ... 7 Saturday
  long weekdayOrdinal = 0;  // 1 for the first such weekday of the month
};

class DateCalendar {
 public:
  // Made on first use and kept for the life of the process; it takes the device profile's zone
  // whenever that changes (the process's zone when the profile names none or an unknown one).
  static DateCalendar& currentCalendar();
  explicit DateCalendar(TimeZoneRules zone, long firstWeekday = 1);

  TimeZoneRules timeZone() const;
  void setTimeZone(TimeZoneRules zone);
  long firstWeekday() const;
  void setFirstWeekday(long weekday);

  DateComponents components(os::Date date) const;
  // The moment of a local date and time; months and days beyond their range carry over.
  os::Date dateFromComponents(long year, long month, long day, long hour, long minute, double second) const;
  // Calendar arithmetic at the same local time of day; a day beyond the target month's end
  // becomes its last day (a month after 31 January is the end of February).
  os::Date dateByAdding(os::Date date, long years, long months, long days) const;
  // Whole calendar days from `from` to `to`, toward zero.
  long daysFrom(os::Date from, os::Date to) const;
  // The difference from `from` to `to` in years, months, weeks (weekOfYear), days, hours, minutes, seconds.
  DateComponents difference(os::Date from, os::Date to) const;

 private:
  struct State {
    std::shared_ptr<const TimeZoneRules> zone;
    long firstWeekday;
  };
  State state() const;
  void followDeviceZone(const std::string& name);
  mutable std::mutex mutex_;
  State state_;
  std::optional<std::string> followedZone_;  // the profile's zone last taken
};
