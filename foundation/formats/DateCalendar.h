#pragma once
// The Gregorian calendar of the date utilities: one process-wide instance in the device's time
// zone (replaceable, so tests fix the zone), with Sunday as the first weekday unless set.
#include <memory>
#include <mutex>
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
  // Made on first use in the process's time zone and kept for the life of the process.
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
  mutable std::mutex mutex_;
  State state_;
};
