#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

#include "tools/sharingd/server/SharingServer.h"
#include "tools/sharingd/server/SharingService.h"
#include "tools/sharingd/server/SharingWire.h"

#include "os/core/String.h"

namespace sharingd {
namespace {

TEST(SharingWireTest, CipherRoundTripsAndRefusesOtherKeys) {
  auto cipher = encipher("{\"a\":1}", "key-1");
  ASSERT_TRUE(cipher);
  EXPECT_EQ(decipher(*cipher, "key-1"), "{\"a\":1}");
  EXPECT_NE(decipher(*cipher, "key-2"), "{\"a\":1}");
  EXPECT_FALSE(decipher("!!", "key-1"));
  EXPECT_EQ((*parseQuery("a=1&b=%2B%20x&c"))["b"].stringOr(), "+ x");
  EXPECT_FALSE(parseQuery("a=%zz"));
}

TEST(SharingServiceStateTest, BarsLikesTokensAndSecrets) {
  SharingService service;
  ActionRequest bar{3, "GET", "app", {}, os::Dictionary{{"dc", "news-1"}, {"sharedudid", "dev"}}};
  auto first = service.answer(bar);
  ASSERT_EQ(first.st, 200);
  std::string ek = first.data["ek"].stringOr();
  std::string uid = first.data["uid"].stringOr();
  EXPECT_EQ(service.answer(bar).data["ek"].stringOr(), ek);
  EXPECT_EQ(service.answer(bar).data["pv"].intValue(), 3);

  ActionRequest like{1, "POST", "app", {ek}, os::Dictionary{{"st", "1"}, {"uid", os::Value(uid)}}};
  EXPECT_EQ(service.answer(like).data["lk"].intValue(), 1);
  EXPECT_EQ(service.answer(ActionRequest{1, "POST", "app", {"nope"}, {}}).st, kStatusNoSuchContent);

  ActionRequest token{15, "POST", "app", {}, os::Dictionary{{"to", "sina"}, {"usid", "123"}, {"access_token", "t"},
                                                            {"expires_in", "100"}, {"uid", os::Value(uid)}}};
  EXPECT_EQ(service.answer(token).st, 200);
  auto accounts = service.answer(ActionRequest{10, "GET", "app", {uid}, {}}).data["accounts"];
  EXPECT_EQ(accounts["sina"]["usid"].stringOr(), "123");

  EXPECT_EQ(service.answer(ActionRequest{19, "POST", "app", {}, os::Dictionary{{"ombra_secret", "ppa"}, {"x", "1"}}}).st, 200);
  EXPECT_EQ(service.appInfo("app")->size(), 1u);
  EXPECT_EQ(service.answer(ActionRequest{19, "POST", "app", {}, os::Dictionary{{"ombra_secret", "app"}}}).st,
            kStatusBadSecret);
}

TEST(SharingServiceStateTest, KeptUsersAndSignInsOutliveTheServiceAndADamagedFileStartsEmpty) {
  const std::string path = ::testing::TempDir() + "sharingd-state-" + std::to_string(::getpid());
  std::remove(path.c_str());
  std::string uid;
  {
    SharingService service;
    service.keepStateIn(path);
    uid = service.answer(ActionRequest{3, "GET", "app", {}, os::Dictionary{{"dc", "n"}, {"sharedudid", "dev"}}})
              .data["uid"].stringOr();
    ASSERT_EQ(service.answer(ActionRequest{15, "POST", "app", {}, os::Dictionary{{"to", "sina"}, {"usid", "9"},
                                                                                 {"access_token", "t"}, {"uid", os::Value(uid)}}})
                  .st,
              200);
  }
  SharingService again;
  again.keepStateIn(path);
  EXPECT_EQ(again.uidForDevice("app", "dev"), uid);
  ASSERT_TRUE(again.account("app", uid, "sina"));
  EXPECT_EQ((*again.account("app", uid, "sina"))["usid"].stringOr(), "9");
  // A new device still gets a new user, not one of the kept numbers.
  EXPECT_NE(again.answer(ActionRequest{3, "GET", "app", {}, os::Dictionary{{"dc", "n"}, {"sharedudid", "other"}}})
                .data["uid"].stringOr(),
            uid);

  {
    std::FILE* f = std::fopen(path.c_str(), "w");
    std::fputs("{\"app\":[1,", f);
    std::fclose(f);
  }
  SharingService damaged;
  damaged.keepStateIn(path);
  EXPECT_FALSE(damaged.uidForDevice("app", "dev"));
  std::remove(path.c_str());
}

TEST(SharingFaultTest, FaultTextsParse) {
  EXPECT_EQ(parseFault("st:5027"), (Fault{Fault::Kind::Status, 5027}));
  EXPECT_EQ(parseFault("503"), (Fault{Fault::Kind::HttpError, 503}));
  EXPECT_EQ(parseFault("stall")->kind, Fault::Kind::Stall);
  EXPECT_EQ(parseFault("garbage")->kind, Fault::Kind::Garbage);
  EXPECT_FALSE(parseFault("200"));
  EXPECT_FALSE(parseFault("st:x"));
}

}  // namespace
}  // namespace sharingd

#include <httplib.h>

#include <thread>

namespace sharingd {
namespace {

// A stalled request holds no answer back from stopping: stop() lets it go unanswered.
TEST(SharingServerTest, StallHoldsUntilStopAndUnknownPathsAreRefused) {
  SharingServer server(ServerOptions{});
  auto port = server.start();
  ASSERT_TRUE(port);
  httplib::Client client("127.0.0.1", *port);
  client.set_read_timeout(30, 0);
  EXPECT_EQ(client.Get("/nothing/here")->status, 404);

  server.setFault(3, Fault{Fault::Kind::Stall, 0});
  std::thread caller([&] { client.Get("/bar/get/app/?ud_get=x"); });
  // Only requests that name an action are logged: the stalled one.
  for (int i = 0; i < 3000 && server.requests().empty(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  auto seen = server.requests();
  server.stop();
  caller.join();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen.back().action, 3);
  EXPECT_EQ(seen.back().appKey, "app");
}

// Web authorisation: the page the reader's web view loads (base URL + "share/auth/AK/EK?" and
// the enciphered query). With the sign-in page it asks for the test account and posts back to
// itself; only the right account is sent on to the platform's callback path with the answer.
TEST(SharingServerTest, TheAuthorisationPageSignsInWithTheTestAccountBeforeItGrants) {
  ServerOptions options;
  options.signInPage = true;
  SharingServer server(options);
  auto port = server.start();
  ASSERT_TRUE(port);
  httplib::Client client("127.0.0.1", *port);
  client.set_url_encode(false);
  const std::string page =
      "/share/auth/app/-1?ud_get=" + os::percentEscape(*encipher("ak=app&dt=1&uid=u1&via=douban&opid=10", "app"));

  auto form = client.Get(page.c_str());
  ASSERT_TRUE(form);
  EXPECT_EQ(form->status, 200);
  EXPECT_NE(form->body.find("<title>豆瓣"), std::string::npos);
  EXPECT_NE(form->body.find("测试帐号 reader 密码 reader123"), std::string::npos);
  EXPECT_NE(form->body.find("<form method=\"post\" action=\"" + page + "\">"), std::string::npos);
  EXPECT_NE(form->body.find("name=\"username\""), std::string::npos);
  EXPECT_NE(form->body.find("type=\"password\" name=\"password\""), std::string::npos);
  EXPECT_FALSE(server.service().account("app", "u1", "douban"));

  auto wrong = client.Post(page.c_str(), "username=reader&password=nope", "application/x-www-form-urlencoded");
  ASSERT_TRUE(wrong);
  EXPECT_EQ(wrong->status, 200);
  EXPECT_NE(wrong->body.find("帐号或密码错误"), std::string::npos);
  EXPECT_NE(wrong->body.find("name=\"username\" placeholder=\"帐号\" value=\"reader\""), std::string::npos);
  EXPECT_FALSE(server.service().account("app", "u1", "douban"));

  auto granted = client.Post(page.c_str(), "username=reader&password=reader123", "application/x-www-form-urlencoded");
  ASSERT_TRUE(granted);
  EXPECT_EQ(granted->status, 302);
  const std::string location = granted->get_header_value("Location");
  ASSERT_EQ(location.rfind("/douban/main?ud_get=", 0), 0u) << location;
  auto answer = decipher(*os::percentUnescape(location.substr(20)), "app");
  ASSERT_TRUE(answer);
  auto fields = parseJSONObject(*answer);
  ASSERT_TRUE(fields);
  EXPECT_EQ((*fields)["st"].intValue(), 200);
  EXPECT_EQ((*fields)["data"]["via"].stringOr(), "douban");
  EXPECT_TRUE(server.service().account("app", "u1", "douban"));
  // Only the authorisation page takes a form.
  EXPECT_EQ(client.Post("/bar/get/app/", "username=reader&password=reader123", "application/x-www-form-urlencoded")->status,
            404);
  server.stop();

  // Without the sign-in page the page grants at once.
  SharingServer atOnce(ServerOptions{});
  auto other = atOnce.start();
  ASSERT_TRUE(other);
  httplib::Client direct("127.0.0.1", *other);
  direct.set_url_encode(false);
  auto redirected = direct.Get(page.c_str());
  ASSERT_TRUE(redirected);
  EXPECT_EQ(redirected->status, 302);
  EXPECT_EQ(direct.Post(page.c_str(), "username=reader&password=reader123", "application/x-www-form-urlencoded")->status,
            404);
  atOnce.stop();
}

}  // namespace
}  // namespace sharingd
