#pragma once
// UTF-8 checks shared by the JSON reader and writer: one sequence at a time, by the table of
// well-formed byte sequences, plus the code points JSON text may not carry.
#include <cstddef>
#include <cstdint>
#include <cstring>
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

// Bit 7 of each byte of the result is set where the eight bytes of text in `word` (read in
// memory order) have a byte that ends a run of plain JSON string text: a quotation mark, a
// backslash, a control byte or a byte outside ASCII. Only the lowest marked byte is exact, which
// is the one a scanner needs; a word with none is passed over whole.
inline std::uint64_t jsonStringStops(std::uint64_t word) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ull, kHighs = 0x8080808080808080ull;
  const std::uint64_t quote = word ^ (kOnes * '"'), backslash = word ^ (kOnes * '\\');
  return (((quote - kOnes) & ~quote) | ((backslash - kOnes) & ~backslash) | ((word - kOnes * 0x20) & ~word) | word) & kHighs;
}

// Passes over plain JSON string text a word at a time: the first byte at or after `p` that ends
// such a run, or, when fewer than eight bytes remain, the first of them (the caller goes on byte
// by byte).
inline const std::uint8_t* skipPlainJSONText(const std::uint8_t* p, const std::uint8_t* end) {
  while (end - p >= 8) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    if (const std::uint64_t stops = jsonStringStops(word)) return p + __builtin_ctzll(stops) / 8;
    p += 8;
  }
  return p;
}

// Inline: the JSON reader and writer call it for every character outside ASCII.
inline UTF8Sequence UTF8Sequence::read(const std::uint8_t* bytes, std::size_t available) {
  UTF8Sequence s;
  if (available == 0) {
    s.kind = Kind::Truncated;
    s.length = 0;
    return s;
  }
  const std::uint8_t lead = bytes[0];
  if (lead < 0x80) {
    s.kind = Kind::Valid;
    s.codePoint = lead;
    return s;
  }
  std::size_t need = 0;
  std::uint8_t lo = 0x80, hi = 0xBF;  // range of the second byte
  char32_t cp = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    need = 2;
    cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    need = 3;
    cp = lead & 0x0F;
    if (lead == 0xE0) lo = 0xA0;
    if (lead == 0xED) hi = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    need = 4;
    cp = lead & 0x07;
    if (lead == 0xF0) lo = 0x90;
    if (lead == 0xF4) hi = 0x8F;
  } else {
    return s;  // ill-formed lead byte, one byte long
  }
  for (std::size_t i = 1; i < need; ++i) {
    if (i >= available) {
      s.kind = Kind::Truncated;
      s.length = i;
      return s;
    }
    const std::uint8_t b = bytes[i];
    const std::uint8_t low = i == 1 ? lo : 0x80, high = i == 1 ? hi : 0xBF;
    if (b < low || b > high) {
      s.length = i;
      return s;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  s.kind = Kind::Valid;
  s.codePoint = cp;
  s.length = need;
  return s;
}


// Neither 0, a surrogate, U+FDD0-U+FDEF nor U+xFFFE/U+xFFFF, and below U+110000.
inline bool isAllowedJSONCodePoint(char32_t cp) {
  if (cp == 0 || cp >= 0x110000) return false;
  if (cp >= 0xD800 && cp <= 0xDFFF) return false;
  if (cp >= 0xFDD0 && cp <= 0xFDEF) return false;
  if ((cp & 0xFFFE) == 0xFFFE) return false;
  return true;
}

// The length of the well-formed sequence at bytes[0] (a byte of 0x80 or more) when its code point
// is one JSON text may carry, else 0. The common two- and three-byte forms are checked here
// inline, since text scanners call this for every character outside ASCII.
inline std::size_t allowedJSONSequenceLength(const std::uint8_t* bytes, std::size_t available) {
  const std::uint8_t lead = bytes[0];
  // Every code point these lead bytes start (most of the BMP, CJK among it) is allowed.
  if ((lead >= 0xE1 && lead <= 0xEC) || lead == 0xEE)
    return available >= 3 && (bytes[1] & 0xC0) == 0x80 && (bytes[2] & 0xC0) == 0x80 ? 3 : 0;
  if (lead >= 0xE0 && lead <= 0xEF) {
    if (available < 3) return 0;
    const std::uint8_t lo = lead == 0xE0 ? 0xA0 : 0x80, hi = lead == 0xED ? 0x9F : 0xBF;
    if (bytes[1] < lo || bytes[1] > hi || (bytes[2] & 0xC0) != 0x80) return 0;
    const char32_t cp = (char32_t{lead & 0x0Fu} << 12) | (char32_t{bytes[1] & 0x3Fu} << 6) | (bytes[2] & 0x3Fu);
    return isAllowedJSONCodePoint(cp) ? 3 : 0;
  }
  if (lead >= 0xC2 && lead <= 0xDF) return available >= 2 && (bytes[1] & 0xC0) == 0x80 ? 2 : 0;
  const UTF8Sequence s = UTF8Sequence::read(bytes, available);
  return s.kind == UTF8Sequence::Kind::Valid && isAllowedJSONCodePoint(s.codePoint) ? s.length : 0;
}

