#pragma once
// Broadcasts by name. Delivery is synchronous on the posting thread, in registration order,
// unless an observer asked for a dispatch queue.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "os/core/Value.h"

namespace os {

class DispatchQueue;

struct Notification {
  std::string name;
  const void* object = nullptr;  // identity of the sender, compared by address only
  Dictionary userInfo;
  // An object that is a plain value (a number, a text) rather than a sender: observers read it,
  // filters never compare it.
  Value value;
};

class NotificationCenter {
 public:
  using Handler = std::function<void(const Notification&)>;
  using ObserverToken = std::uint64_t;  // 0 is never a token

  static NotificationCenter& defaultCenter();
  NotificationCenter() = default;
  NotificationCenter(const NotificationCenter&) = delete;
  NotificationCenter& operator=(const NotificationCenter&) = delete;

  // A closure observer: `name` empty means every name, `object` null means every sender. With a
  // queue, each delivery is submitted there instead of running on the posting thread.
  ObserverToken addObserver(std::string name, const void* object, Handler handler,
                            std::shared_ptr<DispatchQueue> queue = nullptr);
  // An observer known by a target identity, removed with removeObserver(target, ...).
  ObserverToken addObserver(const void* target, std::string name, const void* object, Handler handler);

  void removeObserver(ObserverToken token);
  // Every registration of the target, or those matching a name (empty: any) and object (null: any).
  void removeObserver(const void* target, std::string_view name = {}, const void* object = nullptr);

  // Observers removed during a delivery and not yet called are not called.
  void post(const Notification& notification);
  void post(std::string name, const void* object = nullptr, Dictionary userInfo = {});
  // A value as the notification's object, no sender identity and no user info.
  void postValue(std::string name, Value value);

 private:
  struct Entry;
  ObserverToken add(const void* target, std::string name, const void* object, Handler handler,
                    std::shared_ptr<DispatchQueue> queue);

  std::mutex mutex_;
  std::vector<std::shared_ptr<Entry>> entries_;
  ObserverToken nextToken_ = 1;
};

}  // namespace os
