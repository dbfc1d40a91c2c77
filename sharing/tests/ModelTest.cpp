#include "os/core/Log.h"
#include "os/runtime/DispatchQueue.h"
#include "os/runtime/RunLoop.h"
#include "os/runtime/Thread.h"
#include "os/testing/LogCapture.h"
#include "sharing/service/OBSDataManager.h"
#include "os/views/Button.h"
#include "os/views/Device.h"
#include "os/views/NavigationBar.h"
#include "os/views/TableViewCell.h"
#include "os/views/ImageView.h"
#include "os/store/UserDefaults.h"
#include "sharing/screens/OBSocialUIHelper.h"
#include "sharing/service/OBSocialAccountEntity.h"
#include "sharing/service/OBSocialAccountManager.h"
#include "sharing/service/OBSocialConfig.h"
#include "sharing/service/OBSocialData.h"
#include "sharing/service/OBSocialExtConfig.h"
#include "sharing/service/OBSocialOpAnalytics.h"
#include "sharing/service/OBSocialResponseEntity.h"
#include "sharing/service/OBSocialSnsPlatform.h"
#include "sharing/service/OBSocialSnsPlatformManager.h"
#include "sharing/service/OBSocialSnsPlatformNames.h"
#include "sharing/service/OBUtils.h"
#include "sharing/tests/SharingFixture.h"

namespace {

using ModelTest = SharingFixture;

struct Lines {
  std::vector<std::string> lines;
  std::function<void(std::string_view)> previous = os::setLogSink([this](std::string_view l) { lines.emplace_back(l); });
  ~Lines() { os::setLogSink(previous); }
  bool has(const std::string& text) const { return std::find(lines.begin(), lines.end(), text) != lines.end(); }
};

TEST_F(ModelTest, RegistryNamesTypesDescriptorsAndOrder) {
  auto registry = OBSocialSnsPlatformManager::sharedInstance();
  std::vector<std::pair<std::string, int>> expected{{"qzone", 10}, {"sina", 11},  {"velmora", 12}, {"renren", 13},
                                                    {"douban", 14}, {"facebook", 21}, {"twitter", 22}, {"email", 18},
                                                    {"sms", 19}};
  auto all = registry->allPlatforms();
  ASSERT_EQ(all.size(), expected.size());
  for (std::size_t i = 0; i < all.size(); ++i) {
    EXPECT_EQ(all[i]->platformName, expected[i].first);
    EXPECT_EQ(all[i]->shareToType, expected[i].second);
  }
  auto qzone = registry->getSnsPlatformWithName("qzone");
  EXPECT_FALSE(qzone->needLogin);
  EXPECT_TRUE(registry->getSnsPlatformWithName("douban")->needLogin);
  EXPECT_EQ(qzone->oauthCallBackPath, "/qzone/main");
  EXPECT_EQ(qzone->bigImageName, "OBSocialSDKResourcesNew.bundle/SnsPlatform/OBS_qzone_icon");
  EXPECT_EQ(registry->getSnsPlatformWithName("sina")->oauthBaseURLString, "share/auth");

  Lines log;
  EXPECT_FALSE(OBSocialSnsPlatformManager::getSnsPlatformString(20));
  EXPECT_TRUE(log.has("OBSocial----socialSnsType error!"));
  EXPECT_EQ(OBSocialSnsPlatformManager::getSnsPlatformType("yixin"), 0);
  // Eighteen names the application may pass; the last five name no platform.
  const std::vector<std::string> constants{
      OBShareToQzone,     OBShareToSina,      OBShareToVelmora,   OBShareToRenren,       OBShareToDouban,
      OBShareToWechatSession, OBShareToWechatTimeline, OBShareToWechatFavorite, OBShareToEmail, OBShareToSms,
      OBShareToQQ,        OBShareToFacebook,  OBShareToTwitter,   OBShareToYXSession,    OBShareToYXTimeline,
      OBShareToLWSession, OBShareToLWTimeline, OBShareToInstagram};
  EXPECT_EQ(constants, (std::vector<std::string>{"qzone", "sina", "velmora", "renren", "douban", "wxsession",
                                                 "wxtimeline", "wxfavorite", "email", "sms", "qq", "facebook",
                                                 "twitter", "yixin", "yixin_circle", "laiwang", "laiwang_dynamic",
                                                 "instagram"}));
  for (std::size_t i = 13; i < constants.size(); ++i) EXPECT_FALSE(registry->getSnsPlatformWithName(constants[i], false));

  OBSocialConfigInternal::shareInstance()->setSnsPlatformNames(
      os::Array{"sina", os::Value(os::Array{"wxsession", "wxtimeline"}), "qq"});
  EXPECT_EQ(registry->allSnsValuesArray(), (std::vector<std::string>{"sina", "wxsession", "wxtimeline", "qq"}));
  EXPECT_EQ(registry->socialSnsArray(), (std::vector<std::string>{"sina"}));

  // The standard handlers mark the step before going on.
  registry->getSnsPlatformWithName("sina")->snsClickHandler(nullptr, nullptr, true);
  EXPECT_EQ(OBSocialConfigInternal::shareInstance()->qqType, 1);
  EXPECT_EQ(registry->getSnsPlatformWithName("sina")->platformInternal()->shareStatus, "1");
}

TEST_F(ModelTest, CustomPlatformsAreNumberedPastTheHighestType) {
  auto first = std::make_shared<OBSocialSnsPlatform>("mine");
  auto second = std::make_shared<OBSocialSnsPlatform>("yours");
  OBSocialConfig::addSocialSnsPlatform({first, second});
  EXPECT_EQ(first->shareToType, 28);
  EXPECT_EQ(second->shareToType, 29);
  auto third = std::make_shared<OBSocialSnsPlatform>("theirs");
  OBSocialConfig::addSocialSnsPlatform({third});
  EXPECT_EQ(third->shareToType, 30);
  EXPECT_EQ(OBSocialSnsPlatformManager::getSnsPlatformString(30), "theirs");
  // A registered name is left as it was.
  auto again = std::make_shared<OBSocialSnsPlatform>("sina");
  OBSocialConfig::addSocialSnsPlatform({again, nullptr});
  EXPECT_EQ(again->shareToType, 0);
  EXPECT_EQ(OBSocialSnsPlatformManager::getSnsPlatformType("sina"), 11);
  EXPECT_EQ(os::UserDefaults::standardUserDefaults()->integerForKey(kOBSocialOpCountKey), 3);
}

TEST_F(ModelTest, ConfigurationDefaultsThemesAndFlags) {
  auto store = OBSocialConfigInternal::shareInstance();
  EXPECT_EQ(store->snsPlatformNames().size(), 9u);
  EXPECT_EQ(store->socialTheme(), 1);
  EXPECT_TRUE(store->shouldAutorotateToInterfaceOrientation(1));
  EXPECT_FALSE(store->shouldAutorotateToInterfaceOrientation(2));
  EXPECT_FALSE(store->shouldAutorotateToInterfaceOrientation(40));
  EXPECT_FALSE(store->shouldShareSynchronous);
  EXPECT_TRUE(store->tableViewCellConfig);
  EXPECT_FALSE(store->gridViewConfig);
  OBSocialConfig::setTheme(0);
  EXPECT_TRUE(store->tableViewCellConfig);  // theme 0 sets no cell block: theme 1's stays
  ASSERT_TRUE(store->gridViewConfig);
  auto background = std::make_shared<os::ImageView>();
  store->gridViewConfig(nullptr, background.get(), nullptr);
  EXPECT_EQ(background->backgroundColor(), os::Color::darkGray());
  OBSocialConfig::setBoundsSizeForiPad(os::Size{540, 620});
  EXPECT_EQ(store->boundsForiPad, (os::Rect{0, 0, 540, 620}));
  OBSocialConfig::setShouldShareSynchronous(true);
  EXPECT_TRUE(store->shouldShareSynchronous);
  EXPECT_EQ((*os::UserDefaults::standardUserDefaults()->dictionaryForKey(kOBSocialOpDictionaryKey))["35"].stringOr(), "1");

  os::DeviceProfileScope device({.idiom = os::UserInterfaceIdiom::Pad});
  OBSocialConfigInternal ipad;
  for (int o = 1; o <= 4; ++o) EXPECT_TRUE(ipad.shouldAutorotateToInterfaceOrientation(o)) << o;
}

// The optional frameworks load off the main thread; a missing one is only logged.
TEST_F(ModelTest, OptionalFrameworksLoadInTheBackground) {
  os::DeviceProfile profile;
  profile.frameworks.erase(std::remove_if(profile.frameworks.begin(), profile.frameworks.end(),
                                          [](const std::string& f) { return f.find("Social.framework") != std::string::npos; }),
                           profile.frameworks.end());
  os::DeviceProfileScope device(profile);
  os::testing::LogCapture log;  // the load logs on its own thread
  OBSocialLoadOptionalFrameworks();
  auto loaded = [] {
    for (const auto& f : os::Device::current().loadedFrameworks())
      if (f.find("QuartzCore") != std::string::npos) return true;
    return false;
  };
  os::RunLoop::main()->runUntil([&] { return loaded() && log.contains("SDK can share to facebook and twitter, need to use social framework in iOS 6.0!"); }, 30);
  EXPECT_TRUE(loaded());
  EXPECT_TRUE(log.contains("SDK can share to facebook and twitter, need to use social framework in iOS 6.0!"));
}

TEST_F(ModelTest, NavigationBarsGiveTheirTranslucencyBack) {
  os::NavigationBar translucent;
  translucent.setTranslucent(true);
  OBSocialUIHelper::customNavBar(translucent);
  EXPECT_FALSE(translucent.isTranslucent());
  EXPECT_EQ(translucent.titleFont().pointSize(), 18);
  OBSocialUIHelper::setNavigationBarTranslucent(translucent);
  EXPECT_TRUE(translucent.isTranslucent());
  EXPECT_FALSE(translucent.backgroundImage());

  os::NavigationBar opaque;
  OBSocialUIHelper::customNavBar(opaque);
  OBSocialUIHelper::customNavBar(opaque);
  OBSocialUIHelper::setNavigationBarTranslucent(opaque);
  EXPECT_FALSE(opaque.isTranslucent());

  os::Button post;
  OBSocialUIHelper::customNavPostButton(post);
  EXPECT_EQ(post.frame(), (os::Rect{0, 0, 50, 30}));
  os::NavigationItem item("分享到新浪微博");
  OBSocialUIHelper::customNavigationItem(item);
  ASSERT_TRUE(item.titleView());
  EXPECT_LE(item.titleView()->frame().size.width, 150 * 2);
}

TEST_F(ModelTest, ShareDataLivesInTheIdentifiersRecord) {
  OBSocialData one("article-1");
  OBSocialData two("article-1");
  one.setShareText("同一篇");
  EXPECT_EQ(two.shareText(), "同一篇");
  auto resource = OBSocialUrlResource::initWithSnsResourceType(OBSocialUrlResourceTypeImage, "http://x/1.png");
  two.setUrlResource(resource);
  one.setUrlResource(nullptr);
  EXPECT_EQ(one.urlResource(), resource);
  auto noURL = std::make_shared<OBSocialUrlResource>();
  one.setUrlResource(noURL);
  EXPECT_EQ(one.urlResource(), resource);
  EXPECT_EQ(one.getNumber(3), 0);
  EXPECT_EQ(one.getNumber(-1), 0);
  EXPECT_FALSE(OBSocialUrlResource::initWithSnsResourceType(0, "http://x"));
  auto odd = OBSocialUrlResource::initWithSnsResourceType(7, "http://x");
  EXPECT_EQ(odd->resourceType, 0);
  EXPECT_EQ(odd->url, "http://x");
  // setResourceType with a URL keeps the URL only under a type that stands.
  OBSocialUrlResource link;
  link.setResourceType(OBSocialUrlResourceTypeMusic, "http://x/a.mp3");
  EXPECT_EQ(link.resourceType, 3);
  EXPECT_EQ(link.url, "http://x/a.mp3");
  link.setResourceType(4, "http://x/b");
  EXPECT_EQ(link.resourceType, 0);
  EXPECT_EQ(link.url, "http://x/a.mp3");
  link.setResourceType(-1);
  EXPECT_EQ(link.resourceType, 0);
  EXPECT_EQ(one.extConfig()->wxMessageType, 0);
  EXPECT_FALSE(one.extConfig()->wxMediaObject);
  EXPECT_EQ(one.extConfig()->wechatFavoriteData->snsName, "wxfavorate");
  EXPECT_EQ(one.extConfig()->getSnsData("wxfavorite"), one.extConfig()->wechatFavoriteData);
  EXPECT_FALSE(one.extConfig()->getSnsData("nothing"));

  Lines log;
  one.setShareImageData(os::dataFromString("not an image"));
  EXPECT_FALSE(one.shareImage());
  EXPECT_TRUE(log.has("Ombra SocialSDK ---  You pass the wrong shareImage object type, you must set UIImage or NSData!"));
}

TEST_F(ModelTest, AccountsValidityBoundaries) {
  auto account = std::make_shared<OBSocialAccountEntity>("sina");
  OBSocialAccountManager::setSnsAccount(account);
  EXPECT_TRUE(OBSocialAccountManager::isOauthWithPlatform("sina"));
  EXPECT_TRUE(OBSocialAccountManager::isOauthAndTokenNotExpired("sina"));  // no expiry: never expires
  account->expirationDate = os::Date::now();
  OBSocialAccountManager::setSnsAccount(account);
  EXPECT_TRUE(OBSocialAccountManager::isOauthAndTokenNotExpired("sina"));
  account->expirationDate = os::Date::now().addingTimeInterval(-1);
  OBSocialAccountManager::setSnsAccount(account);
  EXPECT_FALSE(OBSocialAccountManager::isOauthAndTokenNotExpired("sina"));

  OBUtils::setOpenLog(true);
  Lines log;
  EXPECT_FALSE(OBSocialAccountManager::isOauthWithPlatform("myspace"));
  EXPECT_FALSE(OBSocialAccountManager::isOauthWithPlatform("douban"));
  OBUtils::setOpenLog(false);
  std::size_t complaints = 0;
  for (const auto& line : log.lines) complaints += line.find("platformType") != std::string::npos;
  EXPECT_EQ(complaints, 1u);

  EXPECT_FALSE(OBSocialAccountManager::isLogin());
  OBSocialAccountManager::setIsLoginWithAnonymous(true);
  EXPECT_TRUE(OBSocialAccountManager::isLogin());
  EXPECT_TRUE(OBSUserManager::useLocation());
  EXPECT_TRUE(os::UserDefaults::standardUserDefaults()->boolForKey(kOBSocialUseLocationKey));
}

TEST_F(ModelTest, UserManagerChecksPlatformsAndKeepsTheIdentity) {
  auto users = OBSUserManager::shareInstance();
  users->setUid(std::string("(null)"));
  EXPECT_FALSE(users->uid());
  os::UserDefaults::standardUserDefaults()->setObject(os::Value("u42"), kOBSocialUidKey);
  EXPECT_EQ(users->uid(), "u42");
  OBUtils::setOpenLog(true);
  Lines log;
  // A refused platform queues nothing; its completion hears so, once.
  int heard = 0;
  users->requestGetFriends("email", [&heard](const auto& r) { heard += r->responseCode == 5054; });
  users->requestAddFollow("sms", {"1"}, [&heard](const auto& r) { heard += r->responseCode == 5054; });
  OBUtils::setOpenLog(false);
  EXPECT_EQ(heard, 2);
  EXPECT_NE(log.lines.back().find("This platform can not do the action!"), std::string::npos);
  EXPECT_TRUE(OBSDataManager::currentDataManager()->actionArray().empty());
  users->setUserName(std::string("读者"));
  OBSocialContext::setCurrent(std::make_shared<OBSocialContext>());
  EXPECT_EQ(OBSUserManager::shareInstance()->userName(), "读者");
}

// Shared instances are made under the context's lock, and making one may ask the user manager; the
// user manager, asked for the user id on another thread, reaches other shared instances. Both take
// the two locks in one order: the thread checker sees no inversion, and neither can wait for ever.
// scripts/test runs this under the thread checker, which fails it on any inverted pair.
TEST_F(ModelTest, TheContextAndTheUserManagerLockInOneOrder) {
  struct AskedTheUserManager {};
  auto context = OBSocialContext::current();
  auto users = OBSUserManager::shareInstance();
  // What both ask for exists already, so each thread takes hardly a lock but the two.
  EXPECT_FALSE(users->uid());
  auto askTheId = os::Thread::create("share button", [users] { EXPECT_FALSE(users->uid()); });
  auto makeAnInstance = os::Thread::create("start", [context, users] {
    context->instance<AskedTheUserManager>([users] {
      EXPECT_FALSE(users->accountForPlatform(OBShareToSina));
      return std::make_shared<AskedTheUserManager>();
    });
  });
  askTheId->start();
  makeAnInstance->start();
  askTheId->join();
  makeAnInstance->join();
}

}  // namespace
