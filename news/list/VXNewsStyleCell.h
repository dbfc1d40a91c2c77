#pragma once
// The rows of a news list, chosen by the item's style: title only, title with one picture, title
// with three pictures. Each shows the title (greyed once read), the source, a relative time, the
// "hot" badge and the album mark. setContent resets everything that depends on the item, so a
// reused cell never keeps a mark of its previous row.
#include <memory>
#include <string>

#include "news/store/VXNewsDO.h"
#include "os/views/ImageView.h"
#include "os/views/TableViewCell.h"

// Reuse identifiers the lists dequeue by.
inline constexpr const char* kTitleStyleCellIdentifier = "Tilte_Style_Cell";
inline constexpr const char* kOneIconStyleCellIdentifier = "OneIcon_Style_Cell";
inline constexpr const char* kThreeIconStyleCellIdentifier = "ThreeIcon_Style_Cell";

class VXNewsConfig;
class VXReaderContext;

class VXNewsStyleCell : public os::TableViewCell {
 public:
  // `context`: the reader context of the list showing the row (its text style and read history).
  VXNewsStyleCell(const std::string& identifier, const std::shared_ptr<VXReaderContext>& context);
  std::string className() const override { return "VXNewsStyleCell"; }

  // The content view takes the screen's width and the item's height.
  virtual void setContent(const std::shared_ptr<VXNewsDO>& item);
  const std::shared_ptr<VXNewsDO>& dataObject() const { return dataObject_; }

 protected:
  std::shared_ptr<VXReaderContext> readerContext() const { return context_.lock(); }
  // The context's text style; a default one once the context is gone.
  std::shared_ptr<VXNewsConfig> textStyle() const;

  std::shared_ptr<VXNewsDO> dataObject_;

 private:
  // Weak: the context holds the side menu, which holds the list showing this cell.
  std::weak_ptr<VXReaderContext> context_;
};

// Shows the picture at `url` in the view: from the disk cache at once (cut to twice the style's
// icon size), else loaded with the placeholder and the clip option.
void VXNewsCellLoadIcon(const std::shared_ptr<os::ImageView>& view, const std::string& url, const VXNewsConfig& style);
