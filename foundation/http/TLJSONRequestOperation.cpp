#include "foundation/http/TLJSONRequestOperation.h"

#include "foundation/formats/JSONDecoder.h"
#include "os/runtime/DispatchQueue.h"

namespace {

std::shared_ptr<os::DispatchQueue> processingQueue() {
  static auto queue = os::DispatchQueue::create("com.tessaline.networking.json-request.processing", os::DispatchQueue::Kind::Concurrent);
  return queue;
}

}  // namespace

std::shared_ptr<TLJSONRequestOperation> TLJSONRequestOperation::create(os::URLRequest request) {
  return std::make_shared<TLJSONRequestOperation>(std::move(request));
}

TLHTTPOperationClass& TLJSONRequestOperation::operationClass() {
  static TLHTTPOperationClass* cls = [] {
    auto* c = new TLHTTPOperationClass("TLJSONRequestOperation", &TLHTTPRequestOperation::operationClass(),
                                       [](const os::URLRequest& r) { return std::static_pointer_cast<TLHTTPRequestOperation>(create(r)); });
    c->declareAcceptableContentTypes(TLHTTPOperationClass::ContentTypes{"application/json", "text/json", "text/javascript"});
    c->declarePathExtensions({"json"});
    return c;
  }();
  return *cls;
}

std::optional<os::Value> TLJSONRequestOperation::responseJSON() {
  std::lock_guard guard(lock());
  if (!responseJSON_ && !JSONError_ && isFinished()) {
    os::Data data = responseData();
    bool blank = data.empty() || (data.size() == 1 && data[0] == ' ');
    if (!blank) {
      // The bytes themselves: JSON is UTF-8, and decoding them first as the text of a charset the
      // answer does not name would mangle every non-ASCII character.
      os::Error parseError;
      JSONDecoder decoder;
      if (auto value = decoder.objectWithData(data, &parseError)) responseJSON_ = std::move(*value);
      else JSONError_ = parseError;
    }
  }
  return responseJSON_;
}

std::optional<os::Error> TLJSONRequestOperation::JSONError() const {
  std::lock_guard guard(lock());
  return JSONError_;
}

std::optional<os::Error> TLJSONRequestOperation::error() {
  if (auto parse = JSONError()) return parse;
  return TLHTTPRequestOperation::error();
}

void TLJSONRequestOperation::setCompletionBlockWithSuccess(SuccessBlock success, FailureBlock failure) {
  std::weak_ptr<os::Operation> weak = weak_from_this();
  setCompletionBlock([weak, success = std::move(success), failure = std::move(failure)] {
    auto locked = weak.lock();
    if (!locked) return;
    auto op = std::static_pointer_cast<TLJSONRequestOperation>(locked);
    if (auto error = op->error()) {
      if (failure) op->failureQueueOrMain()->async([op, failure, e = *error] { failure(op, e); });
      return;
    }
    processingQueue()->async([op, success, failure] {
      auto json = op->responseJSON();
      if (auto error = op->error()) {
        if (failure) op->failureQueueOrMain()->async([op, failure, e = *error] { failure(op, e); });
      } else if (success) {
        op->successQueueOrMain()->async([op, success, json] { success(op, json.value_or(os::Value())); });
      }
    });
  });
}

std::shared_ptr<TLJSONRequestOperation> TLJSONRequestOperation::JSONRequestOperationWithRequest(const os::URLRequest& request,
                                                                                               JSONSuccess success,
                                                                                               JSONFailure failure) {
  auto op = create(request);
  op->setCompletionBlockWithSuccess(
      [success](const Pointer& operation, const os::Value&) {
        auto json = std::static_pointer_cast<TLJSONRequestOperation>(operation);
        if (success) success(json->request(), json->response(), json->responseJSON());
      },
      [failure](const Pointer& operation, const os::Error& error) {
        auto json = std::static_pointer_cast<TLJSONRequestOperation>(operation);
        if (failure) failure(json->request(), json->response(), error, json->responseJSON());
      });
  return op;
}
