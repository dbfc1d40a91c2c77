#pragma once
// Tracks a set of tasks: notify or wait once all have left. Copies share one group.
#include <functional>
#include <memory>

namespace os {

class DispatchQueue;

class DispatchGroup {
 public:
  DispatchGroup();

  void enter();
  // More leaves than enters is a programming error that stops the process.
  void leave();
  // Runs `task` on `queue` as a member of the group.
  void async(const std::shared_ptr<DispatchQueue>& queue, std::function<void()> task);
  // Submits `task` to `queue` once the group is empty (at once when it is empty now). Each
  // notification fires once.
  void notify(const std::shared_ptr<DispatchQueue>& queue, std::function<void()> task);
  void wait();
  // True when the group became empty within `timeout` seconds of os::Clock (0: only looks).
  bool waitFor(double timeout);

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace os
