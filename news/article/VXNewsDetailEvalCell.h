#pragma once
#include <cstdint>

#include "news/article/VXNewsDetailBaseCell.h"
#include "os/views/Button.h"

class VXNewsDetailEvalDO;
namespace os {
class TableView;
class ViewController;
}  // namespace os

// The vote row: an up and a down button showing their counts. A vote goes to the server; only a
// confirmed vote changes the row (so a failed one may be tried again), and once voted the row
// says so instead of sending another.
class VXNewsDetailEvalCell : public VXNewsDetailBaseCell {
 public:
  static constexpr double kButtonWidth = 140;
  static constexpr double kButtonHeight = 45;
  static constexpr double kButtonTop = 35;

  VXNewsDetailEvalCell(const std::string& identifier, const std::shared_ptr<VXReaderContext>& context);
  std::string className() const override { return "VXNewsDetailEvalCell"; }
  const std::shared_ptr<os::Button>& diggButton() const { return diggButton_; }
  const std::shared_ptr<os::Button>& buryButton() const { return buryButton_; }
  void layoutSubviews() override;

  void buttonClick(os::Button& sender);
  // Brings every vote row of the owning screen to the flag and the count (the up count for
  // flag 2, the down count otherwise). Without an owning screen nothing happens.
  void setViewControllerListData(std::int32_t flag, std::int32_t count);
  // The nearest screen up the responder chain, or null.
  os::ViewController* prarentViewController() const;

 protected:
  void fill(const VXNewsDetailDO& row) override;

 private:
  std::shared_ptr<os::Button> makeButton(const std::string& image, const std::string& pressed);
  // The table holding this cell, for the HUD; falls back to the cell itself.
  std::shared_ptr<os::View> hudView();

  std::shared_ptr<os::Button> diggButton_, buryButton_;
};
