#pragma once
// Where the sharing component's shared instances live. Each class's shared accessor answers from
// the current context, creating its instance on first use under the context's lock; the
// application has one context for its life and each test makes a fresh one.
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <typeindex>

class OBSocialContext {
 public:
  static std::shared_ptr<OBSocialContext> current();
  // Replaces the current context (null: a fresh one on next use); returns the previous one.
  static std::shared_ptr<OBSocialContext> setCurrent(std::shared_ptr<OBSocialContext> context);

  template <class T>
  std::shared_ptr<T> instance(const std::function<std::shared_ptr<T>()>& make) {
    std::lock_guard lock(mutex_);
    auto& slot = instances_[std::type_index(typeid(T))];
    if (!slot) slot = make();
    return std::static_pointer_cast<T>(slot);
  }

  template <class T>
  static std::shared_ptr<T> shared() {
    return current()->instance<T>([] { return std::make_shared<T>(); });
  }

 private:
  // Recursive: making one instance may ask for another.
  std::recursive_mutex mutex_;
  std::map<std::type_index, std::shared_ptr<void>> instances_;
};

// A fresh context for the lifetime of the object (tests).
class OBSocialContextScope {
 public:
  OBSocialContextScope() : previous_(OBSocialContext::setCurrent(std::make_shared<OBSocialContext>())) {}
  ~OBSocialContextScope() { OBSocialContext::setCurrent(previous_); }
  OBSocialContextScope(const OBSocialContextScope&) = delete;
  OBSocialContextScope& operator=(const OBSocialContextScope&) = delete;

 private:
  std::shared_ptr<OBSocialContext> previous_;
};
