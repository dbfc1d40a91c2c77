#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>

#include "tools/sharingd/server/SharingServer.h"
#include "tools/sharingd/server/SharingService.h"
#include "tools/sharingd/server/SharingWire.h"

#include "foundation/formats/Base64.h"
#include "os/core/String.h"
#include "os/crypto/Cipher.h"
#include "os/crypto/Digest.h"
#include "os/net/Socket.h"
#include "os/net/TrackedHttpServer.h"
#include "os/store/FileManager.h"
#include "os/testing/CutShortWrite.h"
#include "os/testing/RawHttpClient.h"

namespace sharingd {
namespace {

// The parameters as the client sends them: its base parameters carry the application key.
os::Dictionary based(os::Dictionary parameters, const std::string& appKey = "app") {
  parameters.set("ak", os::Value(appKey));
  return parameters;
}

TEST(SharingWireTest, CipherRoundTripsAndRefusesOtherKeys) {
  auto cipher = encipher("{\"a\":1}", "key-1");
  ASSERT_TRUE(cipher);
  EXPECT_EQ(decipher(*cipher, "key-1"), "{\"a\":1}");
  EXPECT_NE(decipher(*cipher, "key-2"), "{\"a\":1}");
  EXPECT_FALSE(decipher("!!", "key-1"));
  EXPECT_EQ((*parseQuery("a=1&b=%2B%20x&c"))["b"].stringOr(), "+ x");
  EXPECT_FALSE(parseQuery("a=%zz"));
}

// The cipher as the protocol gives it, written out here on its own: AES-128-CBC, the key the first
// 16 characters of the application key's upper-case MD5 digits, the vector "qxvdk.w4/Tz+R591",
// 1 to 16 zero bytes of padding, standard Base64 outside.
std::string encipherByHand(const std::string& text, const std::string& appKey, bool padWholeBlocks = true) {
  os::Data bytes(text.begin(), text.end());
  if (padWholeBlocks || bytes.size() % 16 != 0) bytes.resize(bytes.size() + 16 - bytes.size() % 16, 0);
  const std::string hex = os::uppercaseASCII(os::md5Hex(appKey));
  auto cipher = os::aes128CBCEncrypt(bytes, os::Data(hex.begin(), hex.begin() + 16),
                                     os::dataFromString("qxvdk.w4/Tz+R591"), os::CipherPadding::None);
  return base64EncodedString(*cipher).value_or("");
}

TEST(SharingWireTest, TheCipherIsTheProtocolsAndOnlyItsFormDeciphers) {
  const std::string key = "6c3f0e9a2b7d41580a9e3c12";
  // The empty text is one block of zero bytes: 24 Base64 characters ending in "==".
  EXPECT_EQ(encipher("", key), encipherByHand("", key));
  EXPECT_EQ(encipher("", key)->size(), 24u);
  EXPECT_TRUE(encipher("", key)->ends_with("=="));
  // 16 characters take a second, all-padding block: 32 bytes, 44 characters.
  EXPECT_EQ(encipher("0123456789abcdef", key)->size(), 44u);
  EXPECT_EQ(decipher(encipherByHand("{\"st\":200}", key), key), "{\"st\":200}");

  // Whole blocks without their padding block are not the protocol's.
  EXPECT_FALSE(decipher(encipherByHand("0123456789abcdef", key, false), key));
  // Only padded one-line Base64: no line breaks, no missing "=".
  std::string text = encipherByHand("{\"a\":\"a longer text of more than one line of Base64 output\"}", key);
  ASSERT_TRUE(decipher(text, key));
  EXPECT_FALSE(decipher(text.substr(0, 20) + "\r\n" + text.substr(20), key));
  std::string padded = *encipher("x", key);
  ASSERT_TRUE(padded.ends_with("=="));
  EXPECT_FALSE(decipher(padded.substr(0, padded.size() - 2), key));
  // The key is the application key's: another key's text does not decipher to it.
  EXPECT_NE(decipher(text, "key-2"), decipher(text, key));
}

// The fields each action must carry, from the action table: refused with 5002 when wrong.
TEST(SharingServiceCheckTest, ActionsCarryTheirOperationCodeKeyAndFieldForms) {
  SharingService service;
  auto st = [&](int action, os::Dictionary parameters, std::vector<std::string> arguments = {}) {
    return service.answer(ActionRequest{action, action == 3 ? "GET" : "POST", "app", std::move(arguments),
                                        std::move(parameters)})
        .st;
  };
  // Action 3 carries "opid" 1 and the application key of its path.
  EXPECT_EQ(st(3, based({{"dc", "n"}, {"opid", "1"}})), 200);
  EXPECT_EQ(st(3, based({{"dc", "n"}, {"opid", "2"}})), kStatusBadParameters);
  EXPECT_EQ(st(3, based({{"dc", "n"}})), kStatusBadParameters);
  EXPECT_EQ(st(3, based({{"dc", "n"}, {"opid", "1"}}, "other")), kStatusBadParameters);
  // Binding "13", unbinding "16", cancelling an authorisation "15", user information "12".
  EXPECT_EQ(st(6, based({{"sns", "sina"}, {"opid", "13"}})), 200);
  EXPECT_EQ(st(6, based({{"sns", "sina"}, {"opid", "6"}})), kStatusBadParameters);
  EXPECT_EQ(st(7, based({{"opid", "16"}})), 200);
  EXPECT_EQ(st(8, based({{"via", "sina"}, {"opid", "15"}})), 200);
  EXPECT_EQ(st(8, based({{"via", "sina"}, {"opid", "10"}})), kStatusBadParameters);
  // Comments list: "lct" is milliseconds or -1.
  EXPECT_EQ(st(2, based({{"lct", "soon"}, {"opid", "2"}}), {"ek"}), kStatusBadParameters);

  // The operation report carries "param" and "uid" only, not the base parameters.
  EXPECT_EQ(st(18, os::Dictionary{{"param", "{\"15\":\"1\"}"}, {"uid", "u1"}}), 200);
  EXPECT_EQ(st(18, os::Dictionary{{"param", "{\"15\":\"1\"}"}}), 200);
  EXPECT_EQ(st(18, based({{"param", "{\"15\":\"1\"}"}})), kStatusBadParameters);

  // Custom account: gender "1" or "0", "extend" JSON.
  EXPECT_EQ(st(14, based({{"username", "u"}, {"gender", "1"}}), {"u1"}), 200);
  EXPECT_EQ(st(14, based({{"username", "u"}, {"gender", "male"}}), {"u1"}), kStatusBadParameters);
  EXPECT_EQ(st(14, based({{"username", "u"}, {"extend", "{"}}), {"u1"}), kStatusBadParameters);
}

TEST(SharingServiceCheckTest, TokenUploadsAndMultiShares) {
  SharingService service;
  auto token = [&](os::Dictionary extra) {
    os::Dictionary p = based({{"access_token", "t"}, {"uid", "u1"}});
    for (const auto& [key, value] : extra) p.set(key, value);
    return service.answer(ActionRequest{15, "POST", "app", {}, p}).st;
  };
  // With an open id the usid is that open id.
  EXPECT_EQ(token({{"to", "sina"}, {"usid", "123"}}), 200);
  EXPECT_EQ(token({{"to", "velmora"}, {"usid", "o1"}, {"openid", "o1"}}), 200);
  EXPECT_EQ(token({{"to", "velmora"}, {"usid", "123"}, {"openid", "o1"}}), kStatusBadParameters);
  // QZone and QQ tokens carry the QQ application's "app_id" and "app_secret" once the app has
  // told the service its QQ application ("qzone_key", "qzone_secret").
  EXPECT_EQ(token({{"to", "qzone"}, {"usid", "o2"}, {"openid", "o2"}}), 200);
  ASSERT_EQ(service.answer(ActionRequest{19, "POST", "app", {},
                                         based({{"qzone_key", "100424468"}, {"qzone_secret", "k"}, {"ombra_secret", "ppa"}})})
                .st,
            200);
  EXPECT_EQ(token({{"to", "qzone"}, {"usid", "o2"}, {"openid", "o2"}}), kStatusBadParameters);
  EXPECT_EQ(token({{"to", "qq"}, {"usid", "o2"}, {"openid", "o2"}, {"app_id", "100424468"}}), kStatusBadParameters);
  EXPECT_EQ(token({{"to", "qq"}, {"usid", "o2"}, {"openid", "o2"}, {"app_id", "1"}, {"app_secret", "k"}}),
            kStatusBadParameters);
  EXPECT_EQ(token({{"to", "qzone"}, {"usid", "o2"}, {"openid", "o2"}, {"app_id", "100424468"}, {"app_secret", "k"}}),
            200);
  EXPECT_EQ(token({{"to", "sina"}, {"usid", "123"}}), 200);
  EXPECT_EQ(token({{"to", "sina"}, {"usid", "123"}, {"expires_in", "3600.5"}}), kStatusBadParameters);
  ASSERT_TRUE(service.account("app", "u1", "qzone"));
  EXPECT_EQ((*service.account("app", "u1", "qzone"))["usid"].stringOr(), "o2");

  // A share names its platforms in "sns": "sina" with the stored usid, "wxsession" (which the
  // client shares itself) with "" and then "tp" 1; "type" common or shake.
  auto share = [&](os::Dictionary extra) {
    os::Dictionary p = based({{"opid", "17"}, {"uid", "u1"}, {"type", "common"}, {"tp", "0"}, {"ct", "看看"}});
    for (const auto& [key, value] : extra) p.set(key, value);
    return service.answer(ActionRequest{5, "POST", "app", {"-1"}, p});
  };
  EXPECT_EQ(share({{"sns", "{\"sina\":\"123\"}"}}).st, 200);
  EXPECT_EQ(share({{"sns", "{\"sina\":\"123\",\"wxsession\":\"\"}"}}).st, kStatusBadParameters);
  auto both = share({{"sns", "{\"sina\":\"123\",\"wxsession\":\"\"}"}, {"tp", "1"}});
  EXPECT_EQ(both.st, 200);
  EXPECT_EQ(both.data["sina"]["st"].intValue(), 200);
  EXPECT_EQ(share({{"sns", "{\"sina\":\"123\"}"}, {"type", "normal"}}).st, kStatusBadParameters);
  EXPECT_EQ(share({{"sns", "{\"sina\":123}"}}).st, kStatusBadParameters);
  // An unknown usid is refused per platform: 510 with the platform's own "st".
  auto stale = share({{"sns", "{\"sina\":\"999\"}"}});
  EXPECT_EQ(stale.st, kStatusShareRefused);
  EXPECT_EQ(stale.data["sina"]["st"].intValue(), kStatusTokenExpired);
}

TEST(SharingServiceStateTest, BarsLikesTokensAndSecrets) {
  SharingService service;
  ActionRequest bar{3, "GET", "app", {}, based({{"dc", "news-1"}, {"sharedudid", "dev"}, {"opid", "1"}})};
  auto first = service.answer(bar);
  ASSERT_EQ(first.st, 200);
  std::string ek = first.data["ek"].stringOr();
  std::string uid = first.data["uid"].stringOr();
  EXPECT_EQ(service.answer(bar).data["ek"].stringOr(), ek);
  EXPECT_EQ(service.answer(bar).data["pv"].intValue(), 3);

  ActionRequest like{1, "POST", "app", {ek}, based({{"st", "1"}, {"uid", os::Value(uid)}, {"opid", "6"}})};
  EXPECT_EQ(service.answer(like).data["lk"].intValue(), 1);
  EXPECT_EQ(service.answer(ActionRequest{1, "POST", "app", {"nope"}, based({{"opid", "6"}})}).st, kStatusNoSuchContent);

  ActionRequest token{15, "POST", "app", {}, based({{"to", "sina"}, {"usid", "123"}, {"access_token", "t"},
                                                     {"expires_in", "100"}, {"uid", os::Value(uid)}})};
  EXPECT_EQ(service.answer(token).st, 200);
  auto accounts = service.answer(ActionRequest{10, "GET", "app", {uid}, based({})}).data["accounts"];
  EXPECT_EQ(accounts["sina"]["usid"].stringOr(), "123");

  EXPECT_EQ(service.answer(ActionRequest{19, "POST", "app", {}, based({{"ombra_secret", "ppa"}, {"x", "1"}})}).st, 200);
  EXPECT_EQ(service.appInfo("app")->size(), 1u);
  EXPECT_EQ(service.answer(ActionRequest{19, "POST", "app", {}, based({{"ombra_secret", "app"}})}).st,
            kStatusBadSecret);
}

TEST(SharingServiceStateTest, KeptUsersAndSignInsOutliveTheService) {
  const std::string path = ::testing::TempDir() + "sharingd-state-" + std::to_string(::getpid());
  std::remove(path.c_str());
  std::string uid;
  {
    SharingService service;
    service.keepStateIn(path);
    uid = service.answer(ActionRequest{3, "GET", "app", {}, based({{"dc", "n"}, {"sharedudid", "dev"}, {"opid", "1"}})})
              .data["uid"].stringOr();
    ASSERT_EQ(service.answer(ActionRequest{15, "POST", "app", {}, based({{"to", "sina"}, {"usid", "9"},
                                                                          {"access_token", "t"}, {"uid", os::Value(uid)}})})
                  .st,
              200);
  }
  SharingService again;
  again.keepStateIn(path);
  EXPECT_EQ(again.uidForDevice("app", "dev"), uid);
  ASSERT_TRUE(again.account("app", uid, "sina"));
  EXPECT_EQ((*again.account("app", uid, "sina"))["usid"].stringOr(), "9");
  // A new device still gets a new user, not one of the kept numbers.
  EXPECT_NE(again.answer(ActionRequest{3, "GET", "app", {}, based({{"dc", "n"}, {"sharedudid", "other"}, {"opid", "1"}})})
                .data["uid"].stringOr(),
            uid);

  std::remove(path.c_str());
}

// A save killed while writing leaves its temporary file beside the state file: the service that
// keeps its state there again removes it and reads what was saved; other files' leftovers stay.
TEST(SharingServiceStateTest, KeepingTheStateRemovesWhatASaveCutShortLeft) {
  auto& files = os::FileManager::defaultManager();
  const std::string path = ::testing::TempDir() + "sharingd-cut-short-" + std::to_string(::getpid());
  files.removeItemAtPath(path);
  std::string uid;
  {
    SharingService service;
    service.keepStateIn(path);
    uid = service.answer(ActionRequest{3, "GET", "app", {}, based({{"dc", "n"}, {"sharedudid", "dev"}, {"opid", "1"}})})
              .data["uid"].stringOr();
  }
  const std::string cutShort = os::testing::plantCutShortWrite(path, 2);
  const std::string others = os::testing::plantCutShortWrite(path + "-other", 2);
  ASSERT_FALSE(cutShort.empty() || others.empty());

  SharingService again;
  ASSERT_TRUE(again.keepStateIn(path));
  EXPECT_FALSE(files.fileExistsAtPath(cutShort));
  EXPECT_TRUE(files.fileExistsAtPath(others));
  EXPECT_EQ(again.uidForDevice("app", "dev"), uid);
  files.removeItemAtPath(path);
  files.removeItemAtPath(others);
}

TEST(SharingFaultTest, FaultTextsParse) {
  EXPECT_EQ(parseFault("st:5027"), (Fault{Fault::Kind::Status, 5027}));
  EXPECT_EQ(parseFault("503"), (Fault{Fault::Kind::HttpError, 503}));
  EXPECT_EQ(parseFault("stall")->kind, Fault::Kind::Stall);
  EXPECT_EQ(parseFault("garbage")->kind, Fault::Kind::Garbage);
  EXPECT_EQ(parseFault("hold")->kind, Fault::Kind::Hold);
  EXPECT_FALSE(parseFault("200"));
  EXPECT_FALSE(parseFault("st:x"));
}

}  // namespace
}  // namespace sharingd

#include <httplib.h>

#include <algorithm>
#include <thread>
#include <vector>

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
  // Stopped before the request arrives, the server would never log it: wait until it is held.
  EXPECT_TRUE(server.waitForRequests(1, 60));
  auto seen = server.requests();
  server.stop();
  caller.join();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen.back().action, 3);
  EXPECT_EQ(seen.back().appKey, "app");
}

// Stalled or held requests past the server's workers: each is taken in and waits, and requests
// no fault targets are answered meanwhile.
TEST(SharingServerTest, StalledAndHeldRequestsNeverKeepOthersWaiting) {
  SharingServer server(ServerOptions{});
  auto port = server.start();
  ASSERT_TRUE(port);
  constexpr std::size_t kEach = os::TrackedHttpServer::kWorkers + 2;
  const std::string request = "GET /bar/get/app/?ud_get=x HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  std::vector<int> peers;
  httplib::Client client("127.0.0.1", *port);
  os::testing::patient(client);
  for (Fault::Kind kind : {Fault::Kind::Stall, Fault::Kind::Hold}) {
    server.setFault(3, Fault{kind, 0});
    for (std::size_t i = 0; i < kEach; ++i) {
      const int fd = os::testing::connectTo("127.0.0.1", *port);
      ASSERT_GE(fd, 0);
      peers.push_back(fd);
      ASSERT_EQ(::send(fd, request.data(), request.size(), MSG_NOSIGNAL), static_cast<ssize_t>(request.size()));
    }
    // Logged as each is taken in.
    ASSERT_TRUE(server.waitForRequests(peers.size(), 60)) << server.requests().size() << " of " << peers.size() << " taken in";
    auto other = client.Get("/nothing/here");
    ASSERT_TRUE(other);
    EXPECT_EQ(other->status, 404);
  }
  server.stop();
  for (int fd : peers) ::close(fd);
}

// A held request waits until held requests are let go, then gets the answer it would have had;
// one that arrives after the release is held again.
TEST(SharingServerTest, HoldAnswersOnceLetGo) {
  SharingServer server(ServerOptions{});
  auto port = server.start();
  ASSERT_TRUE(port);
  server.setFault(3, Fault{Fault::Kind::Hold, 0});
  auto ask = [&](int& status) {
    httplib::Client client("127.0.0.1", *port);
    client.set_read_timeout(60, 0);
    auto answer = client.Get("/bar/get/app/?ud_get=x");
    status = answer ? answer->status : -1;
  };
  int first = 0, second = 0;
  std::thread held(ask, std::ref(first));
  ASSERT_TRUE(server.waitForRequests(1, 60));
  server.releaseHeld();
  held.join();
  // The same answer as without the fault: a query that does not decipher, told so.
  EXPECT_EQ(first, 200);
  std::thread again(ask, std::ref(second));
  ASSERT_TRUE(server.waitForRequests(2, 60));
  server.stop();
  again.join();
  EXPECT_EQ(second, 503);
}

// Stopping answers every request a hold keeps waiting, each on its own connection, before the
// connections are shut: a client is told the service is going rather than left with a cut line.
TEST(SharingServerTest, StoppingAnswersEveryHeldRequestBeforeItEnds) {
  SharingServer server(ServerOptions{});
  auto port = server.start();
  ASSERT_TRUE(port);
  server.setFault(-1, Fault{Fault::Kind::Hold, 0});
  constexpr int kHeld = 8;
  std::vector<int> statuses(kHeld, 0);
  std::vector<std::thread> callers;
  for (int i = 0; i < kHeld; ++i)
    callers.emplace_back([&, i] {
      httplib::Client client("127.0.0.1", *port);
      client.set_read_timeout(60, 0);
      auto answer = client.Get("/bar/get/app/?ud_get=x");
      statuses[static_cast<std::size_t>(i)] = answer ? answer->status : -1;
    });
  ASSERT_TRUE(server.waitForRequests(kHeld, 60));
  server.stop();
  for (auto& caller : callers) caller.join();
  EXPECT_EQ(std::count(statuses.begin(), statuses.end(), 503), kHeld);
}

// Clients that come in a crowd while the service stops: the requests already waiting for a
// handler when the stop begins may still be read, and each one that is read is answered before
// its connection ends. None is read and then cut.
TEST(SharingServerTest, EveryRequestReadWhileStoppingIsAnsweredBeforeItsConnectionEnds) {
  ServerOptions options;
  options.faults[-1] = Fault{Fault::Kind::Hold, 0};
  const std::string request = "GET /bar/get/app/?ud_get=x HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
  // Each round is one crowd and one stop; the stop meets the crowd at another point each time.
  constexpr int kRounds = 30, kClients = 300;
  std::size_t read = 0, answered = 0;
  for (int round = 0; round < kRounds; ++round) {
    SharingServer server(options);
    auto port = server.start();
    ASSERT_TRUE(port);
    std::vector<int> clients;
    for (int i = 0; i < kClients; ++i) {
      const int fd = os::testing::connectTo("127.0.0.1", *port);
      if (fd >= 0) ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
      clients.push_back(fd);
    }
    // Every handler holds a request; the others wait, sent, for a handler to take them.
    ASSERT_TRUE(server.waitForRequests(8, 60));
    std::thread stopping([&] { server.stop(); });
    for (int fd : clients) {
      const std::string answer = os::testing::readToClose(fd);
      answered += answer.rfind("HTTP/1.1 ", 0) == 0;
      ::close(fd);
    }
    stopping.join();
    read += server.requests().size();
  }
  EXPECT_EQ(answered, read);
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
