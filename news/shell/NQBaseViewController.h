#pragma once
// The base of every screen of the reader: white background, a white title label in the
// navigation bar when the screen names a title, content below the bar on newer systems, and a
// hidden status bar when asked.
#include <string>

#include "os/views/ViewController.h"
#include "ui/widgets/KHProgressHUD.h"

class NQBaseViewController : public os::ViewController, public KHProgressHUDDelegate {
 public:
  NQBaseViewController() = default;
  std::string className() const override { return "NQBaseViewController"; }

  void viewDidLoad() override;
  void viewDidAppear(bool animated) override {}

  // Whether the content starts below the navigation bar on system 7 and later.
  virtual bool adaptIOS7() const { return true; }
  // The title shown in the bar; "" shows none.
  virtual std::string navbarTitle() const { return ""; }
  // Puts the title label into the bar; screens with a bar of their own override it.
  virtual void customNavbar();
  void hideStatusBar();
  bool prefersStatusBarHidden() const override { return true; }
};
