#include "tools/common/NewestKept.h"

namespace tools {

namespace {
// A shared box's header and the allocator's own bookkeeping.
constexpr std::size_t kBoxBytes = 32;
}  // namespace

std::size_t heldBytes(const os::Value& value) {
  switch (value.type()) {
    case os::Value::Type::String:
      return kBoxBytes + value.string()->size();
    case os::Value::Type::Data:
      return kBoxBytes + value.data()->size();
    case os::Value::Type::Array:
    case os::Value::Type::Set: {
      const os::Array* members = value.type() == os::Value::Type::Array ? value.array() : value.setMembers();
      std::size_t bytes = kBoxBytes;
      if (members)
        for (const os::Value& member : *members) bytes += sizeof(os::Value) + heldBytes(member);
      return bytes;
    }
    case os::Value::Type::Dictionary:
      return kBoxBytes + heldBytes(*value.dictionary());
    default:
      return 0;
  }
}

std::size_t heldBytes(const os::Dictionary& dictionary) {
  std::size_t bytes = 0;
  for (const auto& [key, member] : dictionary) bytes += sizeof(os::Dictionary::Entry) + key.size() + heldBytes(member);
  return bytes;
}

}  // namespace tools
