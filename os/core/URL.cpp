#include "os/core/URL.h"

namespace os {

namespace {

bool isAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isHex(char c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// Unreserved, gen-delims and sub-delims. "[" and "]" are let through outside the host too,
// because queries built by the HTTP client carry them ("a[x]=1").
bool isURLCharacter(char c) {
  if (isAlpha(c) || isDigit(c)) return true;
  switch (c) {
    case '-': case '.': case '_': case '~':
    case ':': case '/': case '?': case '#': case '[': case ']': case '@':
    case '!': case '$': case '&': case '\'': case '(': case ')': case '*': case '+': case ',': case ';': case '=':
      return true;
    default:
      return false;
  }
}

bool isSchemeCharacter(char c) { return isAlpha(c) || isDigit(c) || c == '+' || c == '-' || c == '.'; }

// Characters a path segment may hold as they are.
constexpr std::string_view kPathKeep =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~!$&'()*+,;=:@/";

// RFC 3986 section 5.2.4.
std::string removeDotSegments(std::string_view input) {
  std::string out;
  auto dropLastSegment = [&out] {
    std::size_t slash = out.rfind('/');
    out.erase(slash == std::string::npos ? 0 : slash);
  };
  while (!input.empty()) {
    if (input.starts_with("../")) {
      input.remove_prefix(3);
    } else if (input.starts_with("./")) {
      input.remove_prefix(2);
    } else if (input.starts_with("/./")) {
      input.remove_prefix(2);
    } else if (input == "/.") {
      input = "/";
    } else if (input.starts_with("/../")) {
      input.remove_prefix(3);
      dropLastSegment();
    } else if (input == "/..") {
      input = "/";
      dropLastSegment();
    } else if (input == "." || input == "..") {
      input = {};
    } else {
      std::size_t next = input.find('/', 1);
      if (next == std::string_view::npos) next = input.size();
      out.append(input.substr(0, next));
      input.remove_prefix(next);
    }
  }
  return out;
}

std::string decodedOrRaw(std::string_view s) {
  std::optional<std::string> d = percentUnescape(s);
  return d ? *d : std::string(s);
}

// True when the text begins with "scheme:", as split reads it.
bool startsWithScheme(std::string_view s) {
  std::size_t colon = s.find_first_of(":/?#");
  if (colon == std::string_view::npos || s[colon] != ':' || colon == 0 || !isAlpha(s[0])) return false;
  for (char c : s.substr(0, colon))
    if (!isSchemeCharacter(c)) return false;
  return true;
}

}  // namespace

struct URL::Parts {
  std::optional<std::string> scheme;
  std::optional<std::string> authority;
  std::string path;
  std::optional<std::string> query;
  std::optional<std::string> fragment;

  std::string compose() const {
    std::string out;
    out.reserve((scheme ? scheme->size() + 1 : 0) + (authority ? authority->size() + 2 : 0) + path.size() +
                (query ? query->size() + 1 : 0) + (fragment ? fragment->size() + 1 : 0));
    if (scheme) out.append(*scheme).append(1, ':');
    if (authority) out.append("//").append(*authority);
    out += path;
    if (query) out.append(1, '?').append(*query);
    if (fragment) out.append(1, '#').append(*fragment);
    return out;
  }
};

std::optional<URL::Parts> URL::split(std::string_view s) {
  bool sawHash = false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (c == '%') {
      if (s.size() - i < 3 || !isHex(s[i + 1]) || !isHex(s[i + 2])) return std::nullopt;
      i += 2;
      continue;
    }
    if (c == '#') {
      if (sawHash) return std::nullopt;
      sawHash = true;
    }
    if (!isURLCharacter(c)) return std::nullopt;
  }

  Parts p;
  if (startsWithScheme(s)) {
    std::size_t colon = s.find(':');
    p.scheme = std::string(s.substr(0, colon));
    s.remove_prefix(colon + 1);
  }
  if (s.starts_with("//")) {
    s.remove_prefix(2);
    std::size_t end = s.find_first_of("/?#");
    if (end == std::string_view::npos) end = s.size();
    p.authority = std::string(s.substr(0, end));
    s.remove_prefix(end);
  }
  std::size_t end = s.find_first_of("?#");
  if (end == std::string_view::npos) end = s.size();
  p.path = std::string(s.substr(0, end));
  s.remove_prefix(end);
  if (!s.empty() && s[0] == '?') {
    s.remove_prefix(1);
    end = s.find('#');
    if (end == std::string_view::npos) end = s.size();
    p.query = std::string(s.substr(0, end));
    s.remove_prefix(end);
  }
  if (!s.empty() && s[0] == '#') p.fragment = std::string(s.substr(1));
  return p;
}

std::optional<URL> URL::fromParts(Parts parts, std::string relative) {
  // Without an authority a path may not start with "//" (RFC 3986, 3.3): its text would read
  // back with the first segment as a host. A resolution or an appended component can produce
  // one; the dot segment in front keeps the path's meaning and makes the text unambiguous.
  if (!parts.authority && parts.path.starts_with("//")) parts.path.insert(0, "/.");
  // Likewise a reference without scheme whose first segment holds a colon (RFC 3986, 4.2): the
  // text would read back with that segment as the scheme.
  if (!parts.scheme && !parts.authority && startsWithScheme(parts.path)) parts.path.insert(0, "./");
  URL url;
  url.absolute_ = parts.compose();
  url.relative_ = std::move(relative);
  url.scheme_ = std::move(parts.scheme);
  url.path_ = std::move(parts.path);
  url.query_ = std::move(parts.query);
  url.fragment_ = std::move(parts.fragment);
  if (parts.authority) {
    url.hasAuthority_ = true;
    url.authority_ = std::move(*parts.authority);
    std::string_view hostPort = url.authority_;
    std::size_t at = hostPort.rfind('@');
    if (at != std::string_view::npos) {
      std::string_view userInfo = hostPort.substr(0, at);
      std::size_t colon = userInfo.find(':');
      url.user_ = decodedOrRaw(userInfo.substr(0, colon));
      if (colon != std::string_view::npos) url.password_ = decodedOrRaw(userInfo.substr(colon + 1));
      hostPort.remove_prefix(at + 1);
    }
    std::string_view portText;
    bool hasPort = false;
    if (hostPort.starts_with("[")) {
      std::size_t close = hostPort.find(']');
      if (close == std::string_view::npos) return std::nullopt;
      url.host_ = std::string(hostPort.substr(1, close - 1));
      std::string_view rest = hostPort.substr(close + 1);
      if (!rest.empty()) {
        if (rest[0] != ':') return std::nullopt;
        portText = rest.substr(1);
        hasPort = true;
      }
    } else {
      std::size_t colon = hostPort.rfind(':');
      url.host_ = std::string(hostPort.substr(0, colon));
      if (colon != std::string_view::npos) {
        portText = hostPort.substr(colon + 1);
        hasPort = true;
      }
    }
    if (hasPort && !portText.empty()) {
      if (portText.size() > 5) return std::nullopt;
      int port = 0;
      for (char c : portText) {
        if (!isDigit(c)) return std::nullopt;
        port = port * 10 + (c - '0');
      }
      if (port > 65535) return std::nullopt;
      url.port_ = port;
    }
  }
  return url;
}

std::optional<URL> URL::parse(std::string_view string) {
  if (string.empty()) return std::nullopt;
  std::optional<Parts> parts = split(string);
  if (!parts) return std::nullopt;
  return fromParts(std::move(*parts), std::string(string));
}

// RFC 3986 section 5.2.2 (strict: a reference with a scheme is taken as absolute).
std::optional<URL> URL::parse(std::string_view string, const URL& base) {
  std::optional<Parts> r = split(string);
  if (!r) return std::nullopt;
  Parts t;
  if (r->scheme) {
    t.scheme = std::move(r->scheme);
    t.authority = std::move(r->authority);
    t.path = removeDotSegments(r->path);
    t.query = std::move(r->query);
  } else {
    if (r->authority) {
      t.authority = std::move(r->authority);
      t.path = removeDotSegments(r->path);
      t.query = std::move(r->query);
    } else {
      if (r->path.empty()) {
        t.path = base.path_;
        t.query = r->query ? r->query : base.query_;
      } else {
        if (r->path[0] == '/') {
          t.path = removeDotSegments(r->path);
        } else {
          std::string merged;
          if (base.hasAuthority_ && base.path_.empty()) {
            merged = "/" + r->path;
          } else {
            std::size_t slash = base.path_.rfind('/');
            merged = (slash == std::string::npos ? std::string() : base.path_.substr(0, slash + 1)) + r->path;
          }
          t.path = removeDotSegments(merged);
        }
        t.query = std::move(r->query);
      }
      if (base.hasAuthority_) t.authority = base.authority_;
    }
    t.scheme = base.scheme_;
  }
  t.fragment = std::move(r->fragment);
  std::optional<URL> url = fromParts(std::move(t), std::string(string));
  if (url) url->base_ = std::make_shared<const URL>(base);
  return url;
}

std::optional<URL> URL::parseEscaping(std::string_view string) { return parse(escapeForURL(string)); }

std::optional<URL> URL::parseEscaping(std::string_view string, const URL& base) {
  return parse(escapeForURL(string), base);
}

std::string URL::escapeForURL(std::string_view string) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  bool sawHash = false;
  for (std::size_t i = 0; i < string.size(); ++i) {
    char c = string[i];
    bool keep;
    if (c == '%') keep = string.size() - i >= 3 && isHex(string[i + 1]) && isHex(string[i + 2]);
    else if (c == '#') {
      keep = !sawHash;
      sawHash = true;
    } else {
      keep = isURLCharacter(c);
    }
    if (keep) {
      out += c;
    } else {
      unsigned char b = static_cast<unsigned char>(c);
      out += '%';
      out += hex[b >> 4];
      out += hex[b & 15];
    }
  }
  return out;
}

std::string URL::scheme() const { return scheme_ ? lowercaseASCII(*scheme_) : std::string(); }

std::optional<std::string> URL::user() const { return user_; }
std::optional<std::string> URL::password() const { return password_; }

std::optional<std::string> URL::host() const {
  if (!hasAuthority_) return std::nullopt;
  return host_;
}

std::string URL::path() const {
  std::string_view p = path_;
  if (p.size() > 1 && p.back() == '/') p.remove_suffix(1);
  return decodedOrRaw(p);
}

std::vector<std::string> URL::pathComponents() const {
  std::vector<std::string> out;
  if (path_.starts_with("/")) out.emplace_back("/");
  for (const std::string& segment : os::split(path_, "/"))
    if (!segment.empty()) out.push_back(decodedOrRaw(segment));
  return out;
}

std::string URL::lastPathComponent() const {
  std::vector<std::string> components = pathComponents();
  return components.empty() ? std::string() : components.back();
}

std::string URL::pathExtension() const {
  std::string last = lastPathComponent();
  std::size_t dot = last.rfind('.');
  if (dot == std::string::npos || dot == 0) return {};
  return last.substr(dot + 1);
}

std::string URL::resourceSpecifier() const {
  std::optional<Parts> parts = split(relative_);
  if (parts && parts->scheme) return relative_.substr(parts->scheme->size() + 1);
  return relative_;
}

URL URL::appendingPathComponent(std::string_view component) const {
  Parts t;
  t.scheme = scheme_;
  if (hasAuthority_) t.authority = authority_;
  t.path = path_;
  if (t.path.empty()) {
    if (hasAuthority_) t.path = "/";
  } else if (t.path.back() != '/') {
    t.path += '/';
  }
  if (!t.path.empty() && component.starts_with("/")) component.remove_prefix(1);
  t.path += percentEscape(component, kPathKeep);
  t.query = query_;
  t.fragment = fragment_;
  // Every part comes from a valid URL and the component is escaped, so this cannot fail.
  URL url = *fromParts(t, {});
  url.relative_ = url.absolute_;
  return url;
}

std::vector<QueryItem> URL::queryItems() const { return query_ ? parseQuery(*query_) : std::vector<QueryItem>{}; }

std::vector<QueryItem> parseQuery(std::string_view query, bool plusAsSpace) {
  std::vector<QueryItem> out;
  for (const std::string& piece : split(query, "&")) {
    if (piece.empty()) continue;
    std::size_t eq = piece.find('=');
    std::string key = piece.substr(0, eq);
    std::string value = eq == std::string::npos ? std::string() : piece.substr(eq + 1);
    if (plusAsSpace) {
      key = replaceAll(key, "+", " ");
      value = replaceAll(value, "+", " ");
    }
    std::optional<std::string> k = percentUnescape(key), v = percentUnescape(value);
    if (!k || !v) continue;
    out.emplace_back(std::move(*k), std::move(*v));
  }
  return out;
}

std::string buildQuery(const std::vector<QueryItem>& items, std::string_view keep) {
  std::string out;
  for (const auto& [key, value] : items) {
    if (!out.empty()) out += '&';
    out += percentEscape(key, keep);
    out += '=';
    out += percentEscape(value, keep);
  }
  return out;
}

}  // namespace os
