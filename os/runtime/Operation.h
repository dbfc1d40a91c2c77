#pragma once
// A unit of work with a life cycle: ready -> executing -> finished, with cancellation,
// dependencies and a completion closure. Changes of "isReady", "isExecuting", "isFinished" and
// "isCancelled" are announced to observers (the hook queues and dependents listen on).
//
// Subclasses either override main() (the work runs inside start() and the operation finishes
// when main returns), or answer isAsynchronous() true and call finish() themselves later. A
// subclass that keeps its own state overrides the is...() questions and announces its changes
// with didChangeValueForKey(); the completion closure then runs when it announces "isFinished".
#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "os/runtime/WakeFlag.h"

namespace os {

class OperationQueue;

class Operation : public std::enable_shared_from_this<Operation> {
 public:
  enum class QueuePriority { VeryLow = -8, Low = -4, Normal = 0, High = 4, VeryHigh = 8 };
  using Observer = std::function<void(Operation& operation, std::string_view key)>;

  Operation() = default;
  virtual ~Operation();
  Operation(const Operation&) = delete;
  Operation& operator=(const Operation&) = delete;

  // Runs the operation on the calling thread. A cancelled operation finishes without running
  // main(). Raises (os::Exception) when it is already executing or finished, or not ready.
  virtual void start();
  virtual void main() {}
  virtual void cancel();

  virtual bool isCancelled() const { return cancelled_.load(); }
  // All dependencies finished (a cancelled operation is ready at once, so it can finish).
  virtual bool isReady() const;
  virtual bool isExecuting() const { return executing_.load(); }
  virtual bool isFinished() const { return finished_.load(); }
  virtual bool isAsynchronous() const { return false; }
  bool isConcurrent() const { return isAsynchronous(); }
  // True for an asynchronous operation whose start() only hands its work to another thread and
  // returns at once: its queue then starts it on the thread that found it ready, sparing a
  // thread of its own a wake-up for that hand-over.
  virtual bool startsWithoutWaiting() const { return false; }

  void addDependency(const std::shared_ptr<Operation>& operation);
  void removeDependency(const std::shared_ptr<Operation>& operation);
  std::vector<std::shared_ptr<Operation>> dependencies() const;

  // Runs once, on the thread that finishes the operation, after the "isFinished" observers.
  void setCompletionBlock(std::function<void()> block);
  std::function<void()> completionBlock() const;

  QueuePriority queuePriority() const { return priority_.load(); }
  // Announced as "queuePriority" once the operation is in a queue, which files it anew.
  void setQueuePriority(QueuePriority p) {
    priority_ = p;
    if (enqueued_.load()) didChangeValueForKey("queuePriority");
  }
  std::string name() const;
  void setName(std::string name);

  // Blocks until the operation finished and its completion closure has run (returns at once when
  // called from inside that closure).
  void waitUntilFinished();

  int addObserver(Observer observer);
  void removeObserver(int token);
  // Subclasses with their own state announce changes here (any thread).
  void didChangeValueForKey(std::string_view key);

 protected:
  // For the operation's own state: an asynchronous subclass calls finish() when done.
  void setExecuting(bool executing);
  void finish();

 private:
  friend class OperationQueue;
  void finishedAnnounced();

  std::atomic<bool> cancelled_{false};
  std::atomic<bool> executing_{false};
  std::atomic<bool> finished_{false};
  std::atomic<QueuePriority> priority_{QueuePriority::Normal};
  std::atomic<bool> completionTaken_{false};
  std::atomic<bool> enqueued_{false};

  mutable std::mutex mutex_;
  std::atomic<bool> done_{false};  // written under mutex_
  WakeFlag doneFlag_;              // raised once done_ is
  std::thread::id completionThread_;
  std::string name_;
  std::function<void()> completion_;
  std::vector<std::shared_ptr<Operation>> dependencies_;
  std::map<const Operation*, int> dependencyTokens_;
  std::map<int, std::shared_ptr<Observer>> observers_;
  int nextObserver_ = 1;
};

// Runs its blocks one after another, in the order added.
class BlockOperation : public Operation {
 public:
  static std::shared_ptr<BlockOperation> create(std::function<void()> block);
  void addExecutionBlock(std::function<void()> block);
  void main() override;

 private:
  std::mutex blocksMutex_;
  std::vector<std::function<void()>> blocks_;
};

}  // namespace os
