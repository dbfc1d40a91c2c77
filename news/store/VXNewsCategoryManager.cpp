#include "news/store/VXNewsCategoryManager.h"

#include <mutex>

#include "news/api/DeviceExtensions.h"
#include "news/api/NQBaseRequest.h"
#include "news/api/VXGlobalHelper.h"
#include "news/api/VXReaderContext.h"
#include "news/store/VXNewsDBManager.h"
#include "os/runtime/DispatchQueue.h"
#include "os/runtime/NotificationCenter.h"

namespace {

// netStatus() of the local Wi-Fi when it is reachable.
constexpr int kNetStatusWiFi = 2;

}  // namespace

std::shared_ptr<VXNewsCategoryManager> VXNewsCategoryManager::share() { return share(*VXReaderContext::current()); }

std::shared_ptr<VXNewsCategoryManager> VXNewsCategoryManager::share(VXReaderContext& context) {
  return context.categories.get([&] {
    auto manager = std::make_shared<VXNewsCategoryManager>();
    manager->context_ = context.weak_from_this();
    return manager;
  });
}

std::shared_ptr<VXReaderContext> VXNewsCategoryManager::context() const {
  if (auto own = context_.lock()) return own;
  return VXReaderContext::current();
}

std::shared_ptr<VXNewsCategoryManager> VXNewsCategoryManager::setShared(std::shared_ptr<VXNewsCategoryManager> manager) {
  return VXReaderContext::current()->categories.set(std::move(manager));
}

void VXNewsCategoryManager::loadList() {
  // Cellular data is not spent on the tabs: only Wi-Fi asks the server.
  if (DeviceExtensions::netStatus() != kNetStatusWiFi) {
    setStoredList();
    return;
  }
  requestList();
}

void VXNewsCategoryManager::requestList(double timeout) {
  NQBaseRequest request = NQBaseRequest::initWithOpcode(kCategoryListOpcode);
  std::weak_ptr<VXNewsCategoryManager> weak = weak_from_this();
  // The context asked now is the one the answer is stored in: another may be current by then.
  auto asked = context();
  std::weak_ptr<VXReaderContext> asking = asked;
  VXGlobalHelper::loadWithRequest(
      *asked, request, timeout,
      [weak, asking](const std::optional<os::Dictionary>& data) {
        auto self = weak.lock();
        auto context = asking.lock();
        if (!self || !context) return;
        if (data) {
          const os::Value& result = (*data)["result"];
          if (result.isNumber() && result.doubleValue() == kResultSuccess) {
            // An answer without a usable list keeps the stored tabs rather than wiping them.
            auto categories = categoriesFromAnswer(*data);
            if (categories.empty()) {
              VXGlobalHelper::writeLog("category list answer holds no categories; the stored list is kept");
            } else if (!VXNewsDBManager::share(*context)->replaceCategories(categories)) {
              VXGlobalHelper::writeLog("category list not stored; the stored list is kept");
            }
          }
        }
        self->setStoredList(*context);
      },
      [weak, asking] {
        auto self = weak.lock();
        auto context = asking.lock();
        if (self && context) self->setStoredList(*context);
      });
}

std::vector<VXNewsCategory> VXNewsCategoryManager::categoriesFromAnswer(const os::Dictionary& data) {
  std::vector<VXNewsCategory> categories;
  const os::Array* list = data["categorylist"].array();
  if (!list) return categories;
  for (const os::Value& item : *list) {
    const os::Dictionary* dict = item.dictionary();
    if (!dict || !(*dict)["id"].isNumber()) continue;
    os::Dictionary copy = *dict;
    copy.set("order", static_cast<long long>(categories.size()));
    categories.emplace_back(copy);
  }
  return categories;
}

void VXNewsCategoryManager::setStoredList() { setStoredList(*context()); }

void VXNewsCategoryManager::setStoredList(VXReaderContext& context) {
  setCategoryList(VXNewsDBManager::share(context)->createCategoryListWithDB());
}

void VXNewsCategoryManager::setCategoryList(std::vector<VXNewsCategory> list) {
  std::weak_ptr<VXNewsCategoryManager> weak = weak_from_this();
  os::DispatchQueue::main()->async([weak, list = std::move(list)]() mutable {
    auto self = weak.lock();
    if (!self) return;
    self->categoryList_ = std::move(list);
    os::NotificationCenter::defaultCenter().post(kNewsCategoryNotification);
  });
}
