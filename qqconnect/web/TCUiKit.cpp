#include "qqconnect/web/TCUiKit.h"

#include "qqconnect/core/login/TcApiTool.h"
#include "os/views/Application.h"
#include "os/views/Screen.h"
#include "os/views/Window.h"

std::shared_ptr<SetHeadImageViewController> TCUiKit::preparePicker(std::weak_ptr<setHeadImageDelegate> delegate,
                                                                   std::shared_ptr<os::Image> image,
                                                                   const std::optional<std::string>& fileName,
                                                                   const std::optional<std::string>& userNick) {
  auto picker = std::make_shared<SetHeadImageViewController>(fileName.value_or(""), std::move(delegate), reachabilityHost_);
  if (userNick) picker->setNick(*userNick);
  picker->setImage(std::move(image));
  return picker;
}

std::shared_ptr<SetHeadImageViewController> TCUiKit::getHeadImageViewController(
    std::weak_ptr<setHeadImageDelegate> delegate, std::shared_ptr<os::Image> image,
    const std::optional<std::string>& fileName, const std::optional<std::string>& userNick) {
  if (!image) return nullptr;
  headImageViewController_ = preparePicker(std::move(delegate), std::move(image), fileName, userNick);
  return headImageViewController_;
}

bool TCUiKit::popSetHeadImageViewWnd(std::weak_ptr<setHeadImageDelegate> delegate, std::shared_ptr<os::Image> image,
                                     const std::optional<std::string>& fileName,
                                     const std::optional<std::string>& userNick) {
  if (!image || window_) return false;
  keywindow_ = os::Window::keyWindow();
  if (auto app = os::Application::shared()) {
    for (const auto& w : app->windows())
      if (w && w->windowLevel() > os::kWindowLevelNormal) windowsArray_.push_back(w);
  }
  TcApiTool::MoveAllWindowOutOfScreen(windowsArray_, false);
  window_ = std::make_shared<os::Window>(os::Screen::main().bounds());
  window_->makeKeyAndVisible();
  window_->setRootViewController(preparePicker(std::move(delegate), std::move(image), fileName, userNick));
  windowsArray_.push_back(window_);
  return true;
}

std::shared_ptr<SetHeadImageViewController> TCUiKit::shownPicker() const {
  if (window_)
    if (auto root = std::dynamic_pointer_cast<SetHeadImageViewController>(window_->rootViewController())) return root;
  return headImageViewController_;
}

bool TCUiKit::popWebViewWnd(const std::string& url, const std::string& title, std::weak_ptr<TCWebViewKitDelegate> delegate) {
  if (!webViewKit_) webViewKit_ = std::make_shared<TCWebViewKit>();
  return webViewKit_->openWithUrl(url, title, std::move(delegate));
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
    TcApiTool::MoveAllWindowIntoScreen(windowsArray_, false);
    windowsArray_.clear();
    closeWindow();
  }
  headImageViewController_.reset();
}

void TCUiKit::closeWindow() {
  if (!window_) return;
  window_->setRootViewController(nullptr);
  window_->setHidden(true);
  if (auto previous = keywindow_.lock()) previous->makeKeyWindow();
  keywindow_.reset();
  window_.reset();
  windowsArray_.clear();
}
