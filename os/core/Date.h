#pragma once
// A point in time as seconds since 1970 (the reference the platform also exposes as seconds since 2001).
#include <compare>

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

}  // namespace os
