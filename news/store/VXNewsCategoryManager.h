#pragma once
// The news categories, the tabs of the home screen. On Wi-Fi they come from the news API, which
// also rewrites the stored copy; otherwise (cellular or no network) from the news database. Every
// load ends with the stored list broadcast as "fNewsCategory", so the splash always hears one.
// Main thread.
#include <memory>
#include <vector>

#include "news/store/VXNewsCategory.h"
#include "os/core/Value.h"

class VXReaderContext;

// Posted (no object) on the main queue whenever categoryList() has been set.
inline constexpr const char* kNewsCategoryNotification = "fNewsCategory";

class VXNewsCategoryManager : public std::enable_shared_from_this<VXNewsCategoryManager> {
 public:
  static constexpr long long kCategoryListOpcode = 1040;
  static constexpr double kRequestTimeout = 3.0;
  // "result" of a successful news answer.
  static constexpr long long kResultSuccess = 1;

  static std::shared_ptr<VXNewsCategoryManager> share();
  // The list of a given context (share() asks the current one).
  static std::shared_ptr<VXNewsCategoryManager> share(VXReaderContext& context);
  // Replaces the shared instance (null: a fresh one on the next share()); returns the previous one.
  static std::shared_ptr<VXNewsCategoryManager> setShared(std::shared_ptr<VXNewsCategoryManager> manager);

  // From the server while the local Wi-Fi is reachable, else from the database.
  void loadList();
  // Asks the server; whatever happens, the stored list (rewritten from a good answer) is set.
  void requestList(double timeout = kRequestTimeout);
  // The categories of a successful answer's "categorylist" in server order, each "order" set to
  // its position. Items that are not objects or carry no numeric "id" are left out.
  static std::vector<VXNewsCategory> categoriesFromAnswer(const os::Dictionary& data);

  // On the main queue: stores the list and posts "fNewsCategory".
  void setCategoryList(std::vector<VXNewsCategory> list);
  const std::vector<VXNewsCategory>& categoryList() const { return categoryList_; }

 private:
  // Its own context when share() made it, else the current one.
  std::shared_ptr<VXReaderContext> context() const;
  void setStoredList();
  void setStoredList(VXReaderContext& context);

  std::weak_ptr<VXReaderContext> context_;

  std::vector<VXNewsCategory> categoryList_;
};
