#pragma once
// A base URL, default headers and a parameter encoding, turned into ready requests: parameters go
// into the query of GET, HEAD and DELETE requests and into a form, JSON or property-list body
// otherwise. The client can also wrap a request in an HTTP request operation (the first
// registered operation class that accepts it) and run it on its own operation queue.
//
// A request whose parameters cannot be encoded (a value JSON or a property list cannot hold,
// text the string encoding cannot write) is not made: the result is absent with an error.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foundation/http/TLHTTPRequestOperation.h"
#include "foundation/http/TLMultipartFormData.h"
#include "foundation/http/TLQueryStringPair.h"
#include "os/core/TextEncoding.h"
#include "os/core/URL.h"
#include "os/core/Value.h"
#include "os/net/URLRequest.h"
#include "os/runtime/OperationQueue.h"
#include "os/store/KeyedArchive.h"

// What the default headers are made from: the bundle, the device and the main screen unless one
// was set (tests). There is no list of the user's languages on this platform: "en" stands in.
struct TLHTTPClientEnvironment {
  std::vector<std::string> preferredLanguages{"en"};
  std::string executableName;  // empty: the bundle identifier is used
  std::string bundleIdentifier;
  std::string bundleVersion;
  std::string deviceModel = "iPhone";
  std::string systemVersion = "6.0";
  std::optional<double> screenScale;  // absent: 1.0

  // The process's environment: the one set, else read from the main bundle with phone defaults.
  static TLHTTPClientEnvironment current();
  static void setCurrent(std::optional<TLHTTPClientEnvironment> environment);
};

enum class TLHTTPClientParameterEncoding : int { Form = 0, JSON = 1, PropertyList = 2 };

class TLHTTPClient : public std::enable_shared_from_this<TLHTTPClient>, public os::Archivable {
 public:
  using MultipartBodyBlock = std::function<void(TLMultipartFormData& formData)>;
  using SuccessBlock = TLHTTPRequestOperation::SuccessBlock;
  using FailureBlock = TLHTTPRequestOperation::FailureBlock;
  using BatchProgressBlock = std::function<void(std::size_t finishedOperations, std::size_t totalOperations)>;
  using BatchCompletionBlock = std::function<void(const std::vector<std::shared_ptr<TLHTTPRequestOperation>>& operations)>;

  // A base URL with a path gets a trailing "/" so that paths resolve below it.
  explicit TLHTTPClient(const os::URL& baseURL, const TLHTTPClientEnvironment& environment = TLHTTPClientEnvironment::current(),
                        const TLNetworkingEdition& edition = TLNetworkingEdition::standard());
  static std::shared_ptr<TLHTTPClient> clientWithBaseURL(const os::URL& baseURL);
  virtual ~TLHTTPClient() = default;
  virtual std::string className() const { return "TLHTTPClient"; }

  const os::URL& baseURL() const { return baseURL_; }
  os::StringEncoding stringEncoding() const { return stringEncoding_; }
  void setStringEncoding(os::StringEncoding encoding) { stringEncoding_ = encoding; }
  TLHTTPClientParameterEncoding parameterEncoding() const { return parameterEncoding_; }
  void setParameterEncoding(TLHTTPClientParameterEncoding encoding) { parameterEncoding_ = encoding; }
  const TLQueryStringRules& queryStringRules() const { return queryStringRules_; }
  void setQueryStringRules(TLQueryStringRules rules) { queryStringRules_ = std::move(rules); }
  bool allowsInvalidSSLCertificate() const { return allowsInvalidSSLCertificate_; }
  void setAllowsInvalidSSLCertificate(bool allow) { allowsInvalidSSLCertificate_ = allow; }
  const std::optional<os::URLCredential>& defaultCredential() const { return defaultCredential_; }
  void setDefaultCredential(std::optional<os::URLCredential> credential) { defaultCredential_ = std::move(credential); }
  const std::shared_ptr<os::OperationQueue>& operationQueue() const { return operationQueue_; }
  const TLNetworkingEdition& edition() const { return edition_; }

  // Operation classes tried first, most recently registered first. Only the HTTP request
  // operation class and its subclasses are accepted.
  bool registerHTTPOperationClass(const TLHTTPOperationClass& operationClass);
  void unregisterHTTPOperationClass(const TLHTTPOperationClass& operationClass);
  const std::vector<std::string>& registeredHTTPOperationClassNames() const { return registeredHTTPOperationClassNames_; }

  const os::HTTPHeaderFields& defaultHeaders() const { return defaultHeaders_; }
  std::optional<std::string> defaultValueForHeader(const std::string& header) const { return defaultHeaders_.value(header); }
  // An absent value removes the header.
  void setDefaultHeader(const std::string& header, std::optional<std::string> value);
  void setAuthorizationHeaderWithUsername(const std::string& username, const std::string& password);
  void setAuthorizationHeaderWithToken(const std::string& token);
  void clearAuthorizationHeader();

  // Absent parameters add nothing; empty ones still add an empty query ("?") or body.
  std::optional<os::URLRequest> requestWithMethod(const std::string& method, const std::optional<std::string>& path,
                                                  const std::optional<os::Value>& parameters, os::Error* error = nullptr) const;
  // Every parameter pair becomes a form-data part, then the block adds its own parts.
  std::optional<os::URLRequest> multipartFormRequestWithMethod(const std::string& method, const std::optional<std::string>& path,
                                                               const std::optional<os::Value>& parameters,
                                                               const MultipartBodyBlock& block, os::Error* error = nullptr) const;

  std::shared_ptr<TLHTTPRequestOperation> HTTPRequestOperationWithRequest(const os::URLRequest& request, SuccessBlock success,
                                                                          FailureBlock failure) const;
  void enqueueHTTPRequestOperation(const std::shared_ptr<TLHTTPRequestOperation>& operation);
  // Builds, wraps and enqueues; the failure closure also gets requests that could not be built
  // (with a null operation), on the main queue.
  void getPath(const std::string& path, const std::optional<os::Value>& parameters, SuccessBlock success, FailureBlock failure);
  void postPath(const std::string& path, const std::optional<os::Value>& parameters, SuccessBlock success, FailureBlock failure);
  void putPath(const std::string& path, const std::optional<os::Value>& parameters, SuccessBlock success, FailureBlock failure);
  void deletePath(const std::string& path, const std::optional<os::Value>& parameters, SuccessBlock success, FailureBlock failure);
  void patchPath(const std::string& path, const std::optional<os::Value>& parameters, SuccessBlock success, FailureBlock failure);

  // Cancels the queued HTTP operations for that path (and that method, when given).
  void cancelAllHTTPOperationsWithMethod(const std::optional<std::string>& method, const std::string& path);
  void enqueueBatchOfHTTPRequestOperationsWithRequests(const std::vector<os::URLRequest>& requests, BatchProgressBlock progress,
                                                       BatchCompletionBlock completion);
  // Progress after each member's closure (on its success queue), completion on the main queue
  // once every member's closure ran.
  void enqueueBatchOfHTTPRequestOperations(const std::vector<std::shared_ptr<TLHTTPRequestOperation>>& operations,
                                           BatchProgressBlock progress, BatchCompletionBlock completion);

  // A new client on the same base URL with the same encodings, class names and headers.
  std::shared_ptr<TLHTTPClient> copy() const;
  std::string description() const;

  // Keyed archiving of the base URL, both encodings, the registered class names and the default
  // headers; the credential, the queue and the certificate setting stay out, as in copies.
  std::vector<std::string> archiveClassNames() const override { return {className()}; }
  void encodeWithCoder(os::KeyedArchiver& coder) const override;
  // Absent (with the coder's error) without a usable base URL.
  static std::shared_ptr<TLHTTPClient> clientWithCoder(os::KeyedUnarchiver& coder);

 private:
  void enqueue(const std::string& method, const std::string& path, const std::optional<os::Value>& parameters,
               SuccessBlock success, FailureBlock failure);

  const TLNetworkingEdition& edition_;
  bool allowsInvalidSSLCertificate_ = false;
  os::URL baseURL_;
  os::StringEncoding stringEncoding_ = os::StringEncoding::UTF8;
  TLHTTPClientParameterEncoding parameterEncoding_ = TLHTTPClientParameterEncoding::Form;
  TLQueryStringRules queryStringRules_ = TLQueryStringRules::standard();
  std::vector<std::string> registeredHTTPOperationClassNames_;
  os::HTTPHeaderFields defaultHeaders_;
  std::optional<os::URLCredential> defaultCredential_;
  std::shared_ptr<os::OperationQueue> operationQueue_;
};

// "en;q=1, fr;q=0.9, ...": at most six languages, the last at q=0.5.
std::string TLAcceptLanguageHeader(const std::vector<std::string>& preferredLanguages);
