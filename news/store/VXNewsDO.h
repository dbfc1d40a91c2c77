#pragma once
// One entry of a news list: read from an item of a news-list answer or from a stored row of the
// news database, saved into that database, and shown by a list cell. Immutable after construction
// except for the row height, which calHeightByStyle recomputes.
#include <optional>
#include <string>
#include <vector>

#include "os/core/Value.h"

class VXNewsConfig;

class VXNewsDO {
 public:
  // The list cell layouts.
  enum Style { kTitleStyle = 0, kOneIconStyle = 1, kThreeIconStyle = 2 };

  VXNewsDO() = default;
  // Reads "id", "type", "categoryid", "title", "source", "publishtime", "icons" and "upmark". A
  // member that is absent, null or of the wrong type keeps its default; "summary" is never read.
  explicit VXNewsDO(const os::Dictionary& dict);
  // The same, then the given category.
  VXNewsDO(const os::Dictionary& dict, long long category);

  long long ID() const { return ID_; }
  const std::string& type() const { return type_; }
  long long category() const { return category_; }
  int style() const { return style_; }
  std::optional<double> height() const { return height_; }
  std::optional<double> titleHeight() const { return titleHeight_; }
  const std::string& title() const { return title_; }
  const std::string& source() const { return source_; }
  // Seconds since 1970 as the server sends it.
  long long time() const { return time_; }
  const std::string& summary() const { return summary_; }
  const std::vector<std::string>& iconurls() const { return iconurls_; }
  const std::string& upmark() const { return upmark_; }

  // The row height for a screen of the given width (the main screen's), from the title measured
  // in the list title font of `style` (the current context's without); stores height and
  // titleHeight.
  double calHeightByStyle(double screenWidth);
  double calHeightByStyle(double screenWidth, const VXNewsConfig& style);

  // The dictionary the news database stores: "id", "category", "title", "source", "publishtime",
  // "summary" (always ""), "icon1" (with any icon), "icon2" and "icon3" (only with exactly three
  // icons), "upmark", "type".
  os::Dictionary dictForDB() const;
  // Stores the item in the shared news database; false when the category already holds it or the
  // insertion failed.
  bool saveToDB(bool front) const;

  std::string description() const;

 private:
  long long ID_ = 0;
  std::string type_;
  long long category_ = 0;
  int style_ = kTitleStyle;
  std::optional<double> height_;
  std::optional<double> titleHeight_;
  std::string title_;
  std::string source_;
  long long time_ = 0;
  std::string summary_;
  std::vector<std::string> iconurls_;
  std::string upmark_;
};
