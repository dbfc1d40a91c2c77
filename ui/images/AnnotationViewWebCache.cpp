#include "ui/images/AnnotationViewWebCache.h"

#include "ui/images/BNMainThread.h"
#include "ui/images/BNWebImageManager.h"

void sd_setImageWithURL(const std::shared_ptr<os::AnnotationView>& view, const std::optional<os::URL>& url, BNImagePtr placeholder,
                        unsigned options, BNWebImageCompletionBlock completed) {
  if (!view) return;
  sd_cancelImageLoadOperationWithKey(view, kAnnotationViewImageKey);
  BNSetAttachedImageURL(view, url);
  view->setImage(placeholder);
  if (!url) {
    if (completed)
      BNRunOnMainThread([completed] { completed(nullptr, BNNilURLError(), BNCacheSourceNone, std::nullopt); });
    return;
  }
  std::weak_ptr<os::AnnotationView> weak = view;
  auto operation = BNViewLoadingManager()->downloadImageWithURL(
      url, options, nullptr,
      [weak, completed](BNImagePtr image, std::optional<os::Error> error, BNCacheSource source, bool finished,
                        std::optional<os::URL> imageURL) {
        if (weak.expired()) return;
        BNRunOnMainThread([weak, completed, image, error, source, finished, imageURL] {
          auto v = weak.lock();
          if (!v) return;
          if (image) v->setImage(image);
          if (completed && finished) completed(image, error, source, imageURL);
        });
      });
  sd_setImageLoadOperation(view, operation, kAnnotationViewImageKey);
}

void sd_setImageWithURL(const std::shared_ptr<os::AnnotationView>& view, const std::optional<os::URL>& url) {
  sd_setImageWithURL(view, url, nullptr, 0, BNWebImageCompletionBlock{});
}
void sd_setImageWithURL(const std::shared_ptr<os::AnnotationView>& view, const std::optional<os::URL>& url, BNImagePtr placeholder) {
  sd_setImageWithURL(view, url, std::move(placeholder), 0, BNWebImageCompletionBlock{});
}
void sd_setImageWithURL(const std::shared_ptr<os::AnnotationView>& view, const std::optional<os::URL>& url, BNImagePtr placeholder,
                        unsigned options) {
  sd_setImageWithURL(view, url, std::move(placeholder), options, BNWebImageCompletionBlock{});
}
void sd_setImageWithURL(const std::shared_ptr<os::AnnotationView>& view, const std::optional<os::URL>& url,
                        BNWebImageCompletionBlock completed) {
  sd_setImageWithURL(view, url, nullptr, 0, std::move(completed));
}
void sd_setImageWithURL(const std::shared_ptr<os::AnnotationView>& view, const std::optional<os::URL>& url, BNImagePtr placeholder,
                        BNWebImageCompletionBlock completed) {
  sd_setImageWithURL(view, url, std::move(placeholder), 0, std::move(completed));
}

std::optional<os::URL> sd_imageURL(const std::shared_ptr<os::AnnotationView>& view) { return BNAttachedImageURL(view); }

void sd_cancelCurrentImageLoad(const std::shared_ptr<os::AnnotationView>& view) {
  sd_cancelImageLoadOperationWithKey(view, kAnnotationViewImageKey);
}

std::optional<os::URL> imageURL(const std::shared_ptr<os::AnnotationView>& view) { return sd_imageURL(view); }
void setImageWithURL(const std::shared_ptr<os::AnnotationView>& view, const std::optional<os::URL>& url) { sd_setImageWithURL(view, url); }
void setImageWithURL(const std::shared_ptr<os::AnnotationView>& view, const std::optional<os::URL>& url, BNImagePtr placeholder) {
  sd_setImageWithURL(view, url, std::move(placeholder));
}
void setImageWithURL(const std::shared_ptr<os::AnnotationView>& view, const std::optional<os::URL>& url, BNImagePtr placeholder,
                     unsigned options) {
  sd_setImageWithURL(view, url, std::move(placeholder), options);
}
void setImageWithURL(const std::shared_ptr<os::AnnotationView>& view, const std::optional<os::URL>& url,
                     BNWebImageCompletedBlock completed) {
  sd_setImageWithURL(view, url, nullptr, 0, BNCompletionDroppingURL(std::move(completed)));
}
void setImageWithURL(const std::shared_ptr<os::AnnotationView>& view, const std::optional<os::URL>& url, BNImagePtr placeholder,
                     BNWebImageCompletedBlock completed) {
  sd_setImageWithURL(view, url, std::move(placeholder), 0, BNCompletionDroppingURL(std::move(completed)));
}
void setImageWithURL(const std::shared_ptr<os::AnnotationView>& view, const std::optional<os::URL>& url, BNImagePtr placeholder,
                     unsigned options, BNWebImageCompletedBlock completed) {
  sd_setImageWithURL(view, url, std::move(placeholder), options, BNCompletionDroppingURL(std::move(completed)));
}
void cancelCurrentImageLoad(const std::shared_ptr<os::AnnotationView>& view) { sd_cancelCurrentImageLoad(view); }
