#include "news/settings/VXSettingDO.h"

VXSettingDO::VXSettingDO(const os::Dictionary& dict) {
  type_ = static_cast<int>(dict["type"].intValue());
  name_ = dict["name"].stringOr();
  note_ = dict["note"].stringOr();
}

std::string VXSettingDO::description() const {
  return "type = \"" + std::to_string(type_) + "\"\r\n" + "name = \"" + name_ + "\"\r\n" + "content = \"" + note_ +
         "\"\r\n";
}
