#include "os/graphics/TextMetrics.h"

#include <mutex>

namespace os {

// Space, punctuation and digits are narrow-to-medium; digits share one width so columns of
// numbers line up; capitals are wider than lower case; i, j, l and friends are narrow.
const short DefaultTextMetrics::kAsciiAdvances[95] = {
    250,                                                   // space
    300, 400, 550, 550, 850, 700, 200, 350, 350, 450, 600,  // ! " # $ % & ' ( ) * +
    250, 350, 250, 300,                                     // , - . /
    550, 550, 550, 550, 550, 550, 550, 550, 550, 550,       // 0-9
    300, 300, 600, 600, 600, 500, 950,                      // : ; < = > ? @
    650, 650, 700, 700, 600, 550, 750, 700, 300, 500, 650, 550, 850,  // A-M
    700, 750, 600, 750, 650, 600, 600, 700, 650, 950, 650, 650, 600,  // N-Z
    300, 300, 300, 500, 550, 300,                           // [ \ ] ^ _ `
    550, 550, 500, 550, 550, 300, 550, 550, 250, 250, 500, 250, 850,  // a-m
    550, 550, 550, 550, 350, 500, 300, 550, 500, 750, 500, 500, 450,  // n-z
    350, 250, 350, 600,                                     // { | } ~
};

bool DefaultTextMetrics::isFullWidth(char32_t c) {
  return (c >= 0x1100 && c <= 0x115F) ||    // hangul jamo
         c == 0x2026 ||                     // ellipsis, as CJK faces draw it
         (c >= 0x2E80 && c <= 0x303E) ||    // radicals, CJK symbols and punctuation
         (c >= 0x3041 && c <= 0x33FF) ||    // kana, bopomofo, compatibility
         (c >= 0x3400 && c <= 0x4DBF) ||    // extension A
         (c >= 0x4E00 && c <= 0x9FFF) ||    // unified ideographs
         (c >= 0xA000 && c <= 0xA4CF) ||    // yi
         (c >= 0xAC00 && c <= 0xD7A3) ||    // hangul syllables
         (c >= 0xF900 && c <= 0xFAFF) ||    // compatibility ideographs
         (c >= 0xFE30 && c <= 0xFE4F) ||    // compatibility forms
         (c >= 0xFF01 && c <= 0xFF60) ||    // full-width forms
         (c >= 0xFFE0 && c <= 0xFFE6) ||    // full-width signs
         (c >= 0x1F300 && c <= 0x1FAFF) ||  // emoji
         (c >= 0x20000 && c <= 0x3FFFD);    // supplementary ideographs
}

double DefaultTextMetrics::advance(char32_t c, const Font& font) const {
  double em = font.pointSize();
  if (c >= 0x20 && c <= 0x7E) return kAsciiAdvances[c - 0x20] / 1000.0 * em;
  if (c == '\t') return 4 * kAsciiAdvances[0] / 1000.0 * em;
  if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0)) return 0;
  if ((c >= 0x0300 && c <= 0x036F) || (c >= 0x200B && c <= 0x200F) || c == 0xFEFF) return 0;
  if (isFullWidth(c)) return em;
  return kDefaultAdvance * em;
}

namespace {
std::mutex gMetricsMutex;
std::shared_ptr<const TextMetrics>& installed() {
  // Never destroyed: layout on other threads may still measure while the process exits.
  static auto* m = new std::shared_ptr<const TextMetrics>(std::make_shared<DefaultTextMetrics>());
  return *m;
}
}  // namespace

std::shared_ptr<const TextMetrics> TextMetrics::currentShared() {
  std::lock_guard lock(gMetricsMutex);
  return installed();
}

std::shared_ptr<const TextMetrics> TextMetrics::install(std::shared_ptr<const TextMetrics> metrics) {
  if (!metrics) metrics = std::make_shared<DefaultTextMetrics>();
  std::lock_guard lock(gMetricsMutex);
  auto previous = installed();
  installed() = std::move(metrics);
  return previous;
}

}  // namespace os
