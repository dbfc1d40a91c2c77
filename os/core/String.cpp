#include "os/core/String.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "os/core/Error.h"

namespace os {

namespace {

inline bool isSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

// UTF-16 units of the code point at offset; `len` receives its byte length.
inline std::size_t unitsAt(std::string_view s, std::size_t offset, std::size_t* len) {
  bool valid = false;
  char32_t c = decodeUTF8At(s, offset, len, &valid);
  return (valid && c >= 0x10000) ? 2 : 1;
}

[[noreturn]] void raiseRange(const char* what, std::size_t a, std::size_t b, std::size_t length) {
  throw Exception(kRangeException, format("%s: range {%zu, %zu} out of bounds; string length %zu", what, a, b, length));
}

bool isASCIISpace(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

bool isUnicodeWhitespace(char32_t c) {
  if (c < 0x80) return isASCIISpace(static_cast<unsigned char>(c));
  return c == 0x85 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 ||
         c == 0x202F || c == 0x205F || c == 0x3000;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

char asciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
char asciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Skips leading white space and an optional sign; returns the index of the first digit candidate.
std::size_t skipSpaceAndSign(std::string_view s, bool* negative) {
  std::size_t i = 0;
  while (i < s.size() && isASCIISpace(static_cast<unsigned char>(s[i]))) ++i;
  *negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    *negative = s[i] == '-';
    ++i;
  }
  return i;
}

}  // namespace

// ---- UTF-8 decoding ----

char32_t decodeUTF8At(std::string_view s, std::size_t offset, std::size_t* length, bool* valid) {
  auto fail = [&](std::size_t n) {
    if (length) *length = n;
    if (valid) *valid = false;
    return char32_t{0xFFFD};
  };
  if (offset >= s.size()) return fail(0);
  unsigned char c = static_cast<unsigned char>(s[offset]);
  if (c < 0x80) {
    if (length) *length = 1;
    if (valid) *valid = true;
    return c;
  }
  int need = 0;
  char32_t cp = 0;
  unsigned char lo = 0x80, hi = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) {
    need = 1, cp = c & 0x1F;
  } else if (c == 0xE0) {
    need = 2, cp = c & 0x0F, lo = 0xA0;
  } else if ((c >= 0xE1 && c <= 0xEC) || c == 0xEE || c == 0xEF) {
    need = 2, cp = c & 0x0F;
  } else if (c == 0xED) {  // excludes the surrogate range
    need = 2, cp = c & 0x0F, hi = 0x9F;
  } else if (c == 0xF0) {
    need = 3, cp = c & 0x07, lo = 0x90;
  } else if (c >= 0xF1 && c <= 0xF3) {
    need = 3, cp = c & 0x07;
  } else if (c == 0xF4) {
    need = 3, cp = c & 0x07, hi = 0x8F;
  } else {
    return fail(1);
  }
  std::size_t j = offset + 1;
  for (int k = 0; k < need; ++k, ++j) {
    if (j >= s.size()) return fail(j - offset);
    unsigned char b = static_cast<unsigned char>(s[j]);
    if (b < lo || b > hi) return fail(j - offset);
    cp = (cp << 6) | (b & 0x3F);
    lo = 0x80, hi = 0xBF;
  }
  if (length) *length = static_cast<std::size_t>(need) + 1;
  if (valid) *valid = true;
  return cp;
}

void appendUTF8(std::string& out, char32_t c) {
  if (isSurrogate(c) || c > 0x10FFFF) c = 0xFFFD;
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

bool isValidUTF8(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    std::size_t len = 0;
    bool valid = false;
    decodeUTF8At(s, i, &len, &valid);
    if (!valid) return false;
    i += len;
  }
  return true;
}

std::string repairUTF8(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    std::size_t len = 0;
    bool valid = false;
    char32_t c = decodeUTF8At(s, i, &len, &valid);
    if (valid) out.append(s.substr(i, len));
    else appendUTF8(out, c);
    i += len;
  }
  return out;
}

bool isStorableText(std::string_view s) { return s.find('\0') == std::string_view::npos && isValidUTF8(s); }

std::string storableText(std::string_view s) { return replaceAll(repairUTF8(s), std::string_view("\0", 1), "\xEF\xBF\xBD"); }

// ---- UTF-16 view ----

std::size_t utf16Length(std::string_view s) {
  std::size_t units = 0;
  for (std::size_t i = 0; i < s.size();) {
    std::size_t len = 0;
    units += unitsAt(s, i, &len);
    i += len;
  }
  return units;
}

std::optional<std::size_t> byteOffsetForUTF16Index(std::string_view s, std::size_t index) {
  std::size_t units = 0, i = 0;
  while (i < s.size()) {
    if (units == index) return i;
    std::size_t len = 0;
    std::size_t n = unitsAt(s, i, &len);
    if (units + n > index) return i;  // inside a surrogate pair: start of the character
    units += n;
    i += len;
  }
  if (units == index) return s.size();
  return std::nullopt;
}

std::size_t utf16IndexForByteOffset(std::string_view s, std::size_t offset) {
  std::size_t units = 0;
  for (std::size_t i = 0; i < s.size();) {
    std::size_t len = 0;
    std::size_t n = unitsAt(s, i, &len);
    if (offset < i + len) return units;
    units += n;
    i += len;
  }
  return units;
}

std::string substringWithUTF16Range(std::string_view s, std::size_t location, std::size_t length) {
  std::optional<std::size_t> begin = byteOffsetForUTF16Index(s, location);
  std::optional<std::size_t> end;
  if (begin && length <= SIZE_MAX - location) end = byteOffsetForUTF16Index(s, location + length);
  if (!begin || !end) raiseRange("substringWithUTF16Range", location, length, utf16Length(s));
  return std::string(s.substr(*begin, *end - *begin));
}

std::string substringFromUTF16Index(std::string_view s, std::size_t index) {
  std::optional<std::size_t> begin = byteOffsetForUTF16Index(s, index);
  if (!begin) raiseRange("substringFromUTF16Index", index, 0, utf16Length(s));
  return std::string(s.substr(*begin));
}

std::string substringToUTF16Index(std::string_view s, std::size_t index) {
  std::optional<std::size_t> end = byteOffsetForUTF16Index(s, index);
  if (!end) raiseRange("substringToUTF16Index", 0, index, utf16Length(s));
  return std::string(s.substr(0, *end));
}

char16_t characterAtUTF16Index(std::string_view s, std::size_t index) {
  std::size_t units = 0;
  for (std::size_t i = 0; i < s.size();) {
    std::size_t len = 0;
    bool valid = false;
    char32_t c = decodeUTF8At(s, i, &len, &valid);
    if (valid && c >= 0x10000) {
      if (index == units) return static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      if (index == units + 1) return static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
      units += 2;
    } else {
      if (index == units) return static_cast<char16_t>(c);
      units += 1;
    }
    i += len;
  }
  raiseRange("characterAtUTF16Index", index, 1, units);
}

std::u16string toUTF16(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    std::size_t len = 0;
    char32_t c = decodeUTF8At(s, i, &len);
    if (c >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
    i += len;
  }
  return out;
}

std::string fromUTF16(std::u16string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    char32_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    }
    appendUTF8(out, c);  // a lone surrogate becomes U+FFFD there
  }
  return out;
}

// ---- Case, comparison, whitespace ----

std::string lowercaseASCII(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = asciiLower(c);
  return out;
}

std::string uppercaseASCII(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = asciiUpper(c);
  return out;
}

int caseInsensitiveCompare(std::string_view a, std::string_view b) {
  std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char x = static_cast<unsigned char>(asciiLower(a[i]));
    unsigned char y = static_cast<unsigned char>(asciiLower(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) { return caseInsensitiveCompare(a, b) == 0; }

std::string trimWhitespace(std::string_view s) {
  std::size_t begin = 0, end = s.size();
  while (begin < end) {
    std::size_t len = 0;
    bool valid = false;
    char32_t c = decodeUTF8At(s, begin, &len, &valid);
    if (!valid || !isUnicodeWhitespace(c)) break;
    begin += len;
  }
  while (end > begin) {
    // Walk back to the start of the last character.
    std::size_t start = end - 1;
    while (start > begin && (static_cast<unsigned char>(s[start]) & 0xC0) == 0x80 && end - start < 4) --start;
    std::size_t len = 0;
    bool valid = false;
    char32_t c = decodeUTF8At(s, start, &len, &valid);
    if (!valid || start + len != end || !isUnicodeWhitespace(c)) break;
    end = start;
  }
  return std::string(s.substr(begin, end - begin));
}

std::string trimCharacters(std::string_view s, std::string_view characters) {
  std::size_t begin = s.find_first_not_of(characters);
  if (begin == std::string_view::npos) return {};
  std::size_t end = s.find_last_not_of(characters);
  return std::string(s.substr(begin, end - begin + 1));
}

bool hasPrefix(std::string_view s, std::string_view prefix) {
  return !prefix.empty() && s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

bool hasSuffix(std::string_view s, std::string_view suffix) {
  return !suffix.empty() && s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool contains(std::string_view s, std::string_view needle) {
  return !needle.empty() && s.find(needle) != std::string_view::npos;
}

std::vector<std::string> split(std::string_view s, std::string_view separator) {
  std::vector<std::string> out;
  if (separator.empty()) {
    out.emplace_back(s);
    return out;
  }
  std::size_t start = 0;
  for (;;) {
    std::size_t at = s.find(separator, start);
    if (at == std::string_view::npos) break;
    out.emplace_back(s.substr(start, at - start));
    start = at + separator.size();
  }
  out.emplace_back(s.substr(start));
  return out;
}

std::string join(const std::vector<std::string>& parts, std::string_view separator) {
  std::string out;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i) out += separator;
    out += parts[i];
  }
  return out;
}

std::string replaceAll(std::string_view s, std::string_view from, std::string_view to) {
  if (from.empty()) return std::string(s);
  std::string out;
  std::size_t start = 0;
  for (;;) {
    std::size_t at = s.find(from, start);
    if (at == std::string_view::npos) break;
    out.append(s.substr(start, at - start));
    out.append(to);
    start = at + from.size();
  }
  out.append(s.substr(start));
  return out;
}

// ---- Numbers ----

long long longLongValue(std::string_view s) {
  bool negative = false;
  std::size_t i = skipSpaceAndSign(s, &negative);
  // Accumulate as a negative number so that the most negative value fits.
  long long value = 0;
  bool saturated = false;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
    int d = s[i] - '0';
    if (saturated) continue;
    if (value < (LLONG_MIN + d) / 10) {
      saturated = true;
      continue;
    }
    value = value * 10 - d;
  }
  if (saturated) return negative ? LLONG_MIN : LLONG_MAX;
  if (negative) return value;
  return value == LLONG_MIN ? LLONG_MAX : -value;
}

int intValue(std::string_view s) {
  long long v = longLongValue(s);
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return static_cast<int>(v);
}

double doubleValue(std::string_view s) {
  bool negative = false;
  std::size_t i = skipSpaceAndSign(s, &negative);
  std::string text = negative ? "-" : "";
  bool digits = false;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) text += s[i], digits = true;
  if (i < s.size() && s[i] == '.') {
    text += '.';
    for (++i; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) text += s[i], digits = true;
  }
  if (!digits) return 0;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    std::size_t j = i + 1;
    std::string exponent = "e";
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) exponent += s[j++];
    bool expDigits = false;
    for (; j < s.size() && s[j] >= '0' && s[j] <= '9'; ++j) exponent += s[j], expDigits = true;
    if (expDigits) text += exponent;
  }
  // Only digits, a point and an exponent reach strtod, so hexadecimal and named forms cannot.
  return std::strtod(text.c_str(), nullptr);
}

std::string format(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  va_list copy;
  va_copy(copy, args);
  char small[256];
  int n = std::vsnprintf(small, sizeof small, fmt, args);
  va_end(args);
  std::string out;
  if (n < 0) {
    va_end(copy);
    return out;
  }
  if (static_cast<std::size_t>(n) < sizeof small) {
    out.assign(small, static_cast<std::size_t>(n));
  } else {
    out.resize(static_cast<std::size_t>(n) + 1);
    std::vsnprintf(out.data(), out.size(), fmt, copy);
    out.resize(static_cast<std::size_t>(n));
  }
  va_end(copy);
  return out;
}

// ---- Percent-escaping ----

std::string percentEscape(std::string_view bytes, std::string_view keep) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size());
  for (char c : bytes) {
    unsigned char b = static_cast<unsigned char>(c);
    // Only ASCII can be kept; a multi-byte character is always escaped byte by byte.
    if (b < 0x80 && keep.find(c) != std::string_view::npos) {
      out += c;
    } else {
      out += '%';
      out += hex[b >> 4];
      out += hex[b & 15];
    }
  }
  return out;
}

std::optional<std::string> percentUnescapeBytes(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '%') {
      out += s[i];
      continue;
    }
    if (s.size() - i < 3) return std::nullopt;
    int hi = hexValue(s[i + 1]), lo = hexValue(s[i + 2]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  return out;
}

namespace {

constexpr char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Each byte's value in the alphabet, -1 for the bytes outside it.
constexpr std::array<std::int8_t, 256> kBase64Values = [] {
  std::array<std::int8_t, 256> values{};
  values.fill(-1);
  for (int i = 0; i < 64; ++i) values[static_cast<unsigned char>(kBase64Alphabet[i])] = static_cast<std::int8_t>(i);
  return values;
}();

// The bytes outside the alphabet that a reading passes over wherever they stand.
bool base64Skips(Base64Reading reading, unsigned char c) {
  switch (reading) {
    case Base64Reading::Lenient: return true;
    case Base64Reading::Strict: return c == ' ' || c == '\t' || c == '\n' || c == '\r';
    case Base64Reading::PaddedWholeGroups: return c == ' ' || (c >= '\t' && c <= '\r') || c == 0xA0 || c == 0xFF;
  }
  return false;
}

}  // namespace

std::string base64Encoded(std::string_view bytes) {
  const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t n = bytes.size();
  std::string out;
  out.reserve((n + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= n; i += 3) {
    const unsigned v = unsigned{b[i]} << 16 | unsigned{b[i + 1]} << 8 | b[i + 2];
    out += {kBase64Alphabet[v >> 18], kBase64Alphabet[v >> 12 & 63], kBase64Alphabet[v >> 6 & 63], kBase64Alphabet[v & 63]};
  }
  if (i < n) {
    const bool two = i + 1 < n;
    const unsigned v = unsigned{b[i]} << 16 | (two ? unsigned{b[i + 1]} << 8 : 0u);
    out += {kBase64Alphabet[v >> 18], kBase64Alphabet[v >> 12 & 63], two ? kBase64Alphabet[v >> 6 & 63] : '=', '='};
  }
  return out;
}

std::optional<Data> base64Decoded(std::string_view text, Base64Reading reading) {
  Data out;
  out.reserve(text.size() / 4 * 3 + 3);
  std::uint32_t bits = 0;
  int count = 0, padding = 0;
  for (unsigned char c : text) {
    const int v = kBase64Values[c];
    if (v < 0) {
      if (base64Skips(reading, c)) continue;
      if (c != '=') return std::nullopt;
      ++padding;
      continue;
    }
    if (padding) return std::nullopt;  // a character after the padding (lenient reading never counts it)
    bits = bits << 6 | static_cast<std::uint32_t>(v);
    if (++count == 4) {
      out.push_back(static_cast<std::uint8_t>(bits >> 16));
      out.push_back(static_cast<std::uint8_t>(bits >> 8));
      out.push_back(static_cast<std::uint8_t>(bits));
      bits = 0;
      count = 0;
    }
  }
  // The last group: two or three characters hold one or two bytes, padding fills it up to four.
  if (reading == Base64Reading::Strict && (count == 1 || (padding && count + padding != 4) || padding > 2))
    return std::nullopt;
  if (reading == Base64Reading::PaddedWholeGroups) {
    const bool wholeGroup = count == 0 ? padding == 0 : count >= 2 && count + padding == 4;
    const std::uint32_t spareBits = count == 2 ? 0xF : count == 3 ? 0x3 : 0;
    if (!wholeGroup || (bits & spareBits) != 0) return std::nullopt;
  }
  if (count >= 2) out.push_back(static_cast<std::uint8_t>(bits >> (count == 2 ? 4 : 10)));
  if (count == 3) out.push_back(static_cast<std::uint8_t>(bits >> 2));
  return out;
}

std::string escapeMarkup(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string escapeControlCharacters(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    std::size_t length = 1;
    bool valid = false;
    char32_t c = decodeUTF8At(text, i, &length, &valid);
    if (!valid) {
      for (std::size_t k = 0; k < std::max<std::size_t>(length, 1); ++k)
        out += format("\\x%02X", static_cast<unsigned char>(text[i + k]));
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c == 0x7F) {
      out += format("\\x%02X", static_cast<unsigned>(c));
    } else if (c >= 0x80 && c <= 0x9F) {
      out += format("\\u%04X", static_cast<unsigned>(c));
    } else {
      out.append(text.substr(i, length));
    }
    i += std::max<std::size_t>(length, 1);
  }
  return out;
}

std::optional<std::string> percentUnescape(std::string_view s) {
  std::optional<std::string> out = percentUnescapeBytes(s);
  if (!out || !isValidUTF8(*out)) return std::nullopt;
  return out;
}

std::string formURLEncode(std::string_view s, bool plusForSpace) {
  if (!plusForSpace) return percentEscape(s, kURLUnreservedCharacters);
  std::string out = percentEscape(s, kURLUnreservedCharacters);
  return replaceAll(out, "%20", "+");
}

std::optional<std::string> formURLDecode(std::string_view s) { return percentUnescape(replaceAll(s, "+", " ")); }

}  // namespace os
