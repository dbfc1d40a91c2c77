#pragma once
// A table: sections of rows from a data source, heights from the delegate (or fixed), and real
// cell reuse: a layout pass keeps cells only for the rows that intersect the visible bounds,
// hands the others to the reuse pool of their identifier and asks the data source for the
// rows that came into view. Selection by touch asks the delegate (will-select, did-deselect of
// the previous row, did-select).
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "os/views/ScrollView.h"
#include "os/views/TableViewCell.h"

namespace os {

class TableView;

struct IndexPath {
  long section = 0;
  long row = 0;
  static IndexPath forRow(long row, long section) { return IndexPath{section, row}; }
  auto operator<=>(const IndexPath&) const = default;
  bool operator==(const IndexPath&) const = default;
};

enum class TableViewStyle { Plain = 0, Grouped = 1 };
enum class TableViewScrollPosition { None = 0, Top = 1, Middle = 2, Bottom = 3 };
enum class TableViewRowAnimation { Fade = 0, Right, Left, Top, Bottom, None, Middle, Automatic = 100 };
enum class TableViewCellSeparatorStyle { None = 0, SingleLine = 1, SingleLineEtched = 2 };

class TableViewDataSource {
 public:
  virtual ~TableViewDataSource() = default;
  virtual long numberOfSectionsInTableView(TableView& table) { return 1; }
  virtual long numberOfRowsInSection(TableView& table, long section) { return 0; }
  // Must give a cell for every row it counts; none raises os::Exception.
  virtual std::shared_ptr<TableViewCell> cellForRowAtIndexPath(TableView& table, const IndexPath& indexPath) { return nullptr; }
  virtual std::optional<std::string> titleForHeaderInSection(TableView& table, long section) { return std::nullopt; }
  virtual std::optional<std::string> titleForFooterInSection(TableView& table, long section) { return std::nullopt; }
};

// Operations answering nullopt stand for "not implemented": the table's fixed values apply.
class TableViewDelegate : public ScrollViewDelegate {
 public:
  virtual std::optional<double> heightForRowAtIndexPath(TableView& table, const IndexPath& indexPath) { return std::nullopt; }
  virtual std::optional<double> heightForHeaderInSection(TableView& table, long section) { return std::nullopt; }
  virtual std::optional<double> heightForFooterInSection(TableView& table, long section) { return std::nullopt; }
  virtual std::shared_ptr<View> viewForHeaderInSection(TableView& table, long section) { return nullptr; }
  virtual std::shared_ptr<View> viewForFooterInSection(TableView& table, long section) { return nullptr; }
  virtual void willDisplayCell(TableView& table, TableViewCell& cell, const IndexPath& indexPath) {}
  virtual void didEndDisplayingCell(TableView& table, TableViewCell& cell, const IndexPath& indexPath) {}
  // Answer another row to select it instead, or nullopt to select nothing.
  virtual std::optional<IndexPath> willSelectRowAtIndexPath(TableView& table, const IndexPath& indexPath) { return indexPath; }
  virtual void didSelectRowAtIndexPath(TableView& table, const IndexPath& indexPath) {}
  virtual std::optional<IndexPath> willDeselectRowAtIndexPath(TableView& table, const IndexPath& indexPath) { return indexPath; }
  virtual void didDeselectRowAtIndexPath(TableView& table, const IndexPath& indexPath) {}
  virtual void accessoryButtonTappedForRowWithIndexPath(TableView& table, const IndexPath& indexPath) {}
};

class TableView : public ScrollView {
 public:
  static constexpr double kDefaultRowHeight = 44;

  explicit TableView(TableViewStyle style = TableViewStyle::Plain);
  TableView(const Rect& frame, TableViewStyle style);
  std::string className() const override { return "TableView"; }

  TableViewStyle style() const { return style_; }
  std::shared_ptr<TableViewDataSource> dataSource() const { return dataSource_.lock(); }
  void setDataSource(std::weak_ptr<TableViewDataSource> ds);
  std::shared_ptr<TableViewDelegate> tableDelegate() const { return tableDelegate_.lock(); }
  // Also the scroll view's delegate.
  void setDelegate(std::weak_ptr<TableViewDelegate> d);

  double rowHeight() const { return rowHeight_; }
  void setRowHeight(double h) {
    if (h != rowHeight_) askEveryRow_ = true;
    rowHeight_ = h;
  }
  double sectionHeaderHeight() const { return headerHeight_; }
  void setSectionHeaderHeight(double h) { headerHeight_ = h; }
  double sectionFooterHeight() const { return footerHeight_; }
  void setSectionFooterHeight(double h) { footerHeight_ = h; }
  TableViewCellSeparatorStyle separatorStyle() const { return separatorStyle_; }
  void setSeparatorStyle(TableViewCellSeparatorStyle s) { separatorStyle_ = s; }
  const std::optional<Color>& separatorColor() const { return separatorColor_; }
  void setSeparatorColor(std::optional<Color> c) { separatorColor_ = c; }
  EdgeInsets separatorInset() const { return separatorInset_; }
  void setSeparatorInset(EdgeInsets i) { separatorInset_ = i; }
  const std::shared_ptr<View>& backgroundView() const { return backgroundView_; }
  void setBackgroundView(std::shared_ptr<View> v);
  const std::shared_ptr<View>& tableHeaderView() const { return tableHeaderView_; }
  void setTableHeaderView(std::shared_ptr<View> v);
  const std::shared_ptr<View>& tableFooterView() const { return tableFooterView_; }
  void setTableFooterView(std::shared_ptr<View> v);
  bool allowsSelection() const { return allowsSelection_; }
  void setAllowsSelection(bool a) { allowsSelection_ = a; }
  bool allowsMultipleSelection() const { return allowsMultiple_; }
  void setAllowsMultipleSelection(bool a) { allowsMultiple_ = a; }
  bool isEditing() const { return editing_; }
  void setEditing(bool e, bool animated = false) { editing_ = e; }

  // Asks the data source again for counts, and the delegate for heights: of the rows new to the
  // table and of the rows in view, and of every row when one of those in view changed (or after
  // a new data source, delegate or row height). Otherwise the rows out of view keep their heights
  // until they come into view, when the delegate is asked again. Visible cells go back to the
  // pool and the selection is cleared. Cells are made at the next layout pass.
  void reloadData();
  void reloadRowsAtIndexPaths(const std::vector<IndexPath>& indexPaths, TableViewRowAnimation animation);
  void reloadSections(const std::vector<long>& sections, TableViewRowAnimation animation);
  // Immediate updates. The data source must already count the rows after the change: a count
  // that does not match raises os::Exception (internal inconsistency).
  void insertRowsAtIndexPaths(const std::vector<IndexPath>& indexPaths, TableViewRowAnimation animation);
  void deleteRowsAtIndexPaths(const std::vector<IndexPath>& indexPaths, TableViewRowAnimation animation);
  void beginUpdates();
  void endUpdates();

  long numberOfSections() const { return static_cast<long>(sections_.size()); }
  long numberOfRowsInSection(long section) const;
  Rect rectForSection(long section) const;
  Rect rectForHeaderInSection(long section) const;
  Rect rectForFooterInSection(long section) const;
  // Raises os::Exception (range) for a row that does not exist.
  Rect rectForRowAtIndexPath(const IndexPath& indexPath) const;
  std::optional<IndexPath> indexPathForRowAtPoint(Point point) const;
  std::vector<IndexPath> indexPathsForRowsInRect(const Rect& rect) const;
  std::optional<IndexPath> indexPathForCell(const TableViewCell* cell) const;

  // The cells on screen (after a layout pass), by index path.
  std::vector<std::shared_ptr<TableViewCell>> visibleCells();
  std::vector<IndexPath> indexPathsForVisibleRows();
  // The visible cell of the row, or null.
  std::shared_ptr<TableViewCell> cellForRowAtIndexPath(const IndexPath& indexPath);
  std::shared_ptr<View> headerViewForSection(long section);

  std::shared_ptr<TableViewCell> dequeueReusableCellWithIdentifier(const std::string& identifier);
  std::size_t reusableCellCount(const std::string& identifier) const;

  // Programmatic selection (no delegate calls).
  void selectRowAtIndexPath(const std::optional<IndexPath>& indexPath, bool animated, TableViewScrollPosition position);
  void deselectRowAtIndexPath(const IndexPath& indexPath, bool animated);
  std::optional<IndexPath> indexPathForSelectedRow() const;
  const std::vector<IndexPath>& indexPathsForSelectedRows() const { return selected_; }
  // What a tap on a row does (touches and drivers use it).
  void userSelectRowAtIndexPath(const IndexPath& indexPath);

  void scrollToRowAtIndexPath(const IndexPath& indexPath, TableViewScrollPosition position, bool animated);

  void layoutSubviews() override;
  void setBounds(const Rect& bounds) override;
  void touchesBegan(const TouchList& touches, const Event* event) override;
  void touchesEnded(const TouchList& touches, const Event* event) override;
  void touchesCancelled(const TouchList& touches, const Event* event) override;

 private:
  struct Section {
    double top = 0;
    double header = 0, footer = 0;
    std::vector<double> rowTops, rowHeights;
    // The reload in which each row's height was last asked.
    std::vector<std::uint64_t> askedIn;
    // At a reload: the rows kept from before, and whether rows were added after them.
    std::size_t keptRows = 0;
    bool grew = false;
    // The rows before this one have all been asked since the last reload.
    std::size_t askedUpTo = 0;
    double bottom = 0;
    std::shared_ptr<View> headerView, footerView;
  };
  // askEveryRow false: rows the table had keep their heights (see reloadData).
  void computeGeometry(bool askEveryRow = true);
  double askRowHeight(TableViewDelegate* d, const IndexPath& indexPath);
  // Places the rows again from this one on, after a height changed.
  void placeRowsFrom(std::size_t section, std::size_t row);
  std::vector<IndexPath> rowsTouching(const Rect& rect) const;
  // Asks again the heights of the rows in the rectangle not asked since the last reload.
  void askRowsInView(const Rect& rect);
  // Asks the rows not asked since the last reload from the first through this one, which place it.
  void askRowsThrough(const IndexPath& indexPath);
  // At a reload: asks the kept rows in view again; false when one changed (or none was there to
  // ask), and then every row must be asked.
  bool keptRowsHoldInView();
  void checkRow(const IndexPath& indexPath) const;
  void recycle(const IndexPath& indexPath, const std::shared_ptr<TableViewCell>& cell, bool tellDelegate);
  void recycleAllVisible();
  void applyUpdates();
  std::shared_ptr<View> makeTitleView(const std::string& title, bool header) const;
  TableViewCell* cellForTouch(const Touch& touch) const;

  TableViewStyle style_;
  std::weak_ptr<TableViewDataSource> dataSource_;
  std::weak_ptr<TableViewDelegate> tableDelegate_;
  double rowHeight_ = kDefaultRowHeight, headerHeight_, footerHeight_;
  TableViewCellSeparatorStyle separatorStyle_ = TableViewCellSeparatorStyle::SingleLine;
  std::optional<Color> separatorColor_;
  EdgeInsets separatorInset_{0, 15, 0, 0};
  std::shared_ptr<View> backgroundView_, tableHeaderView_, tableFooterView_;
  bool allowsSelection_ = true, allowsMultiple_ = false, editing_ = false;
  bool loaded_ = false;
  bool askEveryRow_ = true;
  std::uint64_t reloads_ = 0;
  std::vector<Section> sections_;
  std::map<IndexPath, std::shared_ptr<TableViewCell>> visible_;
  std::map<std::string, std::vector<std::shared_ptr<TableViewCell>>> pool_;
  std::vector<std::shared_ptr<View>> shownSectionViews_;
  std::vector<IndexPath> selected_;
  std::optional<IndexPath> touchedRow_;
  int updateDepth_ = 0;
  std::vector<long> countsBeforeUpdate_;
  std::vector<IndexPath> pendingInserts_, pendingDeletes_;
};

}  // namespace os
