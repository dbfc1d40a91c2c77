#pragma once
// Reads JSON text into os::Value trees, recording why it failed in the error trace.
//
// Strict: values must be separated by commas (unless the profile says otherwise), strings must be well-formed UTF-8, and a zero byte
// is a character like any other (inside a string it is an unescaped control character).
// Numbers keep their exact value where a value can: integers as 64-bit numbers (type code 'q',
// or 'Q' above the signed range), anything else as the nearest double ('d'); a number no double
// can hold fails with "Failed creating decimal instance".
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/formats/JSONReaderSupport.h"
#include "foundation/formats/JSONTraceBase.h"
#include "os/core/Value.h"

class JSONTraceParser : public JSONTraceBase {
 public:
  explicit JSONTraceParser(const JSONTraceProfile& profile) : JSONTraceBase(profile) {}

  // Any JSON value; nothing (with the reasons in the trace) on failure. An absent text is
  // code 12.
  std::optional<os::Value> fragmentWithString(std::optional<std::string_view> text);
  // Only an array or an object.
  std::optional<os::Value> objectWithString(std::optional<std::string_view> text);

 private:
  bool scanValue(os::Value& out);
  bool scanRestOfLiteral(std::string_view rest, const char* message);
  bool scanRestOfArray(os::Value& out);
  bool scanRestOfDictionary(os::Value& out);
  bool scanRestOfString(std::string& out);
  bool scanUnicodeChar(char32_t& out);
  bool scanHexQuad(char32_t& out);
  bool scanNumber(os::Value& out);
  bool scanIsAtEnd();
  void skipWhiteSpace();
  bool atEnd() const { return c_ == end_; }

  const unsigned char* c_ = nullptr;
  const unsigned char* end_ = nullptr;
  // The storage of the containers open during a scan, and the sizes of the last ones at each depth.
  JSONReaderLevels levels_;
};
