#include "news/home/VXSplashView.h"

#include "news/api/VXAppActiveRequest.h"
#include "news/api/VXGlobalHelper.h"
#include "news/api/VXReaderContext.h"
#include "news/home/VXLeftSideViewController.h"
#include "news/shell/NQSideViewController.h"
#include "news/store/VXGlobalDefine.h"
#include "news/store/VXNewsCategoryManager.h"
#include "os/store/UserDefaults.h"
#include "os/views/NamedImage.h"
#include "os/views/Screen.h"

namespace {

std::shared_ptr<os::ImageView> imageView(const std::string& name, const os::Rect& frame) {
  auto view = std::make_shared<os::ImageView>(os::imageNamed(name));
  view->setFrame(frame);
  return view;
}

const os::Rect kLogoStart{78, 180, 163, 38};
const os::Rect kSloganStart{111, 230, 98, 27};
const os::Rect kLogoEnd{78, 120, 163, 38};
const os::Rect kSloganEnd{111, 170, 98, 27};

}  // namespace

const char* VXSplashView::backgroundImageName(double screenHeight) {
  if (screenHeight == 568) return "splash_back_568h@2x";
  if (screenHeight == 240) return "splash_back";
  return "splash_back@2x";
}

std::shared_ptr<VXSplashView> VXSplashView::create(const os::Rect& frame, std::shared_ptr<VXReaderContext> context) {
  auto splash = std::make_shared<VXSplashView>(frame, std::move(context));
  splash->splashStart();
  return splash;
}

VXSplashView::VXSplashView(const os::Rect& frame, std::shared_ptr<VXReaderContext> context)
    : os::View(frame), context_(std::move(context)) {
  const os::Rect screen = os::Screen::main().bounds();
  backgroundView_ = imageView(backgroundImageName(screen.size.height),
                              os::Rect{0, 0, screen.size.width, screen.size.height});
  addSubview(backgroundView_);
  logoView_ = imageView("splash_logo", kLogoStart);
  addSubview(logoView_);
  sloganView_ = imageView("splash_slogan", kSloganStart);
  addSubview(sloganView_);
}

VXSplashView::~VXSplashView() {
  if (categoryToken_) os::NotificationCenter::defaultCenter().removeObserver(categoryToken_);
}

std::shared_ptr<VXSplashView> VXSplashView::self() {
  return std::static_pointer_cast<VXSplashView>(shared_from_this());
}

void VXSplashView::splashStart() {
  startAnimation();
  appActive();
}

void VXSplashView::startAnimation() {
  // The splash keeps itself alive until its animation is done, as it must outlive its window slot.
  auto me = self();
  os::View::animate(
      kAnimationDuration, 0, os::kViewAnimationOptionCurveEaseInOut,
      [me] {
        me->logoView_->setFrame(kLogoEnd);
        me->sloganView_->setFrame(kSloganEnd);
      },
      [me](bool) { me->splashEnd(); });
}

int VXSplashView::activationCp() {
  auto defaults = os::UserDefaults::standardUserDefaults();
  return defaults && defaults->integerForKey(kAppActiveKey) == 1 ? kLaterRun : kFirstRun;
}

void VXSplashView::applyActivationAnswer(const std::optional<os::Dictionary>& data) {
  applyActivationAnswer(data, *VXReaderContext::current());
}

void VXSplashView::applyActivationAnswer(const std::optional<os::Dictionary>& data, VXReaderContext& context) {
  if (!data) return;
  auto state = VXGlobalDefine::share(context);
  if (const os::Value* pass = data->find("pass"); pass && (pass->isNumber() || pass->isString())) {
    state->setPass(pass->intValue() == 1);
    if (auto left = std::dynamic_pointer_cast<VXLeftSideViewController>(NQSideViewController::share(context)->leftViewController()))
      left->loadData();
  }
  if (const os::Value* nctime = data->find("nctime"); nctime && (nctime->isNumber() || nctime->isString()))
    state->setNctime(nctime->doubleValue());
}

void VXSplashView::appActive() {
  VXAppActiveRequest request(activationCp());
  auto me = self();
  VXGlobalHelper::loadWithRequest(
      *context_, request, kActivationTimeout,
      [me](const std::optional<os::Dictionary>& data) {
        // Only a usable answer marks the device as activated: a failed envelope says nothing
        // about whether the server took this client in.
        if (data) {
          if (auto defaults = os::UserDefaults::standardUserDefaults()) {
            defaults->setInteger(1, kAppActiveKey);
            defaults->synchronize();
          }
        }
        applyActivationAnswer(data, *me->context_);
        me->initAfterActive();
      },
      [me] { me->initAfterActive(); });
}

void VXSplashView::initAfterActive() {
  auto state = VXGlobalDefine::share(*context_);
  state->updateAdList();
  if (!categoryToken_) {
    std::weak_ptr<VXSplashView> weak = self();
    categoryToken_ = os::NotificationCenter::defaultCenter().addObserver(
        kNewsCategoryNotification, nullptr, [weak](const os::Notification&) {
          if (auto me = weak.lock()) me->msgNotification();
        });
  }
  VXNewsCategoryManager::share(*context_)->loadList();
  state->initNewsHistoryArray();
}

void VXSplashView::msgNotification() {
  if (categoryToken_) {
    os::NotificationCenter::defaultCenter().removeObserver(categoryToken_);
    categoryToken_ = 0;
  }
  splashEnd();
}

void VXSplashView::splashEnd() {
  if (ended_) return;
  if (count_++ == 0) return;
  count_ = 0;
  ended_ = true;
  // Kept alive until the broadcast is out: removal may drop the window's reference.
  auto me = self();
  removeFromSuperview();
  os::NotificationCenter::defaultCenter().post(kSplashLaunchEndNotification);
}
