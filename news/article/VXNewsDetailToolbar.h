#pragma once
// The bar under an article: favourite, share, text size and more, each a quarter of the width.
// The screen attaches the actions.
#include <memory>

#include "os/views/Button.h"
#include "os/views/View.h"

class VXNewsDetailToolbar : public os::View {
 public:
  static constexpr double kHeight = 40;
  static constexpr double kButtonWidth = 80;
  static constexpr double kButtonHeight = 39;

  explicit VXNewsDetailToolbar(const os::Rect& frame);
  std::string className() const override { return "VXNewsDetailToolbar"; }

  const std::shared_ptr<os::View>& lineView() const { return lineView_; }
  const std::shared_ptr<os::Button>& favoriteButton() const { return favoriteButton_; }
  const std::shared_ptr<os::Button>& shareButton() const { return shareButton_; }
  const std::shared_ptr<os::Button>& fontButton() const { return fontButton_; }
  const std::shared_ptr<os::Button>& moreButton() const { return moreButton_; }

 private:
  std::shared_ptr<os::Button> addButton(int index, const std::string& image, const std::string& label);

  std::shared_ptr<os::View> lineView_;
  std::shared_ptr<os::Button> favoriteButton_, shareButton_, fontButton_, moreButton_;
};
