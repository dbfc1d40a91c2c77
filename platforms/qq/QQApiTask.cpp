#include "platforms/qq/QQApiTask.h"

#include "platforms/qq/QQApiDatastore.h"
#include "platforms/qq/QQOpenApiUtility.h"
#include "os/core/Log.h"
#include <algorithm>
#include <cmath>
#include <utility>

#include "os/graphics/BitmapContext.h"
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

// ---- preview tasks ----

QQApiPreviewTask::~QQApiPreviewTask() {
  dropRequest();
  if (timeout_) timeout_->invalidate();
}

QQApiURLObject* QQApiPreviewTask::link() const {
  return urlMsg_ ? dynamic_cast<QQApiURLObject*>(urlMsg_->object.get()) : nullptr;
}

void QQApiPreviewTask::start(std::shared_ptr<VelmoraRequest> request) {
  dropRequest();
  request_ = std::move(request);
  request_->connect();
  std::weak_ptr<QQApiTask> weak = shared_from_this();
  timeout_ = os::Timer::scheduled(kQQApiPreviewTimeout, false, [weak](os::Timer&) {
    if (auto task = std::dynamic_pointer_cast<QQApiPreviewTask>(weak.lock())) task->onTimeout();
  });
}

void QQApiPreviewTask::dropRequest() {
  if (!request_) return;
  request_->setDelegate({});
  request_->cancel();
  request_.reset();
}

void QQApiPreviewTask::requestDidFailWithError(VelmoraRequest&, const os::Error&) { resendShareMessage(); }

void QQApiPreviewTask::onTimeout() {
  dropRequest();
  resendShareMessage();
}

void QQApiPreviewTask::resendShareMessage() {
  auto self = shared_from_this();
  if (timeout_) {
    timeout_->invalidate();
    timeout_.reset();
  }
  // The send made here is the share's only send: its result goes to whoever waits for it.
  std::shared_ptr<QQApiLaterSend> laterSend;
  std::optional<std::int32_t> sent;
  if (link()) {
    auto message = std::move(urlMsg_);
    laterSend = message->laterSend;
    if (!laterSend || !laterSend->withdrawn) {
      message->setAssociatedTask(this);
      sent = QQApi::sendMessage(message);
    }
  }
  urlMsg_.reset();
  if (request_) request_->setDelegate({});  // what else it reports is of no interest now
  finish();
  // Told last: the one who hears may start another share at once.
  if (sent && laterSend && laterSend->done) std::exchange(laterSend->done, nullptr)(*sent);
}

std::shared_ptr<QQApiTaskDownloadURLObjectPreviewData> QQApiTaskDownloadURLObjectPreviewData::initWithURLMessage(
    std::shared_ptr<QQApiMessage> message) {
  auto task = std::make_shared<QQApiTaskDownloadURLObjectPreviewData>();
  task->urlMsg_ = std::move(message);
  return task;
}

void QQApiTaskDownloadURLObjectPreviewData::main() {
  auto* l = link();
  if (!l || !l->previewImageURL) {
    finish();
    return;
  }
  auto self = std::dynamic_pointer_cast<QQApiTaskDownloadURLObjectPreviewData>(shared_from_this());
  start(VelmoraRequest::getRequestWithParams({}, "GET", std::weak_ptr<VelmoraRequestDelegate>(self), *l->previewImageURL));
}

void QQApiTaskDownloadURLObjectPreviewData::requestDidLoadRawResponse(VelmoraRequest&, const os::Data& data) {
  // A picture larger than a message may carry would make the share itself refused: it goes out
  // without it, as when nothing came.
  if (auto* l = link(); l && data.size() <= kQQApiPreviewImageMax && os::decodeImage(data)) l->previewImageData = data;
  resendShareMessage();
}

// ---- preview upload ----

std::shared_ptr<QQApiTaskUploadURLObjectPreviewData> QQApiTaskUploadURLObjectPreviewData::initWithURLMessage(
    std::shared_ptr<QQApiMessage> message) {
  auto task = std::make_shared<QQApiTaskUploadURLObjectPreviewData>();
  task->urlMsg_ = std::move(message);
  return task;
}

void QQApiTaskUploadURLObjectPreviewData::main() {
  auto* l = link();
  if (!l || !l->previewImageData) {
    finish();
    return;
  }
  auto self = std::dynamic_pointer_cast<QQApiTaskUploadURLObjectPreviewData>(shared_from_this());
  auto image = os::decodeImage(*l->previewImageData);
  if (!image) {
    l->previewImageData.reset();
    os::DispatchQueue::main()->async([self] { self->resendShareMessage(); });
    return;
  }
  auto scaled = UIImageScaleSizeToFill(image, kCGIUploadShareImageSizeMax, kCGIUploadShareImageSizeMax);
  auto jpeg = scaled ? os::encodeJPEG(*scaled, 0.8) : std::nullopt;
  VelmoraParams params{{"share_image", os::Value(jpeg.value_or(os::Data{}))}};
  start(VelmoraRequest::getRequestWithParams(std::move(params), "POST", std::weak_ptr<VelmoraRequestDelegate>(self),
                                             QQApiDatastore::instance().endpoints.shareImageUpload));
}

void QQApiTaskUploadURLObjectPreviewData::requestDidLoad(VelmoraRequest&, const std::optional<os::Value>& result,
                                                         const os::Data&) {
  // Whatever shape the answer has, the share goes out.
  if (auto* l = link(); l && result) {
    if (const std::string* url = (*result)["result"]["url"].string()) l->previewImageURL = *url;
  }
  resendShareMessage();
}

std::shared_ptr<os::Image> UIImageScaleSizeToFill(const std::shared_ptr<os::Image>& image, double maxWidth, double maxHeight) {
  if (!image || maxWidth < 0 || maxHeight < 0) return nullptr;
  os::Size size = image->size();
  if (image->scale() != 1) size = os::Size{size.width * image->scale(), size.height * image->scale()};
  if (size.width <= maxWidth && size.height <= maxHeight) return image;
  const double ratio = size.width < size.height ? (maxWidth + 0.01) / (size.width + 0.01)
                                                : (maxHeight + 0.01) / (size.height + 0.01);
  double targetWidth = std::trunc(size.width), targetHeight = std::trunc(size.height);
  if (ratio < 1) {
    targetWidth = std::trunc(targetWidth * ratio);
    targetHeight = std::trunc(targetHeight * ratio);
  }
  const int width = static_cast<int>(std::min(targetWidth, maxWidth));
  const int height = static_cast<int>(std::min(targetHeight, maxHeight));
  if (width <= 0 || height <= 0) return nullptr;
  os::BitmapContext context(width, height);
  context.translateCTM(width / 2.0, height / 2.0);
  const double drawWidth = ratio < 1 ? size.width * ratio : size.width;
  const double drawHeight = ratio < 1 ? size.height * ratio : size.height;
  // Drawing applies the image's orientation.
  context.drawImage(image, os::Rect(-drawWidth / 2, -drawHeight / 2, drawWidth, drawHeight));
  return context.makeImage();
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
  // Read where it lies (the connection bounds it); the log line takes only its start.
  const std::string_view text =
      stringData_ ? std::string_view(reinterpret_cast<const char*>(stringData_->data()), stringData_->size())
                  : std::string_view();
  os::logf("resultStr:%.*s", static_cast<int>(text.size()), text.data());
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
