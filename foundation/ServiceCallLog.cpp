#include "foundation/ServiceCallLog.h"

#include <mutex>
#include <utility>

namespace {

struct Store {
  std::mutex mutex;
  std::vector<ServiceCall> calls;
};

// Made on first use so that a service called from a static initialiser still finds it.
Store& store() {
  static Store* s = new Store();
  return *s;
}

}  // namespace

void ServiceCallLog::record(std::string service, std::string operation, os::Dictionary arguments, std::any objects) {
  ServiceCall call{std::move(service), std::move(operation), std::move(arguments), std::move(objects)};
  Store& s = store();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.calls.push_back(std::move(call));
}

std::vector<ServiceCall> ServiceCallLog::calls() {
  Store& s = store();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.calls;
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
  std::lock_guard<std::mutex> lock(s.mutex);
  s.calls.clear();
}
