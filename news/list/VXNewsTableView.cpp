#include "news/list/VXNewsTableView.h"

#include <cmath>
#include <mutex>

#include "news/api/VXGlobalHelper.h"
#include "news/api/VXNewsListRequest.h"
#include "news/api/VXReaderContext.h"
#include "news/list/NQBaseTableViewController.h"
#include "news/list/VXNewsListCells.h"
#include "news/list/VXNewsTitleStyleCell.h"
#include "news/store/VXGlobalDefine.h"
#include "news/store/VXNewsConfig.h"
#include "news/store/VXNewsDBManager.h"
#include "os/core/Date.h"
#include "os/graphics/Image.h"
#include "os/views/ImageView.h"
#include "os/views/NamedImage.h"
#include "os/views/Screen.h"
#include "os/views/ViewController.h"

// The news list counts its states in the shared list load.
static_assert(VXNewsRequestIdle == NQListLoad::kIdle && VXNewsRequestLoading == NQListLoad::kLoading &&
              VXNewsRequestFailed == NQListLoad::kFailed);

namespace {

double nowSinceReferenceDate() { return os::Date::now().timeIntervalSinceReferenceDate(); }

}  // namespace

void VXNewsTableView::setRefreshIntervalSource(RefreshIntervalSource source) {
  VXReaderContext::current()->refreshInterval.set(std::move(source));
}

double VXNewsTableView::refreshInterval() { return refreshInterval(*VXReaderContext::current()); }

double VXNewsTableView::refreshInterval(VXReaderContext& context) {
  auto source = context.refreshInterval.get();
  return source ? source() : VXGlobalDefine::share(context)->nctime();
}

void VXNewsTableView::setItemOpener(ItemOpener opener) { VXReaderContext::current()->openItem.set(std::move(opener)); }

std::shared_ptr<VXNewsTableView> VXNewsTableView::create(const os::Rect& frame, long long newsID,
                                                         std::shared_ptr<VXReaderContext> context) {
  auto view = std::make_shared<VXNewsTableView>(frame, newsID);
  view->context_ = context;
  view->viewInit();
  std::weak_ptr<VXNewsTableView> weak = view;
  view->clearCachesToken_ = os::NotificationCenter::defaultCenter().addObserver(
      kClearCachesNotification, nullptr, [weak](const os::Notification& notification) {
        if (auto self = weak.lock()) self->msgNotification(notification);
      });
  return view;
}

VXNewsTableView::VXNewsTableView(const os::Rect& frame, long long newsID) : os::View(frame), ID_(newsID) {}

VXNewsTableView::~VXNewsTableView() {
  if (clearCachesToken_) os::NotificationCenter::defaultCenter().removeObserver(clearCachesToken_);
}

std::weak_ptr<VXNewsTableView> VXNewsTableView::weakSelf() const {
  auto self = const_cast<VXNewsTableView*>(this)->weak_from_this().lock();
  if (!self) return {};
  return std::static_pointer_cast<VXNewsTableView>(self);
}

std::shared_ptr<VXNewsDBManager> VXNewsTableView::database() const {
  auto context = context_.lock();
  return context ? VXNewsDBManager::share(*context) : nullptr;
}

void VXNewsTableView::viewInit() {
  auto self = weakSelf().lock();
  const os::Size size = bounds().size;
  tableView_ = std::make_shared<os::TableView>(os::Rect{0, 0, size.width, size.height}, os::TableViewStyle::Plain);
  if (self) {
    tableView_->setDataSource(std::shared_ptr<os::TableViewDataSource>(self, static_cast<os::TableViewDataSource*>(this)));
    tableView_->setDelegate(std::shared_ptr<os::TableViewDelegate>(self, static_cast<os::TableViewDelegate*>(this)));
  }
  tableView_->setAutoresizingMask(os::kViewAutoresizingFlexibleHeight);
  // A short or empty list must still take a pull to refresh.
  tableView_->setAlwaysBounceVertical(true);
  tableView_->setSeparatorInset(os::EdgeInsets::zero());
  addSubview(tableView_);

  load_.addHeader(tableView_, self, [this] { pullToRefresh(); });

  createFooterView();
}

void VXNewsTableView::createFooterView() {
  if (backgroundView_) return;
  backgroundView_ = os::makeView<os::View>(tableView_->frame());
  backgroundView_->setBackgroundColor(os::Color::white());
  std::shared_ptr<os::Image> logo = os::imageNamed("logo_placeholder");
  auto logoView = std::make_shared<os::ImageView>(logo);
  if (logo) logoView->setFrame(os::Rect{0, 0, logo->size().width, logo->size().height});
  const os::Rect b = backgroundView_->bounds();
  logoView->setCenter(os::Point{b.size.width / 2, b.size.height / 2 - 50});
  backgroundView_->addSubview(logoView);
}

// --- loading ---

void VXNewsTableView::load() {
  if (load_.isLoading()) return;
  if (!firstLoad_) {
    forceRefresh();
    return;
  }
  firstLoad_ = false;
  if (auto db = database()) dataList_ = db->createNewsListWithDB(ID_);
  tableView_->reloadData();
  forceRefresh();
}

void VXNewsTableView::forceRefresh() {
  auto context = context_.lock();
  if (!context) return;
  auto db = VXNewsDBManager::share(*context);
  const double last = db ? db->lastUpdateWithCategory(ID_) : 0;
  if (std::fabs(nowSinceReferenceDate() - last) > refreshInterval(*context))
    refreshAfresh();
  else
    forceLoad_ = false;
}

void VXNewsTableView::refreshAfresh() {
  forceLoad_ = true;
  // The header shows the refresh and, through its trigger, calls pullToRefresh.
  load_.startRefresh();
}

void VXNewsTableView::pullToRefresh() {
  if (load_.isLoading()) return;
  long long upid = 0, uptime = -1;
  if (!dataList_.empty()) {
    upid = dataList_.front()->ID();
    uptime = dataList_.front()->time();
  }
  // A forced refresh replaces the list: the newest page, whatever the first row's time.
  if (forceLoad_) uptime = -1;
  os::Dictionary params;
  params.set("id", os::Value(ID_));
  params.set("flag", os::Value(1));
  params.set("upid", os::Value(upid));
  params.set("uptime", os::Value(uptime));
  if (forceLoad_) params.set("count", os::Value(kPageCount));
  request(params, true, forceLoad_);
}

void VXNewsTableView::loadMore(os::ScrollView& scrollView) {
  const double offset = scrollView.contentOffset().y;
  const double bottom = offset + scrollView.frame().size.height + kLoadMoreDistance;
  // Content pulled down past its top is a pull to refresh, not a reach for the end, even when
  // a short list has its end in view.
  if (offset < 0 || scrollView.contentSize().height > bottom || dataList_.empty() || !canLoadMore_ ||
      load_.isLoading())
    return;
  os::Dictionary params;
  params.set("id", os::Value(ID_));
  params.set("flag", os::Value(2));
  params.set("downid", os::Value(dataList_.back()->ID()));
  params.set("downtime", os::Value(dataList_.back()->time()));
  params.set("count", os::Value(kPageCount));
  request(params, false, false);
}

void VXNewsTableView::request(const os::Dictionary& params, bool front, bool clearDB) {
  auto context = context_.lock();
  if (!context) return;
  load_.setState(VXNewsRequestLoading);
  VXNewsListRequest req(params);
  auto weak = weakSelf();
  // Taken now: the answer is relative to the rows shown now, which a clear meanwhile throws away.
  const unsigned clears = clears_;
  VXGlobalHelper::loadWithRequest(
      *context, req, 0,
      [weak, front, clearDB, clears](const std::optional<os::Dictionary>& data) {
        auto self = weak.lock();
        if (!self) return;
        if (self->clears_ != clears) {
          self->outdated(front);
          return;
        }
        // The forced refresh is over: a later pull by the reader only adds what is new.
        if (front) self->forceLoad_ = false;
        self->answered(data, front, clearDB);
      },
      [weak, front, clears] {
        auto self = weak.lock();
        if (!self) return;
        if (self->clears_ != clears) {
          self->outdated(front);
          return;
        }
        if (front) self->forceLoad_ = false;
        self->failed(front);
      });
}

void VXNewsTableView::answered(const std::optional<os::Dictionary>& data, bool front, bool clearDB) {
  if (!data) {
    // An answer without usable "data" says nothing about the category: wiping the list and
    // the stored rows on it (and stamping the refresh time) would lose them for nothing.
    failed(front);
    return;
  }
  if ((*data)["result"].intValue() == 2) {
    finishRefresh();
    load_.setState(VXNewsRequestFailed);
    return;
  }
  auto db = database();
  os::Array items = typeFilter((*data)["newslist"]);
  // The rows go to the database first, in one step per page: a database that refuses them (a full
  // disk) keeps the rows it had, on screen too, leaves the category due and the list's end where
  // it was, so the next visit, pull or reach for the end asks again. A forced refresh's rows take
  // the stored ones' place; a pull's go above them, a next page's below.
  std::optional<std::vector<std::shared_ptr<VXNewsDO>>> stored;
  if (db) {
    stored = clearDB ? db->replaceArticles(items, ID_) : db->storeArticles(items, ID_, front);
    if (!stored) {
      if (front) finishRefresh();
      load_.setState(VXNewsRequestFailed);
      return;
    }
  }
  if (clearDB) dataList_.clear();
  if (front && db) db->updateCategory(ID_, nowSinceReferenceDate());
  canLoadMore_ = (*data)["lastpage"].intValue() != 1;
  if (stored) {
    // Each stored item is next to the one before it: above it for a pull, the batch landing
    // reversed, in one move of the list rather than one per item; below it for a next page. An
    // item the category already holds is not listed twice. (Stored in this list's database:
    // another context may be current by the time the answer comes.)
    if (front)
      dataList_.insert(dataList_.begin(), stored->rbegin(), stored->rend());
    else
      dataList_.insert(dataList_.end(), stored->begin(), stored->end());
  }
  if (front) finishRefresh();
  tableView_->reloadData();
  load_.setState(VXNewsRequestIdle);
}

void VXNewsTableView::outdated(bool front) {
  // Neither the rows nor a failure of a request about rows the clear took: the list starts afresh.
  if (front) finishRefresh();
  load_.setState(VXNewsRequestIdle);
  if (!firstLoad_) refreshAfresh();
}

void VXNewsTableView::failed(bool front) {
  if (front) finishRefresh();
  load_.setState(VXNewsRequestFailed);
  if (auto context = context_.lock())
    VXGlobalHelper::share(*context).showHud("网络异常", std::static_pointer_cast<os::View>(weakSelf().lock()),
                                            true);
}

void VXNewsTableView::finishRefresh() { load_.finishRefresh(); }

os::Array VXNewsTableView::typeFilter(const os::Value& newslist) {
  os::Array kept;
  const os::Array* items = newslist.array();
  if (!items) return kept;
  for (const os::Value& item : *items) {
    const os::Dictionary* dict = item.dictionary();
    if (!dict) continue;  // not an item at all
    const os::Value* type = dict->find("type");
    bool keep = !type || type->isNull();
    if (!keep && type->string()) keep = type->string()->empty() || *type->string() == "album";
    if (keep) kept.push_back(item);
  }
  return kept;
}

void VXNewsTableView::msgNotification(const os::Notification&) {
  ++clears_;
  // What the database still holds: nothing after the clear, every row when it refused to let
  // them go (a full disk), which keeps the refresh time too, so nothing would refill an emptied list.
  auto db = database();
  dataList_.clear();
  if (!firstLoad_ && db) dataList_ = db->createNewsListWithDB(ID_);
  tableView_->reloadData();
  // The stored rows went with the caches: the category counts as never refreshed, so it fills
  // again when it is opened (in this run or the next) rather than stay empty until its refresh
  // time has passed, and an opened list fills again at once (or, with a request out, once that
  // request has ended: one request at a time).
  if (db) db->updateCategory(ID_, 0);
  if (!firstLoad_ && !load_.isLoading()) forceRefresh();
}

void VXNewsTableView::clearSelectedIndexPath() {
  if (selectedIndexPath_) tableView_->deselectRowAtIndexPath(*selectedIndexPath_, true);
  selectedIndexPath_.reset();
  tableView_->reloadData();
}

os::ViewController* VXNewsTableView::prarentViewController() const { return enclosingViewController(); }

// --- table ---

bool VXNewsTableView::isLoadMoreRow(const os::IndexPath& indexPath) const {
  return indexPath.row != 0 && indexPath.row == static_cast<long>(dataList_.size());
}

long VXNewsTableView::numberOfRowsInSection(os::TableView&, long) {
  if (dataList_.empty()) return 0;
  return static_cast<long>(dataList_.size()) + (canLoadMore_ ? 1 : 0);
}

std::optional<double> VXNewsTableView::heightForRowAtIndexPath(os::TableView&, const os::IndexPath& indexPath) {
  if (isLoadMoreRow(indexPath)) return 44.0;
  if (indexPath.row < 0 || indexPath.row >= static_cast<long>(dataList_.size())) return 0.0;
  auto context = context_.lock();
  if (!context) return 0.0;
  return dataList_[static_cast<std::size_t>(indexPath.row)]->calHeightByStyle(os::Screen::main().bounds().size.width,
                                                                             *VXNewsConfig::share(*context));
}

std::shared_ptr<os::TableViewCell> VXNewsTableView::cellForRowAtIndexPath(os::TableView& table,
                                                                         const os::IndexPath& indexPath) {
  if (indexPath.row < 0 || indexPath.row >= static_cast<long>(dataList_.size())) return load_.loadMoreCell(table);
  const auto& item = dataList_[static_cast<std::size_t>(indexPath.row)];
  return newsCellForItem(table, item, context_.lock());
}

std::optional<double> VXNewsTableView::heightForFooterInSection(os::TableView&, long) {
  return dataList_.empty() ? backgroundView_->frame().size.height : 0.0;
}

std::shared_ptr<os::View> VXNewsTableView::viewForFooterInSection(os::TableView&, long) {
  return dataList_.empty() ? backgroundView_ : nullptr;
}

void VXNewsTableView::didSelectRowAtIndexPath(os::TableView&, const os::IndexPath& indexPath) {
  if (indexPath.row < 0 || indexPath.row >= static_cast<long>(dataList_.size())) return;
  os::ViewController* controller = prarentViewController();
  if (!controller) return;
  selectedIndexPath_ = indexPath;
  auto item = dataList_[static_cast<std::size_t>(indexPath.row)];
  auto context = context_.lock();
  if (!context) return;
  if (auto open = context->openItem.get()) open(item, *controller);
}

// --- scrolling and the header ---

void VXNewsTableView::scrollViewDidScroll(os::ScrollView& scrollView) {
  load_.didScroll(scrollView);
}

void VXNewsTableView::scrollViewDidEndDragging(os::ScrollView& scrollView, bool) {
  loadMore(scrollView);
  load_.didEndDragging(scrollView);
}

void VXNewsTableView::scrollViewDidEndDecelerating(os::ScrollView& scrollView) { loadMore(scrollView); }
