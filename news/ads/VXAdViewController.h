#pragma once
// The recommended-apps screen, opened from the left menu: the promotion API's full ad list, page
// by page, one VXAdCell per ad; a tap goes to the shared ad click handling.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "news/api/NQBaseRequest.h"
#include "news/list/NQBaseTableViewController.h"
#include "news/list/VXLeftBaseTableViewController.h"
#include "news/store/VXAdDO.h"

class VXAdViewController : public VXLeftBaseTableViewController {
 public:
  static constexpr double kRowHeight = 70;

  // `context`: the reader context it reads and drives.
  static std::shared_ptr<VXAdViewController> create(std::shared_ptr<VXReaderContext> context) {
    return std::make_shared<VXAdViewController>(std::move(context));
  }
  explicit VXAdViewController(std::shared_ptr<VXReaderContext> context);
  std::string className() const override { return "VXAdViewController"; }

  std::string navbarTitle() const override { return "精彩应用"; }
  void viewDidLoad() override;

  std::unique_ptr<NQBaseRequest> request() override;
  // Rows are std::shared_ptr<VXAdDO>.
  std::vector<Row> parseResponse(const std::optional<os::Dictionary>& data) override;
  // The ad of a row, or null (the load-more row, an index beyond the list).
  std::shared_ptr<VXAdDO> adAt(long row) const;

  std::optional<double> heightForRowAtIndexPath(os::TableView& table, const os::IndexPath& indexPath) override;
  std::shared_ptr<os::TableViewCell> cellForRowAtIndexPath(os::TableView& table, const os::IndexPath& indexPath) override;
  void didSelectRowAtIndexPath(os::TableView& table, const os::IndexPath& indexPath) override;
};
