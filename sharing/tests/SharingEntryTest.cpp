#include <gtest/gtest.h>

#include "foundation/ServiceCallLog.h"
#include "os/graphics/Image.h"
#include "sharing/handlers/OBSocialQQHandler.h"
#include "sharing/handlers/OBSocialSinaHandler.h"
#include "sharing/handlers/OBSocialWechatHandler.h"
#include "sharing/service/OBSocialData.h"
#include "sharing/service/OBSocialSnsPlatformNames.h"
#include "sharing/service/OBSocialSnsService.h"
#include "sharing/service/OBSocialUIDelegate.h"
#include "sharing/tests/SharingFixture.h"

namespace {

class SharingEntryTest : public SharingFixture {
 protected:
  ServiceCallLog::Recording recording_;
  void SetUp() override { ServiceCallLog::reset(); }
  void TearDown() override { ServiceCallLog::reset(); }

  static ServiceCall lastSheet() { return *ServiceCallLog::last("OBSocialSnsService", "presentSnsIconSheetView"); }
  static OBSocialSnsService::IconSheetObjects objectsOf(const ServiceCall& call) {
    return std::any_cast<OBSocialSnsService::IconSheetObjects>(call.objects);
  }
};

class SilentDelegate : public OBSocialUIDelegate {};

// A caller that answers nothing gets the behaviour of not answering: no direct share, and the
// OAuth screen closes itself.
TEST(SharingUIDelegate, DefaultsAnswerAsIfNotImplemented) {
  SilentDelegate delegate;
  EXPECT_FALSE(delegate.isDirectShareInIconActionSheet());
  EXPECT_FALSE(delegate.closeOauthWebViewController(nullptr, nullptr));
}

// No platform handler waits for an answer yet, so the application tells the platform it did not
// take the URL.
TEST_F(SharingEntryTest, KeyActivationAndOpenedURLsAreRecordedAndURLsRefused) {
  OBSocialData::setAppKey("0123456789abcdef01234567");
  OBSocialSnsService::applicationDidBecomeActive();
  EXPECT_FALSE(OBSocialSnsService::handleOpenURL(*os::URL::parse("wx0123456789abcdef://oauth?code=1"), {}));

  EXPECT_EQ(ServiceCallLog::names(),
            (std::vector<std::string>{"OBSocialData.setAppKey", "OBSocialSnsService.applicationDidBecomeActive",
                                      "OBSocialSnsService.handleOpenURL"}));
  auto calls = ServiceCallLog::calls();
  EXPECT_EQ(calls[0].arguments["appKey"].stringOr(), "0123456789abcdef01234567");
  EXPECT_EQ(calls[2].arguments["url"].stringOr(), "wx0123456789abcdef://oauth?code=1");
}

// The sheet keeps the platforms in the caller's order and the image, but does not keep its
// caller alive.
TEST_F(SharingEntryTest, IconSheetKeepsNamesInOrderAndImageAndHoldsTheDelegateWeakly) {
  auto delegate = std::make_shared<SilentDelegate>();
  auto image = os::Image::create(os::Bitmap(4, 3));
  std::vector<std::string> names{OBShareToWechatSession, OBShareToWechatTimeline, OBShareToQQ, OBShareToQzone,
                                 OBShareToSina,          OBShareToRenren,         OBShareToDouban};
  OBSocialSnsService::presentSnsIconSheetView(nullptr, std::string("key"), std::string("标题http://a/1"), image, names,
                                              delegate);
  auto call = lastSheet();
  EXPECT_EQ(call.arguments["appKey"].stringOr(), "key");
  EXPECT_EQ(call.arguments["shareText"].stringOr(), "标题http://a/1");
  os::Array expected{"wxsession", "wxtimeline", "qq", "qzone", "sina", "renren", "douban"};
  EXPECT_EQ(call.arguments["shareToSnsNames"], os::Value(expected));

  EXPECT_EQ(objectsOf(call).delegate.lock(), delegate);
  delegate.reset();
  image.reset();
  auto objects = objectsOf(lastSheet());
  EXPECT_TRUE(objects.delegate.expired());
  ASSERT_TRUE(objects.shareImage);
  EXPECT_EQ(objects.shareImage->pixelWidth(), 4);
  EXPECT_TRUE(objects.controller.expired());
}

// Nothing given is not something empty: no names means every configured platform, no key means
// the key set before.
TEST_F(SharingEntryTest, IconSheetTellsMissingFromEmpty) {
  OBSocialSnsService::presentSnsIconSheetView(nullptr, std::nullopt, std::nullopt, nullptr, std::nullopt, {});
  OBSocialSnsService::presentSnsIconSheetView(nullptr, std::string(), std::string(), nullptr, std::vector<std::string>{}, {});
  auto calls = ServiceCallLog::calls("OBSocialSnsService", "presentSnsIconSheetView");
  ASSERT_EQ(calls.size(), 2u);
  for (const char* key : {"appKey", "shareText", "shareToSnsNames"}) {
    EXPECT_TRUE(calls[0].arguments.contains(key) && calls[0].arguments[key].isNull()) << key;
    EXPECT_FALSE(calls[1].arguments[key].isNull()) << key;
  }
}

// The share road configures the three handlers and then opens the sheet.
TEST_F(SharingEntryTest, HandlersKeepTheirIdentitiesInTheShareRoadOrder) {
  OBSocialWechatHandler::setWXAppId("wx0123456789abcdef", std::string(32, 'c'), std::string("http://n/1"));
  OBSocialQQHandler::setQQWithAppId(std::string("1234567890"), std::string("AbCdEfGh12345678"), std::nullopt);
  OBSocialSinaHandler::openSSOWithRedirectURL("http://example.test/sina/callback");
  OBSocialSnsService::presentSnsIconSheetView(nullptr, std::string("key"), std::string("t"), nullptr, std::nullopt, {});

  EXPECT_EQ(ServiceCallLog::names(),
            (std::vector<std::string>{"OBSocialWechatHandler.setWXAppId", "OBSocialQQHandler.setQQWithAppId",
                                      "OBSocialSinaHandler.openSSOWithRedirectURL",
                                      "OBSocialSnsService.presentSnsIconSheetView", "OBSocialData.setAppKey"}));
  auto calls = ServiceCallLog::calls();
  EXPECT_EQ(calls[0].arguments["appId"].stringOr(), "wx0123456789abcdef");
  EXPECT_EQ(calls[0].arguments["appSecret"].stringOr(), std::string(32, 'c'));
  EXPECT_EQ(calls[0].arguments["url"].stringOr(), "http://n/1");
  EXPECT_EQ(calls[1].arguments["appId"].stringOr(), "1234567890");
  EXPECT_EQ(calls[1].arguments["appKey"].stringOr(), "AbCdEfGh12345678");
  EXPECT_TRUE(calls[1].arguments["url"].isNull());
  EXPECT_EQ(calls[2].arguments["redirectURL"].stringOr(), "http://example.test/sina/callback");
}

}  // namespace
