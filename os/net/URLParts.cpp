#include "os/net/URLParts.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <memory>

namespace os::net {

namespace {

struct UrlHandle {
  CURLU* h = curl_url();
  ~UrlHandle() { curl_url_cleanup(h); }
  std::optional<std::string> get(CURLUPart part, unsigned flags = 0) const {
    char* out = nullptr;
    if (curl_url_get(h, part, &out, flags) != CURLUE_OK || !out) return std::nullopt;
    std::string s(out);
    curl_free(out);
    return s;
  }
};

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

}  // namespace

std::optional<URLParts> parseURL(const std::string& url) {
  UrlHandle u;
  if (url.empty() || curl_url_set(u.h, CURLUPART_URL, url.c_str(), CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK)
    return std::nullopt;
  URLParts p;
  p.scheme = lower(u.get(CURLUPART_SCHEME).value_or(""));
  p.host = lower(u.get(CURLUPART_HOST).value_or(""));
  if (p.host.size() > 1 && p.host.front() == '[' && p.host.back() == ']') p.host = p.host.substr(1, p.host.size() - 2);
  auto port = u.get(CURLUPART_PORT, CURLU_DEFAULT_PORT);
  p.port = port ? std::atoi(port->c_str()) : 0;
  p.path = u.get(CURLUPART_PATH).value_or("/");
  if (p.path.empty()) p.path = "/";
  p.query = u.get(CURLUPART_QUERY).value_or("");
  return p;
}

std::optional<std::string> resolveURL(const std::string& base, const std::string& reference) {
  UrlHandle u;
  if (curl_url_set(u.h, CURLUPART_URL, base.c_str(), CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK) return std::nullopt;
  if (curl_url_set(u.h, CURLUPART_URL, reference.c_str(), CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK)
    return std::nullopt;
  return u.get(CURLUPART_URL);
}

}  // namespace os::net
