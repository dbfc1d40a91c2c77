#pragma once
// The main screen: bounds and scale from the device profile, and the application frame (the
// bounds without the status bar while it shows).
#include "os/graphics/Geometry.h"

namespace os {

class Screen {
 public:
  static constexpr double kStatusBarHeight = 20;

  static Screen& main();
  Rect bounds() const;
  double scale() const;
  Rect applicationFrame() const;
};

}  // namespace os
