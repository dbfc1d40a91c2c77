#pragma once
// A row of the offline category choice: the category's name and a tick that shows whether it is
// chosen.
#include <memory>
#include <string>

#include "os/views/Button.h"
#include "os/views/Label.h"
#include "os/views/TableViewCell.h"

class VXOfflineCell : public os::TableViewCell {
 public:
  explicit VXOfflineCell(const std::string& identifier);
  std::string className() const override { return "VXOfflineCell"; }

  const std::shared_ptr<os::Label>& nameLabel() const { return nameLabel_; }
  const std::shared_ptr<os::Button>& selectedButton() const { return selectedButton_; }

  void layoutSubviews() override;
  void setSelected(bool selected, bool animated) override;

 private:
  std::shared_ptr<os::Label> nameLabel_;
  std::shared_ptr<os::Button> selectedButton_;
};
