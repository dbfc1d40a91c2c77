#include "news/shell/NQBaseViewController.h"

#include <memory>

#include "os/graphics/Color.h"
#include "os/graphics/Font.h"
#include "os/views/Device.h"
#include "os/views/Label.h"
#include "os/views/NavigationBar.h"
#include "os/views/View.h"

namespace {
bool systemAtLeast7() { return os::Device::current().systemVersionNumber() >= 7; }
}  // namespace

void NQBaseViewController::viewDidLoad() {
  os::ViewController::viewDidLoad();
  if (adaptIOS7() && systemAtLeast7()) setEdgesForExtendedLayout(os::kRectEdgeNone);
  view()->setBackgroundColor(os::Color::white());
  if (!navbarTitle().empty()) customNavbar();
}

void NQBaseViewController::customNavbar() {
  auto label = os::makeView<os::Label>(os::Rect(0, 0, 100, 44));
  label->setBackgroundColor(os::Color::clear());
  label->setFont(os::Font::systemFont(22));
  label->setTextColor(os::Color::white());
  label->setTextAlignment(os::TextAlignment::Center);
  label->setText(navbarTitle());
  navigationItem()->setTitleView(label);
}

void NQBaseViewController::hideStatusBar() {
  // Only systems from 7 on let a screen decide about the status bar.
  if (systemAtLeast7()) setNeedsStatusBarAppearanceUpdate();
}
