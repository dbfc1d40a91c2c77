#pragma once
// URL value type: parsing of absolute and relative references (RFC 3986), resolution against a
// base, component access and query helpers.
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "os/core/String.h"

namespace os {

using QueryItem = std::pair<std::string, std::string>;

class URL {
 public:
  // nullopt for an empty string or one holding a character that may not stand in a URL (space,
  // non-ASCII, control, quote, "<", ">", "\", "^", "`", "{", "|", "}", a "%" without two hex
  // digits, a second "#"), a bad scheme or a port that is not a number up to 65535.
  static std::optional<URL> parse(std::string_view string);
  // The string read relative to base; absoluteString() is the resolved form, relativeString()
  // the string as given. An empty string resolves to the base without its fragment.
  static std::optional<URL> parse(std::string_view string, const URL& base);
  static std::optional<URL> resolve(std::string_view relative, const URL& base) { return parse(relative, base); }
  // Percent-escapes (as UTF-8) the characters that may not stand in a URL, then parses. Escapes
  // already present are kept; a lone "%" becomes "%25". The first "#" stays the fragment mark.
  // A bad port or an unclosed "[" host still gives nullopt.
  static std::optional<URL> parseEscaping(std::string_view string);
  // The same for a reference read relative to base (a "Location" answer, say).
  static std::optional<URL> parseEscaping(std::string_view string, const URL& base);

  const std::string& absoluteString() const { return absolute_; }
  const std::string& relativeString() const { return relative_; }
  // The base this URL was resolved against, or nullptr.
  const URL* baseURL() const { return base_.get(); }

  // Lower-case; "" for a reference without scheme.
  std::string scheme() const;
  bool hasAuthority() const { return hasAuthority_; }
  // Percent-decoded user and password of the authority.
  std::optional<std::string> user() const;
  std::optional<std::string> password() const;
  // As written (IPv6 literals without their brackets); nullopt without an authority.
  std::optional<std::string> host() const;
  std::optional<int> port() const { return port_; }

  // Percent-decoded path; a trailing "/" is dropped (except for the path "/" itself). Falls back
  // to the raw path when the escapes do not decode as UTF-8.
  std::string path() const;
  // The path exactly as written.
  const std::string& rawPath() const { return path_; }
  bool hasDirectoryPath() const { return !path_.empty() && path_.back() == '/'; }
  // "/a/b/" gives "/", "a", "b"; empty segments are skipped; percent-decoded.
  std::vector<std::string> pathComponents() const;
  // The last of pathComponents(), "" when there is none.
  std::string lastPathComponent() const;
  // Text after the last "." of the last path component ("" when none, or for a leading dot only).
  std::string pathExtension() const;

  // Raw (still escaped); nullopt without "?"/"#", "" for a bare "?"/"#".
  const std::optional<std::string>& query() const { return query_; }
  const std::optional<std::string>& fragment() const { return fragment_; }
  // Everything after "scheme:" of the string as given (the whole string when it has no scheme).
  std::string resourceSpecifier() const;

  // A new absolute URL with the component added to the path ("/" inserted as needed; the
  // component is percent-escaped except for "/"; an empty one only adds a trailing "/"). Query
  // and fragment are kept.
  URL appendingPathComponent(std::string_view component) const;

  // The query split into pairs (see parseQuery); empty without a query.
  std::vector<QueryItem> queryItems() const;

  bool operator==(const URL& o) const { return absolute_ == o.absolute_; }
  bool operator!=(const URL& o) const { return !(*this == o); }

 private:
  URL() = default;
  struct Parts;
  static std::string escapeForURL(std::string_view string);
  static std::optional<Parts> split(std::string_view s);
  static std::optional<URL> fromParts(Parts parts, std::string relative);

  std::string absolute_;
  std::string relative_;
  std::shared_ptr<const URL> base_;
  std::optional<std::string> scheme_;
  bool hasAuthority_ = false;
  std::string authority_;
  std::optional<std::string> user_, password_;
  std::string host_;
  std::optional<int> port_;
  std::string path_;
  std::optional<std::string> query_, fragment_;
};

// Splits a query at "&" into pairs at the first "=" (a piece without "=" gives an empty value;
// empty pieces are skipped). Keys and values are percent-decoded, with "+" read as a space when
// asked; a piece whose escapes do not decode is skipped.
std::vector<QueryItem> parseQuery(std::string_view query, bool plusAsSpace = false);
// "k=v&k2=v2" with keys and values percent-escaped, keeping the characters in `keep`.
std::string buildQuery(const std::vector<QueryItem>& items, std::string_view keep = kURLUnreservedCharacters);

}  // namespace os
