#pragma once
// One category tab: a rounded button inset in its cell, gray title when idle, white on the
// selected picture when chosen, with a touch area a little larger than it looks.
#include <memory>
#include <string>

#include "os/views/Button.h"
#include "os/views/View.h"

class VXSlideSwitchCell : public os::View {
 public:
  static constexpr double kButtonInset = 4;
  static constexpr double kTouchMargin = 5;

  VXSlideSwitchCell(const os::Rect& frame, const std::string& title, int tag);
  std::string className() const override { return "VXSlideSwitchCell"; }

  const std::shared_ptr<os::Button>& button() const { return button_; }

 private:
  std::shared_ptr<os::Button> button_;
};
