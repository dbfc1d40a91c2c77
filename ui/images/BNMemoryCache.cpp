#include "ui/images/BNMemoryCache.h"

std::uint64_t BNMemoryCache::totalCostLimit() const {
  std::lock_guard lock(mutex_);
  return limit_;
}

void BNMemoryCache::setTotalCostLimit(std::uint64_t limit) {
  std::lock_guard lock(mutex_);
  limit_ = limit;
  evictLocked();
}

std::size_t BNMemoryCache::countLimit() const {
  std::lock_guard lock(mutex_);
  return countLimit_;
}

void BNMemoryCache::setCountLimit(std::size_t limit) {
  std::lock_guard lock(mutex_);
  countLimit_ = limit;
  evictLocked();
}

std::uint64_t BNMemoryCache::totalCost() const {
  std::lock_guard lock(mutex_);
  return totalCost_;
}

std::size_t BNMemoryCache::count() const {
  std::lock_guard lock(mutex_);
  return entries_.size();
}

BNImagePtr BNMemoryCache::objectForKey(const std::string& key) {
  std::lock_guard lock(mutex_);
  auto it = entries_.find(key);
  if (it == entries_.end()) return nullptr;
  recent_.splice(recent_.begin(), recent_, it->second.recent);
  return it->second.image;
}

void BNMemoryCache::setObject(const BNImagePtr& image, const std::string& key, std::uint64_t cost) {
  if (!image) {
    removeObjectForKey(key);
    return;
  }
  std::lock_guard lock(mutex_);
  auto it = entries_.find(key);
  if (it != entries_.end()) {
    totalCost_ -= it->second.cost;
    it->second.image = image;
    it->second.cost = cost;
    recent_.splice(recent_.begin(), recent_, it->second.recent);
  } else {
    recent_.push_front(key);
    entries_.emplace(key, Entry{image, cost, recent_.begin()});
  }
  totalCost_ += cost;
  evictLocked();
}

void BNMemoryCache::removeObjectForKey(const std::string& key) {
  std::lock_guard lock(mutex_);
  auto it = entries_.find(key);
  if (it == entries_.end()) return;
  totalCost_ -= it->second.cost;
  recent_.erase(it->second.recent);
  entries_.erase(it);
}

void BNMemoryCache::removeAllObjects() {
  std::lock_guard lock(mutex_);
  entries_.clear();
  recent_.clear();
  totalCost_ = 0;
}

void BNMemoryCache::evictLocked() {
  // The newest entry stays even when it alone is over the limit, so a store is never lost at once.
  auto over = [&] { return (limit_ != 0 && totalCost_ > limit_) || (countLimit_ != 0 && recent_.size() > countLimit_); };
  while (over() && recent_.size() > 1) {
    auto it = entries_.find(recent_.back());
    totalCost_ -= it->second.cost;
    entries_.erase(it);
    recent_.pop_back();
  }
}
