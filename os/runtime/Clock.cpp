#include "os/runtime/Clock.h"

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>

#include "os/core/Date.h"

namespace os {

namespace {
std::mutex gMutex;
std::atomic<bool> gVirtual{false};
double gVirtualNow = 0;      // guarded by gMutex
double gVirtualMono = 0;     // guarded by gMutex
// Never destroyed: work on other threads may still reach it while the process exits.
std::map<int, std::function<void()>>& gListeners = *new std::map<int, std::function<void()>>;
int gNextToken = 1;

double realNow() {
  using namespace std::chrono;
  return duration<double>(system_clock::now().time_since_epoch()).count();
}
double realMono() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}
}  // namespace

double Clock::now() {
  if (!gVirtual.load()) return realNow();
  std::lock_guard lock(gMutex);
  return gVirtualNow;
}

double Clock::monotonic() {
  if (!gVirtual.load()) return realMono();
  std::lock_guard lock(gMutex);
  return gVirtualMono;
}

bool Clock::isVirtual() { return gVirtual.load(); }

void Clock::useVirtual(double start) {
  std::lock_guard lock(gMutex);
  gVirtualNow = start;
  gVirtualMono = 1000.0;
  gVirtual = true;
}

void Clock::useReal() { gVirtual = false; }

void Clock::advance(double seconds) {
  std::map<int, std::function<void()>> listeners;
  {
    std::lock_guard lock(gMutex);
    if (seconds > 0) {
      gVirtualNow += seconds;
      gVirtualMono += seconds;
    }
    listeners = gListeners;
  }
  for (auto& [_, l] : listeners) l();
}

int Clock::addAdvanceListener(std::function<void()> listener) {
  std::lock_guard lock(gMutex);
  int t = gNextToken++;
  gListeners[t] = std::move(listener);
  return t;
}

void Clock::removeAdvanceListener(int token) {
  std::lock_guard lock(gMutex);
  gListeners.erase(token);
}

Date Date::now() { return Date::fromTimeIntervalSince1970(Clock::now()); }
double Date::timeIntervalSinceNow() const { return s1970_ - Clock::now(); }

}  // namespace os
