#pragma once
// What a test reads off a list (ids, names, the requests a server saw), written once.
#include <iterator>
#include <type_traits>
#include <vector>

namespace os::testing {

// What `f` makes of each item, in order: a vector of T, or of what `f` returns when T is not given.
template <class T = void, class Items, class F>
auto collect(Items&& items, F f) {
  using Made = std::decay_t<decltype(f(*std::begin(items)))>;
  std::vector<std::conditional_t<std::is_void_v<T>, Made, T>> out;
  for (auto&& item : items) out.push_back(f(item));
  return out;
}

// The whole numbers from `first` up to, not including, `end`: the indices a test walks.
template <class N>
std::vector<N> numbers(N first, N end) {
  std::vector<N> out;
  for (N n = first; n < end; ++n) out.push_back(n);
  return out;
}

}  // namespace os::testing
