#include "platforms/renren/RennParam.h"

#include "os/core/String.h"

RennParam::RennParam(std::string type, std::string path, std::string method, std::vector<RennField> fields,
                     long long integerDefault)
    : type_(std::move(type)), path_(std::move(path)), method_(std::move(method)) {
  slots_.reserve(fields.size());
  for (const RennField& field : fields) {
    Slot slot{field, std::nullopt, integerDefault, {}, std::nullopt};
    slots_.push_back(std::move(slot));
  }
}

os::Dictionary RennParam::toDictionary() const {
  os::Dictionary out;
  for (const Slot& slot : slots_) {
    switch (slot.field.kind) {
      case RennFieldKind::String:
        if (slot.text) out.set(slot.field.name, os::Value(*slot.text));
        break;
      case RennFieldKind::Integer:
        if (slot.integer != -1) out.set(slot.field.name, os::Value(std::to_string(slot.integer)));
        break;
      case RennFieldKind::List: {
        std::string joined = os::join(slot.list, ",");
        if (!joined.empty()) out.set(slot.field.name, os::Value(joined));
        break;
      }
      case RennFieldKind::Data:
        if (slot.data) out.set(slot.field.name, os::Value(*slot.data));
        break;
    }
  }
  return out;
}

std::optional<os::Dictionary> RennParam::getPropertiesAndTypesForClassName(std::string_view className) {
  auto param = create(className);
  if (!param) return std::nullopt;
  os::Dictionary types;
  for (const Slot& slot : param->slots_) {
    const char* name = slot.field.kind == RennFieldKind::String    ? "NSString"
                       : slot.field.kind == RennFieldKind::Integer ? "NSInteger"
                       : slot.field.kind == RennFieldKind::List    ? "NSArray"
                                                                  : "NSData";
    types.set(slot.field.name, os::Value(name));
  }
  return types;
}
