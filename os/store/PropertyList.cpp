#include "os/store/PropertyList.h"

#include <plist/plist.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "os/core/String.h"
#include "os/store/BinaryPropertyList.h"
#include "os/store/FileManager.h"
#include "os/store/XMLPropertyList.h"

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

// The library, which reads the binary lists here, holds a date as 32-bit seconds, while a binary
// list holds a 64-bit real: dates pass through it as stand-ins (each one's index in this table, as
// whole seconds since 2001) and the real seconds since 2001 are put in place around it, so every
// date is kept whole.
struct DateTable {
  std::vector<double> seconds;
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
  // XML lists by our own reader, in one pass: the library's looks up every key of a dictionary
  // among those before it, so its time grows with the square of the keys.
  if (!isBinary(data)) {
    auto value = XMLPropertyList::read(data, why, maxNodes);
    if (!value) fail(error, kPropertyListReadCorruptError, why);
    else if (format) *format = PropertyListFormat::XML;
    return value;
  }
  if (!validateBinary(data, why, maxNodes)) {
    fail(error, kPropertyListReadCorruptError, why);
    return std::nullopt;
  }
  DateTable dates;
  UnsignedTable unsignedValues;
  std::optional<Data> standIns = takeDates(data, dates);
  takeUnsigned(standIns ? *standIns : data, standIns, unsignedValues);
  // A hostile list may lay a stand-in over the bytes of another object, which it then changes.
  if (standIns && !validateBinary(*standIns, why, maxNodes)) {
    fail(error, kPropertyListReadCorruptError, why);
    return std::nullopt;
  }
  const Data& given = standIns ? *standIns : data;
  plist_t raw = nullptr;
  const char* bytes = reinterpret_cast<const char*>(given.data());
  auto len = static_cast<std::uint32_t>(given.size());
  plist_from_bin(bytes, len, &raw);
  PlistPtr root(raw);
  if (!root) {
    fail(error, kPropertyListReadCorruptError, "malformed binary property list");
    return std::nullopt;
  }
  auto value = toValue(root.get(), 0, dates, unsignedValues, why);
  if (!value) {
    fail(error, kPropertyListReadCorruptError, why);
    return std::nullopt;
  }
  if (format) *format = PropertyListFormat::Binary;
  return value;
}

std::optional<Data> PropertyList::write(const Value& value, PropertyListFormat format, Error* error, bool writeUIDs) {
  std::string why;
  // Both forms by our own writers: the library's keeps a binary list's objects in a table whose
  // lookups grow with the list, and looks up every key of a dictionary it is given among those
  // before it, so its time grows with the square of the objects.
  auto data = format == PropertyListFormat::Binary ? BinaryPropertyList::write(value, writeUIDs, why)
                                                   : XMLPropertyList::write(value, writeUIDs, why);
  if (!data) fail(error, kPropertyListWriteInvalidError, why);
  return data;
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
