#pragma once
// What the view loading extensions keep per view: a table of running loads by key (one load or
// a list of them), the URL of the view's last load, and a button's URL per control state.
//
// The storage lives beside the view, not in it, for as long as the view lives: an entry whose
// view is gone is dropped (its loads are not cancelled; their results find no view).
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "os/core/Error.h"
#include "os/core/URL.h"
#include "os/views/View.h"
#include "ui/images/BNImageCache.h"
#include "ui/images/BNWebImageManager.h"
#include "ui/images/BNWebImageOperation.h"

// (image, error, source, URL): the view forms' completion.
using BNWebImageCompletionBlock =
    std::function<void(BNImagePtr image, std::optional<os::Error> error, BNCacheSource source, std::optional<os::URL> url)>;
// (image, error, source): the older forms' completion.
using BNWebImageCompletedBlock = std::function<void(BNImagePtr image, std::optional<os::Error> error, BNCacheSource source)>;
// An older form's completion as a view form's (empty stays empty).
inline BNWebImageCompletionBlock BNCompletionDroppingURL(BNWebImageCompletedBlock completed) {
  if (!completed) return {};
  return [completed = std::move(completed)](BNImagePtr image, std::optional<os::Error> error, BNCacheSource source,
                                            std::optional<os::URL>) { completed(std::move(image), std::move(error), source); };
}

// Cancels what the key holds, then keeps the operation under it.
void sd_setImageLoadOperation(const std::shared_ptr<os::View>& view, std::shared_ptr<BNWebImageOperation> operation,
                              const std::string& key);
void sd_setImageLoadOperations(const std::shared_ptr<os::View>& view, std::vector<std::shared_ptr<BNWebImageOperation>> operations,
                               const std::string& key);
// Cancels every load the key holds and removes the key.
void sd_cancelImageLoadOperationWithKey(const std::shared_ptr<os::View>& view, const std::string& key);
// Removes the key without cancelling.
void sd_removeImageLoadOperationWithKey(const std::shared_ptr<os::View>& view, const std::string& key);
// How many loads the key holds (0 when none).
std::size_t BNImageLoadOperationCount(const std::shared_ptr<os::View>& view, const std::string& key);

void BNSetAttachedImageURL(const std::shared_ptr<os::View>& view, const std::optional<os::URL>& url);
std::optional<os::URL> BNAttachedImageURL(const std::shared_ptr<os::View>& view);
void BNSetImageURLForState(const std::shared_ptr<os::View>& view, unsigned state, const std::optional<os::URL>& url);
std::optional<os::URL> BNImageURLForState(const std::shared_ptr<os::View>& view, unsigned state);

// The manager the view extensions load through: the shared one unless another was set.
std::shared_ptr<BNWebImageManager> BNViewLoadingManager();
void BNSetViewLoadingManager(std::shared_ptr<BNWebImageManager> manager);

// "Trying to load a nil url", code -1 of the image error domain.
os::Error BNNilURLError();
