#include "news/api/NQProxy.h"

#include "foundation/http/TLHTTPRequestOperation.h"
#include "news/api/NQBaseRequest.h"
#include "news/api/VXReaderContext.h"
#include "os/core/Log.h"
#include "os/runtime/DispatchQueue.h"
#include "os/runtime/RunLoop.h"
#include "os/runtime/Semaphore.h"

namespace {

void logFailure(const os::Error& error) {
  os::log("==================================================");
  os::log("加载数据失败，Error: " + error.localizedDescription());
  os::log("Class:::NQProxy");
  os::log("==================================================");
}

// Wires the two closures to an operation. The closures hold no proxy, so a proxy nobody keeps
// goes away while its operation (which keeps itself alive while it runs) carries on.
void attach(const std::shared_ptr<TLHTTPRequestOperation>& operation, NQProxy::CompletedBlock completed,
            NQProxy::FailedBlock failed) {
  operation->setCompletionBlockWithSuccess(
      [completed = std::move(completed)](const TLHTTPRequestOperation::Pointer& op, const os::Value&) {
        if (completed) completed(op->responseString().value_or(""), op->responseStringEncoding());
      },
      [failed = std::move(failed)](const TLHTTPRequestOperation::Pointer&, const os::Error& error) {
        logFailure(error);
        if (failed) failed(error);
      });
}

}  // namespace

std::shared_ptr<NQProxy> NQProxy::loadWithRequest(NQBaseRequest& request, double timeout, CompletedBlock completed,
                                                  FailedBlock failed) {
  return loadWithRequest(request, VXReaderContext::current()->requestConfig(), timeout, std::move(completed),
                         std::move(failed));
}

std::shared_ptr<NQProxy> NQProxy::loadWithRequest(NQBaseRequest& request, const VXRequestConfig& config,
                                                  double timeout, CompletedBlock completed, FailedBlock failed) {
  auto proxy = std::make_shared<NQProxy>();
  proxy->className_ = request.className();
  os::Error error;
  auto urlRequest = request.req(config, &error);
  if (!urlRequest) {
    proxy->buildError_ = error;
    proxy->failed_ = std::move(failed);
    return proxy;
  }
  urlRequest->setTimeoutInterval(effectiveTimeout(timeout));
  proxy->oper_ = TLHTTPRequestOperation::create(*urlRequest);
  proxy->oper_->setSuccessCallbackQueue(os::DispatchQueue::global(os::DispatchQueue::Priority::Default));
  attach(proxy->oper_, std::move(completed), std::move(failed));
  return proxy;
}

void NQProxy::loadCommonRequest(const os::URLRequest& request, CompletedBlock completed, FailedBlock failed) {
  auto operation = TLHTTPRequestOperation::create(request);
  operation->setSuccessCallbackQueue(os::DispatchQueue::main());
  attach(operation, std::move(completed), std::move(failed));
  operation->start();
}

std::optional<std::string> NQProxy::synchWithRequest(NQBaseRequest& request, const VXRequestConfig& config) {
  // Waiting here on the main thread would hold every screen still for up to the time-out, and
  // a closure bound for the main queue could never run.
  if (os::RunLoop::isMainThread()) {
    os::log("synchWithRequest refused on the main thread. class name is : " + request.className());
    return std::nullopt;
  }
  auto urlRequest = request.req(config);
  if (!urlRequest) return std::nullopt;
  urlRequest->setTimeoutInterval(kSynchronousTimeout);
  auto operation = TLHTTPRequestOperation::create(*urlRequest);

  auto done = std::make_shared<os::Semaphore>(0);
  auto signal = [done] { done->signal(); };
  // Delivered off the main queue, which may be busy or absent while this thread waits.
  auto queue = os::DispatchQueue::global(os::DispatchQueue::Priority::Default);
  operation->setSuccessCallbackQueue(queue);
  operation->setFailureCallbackQueue(queue);
  operation->setCompletionBlockWithSuccess([signal](const TLHTTPRequestOperation::Pointer&, const os::Value&) { signal(); },
                                           [signal](const TLHTTPRequestOperation::Pointer&, const os::Error&) { signal(); });
  operation->start();
  done->wait();
  if (!operation->response()) return std::nullopt;
  return operation->responseString();
}

void NQProxy::start() {
  if (!oper_) {
    if (buildError_) {
      os::log("request could not be built. class name is : " + className_);
      // Reported on the main queue like every other failure, after the caller's own code ran.
      auto failed = std::move(failed_);
      auto error = *buildError_;
      buildError_.reset();
      os::DispatchQueue::main()->async([failed, error] {
        logFailure(error);
        if (failed) failed(error);
      });
    }
    return;
  }
  if (oper_->isReady() && !oper_->isExecuting() && !oper_->isFinished()) oper_->start();
}

bool NQProxy::isLoading() {
  loading_ = oper_ && oper_->isExecuting();
  return loading_;
}

bool NQProxy::isLoaded() {
  loaded_ = oper_ && oper_->isFinished();
  return loaded_;
}
