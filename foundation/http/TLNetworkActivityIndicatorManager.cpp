#include "foundation/http/TLNetworkActivityIndicatorManager.h"

#include "foundation/http/TLURLConnectionOperation.h"
#include "os/runtime/DispatchQueue.h"
#include "os/runtime/RunLoop.h"
#include "os/runtime/Timer.h"
#include "os/views/Application.h"

TLNetworkActivityIndicatorManager& TLNetworkActivityIndicatorManager::sharedManager() {
  static auto* manager = new TLNetworkActivityIndicatorManager();
  return *manager;
}

TLNetworkActivityIndicatorManager::TLNetworkActivityIndicatorManager() {
  auto& center = os::NotificationCenter::defaultCenter();
  center.addObserver(this, kTLNetworkingOperationDidStartNotification, nullptr,
                     [this](const os::Notification& n) { networkingOperationDidStart(n); });
  center.addObserver(this, kTLNetworkingOperationDidFinishNotification, nullptr,
                     [this](const os::Notification& n) { networkingOperationDidFinish(n); });
}

TLNetworkActivityIndicatorManager::~TLNetworkActivityIndicatorManager() {
  os::NotificationCenter::defaultCenter().removeObserver(this);
  *alive_ = false;
  if (activityIndicatorVisibilityTimer_) activityIndicatorVisibilityTimer_->invalidate();
}

bool TLNetworkActivityIndicatorManager::isEnabled() const {
  std::lock_guard lock(mutex_);
  return enabled_;
}

void TLNetworkActivityIndicatorManager::setEnabled(bool enabled) {
  std::lock_guard lock(mutex_);
  enabled_ = enabled;
}

int TLNetworkActivityIndicatorManager::activityCount() const {
  std::lock_guard lock(mutex_);
  return activityCount_;
}

void TLNetworkActivityIndicatorManager::setActivityCount(int count) {
  {
    std::lock_guard lock(mutex_);
    activityCount_ = count < 0 ? 0 : count;
  }
  scheduleUpdate();
}

void TLNetworkActivityIndicatorManager::incrementActivityCount() {
  {
    std::lock_guard lock(mutex_);
    ++activityCount_;
  }
  scheduleUpdate();
}

void TLNetworkActivityIndicatorManager::decrementActivityCount() {
  {
    std::lock_guard lock(mutex_);
    if (activityCount_ > 0) --activityCount_;
  }
  scheduleUpdate();
}

void TLNetworkActivityIndicatorManager::networkingOperationDidStart(const os::Notification& notification) {
  // The broadcasts of these names always carry the operation as their object.
  const auto* op = static_cast<const TLURLConnectionOperation*>(notification.object);
  if (op && op->request().hasURL()) incrementActivityCount();
}

void TLNetworkActivityIndicatorManager::networkingOperationDidFinish(const os::Notification& notification) {
  const auto* op = static_cast<const TLURLConnectionOperation*>(notification.object);
  if (op && op->request().hasURL()) decrementActivityCount();
}

void TLNetworkActivityIndicatorManager::scheduleUpdate() {
  std::weak_ptr<bool> alive = alive_;
  os::DispatchQueue::main()->async([this, alive] {
    auto live = alive.lock();
    if (live && *live) updateNetworkActivityIndicatorVisibilityDelayed();
  });
}

void TLNetworkActivityIndicatorManager::updateNetworkActivityIndicatorVisibilityDelayed() {
  if (!isEnabled()) return;
  if (isNetworkActivityIndicatorVisible()) {
    showIndicator(true);
    return;
  }
  if (activityIndicatorVisibilityTimer_) activityIndicatorVisibilityTimer_->invalidate();
  std::weak_ptr<bool> alive = alive_;
  activityIndicatorVisibilityTimer_ =
      os::Timer::scheduled(*os::RunLoop::main(), kInvisibilityDelay, false, [this, alive](os::Timer&) {
        auto live = alive.lock();
        if (live && *live) showIndicator(isNetworkActivityIndicatorVisible());
      });
}

void TLNetworkActivityIndicatorManager::showIndicator(bool visible) {
  shown_ = visible;
  if (handler_) handler_(visible);
  else if (auto app = os::Application::shared()) app->setNetworkActivityIndicatorVisible(visible);
}
