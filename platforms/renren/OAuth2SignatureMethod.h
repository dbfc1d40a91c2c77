#pragma once
// The MAC signature of Renren API requests: a normalized text of the request signed with
// HMAC-SHA1 under the token's MAC key.
#include <cstddef>
#include <optional>
#include <string>

#include "os/core/Data.h"

class OAuth2SignatureMethod {
 public:
  // Base64 of HMAC-SHA1(key = secret, message = text). None when either is not pure ASCII.
  static std::optional<std::string> sign(const std::string& text, const std::string& secret);
  // ts, nonce, method, uri, host, port, ext, each followed by "\n"; the list ends at the first
  // absent value.
  static std::string normalizeRequestByTimestamp(const std::optional<std::string>& ts,
                                                 const std::optional<std::string>& nonce,
                                                 const std::optional<std::string>& ext,
                                                 const std::optional<std::string>& httpMethod,
                                                 const std::optional<std::string>& uri,
                                                 const std::optional<std::string>& host,
                                                 const std::optional<std::string>& port);
  // n characters of the signature's own alphabet; empty for n below 1.
  static std::string getRandomStringForLength(long n);
  // The process-wide line-wrapping Base64 (64 characters a line, "\r\n" between lines).
  static std::optional<std::string> base64EncodedStringWithData(const os::Data& data);
};
