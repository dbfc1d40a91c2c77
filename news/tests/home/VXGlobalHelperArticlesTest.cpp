// Opening articles: a tapped item is recorded as read and routed by its type onto the screen's
// navigation; pushed references route the same way.
#include "news/home/VXGlobalHelperArticles.h"

#include <gtest/gtest.h>

#include "news/album/VXAlbumViewController.h"
#include "news/article/VXNewsDetailViewController.h"
#include "news/shell/VXCustomNavController.h"
#include "news/tests/support/ReaderFixture.h"
#include "os/views/ViewController.h"

namespace {

using newstest::LocalNewsServer;
namespace articles = VXGlobalHelperArticles;

class AlbumScreen : public os::ViewController {
 public:
  explicit AlbumScreen(os::Dictionary info) : info(std::move(info)) {}
  std::string className() const override { return "AlbumScreen"; }
  os::Dictionary info;
};

std::shared_ptr<VXNewsDO> newsItem(long long id, os::Value type, os::Array icons = {}) {
  os::Dictionary dict{{"id", id}, {"title", "headline"}, {"icons", os::Value(std::move(icons))}};
  if (!type.isNull()) dict.set("type", std::move(type));
  return std::make_shared<VXNewsDO>(dict, 5);
}

class ArticleRouting : public newstest::StateFixture {
 protected:
  void SetUp() override {
    StateFixture::SetUp();
    startServer();  // the article screen asks it for the article
    nav_ = std::make_shared<VXCustomNavController>(list_, VXReaderContext::current());
    articles::setAlbumScreenFactory([this](const os::Dictionary& info) {
      ++albumsMade_;
      return std::make_shared<AlbumScreen>(info);
    });
  }
  bool recorded(long long id) const {
    auto stored = VXNewsDBManager::share()->getHistoryID();
    return state_->isNewsHistory(id) && std::find(stored.begin(), stored.end(), id) != stored.end();
  }

  std::shared_ptr<os::ViewController> list_ = std::make_shared<os::ViewController>();
  int albumsMade_ = 0;
};

TEST_F(ArticleRouting, ATappedArticleIsRecordedAndOpensWithItsFirstPicture) {
  auto screen = articles::pushViewControllerByDO(newsItem(42, "", {"http://pics/1.png", "http://pics/2.png"}), *list_, VXReaderContext::current());
  EXPECT_TRUE(recorded(42));
  auto detail = std::dynamic_pointer_cast<VXNewsDetailViewController>(screen);
  ASSERT_TRUE(detail);
  EXPECT_EQ(nav_->topViewController(), screen);
  EXPECT_EQ(detail->infoDict(),
            (os::Dictionary{{"id", 42LL}, {"category", 5LL}, {"icon", "http://pics/1.png"}}));

  // No type at all, and no pictures.
  nav_->popViewController(false);
  screen = articles::pushViewControllerByDO(newsItem(43, os::Value()), *list_, VXReaderContext::current());
  detail = std::dynamic_pointer_cast<VXNewsDetailViewController>(screen);
  ASSERT_TRUE(detail);
  EXPECT_EQ(detail->infoDict()["icon"], os::Value(""));
  EXPECT_TRUE(recorded(43));
}

TEST_F(ArticleRouting, AnAlbumOpensWithoutTheBar) {
  nav_->setBarTranslucent(false);
  auto screen = articles::pushViewControllerByDO(newsItem(50, "album", {"http://pics/a.png"}), *list_, VXReaderContext::current());
  EXPECT_TRUE(recorded(50));
  auto album = std::dynamic_pointer_cast<AlbumScreen>(screen);
  ASSERT_TRUE(album);
  EXPECT_EQ(nav_->topViewController(), screen);
  EXPECT_TRUE(nav_->barTranslucent());
  EXPECT_TRUE(nav_->isNavigationBarHidden());
  EXPECT_EQ(album->info, (os::Dictionary{{"id", 50LL}, {"category", 5LL}, {"icon", "http://pics/a.png"}}));
}

TEST_F(ArticleRouting, AnUnknownTypeIsRecordedButOpensNothing) {
  long long id = 60;
  for (const char* type : {"video", "ALBUM", " "}) {
    SCOPED_TRACE(type);
    ++id;
    EXPECT_FALSE(articles::pushViewControllerByDO(newsItem(id, type), *list_, VXReaderContext::current()));
    EXPECT_TRUE(recorded(id));
    EXPECT_EQ(depth(), 1u);
  }
  EXPECT_EQ(albumsMade_, 0);
}

TEST_F(ArticleRouting, PushedReferencesRouteByTypeWithoutRecording) {
  os::Dictionary info{{"id", 80}, {"category", 2}};
  EXPECT_FALSE(articles::pushViewControllerByDict(info, os::Value(3), *list_, VXReaderContext::current())) << "a type that is not text";
  EXPECT_EQ(depth(), 1u);

  auto screen = articles::pushViewControllerByDict(info, os::Value(), *list_, VXReaderContext::current());
  ASSERT_TRUE(std::dynamic_pointer_cast<VXNewsDetailViewController>(screen));
  EXPECT_EQ(std::dynamic_pointer_cast<VXNewsDetailViewController>(screen)->infoDict(), info);
  EXPECT_FALSE(state_->isNewsHistory(80));
  EXPECT_TRUE(VXNewsDBManager::share()->getHistoryID().empty());
}

TEST_F(ArticleRouting, NothingOpensWithoutANavigationOrAnItem) {
  auto lone = std::make_shared<os::ViewController>();
  EXPECT_FALSE(articles::pushViewControllerByDO(newsItem(90, ""), *lone, VXReaderContext::current()));
  EXPECT_TRUE(recorded(90));

  articles::setAlbumScreenFactory(nullptr);
  EXPECT_TRUE(std::dynamic_pointer_cast<VXAlbumViewController>(articles::pushViewControllerByDO(newsItem(91, "album"), *list_, VXReaderContext::current())))
      << "without a factory the reader's own album screen opens";
  EXPECT_EQ(depth(), 2u);
  nav_->popViewController(false);

  EXPECT_FALSE(articles::pushViewControllerByDO(nullptr, *list_, VXReaderContext::current()));
  EXPECT_EQ(VXNewsDBManager::share()->getHistoryID(), (std::vector<long long>{90, 91}));
}

}  // namespace
