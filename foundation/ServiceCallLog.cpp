#include "foundation/ServiceCallLog.h"

#include <deque>
#include <mutex>
#include <utility>

#include "os/core/DetachedValue.h"

namespace {

struct Store {
  std::mutex mutex;
  std::size_t recordings = 0;
  std::deque<ServiceCall> calls;
};

// Made on first use so that a service called from a static initialiser still finds it.
Store& store() {
  static Store* s = new Store();
  return *s;
}

}  // namespace

ServiceCallLog::Recording::Recording() {
  Store& s = store();
  std::lock_guard<std::mutex> lock(s.mutex);
  ++s.recordings;
}

ServiceCallLog::Recording::~Recording() {
  Store& s = store();
  std::deque<ServiceCall> forgotten;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    if (--s.recordings == 0) forgotten.swap(s.calls);
  }
  // Released outside the lock: an argument's objects may call back into the log as they go.
}

void ServiceCallLog::record(std::string service, std::string operation, os::Dictionary arguments, std::any objects) {
  Store& s = store();
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.recordings == 0) return;
  }
  // A recorded payload may be a small piece of a large decode: kept on its own storage, it does not
  // keep the rest of that decode alive.
  ServiceCall call{std::move(service), std::move(operation), os::detached(arguments), std::move(objects)};
  ServiceCall dropped;
  std::lock_guard<std::mutex> lock(s.mutex);
  if (s.recordings == 0) return;
  s.calls.push_back(std::move(call));
  if (s.calls.size() > kKeptCalls) {
    dropped = std::move(s.calls.front());
    s.calls.pop_front();
  }
}

std::vector<ServiceCall> ServiceCallLog::calls() {
  Store& s = store();
  std::lock_guard<std::mutex> lock(s.mutex);
  return {s.calls.begin(), s.calls.end()};
}

std::vector<ServiceCall> ServiceCallLog::calls(std::string_view service) {
  Store& s = store();
  std::lock_guard<std::mutex> lock(s.mutex);
  std::vector<ServiceCall> out;
  for (const auto& c : s.calls)
    if (c.service == service) out.push_back(c);
  return out;
}

std::vector<ServiceCall> ServiceCallLog::calls(std::string_view service, std::string_view operation) {
  Store& s = store();
  std::lock_guard<std::mutex> lock(s.mutex);
  std::vector<ServiceCall> out;
  for (const auto& c : s.calls)
    if (c.service == service && c.operation == operation) out.push_back(c);
  return out;
}

std::vector<std::string> ServiceCallLog::names() {
  Store& s = store();
  std::lock_guard<std::mutex> lock(s.mutex);
  std::vector<std::string> out;
  out.reserve(s.calls.size());
  for (const auto& c : s.calls) out.push_back(c.name());
  return out;
}

std::optional<ServiceCall> ServiceCallLog::last(std::string_view service, std::string_view operation) {
  Store& s = store();
  std::lock_guard<std::mutex> lock(s.mutex);
  for (auto it = s.calls.rbegin(); it != s.calls.rend(); ++it)
    if (it->service == service && it->operation == operation) return *it;
  return std::nullopt;
}

std::size_t ServiceCallLog::size() {
  Store& s = store();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.calls.size();
}

void ServiceCallLog::reset() {
  Store& s = store();
  std::deque<ServiceCall> forgotten;
  std::lock_guard<std::mutex> lock(s.mutex);
  forgotten.swap(s.calls);
}
