#pragma once
// The offsets from UTC of one time zone, read from the system's zone files or fixed. Dates are
// shown and compared in the device's zone; this makes that zone explicit and replaceable.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class TimeZoneRules {
 public:
  // A zone by its name ("Asia/Shanghai"), from the zone files; nothing when unknown.
  static std::optional<TimeZoneRules> named(std::string_view name);
  // A zone that is always `secondsEast` seconds ahead of UTC.
  static TimeZoneRules fixed(long secondsEast, std::string name = {});
  // The process's zone: TZ when it names a zone, else the system's local zone, else UTC.
  static TimeZoneRules processLocal();

  const std::string& name() const { return name_; }
  // Seconds east of UTC at a moment (seconds since 1970).
  long offsetAt(double secondsSince1970) const;
  // The moment a local wall-clock reading (seconds since 1970 as if local time were UTC) stands
  // for; a reading skipped by a clock change moves forward, a repeated one takes the first.
  double momentFromLocal(double localSeconds) const;

 private:
  static std::optional<TimeZoneRules> fromFile(const std::string& path, std::string name);
  std::string name_;
  long initialOffset_ = 0;
  std::vector<std::int64_t> transitions_;  // ascending moments where the offset changes
  std::vector<long> offsets_;              // offset from each transition on
};
