#pragma once
// A bounded in-memory dictionary that remembers the order in which keys were added and drops the
// oldest slot when full. A key set twice stands twice in the order; the first time one of its
// slots is dropped, its value goes with it. The count always equals the length of the order.
#include <memory>
#include <string>
#include <vector>

#include "os/core/Value.h"
#include "os/runtime/NotificationCenter.h"

class DUVMemoryCache : public std::enable_shared_from_this<DUVMemoryCache> {
 public:
  // Observes the application's memory warnings.
  static std::shared_ptr<DUVMemoryCache> create();
  virtual ~DUVMemoryCache();
  DUVMemoryCache(const DUVMemoryCache&) = delete;
  DUVMemoryCache& operator=(const DUVMemoryCache&) = delete;

  bool hasObjectForKey(const std::string& key) const { return cacheObjects_.contains(key); }
  // Nothing for a null value or an empty key. Holds at most maxCacheCount - 1 slots.
  void setObject(const os::Value& object, const std::string& key);
  void removeFirstObject();
  // Removes the values of the keys at positions [location, location + length) of the order;
  // the order and the count are left as they are.
  void removeObjectsAtIndexes(std::size_t location, std::size_t length);
  void removeObject(const os::Value& object);
  void removeObjectForKey(const std::string& key);
  void removeAllObjects();

  // Off by default: the cache's user keeps records here that exist nowhere else (reports not
  // yet accepted), which a memory warning must not throw away.
  bool clearWhenMemoryLow() const { return clearWhenMemoryLow_; }
  void setClearWhenMemoryLow(bool clear) { clearWhenMemoryLow_ = clear; }
  int maxCacheCount() const { return maxCacheCount_; }
  void setMaxCacheCount(int count) { maxCacheCount_ = count; }
  int cachedCount() const { return static_cast<int>(cacheKeys_.size()); }
  const std::vector<std::string>& cacheKeys() const { return cacheKeys_; }
  const os::Dictionary& cacheObjects() const { return cacheObjects_; }

  struct PrivateTag {};
  explicit DUVMemoryCache(PrivateTag) {}

 protected:
  // Straight into the dictionary, past the count bound, for a user that bounds itself otherwise:
  // a new key goes to the end of the order, a known one keeps its place.
  void storeObject(const os::Value& object, const std::string& key);

  // Every value stored (`object` null: removed), every slot added to (+1) or dropped from (-n)
  // the order, and the clearing of both pass here, for a user that keeps running figures over
  // the contents.
  virtual void valueChanged(const std::string& /*key*/, const os::Value* /*object*/) {}
  virtual void orderChanged(const std::string& /*key*/, long /*slots*/) {}
  virtual void cleared() {}

 private:
  void eraseKeyFromOrder(const std::string& key);

  bool clearWhenMemoryLow_ = false;
  int maxCacheCount_ = 1000;
  std::vector<std::string> cacheKeys_;
  os::Dictionary cacheObjects_;
  os::NotificationCenter::ObserverToken memoryToken_ = 0;
};
