#pragma once
// The base of the screens opened from the left menu: coming back from one of them, by the back
// button or by dragging it away, shows the home screen with the menu open again.
#include <string>

#include "news/shell/NQBaseViewController.h"
#include "news/shell/VXCustomNavController.h"

class VXLeftBaseViewController : public NQBaseViewController, public VXNavBackClickDelegate {
 public:
  std::string className() const override { return "VXLeftBaseViewController"; }
  void backButtonClick() override;
  void panGetstureRecognizerEnded() override;
};
