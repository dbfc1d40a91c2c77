#pragma once
// The head of an HTTP answer as a copyable value. The answer is handed from the transport through
// the connection to its delegates and kept by each, so copies share one immutable head.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "os/net/HTTPHeaderFields.h"

namespace os {

class HTTPURLResponse {
 public:
  HTTPURLResponse() = default;
  HTTPURLResponse(std::string url, int statusCode, HTTPHeaderFields headers);

  const std::string& url() const { return head().url; }
  int statusCode() const { return head().status; }
  const HTTPHeaderFields& allHeaderFields() const { return head().headers; }
  std::optional<std::string> valueForHTTPHeaderField(std::string_view name) const { return head().headers.value(name); }
  // Each received line of a field, apart: a field such as "Set-Cookie" cannot be split again once
  // its lines are joined. Only an answer read from the wire has them; any other gives none.
  std::vector<std::string> valuesForHTTPHeaderField(std::string_view name) const;
  void setReceivedFields(std::vector<HTTPHeaderFields::Field> fields);
  // The answer's fields each came in one line, as allHeaderFields lists them: those are its
  // received lines (an answer that names no field twice needs no list of its own).
  void setReceivedFieldsAsListed();

  // From "Content-Type": the media type in lower case (empty when the answer names none) and
  // its charset parameter (empty when none).
  const std::string& MIMEType() const { return head().mimeType; }
  const std::string& textEncodingName() const { return head().encodingName; }
  // "Content-Length", or -1 when the answer gives none (or an unreadable one).
  std::int64_t expectedContentLength() const { return head().expectedLength; }
  // The "Content-Disposition" file name, else the URL's last path component, else its host,
  // else "Unknown".
  std::string suggestedFilename() const;

  bool operator==(const HTTPURLResponse& o) const {
    const Head& a = head();
    const Head& b = o.head();
    return &a == &b || (a.url == b.url && a.status == b.status && a.headers == b.headers);
  }

 private:
  struct Head {
    std::string url;
    int status = 0;
    HTTPHeaderFields headers;
    std::string mimeType, encodingName;
    std::int64_t expectedLength = -1;
    std::vector<HTTPHeaderFields::Field> receivedFields;
    bool receivedAsListed = false;  // the received lines are the fields of `headers`
  };
  const Head& head() const { return head_ ? *head_ : emptyHead(); }
  static const Head& emptyHead();

  // Never changed once shared: a change to a shared head goes to a copy of its own.
  std::shared_ptr<Head> head_;
};

}  // namespace os
