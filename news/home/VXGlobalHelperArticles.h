#pragma once
// Opening an article from anywhere: a tapped news item (lists, favourites) is recorded as read,
// then routed by its type like a plain article reference (pushed headlines): "album" to the album
// screen, absent or "" to the article screen, anything else nowhere. The offline copy of an
// article is VXOfflineArticleStore's.
#include <functional>
#include <memory>

#include "news/store/VXNewsDO.h"
#include "os/core/Value.h"

namespace os {
class ViewController;
}
class VXReaderContext;

namespace VXGlobalHelperArticles {

inline constexpr const char* kAlbumType = "album";

// The routes of the context that open screens of folders above the one asking: a tapped news item
// (pushViewControllerByDO) and an article's pictures (the image viewer, presented). The screens
// they open are given that context.
void installRoutes(VXReaderContext& context);

// Builds the album screen for an article reference in place of VXAlbumViewController (tests);
// without a factory the reader's own album screen opens. Kept in the reader context (without one,
// the current one).
using AlbumScreenFactory = std::function<std::shared_ptr<os::ViewController>(const os::Dictionary& info)>;
void setAlbumScreenFactory(AlbumScreenFactory factory);
void setAlbumScreenFactory(VXReaderContext& context, AlbumScreenFactory factory);

// {"id", "category", "icon"} of an item: the icon is its first picture address, or "".
os::Dictionary articleInfo(const VXNewsDO& item);

// Records the item as read in the context's history, then opens it by its type from the
// controller. A null item does nothing. Answers the opened screen, or null.
std::shared_ptr<os::ViewController> pushViewControllerByDO(const std::shared_ptr<VXNewsDO>& item, os::ViewController& vc,
                                                           const std::shared_ptr<VXReaderContext>& context);

// Opens the reference on the controller's navigation controller, a screen given `context`: the
// album screen without a bar, or the article screen, both animated. A type that is neither null,
// "" nor "album" (also one that is not text), or a controller outside any navigation, opens
// nothing. Answers the opened screen.
std::shared_ptr<os::ViewController> pushViewControllerByDict(const os::Dictionary& info, const os::Value& type,
                                                             os::ViewController& vc,
                                                             const std::shared_ptr<VXReaderContext>& context);

}  // namespace VXGlobalHelperArticles
