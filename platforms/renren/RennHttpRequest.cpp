#include "platforms/renren/RennHttpRequest.h"

#include "os/core/Date.h"
#include "os/core/String.h"
#include "os/crypto/Random.h"
#include "os/runtime/RunLoop.h"
#include "os/store/Sandbox.h"
#include "os/store/UserDefaults.h"
#include "os/views/Device.h"
#include "platforms/renren/OAuth2SignatureMethod.h"
#include "platforms/renren/RennLoginService.h"
#include "platforms/renren/RennUtility.h"

std::shared_ptr<RennHttpRequest> RennHttpRequest::initWithPath(const std::string& path, os::Dictionary param) {
  const std::string host = RennLoginService::sharedRennLoginService().hosts().apiHost;
  return initWithURL(os::URL::parse("http://" + host + path), std::move(param));
}

std::shared_ptr<RennHttpRequest> RennHttpRequest::initWithURL(std::optional<os::URL> url, os::Dictionary param) {
  return std::make_shared<RennHttpRequest>(std::move(url), std::move(param));
}

RennHttpRequest::RennHttpRequest(std::optional<os::URL> url, os::Dictionary param)
    : URL_(std::move(url)), param_(std::move(param)) {
  const os::Device& device = os::Device::current();
  ua_ = "(" + device.model() + " " + device.systemName() + " " + device.systemVersion() + ")";
}

void RennHttpRequest::clearDelegateAndCancel() {
  if (connection_) connection_->cancel();
  connection_.reset();
  responseData_.clear();
  delegate_.reset();
}

void RennHttpRequest::buildMultipartFormDataPostBody(os::URLRequest& request) const {
  if (!data_) return;
  const std::string boundary = "0xKhTmLbOuNdArY-" + os::uuidString();
  std::string head = "--" + boundary + "\r\n" + "Content-Disposition: form-data; name=\"" + data_->name +
                     "\"; filename=\"" + data_->filename + "\"\r\n" + "Content-Type: " + data_->contentType +
                     "\r\n\r\n";
  os::Data body = os::dataFromString(head);
  body.insert(body.end(), data_->data.begin(), data_->data.end());
  const std::string tail = "\r\n--" + boundary + "--\r\n";
  body.insert(body.end(), tail.begin(), tail.end());
  request.setValueForHTTPHeaderField("multipart/form-data; charset=utf-8; boundary=" + boundary, "Content-Type");
  request.setValueForHTTPHeaderField(std::to_string(body.size()), "Content-Length");
  request.setHTTPBody(std::move(body));
}

std::optional<RennAccessToken> RennHttpRequest::accessToken() const {
  auto record = os::Sandbox::current()->standardUserDefaults()->dictionaryForKey(kRennAccessTokenKey);
  if (!record) return std::nullopt;
  return RennAccessToken::fromDictionary(*record);
}

void RennHttpRequest::addAuthorization(os::URLRequest& request) const {
  auto token = accessToken();
  // Without a token there is nothing to name: the request goes without the header and the
  // service's refusal comes back as its error.
  if (!token || !token->accessToken()) return;
  const std::string& access = *token->accessToken();
  std::string header;
  if (token->isMac()) {
    // Seconds since 1970 in 64 bits: a 32-bit count runs out in 2038.
    const std::string ts = std::to_string(static_cast<long long>(os::Date::now().timeIntervalSince1970()));
    const std::string nonce = OAuth2SignatureMethod::getRandomStringForLength(8);
    const std::string host = RennLoginService::sharedRennLoginService().hosts().apiHost;
    const std::string& url = request.url();
    const std::size_t at = url.find(host);
    const std::string uri = at == std::string::npos ? url : url.substr(at + host.size());
    const std::string normalized =
        OAuth2SignatureMethod::normalizeRequestByTimestamp(ts, nonce, "", request.HTTPMethod(), uri, host, "80");
    const std::string mac = OAuth2SignatureMethod::sign(normalized, *token->macKey()).value_or("");
    header = "MAC id=\"" + access + "\",ts=\"" + ts + "\",nonce=\"" + nonce + "\",mac=\"" + mac + "\"";
  } else {
    header = "Bearer " + access;
  }
  request.setValueForHTTPHeaderField(header, "Authorization");
}

// A call that cannot go out fails on the next turn, as a transfer would, so its caller hears
// once and after the call that started it has returned.
void RennHttpRequest::failLater(std::string description) {
  std::weak_ptr<RennHttpRequest> weak = weak_from_this();
  os::RunLoop::main()->post([weak, description = std::move(description)] {
    auto self = weak.lock();
    if (!self || !self->delegate_.lock()) return;
    auto delegate = self->delegate_.lock();
    self->finish();
    delegate->requestFailWithError(*self, os::Error::withDescription("renren", 0, description));
  });
}

void RennHttpRequest::startAsynchronous() {
  // No address (a host or path it cannot be formed from): the call fails rather than never ending.
  if (!URL_) return failLater("The request has no valid address.");
  auto token = accessToken();
  // Signing takes ASCII keys only: a key that is not gives no signature at all.
  if (token && token->isMac() &&
      (!token->macKey() || !token->accessToken() || !OAuth2SignatureMethod::sign("", *token->macKey()))) {
    // A MAC token that cannot sign: the call fails instead of going out unsigned.
    return failLater("The stored MAC token has no key it can sign with, or no token text.");
  }
  std::string address = URL_->absoluteString();
  // Bearer tokens (and requests without one) travel only over https; MAC-signed ones need not.
  if (!token || !token->isMac()) address = os::replaceAll(address, "http://", "https://");
  if (!param_.empty()) address = RennUtility::serializeURL(address, param_);

  os::URLRequest request(address, os::URLRequestCachePolicy::ReloadIgnoringLocalCacheData, timeoutInterval_);
  request.setHTTPMethod(httpMethod_);
  request.setValueForHTTPHeaderField(ua_, "User-Agent");
  addAuthorization(request);
  if (httpMethod_ == "POST" && data_) buildMultipartFormDataPostBody(request);

  responseData_.clear();
  connection_ = os::URLConnection::create(request, weak_from_this(), false);
  connection_->scheduleInRunLoop(os::RunLoop::main());
  connection_->start();
}

void RennHttpRequest::didReceiveResponse(os::URLConnection&, const os::HTTPURLResponse&) { responseData_.clear(); }

void RennHttpRequest::didReceiveData(os::URLConnection&, const os::Data& data) {
  responseData_.insert(responseData_.end(), data.begin(), data.end());
}

void RennHttpRequest::didFinishLoading(os::URLConnection&) {
  auto self = shared_from_this();  // the delegate may let go of this request
  auto delegate = delegate_.lock();
  os::Data data = std::move(responseData_);
  finish();
  if (delegate) delegate->requestResponseWithData(*this, data);
}

void RennHttpRequest::didFailWithError(os::URLConnection&, const os::Error& error) {
  auto self = shared_from_this();
  auto delegate = delegate_.lock();
  finish();
  if (delegate) delegate->requestFailWithError(*this, error);
}

// The outcome is delivered once: afterwards the request holds nothing.
void RennHttpRequest::finish() {
  connection_.reset();
  responseData_.clear();
  delegate_.reset();
}
