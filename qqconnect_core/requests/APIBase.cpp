#include "qqconnect_core/requests/APIBase.h"

#include "qqconnect_core/login/TcApiTool.h"
#include "os/core/String.h"
#include "os/core/TextEncoding.h"

namespace {
std::atomic<std::int32_t> gApiBaseSeq{1000};
}

std::shared_ptr<APIBase> APIBase::initWithTarget(std::weak_ptr<APIBaseTarget> target, Selector selector,
                                                 std::string httpMethod, os::Value userData,
                                                 std::weak_ptr<APIBaseDelegate> delegate) {
  auto api = std::make_shared<APIBase>();
  api->target_ = std::move(target);
  api->selector_ = std::move(selector);
  api->httpMethod_ = std::move(httpMethod);
  api->userData_ = std::move(userData);
  api->delegate_ = std::move(delegate);
  api->seq_ = getApiBaseSeq();
  return api;
}

APIBase::~APIBase() {
  if (request_) {
    request_->setDelegate({});
    request_->cancel();
  }
}

std::int32_t APIBase::getApiBaseSeq() { return ++gApiBaseSeq; }

std::shared_ptr<VelmoraRequest> APIBase::openUrl(const std::string& url, const std::optional<std::string>& token,
                                                 const std::optional<std::string>& openid,
                                                 const std::optional<std::string>& appid, VelmoraParams params) {
  return start(url, std::move(params), {{"oauth_consumer_key", appid}, {"access_token", token}, {"openid", openid}});
}

std::shared_ptr<VelmoraRequest> APIBase::openUrlBySkey(const std::string& url, const std::optional<std::string>& skey,
                                                       const std::optional<std::string>& uin,
                                                       const std::optional<std::string>& appid, VelmoraParams params) {
  return start(url, std::move(params), {{"oauth_consumer_key", appid}, {"skey", skey}, {"uin", uin}});
}

std::shared_ptr<VelmoraRequest> APIBase::start(const std::string& url, VelmoraParams params,
                                               const std::vector<Credential>& credentials) {
  if (const VelmoraParamValue* user = params.find(PARAM_USER_DATA)) {
    if (const os::Value* v = std::get_if<os::Value>(user)) userData_ = *v;
    params.remove(PARAM_USER_DATA);
  }
  for (const auto& [key, value] : TcApiTool::SDKInfo()) params.set(key, value);
  params.set("format", os::Value("json"));
  for (const auto& [key, value] : credentials) {
    if (value) params.set(key, os::Value(*value));
  }
  if (request_) {
    request_->setDelegate({});
    request_->cancel();
  }
  request_ = VelmoraRequest::getRequestWithParams(std::move(params), httpMethod_, weak_from_this(), url);
  request_->connect();
  return request_;
}

void APIBase::cancel() {
  if (request_) request_->cancel();
}

std::optional<std::string> APIBase::parsePermissionFromURL(const std::string& url) {
  std::string trimmed = os::trimCharacters(os::trimWhitespace(url), "/");
  trimmed = os::trimWhitespace(trimmed);
  if (trimmed.empty()) return std::nullopt;
  const std::size_t slash = trimmed.rfind('/');
  if (slash == std::string::npos) return std::nullopt;
  return trimmed.substr(slash + 1);
}

void APIBase::requestDidLoad(VelmoraRequest& request, const std::optional<os::Value>& result, const os::Data& data) {
  auto self = shared_from_this();
  auto response = std::make_shared<APIResponse>();
  response->setSeq(seq_);
  response->setUserData(userData_);
  const std::string_view raw(reinterpret_cast<const char*>(data.data()), data.size());
  auto text = os::decodeText(raw, os::StringEncoding::UTF8);
  if (!text) text = os::decodeText(raw, os::StringEncoding::GB18030);
  response->setMessage(text);
  const os::Dictionary* dict = result ? result->dictionary() : nullptr;
  if (dict && !dict->empty()) {
    response->setRetCode(0);
    response->setJsonResponse(*dict);
  } else {
    response->setRetCode(1);
    response->setErrorMsg(kAPIBaseBadAnswerMessage);
  }

  auto target = target_.lock();
  auto session = std::dynamic_pointer_cast<APIBaseSession>(target);
  const auto apiName = parsePermissionFromURL(request.url());
  bool deliverIt = true;
  if (session && apiName && dict) {
    const os::Value& ret = (*dict)["ret"];
    if (ret.isNumber() && ret.intValue() == 100030) deliverIt = session->velmoraNeedPerformIncrAuth(std::nullopt, {*apiName});
  }
  if (deliverIt && selector_ && target) {
    selector_(*target, response);
    return;
  }
  if (session) session->deleteAPIRequestBySeq(std::to_string(seq_));
}

void APIBase::requestDidFailWithError(VelmoraRequest&, const os::Error& error) {
  auto self = shared_from_this();
  auto response = std::make_shared<APIResponse>();
  response->setRetCode(1);
  response->setErrorMsg(error.localizedDescription());
  response->setSeq(seq_);
  response->setUserData(userData_);
  auto target = target_.lock();
  if (selector_ && target) selector_(*target, response);
}

void APIBase::requestDidSendBodyData(VelmoraRequest&, std::int64_t bytesWritten, std::int64_t totalBytesWritten,
                                     std::int64_t totalBytesExpectedToWrite) {
  if (auto d = delegate_.lock()) d->apiBaseDidSendBodyData(*this, bytesWritten, totalBytesWritten, totalBytesExpectedToWrite);
}
