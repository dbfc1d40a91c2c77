#pragma once
// Runs operations on worker threads (the main queue: on the main run loop), as many at once as
// maxConcurrentOperationCount allows, each once it is ready, higher queue priority first and
// otherwise in the order added.
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "os/runtime/Operation.h"

namespace os {

class OperationQueue : public std::enable_shared_from_this<OperationQueue> {
 public:
  // Lets the queue choose: the number of processor cores.
  static constexpr int kDefaultMaxConcurrentOperationCount = -1;

  static std::shared_ptr<OperationQueue> create(std::string name = {});
  // Operations run one at a time on the main thread, through the main dispatch queue.
  static std::shared_ptr<OperationQueue> mainQueue();

  // Raises (os::Exception) for an operation that is executing, finished or already in a queue.
  void addOperation(const std::shared_ptr<Operation>& operation);
  void addOperations(const std::vector<std::shared_ptr<Operation>>& operations, bool waitUntilFinished);
  std::shared_ptr<BlockOperation> addOperationWithBlock(std::function<void()> block);

  // Operations added and not yet finished, in the order added.
  std::vector<std::shared_ptr<Operation>> operations() const;
  std::size_t operationCount() const;

  int maxConcurrentOperationCount() const;
  void setMaxConcurrentOperationCount(int count);
  // A suspended queue starts nothing new; running operations go on.
  void setSuspended(bool suspended);
  bool isSuspended() const;
  void cancelAllOperations();
  // Blocks until every operation added so far finished (not on the main queue's own thread).
  void waitUntilAllOperationsAreFinished();

  std::string name() const;
  void setName(std::string name);

  struct PrivateTag {};
  OperationQueue(PrivateTag, std::string name, bool isMain);
  ~OperationQueue();

 private:
  struct Entry {
    std::shared_ptr<Operation> operation;
    int observer = 0;
    bool started = false;
    int priority = 0;  // as filed in waiting_
  };
  // Highest priority first, then the order added.
  using WaitingKey = std::pair<int, std::uint64_t>;  // (-priority, order)
  void schedule();
  void launch(const std::shared_ptr<Operation>& operation);
  void operationFinished(Operation* operation);
  void priorityChanged(Operation* operation);
  int limit() const;  // mutex_ held

  const bool isMain_;
  mutable std::mutex mutex_;
  std::condition_variable emptyCv_;
  std::string name_;
  // By order added. A queue holds thousands of requests at once, so the choice of the next one and
  // the removal of a finished one must not walk them all.
  std::map<std::uint64_t, Entry> entries_;
  std::unordered_map<const Operation*, std::uint64_t> orders_;
  std::set<WaitingKey> waiting_;  // entries not started
  std::uint64_t nextOrder_ = 0;
  int running_ = 0;
  int maxConcurrent_ = kDefaultMaxConcurrentOperationCount;
  bool suspended_ = false;
};

}  // namespace os
