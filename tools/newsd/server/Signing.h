#pragma once
// The request signature both APIs carry: a signing key derived from a stored key, and a 32-digit
// check code over the Base64 parameter text as it was posted.
#include <string>
#include <string_view>

namespace newsd {

// The stored keys of the deployment. The reader must be built with the same two keys.
inline constexpr std::string_view kNewsSecretKey = "Rk7pQ2vXs9LmT4bN8cYw3HdJ6fGz1AeU";   // 32
inline constexpr std::string_view kPromotionSecretKey = "Wm4tZ8qLc2VxN7sKb5RfH3jYd9PgEa";  // 30

// The signing key: character i becomes the hexadecimal digit of (code of key[i] + i / 2) mod 16.
std::string deriveSigningKey(std::string_view storedKey);

// Digit i is (code of md5hex(p)[i] + code of signingKey[i mod length]) mod 16, in lower case.
// An empty signing key gives an empty code (nothing can be signed with it).
std::string checkCode(std::string_view p, std::string_view signingKey);

// Compares without an early exit, so the time taken says nothing about where a guess went wrong.
bool checkCodeMatches(std::string_view given, std::string_view expected);

}  // namespace newsd
