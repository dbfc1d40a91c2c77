#include "news/store/VXNewsDO.h"

#include <algorithm>

#include "news/store/VXNewsConfig.h"
#include "news/store/VXNewsDBManager.h"
#include "news/store/VXRecordReading.h"
#include "os/core/String.h"
#include "os/graphics/TextLayout.h"

using vxrecord::arrayMember;
using vxrecord::integerMember;
using vxrecord::stringMember;

VXNewsDO::VXNewsDO(const os::Dictionary& dict) {
  ID_ = integerMember(dict, "id").value_or(0);
  type_ = stringMember(dict, "type").value_or("");
  category_ = integerMember(dict, "categoryid").value_or(0);
  title_ = stringMember(dict, "title").value_or("");
  if (auto source = stringMember(dict, "source")) source_ = os::trimWhitespace(*source);
  time_ = integerMember(dict, "publishtime").value_or(0);
  upmark_ = stringMember(dict, "upmark").value_or("");
  if (const os::Array* icons = arrayMember(dict, "icons")) {
    for (const os::Value& icon : *icons)
      if (const std::string* url = icon.string()) iconurls_.push_back(*url);
  }
  if (iconurls_.empty())
    style_ = kTitleStyle;
  else if (iconurls_.size() == 3)
    style_ = kThreeIconStyle;
  else
    style_ = kOneIconStyle;
}

VXNewsDO::VXNewsDO(const os::Dictionary& dict, long long category) : VXNewsDO(dict) { category_ = category; }

double VXNewsDO::calHeightByStyle(double screenWidth) { return calHeightByStyle(screenWidth, *VXNewsConfig::share()); }

double VXNewsDO::calHeightByStyle(double screenWidth, const VXNewsConfig& style) {
  auto titleHeightIn = [&](double width) {
    return os::sizeWithFont(title_, style.cellTitleFont(), os::Size{std::max(width, 0.0), 100000}).height;
  };
  double th = 0;
  switch (style_) {
    case kTitleStyle:
      th = titleHeightIn(screenWidth - style.cellTitleLInterval1() - style.cellTitleRInterval1());
      height_ = th + 45;
      break;
    case kOneIconStyle:
      th = titleHeightIn(screenWidth - style.cellTitleLInterval2() - style.cellTitleRInterval2());
      height_ = std::max(th, style.cellIconHeight()) + 45;
      break;
    case kThreeIconStyle:
      th = titleHeightIn(screenWidth - style.cellTitleLInterval1() - style.cellTitleRInterval1());
      height_ = th + style.cellIconHeight() + 55;
      break;
    default:
      return height_.value_or(0);
  }
  titleHeight_ = th;
  return *height_;
}

os::Dictionary VXNewsDO::dictForDB() const {
  os::Dictionary d;
  d.set("id", os::Value(ID_));
  d.set("category", os::Value(category_));
  d.set("title", os::Value(title_));
  d.set("source", os::Value(source_));
  d.set("publishtime", os::Value(time_));
  d.set("summary", os::Value(""));
  if (!iconurls_.empty()) d.set("icon1", os::Value(iconurls_[0]));
  if (iconurls_.size() == 3) {
    d.set("icon2", os::Value(iconurls_[1]));
    d.set("icon3", os::Value(iconurls_[2]));
  }
  d.set("upmark", os::Value(upmark_));
  d.set("type", os::Value(type_));
  return d;
}

bool VXNewsDO::saveToDB(bool front) const { return VXNewsDBManager::share()->insertArticle(dictForDB(), front); }

std::string VXNewsDO::description() const {
  auto line = [](const char* key, const std::string& value) { return std::string(key) + " = \"" + value + "\"\r\n"; };
  auto optional = [](const std::optional<double>& v) { return v ? os::Value(*v).description() : std::string("(null)"); };
  os::Array icons;
  for (const auto& url : iconurls_) icons.push_back(os::Value(url));
  return line("category", std::to_string(category_)) + line("style", std::to_string(style_)) +
         line("height", optional(height_)) + line("titleheight", optional(titleHeight_)) +
         line("id", std::to_string(ID_)) + line("title", title_) + line("source", source_) +
         line("time", std::to_string(time_)) + line("summary", summary_) +
         line("iconurls", os::Value(icons).description());
}
