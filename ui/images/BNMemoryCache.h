#pragma once
// A thread-safe keyed store of images with a total cost limit: the memory tier of the image
// cache. Past the limit (0: none) the least recently used entries leave first.
#include <cstdint>
#include <list>
#include <mutex>
#include <string>
#include <unordered_map>

#include "ui/images/ImageDecoding.h"

class BNMemoryCache {
 public:
  explicit BNMemoryCache(std::string name = {}) : name_(std::move(name)) {}

  const std::string& name() const { return name_; }
  std::uint64_t totalCostLimit() const;
  void setTotalCostLimit(std::uint64_t limit);
  // Entries kept at most (0: no limit); past it the least recently used leave first.
  std::size_t countLimit() const;
  void setCountLimit(std::size_t limit);
  std::uint64_t totalCost() const;
  std::size_t count() const;

  BNImagePtr objectForKey(const std::string& key);
  void setObject(const BNImagePtr& image, const std::string& key, std::uint64_t cost);
  void removeObjectForKey(const std::string& key);
  void removeAllObjects();

 private:
  struct Entry {
    BNImagePtr image;
    std::uint64_t cost;
    std::list<std::string>::iterator recent;
  };
  void evictLocked();

  const std::string name_;
  mutable std::mutex mutex_;
  std::unordered_map<std::string, Entry> entries_;
  std::list<std::string> recent_;  // most recently used first
  std::uint64_t totalCost_ = 0;
  std::uint64_t limit_ = 0;
  std::size_t countLimit_ = 0;
};
