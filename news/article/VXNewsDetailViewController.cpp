#include "news/article/VXNewsDetailViewController.h"

#include <chrono>
#include <mutex>

#include "news/ads/VXAdHelper.h"
#include "news/api/VXFavoriteRequest.h"
#include "news/api/VXGlobalHelper.h"
#include "news/api/VXNewsDetailRequest.h"
#include "news/api/VXNewsInfoRequest.h"
#include "news/api/VXPraseXMLErrorRequest.h"
#include "news/api/VXReaderContext.h"
#include "news/article/VXDetailXMLParseHelper.h"
#include "news/article/VXNewsDetailAdCell.h"
#include "news/article/VXNewsDetailAdDO.h"
#include "news/article/VXNewsDetailEvalCell.h"
#include "news/article/VXNewsDetailEvalDO.h"
#include "news/article/VXNewsDetailHeaderCell.h"
#include "news/article/VXNewsDetailHeaderDO.h"
#include "news/article/VXNewsDetailImageCell.h"
#include "news/article/VXNewsDetailImageDO.h"
#include "news/article/VXNewsDetailTextCell.h"
#include "news/article/VXNewsDetailTextDO.h"
#include "news/article/VXOfflineArticleStore.h"
#include "news/article/VXShareHelper.h"
#include "news/store/VXGlobalDefine.h"
#include "news/store/VXNewsConfig.h"
#include "news/store/VXNewsDBManager.h"
#include "os/core/Log.h"
#include "os/core/String.h"
#include "os/core/URL.h"
#include "os/runtime/DispatchQueue.h"
#include "os/runtime/NotificationCenter.h"
#include "os/store/Pasteboard.h"
#include "os/views/Button.h"
#include "os/views/Device.h"
#include "os/views/ImageView.h"
#include "os/views/Label.h"
#include "os/views/NamedImage.h"
#include "os/views/Switch.h"
#include "ui/images/BNWebImageManager.h"

namespace {

VXNewsDetailViewController::Services withDefaults(VXNewsDetailViewController::Services services) {
  if (!services.adClick)
    services.adClick = [](long long adid, long long urlType, const std::string& url, VXNewsDetailViewController& screen) {
      if (auto context = screen.readerContext()) VXAdHelper::share(*context).request(adid, urlType, url, screen);
    };
  return services;
}



// Navigation bar height the screen's layout leaves room for.
double barHeight() { return os::Device::current().systemVersionNumber() >= 7 ? 64 : 44; }

bool hasText(const os::Value& value) {
  const std::string* text = value.string();
  return text && !text->empty();
}

constexpr const char* kTextCell = "NEWSDETAIL_TEXTCELL";
constexpr const char* kImageCell = "NEWSDETAIL_IMAGECELL";
constexpr const char* kHeaderCell = "NEWSDETAIL_HEADERCELL";
constexpr const char* kAdCell = "NEWSDETAIL_ADCELL";
constexpr const char* kEvalCell = "NEWSDETAIL_EVALCELL";

}  // namespace

void VXNewsDetailViewController::setServices(Services services) {
  setServices(*VXReaderContext::current(), std::move(services));
}

void VXNewsDetailViewController::setServices(VXReaderContext& context, Services services) {
  context.articleServices.set(std::make_shared<Services>(withDefaults(std::move(services))));
}

VXNewsDetailViewController::Services VXNewsDetailViewController::services() {
  return services(*VXReaderContext::current());
}

VXNewsDetailViewController::Services VXNewsDetailViewController::services(VXReaderContext& context) {
  return *context.articleServices.get([] { return std::make_shared<Services>(withDefaults({})); });
}

std::shared_ptr<VXNewsDetailViewController> VXNewsDetailViewController::initWitInfo(
    const os::Dictionary& info, std::shared_ptr<VXReaderContext> context) {
  auto controller = std::make_shared<VXNewsDetailViewController>(std::move(context));
  controller->infoDict_ = info;
  return controller;
}

VXNewsDetailViewController::VXNewsDetailViewController(std::shared_ptr<VXReaderContext> context)
    : NQBaseTableViewController(os::TableViewStyle::Plain, std::move(context)) {
  setSeparatorStyle(0);
  setAddRefreshControl(false);
}

VXNewsDetailViewController::~VXNewsDetailViewController() = default;

std::shared_ptr<VXNewsDetailViewController> VXNewsDetailViewController::self() {
  return std::static_pointer_cast<VXNewsDetailViewController>(
      std::static_pointer_cast<os::ViewController>(shared_from_this()));
}

std::vector<VXNewsDetailDOPtr> VXNewsDetailViewController::rows() const {
  std::vector<VXNewsDetailDOPtr> out;
  out.reserve(listData().size());
  for (const Row& row : listData()) {
    if (const auto* detail = std::any_cast<VXNewsDetailDOPtr>(&row); detail && *detail) out.push_back(*detail);
  }
  return out;
}

VXNewsDetailDOPtr VXNewsDetailViewController::rowAt(long index) const {
  if (index < 0 || index >= static_cast<long>(listData().size())) return nullptr;
  const auto* detail = std::any_cast<VXNewsDetailDOPtr>(&listData()[static_cast<std::size_t>(index)]);
  return detail ? *detail : nullptr;
}

void VXNewsDetailViewController::addRow(VXNewsDetailDOPtr row) {
  row->setReaderContext(readerContext());
  listData().emplace_back(std::move(row));
}

os::Value VXNewsDetailViewController::infoValue(std::string_view key) const {
  const os::Value* value = infoDict_.find(key);
  return value ? *value : os::Value();
}

bool VXNewsDetailViewController::isOpenableURL(const std::string& url) { return VXAdHelper::isOpenableURL(url); }

// ---- opening ----

void VXNewsDetailViewController::viewDidLoad() {
  NQBaseTableViewController::viewDidLoad();
  const auto& table = tableView();
  os::Rect frame = table->frame();
  frame.size.height -= VXNewsDetailToolbar::kHeight;
  table->setFrame(frame);
  addToolBar();

  if (openFromOfflineFile()) return;
  loadNewer();
}

bool VXNewsDetailViewController::openFromOfflineFile() {
  auto stored = VXOfflineArticleStore::read(infoValue("category"), infoValue("id"));
  if (!stored) return false;
  if (const os::Value* title = stored->find("title"); title && title->isString()) infoDict_.set("title", *title);
  if (const os::Value* link = stored->find("sourceurl"); link && link->isString()) infoDict_.set("sourceurl", *link);
  addTitle((*stored)["title"], (*stored)["source"], (*stored)["time"]);
  if (parseXML((*stored)["body"], false)) return true;
  // An unreadable body falls back to the server, without a report: the file is ours, not its.
  listData().clear();
  return false;
}

std::unique_ptr<NQBaseRequest> VXNewsDetailViewController::request() {
  return std::make_unique<VXNewsDetailRequest>(infoValue("id").intValue());
}

void VXNewsDetailViewController::loadFirstPage() {
  auto r = request();
  if (!r) {
    // Nothing to ask for: back to normal, or the loading view would stay for good.
    os::log("req is nil in " + className());
    changeTableViewState(kStateNormal);
    return;
  }
  auto context = readerContext();
  if (!context) return;
  std::weak_ptr<VXNewsDetailViewController> weak = self();
  VXGlobalHelper::loadWithRequest(
      *context, *r, 0,
      [weak](const std::optional<os::Dictionary>& data) {
        auto me = weak.lock();
        if (!me) return;
        if (!me->parseResponseNoAddData(data)) {
          me->logLoadFailure();
          // A "result" other than 1 is the server's word that it has no such article to give.
          me->notFound_ = data && (*data)["result"].isNumber();
          me->changeTableViewState(kStateError);
        } else {
          me->changeTableViewState(kStateNormal);
        }
      },
      [weak] {
        auto me = weak.lock();
        if (!me) return;
        me->logLoadFailure();
        me->notFound_ = false;
        // The read is uploaded later, when the network is back.
        if (auto context = me->readerContext())
          VXNewsDBManager::share(*context)->offlineHistory(me->infoValue("id").intValue());
        me->changeTableViewState(kStateError);
      });
}

bool VXNewsDetailViewController::parseResponseNoAddData(const std::optional<os::Dictionary>& data) {
  if (!data || (*data)["result"].intValue() != 1 || !(*data)["result"].isNumber()) return false;
  os::Value title = (*data)["title"].isString() ? (*data)["title"] : os::Value("");
  infoDict_.set("title", title);
  if ((*data)["sourceurl"].isString()) infoDict_.set("sourceurl", (*data)["sourceurl"]);
  addTitle(title, (*data)["source"], (*data)["time"]);
  auto context = readerContext();
  if (parseXML((*data)["body"], true) && context) {
    VXOfflineArticleStore::saveInBackground(*context, *data, infoValue("category"), infoValue("id"));
  }
  return true;
}

int VXNewsDetailViewController::pendingOfflineSaves() { return VXOfflineArticleStore::pendingBackgroundSaves(); }

bool VXNewsDetailViewController::waitForOfflineSaves(double seconds) { return VXOfflineArticleStore::waitForBackgroundSaves(seconds); }

void VXNewsDetailViewController::addTitle(const os::Value& title, const os::Value& source, const os::Value& time) {
  if (!hasText(title)) return;
  os::Dictionary dict{{"content", title},
                      {"source", source.isString() ? source : os::Value("")},
                      {"time", time.isString() || time.isNumber() ? time : os::Value("")}};
  addRow(std::make_shared<VXNewsDetailHeaderDO>(dict));
}

bool VXNewsDetailViewController::parseXML(const os::Value& body, bool feedback) {
  os::Array rows;
  std::optional<std::string> body_text;
  if (const std::string* text = body.string()) body_text = *text;
  auto context = readerContext();
  if (!context) return false;
  auto error = VXDetailXMLParseHelper::share(*context)->parseXML(body_text, rows);
  if (error) {
    if (feedback) feedbackParseError(*error);
    return false;
  }
  for (const auto& row : rows) {
    const os::Dictionary* dict = row.dictionary();
    if (!dict) continue;
    long long type = (*dict)["type"].intValue();
    if (type == kNewsDetailText) addRow(std::make_shared<VXNewsDetailTextDO>(*dict));
    if (type == kNewsDetailImage) addRow(std::make_shared<VXNewsDetailImageDO>(*dict));
  }
  addOtherInfo();
  tableView()->reloadData();
  return true;
}

void VXNewsDetailViewController::feedbackParseError(const std::string& error) {
  auto context = readerContext();
  if (!context) return;
  VXPraseXMLErrorRequest request(infoValue("id"), error);
  VXGlobalHelper::loadWithRequest(*context, request, [](const std::optional<os::Dictionary>&) {});
}

void VXNewsDetailViewController::addOtherInfo() {
  addAd();
  auto context = readerContext();
  if (!context) return;
  VXNewsInfoRequest request(infoValue("id").intValue());
  std::weak_ptr<VXNewsDetailViewController> weak = self();
  VXGlobalHelper::loadWithRequest(*context, request, [weak](const std::optional<os::Dictionary>& data) {
    auto me = weak.lock();
    if (!me || !data || (*data)["result"].intValue() == 2) return;
    os::Dictionary dict{{"flag", (*data)["diggbury"]},
                        {"diggcount", (*data)["diggcount"]},
                        {"burycount", (*data)["burycount"]},
                        {"id", me->infoValue("id")},
                        {"category", me->infoValue("category")}};
    me->addRow(std::make_shared<VXNewsDetailEvalDO>(dict));
    me->tableView()->reloadData();
    if ((*data)["favorite"].isNumber() && (*data)["favorite"].intValue() == 1 && me->toolBar_) {
      me->toolBar_->favoriteButton()->setSelected(true);
    }
  });
  // Warms the image cache, where the share action looks for its picture.
  if (hasText(infoValue("icon"))) {
    BNWebImageManager::sharedManager()->downloadWithURL(os::URL::parse(*infoValue("icon").string()), 0, nullptr,
                                                        [](auto&&...) {});
  }
}

void VXNewsDetailViewController::addAd() {
  auto context = readerContext();
  if (!context) return;
  auto pick = services(*context).randAd;
  auto ad = pick ? pick() : VXGlobalDefine::share(*context)->randAd();
  if (!ad) return;
  os::Dictionary dict{{"adid", ad->adid()},        {"urltype", ad->type()},   {"adurl", ad->content()},
                      {"content", ad->name()},     {"note", ad->summary()},   {"iconurl", ad->icon()}};
  addRow(std::make_shared<VXNewsDetailAdDO>(dict));
}

// ---- state ----

void VXNewsDetailViewController::changeTableViewState(int state) {
  if (state == tableViewState()) return;
  setTableViewState(state);
  std::weak_ptr<VXNewsDetailViewController> weak = self();
  os::DispatchQueue::main()->async([weak] {
    auto me = weak.lock();
    if (!me) return;
    auto& table = *me->tableView();
    switch (me->tableViewState()) {
      case kStateLoading:
        table.setBackgroundView(me->getLoadingView());
        table.setSeparatorStyle(os::TableViewCellSeparatorStyle::None);
        table.setScrollEnabled(false);
        break;
      case kStateError:
        table.setBackgroundView(me->getErrorView());
        me->showErrorText();
        if (me->retrying_) me->showHud(me->notFound_ ? kRetryNotFoundText : kRetryFailedText, me->view(), true);
        me->retrying_ = false;
        table.setSeparatorStyle(os::TableViewCellSeparatorStyle::None);
        table.setScrollEnabled(true);
        break;
      case kStateNormal:
        me->retrying_ = false;
        table.setBackgroundView(nullptr);
        table.setSeparatorStyle(static_cast<os::TableViewCellSeparatorStyle>(me->separatorStyle()));
        table.setScrollEnabled(true);
        break;
      default:
        return;
    }
    table.reloadData();
  });
}

std::shared_ptr<os::View> VXNewsDetailViewController::getLoadingView() {
  if (loadingView()) return loadingView();
  auto view = std::make_shared<os::View>(tableView()->frame());
  view->setBackgroundColor(os::Color::withWhite(0.97));
  os::Size size = view->bounds().size;
  auto logo = std::make_shared<os::ImageView>(os::imageNamed("logo_placeholder"));
  logo->sizeToFit();
  logo->setCenter(os::Point{size.width / 2, size.height / 2 - 50});
  view->addSubview(logo);
  auto spinner = std::make_shared<os::ActivityIndicatorView>(os::ActivityIndicatorViewStyle::Gray);
  spinner->sizeToFit();
  spinner->setCenter(os::Point{size.width / 2, size.height / 2});
  spinner->startAnimating();
  view->addSubview(spinner);
  setLoadingView(view);
  return view;
}

std::shared_ptr<os::View> VXNewsDetailViewController::getErrorView() {
  if (errorView()) return errorView();
  auto view = std::make_shared<os::View>(tableView()->frame());
  view->setBackgroundColor(os::Color::white());
  os::Size size = view->bounds().size;
  auto logo = std::make_shared<os::ImageView>(os::imageNamed("logo_placeholder"));
  logo->sizeToFit();
  logo->setCenter(os::Point{size.width / 2, size.height / 2 - 50});
  view->addSubview(logo);
  auto label = std::make_shared<os::Label>();
  label->setFont(os::Font::boldSystemFont(15));
  label->setTextColor(os::Color::withWhite(200.0 / 255));
  label->setBackgroundColor(os::Color::clear());
  label->setFrame(os::Rect{0, logo->frame().origin.y + logo->frame().size.height + 12, 0, 0});
  view->addSubview(label);
  errorLabel_ = label;
  auto retry = os::Button::buttonWithType(os::ButtonType::Custom);
  retry->setFrame(view->bounds());
  retry->setBackgroundColor(os::Color::clear());
  std::weak_ptr<VXNewsDetailViewController> weak = self();
  retry->addTarget(
      this,
      [weak](os::Control&) {
        auto me = weak.lock();
        if (!me || me->tableViewState() == kStateLoading) return;
        me->retrying_ = true;
        me->loadNewer();
      },
      os::kControlEventTouchUpInside);
  view->addSubview(retry);
  setErrorView(view);
  showErrorText();
  return view;
}

void VXNewsDetailViewController::showErrorText() {
  if (!errorLabel_ || !errorView()) return;
  errorLabel_->setText(notFound_ ? kNotFoundText : kErrorText);
  errorLabel_->sizeToFit();
  os::Rect frame = errorLabel_->frame();
  frame.origin.x = (errorView()->bounds().size.width - frame.size.width) / 2;
  errorLabel_->setFrame(frame);
}

// ---- table ----

std::optional<double> VXNewsDetailViewController::heightForRowAtIndexPath(os::TableView&, const os::IndexPath& indexPath) {
  auto row = rowAt(indexPath.row);
  return row ? row->calHeightByType() : 0.0;
}

std::shared_ptr<os::TableViewCell> VXNewsDetailViewController::cellForRowAtIndexPath(os::TableView& table,
                                                                                      const os::IndexPath& indexPath) {
  auto row = rowAt(indexPath.row);
  if (!row) return nullptr;
  const char* identifier = nullptr;
  switch (row->type()) {
    case kNewsDetailText: identifier = kTextCell; break;
    case kNewsDetailImage: identifier = kImageCell; break;
    case kNewsDetailHeader: identifier = kHeaderCell; break;
    case kNewsDetailAd: identifier = kAdCell; break;
    case kNewsDetailEval: identifier = kEvalCell; break;
    default: return nullptr;
  }
  auto cell = std::dynamic_pointer_cast<VXNewsDetailBaseCell>(table.dequeueReusableCellWithIdentifier(identifier));
  if (!cell) {
    auto context = readerContext();
    switch (row->type()) {
      case kNewsDetailText: cell = std::make_shared<VXNewsDetailTextCell>(identifier, context); break;
      case kNewsDetailImage: cell = std::make_shared<VXNewsDetailImageCell>(identifier, context); break;
      case kNewsDetailHeader: cell = std::make_shared<VXNewsDetailHeaderCell>(identifier, context); break;
      case kNewsDetailAd: cell = std::make_shared<VXNewsDetailAdCell>(identifier, context); break;
      default: cell = std::make_shared<VXNewsDetailEvalCell>(identifier, context); break;
    }
  }
  cell->setContent(row);
  return cell;
}

void VXNewsDetailViewController::didSelectRowAtIndexPath(os::TableView& table, const os::IndexPath& indexPath) {
  NQBaseTableViewController::didSelectRowAtIndexPath(table, indexPath);
  auto row = rowAt(indexPath.row);
  if (!row) return;
  if (row->type() == kNewsDetailAd) clickAdCell(row);
  if (row->type() == kNewsDetailImage) clickImageCell(row);
}

void VXNewsDetailViewController::clickAdCell(const VXNewsDetailDOPtr& row) {
  auto ad = std::dynamic_pointer_cast<VXNewsDetailAdDO>(row);
  if (!ad) {
    VXGlobalHelper::writeLog("detail ad do is nil");
    return;
  }
  // The address comes from the promotion server: only web and store addresses go on.
  if (!isOpenableURL(ad->adUrl())) {
    VXGlobalHelper::writeLog("ad url refused: " + ad->adUrl());
    return;
  }
  auto context = readerContext();
  if (!context) return;
  if (auto click = services(*context).adClick) click(ad->adid(), ad->urlType(), ad->adUrl(), *this);
}

void VXNewsDetailViewController::clickImageCell(const VXNewsDetailDOPtr& row) {
  std::vector<VXNewsDetailDOPtr> images;
  long index = -1;
  for (const auto& candidate : rows()) {
    if (candidate->type() != kNewsDetailImage) continue;
    if (candidate == row) index = static_cast<long>(images.size());
    images.push_back(candidate);
  }
  auto table = tableView();
  auto context = readerContext();
  if (!table || !context) return;
  if (auto show = services(*context).showImages) {
    show(index, images, *table, *this);
    return;
  }
  if (auto show = context->showImages.get()) show(index, images, *table, *this);
}

// ---- toolbar ----

void VXNewsDetailViewController::addToolBar() {
  auto root = view();
  double height = root->bounds().size.height;
  toolBar_ = std::make_shared<VXNewsDetailToolbar>(
      os::Rect{0, height - barHeight() - VXNewsDetailToolbar::kHeight, root->bounds().size.width, VXNewsDetailToolbar::kHeight});
  std::weak_ptr<VXNewsDetailViewController> weak = self();
  auto attach = [this, weak](const std::shared_ptr<os::Button>& button, void (VXNewsDetailViewController::*action)()) {
    button->addTarget(
        this,
        [weak, action](os::Control&) {
          if (auto me = weak.lock()) ((*me).*action)();
        },
        os::kControlEventTouchUpInside);
  };
  attach(toolBar_->favoriteButton(), &VXNewsDetailViewController::favoriteButtonClick);
  attach(toolBar_->shareButton(), &VXNewsDetailViewController::shareButtonClick);
  attach(toolBar_->fontButton(), &VXNewsDetailViewController::fontButtonClick);
  attach(toolBar_->moreButton(), &VXNewsDetailViewController::moreButtonClick);
  root->addSubview(toolBar_);
}

void VXNewsDetailViewController::favoriteButtonClick() {
  // The action follows the button as it is now: two quick taps send the same action twice.
  int action = toolBar_->favoriteButton()->isSelected() ? 2 : 1;
  auto context = readerContext();
  if (!context) return;
  showHud("收藏中...", view(), false);
  VXFavoriteRequest request(os::Dictionary{{"id", infoValue("id")}, {"category", infoValue("category")}, {"action", action}});
  std::weak_ptr<VXNewsDetailViewController> weak = self();
  VXGlobalHelper::loadWithRequest(
      *context, request, 0,
      [weak, action](const std::optional<os::Dictionary>& data) {
        auto me = weak.lock();
        if (!data || (*data)["result"].intValue() != 1) {
          // The waiting text never hides by itself: any answer but success ends it as a failure.
          if (me) me->showHud("网络异常", me->view(), true);
          return;
        }
        os::NotificationCenter::defaultCenter().post(kFavoritesChangedNotification);
        if (!me) return;
        me->showHud(action == 1 ? "收藏成功" : "取消收藏成功", me->view(), true);
        me->toolBar_->favoriteButton()->setSelected(action == 1);
      },
      [weak] {
        if (auto me = weak.lock()) me->showHud("网络异常", me->view(), true);
      });
}

void VXNewsDetailViewController::shareButtonClick() {
  if (auto context = readerContext())
    VXShareHelper::share(*context)->socialShare(infoValue("sourceurl"), infoValue("title"), infoValue("icon"), self());
}

void VXNewsDetailViewController::fontButtonClick() {
  sheet_ = std::make_shared<os::ActionSheet>(
      "设置字体大小", std::shared_ptr<os::ActionSheetDelegate>(self(), static_cast<os::ActionSheetDelegate*>(this)),
      "取消", std::nullopt, std::vector<std::string>{"小", "中", "大"});
  sheet_->setActionSheetStyle(os::ActionSheetStyle::Default);
  sheet_->setTag(kFontSheetTag);
  sheet_->showInView(*view());
}

void VXNewsDetailViewController::moreButtonClick() {
  sheet_ = std::make_shared<os::ActionSheet>(
      "更多", std::shared_ptr<os::ActionSheetDelegate>(self(), static_cast<os::ActionSheetDelegate*>(this)), "取消",
      std::nullopt, std::vector<std::string>{"复制原始网址地址"});
  sheet_->setTag(kMoreSheetTag);
  sheet_->showInView(*view());
}

void VXNewsDetailViewController::clickedButtonAtIndex(os::ActionSheet& sheet, long buttonIndex) {
  if (buttonIndex == sheet.cancelButtonIndex()) return;
  if (sheet.tag() == kFontSheetTag) {
    if (buttonIndex < 0 || buttonIndex > 2) return;
    auto context = readerContext();
    if (!context) return;
    VXNewsConfig::share(*context)->setFontSize(static_cast<int>(buttonIndex) + 1);
    auto table = tableView();
    table->reloadData();
    // Smaller type shortens the article: a reader at its end stays at the new end, not past it.
    const os::Point offset = table->contentOffset(), last = table->maximumContentOffset();
    if (offset.y > last.y) table->setContentOffset(os::Point{offset.x, last.y}, false);
  } else if (sheet.tag() == kMoreSheetTag && buttonIndex == 0) {
    os::Value link = infoValue("sourceurl");
    if (hasText(link)) {
      os::Pasteboard::generalPasteboard()->setString(*link.string());
      showHud("复制成功", view(), true);
    } else {
      showHud("数据异常，检查网络", view(), true);
    }
  }
}

void VXNewsDetailViewController::willPresentActionSheet(os::ActionSheet& sheet) {
  auto context = readerContext();
  if (!context) return;
  int step = VXNewsConfig::share(*context)->fontSize();
  for (const auto& subview : sheet.subviews()) {
    auto button = std::dynamic_pointer_cast<os::Button>(subview);
    if (button && button->tag() == step) button->setTitleColor(os::Color::red(), os::kControlStateNormal);
  }
}
