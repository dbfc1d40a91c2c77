#include "qqconnect_core/login/APIResponse.h"

#include "os/core/String.h"

namespace {
// A text from another application that is no UTF-8 counts as absent.
std::optional<std::string> decodeText(os::KeyedUnarchiver& coder, const char* key) {
  auto s = coder.decodeString(key);
  if (s && !os::isValidUTF8(*s)) return std::nullopt;
  return s;
}
}  // namespace

void APIResponse::encodeWithCoder(os::KeyedArchiver& coder) const {
  coder.encodeInt(detailRetCode_, "detailRetCode");
  coder.encodeInt(retCode_, "retCode");
  coder.encodeInt(seq_, "seq");
  if (errorMsg_) coder.encodeObject(os::Value(*errorMsg_), "errorMsg");
  if (jsonResponse_) coder.encodeObject(os::Value(*jsonResponse_), "jsonResponse");
  if (message_) coder.encodeObject(os::Value(*message_), "message");
}

std::shared_ptr<APIResponse> APIResponse::initWithCoder(os::KeyedUnarchiver& coder) {
  auto response = std::make_shared<APIResponse>();
  response->detailRetCode_ = coder.decodeInt("detailRetCode");
  response->retCode_ = coder.decodeInt("retCode");
  response->seq_ = coder.decodeInt("seq");
  response->errorMsg_ = decodeText(coder, "errorMsg");
  if (auto json = coder.decodeValue("jsonResponse"); json && json->dictionary()) response->jsonResponse_ = *json->dictionary();
  response->message_ = decodeText(coder, "message");
  return response;
}

os::ArchiveClassRegistry& APIResponse::registerArchiveClass(os::ArchiveClassRegistry& registry) {
  return registry.add(kClassName, [](os::KeyedUnarchiver& coder) -> std::shared_ptr<os::Archivable> {
    return initWithCoder(coder);
  });
}
