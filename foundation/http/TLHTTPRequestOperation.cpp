#include "foundation/http/TLHTTPRequestOperation.h"

#include <cstdio>

#include "os/runtime/DispatchQueue.h"
#include "os/store/Bundle.h"

namespace {

// Fills "%@", "%d" and "%lu" slots in order; "%%" stays a percent sign.
std::string fill(const std::string& format, std::initializer_list<std::string> args) {
  std::string out;
  auto arg = args.begin();
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size()) {
      std::size_t len = 0;
      if (format.compare(i + 1, 1, "@") == 0 || format.compare(i + 1, 1, "d") == 0) len = 1;
      else if (format.compare(i + 1, 2, "lu") == 0) len = 2;
      else if (format[i + 1] == '%') {
        out += '%';
        ++i;
        continue;
      }
      if (len && arg != args.end()) {
        out += *arg++;
        i += len;
        continue;
      }
    }
    out += format[i];
  }
  return out;
}

std::string setDescription(const TLHTTPOperationClass::ContentTypes& types) {
  os::Array members;
  for (const auto& t : types) members.emplace_back(t);
  return os::Value::set(std::move(members)).description();
}

}  // namespace

TLHTTPRequestOperation::TLHTTPRequestOperation(os::URLRequest request, const TLNetworkingEdition& edition)
    : TLURLConnectionOperation(std::move(request), edition) {}

std::shared_ptr<TLHTTPRequestOperation> TLHTTPRequestOperation::create(os::URLRequest request) {
  return std::make_shared<TLHTTPRequestOperation>(std::move(request));
}

std::vector<std::string> TLHTTPRequestOperation::archiveClassNames() const {
  std::vector<std::string> names;
  for (const TLHTTPOperationClass* c = &objectClass(); c; c = c->parent()) names.push_back(c->name());
  names.push_back("TLURLConnectionOperation");
  return names;
}

TLHTTPOperationClass& TLHTTPRequestOperation::operationClass() {
  static TLHTTPOperationClass* cls = [] {
    auto* c = new TLHTTPOperationClass("TLHTTPRequestOperation", nullptr, [](const os::URLRequest& r) {
      return std::static_pointer_cast<TLHTTPRequestOperation>(TLHTTPRequestOperation::create(r));
    });
    TLHTTPOperationClass::StatusCodes codes;
    for (int code = 200; code < 300; ++code) codes.insert(code);
    c->declareAcceptableStatusCodes(std::move(codes));
    c->declareAcceptableContentTypes(std::nullopt);
    return c;
  }();
  return *cls;
}

std::shared_ptr<TLURLConnectionOperation> TLHTTPRequestOperation::makeOperation(os::URLRequest request) const {
  if (auto op = objectClass().instantiate(request)) return op;
  return std::make_shared<TLHTTPRequestOperation>(std::move(request), edition());
}

bool TLHTTPRequestOperation::hasAcceptableStatusCode() const {
  auto r = response();
  return r && objectClass().acceptsStatusCode(r->statusCode());
}

bool TLHTTPRequestOperation::hasAcceptableContentType() const {
  auto r = response();
  if (!r) return false;
  return objectClass().acceptsContentType(r->MIMEType().empty() ? "application/octet-stream" : r->MIMEType());
}

std::string TLHTTPRequestOperation::localizedString(const std::string& key) const {
  return os::Bundle::mainBundle()->localizedStringForKey(key, "", edition().stringsTable);
}

os::Error TLHTTPRequestOperation::makeError(long code, const std::string& description, os::Dictionary extra) {
  os::Dictionary info;
  info.set(os::kErrorDescriptionKey, os::Value(description));
  if (auto text = responseString()) info.set(os::kErrorRecoverySuggestionKey, os::Value(*text));
  auto req = request();
  if (req.hasURL()) {
    info.set(os::kErrorFailingURLKey, os::Value(req.url()));
    info.set(os::kErrorFailingURLStringKey, os::Value(req.url()));
    info.set(edition().failingURLRequestKey,
             os::Value(os::Dictionary{{"URL", os::Value(req.url())}, {"HTTPMethod", os::Value(req.HTTPMethod())}}));
  }
  if (auto r = response())
    info.set(edition().failingURLResponseKey,
             os::Value(os::Dictionary{{"URL", os::Value(r->url())},
                                      {"statusCode", os::Value(r->statusCode())},
                                      {"MIMEType", os::Value(r->MIMEType())}}));
  for (const auto& [k, v] : extra) info.set(k, v);
  return os::Error(edition().errorDomain, code, std::move(info));
}

std::optional<os::Error> TLHTTPRequestOperation::error() {
  std::lock_guard guard(lock());
  if (!HTTPError_ && response()) {
    if (!hasAcceptableStatusCode()) {
      int status = response()->statusCode();
      std::string codes = TLStatusCodeRangesDescription(objectClass().acceptableStatusCodes().value_or(
          TLHTTPOperationClass::StatusCodes{}));
      HTTPError_ = makeError(-1011, fill(localizedString("Expected status code in (%@), got %d"), {codes, std::to_string(status)}));
    } else if (!hasAcceptableContentType() && !responseData().empty()) {
      std::string mime = response()->MIMEType();
      HTTPError_ = makeError(-1016, fill(localizedString("Expected content type %@, got %@"),
                                         {setDescription(objectClass().acceptableContentTypes().value_or(
                                              TLHTTPOperationClass::ContentTypes{})),
                                          mime}));
    }
  }
  if (HTTPError_) return HTTPError_;
  return TLURLConnectionOperation::error();
}

std::optional<os::Error> TLHTTPRequestOperation::HTTPError() const {
  std::lock_guard guard(lock());
  return HTTPError_;
}

os::StringEncoding TLHTTPRequestOperation::responseStringEncoding() {
  std::lock_guard guard(lock());
  auto r = response();
  if (edition().textTypesDefaultToLatin1 && r && r->textEncodingName().empty() && !responseData().empty() && !r->allHeaderFields().empty()) {
    // Text bodies that name no charset are Latin-1 by HTTP's old default.
    std::string contentType = r->valueForHTTPHeaderField("Content-Type").value_or("");
    std::size_t i = 0;
    while (i < contentType.size() && (contentType[i] == ' ' || contentType[i] == '\t' || contentType[i] == '\r' || contentType[i] == '\n')) ++i;
    std::size_t slash = contentType.find('/', i);
    std::string type = contentType.substr(i, slash == std::string::npos ? std::string::npos : slash - i);
    if (type == "text") return os::StringEncoding::ISOLatin1;
  }
  return TLURLConnectionOperation::responseStringEncoding();
}

void TLHTTPRequestOperation::pause() {
  std::lock_guard guard(lock());
  if (isPaused() || isFinished() || isCancelled()) return;
  std::uint64_t offset = bytesInOutputStream();
  os::URLRequest next = request();
  if (auto r = response())
    if (auto etag = r->valueForHTTPHeaderField("ETag")) next.setValueForHTTPHeaderField(*etag, "If-Range");
  next.setValueForHTTPHeaderField("bytes=" + std::to_string(offset) + "-", "Range");
  // The offset counts decoded bytes; a range only means the same thing in the body's own bytes
  // when the body comes uncoded.
  next.setValueForHTTPHeaderField("identity", "Accept-Encoding");
  setRequest(std::move(next));
  resumingWithRange_ = true;
  resumeOffset_ = offset;
  TLURLConnectionOperation::pause();
}

std::optional<os::Error> TLHTTPRequestOperation::prepareOutputForResponse(const os::HTTPURLResponse& response) {
  if (!resumingWithRange_) return std::nullopt;
  resumingWithRange_ = false;
  if (response.statusCode() == 206) {
    // The rest of the body is appended only when it starts where the received part ends.
    std::string range = response.valueForHTTPHeaderField("Content-Range").value_or("");
    std::string encoding = response.valueForHTTPHeaderField("Content-Encoding").value_or("identity");
    unsigned long long first = 0;
    char unit[8] = {};
    int consumed = 0;
    bool matches = std::sscanf(range.c_str(), "%7s %llu-%*u/%n", unit, &first, &consumed) >= 2 && std::string(unit) == "bytes" &&
                   consumed > 0 && first == resumeOffset_ && (encoding.empty() || encoding == "identity");
    if (matches) return std::nullopt;
    return makeError(-1011, "The server answered a resumed request with a part that does not continue the received body (" +
                                (range.empty() ? std::string("no Content-Range") : range) + ").");
  }
  // The server sent the whole body again (it ignored the range, or the entity changed since):
  // what was received before must not stay in front of it.
  auto stream = outputStream();
  if (stream->dataWritten()) {
    auto fresh = os::OutputStream::toMemory();
    fresh->open();
    setOutputStream(fresh);
    return std::nullopt;
  }
  return makeError(-1011, "The server answered a resumed request with the whole body and the output stream cannot start over.");
}

std::shared_ptr<os::DispatchQueue> TLHTTPRequestOperation::successCallbackQueue() const {
  std::lock_guard guard(lock());
  return successCallbackQueue_;
}
void TLHTTPRequestOperation::setSuccessCallbackQueue(std::shared_ptr<os::DispatchQueue> queue) {
  std::lock_guard guard(lock());
  successCallbackQueue_ = std::move(queue);
}
std::shared_ptr<os::DispatchQueue> TLHTTPRequestOperation::failureCallbackQueue() const {
  std::lock_guard guard(lock());
  return failureCallbackQueue_;
}
void TLHTTPRequestOperation::setFailureCallbackQueue(std::shared_ptr<os::DispatchQueue> queue) {
  std::lock_guard guard(lock());
  failureCallbackQueue_ = std::move(queue);
}
std::shared_ptr<os::DispatchQueue> TLHTTPRequestOperation::successQueueOrMain() const {
  auto q = successCallbackQueue();
  return q ? q : os::DispatchQueue::main();
}
std::shared_ptr<os::DispatchQueue> TLHTTPRequestOperation::failureQueueOrMain() const {
  auto q = failureCallbackQueue();
  return q ? q : os::DispatchQueue::main();
}

void TLHTTPRequestOperation::setCompletionBlockWithSuccess(SuccessBlock success, FailureBlock failure) {
  // Weak: an operation that never finishes must not keep itself alive through its own closure.
  std::weak_ptr<os::Operation> weak = weak_from_this();
  setCompletionBlock([weak, success = std::move(success), failure = std::move(failure)] {
    auto locked = weak.lock();
    if (!locked) return;
    auto op = std::static_pointer_cast<TLHTTPRequestOperation>(locked);
    if (op->isCancelled() && !op->edition().cancellationCallsFailure) return;
    if (auto error = op->error()) {
      if (failure) op->failureQueueOrMain()->async([op, failure, e = *error] { failure(op, e); });
    } else if (success) {
      op->successQueueOrMain()->async([op, success] { success(op, os::Value(op->responseData())); });
    }
  });
}
