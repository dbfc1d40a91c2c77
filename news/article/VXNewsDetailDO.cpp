#include "news/article/VXNewsDetailDO.h"

#include "news/api/VXReaderContext.h"
#include "news/store/VXNewsConfig.h"
#include "os/core/Log.h"
#include "os/core/String.h"
#include "os/views/Screen.h"

VXNewsDetailDO::VXNewsDetailDO(const os::Dictionary& dict)
    : type_(static_cast<long long>(numberOf(dict, "type"))), content_(textOf(dict, "content")) {}

double VXNewsDetailDO::calHeightByType() {
  os::log("did not calculate height of news tableview cell");
  actualHeight_ = 0;
  return 0;
}

std::string VXNewsDetailDO::line(const std::string& name, const std::string& value) {
  return name + " = \"" + value + "\"\r\n";
}

std::string VXNewsDetailDO::description() const {
  return line("type", std::to_string(type_)) + line("content", content_) +
         line("actualheight", os::format("%g", actualHeight_));
}

double VXNewsDetailDO::contentWidth() { return contentWidth(*VXNewsConfig::share()); }

double VXNewsDetailDO::contentWidth(const VXNewsConfig& style) {
  return os::Screen::main().bounds().size.width - 2 * style.detailInterval();
}

std::shared_ptr<VXNewsConfig> VXNewsDetailDO::textStyle() const {
  auto context = context_.lock();
  return context ? VXNewsConfig::share(*context) : VXNewsConfig::share();
}

std::string VXNewsDetailDO::textOf(const os::Dictionary& dict, std::string_view key) {
  const os::Value* value = dict.find(key);
  if (!value) return "";
  if (const std::string* text = value->string()) return *text;
  if (value->isNumber()) {
    return value->isFloatingPoint() ? os::format("%g", value->doubleValue()) : std::to_string(value->intValue());
  }
  return "";
}

double VXNewsDetailDO::numberOf(const os::Dictionary& dict, std::string_view key) {
  const os::Value* value = dict.find(key);
  if (!value || !(value->isNumber() || value->isString() || value->isBool())) return 0;
  return value->doubleValue();
}
