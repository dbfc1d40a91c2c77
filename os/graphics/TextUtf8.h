#pragma once
// Internal to the text engine: the shared UTF-8 reader in the shape the layout code walks text.
// Malformed bytes read as U+FFFD and always advance, so hostile text never stalls the layout.
#include <cstddef>
#include <string>
#include <string_view>

#include "os/core/String.h"

namespace os::textutf8 {

struct Decoded {
  char32_t cp;
  std::size_t bytes;
};

inline Decoded decode(std::string_view s, std::size_t i) {
  // An invalid byte is one U+FFFD on its own, as os::utf16Length counts it, so line ranges agree.
  std::size_t length = 1;
  bool valid = false;
  char32_t cp = decodeUTF8At(s, i, &length, &valid);
  return {cp, valid ? length : 1};
}

inline std::size_t utf16Units(char32_t cp) { return cp >= 0x10000 ? 2 : 1; }

inline std::size_t utf16Length(std::string_view s) { return os::utf16Length(s); }

inline void append(std::string& out, char32_t cp) { appendUTF8(out, cp); }

}  // namespace os::textutf8
