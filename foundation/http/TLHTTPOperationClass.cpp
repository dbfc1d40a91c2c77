#include "foundation/http/TLHTTPOperationClass.h"

#include <map>
#include <mutex>

#include "os/core/URL.h"

namespace {

std::recursive_mutex& registryMutex() {
  static std::recursive_mutex m;
  return m;
}

std::map<std::string, const TLHTTPOperationClass*, std::less<>>& registry() {
  static std::map<std::string, const TLHTTPOperationClass*, std::less<>> r;
  return r;
}

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

}  // namespace

std::set<std::string> TLContentTypesFromHTTPHeader(const std::optional<std::string>& header) {
  std::set<std::string> types;
  if (!header) return types;
  std::string_view rest = *header;
  while (true) {
    std::size_t comma = rest.find(',');
    std::string_view piece = rest.substr(0, comma);
    piece = piece.substr(0, piece.find(';'));
    while (!piece.empty() && isSpace(piece.front())) piece.remove_prefix(1);
    while (!piece.empty() && isSpace(piece.back())) piece.remove_suffix(1);
    if (!piece.empty()) types.emplace(piece);
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  return types;
}

std::string TLStatusCodeRangesDescription(const TLHTTPOperationClass::StatusCodes& codes) {
  std::string out;
  auto it = codes.begin();
  while (it != codes.end()) {
    int first = *it, last = first;
    for (++it; it != codes.end() && *it == last + 1; ++it) last = *it;
    if (!out.empty()) out += ',';
    out += std::to_string(first);
    if (last != first) out += '-' + std::to_string(last);
  }
  return out;
}

TLHTTPOperationClass::TLHTTPOperationClass(std::string name, const TLHTTPOperationClass* parent, Factory factory)
    : name_(std::move(name)), parent_(parent), factory_(std::move(factory)) {
  std::lock_guard lock(registryMutex());
  registry()[name_] = this;
}

TLHTTPOperationClass::~TLHTTPOperationClass() {
  std::lock_guard lock(registryMutex());
  auto it = registry().find(name_);
  if (it != registry().end() && it->second == this) registry().erase(it);
}

const TLHTTPOperationClass* TLHTTPOperationClass::named(std::string_view name) {
  std::lock_guard lock(registryMutex());
  auto it = registry().find(name);
  return it == registry().end() ? nullptr : it->second;
}

bool TLHTTPOperationClass::isSubclassOf(const TLHTTPOperationClass& other) const {
  for (const TLHTTPOperationClass* c = this; c; c = c->parent_)
    if (c == &other) return true;
  return false;
}

void TLHTTPOperationClass::declareAcceptableStatusCodes(StatusCodes codes) {
  std::lock_guard lock(registryMutex());
  statusCodes_ = std::move(codes);
}

void TLHTTPOperationClass::declareAcceptableContentTypes(std::optional<ContentTypes> types) {
  std::lock_guard lock(registryMutex());
  contentTypes_ = std::move(types);
}

void TLHTTPOperationClass::declarePathExtensions(std::vector<std::string> extensions) {
  std::lock_guard lock(registryMutex());
  extensions_ = std::move(extensions);
}

std::optional<TLHTTPOperationClass::StatusCodes> TLHTTPOperationClass::acceptableStatusCodes() const {
  std::lock_guard lock(registryMutex());
  for (const TLHTTPOperationClass* c = this; c; c = c->parent_)
    if (c->statusCodes_) return c->statusCodes_;
  return std::nullopt;
}

std::optional<TLHTTPOperationClass::ContentTypes> TLHTTPOperationClass::acceptableContentTypes() const {
  std::lock_guard lock(registryMutex());
  for (const TLHTTPOperationClass* c = this; c; c = c->parent_)
    if (c->contentTypes_) return *c->contentTypes_;
  return std::nullopt;
}

bool TLHTTPOperationClass::acceptsStatusCode(int code) const {
  std::lock_guard lock(registryMutex());
  for (const TLHTTPOperationClass* c = this; c; c = c->parent_)
    if (c->statusCodes_) return c->statusCodes_->count(code) > 0;
  return true;
}

bool TLHTTPOperationClass::acceptsContentType(const std::string& type) const {
  std::lock_guard lock(registryMutex());
  for (const TLHTTPOperationClass* c = this; c; c = c->parent_)
    if (c->contentTypes_) return !*c->contentTypes_ || (*c->contentTypes_)->count(type) > 0;
  return true;
}

void TLHTTPOperationClass::addAcceptableStatusCodes(const StatusCodes& codes) {
  std::lock_guard lock(registryMutex());
  StatusCodes merged = acceptableStatusCodes().value_or(StatusCodes{});
  merged.insert(codes.begin(), codes.end());
  statusCodes_ = std::move(merged);
}

void TLHTTPOperationClass::addAcceptableContentTypes(const ContentTypes& types) {
  std::lock_guard lock(registryMutex());
  // Adding to "any type" leaves only the added types acceptable, as the union with nothing.
  ContentTypes merged = acceptableContentTypes().value_or(ContentTypes{});
  merged.insert(types.begin(), types.end());
  contentTypes_ = std::optional<ContentTypes>(std::move(merged));
}

const std::vector<std::string>* TLHTTPOperationClass::pathExtensions() const {
  for (const TLHTTPOperationClass* c = this; c; c = c->parent_)
    if (c->extensions_) return &*c->extensions_;
  return nullptr;
}

bool TLHTTPOperationClass::canProcessRequest(const os::URLRequest& request) const {
  if (!parent_) return true;
  {
    std::lock_guard lock(registryMutex());
    if (const auto* extensions = pathExtensions()) {
      if (auto url = os::URL::parse(request.url())) {
        std::string extension = url->pathExtension();
        for (const auto& e : *extensions)
          if (e == extension && !extension.empty()) return true;
      }
    }
  }
  auto acceptable = acceptableContentTypes();
  if (!acceptable) return false;
  for (const auto& type : TLContentTypesFromHTTPHeader(request.valueForHTTPHeaderField("Accept")))
    if (acceptable->count(type)) return true;
  return false;
}

std::shared_ptr<TLHTTPRequestOperation> TLHTTPOperationClass::instantiate(const os::URLRequest& request) const {
  return factory_ ? factory_(request) : nullptr;
}
