#include "foundation/formats/JTSerializer.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <vector>

#include "foundation/formats/UTF8Sequence.h"

namespace {

// What a byte of string text asks of the writer: nothing (copied as it stands), an escape, a check
// of the solidus option, or a look at the UTF-8 sequence it starts.
enum : std::uint8_t { kPlain, kEscape, kSolidus, kMultiByte };
constexpr std::array<std::uint8_t, 256> kByteClass = [] {
  std::array<std::uint8_t, 256> t{};
  for (int b = 0; b < 0x20; ++b) t[b] = kEscape;
  t['"'] = kEscape;
  t['\\'] = kEscape;
  t['/'] = kSolidus;
  for (int b = 0x80; b < 0x100; ++b) t[b] = kMultiByte;
  return t;
}();

// Names of value kinds in error messages.
const char* className(const os::Value* v) { return v ? os::typeName(v->type()) : "NULL"; }

class Encoder {
 public:
  Encoder(unsigned options, unsigned encodeOption, const JTSerializer::UnsupportedClassBlock& block, const JSONCodecProfile& profile)
      : options_(options), encodeOption_(encodeOption), block_(block), profile_(profile) {}

  bool fail(std::string message) {
    if (!error_) error_ = profile_.error(std::move(message));
    return false;
  }

  bool encode(const os::Value& v, std::size_t depth);
  std::string out;
  std::optional<os::Error> error_;

 private:
  static bool isSerializable(const os::Value& v) {
    switch (v.type()) {
      case os::Value::Type::Null:
      case os::Value::Type::Boolean:
      case os::Value::Type::Number:
      case os::Value::Type::String:
      case os::Value::Type::Array:
      case os::Value::Type::Dictionary: return true;
      default: return false;
    }
  }
  bool encodeKnown(const os::Value& v, std::size_t depth);
  bool string(const std::string& s, bool quotes);
  bool number(const os::Value& v);
  bool shortExactDouble(double d);
  void newline() {
    out += '\n';
    out.append(depth_ * 2, ' ');
  }
  void open(char c) {
    out += c;
    if (options_ & JTSerializePretty) {
      ++depth_;
      newline();
    }
  }
  void close(char c) {
    if (options_ & JTSerializePretty) {
      --depth_;
      newline();
    }
    out += c;
  }
  void comma() {
    out += ',';
    if (options_ & JTSerializePretty) newline();
  }

  unsigned options_, encodeOption_;
  const JTSerializer::UnsupportedClassBlock& block_;
  const JSONCodecProfile& profile_;
  std::size_t depth_ = 0;
};

bool Encoder::string(const std::string& s, bool quotes) {
  if (quotes) out += '"';
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(s.data());
  const std::size_t n = s.size();
  const bool escapeSlash = options_ & JTSerializeEscapeSlash, escapeUnicode = options_ & JTSerializeEscapeUnicode;
  char buf[16];
  // Text is copied in runs; only the bytes that need a look end a run.
  std::size_t run = 0;
  for (std::size_t i = 0; i < n;) {
    const std::uint8_t c = bytes[i];
    const std::uint8_t kind = kByteClass[c];
    if (kind == kPlain || (kind == kSolidus && !escapeSlash)) {
      ++i;
      continue;
    }
    if (kind == kMultiByte) {
      // Text that is not UTF-8 would make the output unreadable: refuse it.
      UTF8Sequence seq = UTF8Sequence::read(bytes + i, n - i);
      if (seq.kind != UTF8Sequence::Kind::Valid)
        return fail("An error occurred converting the contents of a NSString to UTF8.");
      if (!escapeUnicode) {
        i += seq.length;
        continue;
      }
      if (!isAllowedJSONCodePoint(seq.codePoint)) return fail("Error converting UTF8.");
      out.append(s, run, i - run);
      const char32_t cp = seq.codePoint;
      if (cp <= 0xFFFF) {
        std::snprintf(buf, sizeof buf, "\\u%4.4x", static_cast<unsigned>(cp));
      } else {
        std::snprintf(buf, sizeof buf, "\\u%4.4x\\u%4.4x", static_cast<unsigned>(0xD7C0 + (cp >> 10)),
                      static_cast<unsigned>(0xDC00 + (cp & 0x3FF)));
      }
      out += buf;
      i += seq.length;
      run = i;
      continue;
    }
    out.append(s, run, i - run);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '/': out += "\\/"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        std::snprintf(buf, sizeof buf, "\\u%4.4x", c);
        out += buf;
    }
    ++i;
    run = i;
  }
  out.append(s, run, n - run);
  if (quotes) out += '"';
  return true;
}

// A double below 10^7 that is a whole number of 1/1024ths has an exact decimal form of at most 17
// significant digits, no exponent and no rounding: exactly what "%.17g" prints for it, with
// trailing zeros dropped. Answers are full of such numbers (12, 0.5, 99.75).
bool Encoder::shortExactDouble(double d) {
  const double scaled = d * 1024.0;
  if (!(std::fabs(d) < 1e7) || scaled != std::trunc(scaled)) return false;
  if (d == 0) {
    out += std::signbit(d) ? "-0" : "0";
    return true;
  }
  const long long whole = static_cast<long long>(scaled);
  const unsigned long long magnitude = static_cast<unsigned long long>(whole < 0 ? -whole : whole);
  char buf[32];
  char* p = buf;
  if (whole < 0) *p++ = '-';
  p = std::to_chars(p, buf + sizeof buf, magnitude >> 10).ptr;
  if (unsigned fraction = magnitude & 1023u) {
    *p++ = '.';
    while (fraction) {
      fraction *= 10;
      *p++ = static_cast<char>('0' + (fraction >> 10));
      fraction &= 1023u;
    }
  }
  out.append(buf, p);
  return true;
}

bool Encoder::number(const os::Value& v) {
  const char code = v.typeCode();
  char buf[128];
  std::to_chars_result r{};
  switch (code) {
    case 'c': case 'i': case 's': case 'l': case 'q':
      r = std::to_chars(buf, buf + sizeof buf, v.intValue());
      break;
    case 'C': case 'I': case 'S': case 'L': case 'Q': case 'B':
      r = std::to_chars(buf, buf + sizeof buf, v.unsignedValue());
      break;
    case 'f': case 'd': {
      const double d = v.doubleValue();
      if (!std::isfinite(d)) return fail("Floating point values must be finite.  JSON does not support NaN or Infinity.");
      if (shortExactDouble(d)) return true;
      // The text of "%.17g", without the cost of printf.
      r = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::general, 17);
      break;
    }
    default:
      std::snprintf(buf, sizeof buf, "NSNumber conversion error, unknown type.  Type: '%c' / 0x%2.2x", code ? code : '?',
                    static_cast<unsigned char>(code));
      return fail(buf);
  }
  out.append(buf, r.ptr);
  return true;
}

bool Encoder::encodeKnown(const os::Value& v, std::size_t depth) {
  switch (v.type()) {
    case os::Value::Type::Null: out += "null"; return true;
    case os::Value::Type::Boolean: out += v.boolValue() ? "true" : "false"; return true;
    case os::Value::Type::Number: return number(v);
    case os::Value::Type::String: return string(*v.string(), !(encodeOption_ & JTEncodeStringObjectTrimQuotes) || depth > 0);
    case os::Value::Type::Array: {
      if (depth >= profile_.maximumDepth) return fail("Arrays and objects are nested too deeply to write.");
      open('[');
      bool first = true;
      for (const os::Value& e : *v.array()) {
        if (!first) comma();
        first = false;
        if (!encode(e, depth + 1)) return false;
      }
      close(']');
      return true;
    }
    case os::Value::Type::Dictionary: {
      if (depth >= profile_.maximumDepth) return fail("Arrays and objects are nested too deeply to write.");
      const os::Dictionary& d = *v.dictionary();
      auto member = [&](const os::Dictionary::Entry& m) {
        if (!string(m.first, true)) return false;
        out += (options_ & JTSerializePretty) ? ": " : ":";
        return encode(m.second, depth + 1);
      };
      open('{');
      bool first = true;
      if (options_ & JTSerializePretty) {
        std::vector<const os::Dictionary::Entry*> members;
        members.reserve(d.size());
        for (const auto& e : d) members.push_back(&e);
        std::sort(members.begin(), members.end(), [](auto* a, auto* b) { return a->first < b->first; });
        for (const auto* m : members) {
          if (!first) comma();
          first = false;
          if (!member(*m)) return false;
        }
      } else {
        for (const auto& m : d) {
          if (!first) comma();
          first = false;
          if (!member(m)) return false;
        }
      }
      close('}');
      return true;
    }
    default: return false;
  }
}

bool Encoder::encode(const os::Value& v, std::size_t depth) {
  if (isSerializable(v)) return encodeKnown(v, depth);
  if (!block_) return fail(std::string("Unable to serialize object class ") + className(&v) + ".");
  std::optional<os::Value> replacement = block_(v);
  if (!replacement || !isSerializable(*replacement))
    return fail(std::string("Unable to serialize object class ") + className(replacement ? &*replacement : nullptr) +
                " that was returned by the unsupported class formatter.  Original object class was " + className(&v) + ".");
  return encodeKnown(*replacement, depth);
}

}  // namespace

std::optional<os::Value> JTSerializer::serializeObject(const os::Value& object, unsigned options, unsigned encodeOption,
                                                       const UnsupportedClassBlock& block, os::Error* error,
                                                       const JSONCodecProfile& profile) {
  if (error) *error = os::Error();
  Encoder enc(options, encodeOption, block, profile);
  if ((encodeOption & JTEncodeCollectionObject) && !object.isArray() && !object.isDictionary()) {
    enc.fail(std::string("Unable to serialize object class ") + className(&object) + ", expected a NSArray or NSDictionary.");
  } else if ((encodeOption & JTEncodeStringObject) && !object.isString()) {
    enc.fail(std::string("Unable to serialize object class ") + className(&object) + ", expected a NSString.");
  } else if (enc.encode(object, 0)) {
    switch (encodeOption & 7) {
      case JTEncodeAsData: return os::Value(os::dataFromString(enc.out));
      case JTEncodeAsString: return os::Value(std::move(enc.out));
      default: enc.fail("Unknown encode as type.");
    }
  }
  if (error && enc.error_) *error = *enc.error_;
  return std::nullopt;
}
