// The share action from the article toolbar: the checks before the sheet, the text, the
// picture, the handlers configured and the seven platforms in order.
#include <gtest/gtest.h>

#include "foundation/ServiceCallLog.h"
#include "news/api/VXServiceKeys.h"
#include "news/article/VXShareHelper.h"
#include "news/tests/support/ReaderFixture.h"
#include "os/graphics/Image.h"
#include "sharing/service/OBSocialSnsService.h"

using newstest::ArticleScreenTest;

namespace {

class ShareActionTest : public ArticleScreenTest {
 protected:
  void SetUp() override {
    ArticleScreenTest::SetUp();
    ASSERT_TRUE(env_.sandbox().writeBundlePNG("Icon.png", os::Bitmap(5, 3)));
  }
};

TEST_F(ShareActionTest, ToolbarShareOpensTheSheetWithTitleAndLinkAndTheSevenPlatforms) {
  const auto& article = plainArticle();
  auto screen = open(article);
  ASSERT_TRUE(waitComplete(*screen));
  ASSERT_TRUE(os::TouchDriver::tap(*screen->toolBar()->shareButton()));

  std::string link = screen->infoDict()["sourceurl"].stringOr();
  ASSERT_FALSE(link.empty());
  EXPECT_EQ(ServiceCallLog::names(),
            (std::vector<std::string>{"OBSocialWechatHandler.setWXAppId", "OBSocialQQHandler.setQQWithAppId",
                                      "OBSocialSinaHandler.openSSOWithRedirectURL",
                                      "OBSocialSnsService.presentSnsIconSheetView", "OBSocialData.setAppKey"}));
  // The sharing component's own sheet is up over the article.
  ASSERT_TRUE(screen->view()->window());
  EXPECT_TRUE(screen->view()->window()->viewWithTag(1013));
  auto sheet = *ServiceCallLog::last("OBSocialSnsService", "presentSnsIconSheetView");
  EXPECT_EQ(sheet.arguments["shareText"].stringOr(), article.title + link);
  EXPECT_EQ(sheet.arguments["appKey"].stringOr(), OMBRA_KEY);
  std::vector<std::string> names;
  for (const auto& name : *sheet.arguments["shareToSnsNames"].array()) names.push_back(name.stringOr());
  EXPECT_EQ(names, (std::vector<std::string>{"wxsession", "wxtimeline", "qq", "qzone", "sina", "renren", "douban"}));
  auto objects = std::any_cast<OBSocialSnsService::IconSheetObjects>(sheet.objects);
  EXPECT_EQ(objects.controller.lock(), screen);
  EXPECT_EQ(objects.delegate.lock(), VXShareHelper::share());
  // The list icon was never loaded: the application icon goes instead.
  ASSERT_TRUE(objects.shareImage);
  EXPECT_EQ(objects.shareImage->size().width, 5);

  auto wechat = *ServiceCallLog::last("OBSocialWechatHandler", "setWXAppId");
  EXPECT_EQ(wechat.arguments["url"].stringOr(), link);
  EXPECT_EQ(wechat.arguments["appId"].stringOr().size(), 18u);
  EXPECT_EQ(ServiceCallLog::last("OBSocialQQHandler", "setQQWithAppId")->arguments["url"].stringOr(), link);
  EXPECT_EQ(ServiceCallLog::last("OBSocialSinaHandler", "openSSOWithRedirectURL")->arguments["redirectURL"].stringOr(),
            kSinaRedirectURL);
}

TEST_F(ShareActionTest, MissingLinkOrTitleOnlyShowsAHud) {
  auto screen = VXNewsDetailViewController::initWitInfo({{"id", 1}, {"category", 1}}, VXReaderContext::current());
  window_->setRootViewController(screen);
  // A missing link wins over a missing title.
  VXShareHelper::share()->socialShare(os::Value(), os::Value(), os::Value(), screen);
  ASSERT_TRUE(waitHud("数据异常，检查网络"));
  os::TouchDriver::advance(2);
  VXShareHelper::share()->socialShare(os::Value(""), os::Value("T"), os::Value(), screen);
  ASSERT_TRUE(waitHud("数据异常，检查网络"));
  os::TouchDriver::advance(2);
  VXShareHelper::share()->socialShare(os::Value("L"), os::Value(""), os::Value(), screen);
  ASSERT_TRUE(waitHud("标题异常，检查网络"));
  EXPECT_EQ(ServiceCallLog::size(), 0u);

  VXShareHelper::share()->socialShare(os::Value("L"), os::Value("T"), os::Value(), screen);
  EXPECT_EQ(ServiceCallLog::last("OBSocialSnsService", "presentSnsIconSheetView")->arguments["shareText"].stringOr(),
            "TL");
}

}  // namespace
