#include "app/VXAlertMessage.h"

#include "news/home/VXGlobalHelperArticles.h"

namespace {

bool nonZeroInteger(const os::Value& v) { return (v.isNumber() || v.isString()) && v.intValue() != 0; }

}  // namespace

std::shared_ptr<VXAlertMessage> VXAlertMessage::createMessage(const os::Value& payload) {
  const os::Dictionary* dict = payload.dictionary();
  if (!dict) return nullptr;
  const std::string* alert = (*dict)["aps"]["alert"].string();
  if (!alert || alert->empty()) return nullptr;
  if (!nonZeroInteger((*dict)["id"]) || !nonZeroInteger((*dict)["category"])) return nullptr;
  return std::make_shared<VXAlertMessage>(*dict);
}

std::string VXAlertMessage::alert() const { return alertInfo_["aps"]["alert"].stringOr(); }

os::Dictionary VXAlertMessage::articleDict() const {
  os::Dictionary out;
  for (const char* key : {"id", "category", "icon"}) {
    const os::Value* v = alertInfo_.find(key);
    if (!v || v->isNull()) break;
    out.set(key, *v);
  }
  return out;
}

void VXAlertMessage::pushViewControler(os::ViewController& vc, const std::shared_ptr<VXReaderContext>& context) const {
  VXGlobalHelperArticles::pushViewControllerByDict(articleDict(), alertInfo_["type"], vc, context);
}
