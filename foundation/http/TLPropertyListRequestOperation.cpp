#include "foundation/http/TLPropertyListRequestOperation.h"

#include "os/runtime/DispatchQueue.h"

namespace {

std::shared_ptr<os::DispatchQueue> processingQueue() {
  static auto queue =
      os::DispatchQueue::create("com.tessaline.networking.property-list-request.processing", os::DispatchQueue::Kind::Concurrent);
  return queue;
}

}  // namespace

std::shared_ptr<TLPropertyListRequestOperation> TLPropertyListRequestOperation::create(os::URLRequest request) {
  return std::make_shared<TLPropertyListRequestOperation>(std::move(request));
}

TLHTTPOperationClass& TLPropertyListRequestOperation::operationClass() {
  static TLHTTPOperationClass* cls = [] {
    auto* c = new TLHTTPOperationClass("TLPropertyListRequestOperation", &TLHTTPRequestOperation::operationClass(),
                                       [](const os::URLRequest& r) { return std::static_pointer_cast<TLHTTPRequestOperation>(create(r)); });
    c->declareAcceptableContentTypes(TLHTTPOperationClass::ContentTypes{"application/x-plist"});
    c->declarePathExtensions({"plist"});
    return c;
  }();
  return *cls;
}

std::optional<os::Value> TLPropertyListRequestOperation::responsePropertyList() {
  std::lock_guard guard(lock());
  if (!responsePropertyList_ && !propertyListError_ && isFinished()) {
    os::Data data = responseData();
    if (!data.empty()) {
      os::Error readError;
      os::PropertyListFormat format{};
      if (auto value = os::PropertyList::read(data, &format, &readError)) {
        responsePropertyList_ = std::move(*value);
        format_ = format;
      } else {
        propertyListError_ = readError;
      }
    }
  }
  return responsePropertyList_;
}

std::optional<os::PropertyListFormat> TLPropertyListRequestOperation::propertyListFormat() const {
  std::lock_guard guard(lock());
  return format_;
}

std::optional<os::Error> TLPropertyListRequestOperation::propertyListError() const {
  std::lock_guard guard(lock());
  return propertyListError_;
}

std::optional<os::Error> TLPropertyListRequestOperation::error() {
  if (auto readError = propertyListError()) return readError;
  return TLHTTPRequestOperation::error();
}

void TLPropertyListRequestOperation::setCompletionBlockWithSuccess(SuccessBlock success, FailureBlock failure) {
  std::weak_ptr<os::Operation> weak = weak_from_this();
  setCompletionBlock([weak, success = std::move(success), failure = std::move(failure)] {
    auto locked = weak.lock();
    if (!locked) return;
    auto op = std::static_pointer_cast<TLPropertyListRequestOperation>(locked);
    if (auto error = op->error()) {
      if (failure) op->failureQueueOrMain()->async([op, failure, e = *error] { failure(op, e); });
      return;
    }
    processingQueue()->async([op, success, failure] {
      auto plist = op->responsePropertyList();
      if (auto error = op->error()) {
        if (failure) op->failureQueueOrMain()->async([op, failure, e = *error] { failure(op, e); });
      } else if (success) {
        op->successQueueOrMain()->async([op, success, plist] { success(op, plist.value_or(os::Value())); });
      }
    });
  });
}

std::shared_ptr<TLPropertyListRequestOperation> TLPropertyListRequestOperation::propertyListRequestOperationWithRequest(
    const os::URLRequest& request, PropertyListSuccess success, PropertyListFailure failure) {
  auto op = create(request);
  op->setCompletionBlockWithSuccess(
      [success](const Pointer& operation, const os::Value&) {
        auto p = std::static_pointer_cast<TLPropertyListRequestOperation>(operation);
        if (success) success(p->request(), p->response(), p->responsePropertyList());
      },
      [failure](const Pointer& operation, const os::Error& error) {
        auto p = std::static_pointer_cast<TLPropertyListRequestOperation>(operation);
        if (failure) failure(p->request(), p->response(), error, p->responsePropertyList());
      });
  return op;
}
