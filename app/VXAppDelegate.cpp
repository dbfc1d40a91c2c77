#include "app/VXAppDelegate.h"

#include <mutex>

#include "analytics/OBAnalytics.h"
#include "app/VXAlertMessage.h"
#include "app/VXViewController.h"
#include "crash/Brekka.h"
#include "news/api/DeviceExtensions.h"
#include "news/api/VXAppActiveRequest.h"
#include "news/api/VXGlobalHelper.h"
#include "news/api/VXReaderContext.h"
#include "news/api/VXRequestConfig.h"
#include "news/api/VXServiceKeys.h"
#include "news/article/VXNewsDetailViewController.h"
#include "news/article/VXOfflineArticleStore.h"
#include "news/home/VXGlobalHelperArticles.h"
#include "news/home/VXLeftSideViewController.h"
#include "news/home/VXSplashView.h"
#include "news/shell/NQSideViewController.h"
#include "news/shell/VXCustomNavController.h"
#include "news/store/VXGlobalDefine.h"
#include "news/store/VXNewsConfig.h"
#include "os/core/String.h"
#include "os/graphics/Color.h"
#include "os/net/URLConnection.h"
#include "os/net/URLRequest.h"
#include "os/store/Bundle.h"
#include "os/store/UserDefaults.h"
#include "os/views/Screen.h"
#include "os/views/Window.h"
#include "push/ROVodozov.h"
#include "sharing/service/OBSocialData.h"
#include "sharing/service/OBSocialSnsService.h"

namespace {

struct TrackingHost {
  std::mutex mutex;
  std::string url;
};
TrackingHost& tracking() {
  static TrackingHost t;
  return t;
}

}  // namespace

void VXAppDelegate::setTrackingHost(std::string url) {
  std::lock_guard lock(tracking().mutex);
  tracking().url = std::move(url);
}

std::string VXAppDelegate::trackingHost() {
  {
    std::lock_guard lock(tracking().mutex);
    if (!tracking().url.empty()) return tracking().url;
  }
  return VXRequestConfig::SERVER_HOST_QUARN();
}

VXAppDelegate::VXAppDelegate(std::shared_ptr<VXReaderContext> context)
    : context_(std::move(context)) {}

void VXAppDelegate::installServices(VXReaderContext& context) {
  // The context's state is looked up on every call: tests and a new launch may replace it. Weak:
  // the context keeps its services.
  VXNewsDetailViewController::Services services;
  services.randAd = [weak = context.weak_from_this()]() -> std::optional<VXAdDO> {
    auto context = weak.lock();
    if (!context) return std::nullopt;
    return VXGlobalDefine::share(*context)->randAd();
  };
  VXNewsDetailViewController::setServices(context, std::move(services));
  VXGlobalHelperArticles::installRoutes(context);
}

// --- launch ---

bool VXAppDelegate::didFinishLaunchingWithOptions(os::Application& app, const os::Dictionary& options) {
  app.setApplicationIconBadgeNumber(0);
  VXOfflineArticleStore::removeInterruptedSaves();
  app.setStatusBarStyle(os::StatusBarStyle::BlackTranslucent);
  ZUrar(options);
  pushToJump(options[os::kApplicationLaunchOptionsRemoteNotificationKey], true);
  ombra();
  Brekka::startWithAPIKey(kBrekkaAPIKey);
  initControllers();
  return true;
}

void VXAppDelegate::ZUrar(const os::Dictionary& launchOptions) {
  auto defaults = os::UserDefaults::standardUserDefaults();
  if (defaults && defaults->integerForKey(kPushMessageKey) == 1) return;
  ROVodozov::registerForRemoteNotificationTypes(kRemoteNotificationTypes, os::Value());
  ROVodozov::setupWithOption(launchOptions);
}

void VXAppDelegate::pushToJump(const os::Value& payload, bool firstStart) {
  // A payload comes from outside: anything but a dictionary is no notification at all.
  if (!payload.dictionary() || !mainViewController_ || mainViewController_->alertMessage()) return;
  auto message = VXAlertMessage::createMessage(payload);
  // A payload without a usable headline makes no jump: a timer per such notification would
  // each offer whatever headline is pending when it fires.
  if (!message) return;
  mainViewController_->setAlertMessage(std::move(message));
  mainViewController_->excuteJump(firstStart);
}

void VXAppDelegate::ombra() {
  trackingPing();
  std::optional<std::string> channel;
  if (auto bundle = os::Bundle::mainBundle())
    if (auto config = bundle->propertyListForResource("config", "plist"))
      if (const std::string* text = (*config)["OMBRA_CHANNEL"].string()) channel = *text;
  OBAnalytics::startWithAppkey(OMBRA_KEY, kReportPolicy, channel);
  OBSocialData::setAppKey(OMBRA_KEY);
}

void VXAppDelegate::trackingPing() {
  std::string host = trackingHost();
  while (!host.empty() && host.back() == '/') host.pop_back();
  std::string url = os::format("%s/ping/%s/?devicename=%s&mac=%s&idfa=%s&idfv=%s", host.c_str(), OMBRA_KEY,
                               DeviceExtensions::deviceName().c_str(), DeviceExtensions::macAddress().c_str(),
                               DeviceExtensions::idfaString().c_str(), DeviceExtensions::idfvString().c_str());
  // Fired and forgotten: nobody listens for the answer, the connection is only kept alive.
  ping_ = os::URLConnection::create(os::URLRequest(url), std::weak_ptr<os::URLConnectionDelegate>(), true);
}

void VXAppDelegate::initControllers() {
  installServices(*context_);
  window_ = std::make_shared<os::Window>(os::Screen::main().bounds());
  window_->setBackgroundColor(os::Color::white());
  window_->makeKeyAndVisible();

  mainViewController_ = std::make_shared<VXViewController>(context_);
  auto navigation = std::make_shared<VXCustomNavController>(mainViewController_, context_);
  auto left = std::make_shared<VXLeftSideViewController>(context_);
  auto side = NQSideViewController::share(*context_);
  side->setRootViewController(navigation);
  side->setLeftViewController(left);
  window_->setRootViewController(side);
  splashView();
}

void VXAppDelegate::splashView() {
  const os::Rect screen = os::Screen::main().bounds();
  splash_ = VXSplashView::create(os::Rect{0, 0, screen.size.width, screen.size.height}, context_);
  window_->addSubview(splash_);
}

// --- life cycle ---

void VXAppDelegate::applicationWillEnterForeground(os::Application& app) {
  VXAppActiveRequest request(VXSplashView::kForeground);
  VXGlobalHelper::loadWithRequest(*context_, request, [context = context_](const std::optional<os::Dictionary>& data) {
    VXSplashView::applyActivationAnswer(data, *context);
  });
  app.setApplicationIconBadgeNumber(0);
}

void VXAppDelegate::applicationDidBecomeActive(os::Application& app) { OBSocialSnsService::applicationDidBecomeActive(); }

bool VXAppDelegate::openURL(os::Application& app, const os::URL& url, const std::string& sourceApplication,
                            const os::Value& annotation) {
  return OBSocialSnsService::handleOpenURL(url, {});
}

bool VXAppDelegate::handleOpenURL(os::Application& app, const os::URL& url) {
  return OBSocialSnsService::handleOpenURL(url, {});
}

void VXAppDelegate::didRegisterForRemoteNotificationsWithDeviceToken(os::Application& app, const os::Data& token) {
  ROVodozov::registerDeviceToken(token);
}

void VXAppDelegate::didReceiveRemoteNotification(os::Application& app, const os::Dictionary& userInfo) {
  switch (app.applicationState()) {
    case os::ApplicationState::Inactive:  // the reader opened the notification
      pushToJump(os::Value(userInfo), true);
      break;
    case os::ApplicationState::Active:
      pushToJump(os::Value(userInfo), false);
      break;
    case os::ApplicationState::Background:
      break;
  }
  ROVodozov::handleRemoteNotification(userInfo);
}

void VXAppDelegate::didReceiveRemoteNotificationFetchCompletionHandler(
    os::Application& app, const os::Dictionary& userInfo, std::function<void(os::BackgroundFetchResult)> handler) {
  didReceiveRemoteNotification(app, userInfo);
  if (handler) handler(os::BackgroundFetchResult::NoData);
}
