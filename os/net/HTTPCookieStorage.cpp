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

// The registrable domain a cookie's domain belongs to ("example.co.uk" of "news.example.co.uk"):
// the hosts of one site share its share of the jar. An address or a suffix stands for itself.
std::string siteOf(const std::string& domain) {
  if (isIPAddress(domain)) return domain;
  const psl_ctx_t* list = publicSuffixes();
  const char* site = list ? psl_registrable_domain(list, domain.c_str()) : nullptr;
  return site ? std::string(site) : domain;
}

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

std::size_t HTTPCookieStorage::byteCountOf(const HTTPCookie& c) {
  return c.name.size() + c.value.size() + c.domain.size() + c.path.size() + kAttributeBytes;
}

void HTTPCookieStorage::setCookie(const HTTPCookie& cookie) {
  const std::size_t bytes = byteCountOf(cookie);
  if (bytes > kMaxCookieBytes) return;
  std::lock_guard<std::mutex> lock(mutex_);
  std::uint64_t created = 0;
  if (auto same = entries_.find(Key{cookie.domain, cookie.name, cookie.path}); same != entries_.end()) {
    // A replacement keeps its namesake's creation, so that the order cookies are sent in holds.
    created = same->second.created;
    removeLocked(same->second);
  }
  trimLocked(insertLocked(cookie, bytes, created));
}

HTTPCookieStorage::Entry& HTTPCookieStorage::insertLocked(const HTTPCookie& cookie, std::size_t bytes, std::uint64_t created) {
  Entry& e = entries_.try_emplace(Key{cookie.domain, cookie.name, cookie.path}).first->second;
  e.cookie = cookie;
  e.site = siteOf(cookie.domain);
  e.bytes = bytes;
  e.created = created ? created : ++sequence_;
  e.used = ++sequence_;
  byUse_.emplace(e.used, &e);
  for (Group* g : {&domains_[cookie.domain], &sites_[e.site]}) {
    g->byUse.emplace(e.used, &e);
    g->bytes += bytes;
  }
  if (cookie.expiresDate) e.expiry = byExpiry_.emplace(*cookie.expiresDate, &e);
  bytes_ += bytes;
  return e;
}

void HTTPCookieStorage::removeLocked(Entry& e) {
  byUse_.erase(e.used);
  for (auto* groups : {&domains_, &sites_}) {
    auto g = groups->find(groups == &domains_ ? e.cookie.domain : e.site);
    g->second.byUse.erase(e.used);
    g->second.bytes -= e.bytes;
    if (g->second.byUse.empty()) groups->erase(g);
  }
  if (e.cookie.expiresDate) byExpiry_.erase(e.expiry);
  bytes_ -= e.bytes;
  entries_.erase(Key{e.cookie.domain, e.cookie.name, e.cookie.path});
}

void HTTPCookieStorage::touchLocked(Entry& e) {
  const std::uint64_t now = ++sequence_;
  byUse_.erase(e.used);
  byUse_.emplace(now, &e);
  for (Group* g : {&domains_.at(e.cookie.domain), &sites_.at(e.site)}) {
    g->byUse.erase(e.used);
    g->byUse.emplace(now, &e);
  }
  e.used = now;
}

bool HTTPCookieStorage::overLocked() const { return entries_.size() > kMaxCookies || bytes_ > kMaxBytes; }

// Within the bounds again after `kept` came in, which stays: its domain's least recently used past
// the domain's count; then, while the jar is past a bound, the expired, the least recently used of
// kept's site while it holds more than its share, and the least recently used of all. Each step
// takes from the front of an ordered index, so a set costs a few look-ups whatever the jar holds.
void HTTPCookieStorage::trimLocked(const Entry& kept) {
  // Kept is the most recently used of every order, so never the first of one with two members.
  auto dropFirst = [&](Order& order) {
    Entry* first = order.begin()->second;
    if (first == &kept) return false;
    removeLocked(*first);
    return true;
  };
  const std::string domain = kept.cookie.domain, site = kept.site;
  while (domains_.at(domain).byUse.size() > kMaxCookiesPerDomain && dropFirst(domains_.at(domain).byUse)) {
  }
  const double now = Clock::now();
  while (overLocked() && !byExpiry_.empty() && byExpiry_.begin()->first <= now) {
    auto first = byExpiry_.begin();
    if (first->second == &kept && ++first == byExpiry_.end()) break;
    if (first->first > now) break;
    removeLocked(*first->second);
  }
  auto overShare = [&] {
    const Group& g = sites_.at(site);
    return g.byUse.size() > kMaxCookies / kSiteShare || g.bytes > kMaxBytes / kSiteShare;
  };
  while (overLocked() && overShare() && dropFirst(sites_.at(site).byUse)) {
  }
  while (overLocked() && dropFirst(byUse_)) {
  }
}

void HTTPCookieStorage::deleteCookie(const HTTPCookie& cookie) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (auto same = entries_.find(Key{cookie.domain, cookie.name, cookie.path}); same != entries_.end()) removeLocked(same->second);
}

void HTTPCookieStorage::removeAllCookies() {
  std::lock_guard<std::mutex> lock(mutex_);
  byExpiry_.clear();
  sites_.clear();
  domains_.clear();
  byUse_.clear();
  entries_.clear();
  bytes_ = 0;
}

std::size_t HTTPCookieStorage::byteCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return bytes_;
}

std::vector<HTTPCookie> HTTPCookieStorage::cookies() const {
  std::vector<const Entry*> all;
  std::lock_guard<std::mutex> lock(mutex_);
  all.reserve(entries_.size());
  for (const auto& [key, e] : entries_) all.push_back(&e);
  std::sort(all.begin(), all.end(), [](const Entry* a, const Entry* b) { return a->created < b->created; });
  std::vector<HTTPCookie> out;
  out.reserve(all.size());
  for (const Entry* e : all) out.push_back(e->cookie);
  return out;
}

std::vector<HTTPCookie> HTTPCookieStorage::cookiesForURL(const std::string& url) {
  {
    // Most loads find no cookies at all: no need to read their URL.
    std::lock_guard<std::mutex> lock(mutex_);
    if (entries_.empty()) return {};
  }
  auto parts = net::parseURL(url);
  if (!parts) return {};
  const std::string host = lower(parts->host);
  const double now = Clock::now();
  std::vector<Entry*> matching;
  std::lock_guard<std::mutex> lock(mutex_);
  // The host's own cookies, then those of each domain above it (none above an address).
  for (std::size_t at = 0; at != std::string::npos; at = host.find('.', at + 1)) {
    const std::string domain = at == 0 ? host : host.substr(at + 1);
    if (domain.empty()) break;
    for (auto it = entries_.lower_bound(Key{domain, "", ""}); it != entries_.end() && std::get<0>(it->first) == domain; ++it) {
      const HTTPCookie& c = it->second.cookie;
      if (c.expiresDate && *c.expiresDate <= now) continue;
      if (c.secure && parts->scheme != "https") continue;
      if (domainMatches(host, c) && pathMatches(parts->path, c.path)) matching.push_back(&it->second);
    }
    if (isIPAddress(host)) break;
  }
  std::sort(matching.begin(), matching.end(), [](const Entry* a, const Entry* b) {
    if (a->cookie.path.size() != b->cookie.path.size()) return a->cookie.path.size() > b->cookie.path.size();
    return a->created < b->created;
  });
  std::vector<HTTPCookie> out;
  out.reserve(matching.size());
  for (Entry* e : matching) {
    touchLocked(*e);
    out.push_back(e->cookie);
  }
  return out;
}

std::optional<std::string> HTTPCookieStorage::cookieHeaderForURL(const std::string& url) {
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
