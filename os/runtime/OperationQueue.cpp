#include "os/runtime/OperationQueue.h"

#include <algorithm>
#include <thread>

#include "os/core/Error.h"
#include "os/core/Log.h"
#include "os/runtime/ClockWait.h"
#include "os/runtime/DispatchQueue.h"
#include "os/runtime/Fatal.h"
#include "os/runtime/RunLoop.h"

namespace os {

namespace {
DispatchQueue::Priority dispatchPriority(Operation::QueuePriority p) {
  int v = static_cast<int>(p);
  if (v > 0) return DispatchQueue::Priority::High;
  if (v == 0) return DispatchQueue::Priority::Default;
  if (v > -8) return DispatchQueue::Priority::Low;
  return DispatchQueue::Priority::Background;
}
}  // namespace

OperationQueue::OperationQueue(PrivateTag, std::string name, bool isMain) : isMain_(isMain), name_(std::move(name)) {}

OperationQueue::~OperationQueue() {
  // Operations still listed keep running if started; ones never started are dropped with us.
  for (auto& [order, e] : entries_) e.operation->removeObserver(e.observer);
}

std::shared_ptr<OperationQueue> OperationQueue::create(std::string name) {
  return std::make_shared<OperationQueue>(PrivateTag{}, std::move(name), false);
}

std::shared_ptr<OperationQueue> OperationQueue::mainQueue() {
  static auto* q = new std::shared_ptr<OperationQueue>(std::make_shared<OperationQueue>(PrivateTag{}, "main", true));
  return *q;
}

void OperationQueue::addOperation(const std::shared_ptr<Operation>& operation) {
  if (!operation) return;
  if (operation->isExecuting() || operation->isFinished())
    throw Exception(kInvalidArgumentException, "operation is executing or finished and cannot be enqueued");
  if (operation->enqueued_.exchange(true))
    throw Exception(kInvalidArgumentException, "operation is already enqueued on a queue");
  std::weak_ptr<OperationQueue> weakSelf = weak_from_this();
  int token = operation->addObserver([weakSelf](Operation& op, std::string_view key) {
    auto self = weakSelf.lock();
    if (!self) return;
    if (key == "isFinished" && op.isFinished())
      self->operationFinished(&op);
    else if (key == "isReady")
      self->schedule();
    else if (key == "queuePriority")
      self->priorityChanged(&op);
  });
  {
    std::lock_guard lock(mutex_);
    std::uint64_t order = nextOrder_++;
    // Read under the lock: a priority set meanwhile is either seen here or re-filed by its
    // announcement, which waits for this entry.
    int priority = static_cast<int>(operation->queuePriority());
    entries_.emplace(order, Entry{operation, token, false, priority});
    orders_.emplace(operation.get(), order);
    waiting_.emplace(-priority, order);
  }
  // It may have finished before the observer was in place (a subclass finishing on cancel).
  if (operation->isFinished())
    operationFinished(operation.get());
  else
    schedule();
}

void OperationQueue::addOperations(const std::vector<std::shared_ptr<Operation>>& operations, bool waitUntilFinished) {
  for (auto& op : operations) addOperation(op);
  if (waitUntilFinished)
    for (auto& op : operations) op->waitUntilFinished();
}

std::shared_ptr<BlockOperation> OperationQueue::addOperationWithBlock(std::function<void()> block) {
  auto op = BlockOperation::create(std::move(block));
  addOperation(op);
  return op;
}

std::vector<std::shared_ptr<Operation>> OperationQueue::operations() const {
  std::lock_guard lock(mutex_);
  std::vector<std::shared_ptr<Operation>> out;
  out.reserve(entries_.size());
  for (auto& [order, e] : entries_) out.push_back(e.operation);
  return out;
}

std::size_t OperationQueue::operationCount() const {
  std::lock_guard lock(mutex_);
  return entries_.size();
}

int OperationQueue::maxConcurrentOperationCount() const {
  std::lock_guard lock(mutex_);
  return maxConcurrent_;
}

void OperationQueue::setMaxConcurrentOperationCount(int count) {
  {
    std::lock_guard lock(mutex_);
    maxConcurrent_ = count < 0 ? kDefaultMaxConcurrentOperationCount : count;
  }
  schedule();
}

int OperationQueue::limit() const {
  if (isMain_) return 1;
  if (maxConcurrent_ >= 0) return maxConcurrent_;
  // Read once: asking costs a file read each time, and this is asked under the lock on every
  // scheduling step.
  static const int cores = static_cast<int>(std::max(2u, std::thread::hardware_concurrency()));
  return cores;
}

void OperationQueue::setSuspended(bool suspended) {
  {
    std::lock_guard lock(mutex_);
    suspended_ = suspended;
  }
  if (!suspended) schedule();
}

bool OperationQueue::isSuspended() const {
  std::lock_guard lock(mutex_);
  return suspended_;
}

void OperationQueue::cancelAllOperations() {
  for (auto& op : operations()) op->cancel();
}

void OperationQueue::waitUntilAllOperationsAreFinished() {
  if (isMain_ && RunLoop::isMainThread())
    fatalError("waiting for the main operation queue on the main thread would deadlock");
  std::unique_lock lock(mutex_);
  waitUntilReady(lock, emptyCv_, [&] { return entries_.empty(); });
}

std::string OperationQueue::name() const {
  std::lock_guard lock(mutex_);
  return name_;
}

void OperationQueue::setName(std::string name) {
  std::lock_guard lock(mutex_);
  name_ = std::move(name);
}

void OperationQueue::schedule() {
  // Waiting operations found not ready in this pass, asked again only after the next start.
  std::vector<WaitingKey> notReady;
  for (;;) {
    std::shared_ptr<Operation> candidate;
    WaitingKey key;
    {
      std::lock_guard lock(mutex_);
      if (suspended_ || running_ >= limit()) return;
      auto it = waiting_.begin();
      while (it != waiting_.end() && std::find(notReady.begin(), notReady.end(), *it) != notReady.end()) ++it;
      if (it == waiting_.end()) return;
      key = *it;
      candidate = entries_.at(key.second).operation;
    }
    // Readiness is asked without our lock: an operation may take its own while answering. The
    // first ready one in priority order is the best, as the waiting set is sorted that way.
    if (!candidate->isReady()) {
      notReady.push_back(key);
      continue;
    }
    {
      std::lock_guard lock(mutex_);
      if (suspended_ || running_ >= limit()) return;
      auto it = waiting_.find(key);
      if (it == waiting_.end()) continue;  // another thread took it, or it was filed anew, meanwhile
      waiting_.erase(it);
      entries_.at(key.second).started = true;
      ++running_;
    }
    notReady.clear();
    launch(candidate);
  }
}

void OperationQueue::priorityChanged(Operation* operation) {
  std::lock_guard lock(mutex_);
  auto order = orders_.find(operation);
  if (order == orders_.end()) return;
  Entry& entry = entries_.at(order->second);
  int priority = static_cast<int>(operation->queuePriority());
  if (entry.started || entry.priority == priority) return;
  waiting_.erase({-entry.priority, order->second});
  entry.priority = priority;
  waiting_.emplace(-priority, order->second);
}

void OperationQueue::launch(const std::shared_ptr<Operation>& operation) {
  std::weak_ptr<OperationQueue> weakSelf = weak_from_this();
  auto run = [weakSelf, operation] {
    try {
      operation->start();
    } catch (const Exception& e) {
      // It stopped being ready between the choice and the start: put it back.
      log(std::string("operation queue: could not start an operation: ") + e.what());
      if (auto self = weakSelf.lock()) {
        {
          std::lock_guard lock(self->mutex_);
          auto order = self->orders_.find(operation.get());
          if (order != self->orders_.end()) {
            Entry& entry = self->entries_.at(order->second);
            if (entry.started) {
              entry.started = false;
              --self->running_;
              entry.priority = static_cast<int>(operation->queuePriority());
              self->waiting_.emplace(-entry.priority, order->second);
            }
          }
        }
        self->schedule();
      }
    }
  };
  // The main queue's operations run on the main thread whoever found them ready.
  if (!isMain_ && operation->startsWithoutWaiting()) return run();
  auto queue = isMain_ ? DispatchQueue::main() : DispatchQueue::global(dispatchPriority(operation->queuePriority()));
  queue->async(std::move(run));
}

void OperationQueue::operationFinished(Operation* operation) {
  int token = 0;
  std::shared_ptr<Operation> keep;  // released outside the lock
  {
    std::lock_guard lock(mutex_);
    auto order = orders_.find(operation);
    if (order == orders_.end()) return;
    auto it = entries_.find(order->second);
    if (it->second.started)
      --running_;
    else
      waiting_.erase({-it->second.priority, it->first});
    token = it->second.observer;
    keep = std::move(it->second.operation);
    entries_.erase(it);
    orders_.erase(order);
    if (entries_.empty()) emptyCv_.notify_all();
  }
  keep->removeObserver(token);
  schedule();
}

}  // namespace os
