#include "os/graphics/Color.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace os {

namespace {
unsigned char toByte(double v) { return static_cast<unsigned char>(std::lround(std::clamp(v, 0.0, 1.0) * 255)); }
}  // namespace

Color Color::fromRGB255(int r, int g, int b, double a) { return {r / 255.0, g / 255.0, b / 255.0, a}; }

unsigned char Color::redByte() const { return toByte(r); }
unsigned char Color::greenByte() const { return toByte(g); }
unsigned char Color::blueByte() const { return toByte(b); }
unsigned char Color::alphaByte() const { return toByte(a); }

std::string Color::description() const {
  char buf[96];
  std::snprintf(buf, sizeof buf, "rgba(%.2f, %.2f, %.2f, %.2f)", r, g, b, a);
  return buf;
}

}  // namespace os
