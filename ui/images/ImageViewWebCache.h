#pragma once
// An image view shows the image at a URL with one call: the view's previous load of the same
// kind is cancelled, the placeholder shown, the image loaded through the image manager and set
// on the main thread when it arrives. A reused table cell therefore never shows the picture of
// its previous row.
//
// Options are BNImageLoadOption bits; BNImageLoadDelayPlaceholder shows the placeholder only
// after a failed load, BNImageLoadClipToView shows the top-left part of the image twice the
// view's bounds in pixels. The completion runs once, on the main thread, with the image as
// delivered (never the clipped one) when the load has finished.
#include <functional>
#include <memory>
#include <string>
#include <optional>
#include <vector>

#include "os/core/URL.h"
#include "os/views/ImageView.h"
#include "ui/images/BNWebImageDownloader.h"
#include "ui/images/ViewWebCacheOperation.h"

inline constexpr const char* kImageViewImageLoadKey = "ImageViewImageLoad";
inline constexpr const char* kImageViewAnimationImagesKey = "ImageViewAnimationImages";
inline constexpr const char* kImageViewHighlightedImageKey = "highlightedImage";

using BNViewProgressBlock = BNWebImageDownloader::ProgressBlock;

void sd_setImageWithURL(const std::shared_ptr<os::ImageView>& view, const std::optional<os::URL>& url, BNImagePtr placeholder,
                        unsigned options, BNViewProgressBlock progress, BNWebImageCompletionBlock completed);
void sd_setImageWithURL(const std::shared_ptr<os::ImageView>& view, const std::optional<os::URL>& url);
void sd_setImageWithURL(const std::shared_ptr<os::ImageView>& view, const std::optional<os::URL>& url, BNImagePtr placeholder);
void sd_setImageWithURL(const std::shared_ptr<os::ImageView>& view, const std::optional<os::URL>& url, BNImagePtr placeholder,
                        unsigned options);
void sd_setImageWithURL(const std::shared_ptr<os::ImageView>& view, const std::optional<os::URL>& url,
                        BNWebImageCompletionBlock completed);
void sd_setImageWithURL(const std::shared_ptr<os::ImageView>& view, const std::optional<os::URL>& url, BNImagePtr placeholder,
                        BNWebImageCompletionBlock completed);
void sd_setImageWithURL(const std::shared_ptr<os::ImageView>& view, const std::optional<os::URL>& url, BNImagePtr placeholder,
                        unsigned options, BNWebImageCompletionBlock completed);

// The URL of the view's last load, even one that failed.
std::optional<os::URL> sd_imageURL(const std::shared_ptr<os::ImageView>& view);
// The image cached for the URL (memory, else disk) stands in for the placeholder while loading.
void sd_setImageWithPreviousCachedImageWithURL(const std::shared_ptr<os::ImageView>& view, const std::optional<os::URL>& url,
                                               BNImagePtr placeholder, unsigned options, BNViewProgressBlock progress,
                                               BNWebImageCompletionBlock completed);
// Frames are appended in the order their downloads complete.
void sd_setAnimationImagesWithURLs(const std::shared_ptr<os::ImageView>& view, const std::vector<os::URL>& urls);
void sd_cancelCurrentImageLoad(const std::shared_ptr<os::ImageView>& view);

// A row's picture in a reused cell: a load still running for the view's previous picture is
// cancelled; a picture the loading manager's cache (memory, then disk) holds for `url` is shown at
// once, through `transform` when one is given; anything else loads as sd_setImageWithURL does,
// with `completed` as its completion. True when the cache had it.
using BNImageTransform = std::function<BNImagePtr(const BNImagePtr& image)>;
bool BNShowCachedImageOrLoad(const std::shared_ptr<os::ImageView>& view, const std::string& url, BNImagePtr placeholder,
                             unsigned options = 0, const BNImageTransform& transform = nullptr,
                             BNWebImageCompletionBlock completed = nullptr);
void sd_cancelCurrentAnimationImagesLoad(const std::shared_ptr<os::ImageView>& view);

// The highlighted image: no placeholder, no clipping, and the view's URL is left alone.
void sd_setHighlightedImageWithURL(const std::shared_ptr<os::ImageView>& view, const std::optional<os::URL>& url, unsigned options,
                                   BNViewProgressBlock progress, BNWebImageCompletionBlock completed);
void sd_setHighlightedImageWithURL(const std::shared_ptr<os::ImageView>& view, const std::optional<os::URL>& url);
void sd_setHighlightedImageWithURL(const std::shared_ptr<os::ImageView>& view, const std::optional<os::URL>& url, unsigned options);
void sd_setHighlightedImageWithURL(const std::shared_ptr<os::ImageView>& view, const std::optional<os::URL>& url,
                                   BNWebImageCompletionBlock completed);
void sd_setHighlightedImageWithURL(const std::shared_ptr<os::ImageView>& view, const std::optional<os::URL>& url, unsigned options,
                                   BNWebImageCompletionBlock completed);
void sd_cancelCurrentHighlightedImageLoad(const std::shared_ptr<os::ImageView>& view);

// Older names, forwarding to the forms above (completions without the URL). The two shortest,
// setImageWithURL(view, url) and setImageWithURL(view, url, placeholder), belong to the image view
// loader (TLImageViewLoader), which answers them in this system.
std::optional<os::URL> imageURL(const std::shared_ptr<os::ImageView>& view);
void setImageWithURL(const std::shared_ptr<os::ImageView>& view, const std::optional<os::URL>& url, BNImagePtr placeholder,
                     unsigned options);
void setImageWithURL(const std::shared_ptr<os::ImageView>& view, const std::optional<os::URL>& url, BNWebImageCompletedBlock completed);
void setImageWithURL(const std::shared_ptr<os::ImageView>& view, const std::optional<os::URL>& url, BNImagePtr placeholder,
                     BNWebImageCompletedBlock completed);
void setImageWithURL(const std::shared_ptr<os::ImageView>& view, const std::optional<os::URL>& url, BNImagePtr placeholder,
                     unsigned options, BNWebImageCompletedBlock completed);
void setImageWithURL(const std::shared_ptr<os::ImageView>& view, const std::optional<os::URL>& url, BNImagePtr placeholder,
                     unsigned options, BNViewProgressBlock progress, BNWebImageCompletedBlock completed);
void setAnimationImagesWithURLs(const std::shared_ptr<os::ImageView>& view, const std::vector<os::URL>& urls);
void cancelCurrentArrayLoad(const std::shared_ptr<os::ImageView>& view);
void cancelCurrentImageLoad(const std::shared_ptr<os::ImageView>& view);
void setHighlightedImageWithURL(const std::shared_ptr<os::ImageView>& view, const std::optional<os::URL>& url);
void setHighlightedImageWithURL(const std::shared_ptr<os::ImageView>& view, const std::optional<os::URL>& url, unsigned options);
void setHighlightedImageWithURL(const std::shared_ptr<os::ImageView>& view, const std::optional<os::URL>& url,
                                BNWebImageCompletedBlock completed);
void setHighlightedImageWithURL(const std::shared_ptr<os::ImageView>& view, const std::optional<os::URL>& url, unsigned options,
                                BNWebImageCompletedBlock completed);
void setHighlightedImageWithURL(const std::shared_ptr<os::ImageView>& view, const std::optional<os::URL>& url, unsigned options,
                                BNViewProgressBlock progress, BNWebImageCompletedBlock completed);
void cancelCurrentHighlightedImageLoad(const std::shared_ptr<os::ImageView>& view);
