#pragma once
// Property lists (XML and binary) to and from os::Value.
//
// A property list has no null, so writing a null is an error; a set is written as an array. Integers
// read back as signed 64-bit numbers (type code 'q'), those past 2^63 - 1 as unsigned ones ('Q'),
// reals as doubles. A binary list keeps every date whole (its seconds since 2001 as a 64-bit real);
// XML keeps whole seconds ("2100-01-01T00:00:00Z", a year before 0 or past 9999 signed), of any
// finite date within 2^62 seconds of 2001. A keyed
// archive's reference (UID) reads as the one-entry dictionary {kPropertyListUIDKey: n}; writing
// turns such a dictionary back into a reference only when asked to.
#include <cstdint>
#include <optional>
#include <string>

#include "os/core/Data.h"
#include "os/core/Error.h"
#include "os/core/Value.h"

namespace os {

inline constexpr const char* kPropertyListErrorDomain = "os.propertylist";
enum PropertyListErrorCode : long {
  kPropertyListReadCorruptError = 3840,
  kPropertyListWriteInvalidError = 3851,
};

enum class PropertyListFormat { XML = 100, Binary = 200 };

inline constexpr const char* kPropertyListUIDKey = "CF$UID";

// What a list may hold, one definition for the writers and the reader, so that every list written
// reads back and a value the reader would refuse is refused when written, with the reason:
// - depth: the top value stands at depth 0 and each member, leaves included, one deeper than its
//   container; nothing may stand deeper than this;
inline constexpr int kPropertyListMaxDepth = 512;
// - integers: from -2^63 to 2^64 - 1, those past 2^63 - 1 unsigned (and read back unsigned);
// - keyed-archive references: indices up to this, which every reader of the format takes.
inline constexpr std::uint64_t kPropertyListMaxUID = 0xFFFFFFFF;
// Nodes a list may expand to when read (its values, dictionary keys aside; in a binary list an
// object held by several containers counts once for each), unless the caller allows more: lists
// from elsewhere could share containers to expand without bound, or spell millions of values in a
// few bytes each. A list whose containers are each held once, as every list these writers make,
// expands to fewer nodes than it has bytes, so a store reading back its own files of n bytes
// loses nothing by allowing n.
inline constexpr std::uint64_t kPropertyListMaxNodes = 4'000'000;

class PropertyList {
 public:
  // Reads either format; `format` receives the one found.
  static std::optional<Value> read(const Data& data, PropertyListFormat* format = nullptr, Error* error = nullptr,
                                   std::uint64_t maxNodes = kPropertyListMaxNodes);
  static std::optional<Data> write(const Value& value, PropertyListFormat format, Error* error = nullptr,
                                   bool writeUIDs = false);

  static std::optional<Value> readFile(const std::string& path, PropertyListFormat* format = nullptr,
                                       Error* error = nullptr);
  // Written atomically with the given permissions.
  static bool writeFile(const Value& value, const std::string& path, PropertyListFormat format,
                        Error* error = nullptr, unsigned mode = 0644);

  static bool isBinary(const Data& data);
};

// Keyed-archive references as they appear in a Value.
Value uidValue(std::uint64_t index);
std::optional<std::uint64_t> uidIndex(const Value& value);

}  // namespace os
