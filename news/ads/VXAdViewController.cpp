#include "news/ads/VXAdViewController.h"

#include "news/ads/VXAdCell.h"
#include "news/ads/VXAdHelper.h"
#include "news/api/VXAllAdListRequest.h"
#include "news/api/VXReaderContext.h"
#include "os/views/Device.h"

VXAdViewController::VXAdViewController(std::shared_ptr<VXReaderContext> context)
    : VXLeftBaseTableViewController(os::TableViewStyle::Plain, std::move(context)) {}

void VXAdViewController::viewDidLoad() {
  VXLeftBaseTableViewController::viewDidLoad();
  const os::Size size = view()->bounds().size;
  const double bars = os::Device::current().systemVersionNumber() >= 7.0 ? 64 : 44;
  tableView()->setFrame(os::Rect{0, 0, size.width, size.height - bars});
  loadNewer();
}

std::unique_ptr<NQBaseRequest> VXAdViewController::request() {
  return std::make_unique<VXAllAdListRequest>(currentPage());
}

std::vector<NQBaseTableViewController::Row> VXAdViewController::parseResponse(const std::optional<os::Dictionary>& data) {
  std::vector<Row> rows;
  if (!data) return rows;
  const os::Value* result = data->find("result");
  if (!result || !result->isNumber() || result->intValue() != 0) return rows;
  const os::Value* lastpage = data->find("lastpage");
  setCanLoadMore(!(lastpage && lastpage->isNumber() && lastpage->intValue() == 1));
  if (const os::Value* list = data->find("adlist"); list && list->array())
    for (const os::Value& v : *list->array())
      if (const os::Dictionary* d = v.dictionary()) rows.emplace_back(std::make_shared<VXAdDO>(*d));
  return rows;
}

std::shared_ptr<VXAdDO> VXAdViewController::adAt(long row) const {
  if (row < 0 || row >= static_cast<long>(listData().size())) return nullptr;
  const auto* ad = std::any_cast<std::shared_ptr<VXAdDO>>(&listData()[static_cast<std::size_t>(row)]);
  return ad ? *ad : nullptr;
}

std::optional<double> VXAdViewController::heightForRowAtIndexPath(os::TableView& table, const os::IndexPath& indexPath) {
  if (isLoadMoreRow(indexPath) || !adAt(indexPath.row))
    return NQBaseTableViewController::heightForRowAtIndexPath(table, indexPath);
  return kRowHeight;
}

std::shared_ptr<os::TableViewCell> VXAdViewController::cellForRowAtIndexPath(os::TableView& table,
                                                                            const os::IndexPath& indexPath) {
  auto ad = isLoadMoreRow(indexPath) ? nullptr : adAt(indexPath.row);
  if (!ad) return NQBaseTableViewController::cellForRowAtIndexPath(table, indexPath);
  auto cell = std::dynamic_pointer_cast<VXAdCell>(table.dequeueReusableCellWithIdentifier(kAdCellIdentifier));
  if (!cell) cell = std::make_shared<VXAdCell>();
  cell->setContent(ad);
  return cell;
}

void VXAdViewController::didSelectRowAtIndexPath(os::TableView& table, const os::IndexPath& indexPath) {
  NQBaseTableViewController::didSelectRowAtIndexPath(table, indexPath);
  if (isLoadMoreRow(indexPath)) return;
  auto context = readerContext();
  if (auto ad = adAt(indexPath.row); ad && context)
    VXAdHelper::share(*context).request(ad->adid(), ad->type(), ad->content(), *this);
}
