// The article screen against the local news server: opening from the network and from the
// offline file, the error view and its retry, votes, the favourite mark, the text size and more
// sheets, and the ad row.
#include <gtest/gtest.h>

#include "news/article/VXNewsDetailEvalCell.h"
#include "news/article/VXNewsDetailEvalDO.h"
#include "news/article/VXNewsDetailHeaderDO.h"
#include "news/article/VXOfflineArticleStore.h"
#include "news/store/VXGlobalDefine.h"
#include "news/store/VXNewsConfig.h"
#include "news/tests/support/ReaderFixture.h"
#include "os/store/Pasteboard.h"
#include "os/views/Button.h"
#include "os/views/ImageView.h"
#include "os/views/Label.h"

using newstest::ArticleScreenTest;
using newstest::runUntil;

namespace {

std::shared_ptr<os::Label> findLabel(const os::View& view, const std::string& text) {
  for (const auto& sub : view.subviews()) {
    auto label = std::dynamic_pointer_cast<os::Label>(sub);
    if (label && label->text() == text) return label;
    if (auto inner = findLabel(*sub, text)) return inner;
  }
  return nullptr;
}

std::shared_ptr<os::Button> findButton(const os::View& view) {
  for (const auto& sub : view.subviews()) {
    if (auto button = std::dynamic_pointer_cast<os::Button>(sub)) return button;
  }
  return nullptr;
}

TEST_F(ArticleScreenTest, OpensFromTheNetworkSavesTheFileAndReopensFromItWithoutADetailRequest) {
  const auto& article = plainArticle();
  auto screen = open(article);
  ASSERT_TRUE(waitComplete(*screen));

  auto rows = screen->rows();
  ASSERT_GE(rows.size(), 4u);
  EXPECT_EQ(rows.front()->type(), kNewsDetailHeader);
  EXPECT_EQ(rows.front()->content(), article.title);
  EXPECT_EQ(rows.back()->type(), kNewsDetailEval);
  EXPECT_GT(count(*screen, kNewsDetailText), 0);
  EXPECT_GT(count(*screen, kNewsDetailImage), 0);
  EXPECT_EQ(count(*screen, kNewsDetailAd), 0);  // no ad source set
  EXPECT_EQ(screen->infoDict()["title"].stringOr(), article.title);
  EXPECT_FALSE(screen->infoDict()["sourceurl"].stringOr().empty());
  // The table shows the rows under the toolbar-less part of the screen.
  EXPECT_EQ(screen->tableView()->numberOfRowsInSection(0), static_cast<long>(rows.size()));
  EXPECT_DOUBLE_EQ(screen->toolBar()->frame().origin.y + 40, screen->tableView()->frame().size.height + 40);

  ASSERT_TRUE(VXNewsDetailViewController::waitForOfflineSaves(20));
  auto stored = VXOfflineArticleStore::read(os::Value(article.categoryId), os::Value(article.id));
  ASSERT_TRUE(stored);
  EXPECT_EQ((*stored)["title"].stringOr(), article.title);
  std::size_t firstCount = rows.size();

  // With the detail operation broken, only the file can fill the screen.
  server_->setFault(1020, newsd::Fault{newsd::FailureMode::HttpError});
  auto again = open(article);
  EXPECT_EQ(again->tableViewState(), VXNewsDetailViewController::kStateNormal);
  EXPECT_EQ(again->infoDict()["title"].stringOr(), article.title);
  ASSERT_TRUE(waitComplete(*again));  // the info request still adds the votes
  EXPECT_EQ(again->rows().size(), firstCount);
  EXPECT_EQ(again->tableViewState(), VXNewsDetailViewController::kStateNormal);
}

TEST_F(ArticleScreenTest, FailedDetailShowsTheErrorViewAndItsRetryLoadsTheArticle) {
  const auto& article = plainArticle();
  server_->setFault(1020, newsd::Fault{newsd::FailureMode::HttpError});
  auto screen = open(article);
  // The screen's own loading view (with the logo) while the detail is on its way, no pull header.
  EXPECT_EQ(screen->tableViewState(), VXNewsDetailViewController::kStateLoading);
  EXPECT_FALSE(screen->refreshHeaderView());
  ASSERT_TRUE(runUntil([&] { return screen->tableView()->backgroundView() != nullptr; }));
  if (screen->tableViewState() == VXNewsDetailViewController::kStateLoading) {
    EXPECT_EQ(screen->tableView()->backgroundView(), screen->loadingView());
    EXPECT_FALSE(screen->tableView()->isScrollEnabled());
  }
  ASSERT_TRUE(screen->getLoadingView());
  EXPECT_TRUE(std::dynamic_pointer_cast<os::ImageView>(screen->getLoadingView()->subviews().front()));
  ASSERT_TRUE(runUntil([&] { return screen->tableViewState() == VXNewsDetailViewController::kStateError; }));
  ASSERT_TRUE(runUntil([&] { return screen->tableView()->backgroundView() == screen->getErrorView(); }));
  EXPECT_TRUE(screen->tableView()->isScrollEnabled());
  // The error view says it all: no network HUD over it.
  EXPECT_EQ(hudText(), "");
  auto errorView = screen->getErrorView();
  auto label = findLabel(*errorView, VXNewsDetailViewController::kErrorText);
  ASSERT_TRUE(label);
  EXPECT_TRUE(screen->rows().empty());
  EXPECT_FALSE(VXOfflineArticleStore::read(os::Value(article.categoryId), os::Value(article.id)));

  // An envelope failure ends the same way.
  auto retry = findButton(*errorView);
  ASSERT_TRUE(retry);
  server_->setFault(1020, newsd::Fault{newsd::FailureMode::ErrorCode});
  retry->sendActionsForControlEvents(os::kControlEventTouchUpInside);
  EXPECT_EQ(screen->tableViewState(), VXNewsDetailViewController::kStateLoading);
  ASSERT_TRUE(runUntil([&] { return screen->tableViewState() == VXNewsDetailViewController::kStateError; }));
  // The failed retry's HUD covers the view until it hides.
  EXPECT_TRUE(waitHud(VXNewsDetailViewController::kRetryFailedText));
  os::TouchDriver::advance(2);

  // A real tap on the retry button loads the article (the tap itself may already see the answer).
  server_->clearFaults();
  ASSERT_TRUE(os::TouchDriver::tap(*retry));
  ASSERT_TRUE(waitComplete(*screen));
  EXPECT_EQ(screen->rows().front()->content(), article.title);
  ASSERT_TRUE(runUntil([&] { return screen->tableView()->backgroundView() == nullptr; }));
}

TEST_F(ArticleScreenTest, ARetryThatFailsSaysSoOverTheSameErrorView) {
  // A pushed headline's article, opened while the server is down.
  VXRequestConfig::setServerRoot("http://127.0.0.1:" + std::to_string(os::testing::HttpTestServer::refusedPort()));
  auto screen = open(os::Dictionary{{"id", 99999999LL}, {"category", plainArticle().categoryId}});
  ASSERT_TRUE(runUntil([&] { return screen->tableView()->backgroundView() == screen->getErrorView(); }));
  os::RunLoop::main()->runUntilIdle();
  EXPECT_EQ(hudText(), "");  // the error view says it the first time

  // The retry meets the same failure: the view is as it was, so the HUD tells of the attempt.
  auto retry = findButton(*screen->getErrorView());
  ASSERT_TRUE(retry);
  ASSERT_TRUE(os::TouchDriver::tap(*retry));
  EXPECT_TRUE(waitHud(VXNewsDetailViewController::kRetryFailedText));
  EXPECT_EQ(screen->tableViewState(), VXNewsDetailViewController::kStateError);
  EXPECT_TRUE(findLabel(*screen->getErrorView(), VXNewsDetailViewController::kErrorText));
  os::TouchDriver::advance(2);
  EXPECT_EQ(hudText(), "");

  // The server back, but without the article: the retry says that instead.
  VXRequestConfig::setServerRoot(server_->base());
  ASSERT_TRUE(os::TouchDriver::tap(*retry));
  EXPECT_TRUE(waitHud(VXNewsDetailViewController::kRetryNotFoundText));
  EXPECT_TRUE(findLabel(*screen->getErrorView(), VXNewsDetailViewController::kNotFoundText));
}

TEST_F(ArticleScreenTest, AnArticleTheServerDoesNotHaveIsSaidToBeNotFoundNotANetworkError) {
  // A pushed headline may name an id the server no longer (or not yet) has: it answers "result" 2.
  auto screen = open(os::Dictionary{{"id", 99999999LL}, {"category", plainArticle().categoryId}});
  ASSERT_TRUE(runUntil([&] { return screen->tableView()->backgroundView() == screen->getErrorView() && screen->errorView(); }));
  EXPECT_EQ(screen->tableViewState(), VXNewsDetailViewController::kStateError);
  auto label = findLabel(*screen->getErrorView(), VXNewsDetailViewController::kNotFoundText);
  ASSERT_TRUE(label);
  EXPECT_FALSE(findLabel(*screen->getErrorView(), VXNewsDetailViewController::kErrorText));
  // Centred like the network error's text.
  EXPECT_DOUBLE_EQ(label->frame().origin.x * 2 + label->frame().size.width, screen->getErrorView()->bounds().size.width);
  EXPECT_TRUE(screen->rows().empty());

  // Its retry that cannot reach the server says so in the same view.
  server_->setFault(1020, newsd::Fault{newsd::FailureMode::HttpError});
  auto retry = findButton(*screen->getErrorView());
  ASSERT_TRUE(retry);
  retry->sendActionsForControlEvents(os::kControlEventTouchUpInside);
  ASSERT_TRUE(runUntil([&] { return screen->tableViewState() == VXNewsDetailViewController::kStateError; }));
  ASSERT_TRUE(runUntil([&] { return findLabel(*screen->getErrorView(), VXNewsDetailViewController::kErrorText) != nullptr; }));
  EXPECT_FALSE(findLabel(*screen->getErrorView(), VXNewsDetailViewController::kNotFoundText));
}

TEST_F(ArticleScreenTest, VotesGoToTheServerOnceAndTheCountMovesByOne) {
  auto screen = open(plainArticle());
  ASSERT_TRUE(waitComplete(*screen));
  long last = static_cast<long>(screen->rows().size()) - 1;
  screen->tableView()->scrollToRowAtIndexPath({0, last}, os::TableViewScrollPosition::Bottom, false);
  screen->tableView()->layoutIfNeeded();
  auto cell = std::dynamic_pointer_cast<VXNewsDetailEvalCell>(screen->tableView()->cellForRowAtIndexPath({0, last}));
  ASSERT_TRUE(cell);
  auto eval = std::dynamic_pointer_cast<VXNewsDetailEvalDO>(screen->rows().back());
  int before = eval->diggCount();
  EXPECT_EQ(cell->diggButton()->titleForState(os::kControlStateNormal), std::to_string(before));

  // A failed vote changes nothing and may be tried again.
  server_->setFault(1060, newsd::Fault{newsd::FailureMode::HttpError});
  ASSERT_TRUE(os::TouchDriver::tap(*cell->diggButton()));
  ASSERT_TRUE(waitHud("网络异常"));
  EXPECT_EQ(eval->flag(), VXNewsDetailEvalDO::kNotVoted);
  os::TouchDriver::advance(2);
  server_->clearFaults();

  ASSERT_TRUE(os::TouchDriver::tap(*cell->diggButton()));
  ASSERT_TRUE(waitHud("顶成功"));
  EXPECT_TRUE(cell->diggButton()->isSelected());
  EXPECT_FALSE(cell->buryButton()->isSelected());
  EXPECT_EQ(cell->diggButton()->titleForState(os::kControlStateNormal), std::to_string(before + 1));
  EXPECT_EQ(eval->flag(), VXNewsDetailEvalDO::kVotedUp);
  EXPECT_EQ(eval->diggCount(), before + 1);

  os::TouchDriver::advance(2);
  ASSERT_TRUE(os::TouchDriver::tap(*cell->buryButton()));
  ASSERT_TRUE(waitHud("已顶过"));
  EXPECT_FALSE(cell->buryButton()->isSelected());

  // The server remembers the vote: a reopened screen shows it as cast.
  auto again = open(plainArticle());
  ASSERT_TRUE(runUntil([&] { return count(*again, kNewsDetailEval) == 1; }));
  EXPECT_EQ(std::dynamic_pointer_cast<VXNewsDetailEvalDO>(again->rows().back())->flag(), VXNewsDetailEvalDO::kVotedUp);
}

TEST_F(ArticleScreenTest, FavouriteRoundTripsWithTheirHudTexts) {
  auto screen = open(plainArticle());
  ASSERT_TRUE(waitComplete(*screen));
  auto favourite = screen->toolBar()->favoriteButton();
  EXPECT_FALSE(favourite->isSelected());

  // The answer waits for the clock, so the waiting text cannot be replaced before it is seen.
  server_->setFault(1070, newsd::Fault{newsd::FailureMode::None, 5});
  ASSERT_TRUE(os::TouchDriver::tap(*favourite));
  EXPECT_TRUE(waitHud("收藏中..."));
  ASSERT_TRUE(server_->awaitHeldRequests(1));
  os::Clock::advance(5);
  ASSERT_TRUE(waitHud("收藏成功"));
  server_->clearFaults();
  EXPECT_TRUE(favourite->isSelected());
  os::TouchDriver::advance(2);
  EXPECT_EQ(hudText(), "");

  // The server now lists it: a reopened screen starts selected.
  auto again = open(plainArticle());
  ASSERT_TRUE(waitComplete(*again));
  favourite = again->toolBar()->favoriteButton();
  EXPECT_TRUE(favourite->isSelected());

  ASSERT_TRUE(os::TouchDriver::tap(*favourite));
  ASSERT_TRUE(waitHud("取消收藏成功"));
  EXPECT_FALSE(favourite->isSelected());
  os::TouchDriver::advance(2);

  server_->setFault(1070, newsd::Fault{newsd::FailureMode::HttpError});
  ASSERT_TRUE(os::TouchDriver::tap(*favourite));
  ASSERT_TRUE(waitHud("网络异常"));
  EXPECT_FALSE(favourite->isSelected());
}

TEST_F(ArticleScreenTest, AFavouriteAnswerThatIsNoSuccessEndsTheWaitingTextAsAFailure) {
  auto screen = open(plainArticle());
  ASSERT_TRUE(waitComplete(*screen));
  auto favourite = screen->toolBar()->favoriteButton();
  for (auto failure : {newsd::FailureMode::ErrorCode, newsd::FailureMode::MissingResult}) {
    os::TouchDriver::advance(2);
    server_->setFault(1070, newsd::Fault{failure});
    ASSERT_TRUE(os::TouchDriver::tap(*favourite));
    EXPECT_TRUE(waitHud("网络异常")) << "the waiting text stays up for good";
    EXPECT_FALSE(favourite->isSelected());
    os::TouchDriver::advance(2);
    EXPECT_EQ(hudText(), "");
  }
}

TEST_F(ArticleScreenTest, FontSheetChangesTheStepAndOnlyTextAndHeaderHeights) {
  auto screen = open(plainArticle());
  ASSERT_TRUE(waitComplete(*screen));
  auto heights = [&] {
    std::vector<double> out;
    for (long i = 0; i < static_cast<long>(screen->rows().size()); ++i) {
      out.push_back(*screen->heightForRowAtIndexPath(*screen->tableView(), {0, i}));
    }
    return out;
  };
  auto before = heights();

  ASSERT_TRUE(os::TouchDriver::tap(*screen->toolBar()->fontButton()));
  auto sheets = os::ActionSheet::visibleActionSheets();
  ASSERT_EQ(sheets.size(), 1u);
  EXPECT_EQ(sheets[0]->title(), "设置字体大小");
  // The current step (2, "中") is marked red.
  EXPECT_EQ(sheets[0]->buttonAtIndex(1)->titleColorForState(os::kControlStateNormal), os::Color::red());
  EXPECT_NE(sheets[0]->buttonAtIndex(2)->titleColorForState(os::kControlStateNormal), os::Color::red());
  ASSERT_TRUE(os::TouchDriver::pressAlertButton("大"));
  EXPECT_EQ(VXNewsConfig::share()->fontSize(), 3);

  auto after = heights();
  ASSERT_EQ(after.size(), before.size());
  for (std::size_t i = 0; i < after.size(); ++i) {
    long long type = screen->rows()[i]->type();
    if (type == kNewsDetailText || type == kNewsDetailHeader) {
      EXPECT_GT(after[i], before[i]) << "row " << i;
    } else {
      EXPECT_DOUBLE_EQ(after[i], before[i]) << "row " << i;
    }
  }

  ASSERT_TRUE(os::TouchDriver::tap(*screen->toolBar()->fontButton()));
  ASSERT_TRUE(os::TouchDriver::pressAlertButton("取消"));
  EXPECT_EQ(VXNewsConfig::share()->fontSize(), 3);
}

TEST_F(ArticleScreenTest, MoreSheetCopiesTheWebAddressOrSaysTheDataIsMissing) {
  auto screen = open(plainArticle());
  ASSERT_TRUE(waitComplete(*screen));
  ASSERT_TRUE(os::TouchDriver::tap(*screen->toolBar()->moreButton()));
  ASSERT_TRUE(os::TouchDriver::pressAlertButton("复制原始网址地址"));
  ASSERT_TRUE(waitHud("复制成功"));
  EXPECT_EQ(os::Pasteboard::generalPasteboard()->string(), screen->infoDict()["sourceurl"].stringOr());
  os::TouchDriver::advance(2);

  // An answer without a web address: nothing to copy, the pasteboard is left alone.
  os::Pasteboard::generalPasteboard()->setString("before");
  auto bare = VXNewsDetailViewController::initWitInfo({{"id", 1}, {"category", 1}}, VXReaderContext::current());
  bare->view();
  ASSERT_TRUE(bare->parseResponseNoAddData(os::Dictionary{{"result", 1}, {"body", "<p>x</p>"}}));
  EXPECT_TRUE(bare->rows().empty() || bare->rows().front()->type() != kNewsDetailHeader);
  EXPECT_EQ(bare->infoDict()["title"].stringOr("absent"), "");
  bare->moreButtonClick();
  ASSERT_TRUE(os::TouchDriver::pressAlertButton("复制原始网址地址"));
  ASSERT_TRUE(waitHud("数据异常，检查网络"));
  EXPECT_EQ(os::Pasteboard::generalPasteboard()->string(), "before");
}

TEST_F(ArticleScreenTest, OneAdRowBetweenBodyAndVotesAndOnlyWebOrStoreAddressesOpen) {
  // The ad comes from the application-wide state, once the pass switch allows ads.
  auto state = VXGlobalDefine::share();
  auto setAd = [&](const std::string& url) {
    state->setAdArray({VXAdDO(
        os::Dictionary{{"adid", 41}, {"type", 2}, {"content", url}, {"name", "军迷助手"}, {"summary", "好用"}})});
  };
  setAd("javascript:alert(1)");
  auto none = open(plainArticle());
  ASSERT_TRUE(waitComplete(*none));
  EXPECT_EQ(count(*none, kNewsDetailAd), 0);  // the pass switch is still set
  state->setPass(false);

  VXNewsDetailViewController::Services services;
  std::vector<std::string> opened;
  services.adClick = [&](long long adid, long long type, const std::string& url, VXNewsDetailViewController&) {
    opened.push_back(std::to_string(adid) + " " + std::to_string(type) + " " + url);
  };
  VXNewsDetailViewController::setServices(services);

  auto screen = open(plainArticle());
  ASSERT_TRUE(waitComplete(*screen));
  auto rows = screen->rows();
  ASSERT_EQ(count(*screen, kNewsDetailAd), 1);
  ASSERT_GE(rows.size(), 2u);
  EXPECT_EQ(rows[rows.size() - 2]->type(), kNewsDetailAd);
  EXPECT_EQ(rows[rows.size() - 2]->content(), "军迷助手");
  long adRow = static_cast<long>(rows.size()) - 2;

  screen->didSelectRowAtIndexPath(*screen->tableView(), {0, adRow});
  EXPECT_TRUE(opened.empty());
  for (const char* bad : {"file:///etc/passwd", "tel:110", "weixin://x", "not a url"}) {
    EXPECT_FALSE(VXNewsDetailViewController::isOpenableURL(bad)) << bad;
  }

  const std::string adURL = server_->base() + "/ad/41.html";
  setAd(adURL);
  auto again = open(plainArticle());
  ASSERT_TRUE(waitComplete(*again));
  again->didSelectRowAtIndexPath(*again->tableView(), {0, static_cast<long>(again->rows().size()) - 2});
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0], "41 2 " + adURL);
  EXPECT_TRUE(VXNewsDetailViewController::isOpenableURL("itms-apps://itunes.example/app/id123456789"));
  EXPECT_TRUE(VXNewsDetailViewController::isOpenableURL("HTTPS://a.example/x"));
}

TEST_F(ArticleScreenTest, PictureTapHandsOverEveryPictureRowAndItsIndex) {
  long shownIndex = -2;
  std::size_t shownCount = 0;
  VXNewsDetailViewController::Services services;
  services.showImages = [&](long index, const std::vector<VXNewsDetailDOPtr>& images, os::TableView&,
                            VXNewsDetailViewController&) {
    shownIndex = index;
    shownCount = images.size();
  };
  VXNewsDetailViewController::setServices(services);
  auto screen = open(plainArticle());
  ASSERT_TRUE(waitComplete(*screen));
  long lastPicture = -1;
  for (long i = 0; i < static_cast<long>(screen->rows().size()); ++i) {
    if (screen->rows()[i]->type() == kNewsDetailImage) lastPicture = i;
  }
  ASSERT_GE(lastPicture, 0);
  screen->didSelectRowAtIndexPath(*screen->tableView(), {0, lastPicture});
  EXPECT_EQ(shownCount, static_cast<std::size_t>(count(*screen, kNewsDetailImage)));
  EXPECT_EQ(shownIndex, static_cast<long>(shownCount) - 1);
}

TEST_F(ArticleScreenTest, HostileIdsNeverNameAFileAndUnparsableBodyIsReportedNotSaved) {
  const auto& article = plainArticle();
  auto screen = open(os::Dictionary{{"id", std::to_string(article.id) + "/../x"}, {"category", "5/../x"}});
  // The request still goes out (for the id's leading number), but nothing is stored anywhere.
  ASSERT_TRUE(runUntil([&] { return screen->tableViewState() != VXNewsDetailViewController::kStateLoading; }));
  ASSERT_TRUE(VXNewsDetailViewController::waitForOfflineSaves(20));
  EXPECT_FALSE(VXOfflineArticleStore::read(os::Value(5), os::Value(article.id)));

  auto bad = VXNewsDetailViewController::initWitInfo({{"id", article.id}, {"category", article.categoryId}}, VXReaderContext::current());
  bad->view();
  ASSERT_TRUE(bad->parseResponseNoAddData(os::Dictionary{{"result", 1}, {"title", "T"}, {"body", "<p>unclosed"}}));
  ASSERT_EQ(bad->rows().size(), 1u);
  EXPECT_EQ(bad->rows()[0]->type(), kNewsDetailHeader);
  ASSERT_TRUE(runUntil([&] { return server_->service().received().parseErrors.size() == 1; }));
  ASSERT_TRUE(VXNewsDetailViewController::waitForOfflineSaves(20));
  EXPECT_FALSE(VXOfflineArticleStore::read(os::Value(article.categoryId), os::Value(article.id)));
  EXPECT_FALSE(bad->parseResponseNoAddData(os::Dictionary{{"result", 2}}));
  EXPECT_FALSE(bad->parseResponseNoAddData(std::nullopt));
}

TEST_F(ArticleScreenTest, AnAnswerCarryingNullsIsStillKeptOffline) {
  auto screen = VXNewsDetailViewController::initWitInfo({{"id", 9001}, {"category", 4}}, VXReaderContext::current());
  screen->view();
  os::Dictionary answer{{"result", 1}, {"title", "T"}, {"source", os::Value()}, {"time", os::Value()},
                        {"sourceurl", os::Value()}, {"body", "<p>正文</p>"}};
  ASSERT_TRUE(screen->parseResponseNoAddData(answer));
  EXPECT_FALSE(screen->infoDict().contains("sourceurl"));
  ASSERT_TRUE(VXNewsDetailViewController::waitForOfflineSaves(20));
  auto stored = VXOfflineArticleStore::read(os::Value(4), os::Value(9001));
  ASSERT_TRUE(stored);
  EXPECT_EQ((*stored)["body"].stringOr(), "<p>正文</p>");
  EXPECT_FALSE(stored->contains("source"));
}

}  // namespace
