#pragma once
// Internal to the text engine: a small UTF-8 reader. Malformed bytes read as U+FFFD one byte at
// a time, so hostile text never stalls or overruns the layout.
#include <cstddef>
#include <string>
#include <string_view>

namespace os::textutf8 {

struct Decoded {
  char32_t cp;
  std::size_t bytes;
};

inline Decoded decode(std::string_view s, std::size_t i) {
  const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  unsigned char c = b(i);
  if (c < 0x80) return {c, 1};
  std::size_t n = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
  if (n == 0 || c > 0xF4 || i + n > s.size()) return {0xFFFD, 1};
  char32_t cp = n == 2 ? (c & 0x1F) : n == 3 ? (c & 0x0F) : (c & 0x07);
  for (std::size_t k = 1; k < n; ++k) {
    if ((b(i + k) & 0xC0) != 0x80) return {0xFFFD, 1};
    cp = (cp << 6) | (b(i + k) & 0x3F);
  }
  // Overlong forms, surrogates and values past U+10FFFF are malformed.
  if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) || (cp >= 0xD800 && cp <= 0xDFFF))
    return {0xFFFD, 1};
  return {cp, n};
}

inline std::size_t utf16Units(char32_t cp) { return cp >= 0x10000 ? 2 : 1; }

inline std::size_t utf16Length(std::string_view s) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < s.size();) {
    Decoded d = decode(s, i);
    n += utf16Units(d.cp);
    i += d.bytes;
  }
  return n;
}

inline void append(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace os::textutf8
