#include <algorithm>
#include <optional>

#include "os/runtime/NotificationCenter.h"
#include "os/testing/Collect.h"
#include "os/testing/NotificationCounter.h"
#include "os/testing/ScreenHelpers.h"
#include "os/views/Application.h"
#include "os/views/Button.h"
#include "os/views/Label.h"
#include "os/views/Window.h"
#include "sharing/service/OBSBarEntity.h"
#include "sharing/service/OBSocialAccountEntity.h"
#include "sharing/service/OBSocialAccountManager.h"
#include "sharing/service/OBSocialData.h"
#include "sharing/service/OBSocialDataService.h"
#include "sharing/service/OBSUserManager.h"
#include "sharing/widgets/OBSocialXToast.h"
#include "sharing/tests/ServiceFixture.h"

namespace {

class DataServiceTest : public ServiceFixture {
 protected:
  void SetUp() override {
    ServiceFixture::SetUp();
    sandbox_.writeBundleFile("OBSocialLocalizable.strings",
                             "\"shareEdit_post_finish\" = \"分享成功\";\n"
                             "\"shareEdit_error_auth_expired\" = \"授权已过期\";\n"
                             "\"shareEdit_error_fail\" = \"分享失败\";\n");
    app_->makeShared();
    window_ = os::testing::showKeyWindow(nullptr, os::Rect(0, 0, 320, 480));
    barUpdates_.emplace(kOBSocialUpdateSocialBarNotification);
  }
  void TearDown() override {
    barUpdates_.reset();
    os::testing::hideKeyWindow(window_);
    ServiceFixture::TearDown();
  }
  std::string toastText() const {
    auto box = window_->viewWithTag(kOBSocialXToastTag);
    if (!box) return "";
    for (const auto& view : box->subviews())
      if (auto label = std::dynamic_pointer_cast<os::Label>(view); label && !label->text().empty()) return label->text();
    return "";
  }
  // Uploads an account for the platform the way a login does.
  void login(const std::string& platform, const std::string& usid) {
    auto account = std::make_shared<OBSocialAccountEntity>(platform);
    account->usid = usid;
    account->accessToken = "token-" + usid;
    account->expirationDate = os::Date::now().addingTimeInterval(3600);
    OBSocialAccountManager::setSnsAccount(account);
    std::shared_ptr<OBSocialResponseEntity> uploaded;
    OBSocialAccountManager::postSnsAccount(account, [&](const auto& r) { uploaded = r; });
    ASSERT_TRUE(settle([&] { return uploaded != nullptr; }));
    ASSERT_EQ(uploaded->responseCode, 200);
  }

  std::vector<int> actions() const {
    return os::testing::collect<int>(server_.requests(), [](const auto& r) { return r.action; });
  }

  std::shared_ptr<os::Application> app_ = os::Application::create(nullptr);
  std::shared_ptr<os::Window> window_;
  std::optional<os::testing::NotificationCounter> barUpdates_;
};

class Recorder : public OBSocialDataDelegate {
 public:
  void didFinishGetOBSocialDataResponse(const std::shared_ptr<OBSocialResponseEntity>& response) override {
    types.push_back(response->responseType);
  }
  std::vector<int> types;
};

TEST_F(DataServiceTest, ShareCommentAndLikeReachTheServiceWithToastsAndCallbacks) {
  auto service = OBSocialDataService::defaultDataService();
  auto recorder = std::make_shared<Recorder>();
  service->setOBSocialDelegate(recorder);
  login("sina", "123");

  std::shared_ptr<OBSocialResponseEntity> shared;
  OBSocialShareRequest request;
  request.snsType = "sina";
  request.content = "一条新闻 http://n/1";
  request.completion = [&](const auto& r) { shared = r; };
  service->postSnsWithDictionary(request);
  ASSERT_TRUE(settle([&] { return shared != nullptr && barUpdates_->count() == 1; }));
  EXPECT_EQ(shared->responseCode, 200);
  EXPECT_EQ(toastText(), "分享成功");
  auto share = server_.requests();
  auto multi = std::find_if(share.begin(), share.end(), [](const auto& r) { return r.action == 5; });
  ASSERT_NE(multi, share.end());
  EXPECT_EQ(multi->parameters["ct"].stringOr(), "一条新闻 http://n/1");
  EXPECT_EQ(OBSocialData::defaultData()->getNumber(1), 1);  // the bar data came back with the share

  std::shared_ptr<OBSocialResponseEntity> commented, liked, listed;
  service->postCommentWithContent("好", [&](const auto& r) { commented = r; });
  service->postAddLikeOrCancelWithCompletion([&](const auto& r) { liked = r; });
  service->requestCommentList(-1, [&](const auto& r) { listed = r; });
  ASSERT_TRUE(settle([&] { return commented && liked && listed; }));
  EXPECT_EQ(commented->responseCode, 200);
  EXPECT_EQ(liked->data->find("lk")->intValue(), 1);
  EXPECT_EQ((*listed->data)["comments"].at(0)["ct"].stringOr(), "好");
  EXPECT_NE(std::find(recorder->types.begin(), recorder->types.end(), 0), recorder->types.end());
  EXPECT_NE(std::find(recorder->types.begin(), recorder->types.end(), 1), recorder->types.end());
}

// Two queued shares come back expired: the account goes once and the reader is told once.
TEST_F(DataServiceTest, ExpiredTokenRemovesTheAccountAndToastsOnce) {
  auto service = OBSocialDataService::defaultDataService();
  login("sina", "123");
  // The service no longer takes the token.
  std::string uid = *OBSUserManager::shareInstance()->uid();
  server_.service().setAccount(kTestAppKey, uid, "sina",
                               os::Dictionary{{"usid", "123"}, {"access_token", "old"}, {"expiration", 1.0}});
  int answers = 0;
  std::vector<std::string> toasts;
  for (int i = 0; i < 2; ++i) {
    OBSocialShareRequest request;
    request.snsType = "sina";
    request.content = "x";
    request.completion = [&](const auto& r) {
      ++answers;
      toasts.push_back(toastText());
      if (auto box = window_->viewWithTag(kOBSocialXToastTag)) box->removeFromSuperview();
    };
    service->postSnsWithDictionary(request);
  }
  ASSERT_TRUE(settle([&] { return answers == 2; }));
  EXPECT_EQ(std::count(toasts.begin(), toasts.end(), "授权已过期"), 1);
  EXPECT_FALSE(OBSocialAccountManager::isOauthWithPlatform("sina"));
}

// The reader who cancelled a share is told nothing; a share that failed on the way says so.
TEST_F(DataServiceTest, ACancelledShareShowsNoToastAndAFailedOneSaysTheNetworkFailed) {
  sandbox_.writeBundleFile("OBSocialLocalizable.strings", "\"shareEdit_post_finish\" = \"分享成功\";\n"
                                                          "\"shareEdit_error_fail\" = \"分享失败\";\n"
                                                          "\"shareEdit_error_network_fail_message\" = \"网络错误\";\n");
  auto cancelled = OBSocialResponseEntity::failure(OBSocialResponseCodeCancelled, "user cancel the operation", 5);
  cancelled->data = os::Dictionary{{"sina", os::Value("")}};
  OBSocialDataService::handleShareResult("sina", cancelled);
  os::RunLoop::main()->runUntilIdle();
  EXPECT_EQ(toastText(), "");
  EXPECT_TRUE(server_.requests().empty());
  EXPECT_EQ(barUpdates_->count(), 0);

  OBSocialDataService::handleShareResult("sina", OBSocialResponseEntity::failure(5050, "network error", 5));
  EXPECT_EQ(toastText(), "网络错误");
}

// Identity, friends and tokens follow the service.
TEST_F(DataServiceTest, UserManagerKeepsIdentityFriendsAndTokensInSync) {
  auto service = OBSocialDataService::defaultDataService();
  login("sina", "123");
  std::string uid = *OBSUserManager::shareInstance()->uid();
  EXPECT_EQ(server_.service().uidForDevice(kTestAppKey, lastRequest().parameters["sharedudid"].stringOr()), uid);

  server_.service().setAccount(kTestAppKey, uid, "sina",
                               os::Dictionary{{"usid", "123"}, {"access_token", "renewed"}, {"username", "新名字"}});
  std::shared_ptr<OBSocialResponseEntity> accounts, friends, valid;
  service->requestSocialAccountWithCompletion([&](const auto& r) { accounts = r; });
  service->requestSnsFriends("sina", [&](const auto& r) { friends = r; });
  service->requestIsTokenValid({"sina", "qzone"}, [&](const auto& r) { valid = r; });
  ASSERT_TRUE(settle([&] { return accounts && friends && valid; }));
  auto sina = OBSUserManager::shareInstance()->accountForPlatform("sina");
  ASSERT_TRUE(sina);
  EXPECT_EQ(sina->accessToken, "renewed");
  EXPECT_EQ(sina->userName, "新名字");
  EXPECT_EQ(OBSUserManager::shareInstance()->friendsDictionaryWithSnsName("sina")->size(), 3u);
  EXPECT_EQ(lastRequest().parameters["platforms"].stringOr(), "sina,qzone");
  EXPECT_EQ((*valid->data)["qzone"]["st"].intValue(), 5027);

  // An account stored while the list is on its way is newer than the list: it stays.
  accounts = nullptr;
  service->requestSocialAccountWithCompletion([&](const auto& r) { accounts = r; });
  auto qzone = std::make_shared<OBSocialAccountEntity>("qzone");
  qzone->usid = "q1";
  OBSocialAccountManager::setSnsAccount(qzone);
  ASSERT_TRUE(settle([&] { return accounts != nullptr; }));
  auto kept = OBSUserManager::shareInstance()->accountForPlatform("qzone");
  EXPECT_TRUE(kept && kept->usid == "q1");
  EXPECT_EQ(OBSUserManager::shareInstance()->accountForPlatform("sina")->accessToken, "renewed");

  // Read back after a restart: the archive kept the account.
  OBSocialContext::setCurrent(std::make_shared<OBSocialContext>());
  EXPECT_EQ(OBSUserManager::shareInstance()->accountForPlatform("sina")->accessToken, "renewed");

  std::shared_ptr<OBSocialResponseEntity> unbound;
  OBSocialDataService::defaultDataService()->requestUnOauthWithType("sina", [&](const auto& r) { unbound = r; });
  ASSERT_TRUE(settle([&] { return unbound != nullptr; }));
  EXPECT_FALSE(OBSUserManager::shareInstance()->accountForPlatform("sina"));
}

// The key brings the platforms' keys; the first data asks for its bar and, knowing no accounts
// yet, for the accounts.
TEST_F(DataServiceTest, SettingTheKeyAsksForAppInfoThenTheBarThenTheAccounts) {
  OBSocialData::setAppKey(kTestAppKey);
  auto data = std::make_shared<OBSocialData>("article-1");
  ASSERT_TRUE(settle([&] { return actions().size() >= 3; }));
  // The key's and the bar's requests travel side by side; the accounts wait for the bar.
  auto sent = actions();
  ASSERT_EQ(sent.size(), 3u);
  std::sort(sent.begin(), sent.begin() + 2);
  EXPECT_EQ(sent, (std::vector<int>{3, 16, 10}));
}

// Binding refreshes the accounts after it; unbinding and cancelling authorisation are one call each.
TEST_F(DataServiceTest, BindingUnbindingAndCancellingAuthorisationReachTheService) {
  login("sina", "123");
  auto users = OBSUserManager::shareInstance();
  auto ask = [&](std::size_t count, auto request) {
    server_.clearRequests();
    std::shared_ptr<OBSocialResponseEntity> answer;
    request([&](const auto& r) { answer = r; });
    EXPECT_TRUE(settle([&] { return answer != nullptr && actions().size() >= count; }));
    return actions();
  };
  EXPECT_EQ(ask(2, [&](auto done) { users->requestBindingSNSWithTye("sina", done); }), (std::vector<int>{6, 10}));
  // Unbinding signs the reader out of the service's own login: both login entries go, and stay
  // gone after a restart.
  auto accounts = users->snsAccountDictionary();
  accounts["loginAccount"] = std::make_shared<OBSocialAccountEntity>("loginAccount");
  accounts["defaultAccount"] = std::make_shared<OBSocialAccountEntity>("defaultAccount");
  users->setSnsAccountDictionary(accounts);
  ASSERT_TRUE(OBSocialAccountManager::isLoginWithSnsAccount());
  EXPECT_EQ(ask(1, [&](auto done) { users->requestUnBindingSNS(done); }), (std::vector<int>{7}));
  EXPECT_FALSE(OBSocialAccountManager::isLoginWithSnsAccount());
  OBSocialContext::setCurrent(std::make_shared<OBSocialContext>());
  users = OBSUserManager::shareInstance();
  EXPECT_FALSE(users->snsAccountDictionary().contains("loginAccount"));
  EXPECT_FALSE(users->snsAccountDictionary().contains("defaultAccount"));
  EXPECT_TRUE(users->accountForPlatform("sina"));
  EXPECT_EQ(ask(1, [&](auto done) { users->requestUnOauthToPlatform("sina", done); }), (std::vector<int>{8}));
}

// A request waiting in the queue whose account goes before its turn comes is not sent; its caller
// hears so once, and the request behind it still goes.
TEST_F(DataServiceTest, AQueuedRequestThatCanNoLongerBeBuiltStillAnswersItsCaller) {
  auto service = OBSocialDataService::defaultDataService();
  login("sina", "123");
  server_.clearRequests();
  std::shared_ptr<OBSocialResponseEntity> bar, accounts;
  std::vector<std::shared_ptr<OBSocialResponseEntity>> friends;
  service->requestSocialDataWithCompletion([&](const auto& r) { bar = r; });
  service->requestSnsFriends("sina", [&](const auto& r) { friends.push_back(r); });
  service->requestSocialAccountWithCompletion([&](const auto& r) { accounts = r; });
  // The reader signs out of the platform while the bar is on its way.
  auto users = OBSUserManager::shareInstance();
  auto stored = users->snsAccountDictionary();
  stored.erase("sina");
  users->setSnsAccountDictionary(stored);
  ASSERT_TRUE(settle([&] { return bar && accounts; }));
  os::RunLoop::main()->runUntilIdle();
  ASSERT_EQ(friends.size(), 1u);
  EXPECT_EQ(friends[0]->responseCode, 5054);
  EXPECT_EQ(bar->responseCode, 200);
  EXPECT_EQ(accounts->responseCode, 200);
  EXPECT_EQ(actions(), (std::vector<int>{3, 10}));
}

// A share with no platform, or a comment for a platform that takes none, is not sent: its caller
// still hears so, once, at once.
TEST_F(DataServiceTest, AShareOrCommentThatCannotBeSentStillAnswersItsCaller) {
  auto service = OBSocialDataService::defaultDataService();
  os::RunLoop::main()->runUntilIdle();
  server_.clearRequests();
  std::vector<std::shared_ptr<OBSocialResponseEntity>> answers;
  auto hear = [&](const std::shared_ptr<OBSocialResponseEntity>& r) { answers.push_back(r); };
  service->postSNSWithTypes({}, std::string("t"), nullptr, std::nullopt, nullptr, hear);
  service->postCommentWithContent("c", nullptr, std::nullopt, std::nullopt, os::Dictionary{{"wxsession", "1"}}, hear);
  service->postCommentWithContent("c", nullptr, std::nullopt, std::nullopt, os::Dictionary{{"sina", 7}}, hear);
  os::RunLoop::main()->runUntilIdle();
  ASSERT_EQ(answers.size(), 3u);
  for (const auto& answer : answers) EXPECT_EQ(answer->responseCode, 5054);
  // Neither a share nor a comment went.
  for (int action : actions()) EXPECT_TRUE(action != 0 && action != 5) << action;
}

// An account action for a platform that takes none (friends, user information, binding,
// cancelling authorisation, follows for "email", "wxsession" or a name nobody registered) is not
// sent: its caller hears so, once, at once, and the stored accounts stay as they were.
TEST_F(DataServiceTest, AnAccountActionForAPlatformThatTakesNoneStillAnswersItsCaller) {
  auto service = OBSocialDataService::defaultDataService();
  login("sina", "123");
  os::RunLoop::main()->runUntilIdle();
  server_.clearRequests();
  const auto before = OBSUserManager::shareInstance()->snsAccountDictionary();
  for (const std::string name : {"email", "wxsession", "nowhere"}) {
    std::vector<std::shared_ptr<OBSocialResponseEntity>> answers;
    auto hear = [&](const std::shared_ptr<OBSocialResponseEntity>& r) { answers.push_back(r); };
    service->requestSnsFriends(name, hear);
    service->requestSnsInformation(name, hear);
    service->requestBindToSnsWithType(name, hear);
    service->requestUnOauthWithType(name, hear);
    service->requestAddFollow(name, {"u1", "u2"}, hear);
    os::RunLoop::main()->runUntilIdle();
    ASSERT_EQ(answers.size(), 5u) << name;
    for (const auto& answer : answers) {
      EXPECT_EQ(answer->responseCode, 5054) << name;
      ASSERT_TRUE(answer->data) << name;
      EXPECT_TRUE(answer->data->contains(name)) << name;
    }
    EXPECT_EQ(os::testing::collect<int>(answers, [](const auto& r) { return r->responseType; }),
              (std::vector<int>{12, 11, 6, 8, 13}));
  }
  // None of the five actions went (the operation counters may have).
  for (int action : actions()) EXPECT_TRUE(action != 6 && action != 8 && action != 11 && action != 12 && action != 13) << action;
  EXPECT_EQ(OBSUserManager::shareInstance()->snsAccountDictionary().size(), before.size());
  EXPECT_TRUE(OBSUserManager::shareInstance()->accountForPlatform("sina"));
}

}  // namespace
