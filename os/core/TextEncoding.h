#pragma once
// Conversion between UTF-8 text and bytes in other character encodings (through iconv).
// Nothing here throws: bytes that do not convert give nullopt.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "os/core/Data.h"
#include "os/core/String.h"

namespace os {

// The string-encoding codes the system stores and passes as unsigned 32-bit numbers
// (4 is UTF-8 wherever a code is written down).
enum class StringEncoding : std::uint32_t {
  ASCII = 1,
  EUCJP = 3,
  UTF8 = 4,
  ISOLatin1 = 5,
  ShiftJIS = 8,
  ISOLatin2 = 9,
  UTF16 = 10,  // with a byte-order mark; written little-endian
  WindowsCP1252 = 12,
  UTF16BE = 0x90000100,
  UTF16LE = 0x94000100,
  UTF32 = 0x8C000100,
  GBK = 0x80000631,
  GB18030 = 0x80000632,
  GB2312 = 0x80000930,
  Big5 = 0x80000A03,
};

// The encoding for a charset name as found in a Content-Type header, matched case-insensitively
// ("utf-8", "UTF8", "latin1", "gb2312", ...). nullopt for names not in the table.
std::optional<StringEncoding> encodingForCharsetName(std::string_view name);
// The IANA name, lower-case ("utf-8", "iso-8859-1", "gb18030", ...).
std::string charsetName(StringEncoding encoding);
// The encoding for a stored code, nullopt when the code is unknown.
std::optional<StringEncoding> encodingForCode(std::uint32_t code);

// Bytes in `encoding` to UTF-8 text; nullopt when they are not valid in that encoding.
std::optional<std::string> decodeText(std::string_view bytes, StringEncoding encoding);
std::optional<std::string> decodeText(const Data& bytes, StringEncoding encoding);
// The same for any charset name iconv knows (conversion suffixes such as "//IGNORE" are refused).
std::optional<std::string> decodeText(std::string_view bytes, std::string_view charset);

// UTF-8 text to bytes in `encoding`; nullopt when the text is not valid UTF-8 or holds a
// character the encoding cannot represent.
std::optional<Data> encodeText(std::string_view utf8, StringEncoding encoding);
std::optional<Data> encodeText(std::string_view utf8, std::string_view charset);

// Percent-escapes the bytes of the text in `encoding` (see os::percentEscape).
std::optional<std::string> percentEscape(std::string_view utf8, StringEncoding encoding,
                                         std::string_view keep = kURLUnreservedCharacters);

}  // namespace os
