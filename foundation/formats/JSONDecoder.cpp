#include "foundation/formats/JSONDecoder.h"

#include <cerrno>
#include <charconv>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <tuple>
#include <utility>

#include "foundation/formats/UTF8Sequence.h"
#include "os/core/String.h"

namespace {

enum TokenType { kInvalid, kNumber, kString, kObjectBegin, kObjectEnd, kArrayBegin, kArrayEnd, kSeparator, kComma, kTrue, kFalse, kNull };
enum ValueType { kNone = 0, kStringValue = 5, kSigned = 7, kUnsigned = 11, kDouble = 13 };
// Accepted-set bits while reading a container.
enum : unsigned { kAcceptValue = 1, kAcceptComma = 2, kAcceptEnd = 4 };

// Strings are hashed eight bytes at a time; the tail is read as two overlapping words.
inline std::uint32_t hashBytes(const char* p, std::size_t n) {
  constexpr std::uint64_t kMul = 0x9E3779B97F4A7C15ull;
  std::uint64_t h = 0x2545F4914F6CDD1Dull ^ (n * kMul);
  auto mix = [&](std::uint64_t w) {
    h = (h ^ w) * kMul;
    h ^= h >> 29;
  };
  for (; n >= 8; p += 8, n -= 8) {
    std::uint64_t w;
    std::memcpy(&w, p, 8);
    mix(w);
  }
  if (n >= 4) {
    std::uint32_t a, b;
    std::memcpy(&a, p, 4);
    std::memcpy(&b, p + n - 4, 4);
    mix(a | (std::uint64_t{b} << 32));
  } else if (n > 0) {
    const auto* u = reinterpret_cast<const std::uint8_t*>(p);
    mix(u[0] | (std::uint64_t{u[n / 2]} << 8) | (std::uint64_t{u[n - 1]} << 16));
  }
  return static_cast<std::uint32_t>(h ^ (h >> 32));
}

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  va_list copy;
  va_copy(copy, ap);
  int n = std::vsnprintf(nullptr, 0, fmt, copy);
  va_end(copy);
  std::string out(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
  if (n > 0) std::vsnprintf(out.data(), out.size() + 1, fmt, ap);
  va_end(ap);
  return out;
}

// The UTF-8 of a code point, appended in one piece: the slow scan writes one per \u escape.
inline void appendCodePoint(std::string& out, char32_t c) {
  if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
  char b[4];
  std::size_t n;
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
    return;
  }
  if (c < 0x800) {
    b[0] = static_cast<char>(0xC0 | (c >> 6));
    n = 2;
  } else if (c < 0x10000) {
    b[0] = static_cast<char>(0xE0 | (c >> 12));
    b[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    n = 3;
  } else {
    b[0] = static_cast<char>(0xF0 | (c >> 18));
    b[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    b[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    n = 4;
  }
  b[n - 1] = static_cast<char>(0x80 | (c & 0x3F));
  out.append(b, n);
}

// The value of each byte as a hex digit, or 16 for a byte that is not one.
constexpr std::array<std::uint8_t, 256> kHexDigits = [] {
  std::array<std::uint8_t, 256> t{};
  for (auto& v : t) v = 16;
  for (int c = '0'; c <= '9'; ++c) t[static_cast<std::size_t>(c)] = static_cast<std::uint8_t>(c - '0');
  for (int c = 'a'; c <= 'f'; ++c) t[static_cast<std::size_t>(c)] = static_cast<std::uint8_t>(c - 'a' + 10);
  for (int c = 'A'; c <= 'F'; ++c) t[static_cast<std::size_t>(c)] = static_cast<std::uint8_t>(c - 'A' + 10);
  return t;
}();

// The bytes that can start white space, a line break or a comment under some option: any other
// byte ends white space at once, which is what nearly every token finds.
constexpr std::array<bool, 256> kMayStartSpace = [] {
  std::array<bool, 256> t{};
  for (int c = 0; c <= ' '; ++c) t[static_cast<std::size_t>(c)] = true;
  t['/'] = t[0xC2] = t[0xE2] = true;
  return t;
}();

bool isValueToken(int t) {
  return t == kNumber || t == kString || t == kObjectBegin || t == kArrayBegin || t == kTrue || t == kFalse || t == kNull;
}

}  // namespace

// One parse: input, position, current token and the first error.
class JSONParse {
 public:
  JSONParse(JSONDecoder& decoder, const std::uint8_t* bytes, std::size_t length)
      : d_(decoder), in_(bytes), end_(length), loose_(decoder.options_ & JTParseLooseUnicode) {}

  std::optional<os::Value> run(os::Error* error);

 private:
  struct Token {
    int type = kInvalid;
    std::size_t start = 0, end = 0;  // raw bytes in the input
    int valueType = kNone;
    const char* valueBytes = nullptr;  // decoded string bytes (input or scratch buffer)
    std::size_t valueLength = 0;
    union { long long i; unsigned long long u; double d; } number{};
  };

  bool fail(std::string message) {
    if (!failed_) {
      failed_ = true;
      error_ = d_.profile_.error(std::move(message));
      error_.userInfo.set(d_.profile_.atIndexKey, os::Value::unsignedNumber('Q', pos_));
      error_.userInfo.set(d_.profile_.lineNumberKey, os::Value::unsignedNumber('Q', line_));
    }
    return false;
  }

  bool atEnd() const { return pos_ >= end_; }
  // Takes the punctuation byte b when it comes next (after white space): the common case between
  // values needs no token. Anything else is left for nextToken() and its errors.
  bool skipPunctuation(std::uint8_t b) {
    skipWhiteSpace();
    if (pos_ < end_ && in_[pos_] == b) {
      ++pos_;
      return true;
    }
    return false;
  }
  // The byte after white space, or -1 at the end.
  int peek() {
    skipWhiteSpace();
    return pos_ < end_ ? in_[pos_] : -1;
  }
  void skipWhiteSpace() {
    // Most tokens follow no white space at all; only some bytes can start any.
    if (pos_ < end_ && !kMayStartSpace[in_[pos_]]) return;
    skipWhiteSpaceAndComments();
  }
  void skipWhiteSpaceAndComments();
  std::size_t lineBreakAt(std::size_t p) const;
  bool nextToken();
  bool scanString();
  bool escapeInSlowScan();
  bool readHex4(char32_t& out);
  bool scanNumber();
  bool numberFromText(const char* first, const char* last, bool real);
  bool integerToken(bool negative, unsigned long long magnitude) {
    if (negative) {
      tok_.valueType = kSigned;
      tok_.number.i = -static_cast<long long>(magnitude);
    } else {
      tok_.valueType = kUnsigned;
      tok_.number.u = magnitude;
    }
    return true;
  }
  bool buildValue(os::Value& out, std::size_t depth);
  void stringValue(os::Value& out);
  void numberValue(os::Value& out);
  // Scans a string or number token at pos_ (after white space), as nextToken() would.
  bool scanScalar(int first) {
    tok_.valueType = kNone;
    tok_.start = pos_;
    if (!(first == '"' ? scanString() : scanNumber())) return false;
    tok_.end = pos_;
    return true;
  }
  static bool startsScalar(int c) { return c == '"' || c == '-' || (c >= '0' && c <= '9'); }
  bool parseArray(os::Value& out, std::size_t depth);
  bool parseObject(os::Value& out, std::size_t depth);
  bool expected(unsigned accepted, const char* value, const char* comma, const char* end);

  JSONDecoder& d_;
  const std::uint8_t* in_;
  std::size_t end_;
  bool loose_;
  std::size_t pos_ = 0, line_ = 1, lineStart_ = 0;
  Token tok_;
  std::string scratch_;
  bool failed_ = false;
  os::Error error_;
};

std::size_t JSONParse::lineBreakAt(std::size_t p) const {
  const std::uint8_t c = in_[p];
  if (c == '\n') return 1;
  if (c == '\r') return (p + 1 < end_ && in_[p + 1] == '\n') ? 2 : 1;
  if (d_.options_ & JTParseUnicodeNewlines) {
    if (c == 0xC2 && p + 1 < end_ && in_[p + 1] == 0x85) return 2;
    if (c == 0xE2 && p + 2 < end_ && in_[p + 1] == 0x80 && (in_[p + 2] == 0xA8 || in_[p + 2] == 0xA9)) return 3;
  }
  return 0;
}

void JSONParse::skipWhiteSpaceAndComments() {
  const bool comments = d_.options_ & JTParseComments;
  while (pos_ < end_) {
    const std::uint8_t c = in_[pos_];
    if (!kMayStartSpace[c]) return;
    if (c == ' ' || c == '\t') {
      ++pos_;
      continue;
    }
    if (std::size_t n = lineBreakAt(pos_)) {
      pos_ += n;
      ++line_;
      lineStart_ = pos_;
      continue;
    }
    if (comments && c == '/' && pos_ + 1 < end_ && in_[pos_ + 1] == '*') {
      pos_ += 2;
      while (pos_ < end_) {
        if (in_[pos_] == '*' && pos_ + 1 < end_ && in_[pos_ + 1] == '/') {
          pos_ += 2;
          break;
        }
        if (std::size_t n = lineBreakAt(pos_)) {
          pos_ += n;
          ++line_;
          lineStart_ = pos_;
        } else {
          ++pos_;
        }
      }
      continue;
    }
    if (comments && c == '/' && pos_ + 1 < end_ && in_[pos_ + 1] == '/') {
      pos_ += 2;
      while (pos_ < end_ && lineBreakAt(pos_) == 0) ++pos_;
      continue;
    }
    return;
  }
}

bool JSONParse::nextToken() {
  skipWhiteSpace();
  tok_.type = kInvalid;
  tok_.valueType = kNone;
  tok_.start = pos_;
  if (pos_ < end_) {
    const std::uint8_t c = in_[pos_];
    auto literal = [&](const char* word, int type) {
      const std::size_t n = std::strlen(word);
      // The literal needs one more byte after it to count as complete.
      if (end_ - pos_ > n && std::memcmp(in_ + pos_, word, n) == 0) {
        pos_ += n;
        tok_.type = type;
        return true;
      }
      return false;
    };
    bool ok = false;
    switch (c) {
      case ',': tok_.type = kComma; ++pos_; ok = true; break;
      case ':': tok_.type = kSeparator; ++pos_; ok = true; break;
      case '{': tok_.type = kObjectBegin; ++pos_; ok = true; break;
      case '}': tok_.type = kObjectEnd; ++pos_; ok = true; break;
      case '[': tok_.type = kArrayBegin; ++pos_; ok = true; break;
      case ']': tok_.type = kArrayEnd; ++pos_; ok = true; break;
      case '"':
        if (!scanString()) return false;
        ok = true;
        break;
      case 't': ok = literal("true", kTrue); break;
      case 'f': ok = literal("false", kFalse); break;
      case 'n': ok = literal("null", kNull); break;
      default:
        if (c == '-' || (c >= '0' && c <= '9')) {
          if (!scanNumber()) return false;
          ok = true;
        }
    }
    if (ok) {
      tok_.end = pos_;
      return true;
    }
  }
  return fail("Unexpected token, wanted '{', '}', '[', ']', ',', ':', 'true', 'false', 'null', '\"STRING\"', 'NUMBER'.");
}

bool JSONParse::readHex4(char32_t& out) {
  out = 0;
  for (int i = 0; i < 4; ++i) {
    if (pos_ >= end_) return fail("Invalid string.");
    const std::uint8_t c = in_[pos_];
    const unsigned v = kHexDigits[c];
    if (v > 15)
      return fail(format("Unexpected character found in \\u Unicode escape sequence.  Found '%c', expected [0-9a-fA-F].", c));
    out = (out << 4) | v;
    ++pos_;
  }
  return true;
}

// After a backslash in the slow scan; pos_ is at the backslash.
bool JSONParse::escapeInSlowScan() {
  ++pos_;
  if (pos_ >= end_) return fail("Invalid string.");
  const std::uint8_t c = in_[pos_++];
  switch (c) {
    case '"': case '\\': case '/': scratch_ += static_cast<char>(c); return true;
    case 'b': scratch_ += '\b'; return true;
    case 'f': scratch_ += '\f'; return true;
    case 'n': scratch_ += '\n'; return true;
    case 'r': scratch_ += '\r'; return true;
    case 't': scratch_ += '\t'; return true;
    case 'u': break;
    default: return fail("Invalid escape sequence found in \"\" string.");
  }
  char32_t cp;
  if (!readHex4(cp)) return false;
  for (;;) {
    if (cp >= 0xD800 && cp <= 0xDBFF) {
      if (pos_ >= end_) return fail("Invalid string.");
      bool pair = in_[pos_] == '\\';
      if (pair) {
        if (pos_ + 1 >= end_) return fail("Invalid string.");
        pair = in_[pos_ + 1] == 'u';
      }
      if (!pair) {
        if (!loose_)
          return fail("Required a second \\u Unicode escape sequence following a surrogate \\u Unicode escape sequence.");
        // The offending bytes are read again as ordinary string content.
        appendCodePoint(scratch_, 0xFFFD);
        return true;
      }
      pos_ += 2;
      char32_t low;
      if (!readHex4(low)) return false;
      if (low >= 0xDC00 && low <= 0xDFFF) {
        cp = (cp - 0xD800) * 0x400 + (low - 0xDC00) + 0x10000;
        break;
      }
      if (!loose_) return fail("Illegal \\u Unicode escape sequence.");
      // The lone high half is replaced; the second escape still stands for itself.
      appendCodePoint(scratch_, 0xFFFD);
      cp = low;
      continue;
    }
    if (cp >= 0xDC00 && cp <= 0xDFFF) {
      if (!loose_) return fail("Illegal \\u Unicode escape sequence.");
      cp = 0xFFFD;
    }
    break;
  }
  if (!isAllowedJSONCodePoint(cp)) {
    if (!loose_) return fail("Illegal \\u Unicode escape sequence.");
    cp = 0xFFFD;
  }
  appendCodePoint(scratch_, cp);
  return true;
}

namespace {

// The first byte at or after p that ends a run of string text that stands as it is: a quotation
// mark, a backslash, a control byte, a sequence outside ASCII that is not well-formed or not
// allowed, or the end. Plain ASCII is passed over a word at a time, text outside ASCII a sequence
// at a time.
const std::uint8_t* plainJSONRunEnd(const std::uint8_t* p, const std::uint8_t* end) {
  while (p < end) {
    p = skipPlainJSONText(p, end);
    if (p == end) break;
    const std::uint8_t c = *p;
    if (c >= 0x80) {
      std::size_t n;
      while ((n = allowedJSONSequenceLength(p, static_cast<std::size_t>(end - p))) != 0) {
        p += n;
        if (p == end || *p < 0x80) break;
      }
      if (n == 0) break;
      continue;
    }
    if (c == '"' || c == '\\' || c < 0x20) break;
    ++p;
  }
  return p;
}

}  // namespace

bool JSONParse::scanString() {
  ++pos_;  // opening quote
  const std::size_t begin = pos_;
  const std::uint8_t* const end = in_ + end_;
  // Text without escapes or bad bytes is used where it stands; from the first of them on, the
  // text is decoded into the scratch buffer, still a run at a time between them.
  bool decoding = false;
  const std::uint8_t* run = in_ + begin;
  for (;;) {
    const std::uint8_t* p = plainJSONRunEnd(run, end);
    pos_ = static_cast<std::size_t>(p - in_);
    if (p == end) return fail("Invalid string.");
    const std::uint8_t c = *p;
    if (c == '"') {
      tok_.type = kString;
      tok_.valueType = kStringValue;
      if (decoding) {
        scratch_.append(reinterpret_cast<const char*>(run), static_cast<std::size_t>(p - run));
        tok_.valueBytes = scratch_.data();
        tok_.valueLength = scratch_.size();
      } else {
        tok_.valueBytes = reinterpret_cast<const char*>(in_ + begin);
        tok_.valueLength = pos_ - begin;
      }
      ++pos_;
      return true;
    }
    if (c < 0x20) return fail(format("Invalid character < 0x20 found in string: 0x%2.2x.", c));
    if (decoding) {
      scratch_.append(reinterpret_cast<const char*>(run), static_cast<std::size_t>(p - run));
    } else {
      scratch_.assign(reinterpret_cast<const char*>(in_ + begin), pos_ - begin);
      decoding = true;
    }
    if (c == '\\') {
      if (!escapeInSlowScan()) return false;
    } else {
      // A sequence outside ASCII that can't stand as it is.
      UTF8Sequence seq = UTF8Sequence::read(p, end_ - pos_);
      if (seq.kind == UTF8Sequence::Kind::Truncated) return fail("End of buffer reached while parsing UTF8 in \"\" string.");
      if (seq.kind != UTF8Sequence::Kind::Valid || !isAllowedJSONCodePoint(seq.codePoint)) {
        if (!loose_) return fail("Illegal UTF8 sequence found in \"\" string.");
        appendCodePoint(scratch_, 0xFFFD);
      } else {
        scratch_.append(reinterpret_cast<const char*>(p), seq.length);
      }
      pos_ += seq.length;
    }
    run = in_ + pos_;
  }
}

bool JSONParse::scanNumber() {
  // Over local pointers: the members may alias what the loops write.
  const std::uint8_t* const begin = in_ + pos_;
  const std::uint8_t* const end = in_ + end_;
  auto digit = [end](const std::uint8_t* q) { return q < end && static_cast<unsigned>(*q - '0') < 10; };
  auto failAt = [this](const std::uint8_t* q) {
    pos_ = static_cast<std::size_t>(q - in_);
    return fail("Invalid number.");
  };
  bool real = false;
  const std::uint8_t* p = begin;
  const bool negative = *p == '-';
  if (negative) ++p;
  const std::uint8_t* const integerStart = p;
  // The integer part's value, read on the way: exact up to 19 digits.
  unsigned long long integer = 0;
  if (p < end && *p == '0') {
    ++p;
  } else if (digit(p)) {
    for (; digit(p); ++p) integer = integer * 10 + static_cast<unsigned>(*p - '0');
  } else {
    return failAt(p);
  }
  // A double's digits and power of ten, read on the way too, for the exact short form below.
  std::size_t digits = static_cast<std::size_t>(p - integerStart);
  unsigned long long mantissa = integer;
  int scale = 0;
  if (p < end && *p == '.') {
    real = true;
    ++p;
    if (!digit(p)) return failAt(p);
    for (; digit(p); ++p, ++digits, --scale) mantissa = mantissa * 10 + static_cast<unsigned>(*p - '0');
  }
  std::size_t exponentDigits = 0;
  if (p < end && (*p == 'e' || *p == 'E')) {
    real = true;
    ++p;
    const bool down = p < end && *p == '-';
    if (p < end && (*p == '+' || *p == '-')) ++p;
    if (!digit(p)) return failAt(p);
    int exponent = 0;
    for (; digit(p); ++p, ++exponentDigits)
      if (exponentDigits < 3) exponent = exponent * 10 + (*p - '0');
    scale += down ? -exponent : exponent;
  }
  // A number only ends at a byte that cannot continue it.
  if (p >= end) return failAt(p);
  pos_ = static_cast<std::size_t>(p - in_);
  tok_.type = kNumber;
  const std::size_t integerDigits = static_cast<std::size_t>(p - integerStart);
  // Integers of up to 18 digits (19 when positive) are taken as read; "-0" is a double.
  if (!real && integerDigits <= (negative ? 18u : 19u) && !(negative && integerDigits == 1 && integer == 0))
    return integerToken(negative, integer);
  if (real && exactShortDouble(mantissa, digits, scale, exponentDigits, negative, tok_.number.d)) {
    tok_.valueType = kDouble;
    return true;
  }
  return numberFromText(reinterpret_cast<const char*>(begin), reinterpret_cast<const char*>(p), real);
}

bool JSONParse::numberFromText(const char* first, const char* last, bool real) {
  const std::size_t length = static_cast<std::size_t>(last - first);
  if (length == 2 && first[0] == '-' && first[1] == '0') real = true;
  // Fast paths for what answers are made of; anything out of their reach (integers of many
  // digits, doubles that may overflow or underflow) takes the general path below, which alone
  // words the errors.
  if (!real) {
    const bool negative = first[0] == '-';
    const char* digits = first + (negative ? 1 : 0);
    if (last - digits <= (negative ? 18 : 19)) {
      unsigned long long v = 0;
      for (const char* c = digits; c != last; ++c) v = v * 10 + static_cast<unsigned>(*c - '0');
      return integerToken(negative, v);
    }
  } else {
    double v = 0;
    const auto r = std::from_chars(first, last, v);
    if (r.ec == std::errc() && r.ptr == last) {
      bool exact = std::isfinite(v) && std::fabs(v) >= DBL_MIN;
      if (v == 0) {
        // Zero is exact only when every digit of the mantissa is.
        exact = true;
        for (const char* c = first; c != last && *c != 'e' && *c != 'E'; ++c)
          if (*c >= '1' && *c <= '9') exact = false;
      }
      if (exact) {
        tok_.valueType = kDouble;
        tok_.number.d = v;
        return true;
      }
    }
  }
  const std::string text(first, length);
  char* stop = nullptr;
  errno = 0;
  if (real) {
    const double v = std::strtod(text.c_str(), &stop);
    if (errno == ERANGE) {
      // A result that is zero or below the normal range lost precision downward.
      const bool under = v == 0.0 || std::fabs(v) < DBL_MIN;
      fail(format("The value '%s' could not be represented as a 'double' due to %s.", text.c_str(), under ? "underflow" : "overflow"));
      return fail("Invalid number.");
    }
    tok_.valueType = kDouble;
    tok_.number.d = v;
  } else if (text[0] == '-') {
    const long long v = std::strtoll(text.c_str(), &stop, 10);
    if (errno == ERANGE) {
      fail(format("The value '%s' exceeded the minimum value that could be represented: %lld.", text.c_str(), static_cast<long long>(LLONG_MIN)));
      return fail("Invalid number.");
    }
    tok_.valueType = kSigned;
    tok_.number.i = v;
  } else {
    const unsigned long long v = std::strtoull(text.c_str(), &stop, 10);
    if (errno == ERANGE) {
      fail(format("The value '%s' exceeded the maximum value that could be represented: %llu.", text.c_str(), static_cast<unsigned long long>(ULLONG_MAX)));
      return fail("Invalid number.");
    }
    tok_.valueType = kUnsigned;
    tok_.number.u = v;
  }
  if (stop != text.c_str() + text.size()) {
    fail("The conversion function did not consume all of the number tokens characters.");
    return fail("Invalid number.");
  }
  return true;
}

void JSONParse::stringValue(os::Value& out) {
  const std::size_t length = tok_.valueLength;
  if (length == 0) {
    out = d_.emptyString_;
    return;
  }
  const std::uint32_t hash = hashBytes(tok_.valueBytes, length);
  const std::uint32_t tag = hash | 1u;
  JSONDecoder::CacheSlot* const cache = d_.slots();
  std::size_t slot = hash & (JSONDecoder::kCacheSize - 1);
  long fill = -1;
  for (std::size_t x = 0; x < 4; ++x) {
    const std::uint32_t held = d_.tags_[slot];
    if (held == 0) {
      if (fill < 0) fill = static_cast<long>(slot);
      break;
    }
    if (held == tag) {
      JSONDecoder::CacheSlot& s = cache[slot];
      if (s.text->size() == length && std::memcmp(s.text->data(), tok_.valueBytes, length) == 0) {
        // A hit keeps the slot young.
        d_.ages_[slot] = static_cast<std::uint8_t>((d_.ages_[slot] << 1) | 1u);
        out = s.object;
        return;
      }
    }
    if (fill < 0) {
      if (d_.ages_[slot] == 0) {
        fill = static_cast<long>(slot);
      } else {
        d_.ages_[slot] >>= 1;
        for (int step = 0; step < 2; ++step) {
          const std::uint32_t old = d_.prng_;
          d_.prng_ = (old >> 1) ^ ((old & 1u) ? 0x80200003u : 0u);
          d_.ages_[d_.prng_ & (JSONDecoder::kCacheSize - 1)] >>= 1;
        }
      }
    }
    slot = (hash + (length + kStringValue + 3) * (x + 1)) & (JSONDecoder::kCacheSize - 1);
  }
  // The value a filled slot lets go of was made long ago: its storage is fetched while this one
  // is made.
  if (fill >= 0 && d_.tags_[static_cast<std::size_t>(fill)] != 0) __builtin_prefetch(cache[static_cast<std::size_t>(fill)].text, 1);
  makeValueInPlace(out, [&] { return os::Value(std::string_view(tok_.valueBytes, length)); });
  if (fill >= 0) {
    const auto at = static_cast<std::size_t>(fill);
    if (d_.tags_[at] != 0)
      cache[at].object = out;
    else {
      new (&cache[at]) JSONDecoder::CacheSlot{out};
      d_.inUse_.push_back(static_cast<std::uint16_t>(at));
    }
    cache[at].text = cache[at].object.string();
    d_.tags_[at] = tag;
    d_.ages_[at] = 0;
  }
}

// Numbers are held in the value itself: there is no storage to share, so they skip the cache.
void JSONParse::numberValue(os::Value& out) {
  switch (tok_.valueType) {
    // The constructors of long long and double make type codes 'q' and 'd'.
    case kSigned: out = os::Value(tok_.number.i); break;
    case kUnsigned:
      out = tok_.number.u <= static_cast<unsigned long long>(LLONG_MAX) ? os::Value(static_cast<long long>(tok_.number.u))
                                                                       : os::Value::unsignedNumber('Q', tok_.number.u);
      break;
    case kDouble: out = os::Value(tok_.number.d); break;
  }
}

bool JSONParse::buildValue(os::Value& out, std::size_t depth) {
  switch (tok_.type) {
    case kString: stringValue(out); return true;
    case kNumber: numberValue(out); return true;
    case kTrue: out = os::Value(true); return true;
    case kFalse: out = os::Value(false); return true;
    case kNull: out = os::Value(); return true;
    case kArrayBegin: return parseArray(out, depth + 1);
    case kObjectBegin: return parseObject(out, depth + 1);
  }
  return fail("Internal error: Unknown token type.");
}

bool JSONParse::expected(unsigned accepted, const char* value, const char* comma, const char* end) {
  const char* words[3];
  int n = 0;
  if (accepted & kAcceptValue) words[n++] = value;
  if (accepted & kAcceptComma) words[n++] = comma;
  if (accepted & kAcceptEnd) words[n++] = end;
  const int len = static_cast<int>(tok_.end - tok_.start);
  const char* raw = reinterpret_cast<const char*>(in_ + tok_.start);
  if (n == 1) return fail(format("Expected %s, not '%*.*s'", words[0], len, len, raw));
  if (n == 2) return fail(format("Expected %s or %s, not '%*.*s'", words[0], words[1], len, len, raw));
  return fail(format("Expected %s, %s, or %s, not '%*.*s", words[0], words[1], words[2], len, len, raw));
}

bool JSONParse::parseArray(os::Value& out, std::size_t depth) {
  if (depth > d_.profile_.maximumDepth)
    return fail(format("Arrays and objects are nested more than %zu levels deep.", d_.profile_.maximumDepth));
  JSONReaderLevel& here = d_.levels_.at(depth);
  // Empty here; deeper containers use deeper levels, so its elements stay in place while read.
  std::vector<os::Value>& items = here.elements;
  here.startArray();
  unsigned accepted = kAcceptValue | kAcceptEnd;
  while (!atEnd()) {
    const int next = peek();
    if (next == ',' && (accepted & kAcceptComma)) {
      ++pos_;
      accepted = kAcceptValue;
      continue;
    }
    if ((accepted & kAcceptValue) && startsScalar(next)) {
      // Strings and numbers, most of what answers hold, are built in their place at once.
      if (!scanScalar(next)) return false;
      items.emplace_back();
      if (tok_.type == kString) stringValue(items.back());
      else numberValue(items.back());
      accepted = kAcceptComma | kAcceptEnd;
      continue;
    }
    if ((accepted & kAcceptValue) && (next == '[' || next == '{')) {
      ++pos_;
      items.emplace_back();
      if (!(next == '[' ? parseArray(items.back(), depth + 1) : parseObject(items.back(), depth + 1))) return false;
      accepted = kAcceptComma | kAcceptEnd;
      continue;
    }
    const bool closing = next == ']' && (accepted & kAcceptEnd);
    if (closing) ++pos_;
    else if (!nextToken()) return false;
    const int type = closing ? kArrayEnd : tok_.type;
    if (isValueToken(type)) {
      if (!(accepted & kAcceptValue)) return fail("Unexpected value.");
      items.emplace_back();
      if (!buildValue(items.back(), depth)) return false;
      accepted = kAcceptComma | kAcceptEnd;
    } else if (type == kArrayEnd) {
      if (!(accepted & kAcceptEnd)) return fail("Unexpected ']'.");
      here.closeArray();
      makeValueInPlace(out, [&] { return os::Value(std::move(items)); });
      return true;
    } else if (type == kComma) {
      if (!(accepted & kAcceptComma)) return fail("Unexpected ','.");
      accepted = kAcceptValue;
    } else {
      return expected(accepted, "a value", "a comma", "a ']'");
    }
  }
  return false;
}

bool JSONParse::parseObject(os::Value& out, std::size_t depth) {
  if (depth > d_.profile_.maximumDepth)
    return fail(format("Arrays and objects are nested more than %zu levels deep.", d_.profile_.maximumDepth));
  JSONReaderLevel& here = d_.levels_.at(depth);
  // Empty here; deeper containers use deeper levels, so its members stay in place while read.
  std::vector<os::Dictionary::Entry>& members = here.members;
  here.startObject();
  unsigned accepted = kAcceptValue | kAcceptEnd;
  bool allKnown = true;  // every key so far was the known one at its position
  while (!atEnd()) {
    const int next = peek();
    if (next == ',' && (accepted & kAcceptComma)) {
      ++pos_;
      accepted = kAcceptValue;
      continue;
    }
    // Objects at one depth mostly repeat their keys in order: the key the last ones had at this
    // position is tried first, and taken when the text holds it as it stands.
    const std::size_t index = members.size();
    const std::string* known = nullptr;
    if (next == '"' && (accepted & kAcceptValue) && index < here.keys.size()) {
      const std::string& key = here.keys[index];
      const std::size_t n = key.size();
      if (end_ - pos_ > n + 1 && in_[pos_ + 1 + n] == '"' && std::memcmp(in_ + pos_ + 1, key.data(), n) == 0) {
        pos_ += n + 2;
        known = &key;
      }
    }
    const bool closing = !known && next == '}' && (accepted & kAcceptEnd);
    if (closing) ++pos_;
    else if (!known && !nextToken()) return false;
    const int type = known ? kString : closing ? kObjectEnd : tok_.type;
    if (type == kString) {
      if (!(accepted & kAcceptValue)) return fail("Unexpected string.");
      // Keys live in the dictionary's entries, never in a shared value, so they skip the cache.
      // The member is made in its place at once; its value follows.
      if (known) {
        members.emplace_back(std::piecewise_construct, std::forward_as_tuple(*known), std::forward_as_tuple());
      } else {
        allKnown = false;
        members.emplace_back(std::piecewise_construct, std::forward_as_tuple(tok_.valueBytes, tok_.valueLength), std::forward_as_tuple());
        // Only a key read as it stands in the text (no escapes) may be known by its bytes.
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(tok_.valueBytes);
        if (bytes >= in_ && bytes < in_ + end_ && index < JSONReaderLevel::kKnownKeys)
          here.rememberKey(index, tok_.valueBytes, tok_.valueLength);
      }
      os::Value& value = members.back().second;
      if (!skipPunctuation(':')) {
        if (!nextToken()) return false;
        if (tok_.type != kSeparator) return fail("Expected ':'.");
      }
      const int first = peek();
      if (startsScalar(first)) {
        if (!scanScalar(first)) return false;
        if (tok_.type == kString) stringValue(value);
        else numberValue(value);
      } else if (first == '[' || first == '{') {
        ++pos_;
        if (!(first == '[' ? parseArray(value, depth + 1) : parseObject(value, depth + 1))) return false;
      } else {
        if (!nextToken()) return false;
        if (!isValueToken(tok_.type)) return expected(kAcceptValue, "a value", "a comma", "a '}'");
        if (!buildValue(value, depth)) return false;
      }
      accepted = kAcceptComma | kAcceptEnd;
    } else if (type == kObjectEnd) {
      if (!(accepted & kAcceptEnd)) return fail("Unexpected '}'.");
      // A later duplicate key replaces the earlier value; keys that were all the known ones, in
      // order, are already known to hold none.
      const bool distinct = allKnown && here.keysDistinct(members.size());
      here.closeObject();
      makeValueInPlace(out, [&] {
        return distinct ? os::Value::dictionaryOfDistinctKeysMovingFrom(std::move(members))
                        : os::Value::dictionaryMovingFrom(std::move(members));
      });
      return true;
    } else if (type == kComma) {
      if (!(accepted & kAcceptComma)) return fail("Unexpected ','.");
      accepted = kAcceptValue;
    } else {
      return expected(accepted, "a \"STRING\"", "a comma", "a '}'");
    }
  }
  return false;
}

std::optional<os::Value> JSONParse::run(os::Error* error) {
  std::optional<os::Value> result;
  if (end_ > 0) {
    if (nextToken()) {
      if (tok_.type != kArrayBegin && tok_.type != kObjectBegin) {
        fail("Expected either '[' or '{'.");
      } else {
        os::Value v;
        if (buildValue(v, 0)) result = std::move(v);
      }
    }
  }
  if (result) {
    skipWhiteSpace();
    if (!(d_.options_ & JTParseTrailingText) && pos_ < end_) {
      fail("A valid JSON object was parsed but there were additional non-white-space characters remaining.");
      result.reset();
    }
  }
  if (!result) {
    d_.levels_.dropOpenContainers();
    if (pos_ >= end_) fail("Reached the end of the buffer.");
    fail("Unable to parse JSON.");
    if (error) *error = error_;
  }
  return result;
}

JSONDecoder::JSONDecoder(unsigned parseOptions, const JSONCodecProfile& profile)
    : options_(parseOptions),
      profile_(profile),
      slots_(std::make_unique_for_overwrite<SlotStorage>()),
      emptyString_(std::string()) {
  if (parseOptions >= 16) throw os::Exception(os::kInvalidArgumentException, "Invalid parse options.");
}

std::shared_ptr<JSONDecoder> JSONDecoder::decoderWithParseOptions(unsigned parseOptions) {
  return std::make_shared<JSONDecoder>(parseOptions);
}

std::optional<os::Value> JSONDecoder::parse(const std::uint8_t* bytes, std::size_t length, os::Error* error) {
  // The nodes of one tree are made together and mostly die together.
  os::ValueStorageScope storage;
  JSONParse parse(*this, bytes, length);
  return parse.run(error);
}

std::optional<os::Value> JSONDecoder::objectWithUTF8String(const char* bytes, std::size_t length, os::Error* error) {
  if (!bytes) throw os::Exception(os::kInvalidArgumentException, "The string argument is NULL.");
  return parse(reinterpret_cast<const std::uint8_t*>(bytes), length, error);
}

std::optional<os::Value> JSONDecoder::mutableObjectWithUTF8String(const char* bytes, std::size_t length, os::Error* error) {
  return objectWithUTF8String(bytes, length, error);
}

std::optional<os::Value> JSONDecoder::objectWithData(const os::Data& data, os::Error* error) {
  return parse(data.data(), data.size(), error);
}

std::optional<os::Value> JSONDecoder::mutableObjectWithData(const os::Data& data, os::Error* error) {
  return objectWithData(data, error);
}

static_assert(JSONDecoder::kCacheSize <= 65536, "slot numbers are kept in 16 bits");

JSONDecoder::~JSONDecoder() { destroySlotsInUse(); }

void JSONDecoder::destroySlotsInUse() {
  CacheSlot* const cache = slots();
  for (std::uint16_t at : inUse_) cache[at].~CacheSlot();
  inUse_.clear();
}

void JSONDecoder::releaseSlots() {
  destroySlotsInUse();
  ages_.fill(0);
  tags_.fill(0);
}

void JSONDecoder::clearCache() { releaseSlots(); }
