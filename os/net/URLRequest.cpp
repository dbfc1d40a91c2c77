#include "os/net/URLRequest.h"

namespace os {

URLRequest::URLRequest(std::string url, URLRequestCachePolicy policy, double timeoutInterval)
    : url_(std::move(url)), timeout_(timeoutInterval), cachePolicy_(policy) {}

void URLRequest::setValueForHTTPHeaderField(std::optional<std::string> value, std::string_view field) {
  if (value)
    headers_.set(field, std::move(*value));
  else
    headers_.remove(field);
}

bool URLRequest::operator==(const URLRequest& o) const {
  return url_ == o.url_ && method_ == o.method_ && headers_ == o.headers_ && body_ == o.body_ &&
         bodyStream_ == o.bodyStream_ && timeout_ == o.timeout_ && cachePolicy_ == o.cachePolicy_ &&
         handleCookies_ == o.handleCookies_ && pipelining_ == o.pipelining_;
}

}  // namespace os
