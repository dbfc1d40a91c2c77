#pragma once
// The menu beneath the home screen: news, favourites, offline, settings and, while the server's
// pass switch is off, the recommended apps. A tap opens that screen on the navigation controller
// (going back from it reopens the menu) and closes the menu.
#include <memory>
#include <string>
#include <vector>

#include "news/api/NQBaseRequest.h"
#include "news/home/VXLeftSideDO.h"
#include "news/list/NQBaseTableViewController.h"

class NQSideViewController;
class VXReaderContext;

inline constexpr const char* kLeftSideCellIdentifier = "LEFTSIDECELL";

class VXLeftSideViewController : public NQBaseTableViewController {
 public:
  static constexpr double kRowHeight = 50;
  static constexpr double kTableTop = 117;

  // `context`: the reader context whose state and side menu it reads.
  explicit VXLeftSideViewController(std::shared_ptr<VXReaderContext> context);
  std::string className() const override { return "VXLeftSideViewController"; }

  void viewDidLoad() override;
  // Rebuilds the entries and, when the table is already on screen, reloads it.
  void loadData();
  std::vector<VXLeftSideDO> entries() const;

  void leftSideCellCilck(const std::string& name);

  long numberOfRowsInSection(os::TableView& table, long section) override;
  std::shared_ptr<os::TableViewCell> cellForRowAtIndexPath(os::TableView& table, const os::IndexPath& indexPath) override;
  std::optional<double> heightForRowAtIndexPath(os::TableView& table, const os::IndexPath& indexPath) override;
  void didSelectRowAtIndexPath(os::TableView& table, const os::IndexPath& indexPath) override;

 private:
  void openScreen(const std::string& name);
  std::shared_ptr<NQSideViewController> sideMenu() const;
};
