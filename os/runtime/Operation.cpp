#include "os/runtime/Operation.h"

#include "os/core/Error.h"

namespace os {

Operation::~Operation() {
  for (auto& dep : dependencies_) {
    auto it = dependencyTokens_.find(dep.get());
    if (it != dependencyTokens_.end()) dep->removeObserver(it->second);
  }
}

void Operation::start() {
  if (isFinished()) throw Exception(kInvalidArgumentException, "operation is finished and cannot be started");
  if (isExecuting()) throw Exception(kInvalidArgumentException, "operation is already executing");
  if (isCancelled()) {
    finish();
    return;
  }
  if (!isReady()) throw Exception(kInvalidArgumentException, "operation is not yet ready to execute");
  setExecuting(true);
  main();
  if (!isAsynchronous()) finish();
}

void Operation::cancel() {
  if (isFinished() || cancelled_.exchange(true)) return;
  didChangeValueForKey("isCancelled");
  didChangeValueForKey("isReady");
}

bool Operation::isReady() const {
  if (isCancelled()) return true;
  // Asked outside our lock: a dependency may hold its own lock while announcing to us.
  for (auto& dep : dependencies())
    if (!dep->isFinished()) return false;
  return true;
}

void Operation::addDependency(const std::shared_ptr<Operation>& operation) {
  if (!operation || operation.get() == this) return;
  {
    std::lock_guard lock(mutex_);
    if (dependencyTokens_.count(operation.get())) return;
  }
  std::weak_ptr<Operation> weakSelf = weak_from_this();
  int token = operation->addObserver([weakSelf](Operation& dep, std::string_view key) {
    if (key != "isFinished" || !dep.isFinished()) return;
    if (auto self = weakSelf.lock()) self->didChangeValueForKey("isReady");
  });
  {
    std::lock_guard lock(mutex_);
    dependencies_.push_back(operation);
    dependencyTokens_[operation.get()] = token;
  }
  didChangeValueForKey("isReady");
}

void Operation::removeDependency(const std::shared_ptr<Operation>& operation) {
  int token = 0;
  {
    std::lock_guard lock(mutex_);
    auto it = dependencyTokens_.find(operation.get());
    if (it == dependencyTokens_.end()) return;
    token = it->second;
    dependencyTokens_.erase(it);
    std::erase(dependencies_, operation);
  }
  operation->removeObserver(token);
  didChangeValueForKey("isReady");
}

std::vector<std::shared_ptr<Operation>> Operation::dependencies() const {
  std::lock_guard lock(mutex_);
  return dependencies_;
}

void Operation::setCompletionBlock(std::function<void()> block) {
  std::function<void()> old;  // destroyed outside the lock
  std::lock_guard lock(mutex_);
  old = std::move(completion_);
  completion_ = std::move(block);
}

std::function<void()> Operation::completionBlock() const {
  std::lock_guard lock(mutex_);
  return completion_;
}

std::string Operation::name() const {
  std::lock_guard lock(mutex_);
  return name_;
}

void Operation::setName(std::string name) {
  std::lock_guard lock(mutex_);
  name_ = std::move(name);
}

void Operation::waitUntilFinished() {
  {
    std::lock_guard lock(mutex_);
    if (done_ || completionThread_ == std::this_thread::get_id()) return;
  }
  // Not a condition variable: the caller, woken, goes on without taking the lock back, which
  // would cost it a system call on its way (see WakeFlag).
  doneFlag_.wait();
  // The announcer of an operation no one holds raises the flag under the lock: once we have the
  // lock, it is done with us.
  std::lock_guard lock(mutex_);
}

int Operation::addObserver(Observer observer) {
  std::lock_guard lock(mutex_);
  int token = nextObserver_++;
  observers_[token] = std::make_shared<Observer>(std::move(observer));
  return token;
}

void Operation::removeObserver(int token) {
  std::shared_ptr<Observer> old;
  std::lock_guard lock(mutex_);
  auto it = observers_.find(token);
  if (it == observers_.end()) return;
  old = std::move(it->second);
  observers_.erase(it);
}

void Operation::didChangeValueForKey(std::string_view key) {
  std::vector<std::shared_ptr<Observer>> observers;
  {
    std::lock_guard lock(mutex_);
    for (auto& [_, o] : observers_) observers.push_back(o);
  }
  // Keep the operation alive while observers (a queue dropping it) run.
  auto self = weak_from_this().lock();
  for (auto& o : observers) (*o)(*this, key);
  if (key == "isFinished" && isFinished()) finishedAnnounced();
}

void Operation::finishedAnnounced() {
  if (completionTaken_.exchange(true)) return;
  std::function<void()> completion;
  {
    std::lock_guard lock(mutex_);
    completion = std::move(completion_);
    completion_ = nullptr;
    completionThread_ = std::this_thread::get_id();
  }
  // The closure is released once run, so whatever it captured does not outlive the operation's end.
  if (completion) completion();
  completion = nullptr;
  // Held by the announcer, so a waiter that drops the last reference cannot end us before the
  // notification below.
  auto self = weak_from_this().lock();
  std::unique_lock lock(mutex_);
  done_ = true;
  completionThread_ = {};
  // Outside the lock where that is safe: a waiter woken under it would only block on the lock
  // again, a second wake-up for the same news.
  if (self) lock.unlock();
  doneFlag_.set();
}

void Operation::setExecuting(bool executing) {
  if (executing_.exchange(executing) != executing) didChangeValueForKey("isExecuting");
}

void Operation::finish() {
  setExecuting(false);
  if (!finished_.exchange(true)) didChangeValueForKey("isFinished");
}

std::shared_ptr<BlockOperation> BlockOperation::create(std::function<void()> block) {
  auto op = std::make_shared<BlockOperation>();
  if (block) op->addExecutionBlock(std::move(block));
  return op;
}

void BlockOperation::addExecutionBlock(std::function<void()> block) {
  if (isExecuting() || isFinished())
    throw Exception(kInvalidArgumentException, "blocks cannot be added after the operation has started");
  std::lock_guard lock(blocksMutex_);
  blocks_.push_back(std::move(block));
}

void BlockOperation::main() {
  std::vector<std::function<void()>> blocks;
  {
    std::lock_guard lock(blocksMutex_);
    blocks.swap(blocks_);
  }
  for (auto& b : blocks) b();
}

}  // namespace os
