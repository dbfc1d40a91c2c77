#include "news/article/VXNewsDetailToolbar.h"

#include "news/article/VXNewsDetailBaseCell.h"
#include "os/views/NamedImage.h"

VXNewsDetailToolbar::VXNewsDetailToolbar(const os::Rect& frame) : os::View(frame) {
  setBackgroundColor(os::Color::white());
  lineView_ = std::make_shared<os::View>(os::Rect{0, 0, 320, 1});
  lineView_->setBackgroundColor(os::Color::withWhite(0.8));
  addSubview(lineView_);
  favoriteButton_ = addButton(0, "detail_toolbar_favorite", "收藏");
  favoriteButton_->setImage(os::imageNamed("detail_toolbar_favorite_selected"), os::kControlStateSelected);
  shareButton_ = addButton(1, "detail_toolbar_share", "分享");
  fontButton_ = addButton(2, "detail_toolbar_font", "字体");
  moreButton_ = addButton(3, "detail_toolbar_more", "更多");
}

std::shared_ptr<os::Button> VXNewsDetailToolbar::addButton(int index, const std::string& image, const std::string& label) {
  auto button = os::Button::buttonWithType(os::ButtonType::Custom);
  // The buttons show only pictures; a reader who cannot see them hears what they do.
  button->setAccessibilityLabel(label);
  button->setFrame(os::Rect{index * kButtonWidth, 1, kButtonWidth, kButtonHeight});
  button->setImage(os::imageNamed(image), os::kControlStateNormal);
  button->setImage(os::imageNamed(image + "_press"), os::kControlStateHighlighted);
  addSubview(button);
  return button;
}
