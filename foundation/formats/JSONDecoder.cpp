#include "foundation/formats/JSONDecoder.h"

#include <cerrno>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "foundation/formats/UTF8Sequence.h"
#include "os/core/String.h"

namespace {

enum TokenType { kInvalid, kNumber, kString, kObjectBegin, kObjectEnd, kArrayBegin, kArrayEnd, kSeparator, kComma, kTrue, kFalse, kNull };
enum ValueType { kNone = 0, kStringValue = 5, kSigned = 7, kUnsigned = 11, kDouble = 13 };
// Accepted-set bits while reading a container.
enum : unsigned { kAcceptValue = 1, kAcceptComma = 2, kAcceptEnd = 4 };

constexpr std::uint32_t kHashStart = 1402737925u;

inline std::uint32_t foldHash(std::uint32_t hash, std::uint8_t c) {
  return ((hash << 5) + hash + (c - 29u)) ^ (hash >> 19);
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
    std::uint32_t hash = 0;
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
  void skipWhiteSpace();
  std::size_t lineBreakAt(std::size_t p) const;
  bool nextToken();
  bool scanString();
  bool escapeInSlowScan();
  bool readHex4(char32_t& out);
  bool scanNumber();
  bool buildValue(os::Value& out, std::size_t depth);
  bool cachedValue(os::Value& out);
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

void JSONParse::skipWhiteSpace() {
  const bool comments = d_.options_ & JTParseComments;
  while (pos_ < end_) {
    const std::uint8_t c = in_[pos_];
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
  tok_ = Token{};
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
    int v;
    if (c >= '0' && c <= '9') v = c - '0';
    else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
    else
      return fail(format("Unexpected character found in \\u Unicode escape sequence.  Found '%c', expected [0-9a-fA-F].", c));
    out = (out << 4) | static_cast<char32_t>(v);
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
        os::appendUTF8(scratch_, 0xFFFD);
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
      os::appendUTF8(scratch_, 0xFFFD);
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
  os::appendUTF8(scratch_, cp);
  return true;
}

bool JSONParse::scanString() {
  ++pos_;  // opening quote
  const std::size_t begin = pos_;
  // Fast scan: text without escapes or bad bytes is used where it stands.
  while (pos_ < end_) {
    const std::uint8_t c = in_[pos_];
    if (c == '"') {
      tok_.type = kString;
      tok_.valueType = kStringValue;
      tok_.valueBytes = reinterpret_cast<const char*>(in_ + begin);
      tok_.valueLength = pos_ - begin;
      ++pos_;
      return true;
    }
    if (c < 0x20) return fail(format("Invalid character < 0x20 found in string: 0x%2.2x.", c));
    if (c == '\\') break;
    if (c >= 0x80) {
      UTF8Sequence s = UTF8Sequence::read(in_ + pos_, end_ - pos_);
      if (s.kind != UTF8Sequence::Kind::Valid || !isAllowedJSONCodePoint(s.codePoint)) break;
      pos_ += s.length;
      continue;
    }
    ++pos_;
  }
  if (pos_ >= end_) return fail("Invalid string.");
  // Slow scan: decode into the scratch buffer.
  scratch_.assign(reinterpret_cast<const char*>(in_ + begin), pos_ - begin);
  while (pos_ < end_) {
    const std::uint8_t c = in_[pos_];
    if (c == '"') {
      ++pos_;
      tok_.type = kString;
      tok_.valueType = kStringValue;
      tok_.valueBytes = scratch_.data();
      tok_.valueLength = scratch_.size();
      return true;
    }
    if (c < 0x20) return fail(format("Invalid character < 0x20 found in string: 0x%2.2x.", c));
    if (c == '\\') {
      if (!escapeInSlowScan()) return false;
      continue;
    }
    if (c >= 0x80) {
      UTF8Sequence s = UTF8Sequence::read(in_ + pos_, end_ - pos_);
      if (s.kind == UTF8Sequence::Kind::Truncated) return fail("End of buffer reached while parsing UTF8 in \"\" string.");
      if (s.kind != UTF8Sequence::Kind::Valid || !isAllowedJSONCodePoint(s.codePoint)) {
        if (!loose_) return fail("Illegal UTF8 sequence found in \"\" string.");
        os::appendUTF8(scratch_, 0xFFFD);
      } else {
        scratch_.append(reinterpret_cast<const char*>(in_ + pos_), s.length);
      }
      pos_ += s.length;
      continue;
    }
    scratch_ += static_cast<char>(c);
    ++pos_;
  }
  return fail("Invalid string.");
}

bool JSONParse::scanNumber() {
  const std::size_t begin = pos_;
  auto digit = [&](std::size_t p) { return p < end_ && in_[p] >= '0' && in_[p] <= '9'; };
  bool real = false;
  std::size_t p = pos_;
  if (in_[p] == '-') ++p;
  if (p < end_ && in_[p] == '0') {
    ++p;
  } else if (digit(p)) {
    while (digit(p)) ++p;
  } else {
    pos_ = p;
    return fail("Invalid number.");
  }
  if (p < end_ && in_[p] == '.') {
    real = true;
    ++p;
    if (!digit(p)) {
      pos_ = p;
      return fail("Invalid number.");
    }
    while (digit(p)) ++p;
  }
  if (p < end_ && (in_[p] == 'e' || in_[p] == 'E')) {
    real = true;
    ++p;
    if (p < end_ && (in_[p] == '+' || in_[p] == '-')) ++p;
    if (!digit(p)) {
      pos_ = p;
      return fail("Invalid number.");
    }
    while (digit(p)) ++p;
  }
  // A number only ends at a byte that cannot continue it.
  if (p >= end_) {
    pos_ = p;
    return fail("Invalid number.");
  }
  pos_ = p;
  const std::string text(reinterpret_cast<const char*>(in_ + begin), p - begin);
  if (text == "-0") real = true;
  tok_.type = kNumber;
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
  tok_.valueBytes = reinterpret_cast<const char*>(&tok_.number);
  tok_.valueLength = sizeof tok_.number;
  return true;
}

bool JSONParse::cachedValue(os::Value& out) {
  const bool isString = tok_.valueType == kStringValue;
  if (isString && tok_.valueLength == 0) {
    out = os::Value(std::string());
    return true;
  }
  std::uint32_t hash;
  if (isString) {
    hash = kHashStart;
  } else {
    hash = kHashStart + static_cast<std::uint32_t>(tok_.valueType);
    if (tok_.valueType != kDouble) {
      std::uint64_t bits;
      std::memcpy(&bits, &tok_.number, sizeof bits);
      hash += static_cast<std::uint32_t>(bits & 0xFFFFFFFFu);
    }
  }
  for (std::size_t i = 0; i < tok_.valueLength; ++i) hash = foldHash(hash, static_cast<std::uint8_t>(tok_.valueBytes[i]));
  tok_.hash = hash;

  auto& cache = *d_.cache_;
  const std::size_t length = tok_.valueLength;
  const int type = tok_.valueType;
  std::size_t slot = hash & (JSONDecoder::kCacheSize - 1);
  long fill = -1;
  for (std::size_t x = 0; x < 4; ++x) {
    JSONDecoder::CacheSlot& s = cache[slot];
    if (s.type == kNone) {
      if (fill < 0) fill = static_cast<long>(slot);
      break;
    }
    if (s.hash == hash && s.type == type && s.bytes.size() == length && std::memcmp(s.bytes.data(), tok_.valueBytes, length) == 0) {
      // A hit keeps the slot young.
      d_.ages_[slot] = static_cast<std::uint8_t>((d_.ages_[slot] << 1) | 1u);
      out = s.object;
      return true;
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
    slot = (hash + (length + static_cast<std::size_t>(type) + 3) * (x + 1)) & (JSONDecoder::kCacheSize - 1);
  }

  switch (type) {
    case kStringValue: out = os::Value(std::string(tok_.valueBytes, length)); break;
    case kSigned: out = os::Value::number('q', tok_.number.i); break;
    case kUnsigned:
      out = tok_.number.u <= static_cast<unsigned long long>(LLONG_MAX)
                ? os::Value::number('q', static_cast<long long>(tok_.number.u))
                : os::Value::unsignedNumber('Q', tok_.number.u);
      break;
    case kDouble: out = os::Value::real('d', tok_.number.d); break;
  }
  if (fill >= 0) {
    JSONDecoder::CacheSlot& s = cache[static_cast<std::size_t>(fill)];
    s.object = out;
    s.hash = hash;
    s.type = type;
    s.bytes.assign(tok_.valueBytes, length);
    d_.ages_[static_cast<std::size_t>(fill)] = 0;
  }
  return true;
}

bool JSONParse::buildValue(os::Value& out, std::size_t depth) {
  switch (tok_.type) {
    case kString:
    case kNumber: return cachedValue(out);
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
  os::Array items;
  unsigned accepted = kAcceptValue | kAcceptEnd;
  while (!atEnd()) {
    if (!nextToken()) return false;
    const int type = tok_.type;
    if (isValueToken(type)) {
      if (!(accepted & kAcceptValue)) return fail("Unexpected value.");
      os::Value v;
      if (!buildValue(v, depth)) return false;
      items.push_back(std::move(v));
      accepted = kAcceptComma | kAcceptEnd;
    } else if (type == kArrayEnd) {
      if (!(accepted & kAcceptEnd)) return fail("Unexpected ']'.");
      out = os::Value(std::move(items));
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
  os::Dictionary members;
  unsigned accepted = kAcceptValue | kAcceptEnd;
  while (!atEnd()) {
    if (!nextToken()) return false;
    const int type = tok_.type;
    if (type == kString) {
      if (!(accepted & kAcceptValue)) return fail("Unexpected string.");
      os::Value key;
      if (!cachedValue(key)) return false;
      if (!nextToken()) return false;
      if (tok_.type != kSeparator) return fail("Expected ':'.");
      if (!nextToken()) return false;
      if (!isValueToken(tok_.type)) return expected(kAcceptValue, "a value", "a comma", "a '}'");
      os::Value v;
      if (!buildValue(v, depth)) return false;
      // A later duplicate key replaces the earlier value.
      members.set(*key.string(), std::move(v));
      accepted = kAcceptComma | kAcceptEnd;
    } else if (type == kObjectEnd) {
      if (!(accepted & kAcceptEnd)) return fail("Unexpected '}'.");
      out = os::Value(std::move(members));
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
    if (pos_ >= end_) fail("Reached the end of the buffer.");
    fail("Unable to parse JSON.");
    if (error) *error = error_;
  }
  return result;
}

JSONDecoder::JSONDecoder(unsigned parseOptions, const JSONCodecProfile& profile)
    : options_(parseOptions), profile_(profile), cache_(std::make_unique<std::array<CacheSlot, kCacheSize>>()) {
  if (parseOptions >= 16) throw os::Exception(os::kInvalidArgumentException, "Invalid parse options.");
}

std::shared_ptr<JSONDecoder> JSONDecoder::decoderWithParseOptions(unsigned parseOptions) {
  return std::make_shared<JSONDecoder>(parseOptions);
}

std::optional<os::Value> JSONDecoder::parse(const std::uint8_t* bytes, std::size_t length, os::Error* error) {
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

void JSONDecoder::clearCache() {
  for (CacheSlot& s : *cache_) s = CacheSlot{};
  ages_.fill(0);
}
