#pragma once
// The process-wide cookie jar URL connections use when a request's cookie flag is on.
// Thread-safe. Servers choose what it keeps, so it is bounded: a cookie past kMaxCookieBytes is
// refused, and past kMaxCookiesPerDomain for its domain, or kMaxCookies or kMaxBytes in all, the
// oldest go (expired ones first).
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace os {

struct HTTPCookie {
  std::string name, value;
  std::string domain;  // lower case; the request's host for host-only cookies
  std::string path = "/";
  std::optional<double> expiresDate;  // seconds since 1970; absent for a session cookie
  bool hostOnly = true;
  bool secure = false;
  bool httpOnly = false;
};

class HTTPCookieStorage {
 public:
  // Name and value together, as the common limit on a cookie counts them.
  static constexpr std::size_t kMaxCookieBytes = 4096;
  static constexpr std::size_t kMaxCookiesPerDomain = 50;
  static constexpr std::size_t kMaxCookies = 3000;
  // Every cookie's name, value, domain and path.
  static constexpr std::size_t kMaxBytes = 1024 * 1024;

  static HTTPCookieStorage& shared();

  // Stores the cookies of a "Set-Cookie" value (several may be joined with ", ") received from
  // url. A cookie for a domain the host does not belong to is ignored; an expired one removes
  // its stored namesake.
  void setCookiesFromHeader(const std::string& setCookie, const std::string& url);
  // The same for the lines of an answer kept apart, one cookie a line: nothing is guessed, so a
  // bad line cannot glue itself onto a good one. Domains that are public suffixes (the public
  // suffix list), partial IP addresses and lines with control characters are refused.
  void setCookiesFromHeaderLines(const std::vector<std::string>& lines, const std::string& url);
  void setCookie(const HTTPCookie& cookie);
  void deleteCookie(const HTTPCookie& cookie);
  void removeAllCookies();

  std::vector<HTTPCookie> cookies() const;
  // Unexpired cookies that match the URL's host, path and scheme, longest path first.
  std::vector<HTTPCookie> cookiesForURL(const std::string& url) const;
  // "name=value; name2=value2", or absent when no cookie matches.
  std::optional<std::string> cookieHeaderForURL(const std::string& url) const;
  // What the kept cookies hold, as kMaxBytes counts it.
  std::size_t byteCount() const;

 private:
  void trimLocked(std::size_t kept);

  mutable std::mutex mutex_;
  std::vector<HTTPCookie> cookies_;
  std::size_t bytes_ = 0;
};

}  // namespace os
