#include "sharing/screens/OBSocialUIHelper.h"

#include "os/graphics/Font.h"
#include "os/views/Button.h"
#include "os/views/Label.h"
#include "os/views/NamedImage.h"
#include "os/views/NavigationBar.h"
#include "sharing/service/OBSocialConfig.h"
#include "sharing/service/OBSocialContext.h"

namespace {

const os::Color kTitleColor = os::Color::rgba(70 / 255.0, 79 / 255.0, 97 / 255.0, 1);
const os::Color kLightBarTint = os::Color::rgba(238 / 255.0, 238 / 255.0, 238 / 255.0, 1);

bool themeOne() { return OBSocialConfigInternal::shareInstance()->socialTheme() == 1; }

void imageButton(os::Button& button, const std::string& file) {
  button.setFrame(os::Rect{0, 0, 50, 30});
  button.setImage(os::imageNamed(file), os::kControlStateNormal);
}

}  // namespace

std::shared_ptr<OBSocialUIHelper> OBSocialUIHelper::shareInstance() { return OBSocialContext::shared<OBSocialUIHelper>(); }

void OBSocialUIHelper::setTranslucent(os::NavigationBar& bar) {
  auto helper = shareInstance();
  if (!helper->isSetTranslucent) helper->isTranslucent = bar.isTranslucent();
  bar.setTranslucent(false);
}

void OBSocialUIHelper::setNavigationBarTranslucent(os::NavigationBar& bar) {
  if (!shareInstance()->isTranslucent) return;
  bar.setTranslucent(true);
  bar.setBackgroundImage(nullptr);
}

void OBSocialUIHelper::customNavBar(os::NavigationBar& bar) {
  setTranslucent(bar);
  if (!themeOne()) {
    bar.setBackgroundImage(os::imageNamed("OBSocialSDKResourcesNew.bundle/Buttons/OBS_nav_bar_bg"));
    return;
  }
  bar.setTitleColor(kTitleColor);
  bar.setTitleFont(os::Font::systemFont(18));
  auto background = os::imageNamed("OBSocialSDKResourcesNew.bundle/Buttons/OBS_nav_bar_bg_white");
  if (background)
    bar.setBackgroundImage(background);
  else
    bar.setBarTintColor(kLightBarTint);
}

void OBSocialUIHelper::customNavigationItem(os::NavigationItem& item) {
  auto label = std::make_shared<os::Label>(os::Rect{0, 0, 150, 30});
  label->setTextColor(kTitleColor);
  label->setFont(os::Font::systemFont(18));
  label->setBackgroundColor(os::Color::clear());
  label->setText(item.title());
  label->sizeToFit();
  item.setTitleView(label);
}

void OBSocialUIHelper::customNavButton(os::Button& button, const std::optional<std::string>&) {
  button.setFrame(os::Rect{0, 0, 50, 30});
  if (themeOne()) button.setImage(os::imageNamed("OBSocialSDKResourcesNew.bundle/Buttons/OBS_nav_button_close"), os::kControlStateNormal);
}

void OBSocialUIHelper::customNavPostButton(os::Button& button) {
  if (themeOne())
    imageButton(button, "OBSocialSDKResourcesNew.bundle/Buttons/OBS_nav_button_send");
  else
    customNavButton(button, std::nullopt);
}

void OBSocialUIHelper::customNavRefreshButton(os::Button& button) {
  if (themeOne())
    imageButton(button, "OBSocialSDKResourcesNew.bundle/Buttons/OBS_nav_button_refresh");
  else
    customNavButton(button, std::nullopt);
}

void OBSocialUIHelper::customNavBackButton(os::Button& button, const std::optional<std::string>& title) {
  button.setFrame(os::Rect{0, 0, 50, 30});
  if (themeOne()) {
    button.setImage(os::imageNamed("OBSocialSDKResourcesNew.bundle/Buttons/OBS_nav_button_back"), os::kControlStateNormal);
    button.setTitle(std::nullopt, os::kControlStateNormal);
    return;
  }
  button.setTitle(title, os::kControlStateNormal);
  button.setTitle(title, os::kControlStateHighlighted);
  if (button.titleLabel()) button.titleLabel()->setFont(os::Font::boldSystemFont(13));
  button.setTitleEdgeInsets(os::EdgeInsets{0, 6, 0, 0});
  button.setBackgroundImage(os::imageNamed("OBSocialSDKResourcesNew.bundle/OtherTheme/OBS_nav_back_button_normal"),
                            os::kControlStateNormal);
  button.setBackgroundImage(os::imageNamed("OBSocialSDKResourcesNew.bundle/OtherTheme/OBS_nav_back_button_tap"),
                            os::kControlStateHighlighted);
}
