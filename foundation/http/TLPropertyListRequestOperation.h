#pragma once
// An HTTP request operation whose body is a property list (XML or binary), read on a processing
// queue before the closures run. A body that does not read fails the operation.
#include <functional>
#include <optional>

#include "foundation/http/TLHTTPRequestOperation.h"
#include "os/store/PropertyList.h"

class TLPropertyListRequestOperation : public TLHTTPRequestOperation {
 public:
  using PropertyListSuccess = std::function<void(const os::URLRequest& request, const std::optional<os::HTTPURLResponse>& response,
                                                 const std::optional<os::Value>& propertyList)>;
  using PropertyListFailure = std::function<void(const os::URLRequest& request, const std::optional<os::HTTPURLResponse>& response,
                                                 const os::Error& error, const std::optional<os::Value>& propertyList)>;

  using TLHTTPRequestOperation::TLHTTPRequestOperation;
  static std::shared_ptr<TLPropertyListRequestOperation> create(os::URLRequest request);
  static std::shared_ptr<TLPropertyListRequestOperation> propertyListRequestOperationWithRequest(
      const os::URLRequest& request, PropertyListSuccess success, PropertyListFailure failure);

  static TLHTTPOperationClass& operationClass();
  const TLHTTPOperationClass& objectClass() const override { return operationClass(); }
  static bool canProcessRequest(const os::URLRequest& request) { return operationClass().canProcessRequest(request); }

  std::optional<os::Value> responsePropertyList();
  std::optional<os::PropertyListFormat> propertyListFormat() const;
  std::optional<os::Error> propertyListError() const;
  unsigned propertyListReadOptions() const { return readOptions_; }
  void setPropertyListReadOptions(unsigned options) { readOptions_ = options; }

  std::optional<os::Error> error() override;
  void setCompletionBlockWithSuccess(SuccessBlock success, FailureBlock failure) override;

 private:
  std::optional<os::Value> responsePropertyList_;
  std::optional<os::PropertyListFormat> format_;
  std::optional<os::Error> propertyListError_;
  unsigned readOptions_ = 0;
};
