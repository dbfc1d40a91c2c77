#pragma once
// One row of the recommended-apps list: the ad's rounded icon, its name and a grey summary.
#include <memory>
#include <string>

#include "news/store/VXAdDO.h"
#include "os/views/ImageView.h"
#include "os/views/Label.h"
#include "os/views/TableViewCell.h"

inline constexpr const char* kAdCellIdentifier = "Ad_Cell";

class VXAdCell : public os::TableViewCell {
 public:
  explicit VXAdCell(const std::string& identifier = kAdCellIdentifier);
  std::string className() const override { return "VXAdCell"; }

  // Null leaves the cell as it was.
  void setContent(const std::shared_ptr<VXAdDO>& ad);
  const std::shared_ptr<VXAdDO>& dataObject() const { return dataObject_; }

  const std::shared_ptr<os::ImageView>& iconView() const { return iconView_; }
  const std::shared_ptr<os::Label>& nameLabel() const { return nameLabel_; }
  const std::shared_ptr<os::Label>& summaryLabel() const { return summaryLabel_; }

  void layoutSubviews() override;

 private:
  std::shared_ptr<os::ImageView> iconView_;
  std::shared_ptr<os::Label> nameLabel_;
  std::shared_ptr<os::Label> summaryLabel_;
  std::shared_ptr<VXAdDO> dataObject_;
};
