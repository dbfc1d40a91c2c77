#include "platforms/renren/RennService.h"

#include "foundation/formats/JSONTraceFacade.h"
#include "foundation/formats/JSONTraceProfile.h"
#include "os/core/String.h"
#include "platforms/renren/RennClient.h"

std::shared_ptr<RennService> RennService::initWithDelegate(std::weak_ptr<RennServiveDelegate> delegate) {
  std::shared_ptr<RennService> service(new RennService());
  service->delegate_ = std::move(delegate);
  RennClient::serviceArray().push_back(service);
  return service;
}

RennService::~RennService() {
  if (request_) request_->clearDelegateAndCancel();
}

bool RennService::hasDelegate(const RennServiveDelegate* delegate) const {
  auto mine = delegate_.lock();
  return mine && mine.get() == delegate;
}

void RennService::clearDelegateAndCancel() {
  delegate_.reset();
  if (request_) request_->clearDelegateAndCancel();
}

void RennService::sendAsynRequest(const RennParam& param) {
  os::Dictionary parameters = param.toDictionary();
  if (param.path() == "/v2/photo/upload") {
    std::optional<os::Data> file;
    if (const os::Value* v = parameters.find("file"); v && v->data()) file = *v->data();
    parameters.remove("file");
    request_ = RennHttpRequest::initWithPath(param.path(), std::move(parameters));
    if (file) request_->setData(RennUploadPart{"file", "file.png", "image/png", std::move(*file)});
  } else {
    request_ = RennHttpRequest::initWithPath(param.path(), std::move(parameters));
  }
  request_->setDelegate(weak_from_this());
  request_->setHttpMethod(param.method());
  request_->startAsynchronous();
}

void RennService::requestResponseWithData(RennHttpRequest&, const os::Data& data) {
  const std::string text = os::stringFromData(data);
  std::optional<std::string_view> input;
  if (os::isValidUTF8(text)) input = text;  // undecodable bytes reach the parser as no text
  JSONTraceReader json(JSONTraceProfile::renren());
  os::Error error;
  auto object = json.objectWithString(input, &error);
  if (!object) return deliver(nullptr, &error);
  // An array at the top, or members of the wrong type, are a reply with neither member.
  const os::Dictionary* reply = object->dictionary();
  if (const os::Value* response = reply ? reply->find("response") : nullptr) return deliver(response, nullptr);
  if (const os::Dictionary* failure = reply ? (*reply)["error"].dictionary() : nullptr) {
    os::Dictionary info;
    if (const os::Value* code = failure->find("code")) info.set("code", *code);
    os::Error apiError((*failure)["message"].stringOr(""), 0, std::move(info));
    return deliver(nullptr, &apiError);
  }
  os::Error unknown("no response and error", 0, os::Dictionary{{"code", os::Value("UNKNOWN")}});
  deliver(nullptr, &unknown);
}

void RennService::requestFailWithError(RennHttpRequest&, const os::Error& error) { deliver(nullptr, &error); }

void RennService::deliver(const os::Value* response, const os::Error* error) {
  auto self = shared_from_this();  // leaving the pending list must not end this call
  RennClient::removeService(self);
  auto delegate = delegate_.lock();
  if (!delegate) return;
  if (response)
    delegate->rennServiceRequestSuccessWithResponse(*this, *response);
  else
    delegate->rennServiceRequestFailWithError(*this, *error);
}
