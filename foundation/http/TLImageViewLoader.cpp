#include "foundation/http/TLImageViewLoader.h"

#include <map>
#include <mutex>

namespace {

// Shows images in an image view it does not keep alive.
class ImageViewTarget : public TLImageViewTarget {
 public:
  explicit ImageViewTarget(std::weak_ptr<os::ImageView> view) : view_(std::move(view)) {}
  void setImage(std::shared_ptr<os::Image> image) override {
    if (auto v = view_.lock()) v->setImage(std::move(image));
  }
  std::shared_ptr<os::Image> image() const override {
    auto v = view_.lock();
    return v ? v->image() : nullptr;
  }
  bool expired() const { return view_.expired(); }

 private:
  std::weak_ptr<os::ImageView> view_;
};

// The loader's state for each image view, as an associated reference would keep it.
std::shared_ptr<ImageViewTarget> targetFor(const std::shared_ptr<os::ImageView>& view, bool create) {
  static std::mutex mutex;
  static auto* targets = new std::map<const os::ImageView*, std::shared_ptr<ImageViewTarget>>();
  std::lock_guard lock(mutex);
  for (auto it = targets->begin(); it != targets->end();) {
    if (it->second->expired()) {
      if (const auto& op = it->second->af_imageRequestOperation()) op->cancel();
      it = targets->erase(it);
    } else {
      ++it;
    }
  }
  auto it = targets->find(view.get());
  if (it != targets->end()) return it->second;
  if (!create) return nullptr;
  auto target = std::make_shared<ImageViewTarget>(view);
  (*targets)[view.get()] = target;
  return target;
}

}  // namespace

void TLImageViewLoader::setImageWithURL(const std::shared_ptr<os::ImageView>& view, const std::string& url,
                                        std::shared_ptr<os::Image> placeholder) {
  setImageWithURL(std::static_pointer_cast<TLImageViewTarget>(targetFor(view, true)), url, std::move(placeholder));
}

void TLImageViewLoader::setImageWithURLRequest(const std::shared_ptr<os::ImageView>& view, const os::URLRequest& request,
                                               std::shared_ptr<os::Image> placeholder, Success success, Failure failure) {
  setImageWithURLRequest(std::static_pointer_cast<TLImageViewTarget>(targetFor(view, true)), request, std::move(placeholder),
                         std::move(success), std::move(failure));
}

void TLImageViewLoader::cancelImageRequestOperation(const std::shared_ptr<os::ImageView>& view) {
  if (auto target = targetFor(view, false)) cancelImageRequestOperation(*target);
}

std::shared_ptr<TLImageRequestOperation> TLImageViewLoader::af_imageRequestOperation(const std::shared_ptr<os::ImageView>& view) {
  auto target = targetFor(view, false);
  return target ? target->af_imageRequestOperation() : nullptr;
}

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
