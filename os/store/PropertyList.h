#pragma once
// Property lists (XML and binary) to and from os::Value.
//
// A property list has no null, so writing a null is an error; a set is written as an array. Integers
// read back as signed 64-bit numbers (type code 'q'), reals as doubles. A binary list keeps every
// date whole (its seconds since 2001 as a 64-bit real); XML keeps whole seconds ("2100-01-01T00:00:00Z",
// a year before 0 or past 9999 signed), of any finite date within 2^62 seconds of 2001. A keyed
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

// Nesting beyond this is refused on reading (hostile input) and on writing.
inline constexpr int kPropertyListMaxDepth = 512;

class PropertyList {
 public:
  // Reads either format; `format` receives the one found.
  static std::optional<Value> read(const Data& data, PropertyListFormat* format = nullptr, Error* error = nullptr);
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
