#pragma once
// Writes os::Value trees (dictionaries, arrays, strings, numbers, booleans, null) as UTF-8 JSON.
#include <functional>
#include <optional>
#include <string>

#include "foundation/formats/JSONCodecProfile.h"
#include "os/core/Error.h"
#include "os/core/Value.h"

// Serialise options (bit set).
inline constexpr unsigned JTSerializeCompact = 0;        // dictionary members in their own order
inline constexpr unsigned JTSerializePretty = 1;         // indented, ": " after keys, keys sorted
inline constexpr unsigned JTSerializeEscapeUnicode = 2;  // non-ASCII as \u escapes
inline constexpr unsigned JTSerializeEscapeSlash = 16;   // "/" as "\/"

// Encode options: the low three bits choose the result, the others restrict the top level.
inline constexpr unsigned JTEncodeAsData = 1;
inline constexpr unsigned JTEncodeAsString = 2;
inline constexpr unsigned JTEncodeCollectionObject = 8;
inline constexpr unsigned JTEncodeStringObject = 16;
inline constexpr unsigned JTEncodeStringObjectTrimQuotes = 32;

class JTSerializer {
 public:
  // Turns a value JSON cannot carry (data, date, set) into one it can, or nothing.
  using UnsupportedClassBlock = std::function<std::optional<os::Value>(const os::Value&)>;

  // The text (an os::Value string) or the bytes (an os::Value data), or nothing with the first
  // error in *error (domain of the profile, code -1, the message).
  static std::optional<os::Value> serializeObject(const os::Value& object, unsigned options, unsigned encodeOption,
                                                  const UnsupportedClassBlock& block = {}, os::Error* error = nullptr,
                                                  const JSONCodecProfile& profile = JSONCodecProfile::current());
};
