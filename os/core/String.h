#pragma once
// Helpers for text held as UTF-8 in std::string where the behaviour has to match the phone's
// strings: lengths and indexes count UTF-16 units (a character above U+FFFF counts 2), number
// reading follows the platform's lenient rules, and percent-escaping works on bytes.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "os/core/Data.h"

namespace os {

// ---- UTF-16 view of UTF-8 text ----
// Invalid UTF-8 bytes count as one unit each (as if each were replaced by U+FFFD).

std::size_t utf16Length(std::string_view s);

// Byte offset of UTF-16 index `index`; an index that falls between the two halves of a surrogate
// pair maps to the start of that character. nullopt when index > utf16Length(s).
std::optional<std::size_t> byteOffsetForUTF16Index(std::string_view s, std::size_t index);
// UTF-16 index of the character holding byte `offset` (offsets past the end give utf16Length).
std::size_t utf16IndexForByteOffset(std::string_view s, std::size_t offset);

// Substrings by UTF-16 range. Each boundary that falls inside a surrogate pair moves back to the
// start of that character, so a code point is never split. A range beyond the end raises
// os::Exception(kRangeException).
std::string substringWithUTF16Range(std::string_view s, std::size_t location, std::size_t length);
std::string substringFromUTF16Index(std::string_view s, std::size_t index);
std::string substringToUTF16Index(std::string_view s, std::size_t index);
// The UTF-16 unit at index (a surrogate half for characters above U+FFFF); raises
// os::Exception(kRangeException) when index >= utf16Length(s).
char16_t characterAtUTF16Index(std::string_view s, std::size_t index);

std::u16string toUTF16(std::string_view s);
// Unpaired surrogates become U+FFFD.
std::string fromUTF16(std::u16string_view s);
// Appends the UTF-8 form of a code point (surrogates and values above U+10FFFF as U+FFFD).
void appendUTF8(std::string& out, char32_t codePoint);

// Decodes the code point starting at byte `offset`; `length` receives the bytes it takes.
// Invalid sequences give U+FFFD and the length of the maximal invalid subpart (at least 1).
char32_t decodeUTF8At(std::string_view s, std::size_t offset, std::size_t* length, bool* valid = nullptr);

bool isValidUTF8(std::string_view s);
// Every invalid sequence replaced by U+FFFD.
std::string repairUTF8(std::string_view s);
// Text that every store and list can hold: valid UTF-8 without NUL characters. The repair
// replaces each invalid sequence and each NUL by U+FFFD.
bool isStorableText(std::string_view s);
std::string storableText(std::string_view s);

// ---- Case, comparison, whitespace ----

std::string lowercaseASCII(std::string_view s);
std::string uppercaseASCII(std::string_view s);
// Byte order with ASCII letters folded: <0, 0 or >0.
int caseInsensitiveCompare(std::string_view a, std::string_view b);
bool equalsIgnoringCase(std::string_view a, std::string_view b);

// Without leading and trailing white space and line breaks (Unicode spaces such as U+00A0 and the
// ideographic space U+3000 included).
std::string trimWhitespace(std::string_view s);
// Without leading and trailing bytes found in `characters` (ASCII).
std::string trimCharacters(std::string_view s, std::string_view characters);

// As on the platform, an empty prefix, suffix or needle never matches.
bool hasPrefix(std::string_view s, std::string_view prefix);
bool hasSuffix(std::string_view s, std::string_view suffix);
bool contains(std::string_view s, std::string_view needle);

// Pieces between occurrences of separator ("a,,b" gives "a", "", "b"; "" gives one empty piece).
// An empty separator gives the whole string as one piece.
std::vector<std::string> split(std::string_view s, std::string_view separator);
std::string join(const std::vector<std::string>& parts, std::string_view separator);
// Every non-overlapping occurrence, left to right; an empty `from` changes nothing.
std::string replaceAll(std::string_view s, std::string_view from, std::string_view to);

// ---- Numbers read from text ----
// Leading white space, an optional sign, then digits; anything after is ignored; no digits gives 0.
// intValue saturates at the 32-bit limits, longLongValue at the 64-bit ones.
int intValue(std::string_view s);
long long longLongValue(std::string_view s);
// Also reads a fraction and an exponent. Hexadecimal forms, "inf" and "nan" read as 0.
double doubleValue(std::string_view s);

// printf-style formatting into a std::string.
std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// ---- Percent-escaping ----

// RFC 3986 unreserved characters: letters, digits and - . _ ~
inline constexpr std::string_view kURLUnreservedCharacters =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~";
// Characters the platform's plain URL escaping leaves alone: the unreserved ones and
// ! * ' ( ) ; : @ & = + $ , / ? #  ("%" and "[" "]" are escaped).
inline constexpr std::string_view kURLLegalCharacters =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~!*'();:@&=+$,/?#";

// Every byte not in `keep` becomes "%" and two upper-case hexadecimal digits (bytes above 0x7F
// always do, whatever `keep` holds).
std::string percentEscape(std::string_view bytes, std::string_view keep = kURLUnreservedCharacters);
// Decodes %XX sequences; nullopt for a "%" not followed by two hexadecimal digits, or when the
// result is not valid UTF-8.
std::optional<std::string> percentUnescape(std::string_view s);
// The same, without the UTF-8 check (for text escaped in another encoding).
std::optional<std::string> percentUnescapeBytes(std::string_view s);

// Form encoding: unreserved characters stay, a space becomes "+" when asked (else "%20").
std::string formURLEncode(std::string_view s, bool plusForSpace = true);
// "+" becomes a space, then percent escapes are decoded (nullopt as for percentUnescape).
std::optional<std::string> formURLDecode(std::string_view s);

// Base64 of the bytes, in the standard alphabet with "=" padding, on one line.
std::string base64Encoded(std::string_view bytes);

// How base64 text is read. Lenient skips every character outside the alphabet ("=", white space,
// anything else) wherever it stands, and a lone last character. Strict takes white space (space,
// tab, CR, LF) anywhere and "=" padding only at the end, optional but never more than the last
// group lacks; it refuses any other character and a lone last character. PaddedWholeGroups takes
// only whole groups of four, the last one filled up with exactly the "=" it lacks, and refuses
// spare bits that are not zero (so each byte string has one reading); it skips white space (space,
// tab, LF, VT, FF, CR) and the bytes 0xA0 and 0xFF anywhere and refuses any other character.
enum class Base64Reading { Lenient, Strict, PaddedWholeGroups };
// The bytes of base64 text (empty for none); nothing when strict reading refuses it.
std::optional<Data> base64Decoded(std::string_view text, Base64Reading reading);

// Text for HTML or XML, as text and inside quoted attributes: & < > " ' become entities.
std::string escapeMarkup(std::string_view text);

// Text safe to print on a terminal: control characters become escapes (\n, \r, \t, \xNN for
// the other bytes below 0x20 and 0x7F, \u00NN for U+0080 to U+009F), and so do the bytes of
// invalid UTF-8 (\xNN). Everything else, backslashes included, is left as it is.
std::string escapeControlCharacters(std::string_view text);

}  // namespace os
