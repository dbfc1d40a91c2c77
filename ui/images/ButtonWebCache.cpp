#include "ui/images/ButtonWebCache.h"

#include <string>

#include "ui/images/BNMainThread.h"
#include "ui/images/BNWebImageManager.h"

namespace {
std::string imageKey(unsigned state) { return "ButtonImageOperation" + std::to_string(state); }
std::string backgroundKey(unsigned state) { return "ButtonBackgroundImageOperation" + std::to_string(state); }

void reportNilURL(const BNWebImageCompletionBlock& completed) {
  if (!completed) return;
  BNRunOnMainThread([completed] { completed(nullptr, BNNilURLError(), BNCacheSourceNone, std::nullopt); });
}

// Loads the URL and hands an arriving image to `apply` on the main thread while the button lives.
std::shared_ptr<BNWebImageOperation> load(const std::shared_ptr<os::Button>& button, const os::URL& url, unsigned options,
                                          std::function<void(os::Button&, BNImagePtr)> apply, BNWebImageCompletionBlock completed) {
  std::weak_ptr<os::Button> weak = button;
  return BNViewLoadingManager()->downloadImageWithURL(
      url, options, nullptr,
      [weak, apply, completed](BNImagePtr image, std::optional<os::Error> error, BNCacheSource source, bool finished,
                               std::optional<os::URL> imageURL) {
        if (weak.expired()) return;
        BNRunOnMainThread([weak, apply, completed, image, error, source, finished, imageURL] {
          auto b = weak.lock();
          if (!b) return;
          if (image) apply(*b, image);
          if (completed && finished) completed(image, error, source, imageURL);
        });
      });
}
}  // namespace

void sd_setImageWithURL(const std::shared_ptr<os::Button>& button, const std::optional<os::URL>& url, unsigned state,
                        BNImagePtr placeholder, unsigned options, BNWebImageCompletionBlock completed) {
  if (!button) return;
  button->setImage(placeholder, state);
  sd_cancelImageLoadForState(button, state);
  BNSetImageURLForState(button, state, url);
  if (!url) {
    reportNilURL(completed);
    return;
  }
  auto operation = load(button, *url, options, [state](os::Button& b, BNImagePtr image) { b.setImage(image, state); }, completed);
  sd_setImageLoadOperation(button, operation, state);
}

void sd_setImageWithURL(const std::shared_ptr<os::Button>& button, const std::optional<os::URL>& url, unsigned state) {
  sd_setImageWithURL(button, url, state, nullptr, 0, nullptr);
}
void sd_setImageWithURL(const std::shared_ptr<os::Button>& button, const std::optional<os::URL>& url, unsigned state,
                        BNImagePtr placeholder) {
  sd_setImageWithURL(button, url, state, std::move(placeholder), 0, nullptr);
}
void sd_setImageWithURL(const std::shared_ptr<os::Button>& button, const std::optional<os::URL>& url, unsigned state,
                        BNImagePtr placeholder, unsigned options) {
  sd_setImageWithURL(button, url, state, std::move(placeholder), options, nullptr);
}
void sd_setImageWithURL(const std::shared_ptr<os::Button>& button, const std::optional<os::URL>& url, unsigned state,
                        BNWebImageCompletionBlock completed) {
  sd_setImageWithURL(button, url, state, nullptr, 0, std::move(completed));
}
void sd_setImageWithURL(const std::shared_ptr<os::Button>& button, const std::optional<os::URL>& url, unsigned state,
                        BNImagePtr placeholder, BNWebImageCompletionBlock completed) {
  sd_setImageWithURL(button, url, state, std::move(placeholder), 0, std::move(completed));
}

void sd_setBackgroundImageWithURL(const std::shared_ptr<os::Button>& button, const std::optional<os::URL>& url, unsigned state,
                                  BNImagePtr placeholder, unsigned options, BNWebImageCompletionBlock completed) {
  if (!button) return;
  sd_cancelBackgroundImageLoadForState(button, state);
  button->setBackgroundImage(placeholder, state);
  if (!url) {
    reportNilURL(completed);
    return;
  }
  auto operation =
      load(button, *url, options, [state](os::Button& b, BNImagePtr image) { b.setBackgroundImage(image, state); }, completed);
  sd_setBackgroundImageLoadOperation(button, operation, state);
}

void sd_setBackgroundImageWithURL(const std::shared_ptr<os::Button>& button, const std::optional<os::URL>& url, unsigned state) {
  sd_setBackgroundImageWithURL(button, url, state, nullptr, 0, nullptr);
}
void sd_setBackgroundImageWithURL(const std::shared_ptr<os::Button>& button, const std::optional<os::URL>& url, unsigned state,
                                  BNImagePtr placeholder) {
  sd_setBackgroundImageWithURL(button, url, state, std::move(placeholder), 0, nullptr);
}
void sd_setBackgroundImageWithURL(const std::shared_ptr<os::Button>& button, const std::optional<os::URL>& url, unsigned state,
                                  BNImagePtr placeholder, unsigned options) {
  sd_setBackgroundImageWithURL(button, url, state, std::move(placeholder), options, nullptr);
}
void sd_setBackgroundImageWithURL(const std::shared_ptr<os::Button>& button, const std::optional<os::URL>& url, unsigned state,
                                  BNWebImageCompletionBlock completed) {
  sd_setBackgroundImageWithURL(button, url, state, nullptr, 0, std::move(completed));
}
void sd_setBackgroundImageWithURL(const std::shared_ptr<os::Button>& button, const std::optional<os::URL>& url, unsigned state,
                                  BNImagePtr placeholder, BNWebImageCompletionBlock completed) {
  sd_setBackgroundImageWithURL(button, url, state, std::move(placeholder), 0, std::move(completed));
}

std::optional<os::URL> sd_currentImageURL(const std::shared_ptr<os::Button>& button) {
  if (!button) return std::nullopt;
  if (auto url = BNImageURLForState(button, button->state())) return url;
  return BNImageURLForState(button, os::kControlStateNormal);
}

std::optional<os::URL> sd_imageURLForState(const std::shared_ptr<os::Button>& button, unsigned state) {
  return BNImageURLForState(button, state);
}

void sd_setImageLoadOperation(const std::shared_ptr<os::Button>& button, std::shared_ptr<BNWebImageOperation> operation,
                              unsigned state) {
  sd_setImageLoadOperation(std::static_pointer_cast<os::View>(button), std::move(operation), imageKey(state));
}

void sd_cancelImageLoadForState(const std::shared_ptr<os::Button>& button, unsigned state) {
  sd_cancelImageLoadOperationWithKey(button, imageKey(state));
}

void sd_setBackgroundImageLoadOperation(const std::shared_ptr<os::Button>& button, std::shared_ptr<BNWebImageOperation> operation,
                                        unsigned state) {
  sd_setImageLoadOperation(std::static_pointer_cast<os::View>(button), std::move(operation), backgroundKey(state));
}

void sd_cancelBackgroundImageLoadForState(const std::shared_ptr<os::Button>& button, unsigned state) {
  sd_cancelImageLoadOperationWithKey(button, backgroundKey(state));
}

// ----- older names -----

std::optional<os::URL> currentImageURL(const std::shared_ptr<os::Button>& button) { return sd_currentImageURL(button); }
std::optional<os::URL> imageURLForState(const std::shared_ptr<os::Button>& button, unsigned state) {
  return sd_imageURLForState(button, state);
}
void setImageWithURL(const std::shared_ptr<os::Button>& button, const std::optional<os::URL>& url, unsigned state) {
  sd_setImageWithURL(button, url, state);
}
void setImageWithURL(const std::shared_ptr<os::Button>& button, const std::optional<os::URL>& url, unsigned state,
                     BNImagePtr placeholder) {
  sd_setImageWithURL(button, url, state, std::move(placeholder));
}
void setImageWithURL(const std::shared_ptr<os::Button>& button, const std::optional<os::URL>& url, unsigned state,
                     BNImagePtr placeholder, unsigned options) {
  sd_setImageWithURL(button, url, state, std::move(placeholder), options);
}
void setImageWithURL(const std::shared_ptr<os::Button>& button, const std::optional<os::URL>& url, unsigned state,
                     BNWebImageCompletedBlock completed) {
  sd_setImageWithURL(button, url, state, nullptr, 0, BNCompletionDroppingURL(std::move(completed)));
}
void setImageWithURL(const std::shared_ptr<os::Button>& button, const std::optional<os::URL>& url, unsigned state,
                     BNImagePtr placeholder, BNWebImageCompletedBlock completed) {
  sd_setImageWithURL(button, url, state, std::move(placeholder), 0, BNCompletionDroppingURL(std::move(completed)));
}
void setImageWithURL(const std::shared_ptr<os::Button>& button, const std::optional<os::URL>& url, unsigned state,
                     BNImagePtr placeholder, unsigned options, BNWebImageCompletedBlock completed) {
  sd_setImageWithURL(button, url, state, std::move(placeholder), options, BNCompletionDroppingURL(std::move(completed)));
}
void setBackgroundImageWithURL(const std::shared_ptr<os::Button>& button, const std::optional<os::URL>& url, unsigned state) {
  sd_setBackgroundImageWithURL(button, url, state);
}
void setBackgroundImageWithURL(const std::shared_ptr<os::Button>& button, const std::optional<os::URL>& url, unsigned state,
                               BNImagePtr placeholder) {
  sd_setBackgroundImageWithURL(button, url, state, std::move(placeholder));
}
void setBackgroundImageWithURL(const std::shared_ptr<os::Button>& button, const std::optional<os::URL>& url, unsigned state,
                               BNImagePtr placeholder, unsigned options) {
  sd_setBackgroundImageWithURL(button, url, state, std::move(placeholder), options);
}
void setBackgroundImageWithURL(const std::shared_ptr<os::Button>& button, const std::optional<os::URL>& url, unsigned state,
                               BNWebImageCompletedBlock completed) {
  sd_setBackgroundImageWithURL(button, url, state, nullptr, 0, BNCompletionDroppingURL(std::move(completed)));
}
void setBackgroundImageWithURL(const std::shared_ptr<os::Button>& button, const std::optional<os::URL>& url, unsigned state,
                               BNImagePtr placeholder, BNWebImageCompletedBlock completed) {
  sd_setBackgroundImageWithURL(button, url, state, std::move(placeholder), 0, BNCompletionDroppingURL(std::move(completed)));
}
void setBackgroundImageWithURL(const std::shared_ptr<os::Button>& button, const std::optional<os::URL>& url, unsigned state,
                               BNImagePtr placeholder, unsigned options, BNWebImageCompletedBlock completed) {
  sd_setBackgroundImageWithURL(button, url, state, std::move(placeholder), options, BNCompletionDroppingURL(std::move(completed)));
}
void cancelCurrentImageLoad(const std::shared_ptr<os::Button>& button) {
  if (button) sd_cancelImageLoadForState(button, button->state());
}
void cancelBackgroundImageLoadForState(const std::shared_ptr<os::Button>& button, unsigned state) {
  sd_cancelBackgroundImageLoadForState(button, state);
}
