#pragma once
// The news row with one picture at the right of the title.
#include <memory>
#include <string>

#include "news/list/VXNewsTitleStyleCell.h"

class VXNewsOneIconStyleCell : public VXNewsTitleStyleCell {
 public:
  explicit VXNewsOneIconStyleCell(const std::shared_ptr<VXReaderContext>& context,
                                  const std::string& identifier = kOneIconStyleCellIdentifier);
  std::string className() const override { return "VXNewsOneIconStyleCell"; }
  void setContent(const std::shared_ptr<VXNewsDO>& item) override;
  void layoutSubviews() override;
  const std::shared_ptr<os::ImageView>& iconImage() const { return iconImage_; }

 private:
  std::shared_ptr<os::ImageView> iconImage_;
};
