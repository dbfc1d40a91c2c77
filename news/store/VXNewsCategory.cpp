#include "news/store/VXNewsCategory.h"

#include "news/store/VXNewsDBManager.h"
#include "news/store/VXRecordReading.h"

using vxrecord::integerMember;
using vxrecord::stringMember;

VXNewsCategory::VXNewsCategory(const os::Dictionary& dict) {
  ID_ = integerMember(dict, "id").value_or(0);
  name_ = stringMember(dict, "name").value_or("");
  flag_ = integerMember(dict, "flag").value_or(1);
  order_ = integerMember(dict, "order").value_or(ID_);
}

VXNewsCategory::VXNewsCategory(const os::Dictionary& dict, bool db) : VXNewsCategory(dict) {
  if (db) saveToDB();
}

os::Dictionary VXNewsCategory::dictForDB() const {
  return os::Dictionary{{"id", os::Value(ID_)}, {"name", os::Value(name_)}, {"flag", os::Value(flag_)},
                        {"order", os::Value(order_)}};
}

bool VXNewsCategory::saveToDB() const { return VXNewsDBManager::share()->insertCategory(dictForDB()); }

std::string VXNewsCategory::description() const {
  auto line = [](const char* key, const std::string& value) { return std::string(key) + " = \"" + value + "\"\r\n"; };
  return line("ID", std::to_string(ID_)) + line("name", name_) + line("flag", std::to_string(flag_)) +
         line("order", std::to_string(order_)) + line("updateTime", std::to_string(updateTime_));
}
