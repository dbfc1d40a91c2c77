#pragma once
// What the server needs of the system's JSON codec and Base64, in one place: parameter text in,
// answer text out.
#include <optional>
#include <string>
#include <string_view>

#include "os/core/Value.h"

namespace newsd {

// The JSON value of UTF-8 text, or nothing when it is not JSON.
std::optional<os::Value> parseJSON(std::string_view text);
// Compact JSON text of a dictionary or array (members in their own order).
std::string writeJSON(const os::Value& value);
// The envelope every answer of the API comes in.
os::Value envelope(int errorcode, long long opcode, os::Dictionary data);

// The bytes of a "p" field. Strict about what a signed request may carry: only the standard
// alphabet with at most two "=" at the end and a length that is a multiple of 4. In particular a
// line break, which the reader must have removed, makes the field malformed.
std::optional<std::string> decodeParameterText(std::string_view p);
// The JSON object that a "p" field carries; nothing when it is not (strict) Base64 of one.
std::optional<os::Dictionary> decodeParameters(std::string_view p);
// Base64 of text without line breaks, as a reader builds "p".
std::string encodeParameterText(std::string_view text);
// Lenient decoding of an uploaded blob (a crash dump): nothing when no bytes result.
std::optional<std::string> decodeBase64Blob(std::string_view text);

}  // namespace newsd
