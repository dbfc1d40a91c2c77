#include "news/offline/VXOfflineViewController.h"

#include <cmath>

#include "news/api/DeviceExtensions.h"
#include "news/api/VXGlobalHelper.h"
#include "news/api/VXReaderContext.h"
#include "news/offline/VXOfflineCell.h"
#include "news/offline/VXOfflineHelper.h"
#include "news/offline/VXOfflineMaskViewController.h"
#include "news/store/VXNewsCategoryManager.h"
#include "os/graphics/BitmapContext.h"
#include "os/views/BarButtonItem.h"
#include "os/views/NamedImage.h"
#include "os/views/NavigationBar.h"
#include "os/views/Screen.h"
#include "os/views/Window.h"

namespace {

// The local Wi-Fi status of a device on Wi-Fi; downloads run on nothing else.
constexpr int kReachableViaWiFi = 2;

os::Dictionary* rowAt(std::vector<NQBaseTableViewController::Row>& rows, long index) {
  if (index < 0 || static_cast<std::size_t>(index) >= rows.size()) return nullptr;
  return std::any_cast<os::Dictionary>(&rows[static_cast<std::size_t>(index)]);
}

bool isChosen(const os::Dictionary& row) {
  const os::Value& selected = row["selected"];
  return selected.isNumber() && selected.intValue() == 1;
}

// The key window as it looks now, at the screen's scale.
std::shared_ptr<os::Image> windowPicture() {
  auto window = os::Window::keyWindow();
  if (!window) return nullptr;
  const os::Size size = window->bounds().size;
  const double scale = os::Screen::main().scale();
  os::BitmapContext context(static_cast<int>(std::ceil(size.width * scale)),
                            static_cast<int>(std::ceil(size.height * scale)), scale);
  if (window->isOpaque()) context.fillAll(os::Color::black());
  window->layer().renderInContext(context);
  return context.takeImage();
}

}  // namespace

VXOfflineViewController::VXOfflineViewController(std::shared_ptr<VXReaderContext> context)
    : VXLeftBaseTableViewController(os::TableViewStyle::Plain, std::move(context)) {
  setAddRefreshControl(false);
}

void VXOfflineViewController::viewDidLoad() {
  VXLeftBaseTableViewController::viewDidLoad();
  tableView()->setFrame(view()->bounds());
  initListData();
  createRightButton();
  tableView()->reloadData();
}

void VXOfflineViewController::initListData() {
  auto& rows = listData();
  rows.clear();
  auto context = readerContext();
  if (!context) return;
  for (const VXNewsCategory& category : VXNewsCategoryManager::share(*context)->categoryList()) {
    rows.emplace_back(os::Dictionary{{"name", os::Value(category.name())},
                                     {"ID", os::Value(category.ID())},
                                     {"selected", os::Value(1)}});
  }
}

void VXOfflineViewController::createRightButton() {
  downloadButton_ = os::makeView<os::Button>(os::Rect{0, 0, 30, 30});
  downloadButton_->setImage(os::imageNamed("offline_download"), os::kControlStateNormal);
  downloadButton_->setAccessibilityLabel("下载");
  std::weak_ptr<os::Responder> weak = weak_from_this();
  downloadButton_->addTarget(
      this,
      [weak](os::Control&) {
        if (auto self = std::dynamic_pointer_cast<VXOfflineViewController>(weak.lock())) self->buttonClick();
      },
      os::kControlEventTouchUpInside);
  navigationItem()->setRightBarButtonItems({os::BarButtonItem::withCustomView(downloadButton_)});
}

std::vector<long long> VXOfflineViewController::selectedIDs() const {
  std::vector<long long> ids;
  for (const Row& any : listData()) {
    const auto* row = std::any_cast<os::Dictionary>(&any);
    if (row && isChosen(*row) && (*row)["ID"].isNumber()) ids.push_back((*row)["ID"].intValue());
  }
  return ids;
}

void VXOfflineViewController::buttonClick() {
  auto context = readerContext();
  if (!context) return;
  if (DeviceExtensions::netStatus() != kReachableViaWiFi) {
    showHud(kNoNetworkText, view(), true);
    return;
  }
  auto helper = VXOfflineHelper::share(*context);
  // A run under way keeps its own list; the cover is up then anyway.
  if (helper->isRunning()) return;
  helper->setSelectedIDList(selectedIDs());
  if (helper->selectedIDList().empty()) {
    showHud(kNothingChosenText, view(), true);
    return;
  }
  if (helper->startOffline()) addMaskView();
}

void VXOfflineViewController::addMaskView() {
  auto mask = std::make_shared<VXOfflineMaskViewController>(windowPicture(), readerContext());
  presentViewController(mask, false);
}

long VXOfflineViewController::numberOfRowsInSection(os::TableView&, long) {
  return static_cast<long>(listData().size());
}

std::optional<double> VXOfflineViewController::heightForRowAtIndexPath(os::TableView&, const os::IndexPath&) {
  return kRowHeight;
}

std::shared_ptr<os::TableViewCell> VXOfflineViewController::cellForRowAtIndexPath(os::TableView& table,
                                                                                 const os::IndexPath& indexPath) {
  auto cell = std::dynamic_pointer_cast<VXOfflineCell>(table.dequeueReusableCellWithIdentifier(kOfflineCellIdentifier));
  if (!cell) cell = std::make_shared<VXOfflineCell>(kOfflineCellIdentifier);
  if (const os::Dictionary* row = rowAt(listData(), indexPath.row)) {
    cell->nameLabel()->setText((*row)["name"].stringOr());
    cell->selectedButton()->setSelected(isChosen(*row));
  }
  return cell;
}

void VXOfflineViewController::didSelectRowAtIndexPath(os::TableView& table, const os::IndexPath& indexPath) {
  VXLeftBaseTableViewController::didSelectRowAtIndexPath(table, indexPath);
  os::Dictionary* row = rowAt(listData(), indexPath.row);
  if (!row) return;
  row->set("selected", os::Value(isChosen(*row) ? 0 : 1));
  table.reloadData();
}
