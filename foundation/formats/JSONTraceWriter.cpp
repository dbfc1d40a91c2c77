#include "foundation/formats/JSONTraceWriter.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <vector>

#include "os/core/String.h"

namespace {

constexpr std::array<bool, 256> kEscapeSet = [] {
  std::array<bool, 256> t{};
  for (int b = 0; b < 0x20; ++b) t[b] = true;
  t['"'] = true;
  t['\\'] = true;
  return t;
}();

// The first UTF-16 unit of a code point: what decides the platform's order of two strings at
// the first code point where they differ.
char32_t firstUTF16Unit(char32_t cp) { return cp >= 0x10000 ? 0xD800 + ((cp - 0x10000) >> 10) : cp; }

bool utf16Less(const std::string& a, const std::string& b) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (a[i] == b[j] && static_cast<unsigned char>(a[i]) < 0x80) {
      ++i;
      ++j;
      continue;
    }
    std::size_t la = 0, lb = 0;
    const char32_t ca = os::decodeUTF8At(a, i, &la), cb = os::decodeUTF8At(b, j, &lb);
    if (ca != cb) {
      const char32_t ua = firstUTF16Unit(ca), ub = firstUTF16Unit(cb);
      return ua != ub ? ua < ub : ca < cb;
    }
    i += la;
    j += lb;
  }
  return a.size() - i < b.size() - j;
}

}  // namespace

std::optional<std::string> JSONTraceWriter::stringWithObject(const os::Value& value) {
  if (value.isArray() || value.isDictionary()) return stringWithFragment(value);
  clearErrorTrace();
  addErrorWithCode(kJSONTraceNotContainer, "Not valid type for JSON");
  return std::nullopt;
}

std::optional<std::string> JSONTraceWriter::stringWithFragment(const os::Value& value) {
  clearErrorTrace();
  depth_ = 0;
  std::string out;
  out.reserve(128);
  if (!appendValue(value, out)) return std::nullopt;
  return out;
}

bool JSONTraceWriter::appendValue(const os::Value& value, std::string& into) {
  switch (value.type()) {
    case os::Value::Type::Dictionary: return appendDictionary(*value.dictionary(), into);
    case os::Value::Type::Array: return appendArray(*value.array(), into);
    case os::Value::Type::String: appendString(*value.string(), into); return true;
    case os::Value::Type::Boolean: into += value.boolValue() ? "true" : "false"; return true;
    case os::Value::Type::Number: {
      if (value.typeCode() == 'c') {
        into += value.boolValue() ? "true" : "false";
        return true;
      }
      char buf[32];
      std::to_chars_result r;
      if (value.isFloatingPoint()) {
        const double d = value.doubleValue();
        // "inf" or "nan" would make text no JSON reader takes back.
        if (!std::isfinite(d)) break;
        r = std::to_chars(buf, buf + sizeof buf, d);
      } else if (value.isUnsigned()) {
        r = std::to_chars(buf, buf + sizeof buf, value.unsignedValue());
      } else {
        r = std::to_chars(buf, buf + sizeof buf, value.intValue());
      }
      into.append(buf, r.ptr);
      return true;
    }
    case os::Value::Type::Null: into += "null"; return true;
    default: break;
  }
  addErrorWithCode(kJSONTraceUnsupported,
                   std::string("JSON serialisation not supported for ") + os::typeName(value.type()));
  return false;
}

bool JSONTraceWriter::appendArray(const os::Array& array, std::string& into) {
  if (!enterLevel()) return false;
  into += '[';
  const bool human = humanReadable();
  bool first = true;
  for (const os::Value& element : array) {
    if (!first) into += ',';
    first = false;
    if (human) indent(into);
    if (!appendValue(element, into)) return false;
  }
  leaveLevel();
  if (human && !array.empty()) indent(into);
  into += ']';
  return true;
}

bool JSONTraceWriter::appendDictionary(const os::Dictionary& dictionary, std::string& into) {
  if (!enterLevel()) return false;
  into += '{';
  const bool human = humanReadable();
  const char* separator = human ? " : " : ":";
  bool first = true;
  auto append = [&](const os::Dictionary::Entry& member) {
    if (!first) into += ',';
    first = false;
    if (human) indent(into);
    appendString(member.first, into);
    into += separator;
    if (appendValue(member.second, into)) return true;
    addErrorWithCode(kJSONTraceUnsupported, "Unsupported value for key " + member.first + " in object");
    return false;
  };
  if (sortKeys()) {
    std::vector<const os::Dictionary::Entry*> members;
    members.reserve(dictionary.size());
    for (const auto& entry : dictionary) members.push_back(&entry);
    std::stable_sort(members.begin(), members.end(),
                     [](const auto* a, const auto* b) { return utf16Less(a->first, b->first); });
    for (const auto* member : members)
      if (!append(*member)) return false;
  } else {
    // The dictionary's own order needs no list of its members.
    for (const auto& member : dictionary)
      if (!append(member)) return false;
  }
  leaveLevel();
  if (human && !dictionary.empty()) indent(into);
  into += '}';
  return true;
}

void JSONTraceWriter::appendString(const std::string& string, std::string& into) {
  into += '"';
  const auto needsEscape = [](char ch) { return kEscapeSet[static_cast<unsigned char>(ch)]; };
  if (std::none_of(string.begin(), string.end(), needsEscape)) {
    into += string;
  } else {
    for (const char ch : string) {
      switch (ch) {
        case '"': into += "\\\""; break;
        case '\\': into += "\\\\"; break;
        case '\b': into += "\\b"; break;
        case '\t': into += "\\t"; break;
        case '\n': into += "\\n"; break;
        case '\f': into += "\\f"; break;
        case '\r': into += "\\r"; break;
        default:
          if (needsEscape(ch)) {
            into += os::format("\\u%04x", static_cast<unsigned>(static_cast<unsigned char>(ch)));
          } else {
            into += ch;
          }
      }
    }
  }
  into += '"';
}

void JSONTraceWriter::indent(std::string& into) const {
  into += '\n';
  into.append(2 * static_cast<std::size_t>(depth_), ' ');
}
