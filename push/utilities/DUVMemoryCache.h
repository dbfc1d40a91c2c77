#pragma once
// A bounded in-memory dictionary that remembers the order in which keys were added and drops the
// oldest slot when full. A key set twice stands twice in the order; the first time one of its
// slots is dropped, its value goes with it. The count always equals the length of the order.
#include <cstddef>
#include <iterator>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "os/core/Value.h"
#include "os/runtime/NotificationCenter.h"

class DUVMemoryCache : public std::enable_shared_from_this<DUVMemoryCache> {
 public:
  // The keys in the order their slots were added. A slot leaves from the front, or with every
  // other slot of its key, at the same cost however long the order: users drop records one by one
  // from caches of many thousands.
  class KeyOrder {
   public:
    class const_iterator {
     public:
      using iterator_category = std::forward_iterator_tag;
      using value_type = std::string;
      using difference_type = std::ptrdiff_t;
      using pointer = const std::string*;
      using reference = const std::string&;
      const_iterator() = default;
      reference operator*() const { return *at_; }
      pointer operator->() const { return at_; }
      const_iterator& operator++() {
        do ++at_;
        while (at_ != end_ && at_->empty());
        return *this;
      }
      const_iterator operator++(int) {
        const_iterator was = *this;
        ++*this;
        return was;
      }
      bool operator==(const const_iterator& o) const { return at_ == o.at_; }

     private:
      friend class KeyOrder;
      const_iterator(const std::string* at, const std::string* end) : at_(at), end_(end) {}
      const std::string* at_ = nullptr;
      const std::string* end_ = nullptr;
    };
    const_iterator begin() const { return {slots_.data() + head_, slots_.data() + slots_.size()}; }
    const_iterator end() const { return {slots_.data() + slots_.size(), slots_.data() + slots_.size()}; }
    std::size_t size() const { return slots_.size() - holes_; }
    bool empty() const { return size() == 0; }
    const std::string& front() const { return slots_[head_]; }
    bool contains(const std::string& key) const { return positions_.contains(key); }

   private:
    friend class DUVMemoryCache;
    void push(const std::string& key);
    std::string popFront();
    // Every slot of the key; how many there were.
    std::size_t erase(const std::string& key);
    void clear();
    void leave(std::size_t position);
    void packIfSparse();

    // A slot that left is an empty key (keys never are) until the holes outnumber the slots.
    std::vector<std::string> slots_;
    std::size_t head_ = 0;  // the first slot that has not left
    std::size_t holes_ = 0;
    std::unordered_map<std::string, std::vector<std::size_t>> positions_;  // each key's slots, in order
  };

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
  const KeyOrder& cacheKeys() const { return cacheKeys_; }
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
  KeyOrder cacheKeys_;
  os::Dictionary cacheObjects_;
  os::NotificationCenter::ObserverToken memoryToken_ = 0;
};
