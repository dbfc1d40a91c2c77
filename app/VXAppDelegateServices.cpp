#include "app/VXAppDelegateServices.h"

#include "news/common/VXGlobalDefine.h"
#include "news/common/VXGlobalHelper.h"
#include "news/common/VXGlobalHelperArticles.h"
#include "news/common/VXNewsCategoryManager.h"
#include "news/common/VXNewsConfig.h"
#include "news/controllers/VXLeftSideViewController.h"
#include "news/controllers/VXNewsDetailViewController.h"
#include "news/controllers/VXNewsTableView.h"
#include "news/controllers/VXNewsView.h"
#include "news/models/db/VXNewsDBManager.h"
#include "news/views/VXNewsTitleStyleCell.h"

namespace vxapp {

void installNewsServices() {
  // The shared state is looked up on every call: tests and a new launch may replace it.
  VXNewsView::setCategoryListSource([] { return VXNewsCategoryManager::share()->categoryList(); });
  VXNewsView::setCategoryListSink(
      [](std::vector<VXNewsCategory> list) { VXNewsCategoryManager::share()->setCategoryList(std::move(list)); });
  VXNewsTableView::setRefreshIntervalSource([] { return VXGlobalDefine::share()->nctime(); });
  VXNewsTableView::setItemOpener([](const std::shared_ptr<VXNewsDO>& item, os::ViewController& controller) {
    VXGlobalHelperArticles::pushViewControllerByDO(item, controller);
  });
  VXNewsTitleStyleCell::setReadHistoryLookup([](long long id) { return VXGlobalDefine::share()->isNewsHistory(id); });
  VXLeftSideViewController::setPassSource([] { return VXGlobalDefine::share()->pass(); });
  VXNewsDetailViewController::Services services;
  services.randAd = [] { return VXGlobalDefine::share()->randAd(); };
  VXNewsDetailViewController::setServices(std::move(services));
  VXNewsConfig::setLogWriter([](std::string_view line) { VXGlobalHelper::writeLog(line); });
  VXNewsDBManager::setLogWriter([](std::string_view line) { VXGlobalHelper::writeLog(line); });
}

bool splashEnd() { return VXGlobalDefine::share()->splashEnd(); }
void setSplashEnd(bool ended) { VXGlobalDefine::share()->setSplashEnd(ended); }
int screenStatus() { return VXGlobalDefine::share()->screenStatus(); }

}  // namespace vxapp
