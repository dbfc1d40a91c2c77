#pragma once
// The news client's one progress HUD: a short text (or a spinner) laid over whichever view asked
// last, its text replaced by each call, optionally hiding itself after 1 s. Callable from any
// thread; the work is done on the main queue.
#include <memory>
#include <string>

#include "os/views/View.h"

class KHProgressHUD;

class VXHudHelper {
 public:
  static constexpr double kAutoHideDelay = 1.0;

  // Text alone.
  static void showHud(const std::string& text, const std::shared_ptr<os::View>& view, bool autoHide);
  // A spinner with the text under it.
  static void showActivityHud(const std::string& text, const std::shared_ptr<os::View>& view, bool autoHide);
  static void hideHud(bool animated);

  // The HUD, null until first shown. For tests and for the screens that read what it says.
  static std::shared_ptr<KHProgressHUD> hud();
  // The text it shows now, or "" when hidden or never shown.
  static std::string visibleText();
};
