#pragma once
// An HTTP request operation whose body is JSON: parsed from its bytes as UTF-8 (whatever charset
// the answer names, or none) on a processing queue before the closures run. A body that does not
// parse fails the operation even with a status of 200.
#include <functional>
#include <optional>

#include "foundation/http/TLHTTPRequestOperation.h"

class TLJSONRequestOperation : public TLHTTPRequestOperation {
 public:
  using JSONSuccess = std::function<void(const os::URLRequest& request, const std::optional<os::HTTPURLResponse>& response,
                                         const std::optional<os::Value>& JSON)>;
  using JSONFailure = std::function<void(const os::URLRequest& request, const std::optional<os::HTTPURLResponse>& response,
                                         const os::Error& error, const std::optional<os::Value>& JSON)>;

  using TLHTTPRequestOperation::TLHTTPRequestOperation;
  static std::shared_ptr<TLJSONRequestOperation> create(os::URLRequest request);
  static std::shared_ptr<TLJSONRequestOperation> JSONRequestOperationWithRequest(const os::URLRequest& request,
                                                                                 JSONSuccess success, JSONFailure failure);

  static TLHTTPOperationClass& operationClass();
  const TLHTTPOperationClass& objectClass() const override { return operationClass(); }
  static bool canProcessRequest(const os::URLRequest& request) { return operationClass().canProcessRequest(request); }

  // The parsed body: absent before the operation finished, for an empty body or a single space,
  // and when parsing failed (see JSONError).
  std::optional<os::Value> responseJSON();
  std::optional<os::Error> JSONError() const;
  unsigned JSONReadingOptions() const { return readingOptions_; }
  void setJSONReadingOptions(unsigned options) { readingOptions_ = options; }

  std::optional<os::Error> error() override;
  // The success closure gets the parsed value (null when there is none).
  void setCompletionBlockWithSuccess(SuccessBlock success, FailureBlock failure) override;

 private:
  std::optional<os::Value> responseJSON_;
  std::optional<os::Error> JSONError_;
  unsigned readingOptions_ = 0;
};
