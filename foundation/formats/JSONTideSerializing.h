#pragma once
// One-call JSON writing. A collection (array or dictionary) is written whole; a string is written
// as a JSON string, with or without its quotes. Errors carry the names of
// JSONCodecProfile::current(); a value of any other kind at the top fails.
#include <optional>
#include <string>
#include <string_view>

#include "foundation/formats/JTSerializer.h"
#include "os/core/Data.h"
#include "os/core/Error.h"
#include "os/core/Value.h"

// Collections (a string value is written as a string, quotes included).
std::optional<std::string> JSONString(const os::Value& object);
std::optional<os::Data> JSONData(const os::Value& object);
std::optional<std::string> JSONStringWithOptions(const os::Value& collection, unsigned options, os::Error* error = nullptr);
std::optional<os::Data> JSONDataWithOptions(const os::Value& collection, unsigned options, os::Error* error = nullptr);
std::optional<std::string> JSONStringWithOptions(const os::Value& collection, unsigned options,
                                                 const JTSerializer::UnsupportedClassBlock& block, os::Error* error = nullptr);
std::optional<os::Data> JSONDataWithOptions(const os::Value& collection, unsigned options,
                                            const JTSerializer::UnsupportedClassBlock& block, os::Error* error = nullptr);

// Strings.
std::optional<std::string> JSONStringWithOptions(std::string_view string, unsigned options, bool includeQuotes, os::Error* error = nullptr);
std::optional<os::Data> JSONDataWithOptions(std::string_view string, unsigned options, bool includeQuotes, os::Error* error = nullptr);
