#include "news/store/VXAdDO.h"

#include "news/store/VXRecordReading.h"

using vxrecord::integerMember;
using vxrecord::stringMember;

VXAdDO::VXAdDO(const os::Dictionary& dict) {
  adid_ = integerMember(dict, "adid").value_or(0);
  type_ = integerMember(dict, "type").value_or(0);
  content_ = stringMember(dict, "content").value_or("");
  icon_ = stringMember(dict, "icon").value_or("");
  name_ = stringMember(dict, "name").value_or("");
  summary_ = stringMember(dict, "summary").value_or("");
}

std::string VXAdDO::description() const {
  auto line = [](const char* key, const std::string& value) { return std::string(key) + " = \"" + value + "\"\r\n"; };
  return line("adid", std::to_string(adid_)) + line("type", std::to_string(type_)) + line("content", content_) +
         line("icon", icon_) + line("name", name_) + line("summary", summary_);
}
