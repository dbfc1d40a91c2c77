#include "news/list/VXFavoriteViewController.h"

#include "news/api/VXFavoriteRequest.h"
#include "news/api/VXGetFavoriteRequest.h"
#include "news/api/VXReaderContext.h"
#include "news/list/VXNewsListCells.h"
#include "news/list/VXNewsTitleStyleCell.h"
#include "news/store/VXNewsConfig.h"
#include "os/views/Screen.h"

namespace {

constexpr long long kNewsFailure = 2;
constexpr long long kMorePages = 2;

}  // namespace

VXFavoriteViewController::VXFavoriteViewController(std::shared_ptr<VXReaderContext> context)
    : VXLeftBaseTableViewController(os::TableViewStyle::Plain, std::move(context)) {}

std::shared_ptr<VXFavoriteViewController> VXFavoriteViewController::initWithFrame(
    const os::Rect& frame, std::shared_ptr<VXReaderContext> context) {
  auto controller = create(std::move(context));
  controller->frame_ = frame;
  return controller;
}

VXFavoriteViewController::~VXFavoriteViewController() {
  if (favoritesToken_) os::NotificationCenter::defaultCenter().removeObserver(favoritesToken_);
}

void VXFavoriteViewController::viewDidLoad() {
  VXLeftBaseTableViewController::viewDidLoad();
  if (frame_) {
    view()->setFrame(*frame_);
    tableView()->setFrame(os::Rect{0, 0, frame_->size.width, frame_->size.height});
  }
  std::weak_ptr<os::Responder> weak = weak_from_this();
  favoritesToken_ = os::NotificationCenter::defaultCenter().addObserver(
      kFavoritesChangedNotification, nullptr, [weak](const os::Notification&) {
        if (auto me = std::dynamic_pointer_cast<VXFavoriteViewController>(weak.lock())) me->favoritesChanged_ = true;
      });
  loadNewer();
}

void VXFavoriteViewController::viewWillAppear(bool animated) {
  VXLeftBaseTableViewController::viewWillAppear(animated);
  if (!favoritesChanged_) return;
  favoritesChanged_ = false;
  loadNewer();
}

std::unique_ptr<NQBaseRequest> VXFavoriteViewController::request() {
  return std::make_unique<VXGetFavoriteRequest>(currentPage());
}

std::vector<NQBaseTableViewController::Row> VXFavoriteViewController::parseResponse(
    const std::optional<os::Dictionary>& data) {
  std::vector<Row> rows;
  if (!data) return rows;
  const os::Value* result = data->find("result");
  if (!result || !result->isNumber() || result->intValue() == kNewsFailure) return rows;
  const os::Value* lastpage = data->find("lastpage");
  setCanLoadMore(lastpage && lastpage->isNumber() && lastpage->intValue() == kMorePages);
  if (const os::Value* list = data->find("newslist"); list && list->array())
    for (const os::Value& v : *list->array())
      if (const os::Dictionary* d = v.dictionary()) rows.emplace_back(std::make_shared<VXNewsDO>(*d));
  return rows;
}

bool VXFavoriteViewController::isEmptyList(const std::optional<os::Dictionary>& data) {
  if (!data) return false;
  const os::Value* result = data->find("result");
  return result && result->isNumber() && result->intValue() != kNewsFailure;
}

std::shared_ptr<VXNewsDO> VXFavoriteViewController::itemAt(long row) const {
  if (row < 0 || row >= static_cast<long>(listData().size())) return nullptr;
  const auto* item = std::any_cast<std::shared_ptr<VXNewsDO>>(&listData()[static_cast<std::size_t>(row)]);
  return item ? *item : nullptr;
}

std::optional<double> VXFavoriteViewController::heightForRowAtIndexPath(os::TableView& table,
                                                                        const os::IndexPath& indexPath) {
  auto item = isLoadMoreRow(indexPath) ? nullptr : itemAt(indexPath.row);
  if (!item) return NQBaseTableViewController::heightForRowAtIndexPath(table, indexPath);
  auto context = readerContext();
  if (!context) return 0.0;
  return item->calHeightByStyle(os::Screen::main().bounds().size.width, *VXNewsConfig::share(*context));
}

std::shared_ptr<os::TableViewCell> VXFavoriteViewController::cellForRowAtIndexPath(os::TableView& table,
                                                                                  const os::IndexPath& indexPath) {
  auto item = isLoadMoreRow(indexPath) ? nullptr : itemAt(indexPath.row);
  if (!item) return NQBaseTableViewController::cellForRowAtIndexPath(table, indexPath);
  return newsCellForItem(table, item, readerContext());
}

void VXFavoriteViewController::didSelectRowAtIndexPath(os::TableView& table, const os::IndexPath& indexPath) {
  NQBaseTableViewController::didSelectRowAtIndexPath(table, indexPath);
  if (isLoadMoreRow(indexPath)) return;
  auto item = itemAt(indexPath.row);
  auto context = readerContext();
  auto open = context ? context->openItem.get() : nullptr;
  if (item && open) open(item, *this);
}
