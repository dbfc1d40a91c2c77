#include "news/article/VXNewsDetailToolbar.h"

#include "news/article/VXNewsDetailBaseCell.h"
#include "os/views/NamedImage.h"

VXNewsDetailToolbar::VXNewsDetailToolbar(const os::Rect& frame) : os::View(frame) {
  setBackgroundColor(os::Color::white());
  lineView_ = std::make_shared<os::View>(os::Rect{0, 0, 320, 1});
  lineView_->setBackgroundColor(os::Color::withWhite(0.8));
  addSubview(lineView_);
  favoriteButton_ = addButton(0, "detail_toolbar_favorite");
  favoriteButton_->setImage(os::imageNamed("detail_toolbar_favorite_selected"), os::kControlStateSelected);
  shareButton_ = addButton(1, "detail_toolbar_share");
  fontButton_ = addButton(2, "detail_toolbar_font");
  moreButton_ = addButton(3, "detail_toolbar_more");
}

std::shared_ptr<os::Button> VXNewsDetailToolbar::addButton(int index, const std::string& image) {
  auto button = os::Button::buttonWithType(os::ButtonType::Custom);
  button->setFrame(os::Rect{index * kButtonWidth, 1, kButtonWidth, kButtonHeight});
  button->setImage(os::imageNamed(image), os::kControlStateNormal);
  button->setImage(os::imageNamed(image + "_press"), os::kControlStateHighlighted);
  addSubview(button);
  return button;
}
