#pragma once
// The menu beneath the home screen: news, favourites, offline, settings and, while the server's
// pass switch is off, the recommended apps. A tap opens that screen on the navigation controller
// (going back from it reopens the menu) and closes the menu.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "news/controllers/NQBaseTableViewController.h"
#include "news/models/requests/NQBaseRequest.h"
#include "news/models/dataobject/VXLeftSideDO.h"

inline constexpr const char* kLeftSideCellIdentifier = "LEFTSIDECELL";

class VXLeftSideViewController : public NQBaseTableViewController {
 public:
  static constexpr double kRowHeight = 50;
  static constexpr double kTableTop = 117;

  // The screens behind the entries ("收藏", "离线", "设置", "精彩应用"), made on each tap; start-up
  // installs the factory once the screens exist. No factory, or none for a name: the tap only
  // closes the menu.
  using ScreenFactory = std::function<std::shared_ptr<os::ViewController>(const std::string& name)>;
  static void setScreenFactory(ScreenFactory factory);

  VXLeftSideViewController();
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
};
