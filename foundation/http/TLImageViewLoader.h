#pragma once
// Loads an image view's picture from a URL: a cached image is shown at once, otherwise the
// placeholder is shown and an image request operation runs on a shared queue; its image is shown
// only if the view still waits for that request, and is cached in any case. A new load cancels
// the view's previous one. Used on the main thread; closures run on the main queue.
//
// The loader works on the platform's image views, and on anything else that can show an image
// (TLImageViewTarget). It keeps its own names: the image loader of the ui library has its own
// extension on image views, and the two must not meet.
#include <functional>
#include <memory>
#include <optional>

#include "foundation/http/TLImageCache.h"
#include "foundation/http/TLImageRequestOperation.h"
#include "os/runtime/OperationQueue.h"
#include "os/views/ImageView.h"

class TLImageViewTarget {
 public:
  virtual ~TLImageViewTarget() = default;
  virtual void setImage(std::shared_ptr<os::Image> image) = 0;
  virtual std::shared_ptr<os::Image> image() const = 0;

  // The view's current load, held strongly (the loader's own slot on the view).
  const std::shared_ptr<TLImageRequestOperation>& af_imageRequestOperation() const { return imageRequestOperation_; }
  void af_setImageRequestOperation(std::shared_ptr<TLImageRequestOperation> operation) {
    imageRequestOperation_ = std::move(operation);
  }

 private:
  std::shared_ptr<TLImageRequestOperation> imageRequestOperation_;
};

class TLImageViewLoader {
 public:
  using Success = std::function<void(const std::optional<os::URLRequest>& request,
                                     const std::optional<os::HTTPURLResponse>& response,
                                     const std::shared_ptr<os::Image>& image)>;
  using Failure = std::function<void(const os::URLRequest& request, const std::optional<os::HTTPURLResponse>& response,
                                     const os::Error& error)>;

  static void setImageWithURL(const std::shared_ptr<TLImageViewTarget>& view, const std::string& url,
                              std::shared_ptr<os::Image> placeholder = nullptr);
  static void setImageWithURLRequest(const std::shared_ptr<TLImageViewTarget>& view, const os::URLRequest& request,
                                     std::shared_ptr<os::Image> placeholder, Success success, Failure failure);
  static void cancelImageRequestOperation(TLImageViewTarget& view);

  // The same for an image view; the view's current load is kept beside it while the view exists.
  static void setImageWithURL(const std::shared_ptr<os::ImageView>& view, const std::string& url,
                              std::shared_ptr<os::Image> placeholder = nullptr);
  static void setImageWithURLRequest(const std::shared_ptr<os::ImageView>& view, const os::URLRequest& request,
                                     std::shared_ptr<os::Image> placeholder, Success success, Failure failure);
  static void cancelImageRequestOperation(const std::shared_ptr<os::ImageView>& view);
  static std::shared_ptr<TLImageRequestOperation> af_imageRequestOperation(const std::shared_ptr<os::ImageView>& view);

  static std::shared_ptr<os::OperationQueue> af_sharedImageRequestOperationQueue();
  static TLImageCache& af_sharedImageCache();
};
