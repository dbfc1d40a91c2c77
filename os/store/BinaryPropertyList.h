#pragma once
// The binary property list writer behind PropertyList::write, and the widths it gives what it
// writes, for callers that bound a list's length before writing it.
//
// Every leaf (text, number, flag, date, reference) is written once and shared by all that hold an
// equal one; data and containers are written each time. Time and memory grow with the size of
// the list.
#include <cstdint>
#include <optional>
#include <string>

#include "os/core/Data.h"
#include "os/core/Value.h"

namespace os {

class BinaryPropertyList {
 public:
  // The list's bytes, or nothing with the reason in `why` (a null, text that is not UTF-8 or
  // holds a NUL, nesting past kPropertyListMaxDepth). With `writeUIDs`, a dictionary that is a
  // keyed-archive reference (uidIndex) is written as one, its index at most kPropertyListMaxUID.
  static std::optional<Data> write(const Value& value, bool writeUIDs, std::string& why);

  // Bytes of each object reference, given the object count, and of each offset-table entry,
  // given the byte at which the table starts: the fewest that hold that number, 1 to 8.
  static unsigned referenceWidth(std::uint64_t n);
  // Bytes after the marker of a non-negative integer below 2^63, and of a count past 14 held in
  // an integer after a container's or text's marker: 1, 2, 4 or 8. A negative integer takes 8;
  // one of 2^63 or more, 16.
  static unsigned integerWidth(std::uint64_t n);
};

}  // namespace os
