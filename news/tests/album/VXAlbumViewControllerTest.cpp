// The album screen against the local news server: pictures, counter and captions per page, the
// offline file and the favourite mark it still asks for, the favourite and save buttons, the
// controls a tap hides, and failures.
#include <gtest/gtest.h>

#include "news/album/VXAlbumViewController.h"
#include "news/api/VXNewsInfoRequest.h"
#include "news/article/VXOfflineArticleStore.h"
#include "news/tests/support/ReaderFixture.h"
#include "os/views/PhotoAlbum.h"
#include "ui/images/BNImageCache.h"

using newstest::PictureScreenTest;
using newstest::runUntil;

namespace {

class AlbumScreenTest : public PictureScreenTest {
 protected:
  // Pushes the album screen for the article as the lists do: the album draws its own bar.
  std::shared_ptr<VXAlbumViewController> openAlbum(const newsd::Article& article, const std::string& icon = "") {
    auto screen = VXAlbumViewController::initWithDict(
        os::Dictionary{{"id", article.id}, {"category", article.categoryId}, {"icon", icon}}, VXReaderContext::current());
    nav_->pushViewController(screen, false, true);
    window_->layoutIfNeeded();
    return screen;
  }
  // Opened and filled from the server.
  std::shared_ptr<VXAlbumViewController> openLoaded(const newsd::Article& article) {
    auto screen = openAlbum(article);
    EXPECT_TRUE(runUntil([&] { return !screen->imageArray().empty(); }));
    os::TouchDriver::settle();
    return screen;
  }
  std::string caption(VXAlbumViewController& screen) { return screen.captionLabel()->text(); }
  // The server's favourite mark for this reader.
  long long serverFavorite(const newsd::Article& article) {
    VXNewsInfoRequest request(article.id);
    auto answer = load(request);
    return answer ? (*answer)["favorite"].intValue() : -1;
  }
};

TEST_F(AlbumScreenTest, PagesThroughThePicturesWithCounterAndCaptionOfEach) {
  const auto& article = album();
  auto pictures = article.pictures();
  std::string total = std::to_string(pictures.size());
  auto screen = openLoaded(article);

  ASSERT_EQ(screen->imageArray().size(), pictures.size()) << "text blocks are no pages";
  EXPECT_EQ(screen->pageLabel()->text(), "1/" + total);
  EXPECT_EQ(screen->titleLabel()->text(), article.title);
  EXPECT_EQ(caption(*screen), pictures[0].alt);
  EXPECT_FALSE(screen->infoDict()["sourceurl"].stringOr().empty());

  // The caption label takes its wrapped height and the summary scrolls over it.
  auto label = screen->captionLabel();
  EXPECT_EQ(label->frame().size, label->sizeThatFits(os::Size{screen->view()->bounds().size.width, 10000}));
  EXPECT_EQ(screen->summaryView()->contentSize(), label->frame().size);

  auto& flow = *screen->pageFlowView();
  EXPECT_EQ(flow.pageSize(), flow.frame().size);
  EXPECT_EQ(pageAt(flow, 0)->offset(), VXAlbumViewController::kPageOffset);
  swipeLeft(flow);
  EXPECT_EQ(screen->pageLabel()->text(), "2/" + total);
  EXPECT_EQ(caption(*screen), pictures[1].alt);
  swipeLeft(flow);
  EXPECT_EQ(screen->pageLabel()->text(), "3/" + total);
  EXPECT_EQ(caption(*screen), pictures[2].alt);
  EXPECT_EQ(flow.visibleRange(), (PageFlowView::Range{1, 3}));

  // The answer is kept for offline reading.
  ASSERT_TRUE(VXAlbumViewController::waitForOfflineSaves(20));
  auto stored = VXOfflineArticleStore::read(os::Value(article.categoryId), os::Value(article.id));
  ASSERT_TRUE(stored);
  EXPECT_EQ((*stored)["title"].stringOr(), article.title);
}

TEST_F(AlbumScreenTest, TheOfflineFileOpensTheAlbumWithoutTheDetailRequestButWithItsFavouriteMark) {
  const auto& article = album();
  ASSERT_FALSE(article.icons.empty());
  auto first = openLoaded(article);
  first->clickFavoriteButton();
  ASSERT_TRUE(waitHud("收藏成功"));
  ASSERT_TRUE(VXAlbumViewController::waitForOfflineSaves(20));
  nav_->popViewController(false);
  os::TouchDriver::advance(2);

  const int details = server_->asked(1020), infos = server_->asked(1030);
  const std::string icon = newsd::pictureURL(server_->base(), article.icons.front());
  auto again = openAlbum(article, icon);
  EXPECT_EQ(again->imageArray().size(), article.pictures().size());
  EXPECT_EQ(again->pageLabel()->text(), "1/" + std::to_string(article.pictures().size()));
  EXPECT_EQ(again->titleLabel()->text(), article.title);
  auto favorite = again->toolButton(VXAlbumViewController::kFavoriteButtonTag);
  EXPECT_TRUE(runUntil([&] { return favorite->isSelected(); })) << "the kept album does not show it is a favourite";
  EXPECT_EQ(server_->asked(1020), details) << "the pictures come from the offline file";
  EXPECT_EQ(server_->asked(1030), infos + 1);
  // The share picture is fetched on this road too.
  auto cache = BNImageCache::sharedImageCache();
  EXPECT_TRUE(runUntil([&] { return cache->diskImageExistsWithKey(icon); }));
  cache->removeImageForKey(icon, true);

  // So a tap removes the favourite rather than adding it again.
  ASSERT_TRUE(os::TouchDriver::tap(*favorite));
  ASSERT_TRUE(waitHud("取消收藏成功"));
  EXPECT_FALSE(favorite->isSelected());
  EXPECT_EQ(server_->asked(1070, "action"), (std::vector<long long>{1, 2}));
  EXPECT_EQ(serverFavorite(article), 0);
}

TEST_F(AlbumScreenTest, TheFavouriteButtonAddsAndRemovesOnTheServer) {
  const auto& article = album();
  auto screen = openLoaded(article);
  auto favorite = screen->toolButton(VXAlbumViewController::kFavoriteButtonTag);
  ASSERT_TRUE(favorite);
  EXPECT_FALSE(favorite->isSelected());

  // The answer is held until the clock moves, so the waiting text is seen however fast loopback is.
  server_->setFault(1070, newsd::Fault{newsd::FailureMode::None, 1.0});
  ASSERT_TRUE(os::TouchDriver::tap(*favorite));
  ASSERT_TRUE(server_->awaitHeldRequests(1));
  EXPECT_EQ(hudText(), "收藏中...");
  server_->clearFaults();
  os::TouchDriver::advance(1);
  ASSERT_TRUE(waitHud("收藏成功"));
  EXPECT_TRUE(favorite->isSelected());
  EXPECT_EQ(serverFavorite(article), 1);

  // A fresh screen learns the mark from the server (its offline file emptied, so it asks).
  nav_->popViewController(false);
  ASSERT_TRUE(VXAlbumViewController::waitForOfflineSaves(20));
  VXOfflineArticleStore::saveWithInfo(os::Dictionary{}, os::Value(article.categoryId), os::Value(article.id));
  auto again = openLoaded(article);
  ASSERT_TRUE(runUntil([&] { return again->toolButton(VXAlbumViewController::kFavoriteButtonTag)->isSelected(); }));

  again->clickFavoriteButton();
  ASSERT_TRUE(waitHud("取消收藏成功"));
  EXPECT_FALSE(again->toolButton(VXAlbumViewController::kFavoriteButtonTag)->isSelected());
  EXPECT_EQ(serverFavorite(article), 0);

  server_->setFault(1070, newsd::Fault{newsd::FailureMode::HttpError});
  again->clickFavoriteButton();
  ASSERT_TRUE(waitHud("网络异常"));
  EXPECT_FALSE(again->toolButton(VXAlbumViewController::kFavoriteButtonTag)->isSelected());
}

TEST_F(AlbumScreenTest, AFavouriteAnswerThatIsNoSuccessEndsTheWaitingTextAsAFailure) {
  const auto& article = album();
  auto screen = openLoaded(article);
  auto favorite = screen->toolButton(VXAlbumViewController::kFavoriteButtonTag);
  for (auto failure : {newsd::FailureMode::ErrorCode, newsd::FailureMode::MissingResult}) {
    os::TouchDriver::advance(2);
    server_->setFault(1070, newsd::Fault{failure});
    ASSERT_TRUE(os::TouchDriver::tap(*favorite));
    EXPECT_TRUE(waitHud("网络异常")) << "the waiting text stays up for good";
    EXPECT_FALSE(favorite->isSelected());
    os::TouchDriver::advance(2);
    EXPECT_EQ(hudText(), "");
  }
  server_->clearFaults();
  EXPECT_EQ(serverFavorite(article), 0);

  // The server refuses an album it does not have.
  newsd::Article unknown = article;
  unknown.id = 987654321;
  auto other = openAlbum(unknown);
  ASSERT_TRUE(waitHud("网络异常"));
  os::TouchDriver::advance(2);
  ASSERT_EQ(hudText(), "");
  other->clickFavoriteButton();
  EXPECT_TRUE(waitHud("网络异常")) << "the waiting text stays up for good";
  EXPECT_FALSE(other->toolButton(VXAlbumViewController::kFavoriteButtonTag)->isSelected());
}

TEST_F(AlbumScreenTest, TheDownloadButtonSavesTheShownPictureOnceItHasArrived) {
  const auto& article = album();
  auto screen = openLoaded(article);
  auto& flow = *screen->pageFlowView();
  ASSERT_TRUE(runUntil([&] { return pageAt(flow, 0)->imageView()->image() != nullptr; }));
  auto shown = pageAt(flow, 0)->imageView()->image();

  ASSERT_TRUE(os::TouchDriver::tap(*screen->toolButton(VXAlbumViewController::kDownloadButtonTag)));
  ASSERT_TRUE(waitHud("保存成功"));
  ASSERT_EQ(os::PhotoAlbum::savedImagePaths().size(), 1u);

  // Pictures that never arrive cannot be saved.
  server_->setFault(newsd::FaultTarget::pictures(), newsd::Fault{newsd::FailureMode::Stall});
  auto other = openLoaded(album(article.id));
  other->clickDownloadButton();
  ASSERT_TRUE(waitHud("照片尚未下载成功"));
  EXPECT_EQ(os::PhotoAlbum::savedImagePaths().size(), 1u);
  images_->cancelAll();  // the stalled loads give up

  blockPhotoAlbum();
  screen->clickDownloadButton();
  ASSERT_TRUE(waitHud("保存失败"));
}

TEST_F(AlbumScreenTest, ATapOnAPictureHidesAndShowsEveryControl) {
  auto screen = openLoaded(album());
  std::vector<std::shared_ptr<os::View>> controls{screen->backButton(), screen->titleLabel(), screen->pageLabel(),
                                                  screen->summaryView(), screen->toolView()};
  ASSERT_TRUE(os::TouchDriver::tap(os::TouchDriver::middleOf(*screen->pageFlowView())));
  os::TouchDriver::advance(1);  // the tap waits for a double tap to fail
  EXPECT_TRUE(screen->hideControls());
  for (const auto& control : controls) EXPECT_TRUE(control->isHidden());

  ASSERT_TRUE(os::TouchDriver::tap(os::TouchDriver::middleOf(*screen->pageFlowView())));
  os::TouchDriver::advance(1);
  EXPECT_FALSE(screen->hideControls());
  for (const auto& control : controls) EXPECT_FALSE(control->isHidden());

  // The back button (its touch area grown by 10) leaves the album.
  os::Rect back = screen->backButton()->frame();
  ASSERT_TRUE(os::TouchDriver::tap(os::Point{back.maxX() + 5, back.midY()}));
  os::TouchDriver::advance(1);
  EXPECT_EQ(nav_->topViewController(), root_);
}

TEST_F(AlbumScreenTest, FailuresAndAnswersWithoutPicturesLeaveAnEmptyScreen) {
  const auto& article = album();
  server_->setFault(1020, newsd::Fault{newsd::FailureMode::HttpError});
  auto failed = openAlbum(article);
  ASSERT_TRUE(waitHud("网络异常"));
  EXPECT_TRUE(failed->imageArray().empty());
  EXPECT_TRUE(failed->pageFlowView()->cells().empty());
  EXPECT_EQ(failed->pageLabel()->text(), "");

  VXAlbumViewController& refused = *failed;
  // Text only, or a body that does not parse: no pictures.
  EXPECT_FALSE(refused.parseWithDict(os::Dictionary{{"result", 1}, {"title", "T"}, {"body", "<content><p>x</p></content>"}}));
  EXPECT_FALSE(refused.parseWithDict(os::Dictionary{{"result", 1}, {"body", "<content><p><img src=\"http://a/b.png\""}}));
  EXPECT_TRUE(refused.imageArray().empty());

  // A picture without a caption shows an empty one; a missing title is stored empty.
  ASSERT_TRUE(refused.parseWithDict(os::Dictionary{
      {"result", 1}, {"body", "<content><p><img src=\"http://a/b.png\" width=\"640\" height=\"480\"/></p></content>"}}));
  refused.changeControlsByIndex(0);
  EXPECT_EQ(refused.pageLabel()->text(), "1/1");
  EXPECT_EQ(caption(refused), "");
  EXPECT_EQ(refused.infoDict()["title"].stringOr("?"), "");
  refused.changeControlsByIndex(1);  // beyond the pictures
  EXPECT_EQ(refused.pageLabel()->text(), "1/1");
}

}  // namespace
