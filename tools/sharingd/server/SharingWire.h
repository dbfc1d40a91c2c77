#pragma once
// The sharing service's side of the wire: the cipher (AES-128-CBC, key from the application key's
// MD5, a fixed vector, zero padding, Base64 outside), the enciphered query and body, and the
// enciphered JSON answers {"st", "msg", "data"}.
#include <optional>
#include <string>
#include <string_view>

#include "os/core/String.h"
#include "os/core/Value.h"

namespace sharingd {

std::optional<std::string> encipher(std::string_view text, std::string_view appKey);
// The text without its padding; absent for anything but padded one-line Base64 of whole cipher
// blocks whose plain text is UTF-8 followed by 1 to 16 zero bytes (a text of whole blocks still
// gets a block of padding, so a request without any was not enciphered by the protocol's rule).
std::optional<std::string> decipher(std::string_view text, std::string_view appKey);

// "a=1&b=%20" to its pairs, values unescaped; absent for a malformed escape (form bodies).
std::optional<os::Dictionary> parseQuery(std::string_view query);
// Text escaped in the one form the service takes: every byte outside `keep` written as "%" and
// two upper-case hexadecimal digits, every byte in it as it is. The plain text, or absent for any
// other form (a byte left raw that should be escaped, an escape of a byte that should stand as it
// is, lower-case digits, a broken escape, text that is not UTF-8).
std::optional<std::string> readEscaped(std::string_view text, std::string_view keep = os::kURLUnreservedCharacters);

// A deciphered "ud_get" query: the base pairs and the action's own, each "name=value" joined by
// "&", every value as it is ("platforms=sina,qq"). "name" (the content's title) is appended last
// and raw, so it runs from "&name=" to the end, "&", "%" and "=" of the title and all. Only the
// descriptor "dc" arrives escaped (letters, digits, "-", "." and "_" stand as they are): it is
// unescaped, and left out when it came in any other form.
os::Dictionary parseEncipheredQuery(std::string_view query);

std::optional<os::Dictionary> parseJSONObject(std::string_view text);
std::string writeJSON(const os::Value& value);

// An answer's body: the JSON text enciphered.
std::string answerBody(int st, const std::string& message, const os::Dictionary& data, std::string_view appKey);

}  // namespace sharingd
