#include "news/store/VXGlobalDefine.h"

#include <algorithm>
#include <cmath>
#include <mutex>

#include "news/api/VXAdListRequest.h"
#include "news/api/VXGlobalHelper.h"
#include "news/api/VXReaderContext.h"
#include "news/store/VXNewsDBManager.h"
#include "os/crypto/Random.h"
#include "os/runtime/Clock.h"
#include "os/runtime/DispatchQueue.h"
#include "os/runtime/NotificationCenter.h"
#include "os/runtime/RunLoop.h"
#include "os/runtime/Timer.h"

namespace {

}  // namespace

std::shared_ptr<VXGlobalDefine> VXGlobalDefine::share() { return share(*VXReaderContext::current()); }

std::shared_ptr<VXGlobalDefine> VXGlobalDefine::share(VXReaderContext& context) {
  return context.state.get([] { return create(); });
}

std::shared_ptr<VXGlobalDefine> VXGlobalDefine::setShared(std::shared_ptr<VXGlobalDefine> state) {
  return VXReaderContext::current()->state.set(std::move(state));
}

std::shared_ptr<VXGlobalDefine> VXGlobalDefine::create() {
  auto state = std::make_shared<VXGlobalDefine>();
  std::weak_ptr<VXGlobalDefine> weak = state;
  state->timer_ = os::Timer::scheduled(*os::RunLoop::main(), kAdTimerInterval, true, [weak](os::Timer&) {
    if (auto self = weak.lock()) self->timerFire();
  });
  return state;
}

VXGlobalDefine::~VXGlobalDefine() {
  if (timer_) timer_->invalidate();
}

void VXGlobalDefine::setScreenStatus(int status) {
  if (status == screenStatus_) return;
  screenStatus_ = status;
  if (status == 0) os::NotificationCenter::defaultCenter().post(kScreenStatusNotification);
}

void VXGlobalDefine::timerFire() { updateAdList(); }

void VXGlobalDefine::updateAdList() { setAdLastUpdateTime(os::Clock::now()); }

void VXGlobalDefine::setAdLastUpdateTime(double t) {
  if (pass_ || !(std::fabs(t - adLastUpdateTime_) > kAdRefreshInterval)) return;
  adListRequest();
  adLastUpdateTime_ = t;
}

void VXGlobalDefine::adListRequest() {
  VXAdListRequest request;
  std::weak_ptr<VXGlobalDefine> weak = weak_from_this();
  VXGlobalHelper::loadWithRequest(request, [weak](const std::optional<os::Dictionary>& data) {
    auto self = weak.lock();
    if (!self) return;
    if (auto ads = adsFromAnswer(data)) self->adArray_ = std::move(*ads);
  });
}

std::optional<std::vector<VXAdDO>> VXGlobalDefine::adsFromAnswer(const std::optional<os::Dictionary>& data) {
  if (!data) return std::nullopt;
  const os::Value& result = (*data)["result"];
  if (!result.isNumber() || result.doubleValue() != kAdListSuccess) return std::nullopt;
  std::vector<VXAdDO> ads;
  if (const os::Array* list = (*data)["adlist"].array()) {
    for (const os::Value& item : *list) {
      if (const os::Dictionary* dict = item.dictionary()) ads.emplace_back(*dict);
    }
  }
  return ads;
}

long VXGlobalDefine::randAdIndex() const {
  if (pass_ || adArray_.empty()) return -1;
  return static_cast<long>(os::random32() % static_cast<std::uint32_t>(adArray_.size()));
}

std::optional<VXAdDO> VXGlobalDefine::randAd() const {
  long index = randAdIndex();
  if (index < 0) return std::nullopt;
  return adArray_[static_cast<std::size_t>(index)];
}

void VXGlobalDefine::initNewsHistoryArray() {
  auto db = VXNewsDBManager::share();
  watch(db);
  newsHistoryArray_ = db->getHistoryID();
}

bool VXGlobalDefine::isNewsHistory(long long articleID) const {
  return std::find(newsHistoryArray_.begin(), newsHistoryArray_.end(), articleID) != newsHistoryArray_.end();
}

bool VXGlobalDefine::addNewsHistory(long long articleID) {
  if (isNewsHistory(articleID)) return false;
  auto db = VXNewsDBManager::share();
  watch(db);
  if (!db->insertHistory(articleID)) return false;
  newsHistoryArray_.push_back(articleID);
  return true;
}

void VXGlobalDefine::watch(const std::shared_ptr<VXNewsDBManager>& db) {
  if (!db || watched_.lock() == db) return;
  watched_ = db;
  std::weak_ptr<VXGlobalDefine> weak = weak_from_this();
  db->setHistoryClearedHandler([weak] {
    if (os::RunLoop::isMainThread()) {
      if (auto self = weak.lock()) self->historyCleared();
      return;
    }
    os::DispatchQueue::main()->async([weak] {
      if (auto self = weak.lock()) self->historyCleared();
    });
  });
}

void VXGlobalDefine::historyCleared() {
  // Otherwise titles would stay grey and a re-opened article would never be stored again.
  newsHistoryArray_.clear();
}
