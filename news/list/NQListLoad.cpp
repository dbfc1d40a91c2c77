#include "news/list/NQListLoad.h"

#include "os/views/TableView.h"

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
