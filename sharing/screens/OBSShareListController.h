#pragma once
// The table of platforms a share can go to, one row per platform with its icon and name, in
// sections when the caller groups the names. Picking a row shares straight to the service when
// the caller asks for direct shares, else runs the platform's own road (editor, login or the
// platform's application) inside this screen's navigation controller.
#include <memory>
#include <optional>
#include <string>

#include "os/core/Value.h"
#include "os/graphics/Geometry.h"
#include "os/views/TableView.h"
#include "sharing/screens/OBSocialViewController.h"

namespace os {
class Image;
}

class OBSShareListController : public OBSocialViewController,
                               public os::TableViewDataSource,
                               public os::TableViewDelegate {
 public:
  using OBSocialViewController::OBSocialViewController;
  std::string className() const override { return "OBSShareListController"; }

  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;
  bool shouldAutorotate() const override;

  // Platform names, or lists of names (one per section); the two forms are not mixed.
  const os::Array& allSnsArray() const { return allSnsArray_; }
  void setAllSnsArray(os::Array names);
  const std::shared_ptr<os::TableView>& tableView() const { return tableView_; }

  // The image redrawn at the size in points.
  static std::shared_ptr<os::Image> changeImage(const std::shared_ptr<os::Image>& image, os::Size size);

  long numberOfSectionsInTableView(os::TableView& table) override;
  long numberOfRowsInSection(os::TableView& table, long section) override;
  std::shared_ptr<os::TableViewCell> cellForRowAtIndexPath(os::TableView& table, const os::IndexPath& indexPath) override;
  std::optional<double> heightForRowAtIndexPath(os::TableView&, const os::IndexPath&) override { return 43; }
  std::optional<double> heightForHeaderInSection(os::TableView&, long) override { return 10; }
  std::shared_ptr<os::View> viewForHeaderInSection(os::TableView& table, long section) override;
  void didSelectRowAtIndexPath(os::TableView& table, const os::IndexPath& indexPath) override;

 private:
  bool grouped() const;
  std::optional<std::string> nameAt(const os::IndexPath& indexPath) const;

  os::Array allSnsArray_;
  std::shared_ptr<os::TableView> tableView_;
};
