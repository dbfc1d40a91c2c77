#include "os/runtime/Thread.h"

#include <pthread.h>

#include <condition_variable>

#include "os/runtime/ClockWait.h"
#include "os/runtime/CrashHooks.h"
#include "os/runtime/Fatal.h"
#include "os/runtime/RunLoop.h"

namespace os {

namespace {
thread_local std::weak_ptr<Thread> tThread;
}  // namespace

Thread::Thread(std::string name, Body body)
    : name_(std::move(name)), body_(std::move(body)), loop_(RunLoop::make()) {}

std::shared_ptr<Thread> Thread::create(std::string name, Body body) {
  return std::make_shared<Thread>(std::move(name), std::move(body));
}

std::shared_ptr<Thread> Thread::current() { return tThread.lock(); }

bool Thread::isMainThread() { return RunLoop::isMainThread(); }

void Thread::sleepFor(double seconds) {
  if (!(seconds > 0)) return;
  std::mutex m;
  std::condition_variable cv;
  std::unique_lock lock(m);
  waitWithClock(lock, cv, [] { return false; }, seconds);
}

Thread::~Thread() {
  std::lock_guard lock(mutex_);
  if (!thread_.joinable()) return;
  // The last reference went away on the thread itself as its body ended.
  if (thread_.get_id() == std::this_thread::get_id()) {
    thread_.detach();
  } else {
    RunLoop::releaseHeldWakeUps();
    thread_.join();
  }
}

void Thread::start() {
  std::lock_guard lock(mutex_);
  if (started_.exchange(true)) fatalError("thread " + name_ + ": started twice");
  thread_ = std::thread([self = shared_from_this()]() mutable {
    self->main();
    self.reset();  // may destroy the object here, which then detaches this thread
  });
}

void Thread::main() {
  // Linux limits thread names to 15 bytes.
  ::pthread_setname_np(::pthread_self(), name_.substr(0, 15).c_str());
  tThread = weak_from_this();
  CrashHooks::ThreadStack crashStack;
  loop_->bindToCurrentThread();
  if (body_) {
    body_();
  } else {
    while (!cancelled_.load()) loop_->run();
  }
  // Tasks and timers left on the loop are dropped with it; nothing runs them any more.
  finished_ = true;
}

void Thread::cancel() {
  cancelled_ = true;
  loop_->stop();
}

void Thread::join() {
  std::thread::id self = std::this_thread::get_id();
  std::unique_lock lock(mutex_);
  if (!thread_.joinable()) return;
  if (thread_.get_id() == self) fatalError("thread " + name_ + ": joined from itself");
  std::thread t = std::move(thread_);
  lock.unlock();
  RunLoop::releaseHeldWakeUps();
  t.join();
}

void Thread::perform(std::function<void()> task, bool waitUntilDone) {
  loop_->perform(std::move(task), waitUntilDone);
}

}  // namespace os
