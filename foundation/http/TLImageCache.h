#pragma once
// Images by request URL, in memory, bounded: past its count or its pixel-byte limit the least
// recently used images go first. Requests that ask to ignore cached data get nothing from it.
#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "os/graphics/Image.h"
#include "os/net/URLRequest.h"

class TLImageCache {
 public:
  static constexpr std::size_t kDefaultCountLimit = 100;
  static constexpr std::size_t kDefaultTotalCostLimit = 32 * 1024 * 1024;  // bytes of pixels

  explicit TLImageCache(std::size_t countLimit = kDefaultCountLimit, std::size_t totalCostLimit = kDefaultTotalCostLimit);

  std::shared_ptr<os::Image> cachedImageForRequest(const os::URLRequest& request);
  void cacheImage(const std::shared_ptr<os::Image>& image, const os::URLRequest& request);
  void removeAllObjects();

  std::size_t count() const;
  std::size_t totalCost() const;

 private:
  struct Entry {
    std::string key;
    std::shared_ptr<os::Image> image;
    std::size_t cost;
  };
  static std::size_t costOf(const os::Image& image);
  void trim();  // mutex_ held

  mutable std::mutex mutex_;
  std::size_t countLimit_, totalCostLimit_, totalCost_ = 0;
  std::list<Entry> entries_;  // most recently used first
  std::unordered_map<std::string, std::list<Entry>::iterator> index_;
};
