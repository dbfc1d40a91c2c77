#pragma once
#include "news/article/VXNewsDetailBaseCell.h"
#include "os/views/Label.h"

// The article's title, with its source and time on one line under it.
class VXNewsDetailHeaderCell : public VXNewsDetailBaseCell {
 public:
  static constexpr double kSourceTimeGap = 8;

  VXNewsDetailHeaderCell(const std::string& identifier, const std::shared_ptr<VXReaderContext>& context);
  std::string className() const override { return "VXNewsDetailHeaderCell"; }
  const std::shared_ptr<os::Label>& titleLabel() const { return titleLabel_; }
  const std::shared_ptr<os::Label>& sourceLabel() const { return sourceLabel_; }
  const std::shared_ptr<os::Label>& timeLabel() const { return timeLabel_; }
  void layoutSubviews() override;

 protected:
  void fill(const VXNewsDetailDO& row) override;

 private:
  std::shared_ptr<os::Label> titleLabel_, sourceLabel_, timeLabel_;
};
