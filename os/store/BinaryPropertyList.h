#pragma once
// The binary property list writer behind PropertyList::write, and the widths it gives what it
// writes, for callers that bound a list's length before writing it.
//
// Every leaf (text, number, flag, date, reference) is written once and shared by all that hold an
// equal one; data and containers are written each time. Time and memory grow with the size of
// the list.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "os/core/Data.h"
#include "os/core/Value.h"

namespace os {

class BinaryPropertyList {
 public:
  // The list's bytes, or nothing with the reason in `why` (a null, text that is not UTF-8 or
  // holds a NUL, nesting past kPropertyListMaxDepth). With `writeUIDs`, a dictionary that is a
  // keyed-archive reference (uidIndex) is written as one, its index at most kPropertyListMaxUID.
  static std::optional<Data> write(const Value& value, bool writeUIDs, std::string& why);

  // Bytes of each object reference, given the object count, and of each offset-table entry,
  // given the byte at which the table starts: the fewest that hold that number, 1 to 8.
  static unsigned referenceWidth(std::uint64_t n);
  // Bytes after the marker of a non-negative integer below 2^63, and of a count past 14 held in
  // an integer after a container's or text's marker: 1, 2, 4 or 8. A negative integer takes 8;
  // one of 2^63 or more, 16.
  static unsigned integerWidth(std::uint64_t n);
};

// The writer behind write(), object by object, for a caller that writes a list it holds in
// another form than a Value tree: objects are numbered as they are added, the first being the
// top, and leaves equal to one added before take its number. Added in write()'s order, the
// objects make the bytes write() makes of the tree they stand for. A failing call leaves the
// reason in why() and the list unfinished.
class BinaryPropertyListWriter {
 public:
  static constexpr std::uint8_t kArrayMarker = 0xA0, kDictionaryMarker = 0xD0;

  explicit BinaryPropertyListWriter(bool writeUIDs);
  BinaryPropertyListWriter(const BinaryPropertyListWriter&) = delete;
  BinaryPropertyListWriter& operator=(const BinaryPropertyListWriter&) = delete;

  // The value and all it holds, as write() adds it at that depth.
  bool add(const Value& value, int depth, std::uint64_t& number);
  bool text(const std::string& s, std::uint64_t& number);
  // A text the caller knows to differ from every other text of the list, added before or after
  // it: no look-up for an equal leaf, the cost of most of the time in large archives.
  bool distinctText(const std::string& s, std::uint64_t& number);
  // A keyed-archive reference.
  bool uid(std::uint64_t index, std::uint64_t& number);
  // Room for references below `count` looked up by their index: an archive writes references
  // to objects far ahead of those written so far.
  void expectUIDsBelow(std::uint64_t count);
  // An array of `count` members or a dictionary of `count` entries, numbered now; answers the
  // slot of its first reference. Its members' numbers go in the slots after it, as they are
  // added: an array's in order, a dictionary's keys and then its values.
  std::size_t open(std::uint8_t marker, std::uint64_t count, std::uint64_t& number);
  void setReference(std::size_t slot, std::uint64_t number) { refs_[slot] = static_cast<std::uint32_t>(number); }
  std::size_t objectCount() const { return objects_.size(); }
  Data finish() const;
  const std::string& why() const { return why_; }

 private:
  // Kept small: a list may hold millions.
  struct Object {
    std::uint64_t at;          // a leaf's bytes in leaves_, a container's references in refs_, data in data_
    std::uint64_t count : 56;  // a leaf's bytes, a container's members or entries, data's bytes
    std::uint64_t marker : 8;  // 0 for a leaf, else 0x40 (data), 0xA0 (array), 0xD0 (dictionary)
  };
  // A slot of the table of leaves by their bytes: open addressing, twice as many slots as leaves.
  struct Slot {
    std::uint32_t hash = 0;
    std::uint32_t number = kEmpty;
  };
  static constexpr std::uint32_t kEmpty = ~std::uint32_t{0};

  bool fail(const char* why);
  // The text's bytes at the end of leaves_.
  bool appendText(const std::string& s);
  // The leaf whose bytes were just appended to leaves_ from `at`: an equal one written before
  // takes its place, else it becomes an object of its own.
  bool leaf(std::size_t at, std::uint64_t& number);
  bool leaf(std::string_view bytes, std::uint64_t& number);
  void grow();

  bool uids_;
  std::string why_;
  std::vector<Object> objects_;
  std::vector<std::uint32_t> refs_;  // object numbers, each below kEmpty
  std::vector<const Data*> data_;
  std::string leaves_;  // the bytes of every distinct leaf, one after another
  std::vector<Slot> slots_;
  std::size_t leafCount_ = 0;
  std::vector<std::uint32_t> uidNumbers_;  // object number by reference index, for small indices
  bool uidsByBytes_ = false;               // a reference went into the table of leaves
};

}  // namespace os
