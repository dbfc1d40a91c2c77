#pragma once
// The sharing service's side of the wire: the cipher (AES-128-CBC, key from the application key's
// MD5, a fixed vector, zero padding, Base64 outside), the enciphered query and body, and the
// enciphered JSON answers {"st", "msg", "data"}.
#include <optional>
#include <string>
#include <string_view>

#include "os/core/Value.h"

namespace sharingd {

std::optional<std::string> encipher(std::string_view text, std::string_view appKey);
// The text without its padding; absent for anything but padded one-line Base64 of whole cipher
// blocks whose plain text is UTF-8 followed by 1 to 16 zero bytes (a text of whole blocks still
// gets a block of padding, so a request without any was not enciphered by the protocol's rule).
std::optional<std::string> decipher(std::string_view text, std::string_view appKey);

// "a=1&b=%20" to its pairs, values unescaped; absent for a malformed escape (form bodies).
std::optional<os::Dictionary> parseQuery(std::string_view query);
// A deciphered "ud_get" query: the client puts each value as it is, so values are taken as they
// stand ("platforms=sina,qq"), but for "%25" and "%26", which stand for the "%" and "&" a value
// holds. "name" (the content's title) stands last and runs to the end, so a title whose "&" came
// as it is stays whole. Only the descriptor "dc" arrives wholly percent-escaped: it is unescaped,
// and left out when it holds anything but letters, digits, "-", ".", "_" and escapes (one that
// came unescaped could not be told from the pairs around it).
os::Dictionary parseEncipheredQuery(std::string_view query);

std::optional<os::Dictionary> parseJSONObject(std::string_view text);
std::string writeJSON(const os::Value& value);

// An answer's body: the JSON text enciphered.
std::string answerBody(int st, const std::string& message, const os::Dictionary& data, std::string_view appKey);

}  // namespace sharingd
