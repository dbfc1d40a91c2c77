#include "news/home/VXSlideSwitchCell.h"

#include "news/shell/ButtonEnlargeArea.h"
#include "os/graphics/Image.h"
#include "os/store/Bundle.h"
#include "os/views/Screen.h"

VXSlideSwitchCell::VXSlideSwitchCell(const os::Rect& frame, const std::string& title, int tag) : os::View(frame) {
  setBackgroundColor(os::Color::clear());
  button_ = std::make_shared<os::Button>(os::ButtonType::Custom);
  std::shared_ptr<os::Image> selected;
  if (auto bundle = os::Bundle::mainBundle())
    selected = os::imageNamed(bundle->bundlePath(), "SwitchCellSelected", os::Screen::main().scale());
  button_->setBackgroundImage(selected, os::kControlStateSelected);
  button_->setTitle(title, os::kControlStateNormal);
  button_->setTitleColor(os::Color::gray(), os::kControlStateNormal);
  button_->setTitleColor(os::Color::white(), os::kControlStateSelected);
  const os::Rect b = bounds();
  button_->setFrame(os::Rect{b.origin.x + kButtonInset, b.origin.y + kButtonInset, b.size.width - 2 * kButtonInset,
                             b.size.height - 2 * kButtonInset});
  button_->setTag(tag);
  setEnlargeEdge(*button_, kTouchMargin);
  button_->layer().setCornerRadius(3);
  button_->layer().setMasksToBounds(true);
  addSubview(button_);
}
