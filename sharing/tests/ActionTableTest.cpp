#include "os/core/Log.h"
#include "os/views/Device.h"
#include "os/core/String.h"
#include "os/graphics/Image.h"
#include "sharing/handlers/OBSocialQQHandler.h"
#include "sharing/service/OBSBarEntity.h"
#include "sharing/service/OBSCommentEntity.h"
#include "tools/sharingd/server/SharingWire.h"
#include "sharing/service/OBSUserManager.h"
#include "sharing/service/OBSocialAccountEntity.h"
#include "sharing/service/OBSocialCryptor.h"
#include "sharing/service/OBSocialExtConfig.h"
#include "sharing/service/OBSocialJobFactory.h"
#include "sharing/service/OBSocialOpAnalytics.h"
#include "sharing/service/OBUtils.h"
#include "sharing/tests/ServiceFixture.h"
#include "os/store/UserDefaults.h"

namespace {

using ActionTableTest = ServiceFixture;

OBSocialJobParams params(os::Dictionary values) {
  OBSocialJobParams p;
  p.values = std::move(values);
  return p;
}

// The query of a job's path, read back.
os::Dictionary queryOf(const std::shared_ptr<OBSocialJob>& job) {
  auto path = *job->pathString;
  os::Dictionary out;
  for (const auto& pair : os::split(path.substr(path.find('?') + 1), "&")) {
    auto eq = pair.find('=');
    out.set(pair.substr(0, eq), os::Value(os::percentUnescape(pair.substr(eq + 1)).value_or("")));
  }
  return out;
}

void addAccount(const std::string& platform, const std::string& usid) {
  auto users = OBSUserManager::shareInstance();
  auto accounts = users->snsAccountDictionary();
  auto account = std::make_shared<OBSocialAccountEntity>(platform);
  account->usid = usid;
  account->accessToken = "token-" + usid;
  accounts[platform] = account;
  users->setSnsAccountDictionary(accounts);
}

TEST_F(ActionTableTest, EveryActionIsSentWithItsPathAndMethodAndAnswered) {
  auto manager = OBSDataManager::currentDataManager();
  auto first = perform(3, params({{"descriptor", os::Value(manager->encodedDescriptor())}}));
  ASSERT_EQ(first->responseCode, 200) << (first->error ? first->error->localizedDescription() + " " + first->error->domain + " " + std::to_string(first->error->code) : "");
  ASSERT_TRUE(manager->barEntity()->entityKey);
  ASSERT_TRUE(OBSUserManager::shareInstance()->uid());
  const std::string ek = *manager->barEntity()->entityKey;
  const std::string uid = *OBSUserManager::shareInstance()->uid();

  auto sina = std::make_shared<OBSocialAccountEntity>("sina");
  sina->usid = "123";
  sina->accessToken = "tok";
  OBSocialJobParams token;
  token.snsAccount = sina;
  addAccount("sina", "123");
  manager->currentComment = std::make_shared<OBSCommentEntity>();
  manager->currentComment->content = "写得好";
  manager->snsEntity = std::make_shared<OBSSNSEntity>();
  manager->snsEntity->shareText = "分享";
  auto custom = std::make_shared<OBSocialCustomAccount>("reader");
  OBSocialJobParams customParams;
  customParams.customAccount = custom;

  struct Case {
    int action;
    OBSocialJobParams params;
    const char* method;
    std::string path;
  };
  std::vector<Case> cases{
      {15, token, "POST", "/share/token/" + std::string(kTestAppKey)},
      {0, {}, "POST", "/comment/add/" + std::string(kTestAppKey) + "/" + ek},
      {1, params({{"like", "1"}}), "POST", "/like/update/" + std::string(kTestAppKey) + "/" + ek},
      {2, {}, "GET", "/comment/get/" + std::string(kTestAppKey) + "/" + ek},
      {4, params({{"snsType", "sina"}}), "POST", "/share/add/" + std::string(kTestAppKey) + "/" + ek},
      {5, params({{"snsNames", os::Value(os::Array{"sina", "wxsession"})}}), "POST",
       "/share/multi_add/" + std::string(kTestAppKey) + "/" + ek},
      {6, params({{"displayName", "sina"}}), "POST", "/comment/binding/" + std::string(kTestAppKey)},
      {7, {}, "POST", "/comment/unbinding/" + std::string(kTestAppKey)},
      {10, {}, "GET", "/user/profile/get/" + std::string(kTestAppKey) + "/" + uid},
      {11, params({{"displayName", "sina"}}), "GET", "/share/userinfo/" + std::string(kTestAppKey) + "/123"},
      {12, params({{"displayName", "sina"}}), "GET", "/share/friends/" + std::string(kTestAppKey) + "/123"},
      {13, params({{"displayName", "sina"}, {"fusid", "f1-123,f2-123"}}), "POST",
       "/share/follow/" + std::string(kTestAppKey) + "/123"},
      {14, customParams, "POST", "/user/custom_account/" + std::string(kTestAppKey) + "/" + uid},
      {16, {}, "GET", "/share/keysecret/" + std::string(kTestAppKey)},
      {17, params({{"platforms", "sina,qzone"}}), "GET", "/share/validate_token/" + std::string(kTestAppKey)},
      {18, params({{"opDic", os::Value(os::Dictionary{{"14-11", "2"}})}}), "POST", "/app/oper/" + std::string(kTestAppKey)},
      {19, params({{"appInfo", os::Value(os::Dictionary{{"sina", "key"}})}}), "POST",
       "/share/keysecret/" + std::string(kTestAppKey)},
      {8, params({{"displayName", "sina"}}), "POST", "/share/auth_delete/" + std::string(kTestAppKey)},
  };
  for (auto& c : cases) {
    auto response = perform(c.action, c.params);
    ASSERT_TRUE(response) << c.action;
    EXPECT_EQ(response->responseCode, 200) << c.action << " " << response->message.value_or("");
    EXPECT_EQ(response->responseType, c.action);
    auto seen = lastRequest();
    EXPECT_EQ(seen.action, c.action);
    EXPECT_EQ(seen.method, c.method) << c.action;
    EXPECT_EQ(os::trimCharacters(seen.path, "/"), os::trimCharacters(c.path, "/")) << c.action;
  }
  // What the service kept of it.
  EXPECT_EQ(server_.service().comments(kTestAppKey, ek).size(), 1u);
  EXPECT_EQ(server_.service().operationReports(kTestAppKey).at(0)["14-11"].stringOr(), "2");
  EXPECT_EQ((*server_.service().appInfo(kTestAppKey))["sina"].stringOr(), "key");
  EXPECT_FALSE(server_.service().account(kTestAppKey, uid, "sina"));  // deleted by action 8
  EXPECT_EQ(OBSUserManager::shareInstance()->friendsDictionaryWithSnsName("sina")->size(), 3u);

  // The authorisation page is loaded, not sent: its path carries the enciphered query.
  auto auth = OBSocialJobFactory::sharedInstance()->createSocialJob(9, params({{"displayName", "qzone"}}));
  EXPECT_EQ(auth->networkType, OBSocialNetworkTypeNone);
  EXPECT_EQ(queryOf(auth)["via"].stringOr(), "qzone");
  EXPECT_EQ(queryOf(auth)["opid"].stringOr(), "10");
  EXPECT_TRUE(os::hasPrefix(*OBSocialJob::encryPathString(*auth->pathString), "share/auth/" + std::string(kTestAppKey) +
                                                                                 "/" + ek + "?ud_get="));
}

// The query travels enciphered, so each value goes as it is; only the descriptor arrives escaped
// (its data manager escapes it). The service answers for the names that were sent.
TEST_F(ActionTableTest, QueryValuesTravelAsTheyAre) {
  os::DeviceProfileScope device({.macAddress = "a4:5e:60:00:00:01"});
  auto check = OBSocialJobFactory::sharedInstance()->createSocialJob(17, params({{"platforms", "sina,qq,renren"}}));
  const std::string path = *check->pathString;
  EXPECT_TRUE(os::hasPrefix(path.substr(path.find('?') + 1), "mac=A4:5E:60:00:00:01&sharedudid="));
  EXPECT_TRUE(path.ends_with("&platforms=sina,qq,renren")) << path;
  EXPECT_NE(path.find("&pcv=2.0&"), std::string::npos);

  auto valid = perform(17, params({{"platforms", "sina,qq,renren"}}));
  ASSERT_TRUE(valid && valid->data);
  EXPECT_EQ(valid->data->keys(), (std::vector<std::string>{"sina", "qq", "renren"}));
  EXPECT_EQ(lastRequest().parameters["mac"].stringOr(), "A4:5E:60:00:00:01");

  // The title goes last and as it is, so a reader takes everything after "&name=".
  auto manager = OBSDataManager::getDataManager("http://n/1?a=b&c");
  auto title = OBSocialJobFactory::sharedInstance()->createSocialJob(
      3, params({{"descriptor", os::Value(manager->encodedDescriptor())}, {"title", "A&B=C+D% 50% 中文 ?#&name=x"}}));
  EXPECT_TRUE(title->pathString->ends_with("&opid=1&name=A&B=C+D% 50% 中文 ?#&name=x")) << *title->pathString;
  auto bar = perform(3, params({{"descriptor", os::Value(manager->encodedDescriptor())}, {"title", "A&B=C+D% 50% 中文 ?#&name=x"}}));
  ASSERT_TRUE(bar);
  EXPECT_EQ(bar->responseCode, 200);
  EXPECT_EQ(lastRequest().parameters["name"].stringOr(), "A&B=C+D% 50% 中文 ?#&name=x");
  EXPECT_EQ(lastRequest().parameters["dc"].stringOr(), "http://n/1?a=b&c");

  // What the service answered with cannot end its pair; its "%" goes as it is, since the service
  // reads it so and a doubled escape would come back to it altered.
  OBSDataManager::currentDataManager()->barEntity()->entityKey = "e&k%1";
  OBSDataManager::currentDataManager()->barEntity()->sessionId = "s&1";
  OBSUserManager::shareInstance()->setUid("u%41");
  auto comments = OBSocialJobFactory::sharedInstance()->createSocialJob(2, params({}));
  EXPECT_NE(comments->pathString->find("&ek=e%26k%1&"), std::string::npos) << *comments->pathString;
  EXPECT_NE(comments->pathString->find("&sid=s%261&"), std::string::npos) << *comments->pathString;
  EXPECT_NE(comments->pathString->find("&uid=u%41&"), std::string::npos) << *comments->pathString;
  ASSERT_TRUE(perform(2, params({})));
  EXPECT_EQ(lastRequest().parameters["uid"].stringOr(), "u%41");
  EXPECT_EQ(lastRequest().parameters["ek"].stringOr(), "e%26k%1");
}

// The cipher keeps the key it was made with: a request out while the application key changes is
// still read, and so are the requests after it.
TEST_F(ActionTableTest, AnswersStillReadAfterTheApplicationKeyChanges) {
  std::shared_ptr<OBSocialResponseEntity> bar;
  auto first = params({{"descriptor", "d"}});
  first.completion = [&](const auto& r) { bar = r; };
  ASSERT_TRUE(OBSDataManager::currentDataManager()->doActionWithType(3, first));
  OBSDataManagerSet::shareInstance()->setAppkey("0123456789abcdef01234567");
  ASSERT_TRUE(settle([&] { return bar != nullptr; }));
  EXPECT_EQ(bar->responseCode, 200);
  auto later = perform(16);
  ASSERT_TRUE(later);
  EXPECT_EQ(later->responseCode, 200);
  EXPECT_EQ(lastRequest().appKey, "0123456789abcdef01234567");
}

// A QQ or QZone token goes up with the QQ application's id and key; the open id is the usid.
TEST_F(ActionTableTest, QQTokenUploadCarriesTheQQApplication) {
  auto qq = OBSocialQQHandler::shareInstance();
  qq->qqAppId = "100424468";
  qq->qqAppKey = "c7394704798a158208a74ab60104f0ba";
  for (const char* platform : {"qzone", "qq", "sina"}) {
    auto account = std::make_shared<OBSocialAccountEntity>(platform);
    account->usid = "u1";
    account->accessToken = "tok";
    if (std::string(platform) != "sina") account->openId = "OPENID42";
    OBSocialJobParams token;
    token.snsAccount = account;
    auto answer = perform(15, token);
    ASSERT_TRUE(answer) << platform;
    auto sent = lastRequest().parameters;
    EXPECT_EQ(sent["to"].stringOr(), platform);
    if (std::string(platform) == "sina") {
      EXPECT_FALSE(sent.contains("app_id"));
      EXPECT_FALSE(sent.contains("app_secret"));
      EXPECT_EQ(sent["usid"].stringOr(), "u1");
      continue;
    }
    EXPECT_EQ(sent["app_id"].stringOr(), "100424468") << platform;
    EXPECT_EQ(sent["app_secret"].stringOr(), "c7394704798a158208a74ab60104f0ba") << platform;
    EXPECT_EQ(sent["usid"].stringOr(), "OPENID42");
    EXPECT_EQ(sent["openid"].stringOr(), "OPENID42");
  }
}

// Cancelling an authorisation names its own operation and the platform; a shared link carries its
// kind as the service counts them (image 0, video 1, music 2).
TEST_F(ActionTableTest, AuthorisationCancelAndSharedLinkCarryTheirCodes) {
  ASSERT_EQ(perform(3, params({{"descriptor", "d"}}))->responseCode, 200);
  const std::string uid = *OBSUserManager::shareInstance()->uid();
  addAccount("sina", "123");
  ASSERT_TRUE(perform(8, params({{"displayName", "sina"}})));
  auto cancel = lastRequest();
  EXPECT_EQ(cancel.action, 8);
  EXPECT_EQ(cancel.parameters["opid"].stringOr(), "15");
  EXPECT_EQ(cancel.parameters["via"].stringOr(), "sina");
  EXPECT_EQ(cancel.parameters["uid"].stringOr(), uid);

  auto manager = OBSDataManager::currentDataManager();
  for (int type : {1, 2, 3}) {
    manager->snsEntity = std::make_shared<OBSSNSEntity>();
    manager->snsEntity->shareText = "看视频";
    manager->snsEntity->urlResource = std::make_shared<OBSocialUrlResource>();
    manager->snsEntity->urlResource->resourceType = type;
    manager->snsEntity->urlResource->url = "http://v/" + std::to_string(type);
    manager->snsEntity->isSendUrlResource = true;
    ASSERT_TRUE(perform(5, params({{"snsNames", os::Value(os::Array{"sina"})}})));
    auto share = lastRequest().parameters;
    EXPECT_EQ(share["ftype"].stringOr(), std::to_string(type - 1));
    EXPECT_EQ(share["furl"].stringOr(), "http://v/" + std::to_string(type));
    EXPECT_EQ(share["opid"].stringOr(), "17");
  }
  // Without the flag the link stays at home.
  manager->snsEntity->isSendUrlResource = false;
  ASSERT_TRUE(perform(5, params({{"snsNames", os::Value(os::Array{"sina"})}})));
  EXPECT_FALSE(lastRequest().parameters.contains("ftype"));
}

TEST_F(ActionTableTest, BadAnswersAreFailuresNeverSuccess) {
  server_.setFault(3, sharingd::Fault{sharingd::Fault::Kind::Garbage, 0});
  auto garbage = perform(3, params({{"descriptor", "d"}}));
  EXPECT_EQ(garbage->responseCode, OBSocialResponseCodeNetworkError);
  ASSERT_TRUE(garbage->error);
  EXPECT_EQ(garbage->error->domain, kOBSocialResponseErrorDomain);

  server_.setFault(3, sharingd::Fault{sharingd::Fault::Kind::HttpError, 503});
  auto unavailable = perform(3, params({{"descriptor", "d"}}));
  EXPECT_EQ(unavailable->responseCode, OBSocialResponseCodeNetworkError);
  EXPECT_EQ(unavailable->message, kOBSocialNetworkErrorMessage);

  server_.setFault(3, sharingd::Fault{sharingd::Fault::Kind::Status, 5027});
  EXPECT_EQ(perform(3, params({{"descriptor", "d"}}))->responseCode, 5027);

  // An answer enciphered with another key does not decipher here.
  server_.clearFaults();
  auto body = sharingd::answerBody(200, "ok", {}, "another-key");
  EXPECT_EQ(OBSocialJob::responseForAnswer(os::dataFromString(body), 3)->responseCode, OBSocialResponseCodeNetworkError);
  auto bare = OBSocialCryptor::AES128Encrypt("[1,2]");
  EXPECT_EQ(OBSocialJob::responseForAnswer(os::dataFromString(*bare), 3)->responseCode, OBSocialResponseCodeNetworkError);
  auto noStatus = OBSocialCryptor::AES128Encrypt("{\"msg\":\"ok\"}");
  EXPECT_EQ(OBSocialJob::responseForAnswer(os::dataFromString(*noStatus), 3)->responseCode,
            OBSocialResponseCodeNetworkError);
}

// Values with "+", "/", "&" and "?" reach the service as they were: escaped in paths and queries,
// and the enciphered query's Base64 survives.
TEST_F(ActionTableTest, ValuesAndPathSegmentsArriveIntact) {
  OBSDataManagerSet::shareInstance()->setDataManagerWithHash("news/1?x=1&y=2 +");
  auto manager = OBSDataManager::currentDataManager();
  manager->title = "标题 & more";
  std::shared_ptr<OBSocialResponseEntity> bar;
  manager->requestBarInfo([&](const auto& r) { bar = r; });
  ASSERT_TRUE(settle([&] { return bar != nullptr; }));
  ASSERT_EQ(bar->responseCode, 200);
  EXPECT_EQ(lastRequest().parameters["dc"].stringOr(), "news/1?x=1&y=2 +");
  EXPECT_EQ(lastRequest().parameters["name"].stringOr(), "标题 & more");

  addAccount("sina", "a/b?c&d+e");
  EXPECT_EQ(perform(12, params({{"displayName", "sina"}}))->responseCode, 200);
  EXPECT_EQ(lastRequest().pathArguments, std::vector<std::string>{"a/b?c&d+e"});
}

TEST_F(ActionTableTest, BodiesFollowTheTable) {
  auto factory = OBSocialJobFactory::sharedInstance();
  // No bar key yet: "-1"; no comment time: "-1".
  auto list = factory->createSocialJob(2, {});
  EXPECT_TRUE(os::contains(*list->pathString, "/-1/?"));
  EXPECT_EQ(queryOf(list)["lct"].stringOr(), "-1");
  EXPECT_EQ(queryOf(list)["opid"].stringOr(), "2");

  addAccount("sina", "123");
  auto multi = factory->createSocialJob(5, params({{"snsNames", os::Value(os::Array{"sina", "wxsession"})}}));
  EXPECT_EQ(OBUtils::JSONValue((*multi->baseDic)["sns"].stringOr()),
            os::Value(os::Dictionary{{"sina", "123"}, {"wxsession", ""}}));
  EXPECT_EQ((*multi->baseDic)["tp"].stringOr(), "1");
  EXPECT_EQ((*multi->baseDic)["type"].stringOr(), "common");

  auto qzone = std::make_shared<OBSocialAccountEntity>("qzone");
  qzone->usid = "u";
  qzone->accessToken = "t";
  qzone->openId = "OPENID";
  qzone->expirationDate = os::Date::now().addingTimeInterval(3600);
  OBSocialJobParams token;
  token.snsAccount = qzone;
  auto upload = factory->createSocialJob(15, token);
  EXPECT_EQ((*upload->baseDic)["usid"].stringOr(), "OPENID");
  EXPECT_EQ((*upload->baseDic)["expires_in"].stringOr(), "3600");
  // A lifetime beyond the integer's range either way goes up as the nearest one it holds.
  for (auto [seconds, sent] : {std::pair{9.3e18, "9223372036854775807"}, std::pair{-9.3e18, "-9223372036854775808"}}) {
    qzone->expirationDate = os::Date::now().addingTimeInterval(seconds);
    EXPECT_EQ((*factory->createSocialJob(15, token)->baseDic)["expires_in"].stringOr(), sent);
  }

  std::vector<std::string> lines;
  auto previous = os::setLogSink([&](std::string_view line) { lines.emplace_back(line); });
  OBSocialJobParams custom;
  custom.customAccount = std::make_shared<OBSocialCustomAccount>("reader");
  custom.customAccount->gender = "unknown";
  OBSUserManager::shareInstance()->setUid("u9");
  auto customJob = factory->createSocialJob(14, custom);
  EXPECT_FALSE(customJob->baseDic->contains("gender"));
  EXPECT_NE(std::find(lines.begin(), lines.end(), "add custom account gender error!"), lines.end());

  for (int action : {20, -1}) {
    auto none = factory->createSocialJob(action, {});
    EXPECT_EQ(none->networkType, OBSocialNetworkTypeNone);
    EXPECT_FALSE(none->pathString);
    EXPECT_FALSE(none->baseDic);
  }
  // Nothing for an account the reader does not have, and nothing at all without a key.
  EXPECT_FALSE(factory->createSocialJob(11, params({{"displayName", "renren"}})));
  OBSDataManagerSet::shareInstance()->setAppkey("");
  lines.clear();
  EXPECT_FALSE(factory->createSocialJob(3, {}));
  os::setLogSink(previous);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), kOBSocialMissingAppKeyMessage);
}

// The queue sends one request at a time; later jobs are rebuilt right before they go.
TEST_F(ActionTableTest, QueueSendsOneAtATimeWithTheStateOfSendingTime) {
  auto manager = OBSDataManager::currentDataManager();
  bool listed = false;
  // Without a bar key the list first asks for one.
  manager->requestCommentList(-1, [&](const auto&) { listed = true; });
  EXPECT_EQ(manager->actionArray().size(), 2u);
  ASSERT_TRUE(settle([&] { return listed; }));
  auto requests = server_.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].action, 3);
  // The list was built before the key came, and sent after: it carries the key.
  EXPECT_EQ(requests[1].action, 2);
  EXPECT_EQ(requests[1].pathArguments.at(0), *manager->barEntity()->entityKey);
  EXPECT_TRUE(manager->actionArray().empty());
}

// A queued comment or share is rebuilt when it goes, but with its own words: a second post made
// while the first waits must not send its text twice and lose the first.
TEST_F(ActionTableTest, QueuedPostsKeepTheirOwnContent) {
  auto manager = OBSDataManager::currentDataManager();
  int answered = 0;
  auto count = [&](const auto&) { ++answered; };
  // No bar key yet: each comment waits behind a request for one.
  manager->postCommentWithContent("第一条", std::nullopt, count);
  manager->postCommentWithContent("第二条", std::nullopt, count);
  // A bar request in flight holds the shares back.
  manager->requestBarInfo(nullptr);
  manager->postSNSWithTypes({"sina"}, std::string("甲"), nullptr, std::nullopt, nullptr, count, std::nullopt);
  manager->postSNSWithTypes({"sina"}, std::string("乙"), nullptr, std::nullopt, nullptr, count, std::nullopt);
  ASSERT_TRUE(settle([&] { return answered == 4; }));

  std::vector<std::string> comments, shares;
  for (const auto& request : server_.requests()) {
    if (request.action == 0) comments.push_back(request.parameters["ct"].stringOr());
    if (request.action == 5) shares.push_back(request.parameters["ct"].stringOr());
  }
  EXPECT_EQ(comments, (std::vector<std::string>{"第一条", "第二条"}));
  EXPECT_EQ(shares, (std::vector<std::string>{"甲", "乙"}));
}

TEST_F(ActionTableTest, SixthOperationReportsTheCounts) {
  for (int i = 0; i < 5; ++i) OBSocialOpAnalytics::postSocialAnalyticsForSns("14", std::string("sina"));
  auto defaults = os::UserDefaults::standardUserDefaults();
  EXPECT_EQ(defaults->integerForKey(kOBSocialOpCountKey), 5);
  EXPECT_EQ((*defaults->dictionaryForKey(kOBSocialOpDictionaryKey))["14-11"].stringOr(), "5");
  OBSocialOpAnalytics::postSocialAnalytics("7", std::string("4"), std::string("qzone"));
  EXPECT_EQ(defaults->integerForKey(kOBSocialOpCountKey), 0);
  EXPECT_TRUE(defaults->dictionaryForKey(kOBSocialOpDictionaryKey)->empty());
  ASSERT_TRUE(settle([&] { return lastRequest().st != 0; }));
  EXPECT_EQ(lastRequest().action, 18);
  auto report = server_.service().operationReports(kTestAppKey).at(0);
  EXPECT_EQ(report["14-11"].stringOr(), "5");
  EXPECT_EQ(report["4+7-10"].stringOr(), "1");
}

// Without an application key no report can be queued: the counts are kept until one can.
TEST_F(ActionTableTest, CountsAreKeptWhenNoReportCouldBeQueued) {
  OBSDataManagerSet::shareInstance()->setAppkey("");
  for (int i = 0; i < 7; ++i) OBSocialOpAnalytics::postSocialAnalytics("15");
  auto defaults = os::UserDefaults::standardUserDefaults();
  EXPECT_EQ(defaults->integerForKey(kOBSocialOpCountKey), 7);
  // A restart with the stored count picks up from there.
  OBSDataManagerSet::shareInstance()->setAppkey(kTestAppKey);
  OBSocialContext::setCurrent(std::make_shared<OBSocialContext>());
  OBSocialOpAnalytics::postSocialAnalytics("15");
  EXPECT_EQ(defaults->integerForKey(kOBSocialOpCountKey), 0);
}

}  // namespace

namespace {

// A comment with a picture goes as a multipart form: the enciphered body and the picture part.
TEST_F(ActionTableTest, CommentWithPictureGoesAsMultipart) {
  auto manager = OBSDataManager::currentDataManager();
  ASSERT_EQ(perform(3, params({{"descriptor", "pictures"}}))->responseCode, 200);
  addAccount("sina", "123");
  std::shared_ptr<OBSocialResponseEntity> posted;
  manager->postCommentWithContent("看图", os::Image::create(os::Bitmap(8, 8)), std::string("模板"), OBSocialLocation{39.9, 116.4},
                                  os::Dictionary{{"sina", "123"}}, [&](const auto& r) { posted = r; });
  ASSERT_TRUE(settle([&] { return posted != nullptr; }));
  EXPECT_EQ(posted->responseCode, 200);
  auto seen = lastRequest();
  EXPECT_EQ(seen.action, 0);
  EXPECT_TRUE(seen.hasPicture);
  EXPECT_EQ(seen.parameters["ct"].stringOr(), "看图");
  EXPECT_EQ(seen.parameters["tpt"].stringOr(), "模板");
  EXPECT_EQ(seen.parameters["lc"].stringOr(), "(116.400000,39.900000)");
  EXPECT_EQ(OBUtils::JSONValue(seen.parameters["sns"].stringOr()), os::Value(os::Dictionary{{"sina", "123"}}));
  EXPECT_FALSE(seen.parameters.contains("pic"));  // the picture is its own part, not in the body
}

}  // namespace
