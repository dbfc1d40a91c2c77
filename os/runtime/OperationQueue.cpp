#include "os/runtime/OperationQueue.h"

#include <algorithm>
#include <thread>

#include "os/core/Error.h"
#include "os/core/Log.h"
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
  for (auto& e : entries_) e.operation->removeObserver(e.observer);
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
  });
  {
    std::lock_guard lock(mutex_);
    entries_.push_back(Entry{operation, token, false, nextOrder_++});
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
  for (auto& e : entries_) out.push_back(e.operation);
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
  return static_cast<int>(std::max(2u, std::thread::hardware_concurrency()));
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
  emptyCv_.wait(lock, [&] { return entries_.empty(); });
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
  for (;;) {
    std::vector<std::shared_ptr<Operation>> candidates;
    {
      std::lock_guard lock(mutex_);
      if (suspended_ || running_ >= limit()) return;
      for (auto& e : entries_)
        if (!e.started) candidates.push_back(e.operation);
    }
    // Readiness is asked without our lock: an operation may take its own while answering.
    std::shared_ptr<Operation> best;
    for (auto& op : candidates) {
      if (!op->isReady()) continue;
      if (!best || static_cast<int>(op->queuePriority()) > static_cast<int>(best->queuePriority())) best = op;
    }
    if (!best) return;
    {
      std::lock_guard lock(mutex_);
      if (suspended_ || running_ >= limit()) return;
      auto it = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.operation == best; });
      if (it == entries_.end() || it->started) continue;  // another thread took it meanwhile
      it->started = true;
      ++running_;
    }
    launch(best);
  }
}

void OperationQueue::launch(const std::shared_ptr<Operation>& operation) {
  auto queue = isMain_ ? DispatchQueue::main() : DispatchQueue::global(dispatchPriority(operation->queuePriority()));
  std::weak_ptr<OperationQueue> weakSelf = weak_from_this();
  queue->async([weakSelf, operation] {
    try {
      operation->start();
    } catch (const Exception& e) {
      // It stopped being ready between the choice and the start: put it back.
      log(std::string("operation queue: could not start an operation: ") + e.what());
      if (auto self = weakSelf.lock()) {
        {
          std::lock_guard lock(self->mutex_);
          for (auto& entry : self->entries_)
            if (entry.operation == operation && entry.started) {
              entry.started = false;
              --self->running_;
            }
        }
        self->schedule();
      }
    }
  });
}

void OperationQueue::operationFinished(Operation* operation) {
  int token = 0;
  std::shared_ptr<Operation> keep;  // released outside the lock
  {
    std::lock_guard lock(mutex_);
    auto it = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.operation.get() == operation; });
    if (it == entries_.end()) return;
    if (it->started) --running_;
    token = it->observer;
    keep = std::move(it->operation);
    entries_.erase(it);
    if (entries_.empty()) emptyCv_.notify_all();
  }
  keep->removeObserver(token);
  schedule();
}

}  // namespace os
