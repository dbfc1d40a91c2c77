#include "foundation/http/TLImageCache.h"

TLImageCache::TLImageCache(std::size_t countLimit, std::size_t totalCostLimit)
    : countLimit_(countLimit), totalCostLimit_(totalCostLimit) {}

std::size_t TLImageCache::costOf(const os::Image& image) {
  std::size_t cost = image.bitmap().pixels.size();
  for (const auto& frame : image.frames())
    if (frame) cost += frame->bitmap().pixels.size();
  return cost;
}

std::shared_ptr<os::Image> TLImageCache::cachedImageForRequest(const os::URLRequest& request) {
  auto policy = request.cachePolicy();
  if (policy == os::URLRequestCachePolicy::ReloadIgnoringLocalCacheData ||
      policy == os::URLRequestCachePolicy::ReloadIgnoringLocalAndRemoteCacheData)
    return nullptr;
  std::lock_guard lock(mutex_);
  auto it = index_.find(request.url());
  if (it == index_.end()) return nullptr;
  entries_.splice(entries_.begin(), entries_, it->second);
  return it->second->image;
}

void TLImageCache::cacheImage(const std::shared_ptr<os::Image>& image, const os::URLRequest& request) {
  if (!image || !request.hasURL()) return;
  std::lock_guard lock(mutex_);
  auto it = index_.find(request.url());
  if (it != index_.end()) {
    totalCost_ -= it->second->cost;
    entries_.erase(it->second);
    index_.erase(it);
  }
  std::size_t cost = costOf(*image);
  entries_.push_front(Entry{request.url(), image, cost});
  index_[request.url()] = entries_.begin();
  totalCost_ += cost;
  trim();
}

void TLImageCache::trim() {
  // The newest entry stays even when it alone is over the cost limit: it is about to be shown.
  while (entries_.size() > 1 && (entries_.size() > countLimit_ || totalCost_ > totalCostLimit_)) {
    totalCost_ -= entries_.back().cost;
    index_.erase(entries_.back().key);
    entries_.pop_back();
  }
}

void TLImageCache::removeAllObjects() {
  std::lock_guard lock(mutex_);
  entries_.clear();
  index_.clear();
  totalCost_ = 0;
}

std::size_t TLImageCache::count() const {
  std::lock_guard lock(mutex_);
  return entries_.size();
}

std::size_t TLImageCache::totalCost() const {
  std::lock_guard lock(mutex_);
  return totalCost_;
}
