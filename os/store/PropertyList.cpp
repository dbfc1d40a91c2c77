#include "os/store/PropertyList.h"

#include <plist/plist.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "os/core/String.h"
#include "os/store/BinaryPropertyList.h"
#include "os/store/FileManager.h"

namespace os {

namespace {

constexpr char kBinaryMagic[] = "bplist00";

struct PlistDeleter {
  void operator()(plist_t p) const { plist_free(p); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

void fail(Error* error, long code, std::string what) {
  if (error) *error = Error::withDescription(kPropertyListErrorDomain, code, std::move(what));
}

std::uint64_t readBE(const std::uint8_t* p, unsigned n) {
  std::uint64_t v = 0;
  for (unsigned i = 0; i < n; ++i) v = (v << 8) | p[i];
  return v;
}

// The library holds a date as 32-bit seconds, while a binary list holds a 64-bit real and an XML
// list a date of any year: dates pass through it as stand-ins (each one's index in this table, as
// whole seconds since 2001) and the real seconds since 2001 are put in place around it, so every
// date is kept whole.
struct DateTable {
  std::vector<double> seconds;
  std::unordered_map<std::uint64_t, std::int32_t> indexOf;  // by the bits of the seconds
};

// Offsets of the objects of a binary list whose trailer and offset table hold (validated), and
// where its table starts.
std::vector<std::uint64_t> objectOffsets(const Data& d, std::uint64_t& tableOffset) {
  std::vector<std::uint64_t> out;
  if (d.size() < 8 + 32) return out;
  const std::uint8_t* t = d.data() + d.size() - 32;
  unsigned offsetSize = t[6];
  std::uint64_t count = readBE(t + 8, 8);
  tableOffset = readBE(t + 24, 8);
  if (offsetSize < 1 || offsetSize > 8 || tableOffset > d.size() - 32 ||
      count > (d.size() - 32 - tableOffset) / offsetSize)
    return out;
  out.reserve(count);
  for (std::uint64_t i = 0; i < count; ++i) out.push_back(readBE(d.data() + tableOffset + i * offsetSize, offsetSize));
  return out;
}

// Offsets of the date objects of such a list.
std::vector<std::uint64_t> dateObjects(const Data& d) {
  std::uint64_t tableOffset = 0;
  std::vector<std::uint64_t> out;
  for (std::uint64_t at : objectOffsets(d, tableOffset))
    if (at + 9 <= tableOffset && d[at] == 0x33) out.push_back(at);
  return out;
}

// The library hands out every integer as 64 bits, so an unsigned one past 2^63 - 1 looks like the
// negative number of the same bits. Each such integer goes through the library as a stand-in that
// no other integer of the list has (itself, unless a negative one has its bits) and is read back
// through this table.
struct UnsignedTable {
  std::unordered_map<std::uint64_t, std::uint64_t> valueOf;  // by stand-in

  // Stand-ins for `values` (each past 2^63 - 1), none of them among `taken` (the bits of every
  // other integer of the list): each value stands for itself unless taken, and those taken get
  // numbers that are neither taken nor among the values.
  std::vector<std::uint64_t> standInsFor(const std::vector<std::uint64_t>& values,
                                         const std::unordered_set<std::uint64_t>& taken) {
    std::vector<std::uint64_t> out;
    const std::unordered_set<std::uint64_t> own(values.begin(), values.end());
    std::uint64_t next = std::uint64_t{1} << 63;
    for (std::uint64_t v : values) {
      std::uint64_t standIn = v;
      if (taken.contains(v)) {
        while (taken.contains(next) || own.contains(next) || valueOf.contains(next)) ++next;
        standIn = next++;
      }
      valueOf.emplace(standIn, v);
      out.push_back(standIn);
    }
    return out;
  }
};

constexpr std::uint64_t kLargestSigned = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());

// Puts the unsigned integers of a binary list in the table, writing a stand-in into `copy` (made
// from `d` when first needed) where one differs. A 16-byte integer holds such a number when its
// upper half is zero; the reader has refused any whose upper half is not its sign.
void takeUnsigned(const Data& d, std::optional<Data>& copy, UnsignedTable& table) {
  std::uint64_t tableOffset = 0;
  std::vector<std::uint64_t> at, values;
  std::unordered_set<std::uint64_t> taken;
  for (std::uint64_t offset : objectOffsets(d, tableOffset)) {
    const unsigned marker = d[offset];
    if ((marker >> 4) != 0x1 || offset + 1 + (1u << (marker & 0x0F)) > tableOffset) continue;
    if ((marker & 0x0F) != 4) {
      taken.insert(readBE(d.data() + offset + 1, 1u << (marker & 0x0F)));
      continue;
    }
    const std::uint64_t lower = readBE(d.data() + offset + 9, 8);
    if (readBE(d.data() + offset + 1, 8) == 0 && lower > kLargestSigned) {
      at.push_back(offset);
      values.push_back(lower);
    } else {
      taken.insert(lower);
    }
  }
  if (at.empty()) return;
  const auto standIns = table.standInsFor(values, taken);
  for (std::size_t i = 0; i < at.size(); ++i) {
    if (standIns[i] == values[i]) continue;
    if (!copy) copy = d;
    for (int b = 0; b < 8; ++b) (*copy)[at[i] + 9 + b] = static_cast<std::uint8_t>(standIns[i] >> (56 - 8 * b));
  }
}

double readDouble(const std::uint8_t* p) { return std::bit_cast<double>(readBE(p, 8)); }

void writeDouble(std::uint8_t* p, double value) {
  auto bits = std::bit_cast<std::uint64_t>(value);
  for (int b = 0; b < 8; ++b) p[b] = static_cast<std::uint8_t>(bits >> (56 - 8 * b));
}

constexpr std::int64_t kSecondsFrom1970To2001 = 978307200;
// XML dates written or read: whole seconds since 2001 within this of it (about 146 billion years).
// The writer and the reader hold this one bound, so every date written reads back.
constexpr std::int64_t kXMLDateRange = std::int64_t{1} << 62;
constexpr std::int64_t kSecondsPerDay = 86400;

std::int64_t floorDiv(std::int64_t a, std::int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// Days since 1970-01-01 of a day of the proleptic Gregorian calendar (month 1-12), and back.
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = floorDiv(y, 400);
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void civilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const std::int64_t era = floorDiv(z, 146097);
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  d = static_cast<unsigned>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<unsigned>(mp < 10 ? mp + 3 : mp - 9);
  y = yoe + era * 400 + (m <= 2);
}

unsigned daysInMonth(std::int64_t y, unsigned m) {
  static constexpr unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return m == 2 && leap ? 29 : days[m - 1];
}

// A date's whole seconds as an XML list writes them: "2100-01-01T00:00:00Z"; a year before 0 or
// after 9999 in the expanded form, signed ("-0001", "+10000"). Nothing for seconds out of range.
std::optional<std::string> formatXMLDate(double sinceReference) {
  const double whole = std::floor(sinceReference);
  if (!(std::fabs(whole) <= static_cast<double>(kXMLDateRange))) return std::nullopt;
  const std::int64_t s = static_cast<std::int64_t>(whole) + kSecondsFrom1970To2001;
  const std::int64_t days = floorDiv(s, kSecondsPerDay);
  const std::int64_t rest = s - days * kSecondsPerDay;
  std::int64_t y;
  unsigned m, d;
  civilFromDays(days, y, m, d);
  const long long year = y;
  std::string yearText = year < 0 ? format("-%04lld", -year) : year > 9999 ? format("+%lld", year) : format("%04lld", year);
  return yearText + format("-%02u-%02uT%02d:%02d:%02dZ", m, d, static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60),
                           static_cast<int>(rest % 60));
}

// The seconds since 2001 of an XML date: [±]YYYY-MM-DD, then THH:MM[:SS[.fraction]] and a zone (Z
// or ±HH[:MM], none meaning UTC), around spaces; nothing when it is none.
std::optional<double> parseXMLDate(std::string_view t) {
  auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
  while (!t.empty() && isSpace(t.front())) t.remove_prefix(1);
  while (!t.empty() && isSpace(t.back())) t.remove_suffix(1);
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

// Walks an XML list's markup as the library reads it, past comments, CDATA sections, processing
// instructions and declarations: `character(p)` for each other character outside the tags, and
// `tag(name, closing, gt)` for each element tag (its name, whether it closes, past its '>').
// Either stops the walk by returning false; false then.
template <typename OnCharacter, typename OnTag>
bool walkXML(const char* p, const char* end, OnCharacter character, OnTag tag) {
  auto skipPast = [&](const char* from, const char* token) -> const char* {
    std::size_t n = std::strlen(token);
    for (const char* q = from; q + n <= end; ++q)
      if (std::memcmp(q, token, n) == 0) return q + n;
    return end;
  };
  while (p < end) {
    if (*p != '<') {
      if (!character(p)) return false;
      ++p;
      continue;
    }
    const char* q = p + 1;
    if (q < end && *q == '!') {
      if (end - q >= 3 && std::memcmp(q, "!--", 3) == 0) p = skipPast(q, "-->");
      else if (end - q >= 8 && std::memcmp(q, "![CDATA[", 8) == 0) p = skipPast(q, "]]>");
      else p = skipPast(q, ">");
      continue;
    }
    if (q < end && *q == '?') {
      p = skipPast(q, "?>");
      continue;
    }
    bool closing = q < end && *q == '/';
    if (closing) ++q;
    const char* gt = skipPast(q, ">");
    if (!tag(q, closing, gt)) return false;
    p = gt;
  }
  return true;
}

// Whether the tag whose name starts at q and that ends before gt closes itself ("<date/>").
bool selfClosing(const char* q, const char* gt) { return gt - 2 >= q && gt[-1] == '>' && gt[-2] == '/'; }

bool xmlNameIs(const char* q, const char* end, const char* name) {
  std::size_t n = std::strlen(name);
  return q + n <= end && std::memcmp(q, name, n) == 0 &&
         (q + n == end || q[n] == '>' || q[n] == '/' || q[n] == ' ' || q[n] == '\t' || q[n] == '\n' || q[n] == '\r');
}

// Checks the binary layout before the library sees it: the library trusts offsets less than it
// should, recurses once per nesting level and copies shared objects, so a deep chain or a lattice
// of shared arrays would exhaust the stack or the memory.
bool validateBinary(const Data& d, std::string& why, std::uint64_t maxNodes) {
  const std::size_t size = d.size();
  if (size < 8 + 1 + 32) return why = "binary property list is truncated", false;
  const std::uint8_t* t = d.data() + size - 32;
  unsigned offsetSize = t[6], refSize = t[7];
  std::uint64_t count = readBE(t + 8, 8), top = readBE(t + 16, 8), tableOffset = readBE(t + 24, 8);
  if (offsetSize < 1 || offsetSize > 8 || refSize < 1 || refSize > 8) return why = "bad trailer", false;
  const std::uint64_t tableLimit = size - 32;
  if (count == 0 || top >= count || tableOffset < 9 || tableOffset > tableLimit ||
      count > (tableLimit - tableOffset) / offsetSize)
    return why = "object table out of bounds", false;

  std::vector<std::uint64_t> offsets(count);
  for (std::uint64_t i = 0; i < count; ++i) {
    offsets[i] = readBE(d.data() + tableOffset + i * offsetSize, offsetSize);
    if (offsets[i] < 8 || offsets[i] >= tableOffset) return why = "object offset out of bounds", false;
  }

  // Every object must be one the reader knows, lie within bounds, and hold no NUL character in
  // text (the library asserts on that, which would abort the process).
  auto checkObject = [&](std::uint64_t pos) -> bool {
    std::uint8_t marker = d[pos];
    unsigned kind = marker >> 4, low = marker & 0x0F;
    ++pos;
    auto fits = [&](std::uint64_t n) { return n <= tableOffset - pos; };
    auto length = [&](std::uint64_t& n) -> bool {
      n = low;
      if (low != 0x0F) return true;
      if (pos >= tableOffset || (d[pos] >> 4) != 0x1) return false;
      unsigned bytes = 1u << (d[pos] & 0x0F);
      if (bytes > 8 || !fits(1 + bytes)) return false;
      n = readBE(d.data() + pos + 1, bytes);
      pos += 1 + bytes;
      return true;
    };
    std::uint64_t n = 0;
    switch (kind) {
      case 0x0: return marker == 0x08 || marker == 0x09;
      case 0x1: {
        if (low > 4 || !fits(1ull << low)) return false;
        if (low < 4) return true;
        // Sixteen bytes hold an integer of the range only with the upper half its sign: zero,
        // or all ones below a negative lower half.
        const std::uint64_t upper = readBE(d.data() + pos, 8), lower = readBE(d.data() + pos + 8, 8);
        return upper == 0 || (upper == ~std::uint64_t{0} && lower > kLargestSigned);
      }
      case 0x2: return (low == 2 || low == 3) && fits(1ull << low);
      case 0x3: return marker == 0x33 && fits(8);
      case 0x4: return length(n) && fits(n);
      case 0x5:
        if (!length(n) || !fits(n)) return false;
        for (std::uint64_t i = 0; i < n; ++i)
          if (d[pos + i] == 0) return false;
        return true;
      case 0x6: {
        if (!length(n) || n > tableOffset || !fits(n * 2)) return false;
        // No NUL, and surrogates only in pairs: the library turns an unpaired one into an
        // empty string without a word.
        bool wantLow = false;
        for (std::uint64_t i = 0; i < n; ++i) {
          unsigned unit = static_cast<unsigned>(d[pos + 2 * i]) << 8 | d[pos + 2 * i + 1];
          bool low = unit >= 0xDC00 && unit <= 0xDFFF;
          if (unit == 0 || wantLow != low) return false;
          wantLow = unit >= 0xD800 && unit <= 0xDBFF;
        }
        return !wantLow;
      }
      case 0x8: return low + 1 <= 4 && fits(low + 1);  // no reference past kPropertyListMaxUID
      case 0xA:
      case 0xC:
      case 0xD: return true;  // checked with their references below
      default: return false;
    }
  };
  for (std::uint64_t i = 0; i < count; ++i)
    if (!checkObject(offsets[i])) return why = "malformed object in binary property list", false;

  // The references an object holds, or false when it runs past its bounds.
  auto children = [&](std::uint64_t obj, std::vector<std::uint64_t>& out) -> bool {
    out.clear();
    std::uint64_t pos = offsets[obj];
    std::uint8_t marker = d[pos];
    unsigned kind = marker >> 4;
    if (kind != 0xA && kind != 0xC && kind != 0xD) return true;
    std::uint64_t n = marker & 0x0F;
    ++pos;
    if (n == 0x0F) {
      if (pos >= tableOffset || (d[pos] >> 4) != 0x1) return false;
      unsigned bytes = 1u << (d[pos] & 0x0F);
      if (bytes > 8 || pos + 1 + bytes > tableOffset) return false;
      n = readBE(d.data() + pos + 1, bytes);
      pos += 1 + bytes;
    }
    std::uint64_t refs = kind == 0xD ? n * 2 : n;
    if (n > tableOffset || refs > (tableOffset - pos) / refSize) return false;
    for (std::uint64_t i = 0; i < refs; ++i) {
      std::uint64_t r = readBE(d.data() + pos + i * refSize, refSize);
      if (r >= count) return false;
      // Dictionary keys are leaves and do not count towards depth.
      if (kind != 0xD || i >= n) out.push_back(r);
    }
    return true;
  };

  // Post-order walk from the top object: height and expanded size per object, cycles refused.
  enum : std::uint8_t { kNew, kOpen, kDone };
  std::vector<std::uint8_t> state(count, kNew);
  std::vector<std::uint32_t> height(count, 0);
  std::vector<std::uint64_t> nodes(count, 0);
  struct Frame {
    std::uint64_t obj;
    std::vector<std::uint64_t> kids;
    std::size_t next = 0;
  };
  std::vector<Frame> stack;
  stack.push_back({top, {}});
  state[top] = kOpen;
  if (!children(top, stack.back().kids)) return why = "container runs past its bounds", false;
  while (!stack.empty()) {
    Frame& f = stack.back();
    if (f.next < f.kids.size()) {
      std::uint64_t k = f.kids[f.next++];
      if (state[k] == kOpen) return why = "binary property list refers to itself", false;
      // The member stands at the depth of the frames below it; one met before brings its own
      // height along.
      const std::uint64_t depth = stack.size();
      if (state[k] == kDone) {
        if (depth + height[k] - 1 > static_cast<std::uint64_t>(kPropertyListMaxDepth))
          return why = "property list nested too deeply", false;
        continue;
      }
      if (depth > static_cast<std::uint64_t>(kPropertyListMaxDepth)) return why = "property list nested too deeply", false;
      state[k] = kOpen;
      Frame child{k, {}};
      if (!children(k, child.kids)) return why = "container runs past its bounds", false;
      stack.push_back(std::move(child));
      continue;
    }
    std::uint32_t h = 0;
    std::uint64_t n = 1;
    for (std::uint64_t k : f.kids) {
      h = std::max(h, height[k]);
      n += nodes[k];
      if (n > maxNodes)
        return why = "property list expands to more than the " + std::to_string(maxNodes) + " nodes allowed", false;
    }
    height[f.obj] = h + 1;
    nodes[f.obj] = n;
    state[f.obj] = kDone;
    stack.pop_back();
  }
  return true;
}

// Nesting depth of an XML property list, counted over its array and dict elements.
bool validateXML(const Data& d, std::string& why) {
  const char* p = reinterpret_cast<const char*>(d.data());
  const char* end = p + d.size();
  if (std::memchr(p, 0, d.size())) return why = "NUL character in XML property list", false;
  int depth = 0;
  return walkXML(
      p, end,
      [&](const char* c) {
        if (*c != '&' || end - c <= 2 || c[1] != '#') return true;
        // A character reference to NUL would end up inside a string the library asserts on.
        const char* q = c + 2;
        bool hex = q < end && (*q == 'x' || *q == 'X');
        if (hex) ++q;
        while (q < end && *q == '0') ++q;
        if (q < end && *q == ';' && q > c + 2 + (hex ? 1 : 0)) return why = "NUL character in XML property list", false;
        return true;
      },
      [&](const char* q, bool closing, const char* gt) {
        bool container = xmlNameIs(q, end, "array") || xmlNameIs(q, end, "dict");
        if (container && !selfClosing(q, gt)) {
          // The top container's tags are the first level: a container's tags stand one level
          // past its depth. Its members' depth is checked exactly as they are read.
          depth += closing ? -1 : 1;
          if (depth - 1 > kPropertyListMaxDepth) return why = "property list nested too deeply", false;
        }
        return true;
      });
}

// The XML list with each date's text taken into the table and replaced by a stand-in the library
// reads whole; nullopt, with the reason, when a date's text is no date.
std::optional<Data> takeXMLDates(const Data& d, DateTable& dates, std::string& why) {
  const char* begin = reinterpret_cast<const char*>(d.data());
  const char* end = begin + d.size();
  std::string out;
  const char* copied = begin;
  const char* open = nullptr;  // past the '>' of the date element being read
  bool ok = walkXML(
      begin, end, [](const char*) { return true; },
      [&](const char* q, bool closing, const char* gt) {
        if (!xmlNameIs(q, end, "date")) return true;
        if (!closing) {
          // An empty date names no date, as an empty text does; left to the library it would
          // read as a stand-in, and so as another date of the list.
          if (selfClosing(q, gt)) return why = "malformed date in XML property list", false;
          open = gt;
          return true;
        }
        if (!open) return true;
        const char* lt = q - 2;  // the '<' of "</date"
        auto seconds = lt >= open ? parseXMLDate(std::string_view(open, static_cast<std::size_t>(lt - open))) : std::nullopt;
        if (!seconds) return why = "malformed date in XML property list", false;
        if (dates.seconds.size() >= static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
          return why = "too many dates for one property list", false;
        out.append(copied, open);
        out += *formatXMLDate(static_cast<double>(dates.seconds.size()));
        dates.seconds.push_back(*seconds);
        copied = lt;
        open = nullptr;
        return true;
      });
  if (!ok) return std::nullopt;
  out.append(copied, end);
  return Data(reinterpret_cast<const std::uint8_t*>(out.data()), reinterpret_cast<const std::uint8_t*>(out.data()) + out.size());
}

// An XML integer's text: around spaces, a sign, then decimal digits or "0x" and hex digits; its
// 64 bits, and whether it is past 2^63 - 1. Nothing for text of another form (the library has its
// say); `inRange` false for a number past the integers a list holds.
struct XMLInteger {
  std::uint64_t bits = 0;
  bool isUnsigned = false;
};
std::optional<XMLInteger> parseXMLInteger(std::string_view t, bool& inRange) {
  auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
  while (!t.empty() && isSpace(t.front())) t.remove_prefix(1);
  while (!t.empty() && isSpace(t.back())) t.remove_suffix(1);
  const bool negative = !t.empty() && t.front() == '-';
  if (!t.empty() && (t.front() == '-' || t.front() == '+')) t.remove_prefix(1);
  unsigned base = 10;
  if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
    base = 16;
    t.remove_prefix(2);
  }
  if (t.empty()) return std::nullopt;
  std::uint64_t magnitude = 0;
  bool overflow = false;
  for (char c : t) {
    unsigned digit = c >= '0' && c <= '9' ? static_cast<unsigned>(c - '0')
                     : base == 16 && c >= 'a' && c <= 'f' ? static_cast<unsigned>(c - 'a' + 10)
                     : base == 16 && c >= 'A' && c <= 'F' ? static_cast<unsigned>(c - 'A' + 10)
                                                          : 99u;
    if (digit >= base) return std::nullopt;
    if (magnitude > (std::numeric_limits<std::uint64_t>::max() - digit) / base) overflow = true;
    magnitude = magnitude * base + digit;
  }
  if (overflow || (negative && magnitude > kLargestSigned + 1)) {
    inRange = false;
    return std::nullopt;
  }
  return XMLInteger{negative ? ~magnitude + 1 : magnitude, !negative && magnitude > kLargestSigned};
}

// Puts the unsigned integers of an XML list in the table, writing stand-ins into `d` where one
// differs; false, with the reason, when an integer's text is out of range.
bool takeXMLUnsigned(Data& d, UnsignedTable& table, std::string& why) {
  const char* begin = reinterpret_cast<const char*>(d.data());
  const char* end = begin + d.size();
  struct Element {
    const char* text;
    const char* textEnd;
    std::uint64_t value;
  };
  std::vector<Element> big;
  std::unordered_set<std::uint64_t> taken;
  const char* open = nullptr;
  bool ok = walkXML(
      begin, end, [](const char*) { return true; },
      [&](const char* q, bool closing, const char* gt) {
        if (!xmlNameIs(q, end, "integer")) return true;
        if (!closing) {
          open = selfClosing(q, gt) ? nullptr : gt;
          return true;
        }
        if (!open || q - 2 < open) return true;
        bool inRange = true;
        auto n = parseXMLInteger(std::string_view(open, static_cast<std::size_t>(q - 2 - open)), inRange);
        if (!inRange) return why = "integer out of the range a property list holds", false;
        if (n && n->isUnsigned) big.push_back({open, q - 2, n->bits});
        else if (n) taken.insert(n->bits);
        open = nullptr;
        return true;
      });
  if (!ok) return false;
  if (big.empty()) return true;
  std::vector<std::uint64_t> values;
  for (const Element& e : big) values.push_back(e.value);
  const auto standIns = table.standInsFor(values, taken);
  if (standIns == values) return true;
  std::string out;
  const char* copied = begin;
  for (std::size_t i = 0; i < big.size(); ++i) {
    out.append(copied, big[i].text);
    out += std::to_string(standIns[i]);
    copied = big[i].textEnd;
  }
  out.append(copied, end);
  d = Data(reinterpret_cast<const std::uint8_t*>(out.data()), reinterpret_cast<const std::uint8_t*>(out.data()) + out.size());
  return true;
}

// Puts each date's own text in place of the stand-in the library wrote; false when one holds
// anything else.
bool placeXMLDates(Data& d, const DateTable& dates) {
  static constexpr std::string_view openTag = "<date>", closeTag = "</date>";
  std::string_view text(reinterpret_cast<const char*>(d.data()), d.size());
  std::string out;
  std::size_t copied = 0;
  for (std::size_t at = text.find(openTag); at != std::string_view::npos; at = text.find(openTag, at)) {
    at += openTag.size();
    std::size_t close = text.find(closeTag, at);
    if (close == std::string_view::npos) return false;
    auto standIn = parseXMLDate(text.substr(at, close - at));
    if (!standIn || !(*standIn >= 0 && *standIn < static_cast<double>(dates.seconds.size())) || *standIn != std::floor(*standIn))
      return false;
    auto real = formatXMLDate(dates.seconds[static_cast<std::size_t>(*standIn)]);
    if (!real) return false;
    out.append(text.substr(copied, at - copied));
    out += *real;
    copied = at = close;
  }
  out.append(text.substr(copied));
  d = Data(reinterpret_cast<const std::uint8_t*>(out.data()), reinterpret_cast<const std::uint8_t*>(out.data()) + out.size());
  return true;
}

std::optional<Value> toValue(plist_t node, int depth, const DateTable& dates, const UnsignedTable& unsignedValues,
                             std::string& why) {
  if (depth > kPropertyListMaxDepth) {
    why = "property list nested too deeply";
    return std::nullopt;
  }
  switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
      std::uint8_t b = 0;
      plist_get_bool_val(node, &b);
      return Value(b != 0);
    }
    case PLIST_UINT: {
      std::uint64_t v = 0;
      plist_get_uint_val(node, &v);
      if (auto found = unsignedValues.valueOf.find(v); found != unsignedValues.valueOf.end())
        return Value::unsignedNumber('Q', found->second);
      return Value::number('q', static_cast<long long>(v));
    }
    case PLIST_REAL: {
      double v = 0;
      plist_get_real_val(node, &v);
      return Value(v);
    }
    case PLIST_STRING: {
      std::uint64_t len = 0;
      const char* s = plist_get_string_ptr(node, &len);
      std::string text(s ? s : "", s ? len : 0);
      // The library hands out the bytes of an ASCII-marked string as they are; text that is not
      // UTF-8 could never be written back.
      if (!isValidUTF8(text)) {
        why = "property list string is not valid text";
        return std::nullopt;
      }
      return Value(std::move(text));
    }
    case PLIST_DATA: {
      std::uint64_t len = 0;
      const char* s = plist_get_data_ptr(node, &len);
      const auto* b = reinterpret_cast<const std::uint8_t*>(s);
      return Value(Data(b, b + (b ? len : 0)));
    }
    case PLIST_DATE: {
      std::int32_t sec = 0, usec = 0;
      plist_get_date_val(node, &sec, &usec);
      if (sec < 0 || static_cast<std::size_t>(sec) >= dates.seconds.size() || usec != 0) {
        why = "malformed date in property list";
        return std::nullopt;
      }
      return Value(Date::fromTimeIntervalSinceReferenceDate(dates.seconds[static_cast<std::size_t>(sec)]));
    }
    case PLIST_UID: {
      std::uint64_t v = 0;
      plist_get_uid_val(node, &v);
      if (v > kPropertyListMaxUID) {
        why = "keyed-archive reference out of range";
        return std::nullopt;
      }
      return uidValue(v);
    }
    case PLIST_ARRAY: {
      Array out;
      out.reserve(plist_array_get_size(node));
      // Walked with the iterator: fetching by index starts from the front each time, and a long
      // array would take quadratic time.
      plist_array_iter it = nullptr;
      plist_array_new_iter(node, &it);
      for (;;) {
        plist_t item = nullptr;
        plist_array_next_item(node, it, &item);
        if (!item) break;
        auto v = toValue(item, depth + 1, dates, unsignedValues, why);
        if (!v) {
          std::free(it);
          return std::nullopt;
        }
        out.push_back(std::move(*v));
      }
      std::free(it);
      return Value(std::move(out));
    }
    case PLIST_DICT: {
      Dictionary out;
      plist_dict_iter it = nullptr;
      plist_dict_new_iter(node, &it);
      for (;;) {
        char* key = nullptr;
        plist_t item = nullptr;
        plist_dict_next_item(node, it, &key, &item);
        if (!item) {
          std::free(key);
          break;
        }
        std::string k = key ? key : "";
        std::free(key);
        auto v = isValidUTF8(k) ? toValue(item, depth + 1, dates, unsignedValues, why) : std::nullopt;
        if (!v) {
          if (why.empty()) why = "property list key is not valid text";
          std::free(it);
          return std::nullopt;
        }
        out.set(std::move(k), std::move(*v));
      }
      std::free(it);
      return Value(std::move(out));
    }
    default:
      why = "unsupported property list element";
      return std::nullopt;
  }
}

// An integer node of a number past 2^63 - 1 that the library writes unsigned: it makes such a
// node only when it reads one, from the sixteen bytes a binary list holds it in.
plist_t newUnsignedNode(std::uint64_t value) {
  std::uint8_t list[8 + 17 + 1 + 32] = {'b', 'p', 'l', 'i', 's', 't', '0', '0', 0x14};
  for (int b = 0; b < 8; ++b) list[17 + b] = static_cast<std::uint8_t>(value >> (56 - 8 * b));
  list[25] = 8;  // the offset of the one object
  std::uint8_t* trailer = list + 26;
  trailer[6] = trailer[7] = 1;
  trailer[15] = 1;   // one object, the top one (0)
  trailer[31] = 25;  // the offset table
  plist_t node = nullptr;
  plist_from_bin(reinterpret_cast<const char*>(list), sizeof list, &node);
  return node;
}

// The value as the library's XML writer takes it, each date as a stand-in for its whole seconds.
plist_t fromValue(const Value& v, int depth, bool uids, DateTable& dates, std::string& why) {
  if (depth > kPropertyListMaxDepth) {
    why = "value nested too deeply";
    return nullptr;
  }
  switch (v.type()) {
    case Value::Type::Null:
      why = "a property list cannot hold null";
      return nullptr;
    case Value::Type::Boolean: return plist_new_bool(v.boolValue() ? 1 : 0);
    case Value::Type::Number:
      if (v.isFloatingPoint()) return plist_new_real(v.doubleValue());
      if (v.isUnsigned() && v.unsignedValue() > kLargestSigned) {
        plist_t node = newUnsignedNode(v.unsignedValue());
        if (!node) why = "an unsigned integer could not be written";
        return node;
      }
      return plist_new_uint(static_cast<std::uint64_t>(v.intValue()));
    case Value::Type::String:
      if (v.string()->find('\0') != std::string::npos) {
        why = "a property list string cannot hold a NUL character";
        return nullptr;
      }
      // Written as UTF-16 when not ASCII; the library would write bytes that are not UTF-8 as
      // a truncated or empty string that no reader accepts.
      if (!isValidUTF8(*v.string())) {
        why = "a property list string must be valid UTF-8";
        return nullptr;
      }
      return plist_new_string(v.string()->c_str());
    case Value::Type::Data: {
      const Data& d = *v.data();
      return plist_new_data(reinterpret_cast<const char*>(d.data()), d.size());
    }
    case Value::Type::Date: {
      // XML keeps whole seconds, of any date its text can name.
      double r = v.date()->timeIntervalSinceReferenceDate();
      if (!formatXMLDate(r)) {
        why = "date out of the range an XML property list can hold";
        return nullptr;
      }
      r = std::floor(r);
      const auto bits = std::bit_cast<std::uint64_t>(r);
      auto found = dates.indexOf.find(bits);
      if (found == dates.indexOf.end()) {
        if (dates.seconds.size() >= static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
          why = "too many dates for one property list";
          return nullptr;
        }
        found = dates.indexOf.emplace(bits, static_cast<std::int32_t>(dates.seconds.size())).first;
        dates.seconds.push_back(r);
      }
      return plist_new_date(found->second, 0);
    }
    case Value::Type::Array:
    case Value::Type::Set: {
      plist_t a = plist_new_array();
      for (const Value& item : v.isArray() ? *v.array() : *v.setMembers()) {
        plist_t child = fromValue(item, depth + 1, uids, dates, why);
        if (!child) {
          plist_free(a);
          return nullptr;
        }
        plist_array_append_item(a, child);
      }
      return a;
    }
    case Value::Type::Dictionary: {
      if (uids) {
        if (auto index = uidIndex(v)) {
          if (*index > kPropertyListMaxUID) {
            why = "keyed-archive reference past " + std::to_string(kPropertyListMaxUID) + ", which no reader takes";
            return nullptr;
          }
          return plist_new_uid(*index);
        }
      }
      plist_t dict = plist_new_dict();
      for (const auto& [key, item] : *v.dictionary()) {
        plist_t child = fromValue(item, depth + 1, uids, dates, why);
        if (!child || key.find('\0') != std::string::npos || !isValidUTF8(key)) {
          if (child) plist_free(child);
          if (why.empty()) why = "a property list key must be valid UTF-8 without a NUL character";
          plist_free(dict);
          return nullptr;
        }
        plist_dict_set_item(dict, key.c_str(), child);
      }
      return dict;
    }
  }
  return nullptr;
}

// The list with each date object's seconds taken into the table and replaced by a stand-in the
// library reads whole; nullopt when the list holds no dates.
std::optional<Data> takeDates(const Data& d, DateTable& dates) {
  auto objects = dateObjects(d);
  if (objects.empty()) return std::nullopt;
  Data copy = d;
  for (std::uint64_t at : objects) {
    writeDouble(copy.data() + at + 1, static_cast<double>(dates.seconds.size()));
    dates.seconds.push_back(readDouble(d.data() + at + 1));
  }
  return copy;
}

}  // namespace

Value uidValue(std::uint64_t index) {
  return Value(Dictionary{{kPropertyListUIDKey, Value::unsignedNumber('Q', index)}});
}

std::optional<std::uint64_t> uidIndex(const Value& value) {
  const Dictionary* d = value.dictionary();
  if (!d || d->size() != 1) return std::nullopt;
  const Value* n = d->find(kPropertyListUIDKey);
  if (!n || !n->isNumber() || n->isFloatingPoint()) return std::nullopt;
  if (!n->isUnsigned() && n->intValue() < 0) return std::nullopt;
  return n->unsignedValue();
}

bool PropertyList::isBinary(const Data& data) {
  return data.size() >= 8 && std::memcmp(data.data(), kBinaryMagic, 8) == 0;
}

std::optional<Value> PropertyList::read(const Data& data, PropertyListFormat* format, Error* error, std::uint64_t maxNodes) {
  if (data.empty()) {
    fail(error, kPropertyListReadCorruptError, "no property list in empty data");
    return std::nullopt;
  }
  if (data.size() > std::numeric_limits<std::uint32_t>::max()) {
    fail(error, kPropertyListReadCorruptError, "property list too large");
    return std::nullopt;
  }
  std::string why;
  const bool binary = isBinary(data);
  if (!(binary ? validateBinary(data, why, maxNodes) : validateXML(data, why))) {
    fail(error, kPropertyListReadCorruptError, why);
    return std::nullopt;
  }
  DateTable dates;
  UnsignedTable unsignedValues;
  std::optional<Data> standIns;
  if (binary) {
    standIns = takeDates(data, dates);
    takeUnsigned(standIns ? *standIns : data, standIns, unsignedValues);
  } else if (!(standIns = takeXMLDates(data, dates, why)) || !takeXMLUnsigned(*standIns, unsignedValues, why)) {
    fail(error, kPropertyListReadCorruptError, why);
    return std::nullopt;
  }
  // A hostile list may lay a stand-in over the bytes of another object, which it then changes.
  if (binary && standIns && !validateBinary(*standIns, why, maxNodes)) {
    fail(error, kPropertyListReadCorruptError, why);
    return std::nullopt;
  }
  const Data& given = standIns ? *standIns : data;
  plist_t raw = nullptr;
  const char* bytes = reinterpret_cast<const char*>(given.data());
  auto len = static_cast<std::uint32_t>(given.size());
  if (binary) plist_from_bin(bytes, len, &raw);
  else plist_from_xml(bytes, len, &raw);
  PlistPtr root(raw);
  if (!root) {
    fail(error, kPropertyListReadCorruptError, binary ? "malformed binary property list" : "not a property list");
    return std::nullopt;
  }
  auto value = toValue(root.get(), 0, dates, unsignedValues, why);
  if (!value) {
    fail(error, kPropertyListReadCorruptError, why);
    return std::nullopt;
  }
  if (format) *format = binary ? PropertyListFormat::Binary : PropertyListFormat::XML;
  return value;
}

std::optional<Data> PropertyList::write(const Value& value, PropertyListFormat format, Error* error, bool writeUIDs) {
  std::string why;
  // Binary lists by our own writer: the library's keeps its objects in a table whose lookups
  // grow with the list, so its time grows with the square of the objects.
  if (format == PropertyListFormat::Binary) {
    auto data = BinaryPropertyList::write(value, writeUIDs, why);
    if (!data) fail(error, kPropertyListWriteInvalidError, why);
    return data;
  }
  DateTable dates;
  PlistPtr root(fromValue(value, 0, writeUIDs, dates, why));
  if (!root) {
    fail(error, kPropertyListWriteInvalidError, why);
    return std::nullopt;
  }
  char* out = nullptr;
  std::uint32_t len = 0;
  plist_to_xml(root.get(), &out, &len);
  if (!out) {
    fail(error, kPropertyListWriteInvalidError, "property list could not be written");
    return std::nullopt;
  }
  Data result(reinterpret_cast<std::uint8_t*>(out), reinterpret_cast<std::uint8_t*>(out) + len);
  plist_to_xml_free(out);
  if (!placeXMLDates(result, dates)) {
    fail(error, kPropertyListWriteInvalidError, "the dates of the property list could not be written");
    return std::nullopt;
  }
  return result;
}

std::optional<Value> PropertyList::readFile(const std::string& path, PropertyListFormat* format, Error* error) {
  auto data = FileManager::defaultManager().contentsAtPath(path, error);
  if (!data) return std::nullopt;
  return read(*data, format, error);
}

bool PropertyList::writeFile(const Value& value, const std::string& path, PropertyListFormat format, Error* error,
                             unsigned mode) {
  auto data = write(value, format, error);
  if (!data) return false;
  return FileManager::defaultManager().writeData(*data, path, WriteOptions{true, static_cast<mode_t>(mode)}, error);
}

}  // namespace os
