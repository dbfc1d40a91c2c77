#include "platforms/qq/QQApiTask.h"

#include "platforms/qq/QQApiDatastore.h"
#include "platforms/qq/QQOpenApiUtility.h"
#include "os/core/Log.h"
#include "os/graphics/ImageCodec.h"
#include "os/runtime/DispatchQueue.h"
#include "os/runtime/Timer.h"

namespace {
// Main thread only, as every entry of the client.
std::shared_ptr<QQApiTask> gRunning;
std::deque<std::shared_ptr<QQApiTask>> gWaiting;
}  // namespace

std::shared_ptr<QQApiTask> QQApiTask::runningTask() { return gRunning; }
std::size_t QQApiTask::waitingTaskCount() { return gWaiting.size(); }

void QQApiTask::postOnMainThread() {
  auto self = shared_from_this();
  os::DispatchQueue::main()->async([self] { self->internalMain(); });
}

void QQApiTask::internalMain() {
  if (gRunning) {
    gWaiting.push_back(shared_from_this());
    return;
  }
  gRunning = shared_from_this();
  main();
}

void QQApiTask::finish() {
  if (gRunning.get() != this) return;
  auto keep = std::move(gRunning);  // this object may go with the slot: nothing of it is used below
  if (!gWaiting.empty()) {
    auto next = gWaiting.front();
    gWaiting.pop_front();
    next->postOnMainThread();
  }
}

// ---- preview download ----

std::shared_ptr<QQApiTaskDownloadURLObjectPreviewData> QQApiTaskDownloadURLObjectPreviewData::initWithURLMessage(
    std::shared_ptr<QQApiMessage> message) {
  auto task = std::make_shared<QQApiTaskDownloadURLObjectPreviewData>();
  task->urlMsg_ = std::move(message);
  return task;
}

QQApiTaskDownloadURLObjectPreviewData::~QQApiTaskDownloadURLObjectPreviewData() {
  dropRequest();
  if (timeout_) timeout_->invalidate();
}

void QQApiTaskDownloadURLObjectPreviewData::main() {
  auto* link = urlMsg_ ? dynamic_cast<QQApiURLObject*>(urlMsg_->object.get()) : nullptr;
  if (!link || !link->previewImageURL) {
    finish();
    return;
  }
  dropRequest();
  auto self = std::dynamic_pointer_cast<QQApiTaskDownloadURLObjectPreviewData>(shared_from_this());
  request_ = VelmoraRequest::getRequestWithParams({}, "GET", std::weak_ptr<VelmoraRequestDelegate>(self), *link->previewImageURL);
  request_->connect();
  std::weak_ptr<QQApiTaskDownloadURLObjectPreviewData> weak = self;
  timeout_ = os::Timer::scheduled(kQQApiPreviewTimeout, false, [weak](os::Timer&) {
    if (auto task = weak.lock()) task->onTimeout();
  });
}

void QQApiTaskDownloadURLObjectPreviewData::dropRequest() {
  if (!request_) return;
  request_->setDelegate({});
  request_->cancel();
  request_.reset();
}

void QQApiTaskDownloadURLObjectPreviewData::requestDidLoadRawResponse(VelmoraRequest&, const os::Data& data) {
  auto* link = urlMsg_ ? dynamic_cast<QQApiURLObject*>(urlMsg_->object.get()) : nullptr;
  if (link && os::decodeImage(data)) link->previewImageData = data;
  resendShareMessage();
}

void QQApiTaskDownloadURLObjectPreviewData::requestDidFailWithError(VelmoraRequest&, const os::Error&) {
  resendShareMessage();
}

void QQApiTaskDownloadURLObjectPreviewData::onTimeout() {
  dropRequest();
  resendShareMessage();
}

void QQApiTaskDownloadURLObjectPreviewData::resendShareMessage() {
  auto self = shared_from_this();
  if (timeout_) {
    timeout_->invalidate();
    timeout_.reset();
  }
  if (urlMsg_ && dynamic_cast<QQApiURLObject*>(urlMsg_->object.get())) {
    auto message = std::move(urlMsg_);
    message->setAssociatedTask(this);
    QQApi::sendMessage(message);
  }
  urlMsg_.reset();
  if (request_) request_->setDelegate({});  // its parse of the image bytes is of no interest
  finish();
}

// ---- online status ----

std::shared_ptr<QQApiTaskGetQQUinOnlineStatues> QQApiTaskGetQQUinOnlineStatues::initWithQQUins(
    std::vector<std::string> uins, std::weak_ptr<QQApiInterfaceDelegate> delegate) {
  auto task = std::make_shared<QQApiTaskGetQQUinOnlineStatues>();
  task->QQUins_ = std::move(uins);
  task->delegate_ = std::move(delegate);
  return task;
}

void QQApiTaskGetQQUinOnlineStatues::main() {
  if (connection_) connection_->cancel();
  stringData_.reset();
  const std::string url =
      QQOpenApiUtility::urlStringWithQQUinsArray(QQApiDatastore::instance().endpoints.onlineStatusBase, QQUins_);
  os::URLRequest request(url, os::URLRequestCachePolicy::UseProtocolCachePolicy, 60);
  auto self = std::dynamic_pointer_cast<QQApiTaskGetQQUinOnlineStatues>(shared_from_this());
  connection_ = os::URLConnection::create(request, std::weak_ptr<os::URLConnectionDelegate>(self), true);
}

void QQApiTaskGetQQUinOnlineStatues::didReceiveData(os::URLConnection&, const os::Data& data) {
  if (!stringData_) {
    stringData_.emplace();
    stringData_->reserve(2048);
  }
  stringData_->insert(stringData_->end(), data.begin(), data.end());
}

void QQApiTaskGetQQUinOnlineStatues::didFinishLoading(os::URLConnection&) {
  const std::string text = stringData_ ? os::stringFromData(*stringData_) : std::string();
  os::logf("resultStr:%s", text.c_str());
  answer(QQOpenApiUtility::dictionaryWithReturnString(text, QQUins_));
}

void QQApiTaskGetQQUinOnlineStatues::didFailWithError(os::URLConnection&, const os::Error&) {
  // The caller waits for an answer either way: a failed query knows of nobody online.
  answer({});
}

void QQApiTaskGetQQUinOnlineStatues::answer(const os::Dictionary& response) {
  auto self = shared_from_this();
  connection_.reset();
  stringData_.reset();
  if (auto d = delegate_.lock()) d->isOnlineResponse(response);
  finish();
}
