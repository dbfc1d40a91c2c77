#include "news/home/VXLeftSideViewController.h"

#include "news/ads/VXAdViewController.h"
#include "news/api/NQBaseRequest.h"
#include "news/api/VXGlobalHelper.h"
#include "news/api/VXReaderContext.h"
#include "news/home/VXLeftSideCell.h"
#include "news/list/VXFavoriteViewController.h"
#include "news/offline/VXOfflineViewController.h"
#include "news/settings/VXSettingViewController.h"
#include "news/shell/NQSideViewController.h"
#include "news/shell/VXCustomNavController.h"
#include "news/store/VXGlobalDefine.h"

namespace {

os::Color gray255(int level) { return os::Color::rgba(level / 255.0, level / 255.0, level / 255.0, 1); }

}  // namespace

VXLeftSideViewController::VXLeftSideViewController(std::shared_ptr<VXReaderContext> context)
    : NQBaseTableViewController(os::TableViewStyle::Plain, std::move(context)) {
  setAddRefreshControl(false);
}

std::shared_ptr<NQSideViewController> VXLeftSideViewController::sideMenu() const {
  auto context = readerContext();
  return context ? NQSideViewController::share(*context) : nullptr;
}

void VXLeftSideViewController::viewDidLoad() {
  NQBaseTableViewController::viewDidLoad();
  auto root = view();
  root->setBackgroundColor(gray255(57));
  auto& table = tableView();
  table->setBackgroundColor(gray255(57));
  table->setScrollEnabled(false);
  table->setSeparatorColor(gray255(39));
  const os::Size size = root->bounds().size;
  table->setFrame(os::Rect{0, kTableTop, size.width, size.height - kTableTop});
  loadData();
}

std::vector<VXLeftSideDO> VXLeftSideViewController::entries() const {
  std::vector<VXLeftSideDO> out;
  for (const auto& row : listData())
    if (const auto* entry = std::any_cast<VXLeftSideDO>(&row)) out.push_back(*entry);
  return out;
}

void VXLeftSideViewController::loadData() {
  auto& rows = listData();
  rows.clear();
  rows.emplace_back(VXLeftSideDO("新闻", "left_side_news"));
  rows.emplace_back(VXLeftSideDO("收藏", "left_side_favorite"));
  rows.emplace_back(VXLeftSideDO("离线", "left_side_offline"));
  rows.emplace_back(VXLeftSideDO("设置", "left_side_setting"));
  auto context = readerContext();
  if (context && !VXGlobalDefine::share(*context)->pass()) rows.emplace_back(VXLeftSideDO("精彩应用", "left_side_ad"));
  // A table that already showed five rows must not be asked for the fifth of four.
  if (isViewLoaded()) tableView()->reloadData();
}

long VXLeftSideViewController::numberOfRowsInSection(os::TableView&, long) {
  return static_cast<long>(listData().size());
}

std::optional<double> VXLeftSideViewController::heightForRowAtIndexPath(os::TableView&, const os::IndexPath&) {
  return kRowHeight;
}

std::shared_ptr<os::TableViewCell> VXLeftSideViewController::cellForRowAtIndexPath(os::TableView& table,
                                                                                  const os::IndexPath& indexPath) {
  auto cell = std::dynamic_pointer_cast<VXLeftSideCell>(table.dequeueReusableCellWithIdentifier(kLeftSideCellIdentifier));
  if (!cell) cell = std::make_shared<VXLeftSideCell>(kLeftSideCellIdentifier);
  auto row = static_cast<std::size_t>(indexPath.row);
  if (row < listData().size())
    if (const auto* entry = std::any_cast<VXLeftSideDO>(&listData()[row])) cell->setDataObject(*entry);
  return cell;
}

void VXLeftSideViewController::didSelectRowAtIndexPath(os::TableView& table, const os::IndexPath& indexPath) {
  NQBaseTableViewController::didSelectRowAtIndexPath(table, indexPath);
  auto row = static_cast<std::size_t>(indexPath.row);
  if (row >= listData().size()) return;
  if (const auto* entry = std::any_cast<VXLeftSideDO>(&listData()[row])) leftSideCellCilck(entry->name());
}

void VXLeftSideViewController::leftSideCellCilck(const std::string& name) {
  if (name == "设置" || name == "收藏" || name == "离线" || name == "精彩应用")
    openScreen(name);
  else if (name != "新闻")
    VXGlobalHelper::writeLog("名称不匹配");
  if (auto side = sideMenu()) side->hideSideViewController();
}

void VXLeftSideViewController::openScreen(const std::string& name) {
  auto side = sideMenu();
  auto nav = side ? std::dynamic_pointer_cast<VXCustomNavController>(side->rootViewController()) : nullptr;
  if (!nav) return;
  // Each screen is its own back delegate, so going back from it reopens this menu.
  auto push = [&nav](const auto& screen) {
    nav->pushViewController(screen, false, std::static_pointer_cast<VXNavBackClickDelegate>(screen));
  };
  // The screens keep to this menu's context.
  auto context = readerContext();
  if (!context) return;
  if (name == "设置")
    push(std::make_shared<VXSettingViewController>(context));
  else if (name == "收藏")
    push(std::make_shared<VXFavoriteViewController>(context));
  else if (name == "离线")
    push(std::make_shared<VXOfflineViewController>(context));
  else if (name == "精彩应用")
    push(std::make_shared<VXAdViewController>(context));
}
