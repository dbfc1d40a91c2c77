#pragma once
#include "news/article/VXNewsDetailBaseCell.h"
#include "ui/widgets/LXLabel.h"

// A run of body text in the rich-text label, in the body font and colour of the text style.
class VXNewsDetailTextCell : public VXNewsDetailBaseCell {
 public:
  VXNewsDetailTextCell(const std::string& identifier, const std::shared_ptr<VXReaderContext>& context);
  std::string className() const override { return "VXNewsDetailTextCell"; }
  const std::shared_ptr<LXLabel>& textLabel() const { return textLabel_; }
  void layoutSubviews() override;

 protected:
  void fill(const VXNewsDetailDO& row) override;

 private:
  std::shared_ptr<LXLabel> textLabel_;
};
