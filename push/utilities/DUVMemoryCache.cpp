#include "push/utilities/DUVMemoryCache.h"

#include "os/views/Application.h"

void DUVMemoryCache::KeyOrder::push(const std::string& key) {
  positions_[key].push_back(slots_.size());
  slots_.push_back(key);
}

void DUVMemoryCache::KeyOrder::leave(std::size_t position) {
  std::string().swap(slots_[position]);
  ++holes_;
}

std::string DUVMemoryCache::KeyOrder::popFront() {
  std::string key = slots_[head_];
  auto found = positions_.find(key);
  // Its first slot is this one; a key stands a few times at most.
  found->second.erase(found->second.begin());
  if (found->second.empty()) positions_.erase(found);
  leave(head_);
  packIfSparse();
  return key;
}

std::size_t DUVMemoryCache::KeyOrder::erase(const std::string& key) {
  auto found = positions_.find(key);
  if (found == positions_.end()) return 0;
  const std::size_t slots = found->second.size();
  for (std::size_t position : found->second) leave(position);
  positions_.erase(found);
  packIfSparse();
  return slots;
}

void DUVMemoryCache::KeyOrder::packIfSparse() {
  // Packed once the holes outnumber the slots: each packing follows as many removals as it moves
  // slots. Until then the front skips the holes ahead of it, each once.
  if (holes_ * 2 <= slots_.size()) {
    while (head_ < slots_.size() && slots_[head_].empty()) ++head_;
    return;
  }
  std::vector<std::size_t> moved(slots_.size());
  std::size_t kept = 0;
  for (std::size_t i = 0; i < slots_.size(); ++i) {
    if (slots_[i].empty()) continue;
    moved[i] = kept;
    if (kept != i) slots_[kept] = std::move(slots_[i]);
    ++kept;
  }
  slots_.resize(kept);
  for (auto& [key, positions] : positions_)
    for (std::size_t& position : positions) position = moved[position];
  head_ = 0;
  holes_ = 0;
}

void DUVMemoryCache::KeyOrder::clear() {
  slots_.clear();
  positions_.clear();
  head_ = 0;
  holes_ = 0;
}

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
  cacheKeys_.push(key);
  orderChanged(key, 1);
  cacheObjects_.set(key, object);
  valueChanged(key, &object);
}

void DUVMemoryCache::storeObject(const os::Value& object, const std::string& key) {
  if (key.empty() || object.isNull()) return;
  if (!cacheObjects_.contains(key) || !cacheKeys_.contains(key)) {
    cacheKeys_.push(key);
    orderChanged(key, 1);
  }
  cacheObjects_.set(key, object);
  valueChanged(key, &object);
}

void DUVMemoryCache::removeFirstObject() {
  if (cacheKeys_.empty()) return;
  std::string key = cacheKeys_.popFront();
  orderChanged(key, -1);
  if (cacheObjects_.remove(key)) valueChanged(key, nullptr);
}

void DUVMemoryCache::eraseKeyFromOrder(const std::string& key) {
  if (std::size_t dropped = cacheKeys_.erase(key)) orderChanged(key, -static_cast<long>(dropped));
}

void DUVMemoryCache::removeObjectsAtIndexes(std::size_t location, std::size_t length) {
  // Only the values go: the slots stay in the order (and in the count) until they are evicted.
  auto at = cacheKeys_.begin();
  for (std::size_t i = 0; i < location && at != cacheKeys_.end(); ++i) ++at;
  for (std::size_t i = 0; i < length && at != cacheKeys_.end(); ++i, ++at)
    if (cacheObjects_.remove(*at)) valueChanged(*at, nullptr);
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
