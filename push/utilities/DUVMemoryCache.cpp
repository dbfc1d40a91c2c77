#include "push/utilities/DUVMemoryCache.h"

#include <algorithm>

#include "os/views/Application.h"

std::shared_ptr<DUVMemoryCache> DUVMemoryCache::create() {
  auto cache = std::make_shared<DUVMemoryCache>(PrivateTag{});
  std::weak_ptr<DUVMemoryCache> weak = cache;
  cache->memoryToken_ = os::NotificationCenter::defaultCenter().addObserver(
      os::kApplicationDidReceiveMemoryWarningNotification, nullptr, [weak](const os::Notification&) {
        if (auto self = weak.lock(); self && self->clearWhenMemoryLow_) self->removeAllObjects();
      });
  return cache;
}

DUVMemoryCache::~DUVMemoryCache() {
  if (memoryToken_) os::NotificationCenter::defaultCenter().removeObserver(memoryToken_);
}

void DUVMemoryCache::setObject(const os::Value& object, const std::string& key) {
  if (key.empty() || object.isNull()) return;
  while (cachedCount() + 1 >= maxCacheCount_ && !cacheKeys_.empty()) removeFirstObject();
  cacheKeys_.push_back(key);
  orderChanged(key, 1);
  cacheObjects_.set(key, object);
  valueChanged(key, &object);
}

void DUVMemoryCache::storeObject(const os::Value& object, const std::string& key) {
  if (key.empty() || object.isNull()) return;
  if (!cacheObjects_.contains(key) || std::find(cacheKeys_.begin(), cacheKeys_.end(), key) == cacheKeys_.end()) {
    cacheKeys_.push_back(key);
    orderChanged(key, 1);
  }
  cacheObjects_.set(key, object);
  valueChanged(key, &object);
}

void DUVMemoryCache::removeFirstObject() {
  if (cacheKeys_.empty()) return;
  std::string key = std::move(cacheKeys_.front());
  cacheKeys_.erase(cacheKeys_.begin());
  orderChanged(key, -1);
  if (cacheObjects_.remove(key)) valueChanged(key, nullptr);
}

void DUVMemoryCache::eraseKeyFromOrder(const std::string& key) {
  auto kept = std::remove(cacheKeys_.begin(), cacheKeys_.end(), key);
  auto dropped = cacheKeys_.end() - kept;
  cacheKeys_.erase(kept, cacheKeys_.end());
  if (dropped) orderChanged(key, -static_cast<long>(dropped));
}

void DUVMemoryCache::removeObjectsAtIndexes(std::size_t location, std::size_t length) {
  // Only the values go: the slots stay in the order (and in the count) until they are evicted.
  for (std::size_t i = location; i < cacheKeys_.size() && i - location < length; ++i)
    if (cacheObjects_.remove(cacheKeys_[i])) valueChanged(cacheKeys_[i], nullptr);
}

void DUVMemoryCache::removeObject(const os::Value& object) {
  std::vector<std::string> keys;
  for (const auto& [key, value] : cacheObjects_)
    if (value == object) keys.push_back(key);
  for (const auto& key : keys) removeObjectForKey(key);
}

void DUVMemoryCache::removeObjectForKey(const std::string& key) {
  if (cacheObjects_.remove(key)) valueChanged(key, nullptr);
  eraseKeyFromOrder(key);
}

void DUVMemoryCache::removeAllObjects() {
  cacheKeys_.clear();
  cacheObjects_.clear();
  cleared();
}
