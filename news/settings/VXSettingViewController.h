#pragma once
// The settings screen, opened from the left menu: text size, clearing the caches (with the room
// they take), the new-version check, push messages on or off, and the feedback form.
//
// Main thread, except the measurement of the caches, which runs on a thread of its own right after
// the view loads (and again after a clearing that left some behind) and hands its result back on
// the main queue.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "news/api/NQBaseRequest.h"
#include "news/list/NQBaseTableViewController.h"
#include "news/list/VXLeftBaseTableViewController.h"
#include "news/settings/VXSettingDO.h"
#include "os/views/AlertView.h"
#include "os/views/Label.h"

class BNImageCache;
class VXNewsConfig;
namespace os {
class Thread;
}

class VXSettingViewController : public VXLeftBaseTableViewController,
                                public os::ActionSheetDelegate,
                                public os::AlertViewDelegate {
 public:
  // Defaults key of the push setting: "1" means off, anything else (or nothing) on.
  static constexpr const char* kPushMessage = "kPushMessage";
  // Posted after the caches were cleared.
  static constexpr const char* kClearCachesNotification = "fClearCaches";
  static constexpr const char* kCellIdentifier = "SETTING_CELL";
  static constexpr double kRowHeight = 44;
  // What an empty reader still takes (the empty database and the folders): shown as nothing.
  static constexpr double kBaseCacheBytes = 24576;
  static constexpr int kUpdateAlertTag = 100;
  // Said when clearing could not empty the news database (a full disk refused it).
  static constexpr const char* kNotClearedText = "缓存未能全部清理";

  enum Row : long { kRowFont = 0, kRowCache = 1, kRowUpdate = 2, kRowPush = 3, kRowFeedback = 4 };

  // `context`: the reader context it reads and drives.
  explicit VXSettingViewController(std::shared_ptr<VXReaderContext> context);
  ~VXSettingViewController() override;
  std::string className() const override { return "VXSettingViewController"; }
  std::string navbarTitle() const override { return "设置"; }

  void viewDidLoad() override;
  void initListData();
  void initViews();

  // Bytes the caches take: the offline files, the news database and the image cache, less what
  // an empty reader takes; never below 0. Safe off the main thread.
  double calcCacheSize() const;
  // -1 until measured.
  double cacheSize() const { return cacheSize_; }
  // "加载中" until measured, then transformedValue of the size.
  std::string sizeOfCache() const;
  // "0", or the size in the largest unit it exceeds 1024 of, as "%4.1f %@".
  static std::string transformedValue(double bytes);

  void clickFontCell();
  void clickCacheCell();
  void clcikUpdateCell();
  void clickPushMsg();
  void clickFeedback();

  const std::optional<std::string>& appstoreUrl() const { return appstoreUrl_; }
  const std::vector<std::shared_ptr<os::Label>>& footerLabels() const { return footerLabels_; }
  // The latest measuring thread of this screen (null before the view loads).
  const std::shared_ptr<os::Thread>& sizeThread() const { return sizeThread_; }
  // The row's data, or null.
  const VXSettingDO* row(long index) const;

  // --- table ---
  long numberOfRowsInSection(os::TableView& table, long section) override;
  std::shared_ptr<os::TableViewCell> cellForRowAtIndexPath(os::TableView& table, const os::IndexPath& indexPath) override;
  std::optional<double> heightForRowAtIndexPath(os::TableView& table, const os::IndexPath& indexPath) override;
  void didSelectRowAtIndexPath(os::TableView& table, const os::IndexPath& indexPath) override;

  // --- text size sheet, upgrade alert ---
  void clickedButtonAtIndex(os::ActionSheet& sheet, long buttonIndex) override;
  void clickedButtonAtIndex(os::AlertView& alert, long buttonIndex) override;

 private:
  // Where the caches are, read on the main thread for the measuring thread.
  struct CacheLocations {
    std::string offline;
    std::string database;
    std::shared_ptr<BNImageCache> images;
  };
  CacheLocations cacheLocations() const;
  // The text style of the context it was made with.
  std::shared_ptr<VXNewsConfig> textStyle() const;
  static double measure(const CacheLocations& where);
  // Measures the caches on a thread of its own; the size shows once measured.
  void measureInBackground();
  void refreshNote(long index);
  void versionAnswered(const std::string& text);
  std::weak_ptr<VXSettingViewController> weakSelf();
  template <class Delegate>
  std::weak_ptr<Delegate> weakAs();

  std::optional<std::string> appstoreUrl_;
  double cacheSize_ = -1;
  // Bumped by every clearing, so that a measurement taken before it cannot bring back the old size.
  unsigned sizeGeneration_ = 0;
  std::shared_ptr<os::Thread> sizeThread_;
  std::vector<std::shared_ptr<os::Label>> footerLabels_;
};
