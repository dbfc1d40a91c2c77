#include "foundation/http/TLHTTPClient.h"

#include <atomic>
#include <cstdio>
#include <mutex>

#include "foundation/formats/Base64.h"
#include "foundation/formats/JTSerializer.h"
#include "foundation/http/TLStreamingMultipartFormData.h"
#include "os/core/Log.h"
#include "os/runtime/DispatchGroup.h"
#include "os/runtime/DispatchQueue.h"
#include "os/store/Bundle.h"
#include "os/store/PropertyList.h"
#include "os/views/Device.h"
#include "os/views/Screen.h"

namespace {

std::mutex gEnvironmentMutex;
// Never destroyed: work on other threads may still reach it while the process exits.
std::optional<TLHTTPClientEnvironment>& gEnvironment = *new std::optional<TLHTTPClientEnvironment>;

os::URL withTrailingSlash(const os::URL& url) {
  if (!url.rawPath().empty() && !url.absoluteString().ends_with("/")) return url.appendingPathComponent("");
  return url;
}

os::Error encodingError(const TLNetworkingEdition& edition, const std::string& description) {
  return os::Error(edition.errorDomain, -1000, os::Dictionary{{os::kErrorDescriptionKey, os::Value(description)}});
}

}  // namespace

TLHTTPClientEnvironment TLHTTPClientEnvironment::current() {
  {
    std::lock_guard lock(gEnvironmentMutex);
    if (gEnvironment) return *gEnvironment;
  }
  TLHTTPClientEnvironment env;
  auto bundle = os::Bundle::mainBundle();
  env.executableName = bundle->objectForInfoDictionaryKey("CFBundleExecutable").stringOr();
  env.bundleIdentifier = bundle->bundleIdentifier().value_or("");
  env.bundleVersion = bundle->objectForInfoDictionaryKey("CFBundleVersion").stringOr();
  env.deviceModel = os::Device::current().model();
  env.systemVersion = os::Device::current().systemVersion();
  env.screenScale = os::Screen::main().scale();
  return env;
}

void TLHTTPClientEnvironment::setCurrent(std::optional<TLHTTPClientEnvironment> environment) {
  std::lock_guard lock(gEnvironmentMutex);
  gEnvironment = std::move(environment);
}

std::string TLAcceptLanguageHeader(const std::vector<std::string>& preferredLanguages) {
  std::string out;
  for (std::size_t i = 0; i < preferredLanguages.size(); ++i) {
    // Single precision, as the quality was always worked out: 1.0 - 0.1 * 5 is then exactly 0.5.
    float q = 1.0f - 0.1f * static_cast<float>(i);
    char quality[32];
    std::snprintf(quality, sizeof quality, "%0.1g", static_cast<double>(q));
    if (!out.empty()) out += ", ";
    out += preferredLanguages[i] + ";q=" + quality;
    if (q <= 0.5f) break;
  }
  return out;
}

TLHTTPClient::TLHTTPClient(const os::URL& baseURL, const TLHTTPClientEnvironment& environment, const TLNetworkingEdition& edition)
    : edition_(edition), baseURL_(withTrailingSlash(baseURL)), operationQueue_(os::OperationQueue::create()) {
  defaultHeaders_.set("Accept-Language", TLAcceptLanguageHeader(environment.preferredLanguages));
  char scale[32];
  std::snprintf(scale, sizeof scale, "%0.2f", environment.screenScale.value_or(1.0));
  std::string name = environment.executableName.empty() ? environment.bundleIdentifier : environment.executableName;
  defaultHeaders_.set("User-Agent", name + "/" + environment.bundleVersion + " (" + environment.deviceModel + "; iOS " +
                                        environment.systemVersion + "; Scale/" + scale + ")");
  operationQueue_->setMaxConcurrentOperationCount(os::OperationQueue::kDefaultMaxConcurrentOperationCount);
}

std::shared_ptr<TLHTTPClient> TLHTTPClient::clientWithBaseURL(const os::URL& baseURL) {
  return std::make_shared<TLHTTPClient>(baseURL);
}

bool TLHTTPClient::registerHTTPOperationClass(const TLHTTPOperationClass& operationClass) {
  if (!operationClass.isSubclassOf(TLHTTPRequestOperation::operationClass())) return false;
  unregisterHTTPOperationClass(operationClass);
  registeredHTTPOperationClassNames_.insert(registeredHTTPOperationClassNames_.begin(), operationClass.name());
  return true;
}

void TLHTTPClient::unregisterHTTPOperationClass(const TLHTTPOperationClass& operationClass) {
  std::erase(registeredHTTPOperationClassNames_, operationClass.name());
}

void TLHTTPClient::setDefaultHeader(const std::string& header, std::optional<std::string> value) {
  if (value) defaultHeaders_.set(header, std::move(*value));
  else defaultHeaders_.remove(header);
}

void TLHTTPClient::setAuthorizationHeaderWithUsername(const std::string& username, const std::string& password) {
  std::string credentials = username + ":" + password;
  setDefaultHeader("Authorization", "Basic " + base64EncodedString(std::string_view(credentials)).value_or(""));
}

void TLHTTPClient::setAuthorizationHeaderWithToken(const std::string& token) {
  setDefaultHeader("Authorization", "Token token=\"" + token + "\"");
}

void TLHTTPClient::clearAuthorizationHeader() { defaultHeaders_.remove("Authorization"); }

std::optional<os::URLRequest> TLHTTPClient::requestWithMethod(const std::string& method, const std::optional<std::string>& path,
                                                              const std::optional<os::Value>& parameters,
                                                              os::Error* error) const {
  std::string relative = path.value_or("");
  auto url = relative.empty() ? std::optional<os::URL>(baseURL_) : os::URL::parse(relative, baseURL_);
  if (!url) {
    if (error) *error = encodingError(edition_, "The path does not make a URL: " + relative);
    return std::nullopt;
  }
  os::URLRequest request(url->absoluteString());
  request.setHTTPMethod(method);
  request.setAllHTTPHeaderFields(defaultHeaders_);
  if (!parameters) return request;

  if (method == "GET" || method == "HEAD" || method == "DELETE") {
    auto query = TLQueryStringFromParametersWithEncoding(*parameters, stringEncoding_, queryStringRules_);
    if (!query) {
      if (error) *error = encodingError(edition_, "The parameters cannot be written in the client's string encoding.");
      return std::nullopt;
    }
    request.setURL(url->absoluteString() + (relative.find('?') == std::string::npos ? "?" : "&") + *query);
    return request;
  }

  std::string charset = os::charsetName(stringEncoding_);
  os::Error failure;
  std::optional<os::Data> body;
  switch (parameterEncoding_) {
    case TLHTTPClientParameterEncoding::Form: {
      request.setValueForHTTPHeaderField("application/x-www-form-urlencoded; charset=" + charset, "Content-Type");
      auto query = TLQueryStringFromParametersWithEncoding(*parameters, stringEncoding_, queryStringRules_);
      if (query) body = os::Data(query->begin(), query->end());  // escaped, so plain ASCII
      else failure = encodingError(edition_, "The parameters cannot be written in the client's string encoding.");
      break;
    }
    case TLHTTPClientParameterEncoding::JSON: {
      request.setValueForHTTPHeaderField("application/json; charset=" + charset, "Content-Type");
      if (auto json = JTSerializer::serializeObject(*parameters, JTSerializeCompact, JTEncodeAsData, {}, &failure))
        if (const auto* bytes = json->data()) body = *bytes;
      break;
    }
    case TLHTTPClientParameterEncoding::PropertyList: {
      request.setValueForHTTPHeaderField("application/x-plist; charset=" + charset, "Content-Type");
      body = os::PropertyList::write(*parameters, os::PropertyListFormat::XML, &failure);
      break;
    }
  }
  if (!body && (parameterEncoding_ == TLHTTPClientParameterEncoding::Form || parameterEncoding_ == TLHTTPClientParameterEncoding::JSON ||
                parameterEncoding_ == TLHTTPClientParameterEncoding::PropertyList)) {
    // Sending the request with an empty body would look like a request without parameters.
    os::log(className() + " requestWithMethod: " + failure.localizedDescription());
    if (error) *error = failure;
    return std::nullopt;
  }
  if (body) request.setHTTPBody(std::move(*body));
  return request;
}

std::optional<os::URLRequest> TLHTTPClient::multipartFormRequestWithMethod(const std::string& method,
                                                                           const std::optional<std::string>& path,
                                                                           const std::optional<os::Value>& parameters,
                                                                           const MultipartBodyBlock& block,
                                                                           os::Error* error) const {
  auto request = requestWithMethod(method, path, std::nullopt, error);
  if (!request) return std::nullopt;
  TLStreamingMultipartFormData form(*request, stringEncoding_, edition_);
  if (parameters) {
    for (const auto& pair : TLQueryStringPairsFromKeyAndValue(os::Value(), *parameters, queryStringRules_)) {
      os::Data data;
      if (const auto* bytes = pair.value().data()) {
        data = *bytes;
      } else if (!pair.value().isNull()) {
        auto encoded = os::encodeText(TLQueryStringDescription(pair.value()), stringEncoding_);
        if (!encoded) {
          if (error) *error = encodingError(edition_, "A parameter cannot be written in the client's string encoding.");
          return std::nullopt;
        }
        data = std::move(*encoded);
      }
      form.appendPartWithFormData(data, TLQueryStringDescription(pair.field()));
    }
  }
  if (block) block(form);
  return form.requestByFinalizingMultipartFormData(error);
}

std::shared_ptr<TLHTTPRequestOperation> TLHTTPClient::HTTPRequestOperationWithRequest(const os::URLRequest& request,
                                                                                      SuccessBlock success,
                                                                                      FailureBlock failure) const {
  std::shared_ptr<TLHTTPRequestOperation> operation;
  for (const auto& name : registeredHTTPOperationClassNames_) {
    const auto* cls = TLHTTPOperationClass::named(name);
    if (cls && cls->canProcessRequest(request)) {
      operation = cls->instantiate(request);
      if (operation) break;
    }
  }
  if (!operation) operation = std::make_shared<TLHTTPRequestOperation>(request, edition_);
  operation->setCompletionBlockWithSuccess(std::move(success), std::move(failure));
  operation->setCredential(defaultCredential_);
  operation->setAllowsInvalidSSLCertificate(allowsInvalidSSLCertificate_);
  return operation;
}

namespace {

// A caller may let its client go once it has enqueued its requests and still waits for their
// answers: each operation holds the client's queue until its completion has run, so what waits in
// the queue (past the number run at once, or a batch's completion) is still started.
void holdQueueUntilFinished(const std::shared_ptr<os::Operation>& operation, const std::shared_ptr<os::OperationQueue>& queue) {
  auto saved = operation->completionBlock();
  operation->setCompletionBlock([saved, queue] {
    if (saved) saved();
  });
}

}  // namespace

void TLHTTPClient::enqueueHTTPRequestOperation(const std::shared_ptr<TLHTTPRequestOperation>& operation) {
  if (operation) holdQueueUntilFinished(operation, operationQueue_);
  operationQueue_->addOperation(operation);
}

void TLHTTPClient::enqueue(const std::string& method, const std::string& path, const std::optional<os::Value>& parameters,
                           SuccessBlock success, FailureBlock failure) {
  os::Error error;
  auto request = requestWithMethod(method, path, parameters, &error);
  if (!request) {
    if (failure) os::DispatchQueue::main()->async([failure, error] { failure(nullptr, error); });
    return;
  }
  enqueueHTTPRequestOperation(HTTPRequestOperationWithRequest(*request, std::move(success), std::move(failure)));
}

void TLHTTPClient::getPath(const std::string& path, const std::optional<os::Value>& parameters, SuccessBlock success,
                           FailureBlock failure) {
  enqueue("GET", path, parameters, std::move(success), std::move(failure));
}
void TLHTTPClient::postPath(const std::string& path, const std::optional<os::Value>& parameters, SuccessBlock success,
                            FailureBlock failure) {
  enqueue("POST", path, parameters, std::move(success), std::move(failure));
}
void TLHTTPClient::putPath(const std::string& path, const std::optional<os::Value>& parameters, SuccessBlock success,
                           FailureBlock failure) {
  enqueue("PUT", path, parameters, std::move(success), std::move(failure));
}
void TLHTTPClient::deletePath(const std::string& path, const std::optional<os::Value>& parameters, SuccessBlock success,
                              FailureBlock failure) {
  enqueue("DELETE", path, parameters, std::move(success), std::move(failure));
}
void TLHTTPClient::patchPath(const std::string& path, const std::optional<os::Value>& parameters, SuccessBlock success,
                             FailureBlock failure) {
  enqueue("PATCH", path, parameters, std::move(success), std::move(failure));
}

void TLHTTPClient::cancelAllHTTPOperationsWithMethod(const std::optional<std::string>& method, const std::string& path) {
  auto reference = requestWithMethod(method.value_or("GET"), path, std::nullopt);
  if (!reference) return;
  auto referenceURL = os::URL::parse(reference->url());
  if (!referenceURL) return;
  for (const auto& op : operationQueue_->operations()) {
    auto http = std::dynamic_pointer_cast<TLHTTPRequestOperation>(op);
    if (!http) continue;
    auto request = http->request();
    auto url = os::URL::parse(request.url());
    bool matches = url && url->path() == referenceURL->path() && (!method || request.HTTPMethod() == *method);
    if (matches) http->cancel();
  }
}

void TLHTTPClient::enqueueBatchOfHTTPRequestOperationsWithRequests(const std::vector<os::URLRequest>& requests,
                                                                   BatchProgressBlock progress, BatchCompletionBlock completion) {
  std::vector<std::shared_ptr<TLHTTPRequestOperation>> operations;
  for (const auto& request : requests) operations.push_back(HTTPRequestOperationWithRequest(request, nullptr, nullptr));
  enqueueBatchOfHTTPRequestOperations(operations, std::move(progress), std::move(completion));
}

void TLHTTPClient::enqueueBatchOfHTTPRequestOperations(const std::vector<std::shared_ptr<TLHTTPRequestOperation>>& operations,
                                                       BatchProgressBlock progress, BatchCompletionBlock completion) {
  os::DispatchGroup group;
  auto batch = os::BlockOperation::create([group, operations, completion]() mutable {
    // Not a blocking wait: the completion is submitted once every member's closure has left.
    group.notify(os::DispatchQueue::main(), [operations, completion] {
      if (completion) completion(operations);
    });
  });
  for (const auto& operation : operations) {
    auto saved = operation->completionBlock();
    std::weak_ptr<TLHTTPRequestOperation> weak = operation;
    group.enter();
    operation->setCompletionBlock([weak, saved, operations, progress, group]() mutable {
      auto op = weak.lock();
      auto queue = op && op->successCallbackQueue() ? op->successCallbackQueue() : os::DispatchQueue::main();
      queue->async([saved, operations, progress, group]() mutable {
        if (saved) saved();
        std::size_t finished = 0;
        for (const auto& member : operations)
          if (member->isFinished()) ++finished;
        if (progress) progress(finished, operations.size());
        group.leave();
      });
    });
    batch->addDependency(operation);
    holdQueueUntilFinished(operation, operationQueue_);
  }
  holdQueueUntilFinished(batch, operationQueue_);
  std::vector<std::shared_ptr<os::Operation>> all(operations.begin(), operations.end());
  operationQueue_->addOperations(all, false);
  operationQueue_->addOperation(batch);
}

std::shared_ptr<TLHTTPClient> TLHTTPClient::copy() const {
  if (!edition_.copiesAndArchives) TLNetworkingRefuse(className(), "copyWithZone:");
  auto client = std::make_shared<TLHTTPClient>(baseURL_, TLHTTPClientEnvironment::current(), edition_);
  client->stringEncoding_ = stringEncoding_;
  client->parameterEncoding_ = parameterEncoding_;
  client->queryStringRules_ = queryStringRules_;
  client->registeredHTTPOperationClassNames_ = registeredHTTPOperationClassNames_;
  client->defaultHeaders_ = defaultHeaders_;
  return client;
}

void TLHTTPClient::encodeWithCoder(os::KeyedArchiver& coder) const {
  if (!edition_.copiesAndArchives) TLNetworkingRefuse(className(), "encodeWithCoder:");
  coder.encodeObject(os::ArchiveItem::url(baseURL_.absoluteString()), "baseURL");
  coder.encodeInt64(static_cast<std::int64_t>(stringEncoding_), "stringEncoding");
  coder.encodeInt(static_cast<std::int32_t>(parameterEncoding_), "parameterEncoding");
  os::Array names;
  for (const auto& name : registeredHTTPOperationClassNames_) names.push_back(os::Value(name));
  coder.encodeObject(os::Value(std::move(names)), "registeredHTTPOperationClassNames");
  os::Dictionary headers;
  for (const auto& [name, value] : defaultHeaders_) headers.set(name, os::Value(value));
  coder.encodeObject(os::Value(std::move(headers)), "defaultHeaders");
}

std::shared_ptr<TLHTTPClient> TLHTTPClient::clientWithCoder(os::KeyedUnarchiver& coder) {
  os::ArchiveItem item = coder.decodeObject("baseURL");
  std::optional<os::URL> url;
  if (const std::string* text = item.urlString()) url = os::URL::parse(*text);
  if (!url) {
    if (!coder.error())
      coder.failWithError(os::Error::withDescription(os::kKeyedArchiveErrorDomain, os::kKeyedArchiveReadCorruptError,
                                                     "the archived client has no base URL"));
    return nullptr;
  }
  auto client = std::make_shared<TLHTTPClient>(*url);
  // What the archive holds replaces the defaults; values of the wrong kind leave them as they are.
  if (auto encoding = os::encodingForCode(static_cast<std::uint32_t>(coder.decodeInt64("stringEncoding"))))
    client->stringEncoding_ = *encoding;
  int parameterEncoding = coder.decodeInt("parameterEncoding");
  if (parameterEncoding >= 0 && parameterEncoding <= 2)
    client->parameterEncoding_ = static_cast<TLHTTPClientParameterEncoding>(parameterEncoding);
  if (auto names = coder.decodeValue("registeredHTTPOperationClassNames"); names && names->array()) {
    client->registeredHTTPOperationClassNames_.clear();
    for (const auto& name : *names->array())
      if (name.string()) client->registeredHTTPOperationClassNames_.push_back(*name.string());
  }
  if (auto headers = coder.decodeValue("defaultHeaders"); headers && headers->dictionary()) {
    client->defaultHeaders_ = os::HTTPHeaderFields();
    for (const auto& [name, value] : *headers->dictionary())
      if (value.string()) client->defaultHeaders_.set(name, *value.string());
  }
  return client;
}

std::string TLHTTPClient::description() const {
  char address[32];
  std::snprintf(address, sizeof address, "%p", static_cast<const void*>(this));
  std::string headers = "{";
  for (const auto& [k, v] : defaultHeaders_) headers += "\n    \"" + k + "\" = \"" + v + "\";";
  headers += "\n}";
  std::string classes = "(";
  for (std::size_t i = 0; i < registeredHTTPOperationClassNames_.size(); ++i)
    classes += (i ? ",\n    " : "\n    ") + registeredHTTPOperationClassNames_[i];
  classes += "\n)";
  std::string out = "<";
  out += className();
  out += ": ";
  out += address;
  out += ", baseURL: ";
  out += baseURL_.absoluteString();
  out += ", defaultHeaders: ";
  out += headers;
  out += ", registeredOperationClasses: ";
  out += classes;
  out += ", operationQueue: <OperationQueue: ";
  out += operationQueue_->name();
  out += ">>";
  return out;
}
