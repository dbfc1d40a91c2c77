#include "foundation/formats/JSONTraceBase.h"

namespace {

os::Value errorValue(const os::Error& e) {
  return os::Value(os::Dictionary{{"domain", os::Value(e.domain)},
                                  {"code", os::Value::number('q', e.code)},
                                  {"userInfo", os::Value(e.userInfo)}});
}

}  // namespace

void JSONTraceBase::addErrorWithCode(long code, std::string description) {
  os::Dictionary info;
  info.set(os::kErrorDescriptionKey, os::Value(std::move(description)));
  if (!errorTrace_.empty()) info.set(os::kErrorUnderlyingErrorKey, errorValue(errorTrace_.back()));
  errorTrace_.emplace_back(profile_.errorDomain, code, std::move(info));
}

std::optional<os::Error> JSONTraceBase::underlyingError(const os::Error& error) {
  const os::Dictionary* d = error.userInfo[os::kErrorUnderlyingErrorKey].dictionary();
  if (!d) return std::nullopt;
  const std::string* domain = (*d)["domain"].string();
  const os::Dictionary* info = (*d)["userInfo"].dictionary();
  if (!domain || !info || !(*d)["code"].isNumber()) return std::nullopt;
  return os::Error(*domain, static_cast<long>((*d)["code"].intValue()), *info);
}

bool JSONTraceBase::enterLevel() {
  ++depth_;
  const std::uint32_t limit = maxDepth_.load();
  if ((limit != 0 && depth_ > limit) || depth_ > kNestingHardLimit) {
    addErrorWithCode(kJSONTraceTooDeep, "Nested too deep");
    return false;
  }
  return true;
}
