#include "news/list/NQListLoad.h"

#include "os/views/Label.h"
#include "os/views/Switch.h"
#include "os/views/TableView.h"

namespace {

// The row turns while a page may come and rests once one has failed.
void showLoadMore(os::TableViewCell& cell, bool loading) {
  if (auto spinner = std::dynamic_pointer_cast<os::ActivityIndicatorView>(cell.viewWithTag(kLoadMoreIndicatorTag))) {
    if (loading)
      spinner->startAnimating();
    else
      spinner->stopAnimating();
  }
  for (const auto& sub : cell.contentView()->subviews())
    if (auto label = std::dynamic_pointer_cast<os::Label>(sub))
      label->setText(loading ? kLoadMoreLoadingText : kLoadMoreRestingText);
}

std::shared_ptr<os::TableViewCell> makeLoadMoreCell() {
  auto cell = std::make_shared<os::TableViewCell>(os::TableViewCellStyle::Default, kLoadMoreCellIdentifier);
  // A new cell has the platform's default row frame.
  if (cell->frame().size.width <= 0) cell->setFrame(os::Rect{0, 0, 320, 44});
  cell->setUserInteractionEnabled(false);
  const os::Point centre{cell->frame().size.width / 2, cell->frame().size.height / 2};
  auto spinner = std::make_shared<os::ActivityIndicatorView>(os::ActivityIndicatorViewStyle::Gray);
  spinner->setTag(kLoadMoreIndicatorTag);
  spinner->setCenter(os::Point{centre.x - 50, centre.y});
  cell->contentView()->addSubview(spinner);
  auto label = os::makeView<os::Label>(os::Rect{0, 0, 100, 20});
  label->setCenter(os::Point{centre.x + 20, centre.y});
  label->setBackgroundColor(os::Color::clear());
  label->setFont(os::Font::systemFont(18));
  label->setTextColor(os::Color::rgba(186.0 / 255, 186.0 / 255, 186.0 / 255, 1));
  cell->contentView()->addSubview(label);
  return cell;
}

}  // namespace

void NQListLoad::setState(int state) {
  const bool wasFailed = state_ == kFailed;
  state_ = state;
  if (wasFailed == (state == kFailed)) return;
  auto table = table_.lock();
  if (!table) return;
  for (const auto& cell : table->visibleCells())
    if (cell && cell->reuseIdentifier() == kLoadMoreCellIdentifier) showLoadMore(*cell, state != kFailed);
}

std::shared_ptr<os::TableViewCell> NQListLoad::loadMoreCell(os::TableView& table) const {
  auto cell = table.dequeueReusableCellWithIdentifier(kLoadMoreCellIdentifier);
  if (!cell) cell = makeLoadMoreCell();
  showLoadMore(*cell, state_ != kFailed);
  return cell;
}

void NQListLoad::addHeader(const std::shared_ptr<os::TableView>& table,
                           const std::shared_ptr<PRRefreshTableHeaderDelegate>& delegate, std::function<void()> pulled) {
  const os::Size size = table->bounds().size;
  header_ = std::make_shared<PRRefreshTableHeaderView>(os::Rect{0, -size.height, size.width, size.height});
  // Without an owner in a shared pointer there is nothing to hold the delegate weakly by.
  if (delegate.use_count() > 0) header_->setDelegate(delegate);
  table_ = table;
  pulled_ = std::move(pulled);
  table->addSubview(header_);
}

void NQListLoad::didScroll(os::ScrollView& scrollView) {
  if (header_) header_->prRefreshScrollViewDidScroll(scrollView);
}

void NQListLoad::didEndDragging(os::ScrollView& scrollView) {
  if (header_) header_->prRefreshScrollViewDidEndDragging(scrollView);
}

void NQListLoad::finishRefresh() {
  auto table = table_.lock();
  if (header_ && table) header_->prRefreshScrollViewDataSourceDidFinishedLoading(*table);
}

void NQListLoad::startRefresh() {
  auto table = table_.lock();
  if (header_ && table) header_->startLoadingAndExpand(*table);
}

void NQListLoad::prRefreshTableHeaderDidTriggerRefresh(PRRefreshTableHeaderView&) {
  if (pulled_) pulled_();
}

bool NQListLoad::prRefreshTableHeaderDataSourceIsLoading(PRRefreshTableHeaderView&) { return isLoading(); }

std::optional<os::Date> NQListLoad::prRefreshTableHeaderDataSourceLastUpdated(PRRefreshTableHeaderView&) {
  return os::Date::now();
}
