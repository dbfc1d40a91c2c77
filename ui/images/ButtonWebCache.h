#pragma once
// A button shows the image (or background image) at a URL for a control state with one call.
// The image and the background image of a state load independently: starting one never stops
// the other.
#include <memory>
#include <optional>

#include "os/core/URL.h"
#include "os/views/Button.h"
#include "ui/images/ViewWebCacheOperation.h"

void sd_setImageWithURL(const std::shared_ptr<os::Button>& button, const std::optional<os::URL>& url, unsigned state,
                        BNImagePtr placeholder, unsigned options, BNWebImageCompletionBlock completed);
void sd_setImageWithURL(const std::shared_ptr<os::Button>& button, const std::optional<os::URL>& url, unsigned state);
void sd_setImageWithURL(const std::shared_ptr<os::Button>& button, const std::optional<os::URL>& url, unsigned state,
                        BNImagePtr placeholder);
void sd_setImageWithURL(const std::shared_ptr<os::Button>& button, const std::optional<os::URL>& url, unsigned state,
                        BNImagePtr placeholder, unsigned options);
void sd_setImageWithURL(const std::shared_ptr<os::Button>& button, const std::optional<os::URL>& url, unsigned state,
                        BNWebImageCompletionBlock completed);
void sd_setImageWithURL(const std::shared_ptr<os::Button>& button, const std::optional<os::URL>& url, unsigned state,
                        BNImagePtr placeholder, BNWebImageCompletionBlock completed);

void sd_setBackgroundImageWithURL(const std::shared_ptr<os::Button>& button, const std::optional<os::URL>& url, unsigned state,
                                  BNImagePtr placeholder, unsigned options, BNWebImageCompletionBlock completed);
void sd_setBackgroundImageWithURL(const std::shared_ptr<os::Button>& button, const std::optional<os::URL>& url, unsigned state);
void sd_setBackgroundImageWithURL(const std::shared_ptr<os::Button>& button, const std::optional<os::URL>& url, unsigned state,
                                  BNImagePtr placeholder);
void sd_setBackgroundImageWithURL(const std::shared_ptr<os::Button>& button, const std::optional<os::URL>& url, unsigned state,
                                  BNImagePtr placeholder, unsigned options);
void sd_setBackgroundImageWithURL(const std::shared_ptr<os::Button>& button, const std::optional<os::URL>& url, unsigned state,
                                  BNWebImageCompletionBlock completed);
void sd_setBackgroundImageWithURL(const std::shared_ptr<os::Button>& button, const std::optional<os::URL>& url, unsigned state,
                                  BNImagePtr placeholder, BNWebImageCompletionBlock completed);

// The image URL of the button's current state, else of the normal state.
std::optional<os::URL> sd_currentImageURL(const std::shared_ptr<os::Button>& button);
std::optional<os::URL> sd_imageURLForState(const std::shared_ptr<os::Button>& button, unsigned state);

void sd_setImageLoadOperation(const std::shared_ptr<os::Button>& button, std::shared_ptr<BNWebImageOperation> operation,
                              unsigned state);
void sd_cancelImageLoadForState(const std::shared_ptr<os::Button>& button, unsigned state);
void sd_setBackgroundImageLoadOperation(const std::shared_ptr<os::Button>& button, std::shared_ptr<BNWebImageOperation> operation,
                                        unsigned state);
void sd_cancelBackgroundImageLoadForState(const std::shared_ptr<os::Button>& button, unsigned state);

// Older names, forwarding to the forms above (completions without the URL).
std::optional<os::URL> currentImageURL(const std::shared_ptr<os::Button>& button);
std::optional<os::URL> imageURLForState(const std::shared_ptr<os::Button>& button, unsigned state);
void setImageWithURL(const std::shared_ptr<os::Button>& button, const std::optional<os::URL>& url, unsigned state);
void setImageWithURL(const std::shared_ptr<os::Button>& button, const std::optional<os::URL>& url, unsigned state,
                     BNImagePtr placeholder);
void setImageWithURL(const std::shared_ptr<os::Button>& button, const std::optional<os::URL>& url, unsigned state,
                     BNImagePtr placeholder, unsigned options);
void setImageWithURL(const std::shared_ptr<os::Button>& button, const std::optional<os::URL>& url, unsigned state,
                     BNWebImageCompletedBlock completed);
void setImageWithURL(const std::shared_ptr<os::Button>& button, const std::optional<os::URL>& url, unsigned state,
                     BNImagePtr placeholder, BNWebImageCompletedBlock completed);
void setImageWithURL(const std::shared_ptr<os::Button>& button, const std::optional<os::URL>& url, unsigned state,
                     BNImagePtr placeholder, unsigned options, BNWebImageCompletedBlock completed);
void setBackgroundImageWithURL(const std::shared_ptr<os::Button>& button, const std::optional<os::URL>& url, unsigned state);
void setBackgroundImageWithURL(const std::shared_ptr<os::Button>& button, const std::optional<os::URL>& url, unsigned state,
                               BNImagePtr placeholder);
void setBackgroundImageWithURL(const std::shared_ptr<os::Button>& button, const std::optional<os::URL>& url, unsigned state,
                               BNImagePtr placeholder, unsigned options);
void setBackgroundImageWithURL(const std::shared_ptr<os::Button>& button, const std::optional<os::URL>& url, unsigned state,
                               BNWebImageCompletedBlock completed);
void setBackgroundImageWithURL(const std::shared_ptr<os::Button>& button, const std::optional<os::URL>& url, unsigned state,
                               BNImagePtr placeholder, BNWebImageCompletedBlock completed);
void setBackgroundImageWithURL(const std::shared_ptr<os::Button>& button, const std::optional<os::URL>& url, unsigned state,
                               BNImagePtr placeholder, unsigned options, BNWebImageCompletedBlock completed);
// The image load of the button's current state.
void cancelCurrentImageLoad(const std::shared_ptr<os::Button>& button);
void cancelBackgroundImageLoadForState(const std::shared_ptr<os::Button>& button, unsigned state);
