#include "sharing/service/OBSocialConfig.h"

#include <algorithm>

#include "os/core/Log.h"
#include "os/core/String.h"
#include "os/graphics/GraphicsContext.h"
#include "os/runtime/DispatchQueue.h"
#include "os/views/Button.h"
#include "os/views/Device.h"
#include "os/views/ImageView.h"
#include "os/views/Label.h"
#include "os/views/NamedImage.h"
#include "os/views/NavigationBar.h"
#include "os/views/TableViewCell.h"
#include "sharing/service/OBSocialContext.h"
#include "sharing/service/OBSocialOpAnalytics.h"
#include "sharing/service/OBSocialSnsPlatform.h"
#include "sharing/service/OBSocialSnsPlatformManager.h"
#include "sharing/service/OBUtils.h"
#include "sharing/widgets/OBSocialXToast.h"

namespace {

const os::Color kTitleColor = os::Color::rgba(70 / 255.0, 79 / 255.0, 97 / 255.0, 1);

// A title label sized to the item's title, as the item's title view.
void dressNavigationItem(os::NavigationItem* item, os::Color color) {
  if (!item) return;
  auto label = std::make_shared<os::Label>(os::Rect{0, 0, 150, 30});
  label->setTextColor(color);
  label->setFont(os::Font::systemFont(18));
  label->setBackgroundColor(os::Color::clear());
  label->setText(item->title());
  label->sizeToFit();
  item->setTitleView(label);
}

void dressButton(os::Button* button, const std::string& background, const std::string& title) {
  if (!button) return;
  button->setBackgroundImage(os::imageNamed(background), os::kControlStateNormal);
  button->setImage(nullptr, os::kControlStateNormal);
  button->setTitle(title, os::kControlStateNormal);
  if (button->titleLabel()) button->titleLabel()->setFont(os::Font::boldSystemFont(13));
}

void installTheme0(OBSocialConfigInternal& store) {
  store.navigationbarConfig = [](const OBSNavigationBarViews& views) {
    dressButton(views.closeButton, "OBSocialSDKResourcesNew.bundle/OtherTheme/OBS_nav_button_normal", "关 闭");
    dressButton(views.backButton, "OBSocialSDKResourcesNew.bundle/OtherTheme/OBS_nav_back_button_normal", "返 回");
    if (views.backButton) views.backButton->setTitleEdgeInsets(os::EdgeInsets{0, 6, 0, 0});
    if (views.navigationBar)
      views.navigationBar->setBackgroundImage(os::imageNamed("OBSocialSDKResourcesNew.bundle/OtherTheme/OBS_nav_bar_bg_black"));
    dressButton(views.rightButton, "OBSocialSDKResourcesNew.bundle/OtherTheme/OBS_nav_button_normal", "发 布");
    if (views.rightButton) views.rightButton->setTitleEdgeInsets(os::EdgeInsets{});
    dressNavigationItem(views.navigationItem, os::Color::white());
  };
  store.gridViewConfig = [](os::GraphicsContext* context, os::ImageView* background, os::Label*) {
    if (context) {
      context->setStrokeColor(os::Color::rgba(1, 1, 1, 1));
      context->setLineWidth(0);
    }
    if (background) background->setBackgroundColor(os::Color::darkGray());
  };
}

void installTheme1(OBSocialConfigInternal& store) {
  store.navigationbarConfig = [](const OBSNavigationBarViews& views) { dressNavigationItem(views.navigationItem, kTitleColor); };
  store.tableViewCellConfig = [](os::TableViewCell* cell) {
    if (cell && cell->textLabel()) cell->textLabel()->setTextColor(os::Color::rgba(0.353, 0.353, 0.353, 1));
  };
}

}  // namespace

OBSocialConfigInternal::OBSocialConfigInternal() {
  snsPlatformNames_ = os::Array{"sina", "velmora", "qzone", "renren", "douban", "email", "sms", "facebook", "twitter"};
  setSocialTheme(1);
  socialInterfaceOrientations = os::Device::current().userInterfaceIdiom() == os::UserInterfaceIdiom::Pad ? 30 : 2;
}

std::shared_ptr<OBSocialConfigInternal> OBSocialConfigInternal::shareInstance() {
  return OBSocialContext::shared<OBSocialConfigInternal>();
}

os::Array OBSocialConfigInternal::snsPlatformNames() const {
  std::lock_guard lock(mutex_);
  return snsPlatformNames_;
}

void OBSocialConfigInternal::setSnsPlatformNames(os::Array names) {
  std::lock_guard lock(mutex_);
  snsPlatformNames_ = std::move(names);
}

os::Color OBSocialConfigInternal::defaultColor() const {
  std::lock_guard lock(mutex_);
  return defaultColor_;
}

void OBSocialConfigInternal::setDefaultColor(os::Color color) {
  std::lock_guard lock(mutex_);
  defaultColor_ = color;
}

void OBSocialConfigInternal::setSocialTheme(int theme) {
  socialTheme_ = theme;
  if (theme == 0)
    installTheme0(*this);
  else
    installTheme1(*this);
}

bool OBSocialConfigInternal::shouldAutorotateToInterfaceOrientation(int orientation) const {
  int bit = orientation >= 0 && orientation < 32 ? static_cast<int>((socialInterfaceOrientations >> orientation) & 1u) : 0;
  OBUtils::outLogf("mask is %d", bit);
  return bit == 1;
}

OBSocialConfig::OBSocialConfig() { OBSocialXToastSettings::getSharedSettings()->setGravity(OBSocialXToastGravityTop); }

std::shared_ptr<OBSocialConfig> OBSocialConfig::shareInstance() { return OBSocialContext::shared<OBSocialConfig>(); }

void OBSocialConfig::setTheme(int theme) { OBSocialConfigInternal::shareInstance()->setSocialTheme(theme); }

void OBSocialConfig::setSnsPlatformNames(os::Array names) {
  OBSocialConfigInternal::shareInstance()->setSnsPlatformNames(std::move(names));
  OBSocialOpAnalytics::postSocialAnalytics("29");
}

void OBSocialConfig::setSupportedInterfaceOrientations(unsigned mask) {
  OBSocialConfigInternal::shareInstance()->socialInterfaceOrientations = mask;
  OBSocialOpAnalytics::postSocialAnalytics("30");
}

void OBSocialConfig::setFollowWeiboUids(os::Dictionary uids) {
  OBSocialConfigInternal::shareInstance()->followSnsUids = std::move(uids);
  OBSocialOpAnalytics::postSocialAnalytics("31");
}

void OBSocialConfig::addSocialSnsPlatform(const std::vector<std::shared_ptr<OBSocialSnsPlatform>>& platforms) {
  auto registry = OBSocialSnsPlatformManager::sharedInstance();
  // Numbered on from the highest type in use, so a second call never hands out a number again.
  int next = std::max(kOBSocialFirstCustomPlatformType, registry->highestPlatformType() + 1);
  for (const auto& platform : platforms) {
    if (!platform) {
      OBUtils::outLog("you must set a OBSocialSnsPlatform in snsPlatformArray!");
      continue;
    }
    if (registry->getSnsPlatformWithName(platform->platformName, false)) continue;
    if (platform->shareToType == 0) platform->shareToType = next++;
    registry->registerPlatform(platform);
  }
  OBSocialOpAnalytics::postSocialAnalytics("32");
}

void OBSocialConfig::setDefaultColor(os::Color color) {
  OBSocialConfigInternal::shareInstance()->setDefaultColor(color);
  OBSocialOpAnalytics::postSocialAnalytics("33");
}

void OBSocialConfig::setBoundsSizeForiPad(os::Size size) {
  OBSocialConfigInternal::shareInstance()->setBoundsSizeForiPad(size);
  OBSocialOpAnalytics::postSocialAnalytics("34");
}

void OBSocialConfig::setShouldShareSynchronous(bool on) {
  OBSocialConfigInternal::shareInstance()->shouldShareSynchronous = on;
  OBSocialOpAnalytics::postSocialAnalytics("35");
}

void OBSocialConfig::setShouldCommentWithShare(bool on) {
  OBSocialConfigInternal::shareInstance()->shouldCommentWithShare = on;
  OBSocialOpAnalytics::postSocialAnalytics("36");
}

void OBSocialConfig::setShouldCommentWithLocation(bool on) {
  OBSocialConfigInternal::shareInstance()->shouldCommentWithLocation = on;
  OBSocialOpAnalytics::postSocialAnalytics("37");
}

void OBSocialConfig::setSupportVelmoraSSO(bool on, const std::string&) {
  OBSocialConfigInternal::shareInstance()->supportVelmoraSSO = on;
  OBSocialOpAnalytics::postSocialAnalytics("42");
}

void OBSocialConfig::setShareGridViewTheme(OBSGridViewConfig block) {
  OBSocialConfigInternal::shareInstance()->gridViewConfig = std::move(block);
}

void OBSocialConfig::setNavigationBarConfig(OBSNavigationBarConfig block) {
  OBSocialConfigInternal::shareInstance()->navigationbarConfig = std::move(block);
}

void OBSocialConfig::setTableViewCellConfig(OBSTableViewCellConfig block) {
  OBSocialConfigInternal::shareInstance()->tableViewCellConfig = std::move(block);
}

void OBSocialConfig::setFinishToastIsHidden(bool hidden, int position) {
  auto settings = OBSocialXToastSettings::getSharedSettings();
  settings->setIsHidden(hidden);
  settings->setGravity(position);
}

namespace {
struct OptionalFrameworksLoad {};
}  // namespace

void OBSocialLoadOptionalFrameworks() {
  // Once for the component's life (its context), however many times it is asked.
  OBSocialContext::current()->instance<OptionalFrameworksLoad>([] {
    os::DispatchQueue::global(os::DispatchQueue::Priority::Background)->async([] {
      auto& device = os::Device::current();
      std::optional<std::string> messageUI;
      for (const auto& path : device.loadedFrameworks()) {
        if (os::contains(os::lowercaseASCII(path), "/foundation.framework")) {
          messageUI = path.substr(0, path.find_last_of('/') + 1) + "MessageUI.framework";
          break;
        }
      }
      const std::string system = os::kSystemFrameworksDirectory;
      if (!device.loadFramework(system + "/QuartzCore.framework")) OBUtils::outLog("Load QuartzCore framework fail!");
      if (!device.loadFramework(system + "/CoreLocation.framework")) OBUtils::outLog("Load CoreLocation framework fail!");
      if (!messageUI || !device.loadFramework(*messageUI))
        OBUtils::outLog("Load messageUI failed!! You need to add MessageUI.framework by yourself.");
      if (!device.loadFramework(system + "/Social.framework"))
        os::log("SDK can share to facebook and twitter, need to use social framework in iOS 6.0!");
    });
    return std::make_shared<OptionalFrameworksLoad>();
  });
}
