#include "os/store/XMLPropertyList.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string_view>
#include <utility>
#include <vector>

#include "os/core/Date.h"
#include "os/core/String.h"
#include "os/store/PropertyList.h"

namespace os {

namespace {

constexpr std::uint64_t kLargestSigned = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());

constexpr auto kSecondsFrom1970To2001 = static_cast<std::int64_t>(Date::kSecondsFrom1970To2001);
// XML dates written or read: whole seconds since 2001 within this of it (about 146 billion years).
// The writer and the reader hold this one bound, so every date written reads back.
constexpr std::int64_t kXMLDateRange = std::int64_t{1} << 62;
constexpr std::int64_t kSecondsPerDay = 86400;

bool isXMLSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

std::string_view trimmed(std::string_view t) {
  while (!t.empty() && isXMLSpace(t.front())) t.remove_prefix(1);
  while (!t.empty() && isXMLSpace(t.back())) t.remove_suffix(1);
  return t;
}

// A date's whole seconds as an XML list writes them: "2100-01-01T00:00:00Z"; a year before 0 or
// after 9999 in the expanded form, signed ("-0001", "+10000"). Nothing for seconds out of range.
std::optional<std::string> formatXMLDate(double sinceReference) {
  const double whole = std::floor(sinceReference);
  if (!(std::fabs(whole) <= static_cast<double>(kXMLDateRange))) return std::nullopt;
  const std::int64_t s = static_cast<std::int64_t>(whole) + kSecondsFrom1970To2001;
  const std::int64_t days = floorDivide(s, kSecondsPerDay);
  const std::int64_t rest = s - days * kSecondsPerDay;
  const auto [y, m, d] = civilFromDays(days);
  const long long year = y;
  std::string yearText = year < 0 ? format("-%04lld", -year) : year > 9999 ? format("+%lld", year) : format("%04lld", year);
  return yearText + format("-%02u-%02uT%02d:%02d:%02dZ", m, d, static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60),
                           static_cast<int>(rest % 60));
}

// The seconds since 2001 of an XML date: [±]YYYY-MM-DD, then THH:MM[:SS[.fraction]] and a zone (Z
// or ±HH[:MM], none meaning UTC), around spaces; nothing when it is none.
std::optional<double> parseXMLDate(std::string_view t) {
  t = trimmed(t);
  std::size_t at = 0;
  auto digits = [&](std::size_t least, std::size_t most, std::int64_t& out) {
    std::size_t n = 0;
    out = 0;
    while (at < t.size() && n < most && t[at] >= '0' && t[at] <= '9') out = out * 10 + (t[at++] - '0'), ++n;
    return n >= least;
  };
  auto take = [&](char c) { return at < t.size() && t[at] == c ? (++at, true) : false; };
  bool negative = false;
  if (take('-')) negative = true;
  else take('+');
  std::int64_t y, mo, d, h = 0, mi = 0, sec = 0;
  if (!digits(4, 12, y) || !take('-') || !digits(2, 2, mo) || !take('-') || !digits(2, 2, d)) return std::nullopt;
  if (negative) y = -y;
  if (mo < 1 || mo > 12 || d < 1 || d > daysInMonth(y, static_cast<unsigned>(mo))) return std::nullopt;
  double fraction = 0;
  if (take('T') || take('t')) {
    if (!digits(2, 2, h) || !take(':') || !digits(2, 2, mi)) return std::nullopt;
    if (take(':')) {
      if (!digits(2, 2, sec)) return std::nullopt;
      if (take('.') || take(',')) {
        double scale = 0.1;
        std::size_t first = at;
        for (; at < t.size() && t[at] >= '0' && t[at] <= '9'; ++at, scale /= 10) fraction += (t[at] - '0') * scale;
        if (at == first) return std::nullopt;
      }
    }
    if (h > 23 || mi > 59 || sec > 60) return std::nullopt;
  }
  std::int64_t offset = 0;
  if (!take('Z') && !take('z') && at < t.size()) {
    const bool ahead = t[at] == '+';
    if (!take('+') && !take('-')) return std::nullopt;
    std::int64_t oh, om = 0;
    if (!digits(2, 2, oh)) return std::nullopt;
    if (take(':') ? !digits(2, 2, om) : at < t.size() && !digits(2, 2, om)) return std::nullopt;
    if (oh > 23 || om > 59) return std::nullopt;
    offset = (oh * 3600 + om * 60) * (ahead ? 1 : -1);
  }
  if (at != t.size()) return std::nullopt;
  const std::int64_t days = daysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d));
  // Days far beyond the bound first (by thousands of years), so that the seconds cannot overflow;
  // then the bound itself, on the whole seconds since 2001 as the writer holds it.
  constexpr std::int64_t kDaysBeyond = kXMLDateRange / kSecondsPerDay + 1000000;
  if (days > kDaysBeyond || days < -kDaysBeyond) return std::nullopt;
  const std::int64_t whole = days * kSecondsPerDay + h * 3600 + mi * 60 + sec - offset - kSecondsFrom1970To2001;
  if (whole > kXMLDateRange || whole < -kXMLDateRange) return std::nullopt;
  return static_cast<double>(whole) + fraction;
}

// ---- Writing ----

class Writer {
 public:
  Writer(bool uids, std::string& why) : uids_(uids), why_(why) {}

  bool add(const Value& v, int depth) {
    if (depth > kPropertyListMaxDepth) return fail("value nested too deeply");
    switch (v.type()) {
      case Value::Type::Null: return fail("a property list cannot hold null");
      case Value::Type::Boolean:
        line(depth, v.boolValue() ? "<true/>" : "<false/>");
        return true;
      case Value::Type::Number:
        if (v.isFloatingPoint()) return element(depth, "real", real(v.doubleValue()));
        if (v.isUnsigned() && v.unsignedValue() > kLargestSigned) return element(depth, "integer", std::to_string(v.unsignedValue()));
        return element(depth, "integer", std::to_string(v.intValue()));
      case Value::Type::String:
        if (!isText(*v.string())) return fail(v.string()->find('\0') != std::string::npos
                                                  ? "a property list string cannot hold a NUL character"
                                                  : "a property list string must be valid UTF-8");
        indent(depth);
        out_ += "<string>";
        if (!escaped(*v.string(), "string")) return false;
        out_ += "</string>\n";
        return true;
      case Value::Type::Data:
        data(*v.data(), depth);
        return true;
      case Value::Type::Date: {
        auto text = formatXMLDate(v.date()->timeIntervalSinceReferenceDate());
        if (!text) return fail("date out of the range an XML property list can hold");
        return element(depth, "date", *text);
      }
      case Value::Type::Array:
      case Value::Type::Set: {
        const Array& items = v.isArray() ? *v.array() : *v.setMembers();
        if (items.empty()) {
          line(depth, "<array/>");
          return true;
        }
        line(depth, "<array>");
        for (const Value& item : items)
          if (!add(item, depth + 1)) return false;
        line(depth, "</array>");
        return true;
      }
      case Value::Type::Dictionary: {
        if (uids_)
          if (auto index = uidIndex(v)) {
            if (*index > kPropertyListMaxUID)
              return fail("keyed-archive reference past " + std::to_string(kPropertyListMaxUID) + ", which no reader takes");
            // Its text is a dictionary holding the integer, and is read as one.
            if (depth + 1 > kPropertyListMaxDepth) return fail("value nested too deeply");
            line(depth, "<dict>");
            line(depth + 1, std::string("<key>") + kPropertyListUIDKey + "</key>");
            element(depth + 1, "integer", std::to_string(*index));
            line(depth, "</dict>");
            return true;
          }
        const Dictionary& entries = *v.dictionary();
        if (entries.empty()) {
          line(depth, "<dict/>");
          return true;
        }
        line(depth, "<dict>");
        for (const auto& [key, item] : entries) {
          if (!isText(key)) return fail("a property list key must be valid UTF-8 without a NUL character");
          indent(depth + 1);
          out_ += "<key>";
          if (!escaped(key, "key")) return false;
          out_ += "</key>\n";
          if (!add(item, depth + 1)) return false;
        }
        line(depth, "</dict>");
        return true;
      }
    }
    return fail("unsupported value");
  }

  std::string& text() { return out_; }

 private:
  static bool isText(const std::string& s) { return s.find('\0') == std::string::npos && isValidUTF8(s); }

  bool fail(std::string what) {
    why_ = std::move(what);
    return false;
  }

  void indent(int depth) { out_.append(static_cast<std::size_t>(depth), '\t'); }

  void line(int depth, std::string_view text) {
    indent(depth);
    out_ += text;
    out_ += '\n';
  }

  bool element(int depth, std::string_view name, std::string_view text) {
    indent(depth);
    out_ += '<';
    out_ += name;
    out_ += '>';
    out_ += text;
    out_ += "</";
    out_ += name;
    out_ += ">\n";
    return true;
  }

  // Text of valid UTF-8, escaped. A carriage return goes as a reference: written as it stands, a
  // reader takes it (and a line feed after it) for a line feed. A character XML 1.0 has no way to
  // carry, not even as a reference (the controls other than tab, line feed and carriage return,
  // U+FFFE and U+FFFF), fails the write: any reader would refuse the whole list.
  bool escaped(std::string_view s, const char* what) {
    std::size_t from = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
      const auto c = static_cast<unsigned char>(s[i]);
      const char* entity = c == '<'    ? "&lt;"
                           : c == '>'  ? "&gt;"
                           : c == '&'  ? "&amp;"
                           : c == '\r' ? "&#13;"
                                        : nullptr;
      if (!entity) {
        // U+FFFE and U+FFFF are EF BF BE and EF BF BF.
        const bool nonCharacter = c == 0xEF && i + 2 < s.size() && static_cast<unsigned char>(s[i + 1]) == 0xBF &&
                                  (static_cast<unsigned char>(s[i + 2]) & 0xFE) == 0xBE;
        if ((c < 0x20 && c != '\t' && c != '\n') || nonCharacter) {
          const unsigned code = nonCharacter ? 0xFFFEu | (static_cast<unsigned char>(s[i + 2]) & 1u) : c;
          return fail(format("a property list %s cannot hold U+%04X, which XML cannot carry", what, code));
        }
        continue;
      }
      out_.append(s, from, i - from);
      out_ += entity;
      from = i + 1;
    }
    out_.append(s, from);
    return true;
  }

  static std::string real(double d) {
    if (std::isnan(d)) return "nan";
    if (std::isinf(d)) return d > 0 ? "+infinity" : "-infinity";
    if (d == 0) return "0.0";
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::general, 17);
    return std::string(buf, end);
  }

  // Base64 lines, each after as many tabs as the element's (at most 8) and as much shorter.
  void data(const Data& d, int depth) {
    line(depth, "<data>");
    const std::string text = base64Encoded(std::string_view(reinterpret_cast<const char*>(d.data()), d.size()));
    const std::size_t tabs = static_cast<std::size_t>(std::min(depth, 8));
    const std::size_t width = 76 - 8 * tabs;
    out_.reserve(out_.size() + text.size() + (text.size() / width + 1) * (tabs + 1));
    for (std::size_t at = 0; at < text.size(); at += width) {
      out_.append(tabs, '\t');
      out_.append(text, at, width);
      out_ += '\n';
    }
    line(depth, "</data>");
  }

  bool uids_;
  std::string& why_;
  std::string out_;
};

// ---- Reading ----

// An integer's text: around spaces, a sign, then decimal digits or "0x" and hex digits, nothing
// else. Past 2^63 - 1 it reads unsigned; past the integers a list holds, or of another form, it
// is refused with the reason.
std::optional<Value> parseXMLInteger(std::string_view t, std::string& why) {
  t = trimmed(t);
  const bool negative = !t.empty() && t.front() == '-';
  if (!t.empty() && (t.front() == '-' || t.front() == '+')) t.remove_prefix(1);
  unsigned base = 10;
  if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
    base = 16;
    t.remove_prefix(2);
  }
  if (t.empty()) return why = "malformed integer in XML property list", std::nullopt;
  std::uint64_t magnitude = 0;
  bool overflow = false;
  for (char c : t) {
    unsigned digit = c >= '0' && c <= '9' ? static_cast<unsigned>(c - '0')
                     : base == 16 && c >= 'a' && c <= 'f' ? static_cast<unsigned>(c - 'a' + 10)
                     : base == 16 && c >= 'A' && c <= 'F' ? static_cast<unsigned>(c - 'A' + 10)
                                                          : 99u;
    if (digit >= base) return why = "malformed integer in XML property list", std::nullopt;
    if (magnitude > (std::numeric_limits<std::uint64_t>::max() - digit) / base) overflow = true;
    magnitude = magnitude * base + digit;
  }
  if (overflow || (negative && magnitude > kLargestSigned + 1))
    return why = "integer out of the range a property list holds", std::nullopt;
  if (!negative && magnitude > kLargestSigned) return Value::unsignedNumber('Q', magnitude);
  return Value::number('q', negative ? static_cast<long long>(~magnitude + 1) : static_cast<long long>(magnitude));
}

// A real's text: around spaces, a decimal or exponent form, or "nan", "inf" or "infinity" with a
// sign; nothing else.
std::optional<double> parseXMLReal(std::string_view t) {
  t = trimmed(t);
  const bool plus = !t.empty() && t.front() == '+';
  if (plus) t.remove_prefix(1);
  if (t.empty() || (plus && t.front() == '-')) return std::nullopt;
  double d = 0;
  auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), d, std::chars_format::general);
  if (ec != std::errc() || end != t.data() + t.size()) return std::nullopt;
  return d;
}

class Reader {
 public:
  Reader(const char* p, const char* end, std::uint64_t maxNodes, std::string& why)
      : p_(p), end_(end), maxNodes_(maxNodes), nodesLeft_(maxNodes), why_(why) {}

  std::optional<Value> document() {
    if (end_ - p_ >= 3 && std::memcmp(p_, "\xEF\xBB\xBF", 3) == 0) p_ += 3;
    Tag tag;
    if (!skipMarkup() || !next(tag)) return std::nullopt;
    std::optional<Value> value;
    if (tag.name == "plist" && !tag.closing) {
      Tag inner;
      if (tag.empty || !skipMarkup() || !next(inner)) return refuse("no value in the property list");
      if (!(value = read(inner, 0))) return std::nullopt;
      Tag close;
      if (!skipMarkup() || !next(close) || !close.closing || close.name != "plist")
        return refuse("property list holds more than one value");
    } else if (!(value = read(tag, 0))) {
      return std::nullopt;
    }
    if (!skipMarkup()) return std::nullopt;
    if (p_ != end_) return refuse("text after the property list");
    return value;
  }

 private:
  struct Tag {
    std::string_view name;
    bool closing = false;
    bool empty = false;  // <name/>
  };

  std::nullopt_t refuse(std::string what) {
    if (why_.empty()) why_ = std::move(what);
    return std::nullopt;
  }
  bool fail(std::string what) {
    refuse(std::move(what));
    return false;
  }

  bool startsWith(std::string_view s) const {
    return static_cast<std::size_t>(end_ - p_) >= s.size() && std::memcmp(p_, s.data(), s.size()) == 0;
  }

  // Moves past `token`, searched from p_; false at the end without it.
  bool skipPast(std::string_view token) {
    std::string_view rest(p_, static_cast<std::size_t>(end_ - p_));
    const std::size_t at = rest.find(token);
    if (at == std::string_view::npos) return fail("unterminated markup in XML property list");
    p_ += at + token.size();
    return true;
  }

  // Whether `c` stands within quotes or opens or closes them, `quote` holding the open quote (0
  // outside): markup inside quoted text is text.
  static bool quoted(char c, char& quote) {
    if (quote) {
      if (c == quote) quote = 0;
      return true;
    }
    if (c != '"' && c != '\'') return false;
    quote = c;
    return true;
  }

  // Past a comment, processing instruction or document type at p_ ('<' then '!' or '?'): its
  // kind's end, a document type's internal subset and quoted texts included.
  bool skipDeclaration() {
    if (startsWith("<!--")) return skipPast("-->");
    if (startsWith("<?")) return skipPast("?>");
    if (!startsWith("<!DOCTYPE")) return fail("unexpected declaration in XML property list");
    char quote = 0;
    bool subset = false;
    for (p_ += 9; p_ < end_; ++p_) {
      const char c = *p_;
      if (quoted(c, quote)) continue;
      if (c == '[') {
        subset = true;
      } else if (c == ']') {
        subset = false;
      } else if (c == '>' && !subset) {
        ++p_;
        return true;
      }
    }
    return fail("unterminated document type in XML property list");
  }

  // Past white space, comments, processing instructions and document types.
  bool skipMarkup() {
    for (;;) {
      while (p_ < end_ && isXMLSpace(*p_)) ++p_;
      if (p_ + 1 < end_ && p_[0] == '<' && (p_[1] == '!' || p_[1] == '?') && !startsWith("<![CDATA[")) {
        if (!skipDeclaration()) return false;
        continue;
      }
      return true;
    }
  }

  // The element tag at p_, and past it; false when p_ holds anything else.
  bool next(Tag& tag) {
    if (p_ >= end_ || *p_ != '<') return fail(p_ >= end_ ? "property list ends early" : "text where an element belongs");
    ++p_;
    tag = Tag{};
    if (p_ < end_ && *p_ == '/') {
      tag.closing = true;
      ++p_;
    }
    const char* name = p_;
    while (p_ < end_ && !isXMLSpace(*p_) && *p_ != '/' && *p_ != '>') ++p_;
    tag.name = std::string_view(name, static_cast<std::size_t>(p_ - name));
    if (tag.name.empty()) return fail("malformed tag in XML property list");
    // Attributes are passed over, a '>' inside quotes included.
    char quote = 0;
    for (; p_ < end_; ++p_) {
      const char c = *p_;
      if (quoted(c, quote)) continue;
      if (c == '>') {
        tag.empty = p_[-1] == '/';
        ++p_;
        if (tag.closing && tag.empty) return fail("malformed tag in XML property list");
        return true;
      } else if (c == '<') {
        break;
      }
    }
    return fail("malformed tag in XML property list");
  }

  // The text of the element `name` whose start tag was just read, up to and past its end tag:
  // character data, CDATA sections and references; comments and processing instructions left
  // out. Another element inside is refused.
  bool text(std::string_view name, std::string& out) {
    out.clear();
    for (;;) {
      const char* stop = p_;
      while (stop < end_ && *stop != '<' && *stop != '&') ++stop;
      appendLines(out, p_, stop);
      p_ = stop;
      if (p_ >= end_) return fail("property list ends early");
      if (*p_ == '&') {
        if (!reference(out)) return false;
        continue;
      }
      if (startsWith("<![CDATA[")) {
        const char* from = p_ + 9;
        p_ = from;
        if (!skipPast("]]>")) return false;
        appendLines(out, from, p_ - 3);
        continue;
      }
      if (startsWith("<!--") || startsWith("<?")) {
        if (!skipDeclaration()) return false;
        continue;
      }
      Tag close;
      if (!next(close)) return false;
      if (!close.closing || close.name != name) return fail("element inside the text of <" + std::string(name) + ">");
      return true;
    }
  }

  // Text as written, its line ends as XML reads them: a carriage return, alone or before a line
  // feed, is one line feed. A carriage return given as a reference stays one.
  static void appendLines(std::string& out, const char* from, const char* to) {
    for (;;) {
      const auto* cr = static_cast<const char*>(std::memchr(from, '\r', static_cast<std::size_t>(to - from)));
      if (!cr) {
        out.append(from, to);
        return;
      }
      out.append(from, cr);
      out += '\n';
      from = cr + 1;
      if (from < to && *from == '\n') ++from;
    }
  }

  // The reference at p_ ('&'), decoded into out.
  bool reference(std::string& out) {
    const char* semi = static_cast<const char*>(std::memchr(p_, ';', static_cast<std::size_t>(std::min<std::ptrdiff_t>(end_ - p_, 16))));
    if (!semi) return fail("malformed reference in XML property list");
    const std::string_view name(p_ + 1, static_cast<std::size_t>(semi - p_ - 1));
    p_ = semi + 1;
    if (name == "lt") out += '<';
    else if (name == "gt") out += '>';
    else if (name == "amp") out += '&';
    else if (name == "quot") out += '"';
    else if (name == "apos") out += '\'';
    else if (name.size() >= 2 && name[0] == '#') {
      const bool hex = name[1] == 'x';
      std::string_view digits = name.substr(hex ? 2 : 1);
      std::uint32_t c = 0;
      auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), c, hex ? 16 : 10);
      if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size() || c > 0x10FFFF ||
          (c >= 0xD800 && c <= 0xDFFF))
        return fail("malformed reference in XML property list");
      // A NUL could never be written back.
      if (c == 0) return fail("NUL character in XML property list");
      appendUTF8(out, c);
    } else {
      return fail("unknown entity in XML property list");
    }
    return true;
  }

  // The text of a leaf element: empty when written as <name/>.
  bool leafText(const Tag& tag, std::string& out) {
    if (tag.empty) {
      out.clear();
      return true;
    }
    return text(tag.name, out);
  }

  std::optional<Value> read(const Tag& tag, int depth) {
    if (depth > kPropertyListMaxDepth) return refuse("property list nested too deeply");
    if (tag.closing) return refuse("unexpected end tag in XML property list");
    if (nodesLeft_ == 0) return refuse("property list holds more than the " + std::to_string(maxNodes_) + " nodes allowed");
    --nodesLeft_;
    const std::string_view name = tag.name;
    if (name == "dict") return dictionary(tag, depth);
    if (name == "array") return array(tag, depth);
    std::string t;
    if (name == "string") {
      if (!leafText(tag, t)) return std::nullopt;
      if (!isValidUTF8(t)) return refuse("property list string is not valid text");
      return Value(std::move(t));
    }
    if (name == "integer") {
      if (!leafText(tag, t)) return std::nullopt;
      return parseXMLInteger(t, why_);
    }
    if (name == "real") {
      if (!leafText(tag, t)) return std::nullopt;
      auto d = parseXMLReal(t);
      if (!d) return refuse("malformed real in XML property list");
      return Value(*d);
    }
    if (name == "true" || name == "false") {
      if (!leafText(tag, t)) return std::nullopt;
      if (!trimmed(t).empty()) return refuse("malformed boolean in XML property list");
      return Value(name == "true");
    }
    if (name == "date") {
      // An empty date names no date, as an empty text does.
      if (!leafText(tag, t)) return std::nullopt;
      auto seconds = parseXMLDate(t);
      if (!seconds) return refuse("malformed date in XML property list");
      return Value(Date::fromTimeIntervalSinceReferenceDate(*seconds));
    }
    if (name == "data") {
      if (!leafText(tag, t)) return std::nullopt;
      auto d = base64Decoded(t, Base64Reading::Strict);
      if (!d) return refuse("malformed data in XML property list");
      return Value(std::move(*d));
    }
    return refuse("unsupported property list element <" + std::string(name) + ">");
  }

  // The next member's tag, or its container's end tag (`closing` then).
  bool member(std::string_view container, Tag& tag) {
    if (!skipMarkup() || !next(tag)) return false;
    if (tag.closing && tag.name != container) return fail("mismatched end tag in XML property list");
    return true;
  }

  std::optional<Value> array(const Tag& tag, int depth) {
    Array items;
    if (tag.empty) return Value(std::move(items));
    for (Tag item; member("array", item) && !item.closing;) {
      auto v = read(item, depth + 1);
      if (!v) return std::nullopt;
      items.push_back(std::move(*v));
    }
    if (!why_.empty()) return std::nullopt;
    return Value(std::move(items));
  }

  // The entries are gathered and handed over at once: a later key equal to an earlier one
  // replaces its value in place.
  std::optional<Value> dictionary(const Tag& tag, int depth) {
    std::vector<std::pair<std::string, Value>> entries;
    if (tag.empty) return Value::dictionaryMovingFrom(std::move(entries));
    for (Tag key; member("dict", key) && !key.closing;) {
      if (key.name != "key") return refuse("a dictionary's member without its key");
      std::string k;
      if (!leafText(key, k)) return std::nullopt;
      if (!isValidUTF8(k)) return refuse("property list key is not valid text");
      Tag item;
      if (!member("dict", item)) return std::nullopt;
      if (item.closing) return refuse("a dictionary's key without its value");
      auto v = read(item, depth + 1);
      if (!v) return std::nullopt;
      entries.emplace_back(std::move(k), std::move(*v));
    }
    if (!why_.empty()) return std::nullopt;
    return Value::dictionaryMovingFrom(std::move(entries));
  }

  const char* p_;
  const char* end_;
  // Values, keys aside, as a binary list's nodes count.
  std::uint64_t maxNodes_;
  std::uint64_t nodesLeft_;
  std::string& why_;
};

}  // namespace

std::optional<Data> XMLPropertyList::write(const Value& value, bool writeUIDs, std::string& why) {
  Writer writer(writeUIDs, why);
  std::string& out = writer.text();
  out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n";
  if (!writer.add(value, 0)) return std::nullopt;
  out += "</plist>\n";
  const auto* b = reinterpret_cast<const std::uint8_t*>(out.data());
  return Data(b, b + out.size());
}

std::optional<Value> XMLPropertyList::read(const Data& data, std::string& why, std::uint64_t maxNodes) {
  const char* p = reinterpret_cast<const char*>(data.data());
  if (std::memchr(p, 0, data.size())) return why = "NUL character in XML property list", std::nullopt;
  why.clear();
  auto value = Reader(p, p + data.size(), maxNodes, why).document();
  if (!value && why.empty()) why = "not a property list";
  return value;
}

}  // namespace os
