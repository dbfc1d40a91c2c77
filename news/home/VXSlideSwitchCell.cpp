#include "news/home/VXSlideSwitchCell.h"

#include "news/shell/ButtonEnlargeArea.h"
#include "os/graphics/Image.h"
#include "os/views/NamedImage.h"

VXSlideSwitchCell::VXSlideSwitchCell(const os::Rect& frame, const std::string& title, int tag) : os::View(frame) {
  setBackgroundColor(os::Color::clear());
  button_ = std::make_shared<os::Button>(os::ButtonType::Custom);
  button_->setBackgroundImage(os::imageNamed("SwitchCellSelected"), os::kControlStateSelected);
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
