#include "foundation/http/TLImageRequestOperation.h"

#include "foundation/http/TLHTTPClient.h"
#include "os/graphics/ImageCodec.h"
#include "os/runtime/DispatchQueue.h"

TLImageRequestOperation::TLImageRequestOperation(os::URLRequest request, const TLNetworkingEdition& edition)
    : TLHTTPRequestOperation(std::move(request), edition),
      imageScale_(TLHTTPClientEnvironment::current().screenScale.value_or(1.0)) {}

std::shared_ptr<TLImageRequestOperation> TLImageRequestOperation::create(os::URLRequest request) {
  return std::make_shared<TLImageRequestOperation>(std::move(request));
}

std::shared_ptr<os::DispatchQueue> TLImageRequestOperation::processingQueue() {
  static auto queue = os::DispatchQueue::create("com.tessaline.networking.image-request.processing", os::DispatchQueue::Kind::Concurrent);
  return queue;
}

TLHTTPOperationClass& TLImageRequestOperation::operationClass() {
  static TLHTTPOperationClass* cls = [] {
    auto* c = new TLHTTPOperationClass("TLImageRequestOperation", &TLHTTPRequestOperation::operationClass(),
                                       [](const os::URLRequest& r) { return std::static_pointer_cast<TLHTTPRequestOperation>(create(r)); });
    c->declareAcceptableContentTypes(TLHTTPOperationClass::ContentTypes{
        "image/tiff", "image/jpeg", "image/gif", "image/png", "image/ico", "image/x-icon", "image/bmp", "image/x-bmp",
        "image/x-xbitmap", "image/x-win-bitmap"});
    c->declarePathExtensions({"tif", "tiff", "jpg", "jpeg", "gif", "png", "ico", "bmp", "cur"});
    return c;
  }();
  return *cls;
}

double TLImageRequestOperation::imageScale() const {
  std::lock_guard guard(lock());
  return imageScale_;
}

void TLImageRequestOperation::setImageScale(double scale) {
  std::lock_guard guard(lock());
  if (scale == imageScale_) return;
  imageScale_ = scale;
  responseImage_.reset();
}

bool TLImageRequestOperation::automaticallyInflatesResponseImage() const {
  std::lock_guard guard(lock());
  return automaticallyInflatesResponseImage_;
}

void TLImageRequestOperation::setAutomaticallyInflatesResponseImage(bool inflate) {
  std::lock_guard guard(lock());
  automaticallyInflatesResponseImage_ = inflate;
}

TLImageRequestOperation::ImagePointer TLImageRequestOperation::makeImage(const os::Data& data, os::Error& error) const {
  os::ImageDecodeOptions options;
  options.scale = imageScale_;
  if (!automaticallyInflatesResponseImage_) return os::decodeImage(data, &error, options);
  auto r = response();
  auto types = TLContentTypesFromHTTPHeader(r ? r->valueForHTTPHeaderField("Content-Type") : std::nullopt);
  ImagePointer decoded;
  if (types.count("image/png")) decoded = os::decodePNG(data, &error, options);
  else if (types.count("image/jpeg")) decoded = os::decodeJPEG(data, &error, options);
  else decoded = os::decodeImage(data, &error, options);
  if (!decoded) return nullptr;
  if (decoded->isAnimated()) return decoded;
  // Drawn once into a bitmap of its own, upright, so showing it needs no further work.
  return decoded->upright()->withScale(imageScale_, os::ImageOrientation::Up);
}

TLImageRequestOperation::ImagePointer TLImageRequestOperation::responseImage() {
  std::lock_guard guard(lock());
  if (!responseImage_ && isFinished()) {
    os::Data data = responseData();
    if (!data.empty()) {
      os::Error decodeError;
      responseImage_ = makeImage(data, decodeError);
      if (responseImage_) imageError_.reset();
      else imageError_ = decodeError;
    }
  }
  return responseImage_;
}

std::optional<os::Error> TLImageRequestOperation::imageError() const {
  std::lock_guard guard(lock());
  return imageError_;
}

std::optional<os::Error> TLImageRequestOperation::error() {
  if (auto decodeError = imageError()) return decodeError;
  return TLHTTPRequestOperation::error();
}

void TLImageRequestOperation::setCompletionBlockWithImageSuccess(ImageSuccess success, FailureBlock failure) {
  std::weak_ptr<os::Operation> weak = weak_from_this();
  setCompletionBlock([weak, success = std::move(success), failure = std::move(failure)] {
    auto locked = weak.lock();
    if (!locked) return;
    auto op = std::static_pointer_cast<TLImageRequestOperation>(locked);
    processingQueue()->async([op, success, failure] {
      if (auto error = op->error()) {
        if (failure) op->failureQueueOrMain()->async([op, failure, e = *error] { failure(op, e); });
        return;
      }
      auto image = op->responseImage();
      auto error = op->error();
      if (!image && !error)
        error = os::Error(op->edition().errorDomain, -1016,
                          os::Dictionary{{os::kErrorDescriptionKey, os::Value("The answer held no image.")}});
      if (error) {
        if (failure) op->failureQueueOrMain()->async([op, failure, e = *error] { failure(op, e); });
      } else if (success) {
        op->successQueueOrMain()->async([op, success, image] { success(op, image); });
      }
    });
  });
}

void TLImageRequestOperation::setCompletionBlockWithSuccess(SuccessBlock success, FailureBlock failure) {
  setCompletionBlockWithImageSuccess(
      success ? ImageSuccess([success](const Pointer& op, const ImagePointer&) { success(op, os::Value()); }) : ImageSuccess(),
      std::move(failure));
}

std::shared_ptr<TLImageRequestOperation> TLImageRequestOperation::imageRequestOperationWithRequest(
    const os::URLRequest& request, std::function<void(const ImagePointer& image)> success) {
  return imageRequestOperationWithRequest(
      request, nullptr,
      success ? RequestImageSuccess([success](const std::optional<os::URLRequest>&, const std::optional<os::HTTPURLResponse>&,
                                              const ImagePointer& image) { success(image); })
              : RequestImageSuccess(),
      nullptr);
}

std::shared_ptr<TLImageRequestOperation> TLImageRequestOperation::imageRequestOperationWithRequest(const os::URLRequest& request,
                                                                                                 ImageProcessingBlock processing,
                                                                                                 RequestImageSuccess success,
                                                                                                 RequestFailure failure) {
  auto op = create(request);
  op->setCompletionBlockWithImageSuccess(
      [processing, success](const Pointer& operation, const ImagePointer& image) {
        auto imageOp = std::static_pointer_cast<TLImageRequestOperation>(operation);
        if (!success) return;
        if (!processing) return success(imageOp->request(), imageOp->response(), image);
        processingQueue()->async([imageOp, processing, success, image] {
          auto processed = processing(image);
          imageOp->successQueueOrMain()->async(
              [imageOp, success, processed] { success(imageOp->request(), imageOp->response(), processed); });
        });
      },
      [failure](const Pointer& operation, const os::Error& error) {
        if (failure) failure(operation->request(), operation->response(), error);
      });
  return op;
}
