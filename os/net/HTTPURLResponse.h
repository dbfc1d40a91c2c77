#pragma once
// The head of an HTTP answer as a copyable value.
#include <cstdint>
#include <string>
#include <vector>

#include "os/net/HTTPHeaderFields.h"

namespace os {

class HTTPURLResponse {
 public:
  HTTPURLResponse() = default;
  HTTPURLResponse(std::string url, int statusCode, HTTPHeaderFields headers);

  const std::string& url() const { return url_; }
  int statusCode() const { return status_; }
  const HTTPHeaderFields& allHeaderFields() const { return headers_; }
  std::optional<std::string> valueForHTTPHeaderField(std::string_view name) const { return headers_.value(name); }
  // Each received line of a field, apart: a field such as "Set-Cookie" cannot be split again once
  // its lines are joined. Only an answer read from the wire has them; any other gives none.
  std::vector<std::string> valuesForHTTPHeaderField(std::string_view name) const;
  void setReceivedFields(std::vector<HTTPHeaderFields::Field> fields) { receivedFields_ = std::move(fields); }

  // From "Content-Type": the media type in lower case (empty when the answer names none) and
  // its charset parameter (empty when none).
  const std::string& MIMEType() const { return mimeType_; }
  const std::string& textEncodingName() const { return encodingName_; }
  // "Content-Length", or -1 when the answer gives none (or an unreadable one).
  std::int64_t expectedContentLength() const { return expectedLength_; }
  // The "Content-Disposition" file name, else the URL's last path component, else its host,
  // else "Unknown".
  std::string suggestedFilename() const;

  bool operator==(const HTTPURLResponse& o) const {
    return url_ == o.url_ && status_ == o.status_ && headers_ == o.headers_;
  }

 private:
  std::string url_;
  int status_ = 0;
  HTTPHeaderFields headers_;
  std::string mimeType_, encodingName_;
  std::int64_t expectedLength_ = -1;
  std::vector<HTTPHeaderFields::Field> receivedFields_;
};

}  // namespace os
