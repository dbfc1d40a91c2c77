#include "os/runtime/NotificationCenter.h"

#include <atomic>

#include "os/runtime/DispatchQueue.h"

namespace os {

struct NotificationCenter::Entry {
  ObserverToken token;
  const void* target;
  std::string name;
  const void* object;
  Handler handler;
  std::shared_ptr<DispatchQueue> queue;
  std::atomic<bool> removed{false};
};

NotificationCenter& NotificationCenter::defaultCenter() {
  // Never destroyed: observers may be removed from static destructors in any order.
  static auto* center = new NotificationCenter;
  return *center;
}

NotificationCenter::ObserverToken NotificationCenter::add(const void* target, std::string name, const void* object,
                                                          Handler handler, std::shared_ptr<DispatchQueue> queue) {
  auto entry = std::make_shared<Entry>();
  entry->target = target;
  entry->name = std::move(name);
  entry->object = object;
  entry->handler = std::move(handler);
  entry->queue = std::move(queue);
  std::lock_guard lock(mutex_);
  entry->token = nextToken_++;
  entries_.push_back(entry);
  return entry->token;
}

NotificationCenter::ObserverToken NotificationCenter::addObserver(std::string name, const void* object, Handler handler,
                                                                  std::shared_ptr<DispatchQueue> queue) {
  return add(nullptr, std::move(name), object, std::move(handler), std::move(queue));
}

NotificationCenter::ObserverToken NotificationCenter::addObserver(const void* target, std::string name,
                                                                  const void* object, Handler handler) {
  return add(target, std::move(name), object, std::move(handler), nullptr);
}

void NotificationCenter::removeObserver(ObserverToken token) {
  std::vector<std::shared_ptr<Entry>> removed;  // handlers released outside the lock
  std::lock_guard lock(mutex_);
  std::erase_if(entries_, [&](const std::shared_ptr<Entry>& e) {
    if (e->token != token) return false;
    e->removed = true;
    removed.push_back(e);
    return true;
  });
}

void NotificationCenter::removeObserver(const void* target, std::string_view name, const void* object) {
  if (!target) return;
  std::vector<std::shared_ptr<Entry>> removed;
  std::lock_guard lock(mutex_);
  std::erase_if(entries_, [&](const std::shared_ptr<Entry>& e) {
    if (e->target != target) return false;
    if (!name.empty() && e->name != name) return false;
    if (object && e->object != object) return false;
    e->removed = true;
    removed.push_back(e);
    return true;
  });
}

void NotificationCenter::postValue(std::string name, Value value) {
  post(Notification{std::move(name), nullptr, Dictionary(), std::move(value)});
}

void NotificationCenter::post(std::string name, const void* object, Dictionary userInfo) {
  post(Notification{std::move(name), object, std::move(userInfo), Value()});
}

void NotificationCenter::post(const Notification& notification) {
  std::vector<std::shared_ptr<Entry>> matching;
  {
    std::lock_guard lock(mutex_);
    for (auto& e : entries_) {
      if (!e->name.empty() && e->name != notification.name) continue;
      if (e->object && e->object != notification.object) continue;
      matching.push_back(e);
    }
  }
  for (auto& e : matching) {
    if (e->removed) continue;
    if (e->queue) {
      e->queue->async([e, notification] {
        if (!e->removed) e->handler(notification);
      });
    } else {
      e->handler(notification);
    }
  }
}

}  // namespace os
