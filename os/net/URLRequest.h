#pragma once
// One URL load as a copyable value: URL, method, headers, body (bytes or a stream), inactivity
// time-out, cache policy and cookie handling. Copies share a body stream.
#include <algorithm>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "os/core/Data.h"
#include "os/net/HTTPHeaderFields.h"
#include "os/net/Stream.h"

namespace os {

// The platform's numbering.
enum class URLRequestCachePolicy {
  UseProtocolCachePolicy = 0,
  ReloadIgnoringLocalCacheData = 1,
  ReturnCacheDataElseLoad = 2,
  ReturnCacheDataDontLoad = 3,
  ReloadIgnoringLocalAndRemoteCacheData = 4,
  ReloadRevalidatingCacheData = 5,
};

class URLRequest {
 public:
  static constexpr double kDefaultTimeoutInterval = 60.0;
  // The most of a reply's body (as it reaches the caller, after content decoding) any load takes
  // unless its request asks for less: no answer this client expects comes near it.
  static constexpr std::size_t kDefaultMaximumReplyLength = std::size_t{32} << 20;

  URLRequest() = default;
  explicit URLRequest(std::string url, URLRequestCachePolicy policy = URLRequestCachePolicy::UseProtocolCachePolicy,
                      double timeoutInterval = kDefaultTimeoutInterval);

  // The absolute URL text; empty when the request has none.
  const std::string& url() const { return url_; }
  void setURL(std::string url) { url_ = std::move(url); }
  bool hasURL() const { return !url_.empty(); }

  // "GET" unless set.
  const std::string& HTTPMethod() const { return method_; }
  void setHTTPMethod(std::string method) { method_ = method.empty() ? "GET" : std::move(method); }

  const HTTPHeaderFields& allHTTPHeaderFields() const;
  void setAllHTTPHeaderFields(HTTPHeaderFields fields);
  std::optional<std::string> valueForHTTPHeaderField(std::string_view field) const {
    return allHTTPHeaderFields().value(field);
  }
  // An absent value removes the field.
  void setValueForHTTPHeaderField(std::optional<std::string> value, std::string_view field);
  void addValueForHTTPHeaderField(std::string_view value, std::string_view field) { ownHeaders().add(field, value); }

  // Setting bytes drops a body stream and the other way round.
  const Data& HTTPBody() const { return body_; }
  void setHTTPBody(Data body) { body_ = std::move(body); bodyStream_.reset(); }
  const std::shared_ptr<InputStream>& HTTPBodyStream() const { return bodyStream_; }
  void setHTTPBodyStream(std::shared_ptr<InputStream> stream) { bodyStream_ = std::move(stream); body_.clear(); }

  // Seconds without any traffic after which the load fails with kURLErrorTimedOut (0 or less:
  // no limit). Measured on the real clock, as the transfer itself is; the virtual clock of tests
  // does not move it.
  double timeoutInterval() const { return timeout_; }
  void setTimeoutInterval(double seconds) { timeout_ = seconds; }

  // A reply whose body grows past this many bytes is stopped and the load fails with
  // kURLErrorDataLengthExceedsMaximum. At most kDefaultMaximumReplyLength: a request may only
  // ask for less.
  std::size_t maximumReplyLength() const { return maximumReplyLength_; }
  void setMaximumReplyLength(std::size_t bytes) { maximumReplyLength_ = std::min(bytes, kDefaultMaximumReplyLength); }

  URLRequestCachePolicy cachePolicy() const { return cachePolicy_; }
  void setCachePolicy(URLRequestCachePolicy p) { cachePolicy_ = p; }

  bool HTTPShouldHandleCookies() const { return handleCookies_; }
  void setHTTPShouldHandleCookies(bool on) { handleCookies_ = on; }
  bool HTTPShouldUsePipelining() const { return pipelining_; }
  void setHTTPShouldUsePipelining(bool on) { pipelining_ = on; }

  // Same URL, method, headers, body (streams by identity), time-out, reply bound, policy and flags.
  bool operator==(const URLRequest& o) const;

 private:
  std::string url_;
  std::string method_ = "GET";
  HTTPHeaderFields& ownHeaders();

  // A request is copied at every hand-over on its way to the wire, so copies share their fields
  // until one of them changes them.
  std::shared_ptr<HTTPHeaderFields> headers_;
  Data body_;
  std::shared_ptr<InputStream> bodyStream_;
  double timeout_ = kDefaultTimeoutInterval;
  std::size_t maximumReplyLength_ = kDefaultMaximumReplyLength;
  URLRequestCachePolicy cachePolicy_ = URLRequestCachePolicy::UseProtocolCachePolicy;
  bool handleCookies_ = true;
  bool pipelining_ = false;
};

}  // namespace os
