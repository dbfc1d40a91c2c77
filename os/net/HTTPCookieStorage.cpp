#include "os/net/HTTPCookieStorage.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <libpsl.h>

#include <algorithm>
#include <cctype>
#include <memory>

#include "os/net/HTTPHeaderFields.h"
#include "os/net/URLParts.h"
#include "os/runtime/Clock.h"

namespace os {

namespace {

std::string trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return std::string(s);
}

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

// Splits a joined "Set-Cookie" value at the commas that start a new cookie; the comma inside an
// "Expires" date does not, as the text after it has no "=" before its first ";".
std::vector<std::string> splitCookies(const std::string& joined) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (std::size_t i = joined.find(','); i != std::string::npos; i = joined.find(',', i + 1)) {
    std::string_view rest = std::string_view(joined).substr(i + 1);
    std::size_t eq = rest.find('='), semi = rest.find(';');
    std::string name = eq == std::string_view::npos ? "" : trim(rest.substr(0, eq));
    bool startsCookie = eq != std::string_view::npos && (semi == std::string_view::npos || eq < semi) && !name.empty() &&
                        name.find(' ') == std::string::npos;
    if (startsCookie) {
      out.push_back(joined.substr(start, i - start));
      start = i + 1;
    }
  }
  out.push_back(joined.substr(start));
  return out;
}

bool isIPAddress(const std::string& host) {
  std::string bare = host;
  if (bare.size() >= 2 && bare.front() == '[' && bare.back() == ']') bare = bare.substr(1, bare.size() - 2);
  unsigned char buffer[16];
  return inet_pton(AF_INET, bare.c_str(), buffer) == 1 || inet_pton(AF_INET6, bare.c_str(), buffer) == 1;
}

// The public suffix list: the system's copy when there is one, else the library's own.
const psl_ctx_t* publicSuffixes() {
  static const std::unique_ptr<psl_ctx_t, void (*)(psl_ctx_t*)> list(psl_latest(nullptr), psl_free);
  return list ? list.get() : psl_builtin();
}

// "com", "co.uk" and the like: a cookie for one of them would go to every site under it.
bool isPublicSuffix(const std::string& domain) {
  const psl_ctx_t* list = publicSuffixes();
  return list && psl_is_public_suffix2(list, domain.c_str(), PSL_TYPE_ANY);
}

// Control characters (other than tab) have no place in a cookie and would travel in our headers.
bool hasControlCharacters(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char ch) {
    auto c = static_cast<unsigned char>(ch);
    return (c < 0x20 && c != '\t') || c == 0x7f;
  });
}

bool domainMatches(const std::string& host, const HTTPCookie& c) {
  if (c.hostOnly) return host == c.domain;
  // The tail of an address ("0.0.1" of 127.0.0.1) names nothing.
  if (isIPAddress(host)) return host == c.domain;
  return host == c.domain || (host.size() > c.domain.size() && host.compare(host.size() - c.domain.size(), c.domain.size(), c.domain) == 0 &&
                              host[host.size() - c.domain.size() - 1] == '.');
}

bool pathMatches(const std::string& path, const std::string& cookiePath) {
  if (path.rfind(cookiePath, 0) != 0) return false;
  return path.size() == cookiePath.size() || cookiePath.back() == '/' || path[cookiePath.size()] == '/';
}

std::string defaultPath(const std::string& path) {
  std::size_t slash = path.find_last_of('/');
  if (slash == 0 || slash == std::string::npos) return "/";
  return path.substr(0, slash);
}

bool sameCookie(const HTTPCookie& a, const HTTPCookie& b) {
  return a.name == b.name && a.domain == b.domain && a.path == b.path;
}

std::size_t sizeOf(const HTTPCookie& c) { return c.name.size() + c.value.size() + c.domain.size() + c.path.size(); }

}  // namespace

HTTPCookieStorage& HTTPCookieStorage::shared() {
  static HTTPCookieStorage storage;
  return storage;
}

void HTTPCookieStorage::setCookiesFromHeader(const std::string& header, const std::string& url) {
  setCookiesFromHeaderLines(splitCookies(header), url);
}

void HTTPCookieStorage::setCookiesFromHeaderLines(const std::vector<std::string>& lines, const std::string& url) {
  auto parts = net::parseURL(url);
  if (!parts || parts->host.empty()) return;
  double now = Clock::now();
  std::string host = lower(parts->host);
  for (const std::string& text : lines) {
    if (hasControlCharacters(text)) continue;
    std::size_t semi = text.find(';');
    std::string pair = text.substr(0, semi);
    std::size_t eq = pair.find('=');
    if (eq == std::string::npos) continue;
    HTTPCookie c;
    c.name = trim(std::string_view(pair).substr(0, eq));
    c.value = trim(std::string_view(pair).substr(eq + 1));
    if (c.name.empty()) continue;
    c.domain = host;
    c.path = defaultPath(parts->path);
    bool rejected = false, sawMaxAge = false;
    while (semi != std::string::npos) {
      std::size_t next = text.find(';', semi + 1);
      std::string attr = text.substr(semi + 1, next == std::string::npos ? std::string::npos : next - semi - 1);
      semi = next;
      std::size_t aeq = attr.find('=');
      std::string key = lower(trim(std::string_view(attr).substr(0, aeq)));
      std::string val = aeq == std::string::npos ? "" : trim(std::string_view(attr).substr(aeq + 1));
      if (key == "domain" && !val.empty()) {
        std::string d = lower(val);
        if (d.front() == '.') d.erase(0, 1);
        if (d == host) {
          // A domain that is the host itself stays host-only when it is an address or a public
          // suffix: nothing else may share it.
          c.hostOnly = isIPAddress(host) || isPublicSuffix(d);
        } else {
          HTTPCookie probe;
          probe.domain = d;
          probe.hostOnly = false;
          if (d.empty() || isPublicSuffix(d) || !domainMatches(host, probe)) rejected = true;
          c.hostOnly = false;
        }
        c.domain = d;
      } else if (key == "path" && !val.empty() && val.front() == '/') {
        c.path = val;
      } else if (key == "max-age") {
        char* end = nullptr;
        long long secs = std::strtoll(val.c_str(), &end, 10);
        if (end && *end == 0 && !val.empty()) {
          c.expiresDate = now + static_cast<double>(secs);
          sawMaxAge = true;
        }
      } else if (key == "expires" && !sawMaxAge) {
        time_t t = curl_getdate(val.c_str(), nullptr);
        if (t != -1) c.expiresDate = static_cast<double>(t);
      } else if (key == "secure") {
        c.secure = true;
      } else if (key == "httponly") {
        c.httpOnly = true;
      }
    }
    if (rejected) continue;
    if (c.expiresDate && *c.expiresDate <= now) {
      deleteCookie(c);
      continue;
    }
    setCookie(c);
  }
}

void HTTPCookieStorage::setCookie(const HTTPCookie& cookie) {
  if (cookie.name.size() + cookie.value.size() > kMaxCookieBytes) return;
  std::lock_guard<std::mutex> lock(mutex_);
  bytes_ += sizeOf(cookie);
  auto same = std::find_if(cookies_.begin(), cookies_.end(), [&](const HTTPCookie& c) { return sameCookie(c, cookie); });
  const auto kept = static_cast<std::size_t>(std::distance(cookies_.begin(), same));
  if (same != cookies_.end()) {
    // A replacement keeps its namesake's place, as it keeps its age.
    bytes_ -= sizeOf(*same);
    *same = cookie;
  } else {
    cookies_.push_back(cookie);
  }
  trimLocked(kept);
}

// Within the bounds again after the cookie at `kept` came in, which stays: the expired go first,
// then the oldest of its domain past the domain's share, then the oldest of all.
void HTTPCookieStorage::trimLocked(std::size_t kept) {
  const std::string& domain = cookies_[kept].domain;
  std::size_t count = cookies_.size(), bytes = bytes_, inDomain = 0;
  for (const auto& c : cookies_) inDomain += c.domain == domain;
  if (count <= kMaxCookies && bytes <= kMaxBytes && inDomain <= kMaxCookiesPerDomain) return;
  std::vector<bool> dropped(cookies_.size(), false);
  auto drop = [&](std::size_t i) {
    dropped[i] = true;
    --count;
    bytes -= sizeOf(cookies_[i]);
    if (cookies_[i].domain == domain) --inDomain;
  };
  const double now = Clock::now();
  for (std::size_t i = 0; i < cookies_.size(); ++i)
    if (i != kept && cookies_[i].expiresDate && *cookies_[i].expiresDate <= now) drop(i);
  for (std::size_t i = 0; i < cookies_.size() && inDomain > kMaxCookiesPerDomain; ++i)
    if (i != kept && !dropped[i] && cookies_[i].domain == domain) drop(i);
  for (std::size_t i = 0; i < cookies_.size() && (count > kMaxCookies || bytes > kMaxBytes); ++i)
    if (i != kept && !dropped[i]) drop(i);
  std::vector<HTTPCookie> left;
  left.reserve(count);
  for (std::size_t i = 0; i < cookies_.size(); ++i)
    if (!dropped[i]) left.push_back(std::move(cookies_[i]));
  cookies_ = std::move(left);
  bytes_ = bytes;
}

void HTTPCookieStorage::deleteCookie(const HTTPCookie& cookie) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::erase_if(cookies_, [&](const HTTPCookie& c) {
    if (!sameCookie(c, cookie)) return false;
    bytes_ -= sizeOf(c);
    return true;
  });
}

void HTTPCookieStorage::removeAllCookies() {
  std::lock_guard<std::mutex> lock(mutex_);
  cookies_.clear();
  bytes_ = 0;
}

std::size_t HTTPCookieStorage::byteCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return bytes_;
}

std::vector<HTTPCookie> HTTPCookieStorage::cookies() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return cookies_;
}

std::vector<HTTPCookie> HTTPCookieStorage::cookiesForURL(const std::string& url) const {
  {
    // Most loads find no cookies at all: no need to read their URL.
    std::lock_guard<std::mutex> lock(mutex_);
    if (cookies_.empty()) return {};
  }
  auto parts = net::parseURL(url);
  if (!parts) return {};
  double now = Clock::now();
  std::vector<HTTPCookie> out;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& c : cookies_) {
      if (c.expiresDate && *c.expiresDate <= now) continue;
      if (c.secure && parts->scheme != "https") continue;
      if (domainMatches(parts->host, c) && pathMatches(parts->path, c.path)) out.push_back(c);
    }
  }
  std::stable_sort(out.begin(), out.end(), [](const HTTPCookie& a, const HTTPCookie& b) { return a.path.size() > b.path.size(); });
  return out;
}

std::optional<std::string> HTTPCookieStorage::cookieHeaderForURL(const std::string& url) const {
  auto matching = cookiesForURL(url);
  if (matching.empty()) return std::nullopt;
  std::string header;
  for (const auto& c : matching) {
    if (!header.empty()) header += "; ";
    header += c.name + "=" + c.value;
  }
  return header;
}

}  // namespace os
