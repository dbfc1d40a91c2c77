#pragma once
// The dynamic value that JSON, property lists, archives, user defaults, pasteboards and user info pass
// around. Value semantics: copies are cheap (containers are shared until written).
#include <sys/single_threaded.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <new>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <unordered_map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "os/core/Data.h"
#include "os/core/Date.h"

namespace os {

class Value;
class Dictionary;

namespace detail {
// The shared storage of a string, data, array, dictionary or set value: this header, then the
// storage itself. It counts the values that hold it and knows its kind, so that releasing it
// needs no indirect call.
struct alignas(16) BoxHeader {
  BoxHeader(std::uint8_t k, bool block) : refs(1), kind(k), fromBlock(block) {}
  std::atomic<std::uint32_t> refs;
  std::uint8_t kind;  // the Value::Type of the storage
  bool fromBlock;     // made in a ValueStorageScope's shared blocks
};
void destroyBox(BoxHeader* b) noexcept;

// While the process has one thread, nothing else can count at the same time.
inline void retainBox(BoxHeader* b) noexcept {
  if (__libc_single_threaded) b->refs.store(b->refs.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
  else b->refs.fetch_add(1, std::memory_order_relaxed);
}
inline void releaseBox(BoxHeader* b) noexcept {
  // The only holder races no one: no other value holds the box to copy it from.
  const std::uint32_t n = b->refs.load(std::memory_order_acquire);
  if (n == 1) {
    destroyBox(b);
  } else if (__libc_single_threaded) {
    b->refs.store(n - 1, std::memory_order_relaxed);
  } else if (b->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    destroyBox(b);
  }
}

// Element storage of arrays and dictionaries. Inside a ValueStorageScope small ones come from the
// scope's shared blocks, like the values themselves; any other comes from the heap. Either may be
// released anywhere.
void* allocateElements(std::size_t bytes);
void freeElements(void* p, std::size_t bytes) noexcept;

template <class T>
struct ElementAllocator {
  using value_type = T;
  using size_type = std::size_t;
  using difference_type = std::ptrdiff_t;
  using propagate_on_container_move_assignment = std::true_type;
  using is_always_equal = std::true_type;
  T* allocate(std::size_t n) {
    if (n > std::size_t(-1) / 2 / sizeof(T)) throw std::bad_array_new_length();
    return static_cast<T*>(allocateElements(n * sizeof(T)));
  }
  void deallocate(T* p, std::size_t n) noexcept { freeElements(p, n * sizeof(T)); }
};
}  // namespace detail
}  // namespace os

// The containers of values keep their standard types; their element storage goes through the
// allocator above.
template <>
class std::allocator<os::Value> : public os::detail::ElementAllocator<os::Value> {
 public:
  constexpr allocator() noexcept = default;
  template <class U>
  constexpr allocator(const allocator<U>&) noexcept {}
  friend constexpr bool operator==(const allocator&, const allocator&) noexcept { return true; }
};

template <>
class std::allocator<std::pair<std::string, os::Value>>
    : public os::detail::ElementAllocator<std::pair<std::string, os::Value>> {
 public:
  constexpr allocator() noexcept = default;
  template <class U>
  constexpr allocator(const allocator<U>&) noexcept {}
  friend constexpr bool operator==(const allocator&, const allocator&) noexcept { return true; }
};

namespace os {

using Array = std::vector<Value>;

class Value {
 public:
  enum class Type { Null, Boolean, Number, String, Data, Date, Array, Dictionary, Set };

  Value() = default;  // null
  Value(std::nullptr_t) {}
  // Inline: readers make numbers by the thousand.
  Value(bool b) : type_(Type::Boolean), code_('c') { num_.b_ = b; }
  Value(int v) : type_(Type::Number), code_('i') { num_.i_ = v; }
  Value(long v) : type_(Type::Number), code_('q') { num_.i_ = v; }
  Value(long long v) : type_(Type::Number), code_('q') { num_.i_ = v; }
  Value(unsigned v) : type_(Type::Number), code_('I') { num_.u_ = v; }
  Value(unsigned long v) : type_(Type::Number), code_('Q') { num_.u_ = v; }
  Value(unsigned long long v) : type_(Type::Number), code_('Q') { num_.u_ = v; }
  Value(double v) : type_(Type::Number), code_('d') { num_.d_ = v; }
  Value(float v) : type_(Type::Number), code_('f') { num_.d_ = v; }
  Value(const Value& o) noexcept : type_(o.type_), code_(o.code_), num_(o.num_), box_(o.box_) {
    if (box_) detail::retainBox(box_);
  }
  Value(Value&& o) noexcept : type_(o.type_), code_(o.code_), num_(o.num_), box_(o.box_) { o.box_ = nullptr; }
  Value& operator=(const Value& o) noexcept {
    if (o.box_) detail::retainBox(o.box_);
    detail::BoxHeader* old = box_;
    type_ = o.type_;
    code_ = o.code_;
    num_ = o.num_;
    box_ = o.box_;
    if (old) detail::releaseBox(old);
    return *this;
  }
  Value& operator=(Value&& o) noexcept {
    if (this != &o) {
      detail::BoxHeader* old = box_;
      type_ = o.type_;
      code_ = o.code_;
      num_ = o.num_;
      box_ = o.box_;
      o.box_ = nullptr;
      if (old) detail::releaseBox(old);
    }
    return *this;
  }
  ~Value() {
    if (box_) detail::releaseBox(box_);
  }
  Value(const char* s);
  Value(std::string s);
  Value(std::string_view s);
  Value(os::Data d);
  Value(os::Date d);
  Value(os::Array a);
  Value(os::Dictionary d);

  // Numbers with an explicit C type code: c i s l q C I S L Q B f d.
  static Value number(char typeCode, long long v);
  static Value unsignedNumber(char typeCode, unsigned long long v);
  static Value real(char typeCode, double v);
  // A set: members deduplicated by deep equality, first occurrence kept.
  static Value set(os::Array members);
  // A dictionary of the entries of a list whose storage it takes over (a later duplicate key
  // replacing the earlier value), as readers build them.
  static Value dictionaryMovingFrom(std::vector<std::pair<std::string, Value>>&& entries);
  // The same for a list whose keys the caller knows to differ from one another.
  static Value dictionaryOfDistinctKeysMovingFrom(std::vector<std::pair<std::string, Value>>&& entries);

  Type type() const { return type_; }
  bool isNull() const { return type_ == Type::Null; }
  bool isBool() const { return type_ == Type::Boolean; }
  bool isNumber() const { return type_ == Type::Number; }
  bool isString() const { return type_ == Type::String; }
  bool isData() const { return type_ == Type::Data; }
  bool isDate() const { return type_ == Type::Date; }
  bool isArray() const { return type_ == Type::Array; }
  bool isDictionary() const { return type_ == Type::Dictionary; }
  bool isSet() const { return type_ == Type::Set; }

  // C type code of a number ('c' for a boolean, 0 otherwise).
  char typeCode() const;
  bool isFloatingPoint() const { return type_ == Type::Number && (code_ == 'f' || code_ == 'd'); }
  bool isUnsigned() const;

  // Numeric reads; a boolean reads as 1/0, a numeric string as its number, anything else as 0.
  bool boolValue() const;
  long long intValue() const;
  unsigned long long unsignedValue() const;
  double doubleValue() const;

  // Typed access: nullptr / nullopt when the value has another type.
  const std::string* string() const;
  const os::Data* data() const;
  std::optional<os::Date> date() const;
  const os::Array* array() const;
  const os::Dictionary* dictionary() const;
  const os::Array* setMembers() const;
  // Mutable access (copies shared storage first).
  std::string* mutableString();
  os::Data* mutableData();
  os::Array* mutableArray();
  os::Dictionary* mutableDictionary();

  // Convenience: the string, or fallback when not a string.
  std::string stringOr(std::string_view fallback = {}) const;
  // Dictionary lookup; null when not a dictionary or absent.
  const Value& operator[](std::string_view key) const;
  // Array element; null when not an array or out of range.
  const Value& at(std::size_t index) const;
  std::size_t count() const;  // elements of array/set/dictionary, else 0

  // Deep equality. Numbers compare by value across type codes; a boolean equals the numbers 1/0.
  bool operator==(const Value& o) const;
  bool operator!=(const Value& o) const { return !(*this == o); }
  // Both are copies of one string, data or container that neither changed since: the same value,
  // known without looking inside.
  bool sharesStorageWith(const Value& o) const { return box_ && box_ == o.box_ && type_ == o.type_; }

  // The platform's description form: booleans "1"/"0", arrays "(\n    a,\n    b\n)",
  // dictionaries "{\n    key = value;\n}", strings quoted only when they need it.
  std::string description() const;

  static const Value& null();

 private:
  friend class Dictionary;
  // The mark a dictionary leaves in the place of a removed entry; no other value is null with a
  // type code.
  static constexpr char kHoleCode = 'h';
  bool isHole() const noexcept { return type_ == Type::Null && code_ == kHoleCode; }

  Type type_ = Type::Null;
  char code_ = 0;
  union {
    bool b_;
    long long i_;
    unsigned long long u_;
    double d_;
  } num_{};
  detail::BoxHeader* box_ = nullptr;  // string, data, array, dictionary, set storage (copy on write)
  void* payload() const { return box_ ? reinterpret_cast<char*>(box_) + sizeof(detail::BoxHeader) : nullptr; }
  template <class T> const T* boxed() const;
  template <class T> T* mutableBoxed();
};

// Insertion-ordered string-keyed dictionary.
class Dictionary {
 public:
  using Entry = std::pair<std::string, Value>;

  // Walks the entries in order, past the places of removed ones.
  class const_iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = Entry;
    using difference_type = std::ptrdiff_t;
    using pointer = const Entry*;
    using reference = const Entry&;
    const_iterator() = default;
    reference operator*() const { return *at_; }
    pointer operator->() const { return at_; }
    const_iterator& operator++() {
      do ++at_;
      while (at_ != end_ && isHole(*at_));
      return *this;
    }
    const_iterator operator++(int) {
      const_iterator was = *this;
      ++*this;
      return was;
    }
    bool operator==(const const_iterator& o) const { return at_ == o.at_; }

   private:
    friend class Dictionary;
    const_iterator(const Entry* at, const Entry* end) : at_(at), end_(end) {}
    const Entry* at_ = nullptr;
    const Entry* end_ = nullptr;
  };

  Dictionary() = default;
  Dictionary(std::initializer_list<Entry> entries);
  Dictionary(const Dictionary& o);
  Dictionary& operator=(const Dictionary& o);
  Dictionary(Dictionary&&) noexcept = default;
  Dictionary& operator=(Dictionary&&) noexcept = default;

  std::size_t size() const { return entries_.size() - (index_ ? index_->holes : 0); }
  // Entries held, live and removed alike (the places of removed ones wait to be packed out): at
  // most about twice size() however many keys came and went.
  std::size_t storedEntries() const { return entries_.size(); }
  bool empty() const { return size() == 0; }
  void reserve(std::size_t n) { entries_.reserve(n); }
  bool contains(std::string_view key) const { return find(key) != nullptr; }
  const Value* find(std::string_view key) const;
  Value* find(std::string_view key);
  // The value under key, or a shared null value.
  const Value& operator[](std::string_view key) const;
  // Replaces an existing key in place (keeping its position) or appends.
  void set(std::string key, Value value);
  // Moves the entries of a list in, in order, as set() would one by one; an empty dictionary
  // takes over the list's storage rather than copying it.
  void adopt(std::vector<Entry>&& entries);
  // adopt() for a list whose keys the caller knows to differ from one another: a small one is
  // taken over without looking for duplicates.
  void adoptDistinct(std::vector<Entry>&& entries);
  // The same cost whatever the size and wherever the key stands: callers drop records one by one
  // from dictionaries of many thousands.
  bool remove(std::string_view key);
  void clear() {
    entries_.clear();
    index_.reset();
  }
  std::vector<std::string> keys() const;

  const_iterator begin() const {
    const Entry* first = entries_.data();
    return {index_ ? first + index_->head : first, first + entries_.size()};
  }
  const_iterator end() const {
    const Entry* last = entries_.data() + entries_.size();
    return {last, last};
  }
  // The entries in order as one list. After removals this is a packed copy, made once until the
  // dictionary next changes; iterating costs nothing of the kind.
  const std::vector<Entry>& entries() const;

  // Order-insensitive, deep.
  bool operator==(const Dictionary& o) const;

 private:
  // Small dictionaries are searched linearly; past kIndexThreshold a key index keeps lookups constant
  // so that a hostile answer with many keys can't make parsing quadratic.
  static constexpr std::size_t kIndexThreshold = 16;
  struct KeyHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view key) const noexcept { return std::hash<std::string_view>()(key); }
  };
  // Only indexed dictionaries leave holes: a removed entry stays in place, its key emptied and its
  // value marked, until holes outnumber the entries, so that removing costs the same anywhere.
  struct Index {
    Index() = default;
    Index(const Index&) = delete;
    Index& operator=(const Index&) = delete;
    ~Index();
    std::unordered_map<std::string, std::size_t, KeyHash, std::equal_to<>> positions;
    std::size_t holes = 0;
    std::size_t head = 0;  // no entry before it is live
    // entries() after removals, made by the first reader that asks (readers may be many threads).
    mutable std::atomic<std::vector<Entry>*> packed{nullptr};
    void dropPacked() noexcept;
  };
  static bool isHole(const Entry& e) noexcept { return e.second.isHole(); }
  std::size_t indexOf(std::string_view key) const;
  // Packs out the holes and indexes the entries again when there are enough of them.
  void rebuildIndex();
  // A change is coming: a packed list made for readers is no longer the dictionary.
  void changing() noexcept {
    if (index_) index_->dropPacked();
  }
  std::vector<Entry> entries_;
  // Absent below the threshold: most dictionaries are small, and this keeps them small and cheap
  // to make, move and free.
  std::unique_ptr<Index> index_;
};

const char* typeName(Value::Type t);

// While one is open on a thread, the storage of the strings, data and containers made on that
// thread comes from blocks shared by many values and given back when the last of them is gone,
// instead of one allocation and one free each. A reader opens one around building a tree.
// Values made inside keep their ordinary semantics: they may be copied, changed (a write copies
// shared storage first) and released on any thread, before or after the scope closes.
class ValueStorageScope {
 public:
  ValueStorageScope();
  ~ValueStorageScope();
  ValueStorageScope(const ValueStorageScope&) = delete;
  ValueStorageScope& operator=(const ValueStorageScope&) = delete;
};

}  // namespace os
