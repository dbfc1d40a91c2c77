#pragma once
// An HTTP request operation whose body is XML: the closures get an event-driven parser over the
// body, which the caller gives a delegate and runs.
#include <functional>
#include <memory>
#include <optional>

#include "foundation/http/TLHTTPRequestOperation.h"
#include "foundation/http/TLXMLParser.h"

class TLXMLRequestOperation : public TLHTTPRequestOperation {
 public:
  using ParserPointer = std::shared_ptr<TLXMLParser>;
  using XMLSuccess = std::function<void(const os::URLRequest& request, const std::optional<os::HTTPURLResponse>& response,
                                        const ParserPointer& parser)>;
  using XMLFailure = std::function<void(const os::URLRequest& request, const std::optional<os::HTTPURLResponse>& response,
                                        const os::Error& error, const ParserPointer& parser)>;
  using ParserSuccess = std::function<void(const Pointer& operation, const ParserPointer& parser)>;

  using TLHTTPRequestOperation::TLHTTPRequestOperation;
  static std::shared_ptr<TLXMLRequestOperation> create(os::URLRequest request);
  static std::shared_ptr<TLXMLRequestOperation> XMLParserRequestOperationWithRequest(const os::URLRequest& request,
                                                                                     XMLSuccess success, XMLFailure failure);

  static TLHTTPOperationClass& operationClass();
  const TLHTTPOperationClass& objectClass() const override { return operationClass(); }
  static bool canProcessRequest(const os::URLRequest& request) { return operationClass().canProcessRequest(request); }

  // Made once the operation finished with a body.
  ParserPointer responseXMLParser();
  std::optional<os::Error> XMLError() const;
  // Also detaches the parser's delegate.
  void cancel() override;

  std::optional<os::Error> error() override;
  void setCompletionBlockWithParserSuccess(ParserSuccess success, FailureBlock failure);
  // The generic form: the success closure gets a null object; the parser is responseXMLParser().
  void setCompletionBlockWithSuccess(SuccessBlock success, FailureBlock failure) override;

 private:
  ParserPointer responseXMLParser_;
  std::optional<os::Error> XMLError_;
};
