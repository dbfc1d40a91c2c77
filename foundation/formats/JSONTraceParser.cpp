#include "foundation/formats/JSONTraceParser.h"

#include <array>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "foundation/formats/UTF8Sequence.h"
#include "os/core/String.h"

namespace {

// Bytes that end a run of plain string text: quotation mark, backslash and every control byte
// (the zero byte included: it is a character of the text, not its end).
constexpr std::array<bool, 256> kStopSet = [] {
  std::array<bool, 256> t{};
  for (int b = 0; b < 0x20; ++b) t[b] = true;
  t['"'] = true;
  t['\\'] = true;
  return t;
}();

inline bool isWhiteSpace(unsigned char b) { return b == ' ' || (b >= '\t' && b <= '\r'); }
inline bool isDigit(unsigned char b) { return b >= '0' && b <= '9'; }

inline int hexValue(unsigned char b) {
  if (b >= '0' && b <= '9') return b - '0';
  if (b >= 'a' && b <= 'f') return b - 'a' + 10;
  if (b >= 'A' && b <= 'F') return b - 'A' + 10;
  return -1;
}

}  // namespace

std::optional<os::Value> JSONTraceParser::fragmentWithString(std::optional<std::string_view> text) {
  clearErrorTrace();
  if (!text) {
    addErrorWithCode(kJSONTraceNoInput, "Input was 'nil'");
    return std::nullopt;
  }
  depth_ = 0;
  c_ = reinterpret_cast<const unsigned char*>(text->data());
  end_ = c_ + text->size();
  os::Value value;
  bool scanned;
  {
    // The nodes of one tree are made together and mostly die together.
    os::ValueStorageScope storage;
    scanned = scanValue(value);
  }
  if (!scanned) levels_.dropOpenContainers();
  if (scanned && profile_.assertsScanResult && !errorTrace_.empty()) {
    std::fprintf(stderr, "%s: a successful scan recorded errors\n", profile_.parserClassName.c_str());
    std::abort();
  }
  if (!scanned) return std::nullopt;
  if (!scanIsAtEnd()) {
    addErrorWithCode(kJSONTraceGarbage, "Garbage after JSON");
    return std::nullopt;
  }
  return value;
}

std::optional<os::Value> JSONTraceParser::objectWithString(std::optional<std::string_view> text) {
  auto value = fragmentWithString(text);
  if (value && !value->isArray() && !value->isDictionary()) {
    addErrorWithCode(kJSONTraceNotContainer, "Valid fragment, but not JSON");
    return std::nullopt;
  }
  return value;
}

void JSONTraceParser::skipWhiteSpace() {
  while (c_ != end_ && isWhiteSpace(*c_)) ++c_;
}

bool JSONTraceParser::scanIsAtEnd() {
  skipWhiteSpace();
  return atEnd();
}

bool JSONTraceParser::scanValue(os::Value& out) {
  skipWhiteSpace();
  if (atEnd()) {
    addErrorWithCode(kJSONTraceEndOfInput, "Unexpected end of string");
    return false;
  }
  const unsigned char b = *c_++;
  switch (b) {
    case '{': return scanRestOfDictionary(out);
    case '[': return scanRestOfArray(out);
    case '"': {
      std::string s;
      if (!scanRestOfString(s)) return false;
      makeValueInPlace(out, [&] { return os::Value(std::move(s)); });
      return true;
    }
    case 't':
      out = os::Value(true);
      return scanRestOfLiteral("rue", "Expected 'true'");
    case 'f':
      out = os::Value(false);
      return scanRestOfLiteral("alse", "Expected 'false'");
    case 'n':
      out = os::Value();
      return scanRestOfLiteral("ull", "Expected 'null'");
    case '+': addErrorWithCode(kJSONTraceBadNumber, "Leading + disallowed in number"); return false;
    default:
      if (b == '-' || isDigit(b)) {
        --c_;
        return scanNumber(out);
      }
      addErrorWithCode(kJSONTraceUnexpected, "Unrecognised leading character");
      return false;
  }
}

bool JSONTraceParser::scanRestOfLiteral(std::string_view rest, const char* message) {
  if (static_cast<std::size_t>(end_ - c_) < rest.size() || std::string_view(reinterpret_cast<const char*>(c_), rest.size()) != rest) {
    addErrorWithCode(kJSONTraceUnexpected, message);
    return false;
  }
  c_ += rest.size();
  return true;
}

bool JSONTraceParser::scanRestOfArray(os::Value& out) {
  if (!enterLevel()) return false;
  JSONReaderLevel& here = levels_.at(depth_);
  // Empty here; deeper containers use deeper levels, so its elements stay in place while read.
  std::vector<os::Value>& items = here.elements;
  here.startArray();
  while (!atEnd()) {
    skipWhiteSpace();
    if (!atEnd() && *c_ == ']') {
      ++c_;
      leaveLevel();
      here.closeArray();
      makeValueInPlace(out, [&] { return os::Value(std::move(items)); });
      return true;
    }
    items.emplace_back();
    if (!scanValue(items.back())) {
      addErrorWithCode(kJSONTraceUnexpected, "Expected value while parsing array");
      return false;
    }
    skipWhiteSpace();
    if (atEnd()) break;
    if (*c_ == ',') {
      ++c_;
      skipWhiteSpace();
      if (!atEnd() && *c_ == ']') {
        addErrorWithCode(kJSONTraceTrailingComma, "Trailing comma disallowed in array");
        return false;
      }
    } else if (*c_ != ']' && !profile_.acceptsMissingCommas) {
      // Values separated by white space alone are not JSON.
      addErrorWithCode(kJSONTraceUnexpected, "Expected ',' or ']' after array value");
      return false;
    }
  }
  addErrorWithCode(kJSONTraceEndOfInput, "End of input while parsing array");
  return false;
}

bool JSONTraceParser::scanRestOfDictionary(os::Value& out) {
  if (!enterLevel()) return false;
  JSONReaderLevel& here = levels_.at(depth_);
  // Empty here; deeper containers use deeper levels, so its members stay in place while read.
  std::vector<os::Dictionary::Entry>& members = here.members;
  here.startObject();
  while (!atEnd()) {
    skipWhiteSpace();
    if (!atEnd() && *c_ == '}') {
      ++c_;
      leaveLevel();
      here.closeObject();
      // A later member with the same key replaces the value of the first, in its place.
      makeValueInPlace(out, [&] { return os::Value::dictionaryMovingFrom(std::move(members)); });
      return true;
    }
    members.emplace_back();
    std::string& key = members.back().first;
    if (atEnd() || *c_ != '"' || (++c_, !scanRestOfString(key))) {
      addErrorWithCode(kJSONTraceUnexpected, "Object key string expected");
      return false;
    }
    skipWhiteSpace();
    if (atEnd() || *c_ != ':') {
      addErrorWithCode(kJSONTraceUnexpected, "Expected ':' separating key and value");
      return false;
    }
    ++c_;
    if (!scanValue(members.back().second)) {
      addErrorWithCode(kJSONTraceUnexpected, "Object value expected for key: " + key);
      return false;
    }
    skipWhiteSpace();
    if (atEnd()) break;
    if (*c_ == ',') {
      ++c_;
      skipWhiteSpace();
      if (!atEnd() && *c_ == '}') {
        addErrorWithCode(kJSONTraceTrailingComma, "Trailing comma disallowed in object");
        return false;
      }
    } else if (*c_ != '}' && !profile_.acceptsMissingCommas) {
      addErrorWithCode(kJSONTraceUnexpected, "Expected ',' or '}' after object member");
      return false;
    }
  }
  addErrorWithCode(kJSONTraceEndOfInput, "End of input while parsing object");
  return false;
}

bool JSONTraceParser::scanRestOfString(std::string& out) {
  for (;;) {
    // Plain text is copied in runs, passed over a word at a time while it is ASCII; only the
    // bytes above 0x7F need a closer look.
    const unsigned char* run = c_;
    while (c_ != end_ && !kStopSet[*c_]) {
      c_ = skipPlainJSONText(c_, end_);
      if (c_ == end_ || kStopSet[*c_]) break;
      if (*c_ < 0x80) {
        ++c_;
        continue;
      }
      // Runs of the common three-byte forms (CJK among them), whose every continuation is valid.
      while (end_ - c_ >= 3 && ((*c_ >= 0xE1 && *c_ <= 0xEC) || *c_ == 0xEE) && (c_[1] & 0xC0) == 0x80 &&
             (c_[2] & 0xC0) == 0x80)
        c_ += 3;
      if (c_ == end_ || *c_ < 0x80) continue;
      const UTF8Sequence seq = UTF8Sequence::read(c_, static_cast<std::size_t>(end_ - c_));
      if (seq.kind != UTF8Sequence::Kind::Valid) {
        addErrorWithCode(kJSONTraceUnexpected, "Invalid UTF-8 in string");
        return false;
      }
      c_ += seq.length;
    }
    out.append(reinterpret_cast<const char*>(run), static_cast<std::size_t>(c_ - run));

    if (atEnd()) {
      addErrorWithCode(kJSONTraceControlCharacter, "Unescaped control character '0x0'");
      return false;
    }
    const unsigned char b = *c_;
    if (b == '"') {
      ++c_;
      return true;
    }
    if (b != '\\') {
      addErrorWithCode(kJSONTraceControlCharacter, os::format("Unescaped control character '0x%x'", b));
      return false;
    }
    ++c_;
    const unsigned char e = atEnd() ? 0 : *c_;
    switch (e) {
      case '"':
      case '\\':
      case '/': out += static_cast<char>(e); ++c_; break;
      case 'b': out += '\b'; ++c_; break;
      case 'f': out += '\f'; ++c_; break;
      case 'n': out += '\n'; ++c_; break;
      case 'r': out += '\r'; ++c_; break;
      case 't': out += '\t'; ++c_; break;
      case 'u': {
        ++c_;
        char32_t cp = 0;
        if (!scanUnicodeChar(cp)) {
          addErrorWithCode(kJSONTraceBadUnicode, "Broken unicode character");
          return false;
        }
        if (cp == 0) {
          out += '\0';
        } else {
          os::appendUTF8(out, cp);
        }
        break;
      }
      default:
        addErrorWithCode(kJSONTraceBadEscape, os::format("Illegal escape sequence '0x%x'", e));
        return false;
    }
    if (atEnd()) {
      addErrorWithCode(kJSONTraceEndOfInput, "Unexpected EOF while parsing string");
      return false;
    }
  }
}

bool JSONTraceParser::scanHexQuad(char32_t& out) {
  char32_t v = 0;
  for (int i = 0; i < 4; ++i) {
    const int h = atEnd() ? -1 : hexValue(*c_);
    if (h < 0) {
      addErrorWithCode(kJSONTraceBadUnicode, "Missing hex digit in quad");
      return false;
    }
    v = v * 16 + static_cast<char32_t>(h);
    ++c_;
  }
  out = v;
  return true;
}

bool JSONTraceParser::scanUnicodeChar(char32_t& out) {
  char32_t high = 0;
  if (!scanHexQuad(high)) {
    addErrorWithCode(kJSONTraceBadUnicode, "Missing hex quad");
    return false;
  }
  if (high >= 0xD800 && high <= 0xDBFF) {
    char32_t low = 0;
    if (end_ - c_ < 2 || c_[0] != '\\' || c_[1] != 'u' || (c_ += 2, !scanHexQuad(low))) {
      addErrorWithCode(kJSONTraceBadUnicode, "Missing low character in surrogate pair");
      return false;
    }
    if (low < 0xDC00 || low > 0xDFFF) {
      addErrorWithCode(kJSONTraceBadUnicode, "Invalid low surrogate char");
      return false;
    }
    out = 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00);
    return true;
  }
  if (high >= 0xDC00 && high <= 0xDFFF) {
    addErrorWithCode(kJSONTraceBadUnicode, "Invalid high character in surrogate pair");
    return false;
  }
  out = high;
  return true;
}

bool JSONTraceParser::scanNumber(os::Value& out) {
  const unsigned char* start = c_;
  const bool negative = *c_ == '-';
  if (negative) ++c_;
  // The digits' value and count, and the power of ten, read on the way for the short forms below.
  unsigned long long mantissa = 0;
  std::size_t digits = 0;
  int scale = 0;
  if (!atEnd() && *c_ == '0') {
    ++c_;
    digits = 1;
    if (!atEnd() && isDigit(*c_)) {
      addErrorWithCode(kJSONTraceBadNumber, "Leading 0 disallowed in number");
      return false;
    }
  } else if (!atEnd() && isDigit(*c_)) {
    for (; !atEnd() && isDigit(*c_); ++c_, ++digits) mantissa = mantissa * 10 + (*c_ - '0');
  } else {
    addErrorWithCode(kJSONTraceBadNumber, "No digits after initial minus");
    return false;
  }
  bool integral = true;
  if (!atEnd() && *c_ == '.') {
    integral = false;
    ++c_;
    if (atEnd() || !isDigit(*c_)) {
      addErrorWithCode(kJSONTraceBadNumber, "No digits after decimal point");
      return false;
    }
    for (; !atEnd() && isDigit(*c_); ++c_, ++digits, --scale) mantissa = mantissa * 10 + (*c_ - '0');
  }
  std::size_t exponentDigits = 0;
  if (!atEnd() && (*c_ == 'e' || *c_ == 'E')) {
    integral = false;
    ++c_;
    const bool down = !atEnd() && *c_ == '-';
    if (!atEnd() && (*c_ == '+' || *c_ == '-')) ++c_;
    if (atEnd() || !isDigit(*c_)) {
      addErrorWithCode(kJSONTraceBadNumber, "No digits after exponent");
      return false;
    }
    int exponent = 0;
    for (; !atEnd() && isDigit(*c_); ++c_, ++exponentDigits)
      if (exponentDigits < 3) exponent = exponent * 10 + (*c_ - '0');
    scale += down ? -exponent : exponent;
  }

  // Integers of up to 18 digits fit a signed 64-bit number as read; short doubles are made exactly.
  if (integral && digits <= 18) {
    const long long v = static_cast<long long>(mantissa);
    makeValueInPlace(out, [&] { return os::Value(negative ? -v : v); });
    return true;
  }
  double d = 0;
  if (!integral && exactShortDouble(mantissa, digits, scale, exponentDigits, negative, d)) {
    makeValueInPlace(out, [&] { return os::Value(d); });
    return true;
  }
  const char* first = reinterpret_cast<const char*>(start);
  const char* last = reinterpret_cast<const char*>(c_);
  if (integral) {
    long long i = 0;
    if (std::from_chars(first, last, i).ec == std::errc()) {
      out = os::Value::number('q', i);
      return true;
    }
    unsigned long long u = 0;
    if (*first != '-' && std::from_chars(first, last, u).ec == std::errc()) {
      out = os::Value::unsignedNumber('Q', u);
      return true;
    }
  }
  if (std::from_chars(first, last, d).ec != std::errc()) {
    addErrorWithCode(kJSONTraceBadNumber, "Failed creating decimal instance");
    return false;
  }
  out = os::Value::real('d', d);
  return true;
}
