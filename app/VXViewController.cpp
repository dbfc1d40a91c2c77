#include "app/VXViewController.h"

#include "foundation/net/Reachability.h"
#include "news/api/DeviceExtensions.h"
#include "news/api/NQProxy.h"
#include "news/api/OpenableURL.h"
#include "news/api/VXGlobalHelper.h"
#include "news/api/VXNewsHistoryRequest.h"
#include "news/api/VXReaderContext.h"
#include "news/api/VXRequestConfig.h"
#include "news/home/VXCrashHandler.h"
#include "news/home/VXScrollPageView.h"
#include "news/list/VXNewsTableView.h"
#include "news/settings/VXVersionCheck.h"
#include "news/shell/NQSideViewController.h"
#include "news/store/VXNewsDBManager.h"
#include "os/core/Log.h"
#include "os/core/String.h"
#include "os/core/URL.h"
#include "os/graphics/Image.h"
#include "os/net/URLRequest.h"
#include "os/runtime/DispatchQueue.h"
#include "os/runtime/Thread.h"
#include "os/store/Bundle.h"
#include "os/views/Application.h"
#include "os/views/BarButtonItem.h"
#include "os/views/Button.h"
#include "os/views/Device.h"
#include "os/views/ImageView.h"
#include "os/views/NavigationBar.h"
#include "os/views/Screen.h"
#include "os/views/Window.h"
#include "sharing/screens/OBSocialIconActionSheet.h"

namespace {

constexpr int kHistoryUploaded = 1;

struct Shared {
  std::mutex mutex;
  std::string hostName = "www.example.com";
};
Shared& shared() {
  static Shared s;
  return s;
}

std::shared_ptr<os::Image> bundleImage(const std::string& name) {
  auto bundle = os::Bundle::mainBundle();
  return bundle ? os::imageNamed(bundle->bundlePath(), name, os::Screen::main().scale()) : nullptr;
}

// The subviews of `view` whose class is `name`.
std::vector<std::shared_ptr<os::View>> subviewsNamed(const os::View& view, const std::string& name) {
  std::vector<std::shared_ptr<os::View>> out;
  for (const auto& sub : view.subviews())
    if (sub->className() == name) out.push_back(sub);
  return out;
}

}  // namespace

void VXViewController::setReachabilityHostName(std::string hostName) {
  std::lock_guard lock(shared().mutex);
  shared().hostName = std::move(hostName);
}

std::string VXViewController::reachabilityHostName() {
  std::lock_guard lock(shared().mutex);
  return shared().hostName;
}

bool VXViewController::isAllowedUpdateURL(const std::string& url) { return isOpenableURL(url); }

VXViewController::VXViewController(std::shared_ptr<VXReaderContext> context)
    : context_(std::move(context)) {}

std::shared_ptr<VXGlobalDefine> VXViewController::state() const {
  auto context = context_.lock();
  return context ? VXGlobalDefine::share(*context) : nullptr;
}

void VXViewController::showSideMenu(bool show) const {
  auto context = context_.lock();
  if (!context) return;
  auto side = NQSideViewController::share(*context);
  if (show)
    side->showLeftViewController(true);
  else
    side->hideSideViewController();
}

VXViewController::~VXViewController() {
  auto& center = os::NotificationCenter::defaultCenter();
  for (auto token : {reachabilityToken_, launchEndToken_, screenStatusToken_})
    if (token) center.removeObserver(token);
  if (launchTimer_) launchTimer_->invalidate();
  if (hostReach_) hostReach_->stopNotifier();
}

std::weak_ptr<VXViewController> VXViewController::weakSelf() const {
  auto self = std::const_pointer_cast<os::Responder>(shared_from_this());
  return std::static_pointer_cast<VXViewController>(self);
}

void VXViewController::viewDidLoad() {
  NQBaseViewController::viewDidLoad();
  controllerInit();

  auto weak = weakSelf();
  auto& center = os::NotificationCenter::defaultCenter();
  reachabilityToken_ = center.addObserver(kReachabilityChangedNotification, nullptr, [weak](const os::Notification&) {
    if (auto self = weak.lock()) self->reachabilityChanged();
  });
  hostReach_ = Reachability::reachabilityWithHostName(reachabilityHostName());
  if (hostReach_) hostReach_->startNotifier();

  launchTimer_ = os::Timer::scheduled(kLaunchTimerDelay, false, [weak](os::Timer&) {
    if (auto self = weak.lock()) self->timerFireMethod();
  });

  launchEndToken_ = center.addObserver(kLaunchEndNotification, nullptr, [weak](const os::Notification&) {
    if (auto self = weak.lock()) self->msgLaunchEnd();
  });
  screenStatusToken_ = center.addObserver(kScreenStatusNotification, nullptr, [weak](const os::Notification&) {
    if (auto self = weak.lock()) self->msgScreenStatus();
  });
}

void VXViewController::controllerInit() {
  const os::Rect screen = os::Screen::main().bounds();
  newsView_ = VXNewsView::create(os::Rect{0, 0, screen.size.width, screen.size.height - 64}, context_.lock());
  view()->addSubview(newsView_);
}

void VXViewController::customNavbar() {
  auto item = navigationItem();
  item->setTitleView(std::make_shared<os::ImageView>(bundleImage("navbar-title")));
  auto button = os::makeView<os::Button>(os::Rect{0, 0, 30, 30}, os::ButtonType::Custom);
  button->setImage(bundleImage("navbar-left-item"), os::kControlStateNormal);
  button->setAccessibilityLabel("菜单");
  auto weak = weakSelf();
  button->addTarget(
      this,
      [weak](os::Control&) {
        if (auto self = weak.lock()) self->leftBarItemClick();
      },
      os::kControlEventTouchUpInside);
  double space = os::Device::current().systemVersionNumber() >= 7.0 ? -8 : 0;
  item->setLeftBarButtonItems({os::BarButtonItem::fixedSpace(space), os::BarButtonItem::withCustomView(button)});
}

void VXViewController::leftBarItemClick() { showSideMenu(true); }

void VXViewController::viewWillAppear(bool animated) {
  NQBaseViewController::viewWillAppear(animated);
  // Coming back from an article: no row of any list stays highlighted.
  for (const auto& news : subviewsNamed(*view(), "VXNewsView"))
    for (const auto& pages : subviewsNamed(*news, "VXScrollPageView"))
      for (const auto& scroller : subviewsNamed(*pages, "ScrollView"))
        for (const auto& list : subviewsNamed(*scroller, "VXNewsTableView"))
          if (auto table = std::dynamic_pointer_cast<VXNewsTableView>(list)) table->clearSelectedIndexPath();
}

// --- read-history upload ---

bool VXViewController::historyUploadRunning() const {
  std::lock_guard lock(historyUpload_->mutex);
  return historyUpload_->running;
}

void VXViewController::reachabilityChanged() {
  auto global = state();
  if (!global || !global->splashEnd() || DeviceExtensions::netStatus() == 0) return;
  threadRun();
}

void VXViewController::threadRun() {
  auto upload = historyUpload_;
  {
    // Changes come in bursts; a second pass over the same waiting ids would send each twice.
    std::lock_guard lock(upload->mutex);
    if (upload->running) return;
    upload->running = upload->sending = true;
    upload->outstanding = 0;
  }
  os::Thread::create("history upload", [upload, context = context_] { runHistoryPass(upload, context); })->start();
}

void VXViewController::runHistoryPass(const std::shared_ptr<HistoryUpload>& upload,
                                      const std::weak_ptr<VXReaderContext>& weakContext) {
  std::vector<long long> ids;
  if (auto context = weakContext.lock()) ids = VXNewsDBManager::share(*context)->historyForPost();
  for (long long id : ids) {
    os::Thread::sleepFor(kHistoryRequestGap);
    // Not held across the wait: the pass must not keep a finished run's context alive.
    auto context = weakContext.lock();
    if (!context) break;
    {
      std::lock_guard lock(upload->mutex);
      ++upload->outstanding;
    }
    auto request = std::make_shared<VXNewsHistoryRequest>(os::Value(id));
    VXGlobalHelper::loadWithRequest(
        *context, *request, 0,
        [upload, request, id, weakContext](const std::optional<os::Dictionary>& data) {
          auto context = weakContext.lock();
          if (context && data && (*data)["result"].intValue() == kHistoryUploaded)
            VXNewsDBManager::share(*context)->updateHistoryPost(id);
          historyAnswered(upload);
        },
        [upload, request] { historyAnswered(upload); });
  }
  std::lock_guard lock(upload->mutex);
  upload->sending = false;
  if (upload->outstanding == 0) upload->running = false;
}

void VXViewController::historyAnswered(const std::shared_ptr<HistoryUpload>& upload) {
  std::lock_guard lock(upload->mutex);
  --upload->outstanding;
  if (!upload->sending && upload->outstanding == 0) upload->running = false;
}

// --- launch timer: version check and crash dump ---

void VXViewController::timerFireMethod() {
  updateVersion();
  VXCrashHandler::uploadDump();
}

void VXViewController::updateVersion() {
  auto weak = weakSelf();
  NQProxy::loadCommonRequest(
      os::URLRequest(VXVersionCheck::address("/common/")),
      [weak](const std::string& text, os::StringEncoding) {
        if (auto self = weak.lock()) self->versionAnswered(text);
      },
      [](const os::Error&) {});
}

void VXViewController::versionAnswered(const std::string& text) {
  auto answer = VXVersionCheck::read(text);
  if (answer.outcome != VXVersionCheck::Outcome::NewVersion) return;
  appstoreUrl_ = answer.url;
  auto alert = std::make_shared<os::AlertView>("", "检测到Corvessa有新的版本\n是否立即更新", weakSelf(), "以后再说",
                                               std::vector<std::string>{"升级"});
  alert->setTag(kUpdateAlertTag);
  alert->show();
}

// --- pushed headlines ---

void VXViewController::schedule(double delay, void (VXViewController::*method)()) {
  auto weak = weakSelf();
  os::DispatchQueue::main()->asyncAfter(delay, [weak, method] {
    if (auto self = weak.lock()) ((*self).*method)();
  });
}

void VXViewController::excuteJump(bool firstStart) {
  if (firstStart)
    schedule(kJumpNowDelay, &VXViewController::jumpNow);
  else
    schedule(kJumpByAlertDelay, &VXViewController::jumpByAlert);
}

void VXViewController::jumpNow() {
  auto global = state();
  if (!global || !global->splashEnd() || !alertMessage_) return;
  auto message = std::move(alertMessage_);
  alertMessage_.reset();
  closeWhatCovers();
  message->pushViewControler(*this, context_.lock());
}

void VXViewController::jumpByAlert() {
  auto global = state();
  if (!global || global->screenStatus() != 0 || !alertMessage_) return;
  // The pending headline is offered once: its timer and the end of a full-screen state may both
  // come while its alert is up.
  if (auto shown = headlineAlert_.lock(); shown && shown->isVisible()) return;
  alertMessage(alertMessage_->alertInfo());
}

void VXViewController::alertMessage(const os::Dictionary& payload) {
  auto alert = std::make_shared<os::AlertView>("要闻推送", payload["aps"]["alert"].stringOr(), weakSelf(), "忽略",
                                               std::vector<std::string>{"点击查看"});
  headlineAlert_ = alert;
  alert->show();
}

void VXViewController::clickedButtonAtIndex(os::AlertView& alert, long buttonIndex) {
  if (alert.tag() == kUpdateAlertTag) {
    if (buttonIndex != 1 || !appstoreUrl_) return;
    // The link comes from the server: only a web or store address is handed to the system.
    if (!isAllowedUpdateURL(*appstoreUrl_)) {
      os::log("update link refused: " + *appstoreUrl_);
      return;
    }
    auto app = os::Application::shared();
    auto url = os::URL::parse(*appstoreUrl_);
    if (app && url) app->openURL(*url);
    return;
  }
  showSideMenu(false);
  alert.dismissWithClickedButtonIndex(buttonIndex, false);
  auto message = std::move(alertMessage_);
  alertMessage_.reset();
  if (buttonIndex != 1 || !message) return;
  closeWhatCovers();
  message->pushViewControler(*this, context_.lock());
}

void VXViewController::closeWhatCovers() const {
  // A sheet or screen left over the new article would act on the one it was opened for: the
  // share sheet would share the earlier article.
  for (const auto& sheet : os::ActionSheet::visibleActionSheets())
    sheet->dismissWithClickedButtonIndex(sheet->cancelButtonIndex(), false);
  std::function<void(const std::shared_ptr<os::View>&)> closeIconSheets = [&](const std::shared_ptr<os::View>& view) {
    if (auto sheet = std::dynamic_pointer_cast<OBSocialIconActionSheet>(view)) {
      sheet->dismiss();
      return;
    }
    for (const auto& sub : view->subviews()) closeIconSheets(sub);
  };
  for (const auto& window : os::Window::windows()) closeIconSheets(window);
  // The sharing screens (editor, sign-in page, friends) are presented from the side menu's root.
  auto context = context_.lock();
  auto side = context ? NQSideViewController::share(*context) : nullptr;
  if (side && side->presentedViewController()) side->dismissViewController(false);
}

void VXViewController::msgLaunchEnd() {
  if (auto global = state()) global->setSplashEnd(true);
  if (alertMessage_) schedule(kJumpAfterLaunchDelay, &VXViewController::jumpNow);
}

void VXViewController::msgScreenStatus() { jumpByAlert(); }
