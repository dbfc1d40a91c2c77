#pragma once
// The XML property list reader and writer behind PropertyList: one pass over the value or the
// text, so time and memory grow with the size of the list (a dictionary's keys are gathered and
// taken over at once, never looked up one by one as they come).
//
// Written: an XML declaration, then <plist version="1.0">, each member on a line of its own
// indented by tabs, text with <, >, & and carriage returns escaped, integers in decimal, reals in
// the shortest form that reads back exactly (17 significant digits; "0.0", "nan", "+infinity",
// "-infinity"), data in base64 lines of 76 characters less 8 for each tab of indent (at most 8
// tabs), dates as whole seconds in ISO 8601, a keyed-archive reference as the dictionary
// {CF$UID: n}. Text holding a character XML cannot carry (U+0001, say) fails the write: any XML
// reader would refuse the whole list.
//
// Read: that form and any other a list written elsewhere may take: markup of any indent,
// comments, processing instructions, a document type, CDATA sections, attributes, the five
// named entities and character references; line ends as XML reads them (a carriage return, alone
// or before a line feed, is a line feed; one given as a reference stays one). A value is read as
// written or refused, never as another: an integer, real, date or data whose text is not wholly
// one is refused.
#include <cstdint>
#include <optional>
#include <string>

#include "os/core/Data.h"
#include "os/core/Value.h"

namespace os {

class XMLPropertyList {
 public:
  // The list's bytes, or nothing with the reason in `why` (a null, text that is not UTF-8 or
  // holds a NUL, a date out of the range its text names, nesting past kPropertyListMaxDepth).
  // With `writeUIDs`, a dictionary that is a keyed-archive reference (uidIndex) is written as
  // one, its index at most kPropertyListMaxUID; its integer stands one deeper, as it is read.
  static std::optional<Data> write(const Value& value, bool writeUIDs, std::string& why);

  // The value of an XML list, or nothing with the reason in `why`: also when it holds more than
  // maxNodes values (dictionary keys aside).
  static std::optional<Value> read(const Data& data, std::string& why, std::uint64_t maxNodes);
};

}  // namespace os
