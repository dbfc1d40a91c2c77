#include "os/net/URLArchiving.h"

namespace os {

namespace {

// Header fields as [name, value] pairs: order and repeated fields survive.
Value headerPairs(const HTTPHeaderFields& fields) {
  Array pairs;
  for (const auto& [name, value] : fields) pairs.push_back(Value(Array{Value(name), Value(value)}));
  return Value(std::move(pairs));
}

HTTPHeaderFields headersFromPairs(const std::optional<Value>& value) {
  HTTPHeaderFields fields;
  if (!value || !value->array()) return fields;
  for (const auto& pair : *value->array()) {
    const Array* p = pair.array();
    if (!p || p->size() != 2 || !(*p)[0].string() || !(*p)[1].string()) continue;
    fields.add(*(*p)[0].string(), *(*p)[1].string());
  }
  return fields;
}

class ArchivedRequest : public Archivable {
 public:
  explicit ArchivedRequest(URLRequest r) : request(std::move(r)) {}
  std::vector<std::string> archiveClassNames() const override { return {"os.URLRequest"}; }
  void encodeWithCoder(KeyedArchiver& coder) const override {
    coder.encodeObject(Value(request.url()), "URL");
    coder.encodeObject(Value(request.HTTPMethod()), "method");
    coder.encodeObject(headerPairs(request.allHTTPHeaderFields()), "headers");
    if (!request.HTTPBody().empty()) coder.encodeObject(Value(request.HTTPBody()), "body");
    coder.encodeDouble(request.timeoutInterval(), "timeoutInterval");
    coder.encodeInt(static_cast<std::int32_t>(request.cachePolicy()), "cachePolicy");
    coder.encodeBool(request.HTTPShouldHandleCookies(), "handleCookies");
    coder.encodeBool(request.HTTPShouldUsePipelining(), "pipelining");
  }
  static std::shared_ptr<Archivable> decode(KeyedUnarchiver& coder) {
    URLRequest r(coder.decodeString("URL").value_or(""));
    r.setHTTPMethod(coder.decodeString("method").value_or("GET"));
    r.setAllHTTPHeaderFields(headersFromPairs(coder.decodeValue("headers")));
    if (auto body = coder.decodeData("body")) r.setHTTPBody(std::move(*body));
    if (coder.containsValueForKey("timeoutInterval")) r.setTimeoutInterval(coder.decodeDouble("timeoutInterval"));
    int policy = coder.decodeInt("cachePolicy");
    if (policy >= 0 && policy <= 5) r.setCachePolicy(static_cast<URLRequestCachePolicy>(policy));
    r.setHTTPShouldHandleCookies(!coder.containsValueForKey("handleCookies") || coder.decodeBool("handleCookies"));
    r.setHTTPShouldUsePipelining(coder.decodeBool("pipelining"));
    return std::make_shared<ArchivedRequest>(std::move(r));
  }
  URLRequest request;
};

class ArchivedResponse : public Archivable {
 public:
  explicit ArchivedResponse(HTTPURLResponse r) : response(std::move(r)) {}
  std::vector<std::string> archiveClassNames() const override { return {"os.HTTPURLResponse", "os.URLResponse"}; }
  void encodeWithCoder(KeyedArchiver& coder) const override {
    coder.encodeObject(Value(response.url()), "URL");
    coder.encodeInt(response.statusCode(), "statusCode");
    coder.encodeObject(headerPairs(response.allHeaderFields()), "headers");
  }
  static std::shared_ptr<Archivable> decode(KeyedUnarchiver& coder) {
    return std::make_shared<ArchivedResponse>(HTTPURLResponse(coder.decodeString("URL").value_or(""), coder.decodeInt("statusCode"),
                                                              headersFromPairs(coder.decodeValue("headers"))));
  }
  HTTPURLResponse response;
};

class ArchivedError : public Archivable {
 public:
  explicit ArchivedError(Error e) : error(std::move(e)) {}
  std::vector<std::string> archiveClassNames() const override { return {"os.Error"}; }
  void encodeWithCoder(KeyedArchiver& coder) const override {
    coder.encodeObject(Value(error.domain), "domain");
    coder.encodeInt64(error.code, "code");
    if (!error.userInfo.empty()) coder.encodeObject(Value(error.userInfo), "userInfo");
  }
  static std::shared_ptr<Archivable> decode(KeyedUnarchiver& coder) {
    Error e(coder.decodeString("domain").value_or(""), static_cast<long>(coder.decodeInt64("code")));
    if (auto info = coder.decodeValue("userInfo"); info && info->dictionary()) e.userInfo = *info->dictionary();
    return std::make_shared<ArchivedError>(std::move(e));
  }
  Error error;
};

}  // namespace

ArchiveItem archiveItem(const URLRequest& request) { return ArchiveItem(std::make_shared<ArchivedRequest>(request)); }
ArchiveItem archiveItem(const HTTPURLResponse& response) { return ArchiveItem(std::make_shared<ArchivedResponse>(response)); }
ArchiveItem archiveItem(const Error& error) { return ArchiveItem(std::make_shared<ArchivedError>(error)); }

std::optional<URLRequest> URLRequestFromArchiveItem(const ArchiveItem& item) {
  if (auto o = item.objectAs<ArchivedRequest>()) return o->request;
  return std::nullopt;
}

std::optional<HTTPURLResponse> HTTPURLResponseFromArchiveItem(const ArchiveItem& item) {
  if (auto o = item.objectAs<ArchivedResponse>()) return o->response;
  return std::nullopt;
}

std::optional<Error> ErrorFromArchiveItem(const ArchiveItem& item) {
  if (auto o = item.objectAs<ArchivedError>()) return o->error;
  return std::nullopt;
}

ArchiveClassRegistry& addURLLoadingArchiveClasses(ArchiveClassRegistry& registry) {
  return registry.add("os.URLRequest", &ArchivedRequest::decode)
      .add("os.HTTPURLResponse", &ArchivedResponse::decode)
      .add("os.Error", &ArchivedError::decode);
}

}  // namespace os
