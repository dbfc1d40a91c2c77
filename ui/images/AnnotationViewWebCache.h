#pragma once
// A map annotation view shows the image at a URL with one call, like the image view: the view's
// previous load is cancelled, the placeholder shown, and an arriving image set on the main thread
// (no layout request: the view takes the image's size). The completion runs once the load has
// finished. The older names forward to these forms, their completion without the URL.
#include <memory>
#include <optional>

#include "os/core/URL.h"
#include "os/views/AnnotationView.h"
#include "ui/images/ViewWebCacheOperation.h"

inline constexpr const char* kAnnotationViewImageKey = "MKAnnotationViewImage";

void sd_setImageWithURL(const std::shared_ptr<os::AnnotationView>& view, const std::optional<os::URL>& url, BNImagePtr placeholder,
                        unsigned options, BNWebImageCompletionBlock completed);
void sd_setImageWithURL(const std::shared_ptr<os::AnnotationView>& view, const std::optional<os::URL>& url);
void sd_setImageWithURL(const std::shared_ptr<os::AnnotationView>& view, const std::optional<os::URL>& url, BNImagePtr placeholder);
void sd_setImageWithURL(const std::shared_ptr<os::AnnotationView>& view, const std::optional<os::URL>& url, BNImagePtr placeholder,
                        unsigned options);
void sd_setImageWithURL(const std::shared_ptr<os::AnnotationView>& view, const std::optional<os::URL>& url,
                        BNWebImageCompletionBlock completed);
void sd_setImageWithURL(const std::shared_ptr<os::AnnotationView>& view, const std::optional<os::URL>& url, BNImagePtr placeholder,
                        BNWebImageCompletionBlock completed);
std::optional<os::URL> sd_imageURL(const std::shared_ptr<os::AnnotationView>& view);
void sd_cancelCurrentImageLoad(const std::shared_ptr<os::AnnotationView>& view);

// Older names.
std::optional<os::URL> imageURL(const std::shared_ptr<os::AnnotationView>& view);
void setImageWithURL(const std::shared_ptr<os::AnnotationView>& view, const std::optional<os::URL>& url);
void setImageWithURL(const std::shared_ptr<os::AnnotationView>& view, const std::optional<os::URL>& url, BNImagePtr placeholder);
void setImageWithURL(const std::shared_ptr<os::AnnotationView>& view, const std::optional<os::URL>& url, BNImagePtr placeholder,
                     unsigned options);
void setImageWithURL(const std::shared_ptr<os::AnnotationView>& view, const std::optional<os::URL>& url,
                     BNWebImageCompletedBlock completed);
void setImageWithURL(const std::shared_ptr<os::AnnotationView>& view, const std::optional<os::URL>& url, BNImagePtr placeholder,
                     BNWebImageCompletedBlock completed);
void setImageWithURL(const std::shared_ptr<os::AnnotationView>& view, const std::optional<os::URL>& url, BNImagePtr placeholder,
                     unsigned options, BNWebImageCompletedBlock completed);
void cancelCurrentImageLoad(const std::shared_ptr<os::AnnotationView>& view);
