#pragma once
// The local services keep what they heard for their tests and their verbose logs, and run for
// weeks beside a reader: each such record keeps only its newest entries.
#include <cstddef>
#include <deque>
#include <utility>

namespace tools {

// How many entries a service's record keeps, oldest let go first.
inline constexpr std::size_t kRecordLimit = 10000;

template <typename T, typename U>
void keepNewest(std::deque<T>& record, U&& entry, std::size_t limit = kRecordLimit) {
  record.push_back(std::forward<U>(entry));
  if (record.size() > limit) record.pop_front();
}

}  // namespace tools
