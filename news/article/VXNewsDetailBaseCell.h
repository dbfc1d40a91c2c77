#pragma once
// The cells of the article screen, one class per row type. A cell is filled from its row object
// with setContent(); it lays its subviews out from the row's last computed heights.
#include <memory>
#include <string>
#include <vector>

#include "news/article/VXNewsDetailDO.h"
#include "os/graphics/Image.h"
#include "os/views/TableViewCell.h"

// What a screen that lists article rows offers its cells: the rows (shared with the screen), so
// that a cell can bring every copy of a row it changed up to date.
class VXNewsDetailRowOwner {
 public:
  virtual ~VXNewsDetailRowOwner() = default;
  virtual std::vector<VXNewsDetailDOPtr> rowList() = 0;
};

class VXNewsConfig;
class VXReaderContext;

class VXNewsDetailBaseCell : public os::TableViewCell {
 public:
  // `context`: the reader context of the screen that lists the row, whose text style it draws in.
  VXNewsDetailBaseCell(const std::string& identifier, const std::shared_ptr<VXReaderContext>& context);
  std::string className() const override { return "VXNewsDetailBaseCell"; }

  const VXNewsDetailDOPtr& dataObject() const { return dataObject_; }
  // Keeps the row, then fills the subviews when there is one.
  void setContent(VXNewsDetailDOPtr row);
  virtual os::TableViewCellSelectionStyle cellSelectionStyle() const { return os::TableViewCellSelectionStyle::None; }


 protected:
  virtual void fill(const VXNewsDetailDO& row) {}
  std::shared_ptr<VXReaderContext> readerContext() const { return context_.lock(); }
  // The context's text style; a default one once the context is gone.
  std::shared_ptr<VXNewsConfig> textStyle() const;
  VXNewsDetailDOPtr dataObject_;

 private:
  // Weak: the context holds the side menu, which holds the screen showing this cell.
  std::weak_ptr<VXReaderContext> context_;
};
