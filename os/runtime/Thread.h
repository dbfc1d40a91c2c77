#pragma once
// A named thread with a run loop of its own.
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace os {

class RunLoop;

class Thread : public std::enable_shared_from_this<Thread> {
 public:
  using Body = std::function<void()>;

  // Without a body the thread runs its run loop until cancel().
  static std::shared_ptr<Thread> create(std::string name, Body body = {});
  // The Thread object of the calling thread; null on threads not started through this class.
  static std::shared_ptr<Thread> current();
  static bool isMainThread();
  // Blocks the calling thread for `seconds` of os::Clock (under the virtual clock: until
  // Clock::advance has moved that far).
  static void sleepFor(double seconds);

  // A running thread keeps its own object alive: dropping every reference detaches it.
  ~Thread();

  void start();
  // Sets the cancelled flag and stops the thread's run loop. A body that runs for long checks
  // isCancelled().
  void cancel();
  bool isCancelled() const { return cancelled_.load(); }
  bool isExecuting() const { return started_.load() && !finished_.load(); }
  bool isFinished() const { return finished_.load(); }
  // Waits for the thread to end (not from the thread itself).
  void join();

  const std::string& name() const { return name_; }
  // Exists from creation, so work may be posted before the thread runs.
  const std::shared_ptr<RunLoop>& runLoop() const { return loop_; }
  // Runs `task` on this thread's run loop; inline when waiting from the thread itself.
  void perform(std::function<void()> task, bool waitUntilDone);

  Thread(std::string name, Body body);

 private:
  void main();

  const std::string name_;
  Body body_;
  std::shared_ptr<RunLoop> loop_;
  std::atomic<bool> cancelled_{false};
  std::atomic<bool> started_{false};
  std::atomic<bool> finished_{false};
  std::mutex mutex_;
  std::thread thread_;
};

}  // namespace os
