#pragma once
// The process-wide cookie jar URL connections use when a request's cookie flag is on.
// Thread-safe. Servers choose what it keeps, so it is bounded, each cookie by its whole size
// (byteCountOf): one past kMaxCookieBytes is refused; past kMaxCookiesPerDomain for its domain the
// domain's least recently used go; past kMaxCookies or kMaxBytes in all, the expired go first, then
// the least recently used of the site (registrable domain) that set the cookie while it holds more
// than its share (a kSiteShare-th of either bound), then the least recently used of all. A cookie
// counts as used when it is set again or sent, so a sign-in cookie its server keeps renewing
// outlives the cookies of sites visited once.
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <unordered_map>
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
  // A cookie's whole size, as the common limit on a cookie counts it: name, value and attributes.
  static constexpr std::size_t kMaxCookieBytes = 4096;
  static constexpr std::size_t kMaxCookiesPerDomain = 50;
  static constexpr std::size_t kMaxCookies = 3000;
  static constexpr std::size_t kMaxBytes = 1024 * 1024;
  static constexpr std::size_t kSiteShare = 8;
  // What the expiry date and the flags count for in a cookie's size.
  static constexpr std::size_t kAttributeBytes = 16;

  static HTTPCookieStorage& shared();

  // Name, value, domain and path, and kAttributeBytes for the rest.
  static std::size_t byteCountOf(const HTTPCookie& cookie);

  // Stores the cookies of a "Set-Cookie" value (several may be joined with ", ") received from
  // url. A cookie for a domain the host does not belong to is ignored; an expired one removes
  // its stored namesake.
  void setCookiesFromHeader(const std::string& setCookie, const std::string& url);
  // The same for the lines of an answer kept apart, one cookie a line: nothing is guessed, so a
  // bad line cannot glue itself onto a good one. Domains that are public suffixes (the public
  // suffix list), partial IP addresses and lines with control characters are refused.
  void setCookiesFromHeaderLines(const std::vector<std::string>& lines, const std::string& url);
  // A cookie replacing its namesake (same name, domain and path) keeps its creation and counts
  // as newly used.
  void setCookie(const HTTPCookie& cookie);
  void deleteCookie(const HTTPCookie& cookie);
  void removeAllCookies();

  // Every kept cookie, in the order they were first set.
  std::vector<HTTPCookie> cookies() const;
  // Unexpired cookies that match the URL's host, path and scheme, longest path first, then the
  // first set first. They count as used.
  std::vector<HTTPCookie> cookiesForURL(const std::string& url);
  // "name=value; name2=value2", or absent when no cookie matches.
  std::optional<std::string> cookieHeaderForURL(const std::string& url);
  // What the kept cookies hold, as kMaxBytes counts it.
  std::size_t byteCount() const;

 private:
  struct Entry;
  using Order = std::map<std::uint64_t, Entry*>;  // by last use, least recent first
  // The cookies of one domain or of one site.
  struct Group {
    Order byUse;
    std::size_t bytes = 0;
  };
  struct Entry {
    HTTPCookie cookie;
    std::string site;
    std::size_t bytes = 0;
    std::uint64_t created = 0;
    std::uint64_t used = 0;
    std::multimap<double, Entry*>::iterator expiry;  // meaningful with an expiry date only
  };
  using Key = std::tuple<std::string, std::string, std::string>;  // domain, name, path

  Entry& insertLocked(const HTTPCookie& cookie, std::size_t bytes, std::uint64_t created);
  void removeLocked(Entry& entry);
  void touchLocked(Entry& entry);
  void trimLocked(const Entry& kept);
  bool overLocked() const;

  mutable std::mutex mutex_;
  // Ordered by domain first, so that a host's cookies are found without passing the others.
  std::map<Key, Entry> entries_;
  Order byUse_;
  std::unordered_map<std::string, Group> domains_;
  std::unordered_map<std::string, Group> sites_;
  std::multimap<double, Entry*> byExpiry_;
  std::size_t bytes_ = 0;
  std::uint64_t sequence_ = 0;
};

}  // namespace os
