#pragma once
// The news row with three pictures in a line below the source row.
#include <memory>
#include <string>

#include "news/list/VXNewsTitleStyleCell.h"

class VXNewsThreeIconStyleCell : public VXNewsTitleStyleCell {
 public:
  explicit VXNewsThreeIconStyleCell(const std::shared_ptr<VXReaderContext>& context,
                                    const std::string& identifier = kThreeIconStyleCellIdentifier);
  std::string className() const override { return "VXNewsThreeIconStyleCell"; }
  void setContent(const std::shared_ptr<VXNewsDO>& item) override;
  void layoutSubviews() override;
  const std::shared_ptr<os::ImageView>& iconImageL() const { return iconImageL_; }
  const std::shared_ptr<os::ImageView>& iconImageM() const { return iconImageM_; }
  const std::shared_ptr<os::ImageView>& iconImageR() const { return iconImageR_; }

 private:
  std::shared_ptr<os::ImageView> iconImageL_, iconImageM_, iconImageR_;
};
