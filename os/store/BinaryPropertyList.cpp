#include "os/store/BinaryPropertyList.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "os/core/String.h"
#include "os/store/PropertyList.h"

namespace os {

namespace {

constexpr char kMagic[] = "bplist00";

template <typename Out>
void putBigEndian(Out& out, std::uint64_t v, unsigned width) {
  for (unsigned i = width; i-- > 0;) out.push_back(static_cast<typename Out::value_type>(v >> (8 * i)));
}

// A marker with its count: in the marker's low half under 15, else after it as an integer.
template <typename Out>
void putMarker(Out& out, std::uint8_t kind, std::uint64_t count) {
  if (count < 15) {
    out.push_back(static_cast<typename Out::value_type>(kind | count));
    return;
  }
  out.push_back(static_cast<typename Out::value_type>(kind | 0x0F));
  const unsigned width = BinaryPropertyList::integerWidth(count);
  out.push_back(static_cast<typename Out::value_type>(0x10 | std::countr_zero(width)));
  putBigEndian(out, count, width);
}

// The objects in the order of their numbers: each leaf's bytes, or a container and where its
// references are.
class Writer {
 public:
  Writer(bool uids, std::string& why) : uids_(uids), why_(why) {}

  bool add(const Value& value, int depth, std::uint64_t& number) {
    if (depth > kPropertyListMaxDepth) return fail("value nested too deeply");
    switch (value.type()) {
      case Value::Type::Null: return fail("a property list cannot hold null");
      case Value::Type::Boolean: return leaf(value.boolValue() ? "\x09" : "\x08", number);
      case Value::Type::Number: {
        std::string bytes;
        if (value.isFloatingPoint()) {
          bytes.push_back('\x23');
          putBigEndian(bytes, std::bit_cast<std::uint64_t>(value.doubleValue()), 8);
        } else if (value.isUnsigned() && value.unsignedValue() > static_cast<unsigned long long>(INT64_MAX)) {
          bytes.push_back('\x14');
          putBigEndian(bytes, 0, 8);
          putBigEndian(bytes, value.unsignedValue(), 8);
        } else {
          const long long n = value.intValue();
          const unsigned width = n < 0 ? 8 : BinaryPropertyList::integerWidth(static_cast<std::uint64_t>(n));
          bytes.push_back(static_cast<char>(0x10 | std::countr_zero(width)));
          putBigEndian(bytes, static_cast<std::uint64_t>(n), width);
        }
        return leaf(std::move(bytes), number);
      }
      case Value::Type::String: return text(*value.string(), number);
      case Value::Type::Data:
        number = objects_.size();
        objects_.push_back({nullptr, value.data(), 0x40, value.data()->size(), 0});
        return true;
      case Value::Type::Date: {
        std::string bytes("\x33");
        putBigEndian(bytes, std::bit_cast<std::uint64_t>(value.date()->timeIntervalSinceReferenceDate()), 8);
        return leaf(std::move(bytes), number);
      }
      case Value::Type::Array:
      case Value::Type::Set: {
        const Array& items = value.isArray() ? *value.array() : *value.setMembers();
        const std::size_t at = open(0xA0, items.size(), items.size(), number);
        for (std::size_t i = 0; i < items.size(); ++i) {
          std::uint64_t item = 0;  // refs_ grows while a member is added
          if (!add(items[i], depth + 1, item)) return false;
          refs_[at + i] = item;
        }
        return true;
      }
      case Value::Type::Dictionary: {
        if (uids_)
          if (auto index = uidIndex(value)) {
            const unsigned width = integerWidth(*index);
            std::string bytes(1, static_cast<char>(0x80 | (width - 1)));
            putBigEndian(bytes, *index, width);
            return leaf(std::move(bytes), number);
          }
        const Dictionary& entries = *value.dictionary();
        const std::size_t n = entries.size();
        const std::size_t at = open(0xD0, n, 2 * n, number);
        std::size_t i = 0;
        for (const auto& [key, item] : entries) {
          std::uint64_t keyNumber = 0, itemNumber = 0;
          if (!text(key, keyNumber) || !add(item, depth + 1, itemNumber)) return false;
          refs_[at + i] = keyNumber;
          refs_[at + n + i] = itemNumber;
          ++i;
        }
        return true;
      }
    }
    return fail("unsupported value");
  }

  Data finish() const {
    Data out(kMagic, kMagic + 8);
    const unsigned refWidth = BinaryPropertyList::referenceWidth(objects_.size());
    std::vector<std::uint64_t> offsets;
    offsets.reserve(objects_.size());
    for (const Object& object : objects_) {
      offsets.push_back(out.size());
      if (object.leaf) {
        out.insert(out.end(), object.leaf->begin(), object.leaf->end());
        continue;
      }
      putMarker(out, object.marker, object.count);
      if (object.data) {
        out.insert(out.end(), object.data->begin(), object.data->end());
        continue;
      }
      const std::size_t refs = object.marker == 0xD0 ? 2 * object.count : object.count;
      for (std::size_t i = 0; i < refs; ++i) putBigEndian(out, refs_[object.refsAt + i], refWidth);
    }
    const std::uint64_t tableOffset = out.size();
    const unsigned offsetWidth = BinaryPropertyList::referenceWidth(tableOffset);
    out.reserve(out.size() + offsets.size() * offsetWidth + 32);
    for (std::uint64_t offset : offsets) putBigEndian(out, offset, offsetWidth);
    out.insert(out.end(), 6, 0);
    out.push_back(static_cast<std::uint8_t>(offsetWidth));
    out.push_back(static_cast<std::uint8_t>(refWidth));
    putBigEndian(out, objects_.size(), 8);
    putBigEndian(out, 0, 8);  // the top object is the first
    putBigEndian(out, tableOffset, 8);
    return out;
  }

 private:
  struct Object {
    const std::string* leaf;  // in leaves_
    const Data* data;
    std::uint8_t marker;
    std::uint64_t count;
    std::size_t refsAt;  // of a container: where its references are in refs_
  };

  static unsigned integerWidth(std::uint64_t n) { return BinaryPropertyList::integerWidth(n); }

  bool fail(const char* why) {
    why_ = why;
    return false;
  }

  bool leaf(std::string bytes, std::uint64_t& number) {
    auto [it, added] = leaves_.try_emplace(std::move(bytes), objects_.size());
    if (added) objects_.push_back({&it->first, nullptr, 0, 0, 0});
    number = it->second;
    return true;
  }

  bool text(const std::string& s, std::uint64_t& number) {
    if (s.find('\0') != std::string::npos) return fail("a property list string cannot hold a NUL character");
    if (!isValidUTF8(s)) return fail("a property list string must be valid UTF-8");
    std::string bytes;
    if (std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
      putMarker(bytes, 0x50, s.size());
      bytes += s;
    } else {
      const std::u16string units = toUTF16(s);
      putMarker(bytes, 0x60, units.size());
      for (char16_t unit : units) putBigEndian(bytes, unit, 2);
    }
    return leaf(std::move(bytes), number);
  }

  // A container's number and room for its references, filled as its members are added.
  std::size_t open(std::uint8_t marker, std::uint64_t count, std::size_t refs, std::uint64_t& number) {
    number = objects_.size();
    const std::size_t at = refs_.size();
    objects_.push_back({nullptr, nullptr, marker, count, at});
    refs_.resize(at + refs);
    return at;
  }

  bool uids_;
  std::string& why_;
  std::vector<Object> objects_;
  std::vector<std::uint64_t> refs_;
  std::unordered_map<std::string, std::uint64_t> leaves_;
};

}  // namespace

unsigned BinaryPropertyList::referenceWidth(std::uint64_t n) {
  unsigned width = 1;
  while (width < 8 && (n >> (8 * width)) != 0) ++width;
  return width;
}

unsigned BinaryPropertyList::integerWidth(std::uint64_t n) {
  if (n < (1ull << 8)) return 1;
  if (n < (1ull << 16)) return 2;
  if (n < (1ull << 32)) return 4;
  return 8;
}

std::optional<Data> BinaryPropertyList::write(const Value& value, bool writeUIDs, std::string& why) {
  Writer writer(writeUIDs, why);
  std::uint64_t top = 0;
  if (!writer.add(value, 0, top)) return std::nullopt;
  return writer.finish();
}

}  // namespace os
