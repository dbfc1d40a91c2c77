#include "os/store/BinaryPropertyList.h"

#include <algorithm>
#include <bit>
#include <cstring>
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

}  // namespace

BinaryPropertyListWriter::BinaryPropertyListWriter(bool writeUIDs) : uids_(writeUIDs) {}

bool BinaryPropertyListWriter::add(const Value& value, int depth, std::uint64_t& number) {
  if (depth > kPropertyListMaxDepth) return fail("value nested deeper than a property list may be read");
  if (objects_.size() >= kEmpty) return fail("too many objects for one property list");
  switch (value.type()) {
    case Value::Type::Null: return fail("a property list cannot hold null");
    case Value::Type::Boolean: return leaf(value.boolValue() ? "\x09" : "\x08", number);
    case Value::Type::Number: {
      const std::size_t at = leaves_.size();
      std::string& bytes = leaves_;
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
      return leaf(at, number);
    }
    case Value::Type::String: return text(*value.string(), number);
    case Value::Type::Data:
      number = objects_.size();
      objects_.push_back({data_.size(), value.data()->size(), 0x40});
      data_.push_back(value.data());
      return true;
    case Value::Type::Date: {
      const std::size_t at = leaves_.size();
      leaves_.push_back('\x33');
      putBigEndian(leaves_, std::bit_cast<std::uint64_t>(value.date()->timeIntervalSinceReferenceDate()), 8);
      return leaf(at, number);
    }
    case Value::Type::Array:
    case Value::Type::Set: {
      const Array& items = value.isArray() ? *value.array() : *value.setMembers();
      const std::size_t at = open(kArrayMarker, items.size(), number);
      for (std::size_t i = 0; i < items.size(); ++i) {
        std::uint64_t item = 0;  // refs_ grows while a member is added
        if (!add(items[i], depth + 1, item)) return false;
        setReference(at + i, item);
      }
      return true;
    }
    case Value::Type::Dictionary: {
      if (uids_)
        if (auto index = uidIndex(value)) return uid(*index, number);
      const Dictionary& entries = *value.dictionary();
      const std::size_t n = entries.size();
      const std::size_t at = open(kDictionaryMarker, n, number);
      std::size_t i = 0;
      for (const auto& [key, item] : entries) {
        std::uint64_t keyNumber = 0, itemNumber = 0;
        if (!text(key, keyNumber) || !add(item, depth + 1, itemNumber)) return false;
        setReference(at + i, keyNumber);
        setReference(at + n + i, itemNumber);
        ++i;
      }
      return true;
    }
  }
  return fail("unsupported value");
}

bool BinaryPropertyListWriter::uid(std::uint64_t index, std::uint64_t& number) {
  if (index > kPropertyListMaxUID) return fail("a keyed-archive reference past 4294967295, which no reader takes");
  if (objects_.size() >= kEmpty) return fail("too many objects for one property list");
  // An archive holds a reference to every object it has, most more than once: looked up by the
  // index itself while indices are object numbers, not by a hash of bytes. An index far past the
  // objects met so far (no archive's) goes by its bytes.
  const bool direct = index < uidNumbers_.size() || index < 4 * objects_.size() + 4096;
  if (direct && index >= uidNumbers_.size())
    uidNumbers_.resize(std::max<std::size_t>(index + 1, 2 * uidNumbers_.size()), kEmpty);
  if (direct && uidNumbers_[index] != kEmpty) {
    number = uidNumbers_[index];
    return true;
  }
  const unsigned width = BinaryPropertyList::integerWidth(index);
  const std::size_t at = leaves_.size();
  leaves_.push_back(static_cast<char>(0x80 | (width - 1)));
  putBigEndian(leaves_, index, width);
  if (direct && !uidsByBytes_) {
    // Every reference written so far is in uidNumbers_, and every later one of this index will
    // be looked up there: the table of leaves need not hold it.
    number = objects_.size();
    objects_.push_back({at, leaves_.size() - at, 0});
  } else {
    leaf(at, number);
  }
  if (direct) uidNumbers_[index] = static_cast<std::uint32_t>(number);
  else uidsByBytes_ = true;
  return true;
}

void BinaryPropertyListWriter::expectUIDsBelow(std::uint64_t count) {
  if (count > uidNumbers_.size())
    uidNumbers_.resize(static_cast<std::size_t>(std::min<std::uint64_t>(count, kPropertyListMaxUID)), kEmpty);
}

std::size_t BinaryPropertyListWriter::open(std::uint8_t marker, std::uint64_t count, std::uint64_t& number) {
  number = objects_.size();
  const std::size_t at = refs_.size();
  objects_.push_back({at, count, marker});
  refs_.resize(at + (marker == kDictionaryMarker ? 2 * count : count));
  return at;
}

Data BinaryPropertyListWriter::finish() const {
  const unsigned refWidth = BinaryPropertyList::referenceWidth(objects_.size());
  auto sizeOf = [&](const Object& object) -> std::uint64_t {
    if (object.marker == 0) return object.count;
    const std::uint64_t header = object.count < 15 ? 1 : 2 + BinaryPropertyList::integerWidth(object.count);
    if (object.marker == 0x40) return header + object.count;
    return header + (object.marker == kDictionaryMarker ? 2 : 1) * object.count * refWidth;
  };
  // Sized first, so the list is written once into room made for it, byte by byte through a
  // pointer: a large list has hundreds of millions of bytes.
  std::uint64_t tableOffset = 8;
  for (const Object& object : objects_) tableOffset += sizeOf(object);
  const unsigned offsetWidth = BinaryPropertyList::referenceWidth(tableOffset);
  Data out(tableOffset + objects_.size() * offsetWidth + 32);
  std::uint8_t* at = out.data();
  auto put = [&at](std::uint64_t v, unsigned width) {
    for (unsigned i = width; i-- > 0;) *at++ = static_cast<std::uint8_t>(v >> (8 * i));
  };
  auto copy = [&at](const std::uint8_t* bytes, std::size_t n) {
    if (n) std::memcpy(at, bytes, n);
    at += n;
  };
  copy(reinterpret_cast<const std::uint8_t*>(kMagic), 8);
  for (const Object& object : objects_) {
    if (object.marker == 0) {
      copy(reinterpret_cast<const std::uint8_t*>(leaves_.data()) + object.at, object.count);
      continue;
    }
    if (object.count < 15) {
      *at++ = static_cast<std::uint8_t>(object.marker | object.count);
    } else {
      const unsigned width = BinaryPropertyList::integerWidth(object.count);
      *at++ = static_cast<std::uint8_t>(object.marker | 0x0F);
      *at++ = static_cast<std::uint8_t>(0x10 | std::countr_zero(width));
      put(object.count, width);
    }
    if (object.marker == 0x40) {
      copy(data_[object.at]->data(), data_[object.at]->size());
      continue;
    }
    const std::size_t refs = object.marker == kDictionaryMarker ? 2 * object.count : object.count;
    const std::uint32_t* ref = refs_.data() + object.at;
    switch (refWidth) {  // the common widths unrolled
      case 3:
        for (std::size_t i = 0; i < refs; ++i, at += 3) {
          at[0] = static_cast<std::uint8_t>(ref[i] >> 16);
          at[1] = static_cast<std::uint8_t>(ref[i] >> 8);
          at[2] = static_cast<std::uint8_t>(ref[i]);
        }
        break;
      default:
        for (std::size_t i = 0; i < refs; ++i) put(ref[i], refWidth);
    }
  }
  std::uint64_t offset = 8;
  for (const Object& object : objects_) {
    put(offset, offsetWidth);
    offset += sizeOf(object);
  }
  put(0, 6);
  *at++ = static_cast<std::uint8_t>(offsetWidth);
  *at++ = static_cast<std::uint8_t>(refWidth);
  put(objects_.size(), 8);
  put(0, 8);  // the top object is the first
  put(tableOffset, 8);
  return out;
}

bool BinaryPropertyListWriter::fail(const char* why) {
  why_ = why;
  return false;
}

bool BinaryPropertyListWriter::leaf(std::size_t at, std::uint64_t& number) {
  const std::string_view bytes(leaves_.data() + at, leaves_.size() - at);
  const auto hash = static_cast<std::uint32_t>(std::hash<std::string_view>()(bytes));
  if (2 * (leafCount_ + 1) > slots_.size()) grow();
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    Slot& slot = slots_[i];
    if (slot.number == kEmpty) {
      slot = {hash, static_cast<std::uint32_t>(objects_.size())};
      ++leafCount_;
      number = objects_.size();
      objects_.push_back({at, bytes.size(), 0});
      return true;
    }
    const Object& other = objects_[slot.number];
    if (slot.hash == hash && std::string_view(leaves_.data() + other.at, other.count) == bytes) {
      leaves_.resize(at);
      number = slot.number;
      return true;
    }
  }
}

bool BinaryPropertyListWriter::leaf(std::string_view bytes, std::uint64_t& number) {
  const std::size_t at = leaves_.size();
  leaves_.append(bytes);
  return leaf(at, number);
}

void BinaryPropertyListWriter::grow() {
  std::vector<Slot> old(std::max<std::size_t>(64, 2 * slots_.size()));
  old.swap(slots_);
  const std::size_t mask = slots_.size() - 1;
  for (const Slot& slot : old) {
    if (slot.number == kEmpty) continue;
    std::size_t i = slot.hash & mask;
    while (slots_[i].number != kEmpty) i = (i + 1) & mask;
    slots_[i] = slot;
  }
}

bool BinaryPropertyListWriter::appendText(const std::string& s) {
  if (objects_.size() >= kEmpty) return fail("too many objects for one property list");
  if (s.find('\0') != std::string::npos) return fail("a property list string cannot hold a NUL character");
  if (!isValidUTF8(s)) return fail("a property list string must be valid UTF-8");
  if (std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
    putMarker(leaves_, 0x50, s.size());
    leaves_ += s;
  } else {
    const std::u16string units = toUTF16(s);
    putMarker(leaves_, 0x60, units.size());
    for (char16_t unit : units) putBigEndian(leaves_, unit, 2);
  }
  return true;
}

bool BinaryPropertyListWriter::text(const std::string& s, std::uint64_t& number) {
  const std::size_t at = leaves_.size();
  return appendText(s) && leaf(at, number);
}

bool BinaryPropertyListWriter::distinctText(const std::string& s, std::uint64_t& number) {
  const std::size_t at = leaves_.size();
  if (!appendText(s)) return false;
  number = objects_.size();
  objects_.push_back({at, leaves_.size() - at, 0});
  return true;
}


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
  BinaryPropertyListWriter writer(writeUIDs);
  std::uint64_t top = 0;
  if (!writer.add(value, 0, top)) {
    why = writer.why();
    return std::nullopt;
  }
  return writer.finish();
}

}  // namespace os
