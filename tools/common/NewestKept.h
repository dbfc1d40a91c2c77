#pragma once
// The local services keep what they heard for their tests and their verbose logs, and run for
// weeks beside a reader: each such record keeps only its newest entries, and only as many bytes
// of them as a bound allows, so that a peer sending large requests cannot grow it either.
#include <cstddef>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "os/core/DetachedValue.h"
#include "os/core/Value.h"

namespace tools {

// How many entries a service's record keeps, oldest let go first.
inline constexpr std::size_t kRecordLimit = 10000;
// How many bytes the entries of one record hold together at most, oldest let go first. The newest
// entry is kept whatever its size: what one request may carry is the server's own bound.
inline constexpr std::size_t kRecordByteLimit = std::size_t{16} << 20;

// What an entry holds beyond its own object, near enough to bound a record by: the characters of
// its texts, the bytes of its data, the members of its containers. A value holds its boxes and
// element lists as the heap gives them, and one standing in a reader's shared block holds that block.
inline std::size_t heldBytes(const std::string& text) { return text.size(); }
std::size_t heldBytes(const os::Value& value);
std::size_t heldBytes(const os::Dictionary& dictionary);
template <typename T>
  requires std::is_arithmetic_v<T>
std::size_t heldBytes(const T&) {
  return 0;
}
template <typename A, typename B>
std::size_t heldBytes(const std::pair<A, B>& pair);
template <typename T>
std::size_t heldBytes(const std::optional<T>& value);
template <typename K, typename V>
std::size_t heldBytes(const std::multimap<K, V>& map);

template <typename A, typename B>
std::size_t heldBytes(const std::pair<A, B>& pair) {
  return heldBytes(pair.first) + heldBytes(pair.second);
}
template <typename T>
std::size_t heldBytes(const std::optional<T>& value) {
  return value ? heldBytes(*value) : 0;
}
template <typename K, typename V>
std::size_t heldBytes(const std::multimap<K, V>& map) {
  // A tree node's links and colour besides its pair.
  std::size_t bytes = 0;
  for (const auto& entry : map) bytes += 4 * sizeof(void*) + sizeof(entry) + heldBytes(entry);
  return bytes;
}

// What a record keeps of an entry: a value a reader made stands in blocks shared with the rest of its
// tree, which it would keep alive for as long as the record keeps it, so its own copy is kept.
inline os::Value forKeeping(os::Value value) { return os::detached(value); }
inline os::Dictionary forKeeping(os::Dictionary dictionary) { return os::detached(dictionary); }
template <typename T>
T forKeeping(T entry) {
  return entry;
}
template <typename A, typename B>
std::pair<A, B> forKeeping(std::pair<A, B> pair) {
  return {forKeeping(std::move(pair.first)), forKeeping(std::move(pair.second))};
}

// The newest entries of a record, bounded by their count and by the bytes they hold. An entry's
// size is sizeof(T) and what heldBytes (found beside T, or above) says it holds.
template <typename T>
class NewestKept {
 public:
  explicit NewestKept(std::size_t limit = kRecordLimit, std::size_t byteLimit = kRecordByteLimit)
      : limit_(limit), byteLimit_(byteLimit) {}

  // Keeps the entry and lets go of the oldest past either bound; answers those let go, oldest first.
  std::vector<T> keep(T entry) {
    entry = forKeeping(std::move(entry));
    const std::size_t size = sizeof(T) + heldBytes(entry);
    entries_.push_back(std::move(entry));
    sizes_.push_back(size);
    bytes_ += size;
    std::vector<T> dropped;
    while (entries_.size() > 1 && (entries_.size() > limit_ || bytes_ > byteLimit_)) dropped.push_back(dropOldest());
    return dropped;
  }
  // Lets go of the oldest entries while `gone` holds for them; answers them, oldest first.
  template <typename Gone>
  std::vector<T> dropOldestWhile(Gone gone) {
    std::vector<T> dropped;
    while (!entries_.empty() && gone(entries_.front())) dropped.push_back(dropOldest());
    return dropped;
  }
  void clear() {
    entries_.clear();
    sizes_.clear();
    bytes_ = 0;
  }

  std::size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  // What the kept entries hold together, by the measure the byte bound uses.
  std::size_t bytes() const { return bytes_; }
  T& operator[](std::size_t index) { return entries_[index]; }
  const T& operator[](std::size_t index) const { return entries_[index]; }
  // The entries, oldest first.
  auto begin() const { return entries_.begin(); }
  auto end() const { return entries_.end(); }
  std::vector<T> entries() const { return {entries_.begin(), entries_.end()}; }

 private:
  T dropOldest() {
    T oldest = std::move(entries_.front());
    bytes_ -= sizes_.front();
    entries_.pop_front();
    sizes_.pop_front();
    return oldest;
  }

  std::size_t limit_;
  std::size_t byteLimit_;
  std::deque<T> entries_;
  std::deque<std::size_t> sizes_;  // of each entry, as counted when it came
  std::size_t bytes_ = 0;
};

}  // namespace tools
