#include "qqconnect_core/requests/VelmoraRequest.h"

#include "qqconnect_core/json/TCOSDKSJSON.h"
#include "qqconnect_core/requests/URLTools.h"
#include "os/core/String.h"
#include "os/core/TextEncoding.h"
#include "os/graphics/ImageCodec.h"

namespace {

bool hasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

void append(os::Data& body, std::string_view text) { body.insert(body.end(), text.begin(), text.end()); }

}  // namespace

// ---- parameters ----

VelmoraParams::VelmoraParams(std::initializer_list<Entry> entries) {
  for (const auto& [key, value] : entries) set(key, value);
}

VelmoraParams::VelmoraParams(const os::Dictionary& values) {
  for (const auto& [key, value] : values) set(key, value);
}

void VelmoraParams::set(const std::string& key, VelmoraParamValue value) {
  for (auto& entry : entries_) {
    if (entry.first == key) {
      entry.second = std::move(value);
      return;
    }
  }
  entries_.emplace_back(key, std::move(value));
}

const VelmoraParamValue* VelmoraParams::find(const std::string& key) const {
  for (const auto& entry : entries_) {
    if (entry.first == key) return &entry.second;
  }
  return nullptr;
}

const std::string* VelmoraParams::string(const std::string& key) const {
  const VelmoraParamValue* v = find(key);
  const os::Value* value = v ? std::get_if<os::Value>(v) : nullptr;
  return value ? value->string() : nullptr;
}

bool VelmoraParams::remove(const std::string& key) {
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    if (it->first == key) {
      entries_.erase(it);
      return true;
    }
  }
  return false;
}

bool VelmoraParams::isPayload(const VelmoraParamValue& v) {
  const os::Value* value = std::get_if<os::Value>(&v);
  return !value || value->isData();
}

// ---- request ----

std::shared_ptr<VelmoraRequest> VelmoraRequest::getRequestWithParams(VelmoraParams params, std::string httpMethod,
                                                                    std::weak_ptr<VelmoraRequestDelegate> delegate,
                                                                    std::string requestURL) {
  auto request = std::make_shared<VelmoraRequest>();
  request->delegate_ = std::move(delegate);
  request->url_ = std::move(requestURL);
  request->httpMethod_ = std::move(httpMethod);
  request->params_ = std::move(params);
  return request;
}

VelmoraRequest::~VelmoraRequest() {
  delegate_.reset();
  if (connection_) connection_->cancel();
}

std::string VelmoraRequest::serializeURL(const std::string& url, const VelmoraParams& params, const std::string&) {
  const std::string_view beforeFragment = std::string_view(url).substr(0, url.find('#'));
  const char* separator = beforeFragment.find('?') != std::string_view::npos ? "&" : "?";
  std::vector<std::string> pairs;
  for (const auto& [key, value] : params) {
    if (VelmoraParams::isPayload(value)) continue;
    auto escaped = VelmoraEscapedQueryValue(std::get<os::Value>(value), VelmoraRequestQueryRules());
    pairs.push_back(key + "=" + escaped.value_or(""));
  }
  return url + separator + os::join(pairs, "&");
}

void VelmoraRequest::connect() {
  if (auto d = delegate()) d->requestLoading(*this);
  const std::string target = httpMethod_ == "GET" ? serializeURL(url_, params_, "GET") : url_;
  os::URLRequest request(target, os::URLRequestCachePolicy::ReloadIgnoringLocalCacheData, kVelmoraRequestTimeout);
  request.setValueForHTTPHeaderField(kVelmoraUserAgent, "User-Agent");
  request.setHTTPMethod(httpMethod_);
  // The transfer itself stops at the bound, so no more than the bound is ever read or waits to be
  // taken here.
  request.setMaximumReplyLength(kVelmoraMaxReplySize);

  // A line break would let a parameter write headers of its own: such values never become one.
  const std::string* skey = params_.string("skey");
  const std::string* uin = params_.string("uin");
  if (skey && uin && !skey->empty() && !uin->empty() && !hasLineBreak(*skey) && !hasLineBreak(*uin)) {
    request.setValueForHTTPHeaderField("_uin=" + *uin + ";_oskey=" + *skey, "Cookie");
  }
  for (const auto& [name, value] : httpHeaders_) {
    const std::string* text = value.string();
    if (!text || name.empty() || hasLineBreak(name) || hasLineBreak(*text)) continue;
    request.setValueForHTTPHeaderField(*text, name);
  }

  if (httpMethod_ == "POST") {
    bool multipart = false;
    for (const auto& entry : params_) multipart = multipart || VelmoraParams::isPayload(entry.second);
    if (multipart) {
      request.setValueForHTTPHeaderField(std::string("multipart/form-data; boundary=") + kVelmoraRequestBoundary,
                                         "Content-Type");
      request.setHTTPBody(generatePostBody());
    } else {
      request.setHTTPBody(generateOtherPostBody());
    }
  }
  if (connection_) connection_->cancel();
  connection_ = os::URLConnection::create(std::move(request), weak_from_this(), true);
}

void VelmoraRequest::cancel() {
  if (!connection_) return;
  connection_->cancel();
  delegate_.reset();
  finish();
}

os::Data VelmoraRequest::generateOtherPostBody() const {
  std::vector<std::string> pairs;
  for (const auto& [key, value] : params_) {
    const os::Value* v = std::get_if<os::Value>(&value);
    auto escaped = v ? VelmoraEscapedQueryValue(*v, VelmoraRequestQueryRules()) : std::nullopt;
    pairs.push_back(key + "=" + escaped.value_or(""));
  }
  return os::dataFromString(os::join(pairs, "&"));
}

os::Data VelmoraRequest::generatePostBody() const {
  const std::string boundary = kVelmoraRequestBoundary;
  os::Data body;
  append(body, "--" + boundary + "\r\n");
  bool first = true;
  const auto separator = [&] {
    if (!first) append(body, "\r\n--" + boundary + "\r\n");
    first = false;
  };
  std::vector<const VelmoraParams::Entry*> payloads;
  std::string fileName;
  for (const auto& entry : params_) {
    if (VelmoraParams::isPayload(entry.second)) {
      payloads.push_back(&entry);
      continue;
    }
    const os::Value& value = std::get<os::Value>(entry.second);
    if (entry.first == PARAM_SETUSERHEAD_FILENAME && value.string()) {
      fileName = *value.string();
      continue;
    }
    separator();
    append(body, "Content-Disposition: form-data; name=\"" + entry.first + "\"\r\n\r\n");
    append(body, TLQueryStringDescription(value));
  }
  if (fileName.empty()) fileName = "picture";
  for (const auto* entry : payloads) {
    os::Data bytes;
    if (const auto* image = std::get_if<std::shared_ptr<const os::Image>>(&entry->second)) {
      if (*image) bytes = os::encodeJPEG(**image, 0.4).value_or(os::Data{});
    } else {
      bytes = *std::get<os::Value>(entry->second).data();
    }
    separator();
    append(body, "Content-Disposition: form-data; name=\"" + entry->first + "\"; filename=\"" + fileName + "\"\r\n");
    append(body, "Content-Type: image/jpeg\r\n\r\n");
    body.insert(body.end(), bytes.begin(), bytes.end());
  }
  append(body, "\r\n--" + boundary + "--\r\n");
  return body;
}

os::Error VelmoraRequest::formError(long code, os::Dictionary userInfo) {
  return os::Error(kVelmoraErrorDomain, code, std::move(userInfo));
}

std::optional<os::Value> VelmoraRequest::parseJsonResponse(const os::Data& data, os::Error* error) {
  // UTF-8 is read where it lies; only the other encoding needs a converted copy.
  std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
  std::optional<std::string> converted;
  if (!os::isValidUTF8(text)) {
    converted = os::decodeText(text, os::StringEncoding::GB18030);
    if (!converted) return std::nullopt;
    text = *converted;
  }
  if (text == "true") return os::Value(os::Dictionary{{"result", "true"}});
  if (text == "false") {
    if (error) *error = formError(kVelmoraErrorAnswer, {{"error_msg", "This operation can not be completed"}});
    return std::nullopt;
  }
  TCOSDKSJSON json;
  auto result = json.objectWithString(text);
  if (!result || result->isArray()) return result;
  const os::Dictionary& d = *result->dictionary();
  if (d.contains("error")) {
    if (error) *error = formError(kVelmoraErrorAnswer, d);
    return std::nullopt;
  }
  if (d.contains("error_code")) {
    if (error) *error = formError(static_cast<long>(d["error_code"].intValue()), d);
    return std::nullopt;
  }
  if (error && (d.contains("error_msg") || d.contains("error_reason"))) *error = formError(kVelmoraErrorAnswer, d);
  return result;
}

void VelmoraRequest::failWithError(const os::Error& error) {
  if (auto d = delegate()) d->requestDidFailWithError(*this, error);
}

void VelmoraRequest::handleResponseData(const os::Data& data) {
  auto self = shared_from_this();  // a delegate may let go of the request in its callback
  if (auto d = delegate()) d->requestDidLoadRawResponse(*this, data);
  os::Error error;
  auto result = parseJsonResponse(data, &error);
  if (!error.domain.empty()) {
    failWithError(error);
  } else if (auto d = delegate()) {
    d->requestDidLoad(*this, result, data);
  }
}

void VelmoraRequest::finish() {
  responseText_.reset();
  connection_.reset();
}

void VelmoraRequest::didSendBodyData(os::URLConnection&, std::int64_t written, std::int64_t total, std::int64_t expected) {
  if (auto d = delegate()) d->requestDidSendBodyData(*this, written, total, expected);
}

void VelmoraRequest::didReceiveResponse(os::URLConnection&, const os::HTTPURLResponse& response) {
  responseText_.emplace();
  if (auto d = delegate()) d->requestDidReceiveResponse(*this, response);
}

void VelmoraRequest::didReceiveData(os::URLConnection&, const os::Data& data) {
  // The request's reply bound stops the transfer itself (see connect): what arrives here fits.
  if (!responseText_) responseText_.emplace();
  responseText_->insert(responseText_->end(), data.begin(), data.end());
}

void VelmoraRequest::didFinishLoading(os::URLConnection&) {
  auto self = shared_from_this();
  const os::Data data = std::move(responseText_).value_or(os::Data{});
  finish();
  handleResponseData(data);
}

void VelmoraRequest::didFailWithError(os::URLConnection&, const os::Error& error) {
  auto self = shared_from_this();
  finish();
  // The transfer stopped at the bound set in connect: this request's own error for it.
  if (error.domain == os::kURLErrorDomain && error.code == os::kURLErrorDataLengthExceedsMaximum) {
    failWithError(formError(kVelmoraErrorReplyTooLarge,
                            {{os::kErrorDescriptionKey, "The reply is larger than " +
                                                            std::to_string(kVelmoraMaxReplySize) + " bytes."}}));
    return;
  }
  failWithError(error);
}
