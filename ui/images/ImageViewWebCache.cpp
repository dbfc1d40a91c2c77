#include "ui/images/ImageViewWebCache.h"

#include "ui/images/BNImageCache.h"
#include "ui/images/BNMainThread.h"
#include "ui/images/BNWebImageManager.h"
#include "ui/images/ImageCommon.h"

namespace {
// What a screen dump calls a downloaded picture: its path on its server (the host and port say
// nothing to a reader and change from run to run).
std::string pictureSource(const os::URL& url) {
  std::string path = url.path();
  return path.empty() ? url.absoluteString() : path;
}

void reportNilURL(const BNWebImageCompletionBlock& completed) {
  if (!completed) return;
  BNRunOnMainThread([completed] { completed(nullptr, BNNilURLError(), BNCacheSourceNone, std::nullopt); });
}
}  // namespace

void sd_setImageWithURL(const std::shared_ptr<os::ImageView>& view, const std::optional<os::URL>& url, BNImagePtr placeholder,
                        unsigned options, BNViewProgressBlock progress, BNWebImageCompletionBlock completed) {
  if (!view) return;
  sd_cancelImageLoadOperationWithKey(view, kImageViewImageLoadKey);
  BNSetAttachedImageURL(view, url);
  std::weak_ptr<os::ImageView> weak = view;
  const bool showPlaceholder = !(options & BNImageLoadDelayPlaceholder);
  const bool loading = url.has_value();
  BNRunOnMainThread([weak, placeholder, showPlaceholder, loading] {
    auto v = weak.lock();
    if (!v) return;
    if (showPlaceholder) v->setImage(placeholder);
    if (loading) v->setPictureLoad(os::ImageView::PictureLoad::Loading);
  });
  if (!url) {
    reportNilURL(completed);
    return;
  }
  const std::string source = pictureSource(*url);
  auto operation = BNViewLoadingManager()->downloadImageWithURL(
      url, options, std::move(progress),
      [weak, placeholder, options, completed, picture = source](BNImagePtr image, std::optional<os::Error> error, BNCacheSource source,
                                                                bool finished, std::optional<os::URL> imageURL) {
        if (weak.expired()) return;
        BNRunOnMainThread([weak, placeholder, options, completed, image, error, source, finished, imageURL, picture] {
          auto v = weak.lock();
          if (!v) return;
          if (image) {
            v->setImage((options & BNImageLoadClipToView) ? BNImageClippedToViewBounds(image, v->bounds()) : image);
            v->setPictureLoad(finished ? os::ImageView::PictureLoad::Loaded : os::ImageView::PictureLoad::Loading, picture);
            v->setNeedsLayout();
          } else if (options & BNImageLoadDelayPlaceholder) {
            v->setImage(placeholder);
            v->setNeedsLayout();
          }
          if (!image && finished) v->setPictureLoad(os::ImageView::PictureLoad::Failed);
          if (completed && finished) completed(image, error, source, imageURL);
        });
      });
  sd_setImageLoadOperation(view, operation, kImageViewImageLoadKey);
}

bool BNShowCachedImageOrLoad(const std::shared_ptr<os::ImageView>& view, const std::string& url, BNImagePtr placeholder,
                             unsigned options, const BNImageTransform& transform, BNWebImageCompletionBlock completed) {
  if (!view) return false;
  sd_cancelCurrentImageLoad(view);
  std::optional<os::URL> parsed = url.empty() ? std::nullopt : os::URL::parse(url);
  if (parsed) {
    auto manager = BNViewLoadingManager();
    auto cache = manager ? manager->imageCache() : nullptr;
    if (cache) {
      if (auto cached = cache->imageFromDiskCacheForKey(manager->cacheKeyForURL(parsed))) {
        view->setImage(transform ? transform(cached) : cached);
        view->setPictureLoad(os::ImageView::PictureLoad::Loaded, pictureSource(*parsed));
        return true;
      }
    }
  }
  sd_setImageWithURL(view, parsed, std::move(placeholder), options, nullptr, std::move(completed));
  return false;
}

void sd_setImageWithURL(const std::shared_ptr<os::ImageView>& view, const std::optional<os::URL>& url) {
  sd_setImageWithURL(view, url, nullptr, 0, nullptr, nullptr);
}

void sd_setImageWithURL(const std::shared_ptr<os::ImageView>& view, const std::optional<os::URL>& url, BNImagePtr placeholder) {
  sd_setImageWithURL(view, url, std::move(placeholder), 0, nullptr, nullptr);
}

void sd_setImageWithURL(const std::shared_ptr<os::ImageView>& view, const std::optional<os::URL>& url, BNImagePtr placeholder,
                        unsigned options) {
  sd_setImageWithURL(view, url, std::move(placeholder), options, nullptr, nullptr);
}

void sd_setImageWithURL(const std::shared_ptr<os::ImageView>& view, const std::optional<os::URL>& url,
                        BNWebImageCompletionBlock completed) {
  sd_setImageWithURL(view, url, nullptr, 0, nullptr, std::move(completed));
}

void sd_setImageWithURL(const std::shared_ptr<os::ImageView>& view, const std::optional<os::URL>& url, BNImagePtr placeholder,
                        BNWebImageCompletionBlock completed) {
  sd_setImageWithURL(view, url, std::move(placeholder), 0, nullptr, std::move(completed));
}

void sd_setImageWithURL(const std::shared_ptr<os::ImageView>& view, const std::optional<os::URL>& url, BNImagePtr placeholder,
                        unsigned options, BNWebImageCompletionBlock completed) {
  sd_setImageWithURL(view, url, std::move(placeholder), options, nullptr, std::move(completed));
}

std::optional<os::URL> sd_imageURL(const std::shared_ptr<os::ImageView>& view) { return BNAttachedImageURL(view); }

void sd_setImageWithPreviousCachedImageWithURL(const std::shared_ptr<os::ImageView>& view, const std::optional<os::URL>& url,
                                               BNImagePtr placeholder, unsigned options, BNViewProgressBlock progress,
                                               BNWebImageCompletionBlock completed) {
  auto manager = BNViewLoadingManager();
  BNImagePtr cached = url ? manager->imageCache()->imageFromDiskCacheForKey(manager->cacheKeyForURL(url)) : nullptr;
  sd_setImageWithURL(view, url, cached ? cached : std::move(placeholder), options, std::move(progress), std::move(completed));
}

void sd_setAnimationImagesWithURLs(const std::shared_ptr<os::ImageView>& view, const std::vector<os::URL>& urls) {
  if (!view) return;
  sd_cancelCurrentAnimationImagesLoad(view);
  std::weak_ptr<os::ImageView> weak = view;
  std::vector<std::shared_ptr<BNWebImageOperation>> operations;
  auto manager = BNViewLoadingManager();
  for (const auto& url : urls) {
    operations.push_back(manager->downloadImageWithURL(
        url, 0, nullptr,
        [weak](BNImagePtr image, std::optional<os::Error>, BNCacheSource, bool, std::optional<os::URL>) {
          BNRunOnMainThread([weak, image] {
            auto v = weak.lock();
            if (!v) return;
            v->stopAnimating();
            if (image) {
              auto frames = v->animationImages();
              frames.push_back(image);
              v->setAnimationImages(std::move(frames));
              v->setNeedsLayout();
            }
            v->startAnimating();
          });
        }));
  }
  sd_setImageLoadOperations(view, std::move(operations), kImageViewAnimationImagesKey);
}

void sd_cancelCurrentImageLoad(const std::shared_ptr<os::ImageView>& view) {
  sd_cancelImageLoadOperationWithKey(view, kImageViewImageLoadKey);
}

void sd_cancelCurrentAnimationImagesLoad(const std::shared_ptr<os::ImageView>& view) {
  sd_cancelImageLoadOperationWithKey(view, kImageViewAnimationImagesKey);
}

void sd_setHighlightedImageWithURL(const std::shared_ptr<os::ImageView>& view, const std::optional<os::URL>& url, unsigned options,
                                   BNViewProgressBlock progress, BNWebImageCompletionBlock completed) {
  if (!view) return;
  sd_cancelCurrentHighlightedImageLoad(view);
  if (!url) {
    reportNilURL(completed);
    return;
  }
  std::weak_ptr<os::ImageView> weak = view;
  auto operation = BNViewLoadingManager()->downloadImageWithURL(
      url, options, std::move(progress),
      [weak, completed](BNImagePtr image, std::optional<os::Error> error, BNCacheSource source, bool finished,
                        std::optional<os::URL> imageURL) {
        if (weak.expired()) return;
        BNRunOnMainThread([weak, completed, image, error, source, finished, imageURL] {
          auto v = weak.lock();
          if (!v) return;
          if (image) {
            v->setHighlightedImage(image);
            v->setNeedsLayout();
          }
          if (completed && finished) completed(image, error, source, imageURL);
        });
      });
  sd_setImageLoadOperation(view, operation, kImageViewHighlightedImageKey);
}

void sd_setHighlightedImageWithURL(const std::shared_ptr<os::ImageView>& view, const std::optional<os::URL>& url) {
  sd_setHighlightedImageWithURL(view, url, 0, nullptr, nullptr);
}

void sd_setHighlightedImageWithURL(const std::shared_ptr<os::ImageView>& view, const std::optional<os::URL>& url, unsigned options) {
  sd_setHighlightedImageWithURL(view, url, options, nullptr, nullptr);
}

void sd_setHighlightedImageWithURL(const std::shared_ptr<os::ImageView>& view, const std::optional<os::URL>& url,
                                   BNWebImageCompletionBlock completed) {
  sd_setHighlightedImageWithURL(view, url, 0, nullptr, std::move(completed));
}

void sd_setHighlightedImageWithURL(const std::shared_ptr<os::ImageView>& view, const std::optional<os::URL>& url, unsigned options,
                                   BNWebImageCompletionBlock completed) {
  sd_setHighlightedImageWithURL(view, url, options, nullptr, std::move(completed));
}

void sd_cancelCurrentHighlightedImageLoad(const std::shared_ptr<os::ImageView>& view) {
  sd_cancelImageLoadOperationWithKey(view, kImageViewHighlightedImageKey);
}

// ----- older names -----

std::optional<os::URL> imageURL(const std::shared_ptr<os::ImageView>& view) { return sd_imageURL(view); }
void setImageWithURL(const std::shared_ptr<os::ImageView>& view, const std::optional<os::URL>& url, BNImagePtr placeholder,
                     unsigned options) {
  sd_setImageWithURL(view, url, std::move(placeholder), options);
}
void setImageWithURL(const std::shared_ptr<os::ImageView>& view, const std::optional<os::URL>& url, BNWebImageCompletedBlock completed) {
  sd_setImageWithURL(view, url, nullptr, 0, nullptr, BNCompletionDroppingURL(std::move(completed)));
}
void setImageWithURL(const std::shared_ptr<os::ImageView>& view, const std::optional<os::URL>& url, BNImagePtr placeholder,
                     BNWebImageCompletedBlock completed) {
  sd_setImageWithURL(view, url, std::move(placeholder), 0, nullptr, BNCompletionDroppingURL(std::move(completed)));
}
void setImageWithURL(const std::shared_ptr<os::ImageView>& view, const std::optional<os::URL>& url, BNImagePtr placeholder,
                     unsigned options, BNWebImageCompletedBlock completed) {
  sd_setImageWithURL(view, url, std::move(placeholder), options, nullptr, BNCompletionDroppingURL(std::move(completed)));
}
void setImageWithURL(const std::shared_ptr<os::ImageView>& view, const std::optional<os::URL>& url, BNImagePtr placeholder,
                     unsigned options, BNViewProgressBlock progress, BNWebImageCompletedBlock completed) {
  sd_setImageWithURL(view, url, std::move(placeholder), options, std::move(progress), BNCompletionDroppingURL(std::move(completed)));
}
void setAnimationImagesWithURLs(const std::shared_ptr<os::ImageView>& view, const std::vector<os::URL>& urls) {
  sd_setAnimationImagesWithURLs(view, urls);
}
void cancelCurrentArrayLoad(const std::shared_ptr<os::ImageView>& view) { sd_cancelCurrentAnimationImagesLoad(view); }
void cancelCurrentImageLoad(const std::shared_ptr<os::ImageView>& view) { sd_cancelCurrentImageLoad(view); }
void setHighlightedImageWithURL(const std::shared_ptr<os::ImageView>& view, const std::optional<os::URL>& url) {
  sd_setHighlightedImageWithURL(view, url);
}
void setHighlightedImageWithURL(const std::shared_ptr<os::ImageView>& view, const std::optional<os::URL>& url, unsigned options) {
  sd_setHighlightedImageWithURL(view, url, options);
}
void setHighlightedImageWithURL(const std::shared_ptr<os::ImageView>& view, const std::optional<os::URL>& url,
                                BNWebImageCompletedBlock completed) {
  sd_setHighlightedImageWithURL(view, url, 0, nullptr, BNCompletionDroppingURL(std::move(completed)));
}
void setHighlightedImageWithURL(const std::shared_ptr<os::ImageView>& view, const std::optional<os::URL>& url, unsigned options,
                                BNWebImageCompletedBlock completed) {
  sd_setHighlightedImageWithURL(view, url, options, nullptr, BNCompletionDroppingURL(std::move(completed)));
}
void setHighlightedImageWithURL(const std::shared_ptr<os::ImageView>& view, const std::optional<os::URL>& url, unsigned options,
                                BNViewProgressBlock progress, BNWebImageCompletedBlock completed) {
  sd_setHighlightedImageWithURL(view, url, options, std::move(progress), BNCompletionDroppingURL(std::move(completed)));
}
void cancelCurrentHighlightedImageLoad(const std::shared_ptr<os::ImageView>& view) { sd_cancelCurrentHighlightedImageLoad(view); }
