#include "news/home/VXGlobalHelperArticles.h"

#include "news/album/VXAlbumViewController.h"
#include "news/album/VXImageViewerViewController.h"
#include "news/api/VXGlobalHelper.h"
#include "news/api/VXReaderContext.h"
#include "news/article/VXNewsDetailViewController.h"
#include "news/shell/VXCustomNavController.h"
#include "news/store/VXGlobalDefine.h"
#include "os/views/NavigationController.h"
#include "os/views/ViewController.h"

namespace VXGlobalHelperArticles {

namespace {

enum class Route { Article, Album, None };

Route routeOf(const os::Value& type) {
  if (type.isNull()) return Route::Article;
  const std::string* text = type.string();
  if (!text) return Route::None;
  if (text->empty()) return Route::Article;
  if (*text == kAlbumType) return Route::Album;
  return Route::None;
}

}  // namespace

void installRoutes(VXReaderContext& context) {
  // Weak: the context keeps its routes.
  std::weak_ptr<VXReaderContext> weak = context.weak_from_this();
  context.openItem.set([weak](const std::shared_ptr<VXNewsDO>& item, os::ViewController& from) {
    if (auto context = weak.lock()) pushViewControllerByDO(item, from, context);
  });
  context.showImages.set([weak](long index, const std::vector<VXNewsDetailDOPtr>& images, os::TableView& table,
                                os::ViewController& from) {
    auto context = weak.lock();
    if (!context) return;
    from.presentViewController(
        VXImageViewerViewController::initWithIndex(
            index, images, std::static_pointer_cast<os::TableView>(table.shared_from_this()), std::move(context)),
        true);
  });
}

void setAlbumScreenFactory(AlbumScreenFactory factory) {
  setAlbumScreenFactory(*VXReaderContext::current(), std::move(factory));
}

void setAlbumScreenFactory(VXReaderContext& context, AlbumScreenFactory factory) {
  context.albumScreen.set(std::move(factory));
}

os::Dictionary articleInfo(const VXNewsDO& item) {
  std::string icon = item.iconurls().empty() ? std::string() : item.iconurls().front();
  return os::Dictionary{{"id", os::Value(item.ID())}, {"category", os::Value(item.category())}, {"icon", os::Value(icon)}};
}

std::shared_ptr<os::ViewController> pushViewControllerByDO(const std::shared_ptr<VXNewsDO>& item, os::ViewController& vc,
                                                           const std::shared_ptr<VXReaderContext>& context) {
  if (!item || !context) return nullptr;
  VXGlobalDefine::share(*context)->addNewsHistory(item->ID());
  return pushViewControllerByDict(articleInfo(*item), os::Value(item->type()), vc, context);
}

std::shared_ptr<os::ViewController> pushViewControllerByDict(const os::Dictionary& info, const os::Value& type,
                                                             os::ViewController& vc,
                                                             const std::shared_ptr<VXReaderContext>& context) {
  Route route = routeOf(type);
  if (route == Route::None || !context) return nullptr;
  os::NavigationController* nav = vc.navigationController();
  if (!nav) return nullptr;

  if (route == Route::Article) {
    auto screen = VXNewsDetailViewController::initWitInfo(info, context);
    nav->pushViewController(screen, true);
    return screen;
  }

  AlbumScreenFactory factory = context->albumScreen.get();
  std::shared_ptr<os::ViewController> screen = factory ? factory(info) : VXAlbumViewController::initWithDict(info, context);
  if (!screen) {
    VXGlobalHelper::writeLog("no album screen to open");
    return nullptr;
  }
  // The album draws its own bar.
  if (auto* custom = dynamic_cast<VXCustomNavController*>(nav)) {
    custom->pushViewController(screen, true, true);
  } else {
    nav->pushViewController(screen, true);
    nav->setNavigationBarHidden(true, true);
  }
  return screen;
}

}  // namespace VXGlobalHelperArticles
