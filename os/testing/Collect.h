#pragma once
// What a test reads off a list (ids, names, the requests a server saw), written once.
#include <ranges>
#include <type_traits>
#include <vector>

namespace os::testing {

// What `f` makes of each item, in order: a vector of T, or of what `f` returns when T is not given.
template <class T = void, class Items, class F>
auto collect(Items&& items, F f) {
  using Made = std::decay_t<decltype(f(*std::ranges::begin(items)))>;
  std::vector<std::conditional_t<std::is_void_v<T>, Made, T>> out;
  for (auto&& item : items) out.push_back(f(item));
  return out;
}

}  // namespace os::testing
