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

class VXNewsDetailBaseCell : public os::TableViewCell {
 public:
  explicit VXNewsDetailBaseCell(const std::string& identifier);
  std::string className() const override { return "VXNewsDetailBaseCell"; }

  const VXNewsDetailDOPtr& dataObject() const { return dataObject_; }
  // Keeps the row, then fills the subviews when there is one.
  void setContent(VXNewsDetailDOPtr row);
  virtual os::TableViewCellSelectionStyle cellSelectionStyle() const { return os::TableViewCellSelectionStyle::None; }


 protected:
  virtual void fill(const VXNewsDetailDO& row) {}
  VXNewsDetailDOPtr dataObject_;
};
