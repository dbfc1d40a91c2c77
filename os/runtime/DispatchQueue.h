#pragma once
// Dispatch queues: the main queue (drained by the main run loop), global concurrent queues by
// priority, and named serial or concurrent queues with barriers. Work runs on a shared pool of
// worker threads that grows while its threads are blocked (a sync inside a task, a semaphore),
// so blocking work cannot starve the rest.
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace os {

class DispatchQueue : public std::enable_shared_from_this<DispatchQueue> {
 public:
  using Task = std::function<void()>;
  enum class Priority { High, Default, Low, Background };
  enum class Kind { Serial, Concurrent };

  // Tasks run on the main run loop, in order, one at a time.
  static std::shared_ptr<DispatchQueue> main();
  static std::shared_ptr<DispatchQueue> global(Priority priority = Priority::Default);
  static std::shared_ptr<DispatchQueue> create(std::string label, Kind kind = Kind::Serial,
                                               Priority priority = Priority::Default);
  // Whether the caller runs on the main thread.
  static bool isMainThread();
  // Tasks queued or running on every queue but the main one, less those asleep in a run loop
  // (a download waiting for its answer): work that may yet post to it of its own accord. A task
  // asleep hands nothing on until the event it waits for comes, and whoever waits for the main
  // thread to rest waits for that event's source (the load) instead.
  static std::size_t backgroundTaskCount();
  // The next time that count falls to zero, an empty task is posted to the main run loop, so a
  // main thread waiting there for the work to end wakes even when the work posts nothing.
  static void wakeMainWhenBackgroundIdle();
  // A background task sleeping in a run loop leaves the count above until it wakes: the loop
  // calls backgroundTaskSleeps as it goes to sleep (only when runsBackgroundTask), and
  // backgroundTaskWakes is called once for it, by the loop as it wakes or by the first post to it,
  // whichever comes first, so work handed to a sleeping task counts from the moment it is handed.
  // Counts as one background task until the last copy of the returned handle goes: work handed to
  // a thread of its own (a loop no queue runs) holds one inside the closure it posts, so the work
  // counts from the hand-over until it has run, or until it is dropped unrun.
  static std::shared_ptr<const void> holdBackgroundWork();
  static bool runsBackgroundTask();
  static void backgroundTaskSleeps();
  static void backgroundTaskWakes();

  void async(Task task);
  // Returns after the task ran. Waiting for a serial queue from one of its own tasks (or for the
  // main queue from the main thread) could never end: that stops the process with a message.
  void sync(Task task);
  // On a concurrent queue made by create(), a barrier waits for the tasks before it and runs
  // alone; the tasks after it wait for it. On the main, global and serial queues a barrier is a
  // plain task.
  void asyncBarrier(Task task);
  void syncBarrier(Task task);
  // Submits `task` once `delay` seconds of os::Clock have passed (under the virtual clock, once
  // Clock::advance has moved past it; the delay is measured from this call).
  void asyncAfter(double delay, Task task);

  const std::string& label() const { return label_; }
  Kind kind() const { return kind_; }
  bool isMainQueue() const { return isMain_; }
  // True while the caller runs a task of this queue (the main queue: on the main thread).
  bool isCurrent() const;

  // Context values keyed by address, like the platform's queue-specific data (not owned).
  void setSpecific(const void* key, void* value);
  void* getSpecific(const void* key) const;
  // The value on the queue the caller is running on (the main queue on the main thread outside
  // any task), or null.
  static void* currentSpecific(const void* key);

  struct PrivateTag {};
  DispatchQueue(PrivateTag, std::string label, Kind kind, Priority priority, bool isMain, bool isGlobal);

 private:
  struct Item {
    Task task;
    bool barrier;
  };
  void enqueue(Task task, bool barrier);
  void runAndWait(Task task, bool barrier);
  void startReadyLocked(std::vector<Item>& out);
  void submit(Item item);
  void finished(bool barrier);

  const std::string label_;
  const Kind kind_;
  const Priority priority_;
  const bool isMain_;
  const bool isGlobal_;
  mutable std::mutex mutex_;
  std::deque<Item> pending_;
  int running_ = 0;
  bool barrierRunning_ = false;
  std::map<const void*, void*> specific_;
};

}  // namespace os
