#include "news/settings/VXSettingViewController.h"

#include <cstdio>
#include <mutex>

#include "news/api/NQProxy.h"
#include "news/api/OpenableURL.h"
#include "news/api/VXGlobalHelper.h"
#include "news/api/VXReaderContext.h"
#include "news/article/VXOfflineArticleStore.h"
#include "news/settings/VXFeedbackViewController.h"
#include "news/settings/VXSettingCell.h"
#include "news/settings/VXVersionCheck.h"
#include "news/store/VXGlobalDefine.h"
#include "news/store/VXNewsConfig.h"
#include "news/store/VXNewsDBManager.h"
#include "os/core/Log.h"
#include "os/core/String.h"
#include "os/core/URL.h"
#include "os/graphics/Font.h"
#include "os/net/URLRequest.h"
#include "os/runtime/DispatchQueue.h"
#include "os/runtime/NotificationCenter.h"
#include "os/runtime/Thread.h"
#include "os/store/FileManager.h"
#include "os/store/UserDefaults.h"
#include "os/views/Application.h"
#include "os/views/Device.h"
#include "os/views/NavigationController.h"
#include "push/ROVodozov.h"
#include "ui/images/BNImageCache.h"

namespace {

os::Color gray72() { return os::Color::rgba(72 / 255.0, 72 / 255.0, 72 / 255.0, 1); }

// The push setting as the switch row shows it: the stored text, or the stored number as text.
std::string storedPushMessage() {
  auto value = os::UserDefaults::standardUserDefaults()->objectForKey(VXSettingViewController::kPushMessage);
  if (!value) return "";
  if (const std::string* text = value->string()) return *text;
  return std::to_string(value->intValue());
}

std::string bundleVersion() { return VXVersionCheck::bundleVersion(); }

// Bytes of every file below the folder.
std::uint64_t folderBytes(const std::string& folder) {
  auto& fm = os::FileManager::defaultManager();
  std::uint64_t total = 0;
  for (const auto& relative : fm.enumerateDirectory(folder)) {
    auto attributes = fm.attributesOfItemAtPath(os::appendingPathComponent(folder, relative));
    if (attributes && !attributes->isDirectory) total += attributes->size;
  }
  return total;
}

}  // namespace

std::shared_ptr<VXNewsConfig> VXSettingViewController::textStyle() const {
  // A default style once the context is gone, as the cells do.
  auto context = readerContext();
  return context ? VXNewsConfig::share(*context) : std::make_shared<VXNewsConfig>();
}

VXSettingViewController::VXSettingViewController(std::shared_ptr<VXReaderContext> context)
    : VXLeftBaseTableViewController(os::TableViewStyle::Plain, std::move(context)) {
  setAddRefreshControl(false);
}

VXSettingViewController::~VXSettingViewController() = default;

std::weak_ptr<VXSettingViewController> VXSettingViewController::weakSelf() {
  auto self = weak_from_this().lock();
  if (!self) return {};
  return std::static_pointer_cast<VXSettingViewController>(self);
}

template <class Delegate>
std::weak_ptr<Delegate> VXSettingViewController::weakAs() {
  auto self = weakSelf().lock();
  if (!self) return {};
  return std::shared_ptr<Delegate>(self, static_cast<Delegate*>(this));
}

void VXSettingViewController::viewDidLoad() {
  VXLeftBaseTableViewController::viewDidLoad();
  initListData();
  initViews();

  measureInBackground();
}

void VXSettingViewController::measureInBackground() {
  // The measurement reads only files and the image cache's own queue; the size is applied on
  // the main queue, and only if no clearing came in between.
  auto weak = weakSelf();
  const unsigned generation = sizeGeneration_;
  CacheLocations where = cacheLocations();
  sizeThread_ = os::Thread::create("settings.cacheSize", [weak, generation, where] {
    double size = measure(where);
    os::DispatchQueue::main()->async([weak, generation, size] {
      auto self = weak.lock();
      if (!self || self->sizeGeneration_ != generation) return;
      self->cacheSize_ = size;
      self->tableView()->reloadData();
    });
  });
  sizeThread_->start();
}

void VXSettingViewController::initListData() {
  auto& rows = listData();
  rows.clear();
  auto add = [&rows](int type, const char* name, std::string note) {
    rows.emplace_back(VXSettingDO(os::Dictionary{{"type", type}, {"name", name}, {"note", std::move(note)}}));
  };
  add(VXSettingDO::kNote, "字体大小", textStyle()->textWihtFontSize());
  add(VXSettingDO::kNote, "清理缓存", sizeOfCache());
  add(VXSettingDO::kNote, "版本升级", bundleVersion());
  add(VXSettingDO::kSwitch, "消息推送", storedPushMessage());
  add(VXSettingDO::kPlain, "意见反馈", "");
}

void VXSettingViewController::initViews() {
  auto root = view();
  const os::Size size = root->bounds().size;
  const bool ios7 = os::Device::current().systemVersionNumber() >= 7;
  const double first = size.height - (ios7 ? 105 : 85);
  const char* lines[] = {"Corvessa 新闻阅读", "版本 " };
  footerLabels_.clear();
  for (int i = 0; i < 2; ++i) {
    auto label = std::make_shared<os::Label>(os::Rect{0, first + 20 * i, size.width, 15});
    label->setBackgroundColor(os::Color::clear());
    label->setTextColor(gray72());
    label->setFont(os::Font::systemFont(13));
    label->setTextAlignment(os::TextAlignment::Center);
    label->setNumberOfLines(1);
    label->setText(i == 0 ? lines[0] : std::string(lines[1]) + bundleVersion());
    tableView()->addSubview(label);
    footerLabels_.push_back(label);
  }
}

// ---- cache size ----

VXSettingViewController::CacheLocations VXSettingViewController::cacheLocations() const {
  CacheLocations where;
  const std::string caches = VXGlobalHelper::cachesDirectory();
  where.offline = caches + "offline/";
  where.database = caches + "news.db";
  auto context = readerContext();
  where.images = context ? context->images() : nullptr;
  return where;
}

double VXSettingViewController::measure(const CacheLocations& where) {
  auto& fm = os::FileManager::defaultManager();
  double total = 0;
  // The offline articles are files inside the folder: the folder's own entry says nothing of them.
  total += static_cast<double>(folderBytes(where.offline));
  if (auto db = fm.attributesOfItemAtPath(where.database)) total += static_cast<double>(db->size);
  if (where.images) total += static_cast<double>(where.images->getSize());
  total -= kBaseCacheBytes;
  return total < 0 ? 0 : total;
}

double VXSettingViewController::calcCacheSize() const { return measure(cacheLocations()); }

std::string VXSettingViewController::transformedValue(double bytes) {
  if (bytes == 0) return "0";
  static const char* const units[] = {"B", "KB", "MB", "GB", "TB"};
  int unit = 0;
  while (bytes > 1024 && unit < 4) {
    bytes /= 1024;
    ++unit;
  }
  char text[64];
  std::snprintf(text, sizeof text, "%4.1f %s", bytes, units[unit]);
  return text;
}

std::string VXSettingViewController::sizeOfCache() const {
  return cacheSize_ == -1 ? std::string("加载中") : transformedValue(cacheSize_);
}

// ---- table ----

const VXSettingDO* VXSettingViewController::row(long index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= listData().size()) return nullptr;
  return std::any_cast<VXSettingDO>(&listData()[static_cast<std::size_t>(index)]);
}

void VXSettingViewController::refreshNote(long index) {
  if (index < 0 || static_cast<std::size_t>(index) >= listData().size()) return;
  auto* data = std::any_cast<VXSettingDO>(&listData()[static_cast<std::size_t>(index)]);
  if (!data) return;
  switch (index) {
    case kRowFont: data->setNote(textStyle()->textWihtFontSize()); break;
    case kRowCache: data->setNote(sizeOfCache()); break;
    case kRowUpdate: data->setNote(bundleVersion()); break;
    case kRowPush: data->setNote(storedPushMessage()); break;
    default: break;
  }
}

long VXSettingViewController::numberOfRowsInSection(os::TableView&, long) {
  return static_cast<long>(listData().size());
}

std::optional<double> VXSettingViewController::heightForRowAtIndexPath(os::TableView&, const os::IndexPath&) {
  return kRowHeight;
}

std::shared_ptr<os::TableViewCell> VXSettingViewController::cellForRowAtIndexPath(os::TableView& table,
                                                                                 const os::IndexPath& indexPath) {
  auto cell = std::dynamic_pointer_cast<VXSettingCell>(table.dequeueReusableCellWithIdentifier(kCellIdentifier));
  if (!cell) cell = std::make_shared<VXSettingCell>(kCellIdentifier);
  refreshNote(indexPath.row);
  if (const VXSettingDO* data = row(indexPath.row)) cell->setContent(*data);
  // A reused cell keeps no action of the row it showed before.
  cell->swichButton()->removeTarget(this, os::kControlEventValueChanged);
  if (indexPath.row == kRowPush) {
    auto weak = weakSelf();
    cell->swichButton()->addTarget(
        this,
        [weak](os::Control&) {
          if (auto self = weak.lock()) self->clickPushMsg();
        },
        os::kControlEventValueChanged);
  }
  return cell;
}

void VXSettingViewController::didSelectRowAtIndexPath(os::TableView& table, const os::IndexPath& indexPath) {
  NQBaseTableViewController::didSelectRowAtIndexPath(table, indexPath);
  switch (indexPath.row) {
    case kRowFont: clickFontCell(); break;
    case kRowCache: clickCacheCell(); break;
    case kRowUpdate: clcikUpdateCell(); break;
    case kRowFeedback: clickFeedback(); break;
    default: break;
  }
}

// ---- actions ----

void VXSettingViewController::clickFontCell() {
  auto sheet = std::make_shared<os::ActionSheet>("设置字体大小", weakAs<os::ActionSheetDelegate>(), "取消", std::nullopt,
                                                 std::vector<std::string>{"小", "中", "大"});
  sheet->setActionSheetStyle(os::ActionSheetStyle::Default);
  sheet->showInView(*view());
}

void VXSettingViewController::clickedButtonAtIndex(os::ActionSheet& sheet, long buttonIndex) {
  if (buttonIndex != sheet.cancelButtonIndex()) {
    const long step = buttonIndex - sheet.firstOtherButtonIndex();
    if (step >= 0 && step < 3) textStyle()->setFontSize(static_cast<int>(step) + 1);
  }
  tableView()->reloadData();
}

void VXSettingViewController::clickCacheCell() {
  auto& fm = os::FileManager::defaultManager();
  const CacheLocations where = cacheLocations();
  auto context = readerContext();
  // A folder that cannot be removed is left as it is: the rest still gets cleared. Articles still
  // being saved do not come back after it.
  if (context)
    VXOfflineArticleStore::removeAll(*context);
  else
    fm.removeItemAtPath(where.offline);
  // The stored lists and the read history stay when the database refuses to let them go (a full
  // disk): the reader is told, and sees what the caches still take rather than nothing.
  const bool databaseCleared = !context || VXNewsDBManager::share(*context)->clearCachesTable();
  if (where.images) {
    where.images->clearMemory();
    where.images->clearDisk();
  }
  ++sizeGeneration_;
  cacheSize_ = databaseCleared ? 0 : -1;
  tableView()->reloadData();
  os::NotificationCenter::defaultCenter().post(kClearCachesNotification);
  if (!databaseCleared) {
    measureInBackground();
    showHud(kNotClearedText, view(), true);
    return;
  }
  showHud("清理结束", view(), true);
}

void VXSettingViewController::clcikUpdateCell() {
  showHud("更新中", view(), false);
  auto weak = weakSelf();
  NQProxy::loadCommonRequest(
      os::URLRequest(VXVersionCheck::address("/common")),
      [weak](const std::string& text, os::StringEncoding) {
        if (auto self = weak.lock()) self->versionAnswered(text);
      },
      [weak](const os::Error&) {
        if (auto self = weak.lock()) self->showHud("网络异常", self->view(), true);
      });
}

void VXSettingViewController::versionAnswered(const std::string& text) {
  auto answer = VXVersionCheck::read(text);
  switch (answer.outcome) {
    case VXVersionCheck::Outcome::NewVersion: {
      appstoreUrl_ = answer.url;
      auto alert = std::make_shared<os::AlertView>("", "检测到Corvessa有新的版本\n是否立即更新",
                                                   weakAs<os::AlertViewDelegate>(), "以后再说",
                                                   std::vector<std::string>{"升级"});
      alert->setTag(kUpdateAlertTag);
      alert->show();
      hideHud(true);
      break;
    }
    case VXVersionCheck::Outcome::UpToDate:
      showHud("已经是最新版本", view(), true);
      break;
    case VXVersionCheck::Outcome::Unreadable:
      // An answer that says nothing is no proof of being up to date.
      showHud("网络异常", view(), true);
      break;
  }
}

void VXSettingViewController::clickedButtonAtIndex(os::AlertView& alert, long buttonIndex) {
  if (alert.tag() != kUpdateAlertTag || buttonIndex != 1 || !appstoreUrl_) return;
  // The link comes from the server: only a web or store address is handed to the system.
  if (!isOpenableURL(*appstoreUrl_)) {
    os::log("update link refused: " + *appstoreUrl_);
    return;
  }
  auto app = os::Application::shared();
  auto url = os::URL::parse(*appstoreUrl_);
  if (app && url) app->openURL(*url);
}

void VXSettingViewController::clickPushMsg() {
  auto defaults = os::UserDefaults::standardUserDefaults();
  auto context = readerContext();
  if (context && VXGlobalDefine::share(*context)->pass()) {
    if (os::intValue(storedPushMessage()) != 1) {
      if (auto app = os::Application::shared()) app->unregisterForRemoteNotifications();
      defaults->setObject(os::Value("1"), kPushMessage);
    } else {
      ROVodozov::registerForRemoteNotificationTypes(
          os::kRemoteNotificationTypeBadge | os::kRemoteNotificationTypeSound | os::kRemoteNotificationTypeAlert,
          os::Value());
      defaults->setObject(os::Value("0"), kPushMessage);
    }
    defaults->synchronize();
  }
  // The switch shows what is stored: refused, it goes back to where it was.
  tableView()->reloadData();
}

void VXSettingViewController::clickFeedback() {
  if (auto* nav = navigationController()) nav->pushViewController(std::make_shared<VXFeedbackViewController>(readerContext()), true);
}
