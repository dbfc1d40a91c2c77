#include "os/views/TableView.h"

#include <algorithm>
#include <cmath>
#include <set>

#include "os/core/Error.h"
#include "os/core/String.h"

namespace os {

TableView::TableView(TableViewStyle style)
    : style_(style), headerHeight_(style == TableViewStyle::Plain ? 22 : 10), footerHeight_(style == TableViewStyle::Plain ? 22 : 10) {
  setAlwaysBounceVertical(true);
  setBackgroundColor(style == TableViewStyle::Plain ? Color::white() : Color::rgba(0.94, 0.94, 0.96, 1));
}

TableView::TableView(const Rect& frame, TableViewStyle style) : TableView(style) { setFrame(frame); }

void TableView::setDataSource(std::weak_ptr<TableViewDataSource> ds) {
  dataSource_ = std::move(ds);
  loaded_ = false;
  askEveryRow_ = true;
  setNeedsLayout();
}

void TableView::setDelegate(std::weak_ptr<TableViewDelegate> d) {
  tableDelegate_ = d;
  ScrollView::setDelegate(std::weak_ptr<ScrollViewDelegate>(d.lock()));
  loaded_ = false;
  askEveryRow_ = true;
  setNeedsLayout();
}

void TableView::setBackgroundView(std::shared_ptr<View> v) {
  if (backgroundView_) backgroundView_->removeFromSuperview();
  backgroundView_ = std::move(v);
  if (backgroundView_) insertSubview(backgroundView_, 0);
  setNeedsLayout();
}

void TableView::setTableHeaderView(std::shared_ptr<View> v) {
  if (tableHeaderView_) tableHeaderView_->removeFromSuperview();
  tableHeaderView_ = std::move(v);
  if (tableHeaderView_) addSubview(tableHeaderView_);
  computeGeometry();
  setNeedsLayout();
}

void TableView::setTableFooterView(std::shared_ptr<View> v) {
  if (tableFooterView_) tableFooterView_->removeFromSuperview();
  tableFooterView_ = std::move(v);
  if (tableFooterView_) addSubview(tableFooterView_);
  computeGeometry();
  setNeedsLayout();
}

std::shared_ptr<View> TableView::makeTitleView(const std::string& title, bool header) const {
  auto label = std::make_shared<Label>();
  label->setText(title);
  label->setFont(Font::boldSystemFont(style_ == TableViewStyle::Plain ? 17 : 15));
  auto box = std::make_shared<View>();
  box->setBackgroundColor(style_ == TableViewStyle::Plain ? std::optional<Color>(Color::rgba(0.6, 0.65, 0.7, 1)) : std::nullopt);
  box->addSubview(label);
  label->setFrame(Rect(10, 0, 300, style_ == TableViewStyle::Plain ? 22 : 30));
  label->setAutoresizingMask(kViewAutoresizingFlexibleWidth | kViewAutoresizingFlexibleHeight);
  (void)header;
  return box;
}

double TableView::askRowHeight(TableViewDelegate* d, const IndexPath& ip) {
  std::optional<double> h = d ? d->heightForRowAtIndexPath(*this, ip) : std::nullopt;
  return h ? std::max(0.0, *h) : rowHeight_;
}

void TableView::computeGeometry(bool askEveryRow) {
  auto ds = dataSource();
  auto d = tableDelegate();
  std::vector<Section> old = std::move(sections_);
  sections_.clear();
  double y = tableHeaderView_ ? tableHeaderView_->frame().size.height : 0;
  long count = ds ? std::max(0L, ds->numberOfSectionsInTableView(*this)) : 0;
  for (long s = 0; s < count; ++s) {
    Section sec;
    sec.top = y;
    sec.headerView = d ? d->viewForHeaderInSection(*this, s) : nullptr;
    if (!sec.headerView && ds) {
      if (auto title = ds->titleForHeaderInSection(*this, s)) sec.headerView = makeTitleView(*title, true);
    }
    sec.footerView = d ? d->viewForFooterInSection(*this, s) : nullptr;
    if (!sec.footerView && ds) {
      if (auto title = ds->titleForFooterInSection(*this, s)) sec.footerView = makeTitleView(*title, false);
    }
    std::optional<double> hh = d ? d->heightForHeaderInSection(*this, s) : std::nullopt;
    sec.header = hh ? *hh : (sec.headerView || style_ == TableViewStyle::Grouped ? headerHeight_ : 0);
    std::optional<double> fh = d ? d->heightForFooterInSection(*this, s) : std::nullopt;
    sec.footer = fh ? *fh : (sec.footerView || style_ == TableViewStyle::Grouped ? footerHeight_ : 0);
    y += sec.header;
    auto rows = static_cast<std::size_t>(ds ? std::max(0L, ds->numberOfRowsInSection(*this, s)) : 0);
    // The rows the table already had keep their heights (and places) for reloadData to check:
    // asking every row at every reload made a list that grows page by page cost the square of its
    // length. Rows new to the table are asked now.
    std::size_t kept = 0;
    if (!askEveryRow && static_cast<std::size_t>(s) < old.size()) {
      Section& before = old[static_cast<std::size_t>(s)];
      kept = std::min(rows, before.rowHeights.size());
      sec.rowHeights = std::move(before.rowHeights);
      sec.rowTops = std::move(before.rowTops);
      sec.askedIn = std::move(before.askedIn);
      sec.rowHeights.resize(kept);
      sec.rowTops.resize(kept);
      sec.askedIn.resize(kept);
    }
    if (kept > 0 && sec.rowTops.front() == y) {
      y = sec.rowTops.back() + sec.rowHeights.back();
    } else {
      for (std::size_t r = 0; r < kept; ++r) {
        sec.rowTops[r] = y;
        y += sec.rowHeights[r];
      }
    }
    sec.keptRows = kept;
    sec.askedUpTo = kept > 0 ? 0 : rows;
    sec.grew = rows > kept && kept > 0;
    for (std::size_t r = kept; r < rows; ++r) {
      double height = askRowHeight(d.get(), IndexPath{s, static_cast<long>(r)});
      sec.rowTops.push_back(y);
      sec.rowHeights.push_back(height);
      sec.askedIn.push_back(reloads_);
      y += height;
    }
    y += sec.footer;
    sec.bottom = y;
    sections_.push_back(std::move(sec));
  }
  if (tableFooterView_) y += tableFooterView_->frame().size.height;
  for (auto& s : old) {
    if (s.headerView) s.headerView->removeFromSuperview();
    if (s.footerView) s.footerView->removeFromSuperview();
  }
  shownSectionViews_.clear();
  setContentSize(Size{bounds().size.width, y});
}

void TableView::placeRowsFrom(std::size_t section, std::size_t row) {
  for (std::size_t si = section; si < sections_.size(); ++si) {
    Section& s = sections_[si];
    if (si != section) {
      const Section& above = sections_[si - 1];
      s.top = above.bottom;
      row = 0;
    }
    double y = row == 0 ? s.top + s.header : s.rowTops[row - 1] + s.rowHeights[row - 1];
    for (std::size_t r = row; r < s.rowHeights.size(); ++r) {
      s.rowTops[r] = y;
      y += s.rowHeights[r];
    }
    s.bottom = y + s.footer;
  }
  double y = sections_.empty() ? (tableHeaderView_ ? tableHeaderView_->frame().size.height : 0) : sections_.back().bottom;
  if (tableFooterView_) y += tableFooterView_->frame().size.height;
  if (contentSize().height != y) setContentSize(Size{bounds().size.width, y});
}

std::vector<IndexPath> TableView::rowsTouching(const Rect& rect) const {
  // Unlike indexPathsForRowsInRect, rows of no height count where they stand: they may have grown.
  std::vector<IndexPath> out;
  double top = rect.minY(), bottom = rect.maxY();
  for (long si = 0; si < numberOfSections(); ++si) {
    const Section& s = sections_[static_cast<std::size_t>(si)];
    if (s.bottom < top || s.top >= bottom) continue;
    auto first = std::lower_bound(s.rowTops.begin(), s.rowTops.end(), top) - s.rowTops.begin();
    if (first > 0) --first;
    for (auto r = static_cast<std::size_t>(first); r < s.rowTops.size() && s.rowTops[r] < bottom; ++r) {
      if (s.rowTops[r] + s.rowHeights[r] >= top) out.push_back(IndexPath{si, static_cast<long>(r)});
    }
  }
  return out;
}

void TableView::askRowsInView(const Rect& rect) {
  auto d = tableDelegate();
  // A row whose height changed moves the rows below it, which may bring other rows into view.
  for (;;) {
    std::optional<IndexPath> firstChanged;
    for (auto& ip : rowsTouching(rect)) {
      Section& s = sections_[static_cast<std::size_t>(ip.section)];
      auto r = static_cast<std::size_t>(ip.row);
      if (s.askedIn[r] == reloads_) continue;
      s.askedIn[r] = reloads_;
      double height = askRowHeight(d.get(), ip);
      if (height == s.rowHeights[r]) continue;
      s.rowHeights[r] = height;
      if (!firstChanged) firstChanged = ip;
    }
    if (!firstChanged) return;
    placeRowsFrom(static_cast<std::size_t>(firstChanged->section), static_cast<std::size_t>(firstChanged->row));
  }
}

void TableView::askRowsThrough(const IndexPath& ip) {
  auto d = tableDelegate();
  std::optional<IndexPath> firstChanged;
  const auto last = static_cast<std::size_t>(ip.section);
  for (std::size_t si = 0; si <= last && si < sections_.size(); ++si) {
    Section& s = sections_[si];
    const std::size_t end = si == last ? std::min(s.rowHeights.size(), static_cast<std::size_t>(ip.row) + 1) : s.rowHeights.size();
    for (std::size_t r = s.askedUpTo; r < end; ++r) {
      if (s.askedIn[r] == reloads_) continue;
      s.askedIn[r] = reloads_;
      IndexPath at{static_cast<long>(si), static_cast<long>(r)};
      double height = askRowHeight(d.get(), at);
      if (height == s.rowHeights[r]) continue;
      s.rowHeights[r] = height;
      if (!firstChanged) firstChanged = at;
    }
    s.askedUpTo = std::max(s.askedUpTo, end);
  }
  if (firstChanged) placeRowsFrom(static_cast<std::size_t>(firstChanged->section), static_cast<std::size_t>(firstChanged->row));
}

bool TableView::keptRowsHoldInView() {
  auto d = tableDelegate();
  bool compared = false;
  std::optional<IndexPath> firstChanged;
  for (auto& ip : rowsTouching(bounds())) {
    Section& s = sections_[static_cast<std::size_t>(ip.section)];
    auto r = static_cast<std::size_t>(ip.row);
    if (s.askedIn[r] == reloads_) continue;  // new to the table: asked already
    s.askedIn[r] = reloads_;
    double height = askRowHeight(d.get(), ip);
    // A section that grew may have ended in a row standing for the rows to come (one that loads
    // more): that row alone may change while the others hold.
    bool formerLast = s.grew && r + 1 == s.keptRows;
    if (!formerLast) compared = true;
    if (height == s.rowHeights[r]) continue;
    if (!formerLast) return false;
    s.rowHeights[r] = height;
    if (!firstChanged) firstChanged = ip;
  }
  if (firstChanged) placeRowsFrom(static_cast<std::size_t>(firstChanged->section), static_cast<std::size_t>(firstChanged->row));
  return compared;
}

long TableView::numberOfRowsInSection(long section) const {
  if (section < 0 || section >= numberOfSections()) return 0;
  return static_cast<long>(sections_[static_cast<std::size_t>(section)].rowHeights.size());
}

void TableView::checkRow(const IndexPath& ip) const {
  if (ip.section < 0 || ip.section >= numberOfSections() || ip.row < 0 || ip.row >= numberOfRowsInSection(ip.section)) {
    throw Exception(kRangeException, format("row %ld of section %ld is beyond the table's rows", ip.row, ip.section));
  }
}

Rect TableView::rectForSection(long section) const {
  if (section < 0 || section >= numberOfSections()) return Rect::zero();
  const Section& s = sections_[static_cast<std::size_t>(section)];
  return Rect(0, s.top, bounds().size.width, s.bottom - s.top);
}

Rect TableView::rectForHeaderInSection(long section) const {
  if (section < 0 || section >= numberOfSections()) return Rect::zero();
  const Section& s = sections_[static_cast<std::size_t>(section)];
  return Rect(0, s.top, bounds().size.width, s.header);
}

Rect TableView::rectForFooterInSection(long section) const {
  if (section < 0 || section >= numberOfSections()) return Rect::zero();
  const Section& s = sections_[static_cast<std::size_t>(section)];
  return Rect(0, s.bottom - s.footer, bounds().size.width, s.footer);
}

Rect TableView::rectForRowAtIndexPath(const IndexPath& ip) const {
  checkRow(ip);
  const Section& s = sections_[static_cast<std::size_t>(ip.section)];
  auto r = static_cast<std::size_t>(ip.row);
  return Rect(0, s.rowTops[r], bounds().size.width, s.rowHeights[r]);
}

std::vector<IndexPath> TableView::indexPathsForRowsInRect(const Rect& rect) const {
  std::vector<IndexPath> out;
  double top = rect.minY(), bottom = rect.maxY();
  for (long si = 0; si < numberOfSections(); ++si) {
    const Section& s = sections_[static_cast<std::size_t>(si)];
    if (s.bottom <= top || s.top >= bottom) continue;
    // Rows are sorted by position: skip to the first that reaches the rectangle.
    auto first = std::upper_bound(s.rowTops.begin(), s.rowTops.end(), top) - s.rowTops.begin();
    if (first > 0) --first;
    for (auto r = static_cast<std::size_t>(first); r < s.rowTops.size(); ++r) {
      double rt = s.rowTops[r], rb = rt + s.rowHeights[r];
      if (rt >= bottom) break;
      if (rb > top && s.rowHeights[r] > 0) out.push_back(IndexPath{si, static_cast<long>(r)});
    }
  }
  return out;
}

std::optional<IndexPath> TableView::indexPathForRowAtPoint(Point p) const {
  auto list = indexPathsForRowsInRect(Rect(p.x, p.y, 1, 1e-9));
  for (auto& ip : list) {
    Rect r = rectForRowAtIndexPath(ip);
    if (p.y >= r.minY() && p.y < r.maxY()) return ip;
  }
  return std::nullopt;
}

std::optional<IndexPath> TableView::indexPathForCell(const TableViewCell* cell) const {
  for (auto& [ip, c] : visible_) {
    if (c.get() == cell) return ip;
  }
  return std::nullopt;
}

void TableView::recycle(const IndexPath& ip, const std::shared_ptr<TableViewCell>& cell, bool tellDelegate) {
  cell->removeFromSuperview();
  if (tellDelegate) {
    if (auto d = tableDelegate()) d->didEndDisplayingCell(*this, *cell, ip);
  }
  if (!cell->reuseIdentifier().empty()) pool_[cell->reuseIdentifier()].push_back(cell);
}

void TableView::recycleAllVisible() {
  auto cells = std::move(visible_);
  visible_.clear();
  for (auto& [ip, cell] : cells) recycle(ip, cell, true);
}

std::shared_ptr<TableViewCell> TableView::dequeueReusableCellWithIdentifier(const std::string& identifier) {
  auto it = pool_.find(identifier);
  if (it == pool_.end() || it->second.empty()) return nullptr;
  auto cell = it->second.back();
  it->second.pop_back();
  cell->prepareForReuse();
  return cell;
}

std::size_t TableView::reusableCellCount(const std::string& identifier) const {
  auto it = pool_.find(identifier);
  return it == pool_.end() ? 0 : it->second.size();
}

void TableView::reloadData() {
  auto keep = weak_from_this().lock();
  loaded_ = true;
  recycleAllVisible();
  selected_.clear();
  touchedRow_.reset();
  ++reloads_;
  computeGeometry(askEveryRow_);
  // The rows in view tell whether the rows kept from before still stand: one of them changed (a
  // new type size, other items) has every row asked again, so the table is exact after a reload
  // that changed its rows. When they all hold (a page added at the end), the rows out of view
  // are asked again only as they come into view.
  if (!askEveryRow_ && !keptRowsHoldInView()) computeGeometry(true);
  askEveryRow_ = false;
  setNeedsLayout();
}

void TableView::reloadSections(const std::vector<long>&, TableViewRowAnimation) { reloadData(); }

void TableView::reloadRowsAtIndexPaths(const std::vector<IndexPath>& ips, TableViewRowAnimation) {
  for (auto& ip : ips) checkRow(ip);
  computeGeometry();
  for (auto& ip : ips) {
    auto it = visible_.find(ip);
    if (it == visible_.end()) continue;
    auto cell = it->second;
    visible_.erase(it);
    recycle(ip, cell, true);
  }
  setNeedsLayout();
}

void TableView::beginUpdates() {
  if (updateDepth_++ == 0) {
    countsBeforeUpdate_.clear();
    for (long s = 0; s < numberOfSections(); ++s) countsBeforeUpdate_.push_back(numberOfRowsInSection(s));
    pendingInserts_.clear();
    pendingDeletes_.clear();
  }
}

void TableView::endUpdates() {
  if (updateDepth_ == 0) return;
  if (--updateDepth_ > 0) return;
  applyUpdates();
}

void TableView::insertRowsAtIndexPaths(const std::vector<IndexPath>& ips, TableViewRowAnimation) {
  bool own = updateDepth_ == 0;
  if (own) beginUpdates();
  pendingInserts_.insert(pendingInserts_.end(), ips.begin(), ips.end());
  if (own) endUpdates();
}

void TableView::deleteRowsAtIndexPaths(const std::vector<IndexPath>& ips, TableViewRowAnimation) {
  bool own = updateDepth_ == 0;
  if (own) beginUpdates();
  for (auto& ip : ips) checkRow(ip);
  pendingDeletes_.insert(pendingDeletes_.end(), ips.begin(), ips.end());
  if (own) endUpdates();
}

void TableView::applyUpdates() {
  auto ds = dataSource();
  long sectionCount = ds ? ds->numberOfSectionsInTableView(*this) : 0;
  if (sectionCount != static_cast<long>(countsBeforeUpdate_.size()) && !(pendingInserts_.empty() && pendingDeletes_.empty())) {
    throw Exception(kInternalInconsistencyException,
                    format("invalid update: %ld sections after the update, %zu before", sectionCount, countsBeforeUpdate_.size()));
  }
  for (long s = 0; s < sectionCount && s < static_cast<long>(countsBeforeUpdate_.size()); ++s) {
    long inserted = std::count_if(pendingInserts_.begin(), pendingInserts_.end(), [&](const IndexPath& ip) { return ip.section == s; });
    long deleted = std::count_if(pendingDeletes_.begin(), pendingDeletes_.end(), [&](const IndexPath& ip) { return ip.section == s; });
    long expected = countsBeforeUpdate_[static_cast<std::size_t>(s)] + inserted - deleted;
    long now = ds->numberOfRowsInSection(*this, s);
    if (now != expected) {
      throw Exception(kInternalInconsistencyException,
                      format("invalid update: section %ld has %ld rows after the update, %ld expected (%ld before, %ld inserted, %ld deleted)",
                             s, now, expected, countsBeforeUpdate_[static_cast<std::size_t>(s)], inserted, deleted));
    }
  }
  // Selected rows move with the rows around them; deleted ones drop out.
  std::vector<IndexPath> moved;
  for (auto ip : selected_) {
    bool gone = std::find(pendingDeletes_.begin(), pendingDeletes_.end(), ip) != pendingDeletes_.end();
    if (gone) continue;
    long shift = 0;
    for (auto& d : pendingDeletes_) shift -= (d.section == ip.section && d.row < ip.row) ? 1 : 0;
    ip.row += shift;
    for (auto ins : std::set<IndexPath>(pendingInserts_.begin(), pendingInserts_.end())) {
      if (ins.section == ip.section && ins.row <= ip.row) ++ip.row;
    }
    moved.push_back(ip);
  }
  pendingInserts_.clear();
  pendingDeletes_.clear();
  recycleAllVisible();
  computeGeometry();
  selected_ = moved;
  setNeedsLayout();
}

std::vector<std::shared_ptr<TableViewCell>> TableView::visibleCells() {
  if (needsLayout()) layoutIfNeeded();
  std::vector<std::shared_ptr<TableViewCell>> out;
  for (auto& [ip, c] : visible_) out.push_back(c);
  return out;
}

std::vector<IndexPath> TableView::indexPathsForVisibleRows() {
  if (needsLayout()) layoutIfNeeded();
  std::vector<IndexPath> out;
  for (auto& [ip, c] : visible_) out.push_back(ip);
  return out;
}

std::shared_ptr<TableViewCell> TableView::cellForRowAtIndexPath(const IndexPath& ip) {
  if (needsLayout()) layoutIfNeeded();
  auto it = visible_.find(ip);
  return it == visible_.end() ? nullptr : it->second;
}

std::shared_ptr<View> TableView::headerViewForSection(long section) {
  if (section < 0 || section >= numberOfSections()) return nullptr;
  return sections_[static_cast<std::size_t>(section)].headerView;
}

void TableView::setBounds(const Rect& b) {
  bool widthChanged = b.size.width != bounds().size.width;
  ScrollView::setBounds(b);
  if (widthChanged && loaded_) setContentSize(Size{b.size.width, contentSize().height});
}

void TableView::layoutSubviews() {
  auto keep = weak_from_this().lock();
  ScrollView::layoutSubviews();
  if (!loaded_) reloadData();
  Rect b = bounds();
  if (backgroundView_) {
    backgroundView_->setFrame(b);
    sendSubviewToBack(backgroundView_.get());
  }
  if (tableHeaderView_) {
    Rect f = tableHeaderView_->frame();
    tableHeaderView_->setFrame(Rect(0, 0, b.size.width, f.size.height));
  }
  if (tableFooterView_) {
    Rect f = tableFooterView_->frame();
    double y = sections_.empty() ? (tableHeaderView_ ? tableHeaderView_->frame().size.height : 0) : sections_.back().bottom;
    tableFooterView_->setFrame(Rect(0, y, b.size.width, f.size.height));
  }
  // Rows: only those intersecting the visible bounds keep cells, at the heights the delegate
  // gives them now.
  askRowsInView(b);
  std::vector<IndexPath> wanted = indexPathsForRowsInRect(b);
  std::set<IndexPath> wantedSet(wanted.begin(), wanted.end());
  for (auto it = visible_.begin(); it != visible_.end();) {
    if (wantedSet.count(it->first)) {
      ++it;
      continue;
    }
    auto ip = it->first;
    auto cell = it->second;
    it = visible_.erase(it);
    recycle(ip, cell, true);
  }
  auto ds = dataSource();
  auto d = tableDelegate();
  for (auto& ip : wanted) {
    Rect r = rectForRowAtIndexPath(ip);
    auto it = visible_.find(ip);
    if (it != visible_.end()) {
      it->second->setFrame(r);
      continue;
    }
    std::shared_ptr<TableViewCell> cell = ds ? ds->cellForRowAtIndexPath(*this, ip) : nullptr;
    if (!cell) {
      throw Exception(kInternalInconsistencyException,
                      format("the data source gave no cell for row %ld of section %ld", ip.row, ip.section));
    }
    cell->setFrame(r);
    bool isSelected = std::find(selected_.begin(), selected_.end(), ip) != selected_.end();
    if (cell->isSelected() != isSelected) cell->setSelected(isSelected, false);
    visible_[ip] = cell;
    insertSubview(cell, backgroundView_ ? 1 : 0);
    if (d) d->willDisplayCell(*this, *cell, ip);
  }
  // Section headers and footers in view.
  for (auto& v : shownSectionViews_) v->removeFromSuperview();
  shownSectionViews_.clear();
  for (long si = 0; si < numberOfSections(); ++si) {
    Section& s = sections_[static_cast<std::size_t>(si)];
    if (s.bottom <= b.minY() || s.top >= b.maxY()) continue;
    if (s.headerView && s.header > 0) {
      s.headerView->setFrame(Rect(0, s.top, b.size.width, s.header));
      addSubview(s.headerView);
      shownSectionViews_.push_back(s.headerView);
    }
    if (s.footerView && s.footer > 0) {
      s.footerView->setFrame(Rect(0, s.bottom - s.footer, b.size.width, s.footer));
      addSubview(s.footerView);
      shownSectionViews_.push_back(s.footerView);
    }
  }
}

void TableView::selectRowAtIndexPath(const std::optional<IndexPath>& ip, bool animated, TableViewScrollPosition position) {
  if (!ip) {
    for (auto s : std::vector<IndexPath>(selected_)) deselectRowAtIndexPath(s, animated);
    return;
  }
  checkRow(*ip);
  if (!allowsMultiple_) {
    for (auto s : std::vector<IndexPath>(selected_)) {
      if (s != *ip) deselectRowAtIndexPath(s, animated);
    }
  }
  if (std::find(selected_.begin(), selected_.end(), *ip) == selected_.end()) selected_.push_back(*ip);
  if (auto it = visible_.find(*ip); it != visible_.end()) it->second->setSelected(true, animated);
  if (position != TableViewScrollPosition::None) scrollToRowAtIndexPath(*ip, position, animated);
}

void TableView::deselectRowAtIndexPath(const IndexPath& ip, bool animated) {
  selected_.erase(std::remove(selected_.begin(), selected_.end(), ip), selected_.end());
  if (auto it = visible_.find(ip); it != visible_.end()) it->second->setSelected(false, animated);
}

std::optional<IndexPath> TableView::indexPathForSelectedRow() const {
  if (selected_.empty()) return std::nullopt;
  return *std::min_element(selected_.begin(), selected_.end());
}

void TableView::userSelectRowAtIndexPath(const IndexPath& requested) {
  auto keep = weak_from_this().lock();
  checkRow(requested);
  auto d = tableDelegate();
  std::optional<IndexPath> ip = requested;
  if (d) ip = d->willSelectRowAtIndexPath(*this, requested);
  if (!ip) return;
  checkRow(*ip);
  if (!allowsMultiple_) {
    for (auto s : std::vector<IndexPath>(selected_)) {
      if (s == *ip) continue;
      std::optional<IndexPath> des = s;
      if (d) des = d->willDeselectRowAtIndexPath(*this, s);
      if (!des) continue;
      deselectRowAtIndexPath(*des, false);
      if (d) d->didDeselectRowAtIndexPath(*this, *des);
    }
  }
  if (std::find(selected_.begin(), selected_.end(), *ip) == selected_.end()) selected_.push_back(*ip);
  if (auto it = visible_.find(*ip); it != visible_.end()) it->second->setSelected(true, false);
  if (d) d->didSelectRowAtIndexPath(*this, *ip);
}

void TableView::scrollToRowAtIndexPath(const IndexPath& ip, TableViewScrollPosition position, bool animated) {
  checkRow(ip);
  // A reload keeps the heights of rows out of view until they come into view: the rows above this
  // one are asked now, or it would be placed by heights they no longer have. (The rows below it do
  // not move it.)
  askRowsThrough(ip);
  Rect r = rectForRowAtIndexPath(ip);
  double h = bounds().size.height;
  // The rows that could share the screen with it are asked too: those below it decide where the
  // content ends, and so how far the offset may go.
  askRowsInView(Rect(r.minX(), r.minY() - h, r.size.width, r.size.height + 2 * h));
  r = rectForRowAtIndexPath(ip);
  Point off = contentOffset();
  switch (position) {
    case TableViewScrollPosition::None: scrollRectToVisible(r, animated); return;
    case TableViewScrollPosition::Top: off.y = r.minY(); break;
    case TableViewScrollPosition::Middle: off.y = r.midY() - h / 2; break;
    case TableViewScrollPosition::Bottom: off.y = r.maxY() - h; break;
  }
  Point lo = minimumContentOffset(), hi = maximumContentOffset();
  off.y = std::clamp(off.y, lo.y, hi.y);
  setContentOffset(off, animated);
}

TableViewCell* TableView::cellForTouch(const Touch& touch) const {
  for (View* v = touch.view(); v && v != this; v = v->superviewPtr()) {
    if (auto* cell = dynamic_cast<TableViewCell*>(v); cell && cell->superviewPtr() == this) return cell;
  }
  return nullptr;
}

void TableView::touchesBegan(const TouchList& touches, const Event* event) {
  touchedRow_.reset();
  if (touches.empty() || !allowsSelection_ || editing_) return;
  // A touch that stopped the list's motion selects nothing.
  if (touches.front()->stoppedScrolling()) return;
  if (auto* cell = cellForTouch(*touches.front())) {
    touchedRow_ = indexPathForCell(cell);
    if (touchedRow_ && cell->selectionStyle() != TableViewCellSelectionStyle::None) cell->setHighlighted(true, false);
  }
}

void TableView::touchesEnded(const TouchList& touches, const Event* event) {
  if (!touchedRow_) return;
  IndexPath ip = *touchedRow_;
  touchedRow_.reset();
  if (auto it = visible_.find(ip); it != visible_.end()) it->second->setHighlighted(false, false);
  if (ip.section < numberOfSections() && ip.row < numberOfRowsInSection(ip.section)) userSelectRowAtIndexPath(ip);
}

void TableView::touchesCancelled(const TouchList& touches, const Event* event) {
  if (!touchedRow_) return;
  if (auto it = visible_.find(*touchedRow_); it != visible_.end()) it->second->setHighlighted(false, false);
  touchedRow_.reset();
}

}  // namespace os
