// The reader context: the shared helpers are made once while a context is current and a fresh
// context starts with its own, so nothing of one run (an ad's screen, say) reaches the next; the
// screens and lists keep to the context they were given.
#include <gtest/gtest.h>

#include <memory>

#include "news/ads/VXAdHelper.h"
#include "news/album/VXAlbumViewController.h"
#include "news/album/VXImageViewerViewController.h"
#include "news/api/VXReaderContext.h"
#include "news/article/VXDetailXMLParseHelper.h"
#include "news/article/VXNewsDetailTextDO.h"
#include "news/article/VXOfflineArticleStore.h"
#include "news/article/VXShareHelper.h"
#include "news/home/VXLeftSideViewController.h"
#include "news/home/VXNewsView.h"
#include "news/offline/VXOfflineViewController.h"
#include "news/shell/NQSideViewController.h"
#include "news/shell/VXCustomNavController.h"
#include "news/store/VXGlobalDefine.h"
#include "news/store/VXNewsCategoryManager.h"
#include "news/store/VXNewsConfig.h"
#include "news/store/VXNewsDBManager.h"
#include "news/tests/support/ReaderFixture.h"
#include "os/runtime/NotificationCenter.h"
#include "os/runtime/RunLoop.h"
#include "os/store/FileManager.h"
#include "os/store/Sandbox.h"

namespace {

using ReaderContextTest = newstest::RealTimeFixture;

TEST_F(ReaderContextTest, SharedHelpersAnswerFromTheCurrentContextWhichMakesThemOnce) {
  VXAdHelper* ads = &VXAdHelper::share();
  auto sharing = VXShareHelper::share();
  auto parser = VXDetailXMLParseHelper::share();
  EXPECT_EQ(&VXAdHelper::share(), ads);
  EXPECT_EQ(VXShareHelper::share(), sharing);
  EXPECT_EQ(VXDetailXMLParseHelper::share(), parser);
  EXPECT_EQ(env_.context().adHelper.peek().get(), ads);
  EXPECT_EQ(env_.context().shareHelper.peek(), sharing);
  EXPECT_EQ(env_.context().bodyParser.peek(), parser);

  auto fresh = std::make_shared<VXReaderContext>();
  auto previous = VXReaderContext::setCurrent(fresh);
  EXPECT_NE(&VXAdHelper::share(), ads);
  EXPECT_NE(VXShareHelper::share(), sharing);
  EXPECT_NE(VXDetailXMLParseHelper::share(), parser);
  EXPECT_EQ(fresh->shareHelper.peek(), VXShareHelper::share());
  VXReaderContext::setCurrent(previous);
  EXPECT_EQ(VXShareHelper::share(), sharing);
}

TEST_F(ReaderContextTest, ScreensGivenAContextReadAndDriveThatOneWhileAnotherIsCurrent) {
  auto given = std::make_shared<VXReaderContext>();
  auto state = std::make_shared<VXGlobalDefine>();
  state->setPass(false);  // the ad entry shows; the current context's state keeps the switch on
  given->state.set(state);
  auto side = std::make_shared<NQSideViewController>();
  given->sideController.set(side);
  useState();

  auto menu = std::make_shared<VXLeftSideViewController>(given);
  auto currentMenu = std::make_shared<VXLeftSideViewController>(VXReaderContext::current());
  menu->loadData();
  currentMenu->loadData();
  EXPECT_EQ(menu->entries().size(), 5u);
  EXPECT_EQ(currentMenu->entries().size(), 4u);

  auto nav = std::make_shared<VXCustomNavController>(std::make_shared<os::ViewController>(), given);
  nav->pushViewController(std::make_shared<os::ViewController>(), false);
  EXPECT_FALSE(side->canDrag());
  EXPECT_TRUE(NQSideViewController::share()->canDrag());
  nav->popViewController(false);
  EXPECT_TRUE(side->canDrag());

  // The home news and its lists: the given context's tabs, stored items and item route.
  auto db = std::make_shared<VXNewsDBManager>(
      os::appendingPathComponent(os::Sandbox::current()->cachesDirectory(), "given.db"));
  given->database.set(db);
  db->insertArticles(os::Array{os::Value(os::Dictionary{{"id", os::Value(41)}, {"title", os::Value("t")}})}, 9);
  given->refreshInterval.set([] { return 1e12; });  // stored items stay fresh: nothing is asked
  int opened = 0;
  given->openItem.set(
      [&opened](const std::shared_ptr<VXNewsDO>& item, os::ViewController&) { opened += item->ID() == 41; });
  VXNewsCategoryManager::share(*given)->setCategoryList(
      {VXNewsCategory(os::Dictionary{{"id", 9}, {"name", "n"}, {"order", 0}, {"flag", 1}})});
  os::RunLoop::main()->runUntilIdle();
  auto home = std::make_shared<os::ViewController>();
  auto news = VXNewsView::create(os::Rect{0, 0, 320, 504}, given);
  auto currentNews = VXNewsView::create(os::Rect{0, 0, 320, 504}, VXReaderContext::current());
  home->view()->addSubview(news);
  os::NotificationCenter::defaultCenter().post(kLaunchEndNotification);
  EXPECT_EQ(news->switchView()->buttonItems().size(), 1u);
  EXPECT_TRUE(currentNews->pageView()->viewItems().empty());
  ASSERT_EQ(news->pageView()->viewItems().size(), 1u);
  auto list = news->pageView()->viewItems()[0];
  ASSERT_EQ(list->dataList().size(), 1u);
  list->didSelectRowAtIndexPath(*list->tableView(), os::IndexPath{0, 0});
  EXPECT_EQ(opened, 1);

  // A screen the menu opens lists the given context's categories and goes back to its menu.
  side->setRootViewController(nav);
  side->setLeftViewController(std::make_shared<os::ViewController>());
  menu->leftSideCellCilck("离线");
  auto offline = std::dynamic_pointer_cast<VXOfflineViewController>(nav->viewControllers().back());
  ASSERT_TRUE(offline);
  offline->view();
  EXPECT_EQ(offline->listData().size(), 1u);
  offline->panGetstureRecognizerEnded();
  EXPECT_TRUE(side->leftSideIsShow());
  EXPECT_FALSE(NQSideViewController::share()->leftSideIsShow());
}

TEST_F(ReaderContextTest, ArticlesAlbumsAndPicturesOpenedFromAGivenListFollowItWhileAnotherIsCurrent) {
  // Only the given context reaches the news server; the current one's servers are a closed port.
  startServer(11);
  useImages("given");
  auto given = std::make_shared<VXReaderContext>(VXReaderContext::current()->requestConfig());
  VXRequestConfig::setServerRoot("http://127.0.0.1:1");
  auto state = std::make_shared<VXGlobalDefine>();
  given->state.set(state);
  auto currentState = useState();
  given->database.set(std::make_shared<VXNewsDBManager>(
      os::appendingPathComponent(os::Sandbox::current()->cachesDirectory(), "given.db")));
  given->refreshInterval.set([] { return 1e12; });
  VXGlobalHelperArticles::installRoutes(*given);
  VXNewsConfig::share();  // the current context's style keeps the medium type
  auto style = std::make_shared<VXNewsConfig>();
  style->setFontSize(3);
  given->textStyle.set(style);
  auto has = [](const newsd::Article& a, newsd::BodyBlock::Kind kind) {
    return std::any_of(a.body.begin(), a.body.end(), [kind](const newsd::BodyBlock& b) { return b.kind == kind; });
  };
  using Kind = newsd::BodyBlock::Kind;
  const auto& plain = server_->article(
      [&](const newsd::Article& a) { return a.type.empty() && has(a, Kind::Picture) && has(a, Kind::Text); });
  const auto& album = server_->article([&](const newsd::Article& a) { return a.type == "album" && has(a, Kind::Picture); });
  VXNewsDBManager::share(*given)->insertArticles(
      os::Array{os::Value(os::Dictionary{{"id", plain.id}, {"title", "p"}}),
                os::Value(os::Dictionary{{"id", album.id}, {"title", "a"}, {"type", "album"}})},
      3);

  auto home = std::make_shared<os::ViewController>();
  auto nav = std::make_shared<VXCustomNavController>(home, given);
  showWindow();
  window_->setRootViewController(nav);
  auto list = VXNewsTableView::create(os::Rect{0, 0, 320, 460}, 3, given);
  home->view()->addSubview(list);
  list->load();
  auto tap = [&](long long id) {
    const auto& items = list->dataList();
    auto at = std::find_if(items.begin(), items.end(), [id](const auto& item) { return item->ID() == id; });
    ASSERT_NE(at, items.end());
    list->didSelectRowAtIndexPath(*list->tableView(), os::IndexPath{0, at - items.begin()});
  };

  tap(album.id);
  auto albumScreen = std::dynamic_pointer_cast<VXAlbumViewController>(nav->topViewController());
  ASSERT_TRUE(albumScreen);
  albumScreen->view();
  EXPECT_TRUE(newstest::runUntil([&] { return !albumScreen->imageArray().empty(); }));
  nav->popViewController(false);

  tap(plain.id);
  EXPECT_TRUE(state->isNewsHistory(plain.id));
  EXPECT_FALSE(currentState->isNewsHistory(plain.id));
  auto article = std::dynamic_pointer_cast<VXNewsDetailViewController>(nav->topViewController());
  ASSERT_TRUE(article);
  article->view();
  auto pictureRow = [&] {
    auto rows = article->rows();
    for (long i = 0; i < static_cast<long>(rows.size()); ++i)
      if (rows[i]->type() == kNewsDetailImage && article->tableViewState() == NQTableViewStateIdle) return i;
    return -1L;
  };
  ASSERT_TRUE(newstest::runUntil([&] { return pictureRow() >= 0; }));
  // Its rows are measured in the given context's larger type.
  auto rows = article->rows();
  auto text = std::find_if(rows.begin(), rows.end(), [](const auto& row) { return row->type() == kNewsDetailText; });
  ASSERT_NE(text, rows.end());
  VXNewsDetailTextDO inCurrent(*std::static_pointer_cast<VXNewsDetailTextDO>(*text));
  inCurrent.setReaderContext(nullptr);
  EXPECT_GT((*text)->calHeightByType(), inCurrent.calHeightByType());
  article->didSelectRowAtIndexPath(*article->tableView(), os::IndexPath{0, pictureRow()});
  EXPECT_EQ(state->screenStatus(), 1);
  EXPECT_EQ(currentState->screenStatus(), 0);
  EXPECT_TRUE(newstest::runUntil([&] {
    return std::dynamic_pointer_cast<VXImageViewerViewController>(nav->presentedViewController()) != nullptr;
  }));
  EXPECT_TRUE(VXOfflineArticleStore::waitForBackgroundSaves(*given, 20));
}

}  // namespace
