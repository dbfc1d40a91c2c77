#pragma once
// A URL connection operation with HTTP rules: a finished response is acceptable when its status
// code and content type are among those its class accepts (see TLHTTPOperationClass), otherwise
// the operation's error says what was expected. Exactly one of the success and failure closures
// runs, once, on its callback queue (the main queue unless set). Pausing makes the next request
// ask for the rest of the body with "Range"; the answer is appended only when the server sends
// that range (206), and a full answer (200) starts the output afresh.
#include <functional>
#include <memory>
#include <optional>

#include "foundation/http/TLHTTPOperationClass.h"
#include "foundation/http/TLURLConnectionOperation.h"

namespace os {
class DispatchQueue;
}

class TLHTTPRequestOperation : public TLURLConnectionOperation {
 public:
  using Pointer = std::shared_ptr<TLHTTPRequestOperation>;
  // The response object is the body data for this class and the parsed value for the JSON and
  // property-list operations; the image and XML operations hand theirs to their own closures and
  // leave it null here.
  using SuccessBlock = std::function<void(const Pointer& operation, const os::Value& responseObject)>;
  using FailureBlock = std::function<void(const Pointer& operation, const os::Error& error)>;

  explicit TLHTTPRequestOperation(os::URLRequest request,
                                  const TLNetworkingEdition& edition = TLNetworkingEdition::standard());
  static std::shared_ptr<TLHTTPRequestOperation> create(os::URLRequest request);

  // The class of this family; subclasses answer their own.
  static TLHTTPOperationClass& operationClass();
  virtual const TLHTTPOperationClass& objectClass() const { return operationClass(); }
  std::string className() const override { return objectClass().name(); }
  // The class and its ancestors in the family, then the connection operation.
  std::vector<std::string> archiveClassNames() const override;

  // Class-level settings of this class (subclasses call these on their own class objects).
  static std::optional<TLHTTPOperationClass::StatusCodes> acceptableStatusCodes() { return operationClass().acceptableStatusCodes(); }
  static void addAcceptableStatusCodes(const TLHTTPOperationClass::StatusCodes& codes) { operationClass().addAcceptableStatusCodes(codes); }
  static std::optional<TLHTTPOperationClass::ContentTypes> acceptableContentTypes() { return operationClass().acceptableContentTypes(); }
  static void addAcceptableContentTypes(const TLHTTPOperationClass::ContentTypes& types) { operationClass().addAcceptableContentTypes(types); }
  static bool canProcessRequest(const os::URLRequest& request) { return operationClass().canProcessRequest(request); }

  bool hasAcceptableStatusCode() const;
  bool hasAcceptableContentType() const;
  // The acceptance error (made once, on the first call after the response arrived), else the
  // connection error.
  std::optional<os::Error> error() override;
  std::optional<os::Error> HTTPError() const;
  os::StringEncoding responseStringEncoding() override;
  void pause() override;

  std::shared_ptr<os::DispatchQueue> successCallbackQueue() const;
  void setSuccessCallbackQueue(std::shared_ptr<os::DispatchQueue> queue);
  std::shared_ptr<os::DispatchQueue> failureCallbackQueue() const;
  void setFailureCallbackQueue(std::shared_ptr<os::DispatchQueue> queue);

  // Installs the completion closure that schedules one of the two closures when the operation
  // finished: failure when error() is present (a cancelled operation included), else success.
  virtual void setCompletionBlockWithSuccess(SuccessBlock success, FailureBlock failure);

 protected:
  std::optional<os::Error> prepareOutputForResponse(const os::HTTPURLResponse& response) override;
  std::shared_ptr<TLURLConnectionOperation> makeOperation(os::URLRequest request) const override;
  Pointer selfHTTP() { return std::static_pointer_cast<TLHTTPRequestOperation>(shared_from_this()); }
  // The queue a closure goes to: the one set, else the main queue.
  std::shared_ptr<os::DispatchQueue> successQueueOrMain() const;
  std::shared_ptr<os::DispatchQueue> failureQueueOrMain() const;
  // An error of the edition's domain with the operation's request and response in its user info.
  os::Error makeError(long code, const std::string& description, os::Dictionary extra = {});
  // Text of the edition's strings table, or the key itself.
  std::string localizedString(const std::string& key) const;

 private:
  std::optional<os::Error> HTTPError_;
  std::shared_ptr<os::DispatchQueue> successCallbackQueue_, failureCallbackQueue_;
  // Set when a paused load is resumed: the offset the next answer should continue from.
  bool resumingWithRange_ = false;
  std::uint64_t resumeOffset_ = 0;
};
