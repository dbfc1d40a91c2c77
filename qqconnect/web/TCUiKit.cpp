#include "qqconnect/web/TCUiKit.h"

#include "qqconnect/analytics/TCDataReport.h"
#include "qqconnect_core/login/TcApiTool.h"
#include "os/runtime/Timer.h"
#include "os/views/Application.h"
#include "os/views/Screen.h"
#include "os/views/Window.h"

TCUiKit::~TCUiKit() {
  closeWindow();
  // The picture timer of a handed-out picker points at this coordinator.
  if (timer_) timer_->invalidate();
}

std::shared_ptr<SetHeadImageViewController> TCUiKit::preparePicker(std::weak_ptr<setHeadImageDelegate> delegate,
                                                                   std::shared_ptr<os::Image> image,
                                                                   const std::optional<std::string>& fileName,
                                                                   const std::optional<std::string>& userNick,
                                                                   double delay) {
  auto picker = std::make_shared<SetHeadImageViewController>(fileName.value_or(""), std::move(delegate), reachabilityHost_,
                                                             appId_);
  if (userNick) picker->setNick(*userNick);
  TCDataReport::shared().reportData(0, kTCUiKitReportPickerShown, appId_, std::nullopt);
  // The picture reaches the picker once it is on its way to the screen.
  if (timer_) timer_->invalidate();
  timer_ = os::Timer::scheduled(delay, false, [this, pending = PendingPicture{picker, std::move(image), userNick}](os::Timer&) {
    onTimerSetPic(pending);
  });
  return picker;
}

std::shared_ptr<SetHeadImageViewController> TCUiKit::getHeadImageViewController(
    std::weak_ptr<setHeadImageDelegate> delegate, std::shared_ptr<os::Image> image,
    const std::optional<std::string>& fileName, const std::optional<std::string>& userNick) {
  if (!image) return nullptr;
  headImageViewController_.reset();
  headImageViewController_ = preparePicker(std::move(delegate), std::move(image), fileName, userNick, 0.1);
  return headImageViewController_;
}

bool TCUiKit::popSetHeadImageViewWnd(std::weak_ptr<setHeadImageDelegate> delegate, std::shared_ptr<os::Image> image,
                                     const std::optional<std::string>& fileName,
                                     const std::optional<std::string>& userNick) {
  if (!image || window_) return false;
  keywindow_ = os::Window::keyWindow();
  MoveOtherWindowOutOfFrame();
  window_ = std::make_shared<os::Window>(os::Screen::main().bounds());
  window_->setWindowLevel(os::kWindowLevelNormal);
  window_->makeKeyAndVisible();
  window_->setRootViewController(preparePicker(std::move(delegate), std::move(image), fileName, userNick, 0.01));
  windowsArray_.push_back(window_);
  return true;
}

void TCUiKit::MoveOtherWindowOutOfFrame() { TcApiTool::MoveOtherWindowOutOfFrame(windowsArray_, false); }

void TCUiKit::MoveOhterWindowIntoFrame() {
  TcApiTool::MoveAllWindowIntoScreen(windowsArray_, false);
  windowsArray_.clear();
}

std::shared_ptr<SetHeadImageViewController> TCUiKit::shownPicker() const {
  if (window_)
    if (auto root = std::dynamic_pointer_cast<SetHeadImageViewController>(window_->rootViewController())) return root;
  return headImageViewController_;
}

void TCUiKit::onTimerSetPic(const PendingPicture& pending) {
  auto keep = timer_;
  timer_.reset();
  // The picker this picture was made for, not whichever is shown now: a picker handed out while
  // the window is up must not give the window its picture.
  auto picker = pending.picker.lock();
  if (!picker) return;
  if (pending.nick) picker->setNick(*pending.nick);
  if (pending.image) picker->setImage(pending.image);
}

bool TCUiKit::popWebViewWnd(const std::string& url, const std::string& title, std::weak_ptr<TCWebViewKitDelegate> delegate) {
  if (!webViewKit_) webViewKit_ = std::make_shared<TCWebViewKit>();
  webViewKit_->openWithUrl(url, title, std::move(delegate));
  return true;
}

std::shared_ptr<TCWebViewController> TCUiKit::getWebViewController(const std::string& url, const std::string& title,
                                                                   std::weak_ptr<TCWebViewKitDelegate> delegate) {
  if (webViewKit_) webViewKit_->doCloseWithNotAnimation();
  webViewKit_ = std::make_shared<TCWebViewKit>();
  return webViewKit_->getViewControllerWithUrl(url, title, std::move(delegate));
}

bool TCUiKit::setViewControllerData(const std::optional<os::Dictionary>& data) {
  auto picker = shownPicker();
  return data && picker && picker->setViewControllerData(*data);
}

bool TCUiKit::setViewControllerResponse(const std::shared_ptr<APIResponse>& response) {
  auto picker = shownPicker();
  return response && picker && picker->setViewControllerResponse(response);
}

void TCUiKit::doClose() {
  if (window_) {
    MoveOhterWindowIntoFrame();
    closeWindow();
  }
  headImageViewController_.reset();
}

void TCUiKit::closeWindow() {
  if (!window_) return;
  if (auto picker = std::dynamic_pointer_cast<SetHeadImageViewController>(window_->rootViewController())) {
    const bool named = picker->nick() && !picker->nick()->empty();
    TCDataReport::shared().reportData(0, named ? kTCUiKitReportClosedWithNick : kTCUiKitReportClosedWithoutNick, appId_,
                                      std::nullopt);
  }
  window_->setRootViewController(nullptr);
  window_->setHidden(true);
  if (auto previous = keywindow_.lock()) previous->makeKeyWindow();
  keywindow_.reset();
  window_.reset();
  if (timer_) timer_->invalidate();
  timer_.reset();
  windowsArray_.clear();
}

void TCUiKit::animationFinished(const std::string& animationID, bool finished) {
  if (animationID == "moveOutOfFrame" && finished) closeWindow();
}
