#include "tools/common/NewestKept.h"

#include <algorithm>

namespace tools {

namespace {
// What the heap hands out for a request of this many bytes: its bookkeeping word, rounded up to
// its alignment, and never less than its smallest piece.
std::size_t heapBytes(std::size_t bytes) {
  if (bytes == 0) return 0;
  return std::max<std::size_t>(32, (bytes + sizeof(std::size_t) + 15) & ~std::size_t{15});
}
// A reader's shared block: a value standing in one keeps all of it alive.
constexpr std::size_t kSharedBlockBytes = 8192;
// A shared box: its header and the storage it holds.
constexpr std::size_t kBoxHeaderBytes = 16;

std::size_t boxBytes(const os::Value& value, std::size_t storage) {
  return os::inSharedBlock(value) ? kSharedBlockBytes : heapBytes(kBoxHeaderBytes + storage);
}
// A text's characters when they do not fit inside the string itself.
std::size_t textBytes(const std::string& text) {
  constexpr std::size_t kInPlace = 15;
  return text.capacity() > kInPlace ? heapBytes(text.capacity() + 1) : 0;
}
}  // namespace

std::size_t heldBytes(const os::Value& value) {
  switch (value.type()) {
    case os::Value::Type::String:
      return boxBytes(value, sizeof(std::string)) + textBytes(*value.string());
    case os::Value::Type::Data:
      return boxBytes(value, sizeof(os::Data)) + heapBytes(value.data()->capacity());
    case os::Value::Type::Array:
    case os::Value::Type::Set: {
      const os::Array* members = value.type() == os::Value::Type::Array ? value.array() : value.setMembers();
      std::size_t bytes = boxBytes(value, sizeof(os::Array)) + heapBytes(members->capacity() * sizeof(os::Value));
      for (const os::Value& member : *members) bytes += heldBytes(member);
      return bytes;
    }
    case os::Value::Type::Dictionary:
      return boxBytes(value, sizeof(os::Dictionary)) + heldBytes(*value.dictionary());
    default:
      return 0;
  }
}

std::size_t heldBytes(const os::Dictionary& dictionary) {
  std::size_t bytes = heapBytes(dictionary.storedEntries() * sizeof(os::Dictionary::Entry));
  for (const auto& [key, member] : dictionary) bytes += textBytes(key) + heldBytes(member);
  // Past a few keys a dictionary indexes them: a node each with its own copy of the key, and the
  // buckets.
  constexpr std::size_t kIndexed = 16;
  if (dictionary.storedEntries() >= kIndexed) {
    for (const auto& [key, member] : dictionary)
      bytes += heapBytes(sizeof(void*) + sizeof(std::string) + 2 * sizeof(std::size_t)) + textBytes(key);
    bytes += heapBytes(2 * dictionary.storedEntries() * sizeof(void*)) + heapBytes(128);
  }
  return bytes;
}

}  // namespace tools
