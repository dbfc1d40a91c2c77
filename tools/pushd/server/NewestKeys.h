#pragma once
// The keys of the newest entries a service heard, for telling whether one was heard lately: the
// newest within a count and a byte bound, with a hash lookup that lets go of a key when its last
// entry leaves them. A key added again stays while its newest entry is within the bounds.
#include <cstddef>
#include <string>
#include <unordered_map>

#include "tools/common/NewestKept.h"

namespace pushd {

class NewestKeys {
 public:
  explicit NewestKeys(std::size_t limit = tools::kRecordLimit, std::size_t byteLimit = tools::kRecordByteLimit)
      : order_(limit, byteLimit) {}

  bool contains(const std::string& key) const { return held_.contains(key); }
  // Keeps the key as the newest entry, letting go of the oldest past either bound.
  void add(const std::string& key) {
    ++held_[key];
    for (const std::string& gone : order_.keep(key))
      if (auto it = held_.find(gone); it != held_.end() && --it->second == 0) held_.erase(it);
  }
  std::size_t size() const { return held_.size(); }
  // The kept entries, oldest first.
  auto begin() const { return order_.begin(); }
  auto end() const { return order_.end(); }
  std::size_t entries() const { return order_.size(); }

 private:
  tools::NewestKept<std::string> order_;
  // How many of order_'s entries each key has; its copies of the keys hold no more than order_'s.
  std::unordered_map<std::string, std::size_t> held_;
};

}  // namespace pushd
