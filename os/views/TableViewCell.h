#pragma once
// A table row's view: a content view holding the text label, the detail label and the image
// view of its style, an accessory, selection and highlight states, and the reuse identifier the
// table pools it under.
#include <memory>
#include <string>

#include "os/views/ImageView.h"
#include "os/views/Label.h"
#include "os/views/View.h"

namespace os {

enum class TableViewCellStyle { Default = 0, Value1 = 1, Value2 = 2, Subtitle = 3 };
enum class TableViewCellAccessoryType { None = 0, DisclosureIndicator = 1, DetailDisclosureButton = 2, Checkmark = 3 };
enum class TableViewCellSelectionStyle { None = 0, Blue = 1, Gray = 2, Default = 3 };

class TableViewCell : public View {
 public:
  static constexpr double kAccessoryWidth = 33;

  explicit TableViewCell(TableViewCellStyle style = TableViewCellStyle::Default, std::string reuseIdentifier = {});
  std::string className() const override { return "TableViewCell"; }

  const std::string& reuseIdentifier() const { return reuseIdentifier_; }
  TableViewCellStyle style() const { return style_; }
  const std::shared_ptr<View>& contentView() const { return contentView_; }
  // Made on first use, inside the content view.
  std::shared_ptr<Label> textLabel();
  // Null for the default style.
  std::shared_ptr<Label> detailTextLabel();
  std::shared_ptr<ImageView> imageView();

  TableViewCellAccessoryType accessoryType() const { return accessory_; }
  void setAccessoryType(TableViewCellAccessoryType a);
  const std::shared_ptr<View>& accessoryView() const { return accessoryView_; }
  void setAccessoryView(std::shared_ptr<View> v);
  TableViewCellSelectionStyle selectionStyle() const { return selectionStyle_; }
  void setSelectionStyle(TableViewCellSelectionStyle s) { selectionStyle_ = s; }
  const std::shared_ptr<View>& backgroundView() const { return backgroundView_; }
  void setBackgroundView(std::shared_ptr<View> v);
  const std::shared_ptr<View>& selectedBackgroundView() const { return selectedBackgroundView_; }
  void setSelectedBackgroundView(std::shared_ptr<View> v);

  bool isSelected() const { return selected_; }
  void setSelected(bool s) { setSelected(s, false); }
  virtual void setSelected(bool selected, bool animated);
  bool isHighlighted() const { return highlighted_; }
  void setHighlighted(bool h) { setHighlighted(h, false); }
  virtual void setHighlighted(bool highlighted, bool animated);

  // Called by the table before the cell is handed out again.
  virtual void prepareForReuse();

  void layoutSubviews() override;
  void describeForDump(std::vector<std::string>& parts) const override;

 private:
  TableViewCellStyle style_;
  std::string reuseIdentifier_;
  std::shared_ptr<View> contentView_;
  std::shared_ptr<Label> textLabel_, detailTextLabel_;
  std::shared_ptr<ImageView> imageView_;
  TableViewCellAccessoryType accessory_ = TableViewCellAccessoryType::None;
  std::shared_ptr<View> accessoryView_;
  TableViewCellSelectionStyle selectionStyle_ = TableViewCellSelectionStyle::Blue;
  std::shared_ptr<View> backgroundView_, selectedBackgroundView_;
  bool selected_ = false, highlighted_ = false;
};

}  // namespace os
