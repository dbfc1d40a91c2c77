#include "os/net/HTTPURLResponse.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "os/net/URLParts.h"

namespace os {

namespace {

std::string trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return std::string(s);
}

std::string unquote(std::string s) {
  if (s.size() >= 2 && s.front() == '"' && s.back() == '"') return s.substr(1, s.size() - 2);
  return s;
}

// The value of parameter `name` in a header such as `text/html; charset=utf-8`.
std::string parameter(std::string_view header, std::string_view name) {
  std::size_t pos = header.find(';');
  while (pos != std::string_view::npos) {
    std::size_t next = header.find(';', pos + 1);
    std::string_view piece = header.substr(pos + 1, next == std::string_view::npos ? std::string_view::npos : next - pos - 1);
    std::size_t eq = piece.find('=');
    if (eq != std::string_view::npos) {
      std::string key = trim(piece.substr(0, eq));
      if (key.size() == name.size() &&
          std::equal(key.begin(), key.end(), name.begin(), [](char a, char b) { return std::tolower(a) == std::tolower(b); }))
        return unquote(trim(piece.substr(eq + 1)));
    }
    pos = next;
  }
  return {};
}

}  // namespace

HTTPURLResponse::HTTPURLResponse(std::string url, int statusCode, HTTPHeaderFields headers) {
  auto head = std::make_shared<Head>();
  head->url = std::move(url);
  head->status = statusCode;
  head->headers = std::move(headers);
  // Read in place: a copy of each value would be made only to be read.
  const auto find = [&](std::string_view name) -> const std::string* {
    for (const auto& [field, value] : head->headers)
      if (HTTPHeaderFields::namesEqual(field, name)) return &value;
    return nullptr;
  };
  if (const std::string* type = find("Content-Type")) {
    std::string media = trim(std::string_view(*type).substr(0, type->find(';')));
    std::transform(media.begin(), media.end(), media.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    head->mimeType = std::move(media);
    head->encodingName = parameter(*type, "charset");
  }
  if (const std::string* length = find("Content-Length")) {
    std::string t = trim(*length);
    std::int64_t n = -1;
    auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), n);
    if (ec == std::errc() && end == t.data() + t.size() && n >= 0) head->expectedLength = n;
  }
  head_ = std::move(head);
}

const HTTPURLResponse::Head& HTTPURLResponse::emptyHead() {
  static const Head* const empty = new Head;
  return *empty;
}

void HTTPURLResponse::setReceivedFields(std::vector<HTTPHeaderFields::Field> fields) {
  if (!head_ || head_.use_count() > 1) head_ = std::make_shared<Head>(head());
  head_->receivedFields = std::move(fields);
  head_->receivedAsListed = false;
}

void HTTPURLResponse::setReceivedFieldsAsListed() {
  if (!head_ || head_.use_count() > 1) head_ = std::make_shared<Head>(head());
  head_->receivedFields.clear();
  head_->receivedAsListed = true;
}

std::string HTTPURLResponse::suggestedFilename() const {
  const Head& h = head();
  if (auto disposition = h.headers.value("Content-Disposition")) {
    std::string name = parameter(*disposition, "filename");
    if (auto slash = name.find_last_of("/\\"); slash != std::string::npos) name = name.substr(slash + 1);
    if (!name.empty() && name != "." && name != ".." && name.find('\0') == std::string::npos) return name;
  }
  if (auto parts = net::parseURL(h.url)) {
    std::string path = parts->path;
    while (!path.empty() && path.back() == '/') path.pop_back();
    std::string last = path.substr(path.find_last_of('/') + 1);
    if (!last.empty()) return last;
    if (!parts->host.empty()) return parts->host;
  }
  return "Unknown";
}

std::vector<std::string> HTTPURLResponse::valuesForHTTPHeaderField(std::string_view name) const {
  std::vector<std::string> out;
  if (head().receivedAsListed) {
    if (auto value = head().headers.value(name)) out.push_back(std::move(*value));
    return out;
  }
  for (const auto& [field, value] : head().receivedFields)
    if (HTTPHeaderFields::namesEqual(field, name)) out.push_back(value);
  return out;
}

}  // namespace os
