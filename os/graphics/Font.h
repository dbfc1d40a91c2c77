#pragma once
// A font: a name and a point size. Its vertical metrics come from the installed TextMetrics.
#include <string>

namespace os {

class Font {
 public:
  static constexpr const char* kSystemFontName = "System";
  static constexpr const char* kBoldSystemFontName = "System-Bold";

  Font() = default;
  // A name ending in "-Bold" (or containing "Bold") counts as bold.
  Font(std::string name, double pointSize);
  static Font systemFont(double size) { return Font(kSystemFontName, size); }
  static Font boldSystemFont(double size) { return Font(kBoldSystemFontName, size); }

  const std::string& fontName() const { return name_; }
  double pointSize() const { return size_; }
  bool isBold() const { return bold_; }
  Font withSize(double size) const { return Font(name_, size); }

  // From the installed metrics: ascender above the baseline (positive), descender below it
  // (negative, as fonts report it), and the distance between baselines.
  double ascender() const;
  double descender() const;
  double lineHeight() const;

  bool operator==(const Font&) const = default;

 private:
  std::string name_ = kSystemFontName;
  double size_ = 12;
  bool bold_ = false;
};

}  // namespace os
