#pragma once
// Glyph advances and vertical metrics for text layout. One deterministic default so that layout
// numbers are exact in tests; another set can be installed process-wide.
//
// Default metrics (em = the font's point size):
//   - ascent 0.8 em, descent 0.2 em, leading 0.2 em, so the line height is 1.2 em;
//   - CJK ideographs, kana, hangul, full-width forms, CJK punctuation, "…" and emoji: 1 em;
//   - printable ASCII: a fixed proportional table (kAsciiAdvances, thousandths of an em);
//     a tab is four spaces; other control characters, combining marks and zero-width
//     characters: 0; anything else: 0.5 em;
//   - bold faces use the same advances as regular ones.
#include <memory>

#include "os/graphics/Font.h"

namespace os {

class TextMetrics {
 public:
  virtual ~TextMetrics() = default;
  // Horizontal advance of one code point in the font, in points.
  virtual double advance(char32_t codePoint, const Font& font) const = 0;
  virtual double ascent(const Font& font) const = 0;   // positive
  virtual double descent(const Font& font) const = 0;  // positive, below the baseline
  virtual double leading(const Font& font) const = 0;
  double lineHeight(const Font& font) const { return ascent(font) + descent(font) + leading(font); }

  // The installed metrics (the default unless another was installed).
  static std::shared_ptr<const TextMetrics> currentShared();
  static const TextMetrics& current() { return *currentShared(); }
  // Installs metrics for the whole process; null restores the default. Returns the previous ones.
  static std::shared_ptr<const TextMetrics> install(std::shared_ptr<const TextMetrics> metrics);
};

class DefaultTextMetrics : public TextMetrics {
 public:
  static constexpr double kAscent = 0.8;
  static constexpr double kDescent = 0.2;
  static constexpr double kLeading = 0.2;
  static constexpr double kDefaultAdvance = 0.5;
  // Advances of U+0020..U+007E in thousandths of an em.
  static const short kAsciiAdvances[95];

  double advance(char32_t codePoint, const Font& font) const override;
  double ascent(const Font& font) const override { return kAscent * font.pointSize(); }
  double descent(const Font& font) const override { return kDescent * font.pointSize(); }
  double leading(const Font& font) const override { return kLeading * font.pointSize(); }

  // Whether the character takes a full em (and may be broken around anywhere in word wrap).
  static bool isFullWidth(char32_t c);
};

// Installs metrics for a scope (tests), restoring the previous ones on exit.
class TextMetricsScope {
 public:
  explicit TextMetricsScope(std::shared_ptr<const TextMetrics> m) : previous_(TextMetrics::install(std::move(m))) {}
  ~TextMetricsScope() { TextMetrics::install(previous_); }
  TextMetricsScope(const TextMetricsScope&) = delete;
  TextMetricsScope& operator=(const TextMetricsScope&) = delete;

 private:
  std::shared_ptr<const TextMetrics> previous_;
};

}  // namespace os
