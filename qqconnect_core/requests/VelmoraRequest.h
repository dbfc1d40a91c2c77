#pragma once
// The one HTTP request object of the QQ Connect client: a URL, a method and parameters become an
// asynchronous load on the caller's run loop, whose answer is decoded as JSON and reported to a
// delegate. OpenAPI calls, action reports and the QQ client API all go through it.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "os/core/Data.h"
#include "os/core/Error.h"
#include "os/core/Value.h"
#include "os/net/URLConnection.h"

namespace os {
class Image;
}

inline constexpr const char* kVelmoraErrorDomain = "velmoraErrDomain";
inline constexpr const char* kVelmoraRequestBoundary = "od2ER5ioefd682HE14eh2n82n9M7rEu2nH85XQY1";
inline constexpr const char* kVelmoraUserAgent = "VelmoraConnect";
inline constexpr double kVelmoraRequestTimeout = 60;
inline constexpr long kVelmoraErrorAnswer = 10000;
// What the QQ Connect servers and applications answer is never larger than this: an HTTP reply
// or a pasteboard archive past it is refused, not held.
inline constexpr std::size_t kVelmoraMaxReplySize = 10485760;
// A reply passed kVelmoraMaxReplySize; the connection was stopped there.
inline constexpr long kVelmoraErrorReplyTooLarge = -1103;
// With a string value: not a form field, the file name of the payload parts.
inline constexpr const char* PARAM_SETUSERHEAD_FILENAME = "filename";

// A parameter: a value written as text, or a payload (data in an os::Value, or an image sent as
// JPEG) that makes a POST body multipart.
using VelmoraParamValue = std::variant<os::Value, std::shared_ptr<const os::Image>>;

// Parameters in the order they were first set.
class VelmoraParams {
 public:
  using Entry = std::pair<std::string, VelmoraParamValue>;
  VelmoraParams() = default;
  VelmoraParams(std::initializer_list<Entry> entries);
  VelmoraParams(const os::Dictionary& values);

  void set(const std::string& key, VelmoraParamValue value);
  const VelmoraParamValue* find(const std::string& key) const;
  // The value when it is a string.
  const std::string* string(const std::string& key) const;
  bool remove(const std::string& key);
  std::size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  auto begin() const { return entries_.begin(); }
  auto end() const { return entries_.end(); }

  static bool isPayload(const VelmoraParamValue& v);

 private:
  std::vector<Entry> entries_;
};

class VelmoraRequest;

// Every operation optional. Held weakly.
class VelmoraRequestDelegate {
 public:
  virtual ~VelmoraRequestDelegate() = default;
  virtual void requestLoading(VelmoraRequest& request) {}
  virtual void requestDidReceiveResponse(VelmoraRequest& request, const os::HTTPURLResponse& response) {}
  virtual void requestDidFailWithError(VelmoraRequest& request, const os::Error& error) {}
  // The parsed answer (nothing when it did not parse) and the raw bytes.
  virtual void requestDidLoad(VelmoraRequest& request, const std::optional<os::Value>& result, const os::Data& data) {}
  // Every finished answer, before parsing.
  virtual void requestDidLoadRawResponse(VelmoraRequest& request, const os::Data& data) {}
  virtual void requestDidSendBodyData(VelmoraRequest& request, std::int64_t bytesWritten, std::int64_t totalBytesWritten,
                                      std::int64_t totalBytesExpectedToWrite) {}
};

class VelmoraRequest : public os::URLConnectionDelegate, public std::enable_shared_from_this<VelmoraRequest> {
 public:
  // Not started: call connect.
  static std::shared_ptr<VelmoraRequest> getRequestWithParams(VelmoraParams params, std::string httpMethod,
                                                             std::weak_ptr<VelmoraRequestDelegate> delegate,
                                                             std::string requestURL);
  ~VelmoraRequest() override;

  // The URL with its GET query: "&" after an existing query, else "?" (which ends the URL even
  // with no pairs). Payloads cannot travel in a query and are left out.
  static std::string serializeURL(const std::string& url, const VelmoraParams& params, const std::string& httpMethod = "GET");

  // Starts the load on the calling thread's run loop.
  void connect();
  // No callback follows.
  void cancel();
  bool loading() const { return connection_ != nullptr; }

  // The answer as the OpenAPI servers mean it: "true" is {"result": "true"}, "false" and the
  // dictionaries naming "error", "error_code", "error_msg" or "error_reason" are errors of
  // kVelmoraErrorDomain carrying the dictionary (for "error_msg" and "error_reason" the
  // dictionary is returned as well). Text that does not parse: nothing, no error.
  static std::optional<os::Value> parseJsonResponse(const os::Data& data, os::Error* error);
  static os::Error formError(long code, os::Dictionary userInfo);

  // The two POST bodies: multipart when a payload is among the parameters, else a form.
  os::Data generatePostBody() const;
  os::Data generateOtherPostBody() const;

  std::shared_ptr<VelmoraRequestDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<VelmoraRequestDelegate> d) { delegate_ = std::move(d); }
  const std::string& url() const { return url_; }
  void setUrl(std::string url) { url_ = std::move(url); }
  const std::string& httpMethod() const { return httpMethod_; }
  void setHttpMethod(std::string m) { httpMethod_ = std::move(m); }
  VelmoraParams& params() { return params_; }
  const VelmoraParams& params() const { return params_; }
  // Extra request headers (string values only), set after the fixed ones.
  os::Dictionary& httpHeaders() { return httpHeaders_; }
  const std::shared_ptr<os::URLConnection>& connection() const { return connection_; }
  const std::optional<os::Data>& responseText() const { return responseText_; }

 private:
  void failWithError(const os::Error& error);
  void handleResponseData(const os::Data& data);
  void finish();

  // URL connection callbacks.
  void didSendBodyData(os::URLConnection&, std::int64_t written, std::int64_t total, std::int64_t expected) override;
  void didReceiveResponse(os::URLConnection&, const os::HTTPURLResponse& response) override;
  void didReceiveData(os::URLConnection&, const os::Data& data) override;
  std::optional<os::CachedURLResponse> willCacheResponse(os::URLConnection&, const os::CachedURLResponse&) override {
    return std::nullopt;
  }
  void didFinishLoading(os::URLConnection&) override;
  void didFailWithError(os::URLConnection&, const os::Error& error) override;

  std::weak_ptr<VelmoraRequestDelegate> delegate_;
  std::string url_;
  std::string httpMethod_;
  VelmoraParams params_;
  std::shared_ptr<os::URLConnection> connection_;
  std::optional<os::Data> responseText_;
  os::Dictionary httpHeaders_;
};
