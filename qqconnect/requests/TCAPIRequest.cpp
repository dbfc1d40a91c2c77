#include "qqconnect/requests/TCAPIRequest.h"

#include "qqconnect_core/requests/APIBase.h"
#include "qqconnect/login/VelmoraOAuth.h"
#include "os/runtime/Fatal.h"

std::shared_ptr<TCAPIRequest> TCAPIRequest::initWithURL(std::string url, std::string method) {
  return std::make_shared<TCAPIRequest>(std::move(url), std::move(method));
}

std::optional<TCAPIRequest::ClassInfo> TCAPIRequest::classInfo(const std::string& className,
                                                              const std::string& superclassName) {
  const std::size_t underscore = superclassName.find('_');
  if (underscore == std::string::npos) return std::nullopt;
  const std::string prefix = superclassName.substr(0, underscore + 1);
  auto endsWith = [&](const std::string& suffix) {
    return className.size() >= prefix.size() + suffix.size() &&
           className.compare(className.size() - suffix.size(), suffix.size(), suffix) == 0;
  };
  std::string suffix = endsWith("_POST") ? "_POST" : endsWith("_GET") ? "_GET" : "";
  if (className.rfind(prefix, 0) != 0 || suffix.empty())
    os::fatalError("Class name[" + className + "] isn't compatible with format: " + prefix + "(cgi path)_(POST|GET)");
  return ClassInfo{className.substr(prefix.size(), className.size() - prefix.size() - suffix.size()), suffix.substr(1)};
}

std::shared_ptr<TCAPIRequest> TCAPIRequest::initWithClass(const std::string& baseURL, const std::string& className,
                                                          const std::string& superclassName) {
  auto info = classInfo(className, superclassName);
  if (!info) return initWithURL(baseURL, "");
  std::string url = baseURL;
  if (url.empty() || url.back() != '/') url += "/";
  return initWithURL(url + info->path, info->method);
}

void TCAPIRequest::setObject(const os::Value& value, const std::string& key) { params_.set(key, value); }
void TCAPIRequest::removeObjectForKey(const std::string& key) { params_.remove(key); }

void TCAPIRequest::setParam(const std::string& name, const os::Value& value) {
  if (name.empty()) return;
  if (value.isNull())
    params_.remove(name);
  else
    params_.set(name, value);
}

void TCAPIRequest::setParamUserData(os::Value value) {
  paramUserData_ = std::move(value);
  setParam(PARAM_USER_DATA, paramUserData_);
}

bool TCAPIRequest::tryLoad() {
  std::int32_t idle = kIdle;
  return state_.compare_exchange_strong(idle, kLoading);
}

void TCAPIRequest::cancel() {
  std::int32_t from = state_.load();
  while ((from == kIdle || from == kLoading) && !state_.compare_exchange_weak(from, kCancelled)) {
  }
  if (from != kIdle && from != kLoading) return;
  auto keep = shared_from_this();
  if (auto session = session_.lock(); session && requestKey_) session->cancelWithRequestKey(requestKey_);
  reset();
}

void TCAPIRequest::reset() {
  session_.reset();
  requestKey_.reset();
  callback_.reset();
}

void TCAPIRequest::attach(std::string requestKey, std::weak_ptr<VelmoraOAuth> session,
                          std::weak_ptr<TCAPIRequestDelegate> callback) {
  requestKey_ = std::move(requestKey);
  session_ = std::move(session);
  callback_ = std::move(callback);
}

void TCAPIRequest::store(const std::shared_ptr<APIResponse>& response) {
  // Each later answer keeps the one before it under "jsonResponse".
  if (response_ && response) {
    os::Dictionary json = response->jsonResponse().value_or(os::Dictionary{});
    json.set("jsonResponse", response_->jsonResponse() ? os::Value(*response_->jsonResponse()) : os::Value());
    response->setJsonResponse(json);
  }
  response_ = response;
}

void TCAPIRequest::responseProcess(const std::shared_ptr<APIResponse>& response) { store(response); }

void TCAPIRequest::apiBaseDidResponse(APIBase&, const std::shared_ptr<APIResponse>& response) {
  store(response);
  std::int32_t loading = kLoading;
  if (!state_.compare_exchange_strong(loading, kAnswered)) return;
  auto keep = shared_from_this();
  if (auto callback = callback_.lock()) callback->cgiRequestDidResponse(*this, response);
}
