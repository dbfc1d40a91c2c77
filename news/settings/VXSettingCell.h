#pragma once
// A row of the settings screen: the title on the left and, by the row's kind, a note or an on/off
// switch on the right.
#include <memory>
#include <optional>
#include <string>

#include "news/settings/VXSettingDO.h"
#include "os/views/Label.h"
#include "os/views/Switch.h"
#include "os/views/TableViewCell.h"

class VXSettingCell : public os::TableViewCell {
 public:
  explicit VXSettingCell(const std::string& identifier);
  std::string className() const override { return "VXSettingCell"; }

  // Shows the row: a note row its note, a switch row its switch (on unless the note reads 1).
  void setContent(const VXSettingDO& row);
  const std::optional<VXSettingDO>& dataObject() const { return dataObject_; }
  const std::shared_ptr<os::Label>& nameLabel() const { return nameLabel_; }
  const std::shared_ptr<os::Label>& noteLabel() const { return noteLabel_; }
  const std::shared_ptr<os::Switch>& swichButton() const { return swichButton_; }

  void layoutSubviews() override;

 private:
  std::shared_ptr<os::Label> nameLabel_;
  std::shared_ptr<os::Label> noteLabel_;
  std::shared_ptr<os::Switch> swichButton_;
  std::optional<VXSettingDO> dataObject_;
};
