#include "foundation/http/TLXMLRequestOperation.h"

#include "os/runtime/DispatchQueue.h"

namespace {

std::shared_ptr<os::DispatchQueue> processingQueue() {
  static auto queue = os::DispatchQueue::create("com.tessaline.networking.xml-request.processing", os::DispatchQueue::Kind::Concurrent);
  return queue;
}

}  // namespace

std::shared_ptr<TLXMLRequestOperation> TLXMLRequestOperation::create(os::URLRequest request) {
  return std::make_shared<TLXMLRequestOperation>(std::move(request));
}

TLHTTPOperationClass& TLXMLRequestOperation::operationClass() {
  static TLHTTPOperationClass* cls = [] {
    auto* c = new TLHTTPOperationClass("TLXMLRequestOperation", &TLHTTPRequestOperation::operationClass(),
                                       [](const os::URLRequest& r) { return std::static_pointer_cast<TLHTTPRequestOperation>(create(r)); });
    c->declareAcceptableContentTypes(TLHTTPOperationClass::ContentTypes{"application/xml", "text/xml"});
    c->declarePathExtensions({"xml"});
    return c;
  }();
  return *cls;
}

TLXMLRequestOperation::ParserPointer TLXMLRequestOperation::responseXMLParser() {
  std::lock_guard guard(lock());
  if (!responseXMLParser_ && isFinished()) {
    os::Data data = responseData();
    if (!data.empty()) responseXMLParser_ = std::make_shared<TLXMLParser>(std::move(data));
  }
  return responseXMLParser_;
}

std::optional<os::Error> TLXMLRequestOperation::XMLError() const {
  std::lock_guard guard(lock());
  return XMLError_;
}

void TLXMLRequestOperation::cancel() {
  {
    std::lock_guard guard(lock());
    if (responseXMLParser_) responseXMLParser_->setDelegate({});
  }
  TLHTTPRequestOperation::cancel();
}

std::optional<os::Error> TLXMLRequestOperation::error() {
  if (auto xml = XMLError()) return xml;
  return TLHTTPRequestOperation::error();
}

void TLXMLRequestOperation::setCompletionBlockWithParserSuccess(ParserSuccess success, FailureBlock failure) {
  std::weak_ptr<os::Operation> weak = weak_from_this();
  setCompletionBlock([weak, success = std::move(success), failure = std::move(failure)] {
    auto locked = weak.lock();
    if (!locked) return;
    auto op = std::static_pointer_cast<TLXMLRequestOperation>(locked);
    processingQueue()->async([op, success, failure] {
      auto parser = op->responseXMLParser();
      if (auto error = op->error()) {
        if (failure) op->failureQueueOrMain()->async([op, failure, e = *error] { failure(op, e); });
      } else if (success) {
        op->successQueueOrMain()->async([op, success, parser] { success(op, parser); });
      }
    });
  });
}

void TLXMLRequestOperation::setCompletionBlockWithSuccess(SuccessBlock success, FailureBlock failure) {
  setCompletionBlockWithParserSuccess(
      success ? ParserSuccess([success](const Pointer& op, const ParserPointer&) { success(op, os::Value()); }) : ParserSuccess(),
      std::move(failure));
}

std::shared_ptr<TLXMLRequestOperation> TLXMLRequestOperation::XMLParserRequestOperationWithRequest(const os::URLRequest& request,
                                                                                                 XMLSuccess success,
                                                                                                 XMLFailure failure) {
  auto op = create(request);
  op->setCompletionBlockWithParserSuccess(
      [success](const Pointer& operation, const ParserPointer& parser) {
        if (success) success(operation->request(), operation->response(), parser);
      },
      [failure](const Pointer& operation, const os::Error& error) {
        auto xml = std::static_pointer_cast<TLXMLRequestOperation>(operation);
        if (failure) failure(xml->request(), xml->response(), error, xml->responseXMLParser());
      });
  return op;
}
