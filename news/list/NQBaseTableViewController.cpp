#include "news/list/NQBaseTableViewController.h"

#include "news/api/NQBaseRequest.h"
#include "news/api/VXGlobalHelper.h"
#include "news/api/VXReaderContext.h"
#include "os/core/Log.h"
#include "os/runtime/DispatchQueue.h"
#include "os/views/Device.h"
#include "os/views/Label.h"
#include "os/views/Switch.h"

// The template counts its states in the shared list load.
static_assert(NQTableViewStateIdle == NQListLoad::kIdle && NQTableViewStateLoading == NQListLoad::kLoading &&
              NQTableViewStateFailed == NQListLoad::kFailed);

namespace {

constexpr const char* kNetworkErrorText = "网络异常";

}  // namespace

NQBaseTableViewController::NQBaseTableViewController(os::TableViewStyle style, std::shared_ptr<VXReaderContext> context)
    : context_(std::move(context)) {
  listData_.reserve(20);
  tableView_ = std::make_shared<os::TableView>(os::Rect{0, 0, 0, 0}, style);
  load_.setTable(tableView_);
}

NQBaseTableViewController::~NQBaseTableViewController() = default;

std::weak_ptr<NQBaseTableViewController> NQBaseTableViewController::weakSelf() {
  auto self = weak_from_this().lock();
  if (!self) return {};
  return std::static_pointer_cast<NQBaseTableViewController>(self);
}

void NQBaseTableViewController::viewDidLoad() {
  NQBaseViewController::viewDidLoad();
  auto root = view();
  auto self = weakSelf().lock();
  tableView_->setAutoresizingMask(os::kViewAutoresizingFlexibleBottomMargin);
  if (self) {
    tableView_->setDataSource(std::shared_ptr<os::TableViewDataSource>(self, static_cast<os::TableViewDataSource*>(this)));
    tableView_->setDelegate(std::shared_ptr<os::TableViewDelegate>(self, static_cast<os::TableViewDelegate*>(this)));
  }
  tableView_->setBackgroundColor(os::Color::rgba(240.0 / 255, 240.0 / 255, 246.0 / 255, 1));
  const os::Size size = root->bounds().size;
  // The navigation bar (and from system 7 the status bar beneath it) takes the top.
  const double bars = os::Device::current().systemVersionNumber() >= 7.0 ? 64 : 44;
  tableView_->setFrame(os::Rect{0, 0, size.width, size.height - bars});
  // A short or empty list must still take a pull to refresh.
  tableView_->setAlwaysBounceVertical(true);
  tableView_->setSeparatorInset(os::EdgeInsets::zero());
  root->addSubview(tableView_);
  if (addRefreshControl_) createRefreshControl();
  setExtraCellLineHidden(*tableView_);
}

void NQBaseTableViewController::viewWillAppear(bool animated) {
  NQBaseViewController::viewWillAppear(animated);
  if (selectedIndexPath_) {
    tableView_->deselectRowAtIndexPath(*selectedIndexPath_, true);
    selectedIndexPath_.reset();
  }
}

void NQBaseTableViewController::setSeparatorStyle(int style) {
  separatorStyle_ = style;
  tableView_->setSeparatorStyle(static_cast<os::TableViewCellSeparatorStyle>(style));
}

void NQBaseTableViewController::createRefreshControl() {
  load_.addHeader(tableView_, weakSelf().lock(), [this] { loadFromPullToRefresh(); });
}

void NQBaseTableViewController::setExtraCellLineHidden(os::TableView& table) {
  auto footer = std::make_shared<os::View>();
  footer->setBackgroundColor(os::Color::clear());
  table.setTableFooterView(footer);
}

std::shared_ptr<os::View> NQBaseTableViewController::getLoadingView() {
  if (!loadingView_) {
    loadingView_ = os::makeView<os::View>(tableView_->frame());
    loadingView_->setBackgroundColor(os::Color::rgba(0.97, 0.97, 0.97, 1));
    auto spinner = std::make_shared<os::ActivityIndicatorView>(os::ActivityIndicatorViewStyle::Gray);
    const os::Rect b = loadingView_->bounds();
    spinner->setCenter(os::Point{b.origin.x + b.size.width / 2, b.origin.y + b.size.height / 2});
    spinner->startAnimating();
    loadingView_->addSubview(spinner);
  }
  return loadingView_;
}

void NQBaseTableViewController::showHud(const std::string& text, const std::shared_ptr<os::View>& view,
                                        bool autoHide) const {
  if (auto context = readerContext()) VXGlobalHelper::share(*context).showHud(text, view, autoHide);
}

void NQBaseTableViewController::hideHud(bool animated) const {
  if (auto context = readerContext()) VXGlobalHelper::share(*context).hideHud(animated);
}

void NQBaseTableViewController::changeTableViewState(int state) {
  if (state == load_.state()) return;
  load_.setState(state);
  auto weak = weakSelf();
  os::DispatchQueue::main()->async([weak] {
    auto self = weak.lock();
    if (!self) return;
    switch (self->load_.state()) {
      case NQTableViewStateFailed:
        self->tableView_->setBackgroundView(self->getErrorView());
        self->showHud(kNetworkErrorText, self->view(), true);
        break;
      case NQTableViewStateLoading:
        self->tableView_->setBackgroundView(self->getLoadingView());
        break;
      case NQTableViewStateIdle:
        self->tableView_->setBackgroundView(nullptr);
        break;
      default:
        return;
    }
    self->tableView_->reloadData();
  });
}

void NQBaseTableViewController::logLoadFailure() const { os::log("加载数据失败 class is：" + className()); }

void NQBaseTableViewController::loadNewer() {
  if (load_.isLoading()) return;
  currentPage_ = 1;
  changeTableViewState(NQTableViewStateLoading);
  listData_.clear();
  tableView_->reloadData();
  auto weak = weakSelf();
  os::DispatchQueue::main()->async([weak] {
    if (auto self = weak.lock()) self->loadFirstPage();
  });
}

void NQBaseTableViewController::loadFirstPage() {
  auto r = request();
  if (!r) {
    // Nothing to load: back to idle, or the screen would show its loading view for good.
    os::log("req is nil in " + className());
    changeTableViewState(NQTableViewStateIdle);
    return;
  }
  run(std::move(r), PageKind::First);
}

void NQBaseTableViewController::loadMore() {
  const double offset = tableView_->contentOffset().y;
  const double bottom = offset + tableView_->frame().size.height + kLoadMoreDistance;
  // Content pulled down past its top is a pull to refresh, even when a short list has its end in
  // view.
  if (offset >= 0 && tableView_->contentSize().height <= bottom && load_.state() == NQTableViewStateIdle &&
      canLoadMore_ && !listData_.empty())
    loadNextPage();
}

void NQBaseTableViewController::loadNextPage() {
  if (load_.isLoading() || !canLoadMore_) return;
  // The state changes here, on the main thread, before anything is handed on: the end of the
  // drag and the end of the deceleration that follows must not both start this page.
  changeTableViewState(NQTableViewStateLoading);
  currentPage_ += 1;
  auto r = request();
  if (!r) {
    os::log("req is nil in " + className());
    changeTableViewState(NQTableViewStateIdle);
    return;
  }
  run(std::move(r), PageKind::Next);
}

void NQBaseTableViewController::loadFromPullToRefresh() {
  if (load_.isLoading()) return;
  currentPage_ = 1;
  load_.setState(NQTableViewStateLoading);  // the header shows the load; no loading view
  auto r = request();
  if (!r) {
    os::log("req is nil in " + className());
    changeTableViewState(NQTableViewStateIdle);
    finishRefresh();
    return;
  }
  run(std::move(r), PageKind::Refresh);
}

void NQBaseTableViewController::run(std::unique_ptr<NQBaseRequest> request, PageKind kind) {
  auto weak = weakSelf();
  std::shared_ptr<NQBaseRequest> shared(std::move(request));
  auto start = [weak, shared, kind, context = context_] {
    auto strong = context.lock();
    if (!strong) return;
    VXGlobalHelper::loadWithRequest(
        *strong, *shared, 0,
        [weak, kind](const std::optional<os::Dictionary>& data) {
          if (auto self = weak.lock()) self->answered(kind, data);
        },
        [weak, kind] {
          if (auto self = weak.lock()) self->failed(kind);
        });
  };
  if (kind == PageKind::Next)
    os::DispatchQueue::global()->async(start);
  else
    start();
}

void NQBaseTableViewController::answered(PageKind kind, const std::optional<os::Dictionary>& data) {
  if (kind == PageKind::First && addListDataBySelf_) {
    if (parseResponseNoAddData(data)) {
      changeTableViewState(NQTableViewStateIdle);
    } else {
      logLoadFailure();
      changeTableViewState(NQTableViewStateFailed);
    }
    return;
  }
  std::vector<Row> rows = parseResponse(data);
  if (!rows.empty() || isEmptyList(data)) {
    if (kind == PageKind::Refresh) listData_.clear();
    for (auto& row : rows) listData_.push_back(std::move(row));
    changeTableViewState(NQTableViewStateIdle);
  } else {
    logLoadFailure();
    changeTableViewState(NQTableViewStateFailed);
  }
  if (kind == PageKind::Refresh) finishRefresh();
}

void NQBaseTableViewController::failed(PageKind kind) {
  logLoadFailure();
  changeTableViewState(NQTableViewStateFailed);
  if (kind == PageKind::Refresh) finishRefresh();
}

void NQBaseTableViewController::finishRefresh() {
  load_.finishRefresh();
}

bool NQBaseTableViewController::isLoadMoreRow(const os::IndexPath& indexPath) const {
  return indexPath.row != 0 && indexPath.row == static_cast<long>(listData_.size());
}

long NQBaseTableViewController::numberOfRowsInSection(os::TableView&, long) {
  return static_cast<long>(listData_.size()) + (canLoadMore_ ? 1 : 0);
}

std::shared_ptr<os::TableViewCell> NQBaseTableViewController::cellForRowAtIndexPath(os::TableView& table,
                                                                                   const os::IndexPath& indexPath) {
  if (isLoadMoreRow(indexPath)) return load_.loadMoreCell(table);
  // The load-more row of an empty list (row 0, no height) still needs a cell: the table raises
  // for a counted row without one, and a subclass has no row object to build it from.
  if (indexPath.row >= static_cast<long>(listData_.size())) return load_.loadMoreCell(table);
  return nullptr;
}

std::optional<double> NQBaseTableViewController::heightForRowAtIndexPath(os::TableView&, const os::IndexPath& indexPath) {
  return isLoadMoreRow(indexPath) ? 44.0 : 0.0;
}

void NQBaseTableViewController::didSelectRowAtIndexPath(os::TableView&, const os::IndexPath& indexPath) {
  selectedIndexPath_ = indexPath;
}

void NQBaseTableViewController::scrollViewDidScroll(os::ScrollView& scrollView) {
  load_.didScroll(scrollView);
}

void NQBaseTableViewController::scrollViewDidEndDragging(os::ScrollView& scrollView, bool) {
  loadMore();
  load_.didEndDragging(scrollView);
}

void NQBaseTableViewController::scrollViewDidEndDecelerating(os::ScrollView&) { loadMore(); }
