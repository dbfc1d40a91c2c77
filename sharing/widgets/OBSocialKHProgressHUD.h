#pragma once
// The sharing component's progress panel: the program's HUD in its sharing edition, a spinner
// and one label on an opaque black panel.
#include <memory>

#include "ui/widgets/KHProgressHUD.h"

class OBSocialKHProgressHUD {
 public:
  static KHProgressHUDStyle style() {
    KHProgressHUDStyle s;
    s.className = "OBSocialKHProgressHUD";
    s.panelInContextFillColor = true;
    return s;
  }
  static std::shared_ptr<KHProgressHUD> initWithView(const os::View& view) { return KHProgressHUD::initWithView(view, style()); }
  static std::shared_ptr<KHProgressHUD> initWithWindow(const os::Window& window) {
    return KHProgressHUD::initWithWindow(window, style());
  }
};
