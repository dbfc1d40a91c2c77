#include "foundation/http/TLImageViewLoader.h"

std::shared_ptr<os::OperationQueue> TLImageViewLoader::af_sharedImageRequestOperationQueue() {
  static auto queue = os::OperationQueue::create("TLImageViewLoader");
  return queue;
}

TLImageCache& TLImageViewLoader::af_sharedImageCache() {
  static auto* cache = new TLImageCache();
  return *cache;
}

void TLImageViewLoader::setImageWithURL(const std::shared_ptr<TLImageViewTarget>& view, const std::string& url,
                                        std::shared_ptr<os::Image> placeholder) {
  os::URLRequest request(url);
  request.addValueForHTTPHeaderField("image/*", "Accept");
  setImageWithURLRequest(view, request, std::move(placeholder), nullptr, nullptr);
}

void TLImageViewLoader::cancelImageRequestOperation(TLImageViewTarget& view) {
  if (const auto& op = view.af_imageRequestOperation()) op->cancel();
  view.af_setImageRequestOperation(nullptr);
}

void TLImageViewLoader::setImageWithURLRequest(const std::shared_ptr<TLImageViewTarget>& view, const os::URLRequest& request,
                                               std::shared_ptr<os::Image> placeholder, Success success, Failure failure) {
  cancelImageRequestOperation(*view);
  if (auto cached = af_sharedImageCache().cachedImageForRequest(request)) {
    if (success) success(std::nullopt, std::nullopt, cached);
    else view->setImage(cached);
    return;
  }
  view->setImage(std::move(placeholder));

  auto op = TLImageRequestOperation::create(request);
  // The operation must not keep the view alive, nor the view's slot keep the operation's
  // closures (which hold the view) in a cycle.
  std::weak_ptr<TLImageViewTarget> weakView = view;
  auto stillCurrent = [weakView, request]() -> std::shared_ptr<TLImageViewTarget> {
    auto v = weakView.lock();
    if (!v || !v->af_imageRequestOperation() || !(v->af_imageRequestOperation()->request() == request)) return nullptr;
    return v;
  };
  op->setCompletionBlockWithImageSuccess(
      [stillCurrent, success, request](const TLHTTPRequestOperation::Pointer& operation, const std::shared_ptr<os::Image>& image) {
        if (auto v = stillCurrent()) {
          if (success) success(request, operation->response(), image);
          else if (image) v->setImage(image);
          if (v->af_imageRequestOperation() == operation) v->af_setImageRequestOperation(nullptr);
        }
        af_sharedImageCache().cacheImage(image, request);
      },
      [stillCurrent, failure, request](const TLHTTPRequestOperation::Pointer& operation, const os::Error& error) {
        if (auto v = stillCurrent()) {
          if (failure) failure(request, operation->response(), error);
          if (v->af_imageRequestOperation() == operation) v->af_setImageRequestOperation(nullptr);
        }
      });
  view->af_setImageRequestOperation(op);
  af_sharedImageRequestOperationQueue()->addOperation(op);
}
