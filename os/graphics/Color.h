#pragma once
// An RGBA colour with components from 0 to 1 (not premultiplied).
#include <string>

namespace os {

struct Color {
  double r = 0, g = 0, b = 0, a = 1;

  static Color rgba(double r, double g, double b, double a = 1) { return Color{r, g, b, a}; }
  // Components given as 0..255 integers (alpha stays 0..1), as colour tables are written.
  static Color fromRGB255(int r, int g, int b, double a = 1);
  // A grey level with alpha.
  static Color withWhite(double w, double a = 1) { return {w, w, w, a}; }

  static Color clear() { return {0, 0, 0, 0}; }
  static Color black() { return {0, 0, 0, 1}; }
  static Color white() { return {1, 1, 1, 1}; }
  static Color gray() { return {0.5, 0.5, 0.5, 1}; }
  static Color lightGray() { return {2.0 / 3, 2.0 / 3, 2.0 / 3, 1}; }
  static Color darkGray() { return {1.0 / 3, 1.0 / 3, 1.0 / 3, 1}; }
  static Color red() { return {1, 0, 0, 1}; }
  static Color green() { return {0, 1, 0, 1}; }
  static Color blue() { return {0, 0, 1, 1}; }
  static Color yellow() { return {1, 1, 0, 1}; }
  static Color orange() { return {1, 0.5, 0, 1}; }

  Color withAlpha(double alpha) const { return {r, g, b, alpha}; }
  // Components as 0..255 bytes, rounded and clamped.
  unsigned char redByte() const;
  unsigned char greenByte() const;
  unsigned char blueByte() const;
  unsigned char alphaByte() const;

  // "rgba(r, g, b, a)" with two decimals, for recorded drawing and screen dumps.
  std::string description() const;
  bool operator==(const Color&) const = default;
};

}  // namespace os
