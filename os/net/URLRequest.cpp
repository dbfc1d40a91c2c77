#include "os/net/URLRequest.h"

namespace os {

URLRequest::URLRequest(std::string url, URLRequestCachePolicy policy, double timeoutInterval)
    : url_(std::move(url)), timeout_(timeoutInterval), cachePolicy_(policy) {}

const HTTPHeaderFields& URLRequest::allHTTPHeaderFields() const {
  static const HTTPHeaderFields* const empty = new HTTPHeaderFields;
  return headers_ ? *headers_ : *empty;
}

void URLRequest::setAllHTTPHeaderFields(HTTPHeaderFields fields) {
  headers_ = std::make_shared<HTTPHeaderFields>(std::move(fields));
}

HTTPHeaderFields& URLRequest::ownHeaders() {
  if (!headers_ || headers_.use_count() > 1) headers_ = std::make_shared<HTTPHeaderFields>(allHTTPHeaderFields());
  return *headers_;
}

void URLRequest::setValueForHTTPHeaderField(std::optional<std::string> value, std::string_view field) {
  if (value)
    ownHeaders().set(field, std::move(*value));
  else if (allHTTPHeaderFields().contains(field))
    ownHeaders().remove(field);
}

bool URLRequest::operator==(const URLRequest& o) const {
  return url_ == o.url_ && method_ == o.method_ && allHTTPHeaderFields() == o.allHTTPHeaderFields() && body_ == o.body_ &&
         bodyStream_ == o.bodyStream_ && timeout_ == o.timeout_ &&
         maximumReplyLength_ == o.maximumReplyLength_ && cachePolicy_ == o.cachePolicy_ &&
         handleCookies_ == o.handleCookies_ && pipelining_ == o.pipelining_;
}

}  // namespace os
