#pragma once
// A row of the left menu: the entry's icon and title on the menu's dark gray.
#include <memory>
#include <optional>
#include <string>

#include "news/home/VXLeftSideDO.h"
#include "os/views/ImageView.h"
#include "os/views/Label.h"
#include "os/views/TableViewCell.h"

class VXLeftSideCell : public os::TableViewCell {
 public:
  explicit VXLeftSideCell(const std::string& identifier);
  std::string className() const override { return "VXLeftSideCell"; }

  void setDataObject(const VXLeftSideDO& entry);
  const std::optional<VXLeftSideDO>& dataObject() const { return dataObject_; }
  const std::shared_ptr<os::Label>& nameLabel() const { return nameLabel_; }
  const std::shared_ptr<os::ImageView>& imageIcon() const { return imageIcon_; }

  void layoutSubviews() override;

 private:
  std::shared_ptr<os::Label> nameLabel_;
  std::shared_ptr<os::ImageView> imageIcon_;
  std::optional<VXLeftSideDO> dataObject_;
};
