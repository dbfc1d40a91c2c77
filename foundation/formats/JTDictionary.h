#pragma once
// The dictionary the JSON reader hands out where a caller keeps the reader's own collections:
// an open-addressing table sized once for its members, immutable (mutations 0) or mutable.
// Keys enumerate in slot order. Misuse throws os::Exception.
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "os/core/Value.h"

class JTDictionaryEnumerator;

class JTDictionary : public std::enable_shared_from_this<JTDictionary> {
  struct Key {};

 public:
  // Members in document order; a later duplicate key replaces an earlier one.
  static std::shared_ptr<JTDictionary> dictionaryWithMembers(const os::Dictionary& members, bool mutableResult);
  // The dictionary of a parsed value (null when the value is no dictionary).
  static std::shared_ptr<JTDictionary> fromValue(const os::Value& value, bool mutableResult);
  JTDictionary(Key, std::size_t capacity, bool mutableResult);

  // The smallest table capacity for n members.
  static std::size_t capacityForCount(std::size_t n);

  std::size_t count() const { return count_; }
  std::size_t capacity() const { return table_.size(); }
  std::uint32_t mutations() const { return mutations_; }
  bool isMutable() const { return mutations_ != 0; }

  const os::Value* objectForKey(std::string_view key) const;
  // Writes each member's object and key, in slot order, to the destinations given.
  void getObjects(os::Value* objects, std::string* keys) const;
  std::vector<std::string> allKeys() const;
  std::shared_ptr<JTDictionaryEnumerator> keyEnumerator() const;

  void setObject(os::Value object, std::string key);
  void removeObjectForKey(std::string_view key);

  std::shared_ptr<const JTDictionary> copy() const;
  // A plain dictionary of the members, in slot order.
  os::Dictionary mutableCopy() const;
  os::Value toValue() const { return os::Value(mutableCopy()); }

  // Keys in slot order; changing the dictionary while enumerating throws.
  class Iterator {
   public:
    using iterator_category = std::input_iterator_tag;
    using value_type = std::string;
    using difference_type = std::ptrdiff_t;
    using pointer = const value_type*;
    using reference = const value_type&;
    Iterator(const JTDictionary* d, std::size_t slot);
    const std::string& operator*() const;
    Iterator& operator++();
    bool operator==(const Iterator& o) const { return !(*this != o); }
    bool operator!=(const Iterator& o) const { return slot_ != o.slot_; }

   private:
    void settle();
    const JTDictionary* d_;
    std::size_t slot_;
    std::uint32_t mutations_;
  };
  Iterator begin() const { return Iterator(this, 0); }
  Iterator end() const { return Iterator(this, table_.size()); }

 private:
  friend class JTDictionaryEnumerator;
  struct Slot {
    bool used = false;
    std::uint32_t hash = 0;
    std::string key;
    os::Value object;
  };
  static std::uint32_t hashKey(std::string_view key);
  std::optional<std::size_t> find(std::string_view key, std::uint32_t hash) const;
  void add(std::string key, std::uint32_t hash, os::Value object);
  void removeSlot(std::size_t slot);
  void requireMutable(const char* selector) const;
  void mutated() { mutations_ = mutations_ == UINT32_MAX ? 1 : mutations_ + 1; }

  std::vector<Slot> table_;
  std::size_t count_ = 0;
  std::uint32_t mutations_ = 0;
};

// Walks a dictionary's keys in slot order, keeping the dictionary alive.
class JTDictionaryEnumerator {
 public:
  explicit JTDictionaryEnumerator(std::shared_ptr<const JTDictionary> dictionary) : collection_(std::move(dictionary)) {}
  std::optional<std::string> nextObject();
  // Every key nextObject would still return.
  std::vector<std::string> allObjects();

 private:
  std::shared_ptr<const JTDictionary> collection_;
  std::size_t nextObject_ = 0;
};
