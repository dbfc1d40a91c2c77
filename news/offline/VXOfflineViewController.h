#pragma once
// The offline download's category choice, opened from the left menu: one row per category, all
// chosen at first; a row tap toggles it; the download button (Wi-Fi only) hands the chosen ids to
// the offline helper, starts the run and covers the window with the progress screen.
#include <memory>
#include <string>
#include <vector>

#include "news/api/NQBaseRequest.h"
#include "news/list/NQBaseTableViewController.h"
#include "news/list/VXLeftBaseTableViewController.h"

inline constexpr const char* kOfflineCellIdentifier = "OFFLINE_CELL";

class VXOfflineMaskViewController;

class VXOfflineViewController : public VXLeftBaseTableViewController {
 public:
  static constexpr double kRowHeight = 44;
  static constexpr const char* kNoNetworkText = "网络异常";
  static constexpr const char* kNothingChosenText = "至少选中一个新闻类别";

  // `context`: the reader context it reads and drives.
  explicit VXOfflineViewController(std::shared_ptr<VXReaderContext> context);
  std::string className() const override { return "VXOfflineViewController"; }
  std::string navbarTitle() const override { return "离线下载"; }

  void viewDidLoad() override;
  // One row {"name", "ID", "selected" 1} per category of the category list, in its order.
  void initListData();
  void createRightButton();
  const std::shared_ptr<os::Button>& downloadButton() const { return downloadButton_; }
  // The download button.
  void buttonClick();
  void addMaskView();
  // The ids of the chosen rows, in row order.
  std::vector<long long> selectedIDs() const;

  long numberOfRowsInSection(os::TableView& table, long section) override;
  std::shared_ptr<os::TableViewCell> cellForRowAtIndexPath(os::TableView& table, const os::IndexPath& indexPath) override;
  std::optional<double> heightForRowAtIndexPath(os::TableView& table, const os::IndexPath& indexPath) override;
  void didSelectRowAtIndexPath(os::TableView& table, const os::IndexPath& indexPath) override;

 private:
  std::shared_ptr<os::Button> downloadButton_;
};
