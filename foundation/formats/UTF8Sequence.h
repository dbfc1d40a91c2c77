#pragma once
// UTF-8 checks shared by the JSON reader and writer: one sequence at a time, by the table of
// well-formed byte sequences, plus the code points JSON text may not carry.
#include <cstddef>
#include <cstdint>
#include <string>

struct UTF8Sequence {
  enum class Kind { Valid, Truncated, IllFormed };
  Kind kind = Kind::IllFormed;
  char32_t codePoint = 0;
  // Bytes taken: the whole sequence when valid, else the longest well-formed prefix (at least 1).
  std::size_t length = 1;

  // Reads the sequence that starts at bytes[0]; `available` bytes may be read.
  static UTF8Sequence read(const std::uint8_t* bytes, std::size_t available);
};

// Neither 0, a surrogate, U+FDD0-U+FDEF nor U+xFFFE/U+xFFFF, and below U+110000.
bool isAllowedJSONCodePoint(char32_t cp);

