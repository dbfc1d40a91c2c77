#pragma once
// Deep equality of values for round-trip checks: os::Value's own ==, except that a NaN read back
// equals the NaN written, as a number or as a date's seconds (IEEE comparison would call every
// round trip of one a loss). With `wholeSecondDates`, `b` was written where a date keeps only its
// whole seconds (XML), so a date of `a` is matched by its seconds rounded down.
#include <cmath>

#include "os/core/Value.h"

namespace fuzz {

inline bool sameValue(const os::Value& a, const os::Value& b, bool wholeSecondDates = false) {
  if (a.isFloatingPoint() && b.isFloatingPoint() && std::isnan(a.doubleValue())) return std::isnan(b.doubleValue());
  if (a.isDate() && b.isDate() && std::isnan(a.date()->timeIntervalSince1970()))
    return std::isnan(b.date()->timeIntervalSince1970());
  if (wholeSecondDates && a.isDate() && b.isDate())
    return std::floor(a.date()->timeIntervalSinceReferenceDate()) == b.date()->timeIntervalSinceReferenceDate();
  if ((a.isArray() && b.isArray()) || (a.isSet() && b.isSet())) {
    const os::Array& x = a.isArray() ? *a.array() : *a.setMembers();
    const os::Array& y = b.isArray() ? *b.array() : *b.setMembers();
    if (x.size() != y.size()) return false;
    for (std::size_t i = 0; i < x.size(); ++i)
      if (!sameValue(x[i], y[i], wholeSecondDates)) return false;
    return true;
  }
  if (a.isDictionary() && b.isDictionary()) {
    if (a.count() != b.count()) return false;
    for (const auto& [key, item] : *a.dictionary()) {
      const os::Value* other = b.dictionary()->find(key);
      if (!other || !sameValue(item, *other, wholeSecondDates)) return false;
    }
    return true;
  }
  return a == b;
}

}  // namespace fuzz
