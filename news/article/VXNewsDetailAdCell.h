#pragma once
#include "news/article/VXNewsDetailBaseCell.h"
#include "os/views/ImageView.h"
#include "os/views/Label.h"

// The ad under the article: icon, name and summary inside a red dashed frame. Selectable.
class VXNewsDetailAdCell : public VXNewsDetailBaseCell {
 public:
  static constexpr double kDash = 5;

  VXNewsDetailAdCell(const std::string& identifier, const std::shared_ptr<VXReaderContext>& context);
  std::string className() const override { return "VXNewsDetailAdCell"; }
  os::TableViewCellSelectionStyle cellSelectionStyle() const override { return os::TableViewCellSelectionStyle::Blue; }
  const std::shared_ptr<os::ImageView>& iconView() const { return iconView_; }
  const std::shared_ptr<os::Label>& titleLabel() const { return titleLabel_; }
  const std::shared_ptr<os::Label>& noteLabel() const { return noteLabel_; }
  void layoutSubviews() override;
  void drawRect(const os::Rect& rect) override;

 protected:
  void fill(const VXNewsDetailDO& row) override;

 private:
  std::shared_ptr<os::ImageView> iconView_;
  std::shared_ptr<os::Label> titleLabel_, noteLabel_;
};
