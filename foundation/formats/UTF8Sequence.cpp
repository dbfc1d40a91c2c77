#include "foundation/formats/UTF8Sequence.h"

UTF8Sequence UTF8Sequence::read(const std::uint8_t* bytes, std::size_t available) {
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

bool isAllowedJSONCodePoint(char32_t cp) {
  if (cp == 0 || cp >= 0x110000) return false;
  if (cp >= 0xD800 && cp <= 0xDFFF) return false;
  if (cp >= 0xFDD0 && cp <= 0xFDEF) return false;
  if ((cp & 0xFFFE) == 0xFFFE) return false;
  return true;
}

