#pragma once
// Runs a piece of set-up exactly once, even when several threads arrive together.
#include <mutex>
#include <utility>

namespace os {

class Once {
 public:
  template <class F>
  void call(F&& f) {
    std::call_once(flag_, std::forward<F>(f));
  }

 private:
  std::once_flag flag_;
};

}  // namespace os
