#pragma once
// The array the JSON reader hands out where a caller keeps the reader's own collections: built in
// one step from the parsed values, immutable (mutations 0) or mutable (mutations counted from 1).
// Misuse throws os::Exception with the platform's exception name and reason.
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <vector>

#include "os/core/Value.h"

class JTArray : public std::enable_shared_from_this<JTArray> {
  struct Key {};

 public:
  static std::shared_ptr<JTArray> arrayWithValues(os::Array values, bool mutableResult);
  // The array of a parsed value (null when the value is no array).
  static std::shared_ptr<JTArray> fromValue(const os::Value& value, bool mutableResult);
  JTArray(Key, os::Array values, bool mutableResult);

  std::size_t count() const { return objects_.size(); }
  std::size_t capacity() const { return capacity_; }
  std::uint32_t mutations() const { return mutations_; }
  bool isMutable() const { return mutations_ != 0; }

  const os::Value& objectAtIndex(std::size_t index) const;
  // Copies `length` elements from `location` into `objects`.
  void getObjects(os::Value* objects, std::size_t location, std::size_t length) const;

  void insertObject(os::Value object, std::size_t index);
  void addObject(os::Value object) { insertObject(std::move(object), count()); }
  void removeObjectAtIndex(std::size_t index);
  void replaceObjectAtIndex(std::size_t index, os::Value object);

  // An immutable array copies to itself; a mutable one to a new immutable array.
  std::shared_ptr<const JTArray> copy() const;
  os::Array mutableCopy() const { return objects_; }
  os::Value toValue() const { return os::Value(objects_); }

  // Enumeration in index order; changing the array while enumerating throws.
  class Iterator {
   public:
    using iterator_category = std::input_iterator_tag;
    using value_type = os::Value;
    using difference_type = std::ptrdiff_t;
    using pointer = const value_type*;
    using reference = const value_type&;
    Iterator(const JTArray* array, std::size_t index) : array_(array), index_(index), mutations_(array->mutations_) {}
    const os::Value& operator*() const;
    Iterator& operator++();
    bool operator==(const Iterator& o) const { return !(*this != o); }
    bool operator!=(const Iterator& o) const { return index_ != o.index_; }

   private:
    const JTArray* array_;
    std::size_t index_;
    std::uint32_t mutations_;
  };
  Iterator begin() const { return Iterator(this, 0); }
  Iterator end() const { return Iterator(this, count()); }

 private:
  friend class JTDictionary;
  void mutated();
  void requireMutable(const char* selector) const;

  os::Array objects_;
  std::size_t capacity_ = 0;
  std::uint32_t mutations_ = 0;
};

// "*** -[class selector]: " in front of a collection exception's reason.
std::string JTCollectionReason(const char* className, const char* selector, const std::string& text);
// The exception a collection changed during enumeration throws.
[[noreturn]] void JTThrowMutatedWhileEnumerating(const char* className);
