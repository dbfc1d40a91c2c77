#pragma once
// The reader's favourites as the server keeps them, page by page, in the news lists' cells; a tap
// opens the article or album. Opened from the left menu.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "news/api/NQBaseRequest.h"
#include "news/list/NQBaseTableViewController.h"
#include "news/list/VXLeftBaseTableViewController.h"
#include "news/store/VXNewsDO.h"
#include "os/runtime/NotificationCenter.h"

class VXFavoriteViewController : public VXLeftBaseTableViewController {
 public:
  // `context`: the reader context it reads and drives.
  static std::shared_ptr<VXFavoriteViewController> create(std::shared_ptr<VXReaderContext> context) {
    return std::make_shared<VXFavoriteViewController>(std::move(context));
  }
  // The view takes the rectangle and the table fills it.
  static std::shared_ptr<VXFavoriteViewController> initWithFrame(const os::Rect& frame,
                                                                 std::shared_ptr<VXReaderContext> context);
  explicit VXFavoriteViewController(std::shared_ptr<VXReaderContext> context);
  ~VXFavoriteViewController() override;
  std::string className() const override { return "VXFavoriteViewController"; }

  std::string navbarTitle() const override { return "我的收藏"; }
  void viewDidLoad() override;
  // Back from an article whose favourite changed meanwhile: the first page again, as it now is.
  void viewWillAppear(bool animated) override;

  std::unique_ptr<NQBaseRequest> request() override;
  // Rows are std::shared_ptr<VXNewsDO>.
  std::vector<Row> parseResponse(const std::optional<os::Dictionary>& data) override;
  // An answer the server stands behind ("result" other than 2) that lists nothing is an empty
  // list: a reader without favourites is told of no network failure.
  bool isEmptyList(const std::optional<os::Dictionary>& data) override;
  // The item of a row, or null (the load-more row, an index beyond the list).
  std::shared_ptr<VXNewsDO> itemAt(long row) const;

  std::optional<double> heightForRowAtIndexPath(os::TableView& table, const os::IndexPath& indexPath) override;
  std::shared_ptr<os::TableViewCell> cellForRowAtIndexPath(os::TableView& table, const os::IndexPath& indexPath) override;
  void didSelectRowAtIndexPath(os::TableView& table, const os::IndexPath& indexPath) override;

 private:
  std::optional<os::Rect> frame_;
  bool favoritesChanged_ = false;
  os::NotificationCenter::ObserverToken favoritesToken_ = 0;
};
