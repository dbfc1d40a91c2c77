// Shares handed to QQ and its answers: the URLs on the wire, the result codes, the preview task,
// the web share and the online-status query.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <tuple>

#include "foundation/formats/Base64.h"
#include "platforms/qq/QQApiLog.h"
#include "platforms/qq/QQApiTask.h"
#include "platforms/qq/QQApiURL.h"
#include "platforms/qq/QQPasteboard.h"
#include "platforms/qq/QQOpenApiUtility.h"
#include "platforms/qq/QQWebViewKit.h"
#include "QQTestSupport.h"
#include "os/core/String.h"
#include "os/graphics/Image.h"
#include "os/graphics/ImageCodec.h"
#include "os/store/FileManager.h"
#include "os/store/Pasteboard.h"
#include "os/store/Sandbox.h"
#include "os/runtime/Timer.h"
#include "os/testing/HttpTestServer.h"
#include "os/testing/LogCapture.h"
#include "os/testing/ScriptedWebPages.h"

namespace qqtest {
namespace {

using os::testing::CannedResponse;
using os::testing::HttpTestServer;

// The query of the last URL QQ was opened with (once it has had `count`), read as QQ reads it:
// split at "&" and at each pair's first "=", nothing unescaped.
os::Dictionary lastQuery(const os::TestPeerApplication& peer, std::size_t count = 0) {
  os::RunLoop::main()->runUntil([&] { return peer.openedURLs().size() >= std::max<std::size_t>(count, 1); }, 10);
  os::Dictionary out;
  if (peer.openedURLs().empty()) return out;
  const auto& url = peer.openedURLs().back().url;
  for (const auto& piece : os::split(url.query().value_or(""), "&")) {
    const auto eq = piece.find('=');
    if (piece.empty() || eq == std::string::npos) continue;
    out.set(piece.substr(0, eq), piece.substr(eq + 1));
  }
  return out;
}

// QQ's Base64 reading: every character outside the alphabet is skipped.
std::string unB64(const os::Value& v) { return QQOpenApiUtility::UTF8StringWithBase64String(v.stringOr()).value_or("<none>"); }

// The client's log lines so far.
std::string clientLog() {
  const std::string path = os::appendingPathComponent(os::Sandbox::current()->documentsDirectory(), kQQApiLogFileName);
  auto bytes = os::FileManager::defaultManager().contentsAtPath(path);
  return bytes ? os::stringFromData(*bytes) : std::string();
}

std::shared_ptr<QQBaseReq> shareReq(std::shared_ptr<QQApiObject> o) { return SendMessageToQQReq::reqWithContent(std::move(o)); }

TEST_F(QQClientTest, NewsShareRoundTripWithQQ) {
  installQQ();
  registerReader();
  QQApi::registerQQConnectOpenId("OPENID9");
  qq->setOpenURLHandler([](os::TestPeerApplication& peer, const os::TestPeerApplication::OpenedURL& opened) {
    // QQ reads the plugin record and answers the share as cancelled. Its Base64 stands bare in the
    // reply, "+" included: the reply's values are not unescaped.
    auto plugins = peer.pasteboardWithName(kQQPasteboardRegisterAppPlugin, false);
    if (!plugins || !plugins->dataForPasteboardType(kQQPasteboardRegisterAppPlugin)) return false;
    const std::string description = "55So5oi35Y+W5raI5LqG5YiG5Lqr";  // 用户取消了分享
    return peer.openURL(std::string(kPluginScheme) + "://response_from_qq?source=qq&error=-4&error_description=" + description);
  });
  // The title's Base64 holds "+", "/" and "=": 5q28LTIwL+i/kC0yMCvmlrDpl7s=
  auto news = QQApiNewsObject::objectWithURL("http://news.example/a?id=1&x=2", "歼-20/运-20+新闻", "摘要 a=b&c", os::Data{});
  news->previewImageData = std::nullopt;
  EXPECT_EQ(QQApiInterface::sendReq(shareReq(news)), 0);
  ASSERT_TRUE(run([&] { return !readerDelegate->opened.empty(); }));

  const auto& url = qq->openedURLs().back().url;
  EXPECT_EQ(url.scheme(), "mqqapi");
  EXPECT_EQ(url.host(), "share");
  EXPECT_EQ(url.path(), "/to_fri");
  const os::Dictionary q = lastQuery(*qq);
  EXPECT_EQ(q["file_type"], os::Value("news"));
  EXPECT_EQ(q["shareType"], os::Value("0"));
  EXPECT_EQ(q["callback_name"], os::Value(kPluginScheme));
  EXPECT_EQ(q["openId"], os::Value("OPENID9"));
  EXPECT_EQ(q["cflag"], os::Value("0"));
  // Base64 values stand bare in the URL: the query is escaped once as a whole.
  EXPECT_EQ(q["title"], os::Value("5q28LTIwL+i/kC0yMCvmlrDpl7s="));
  EXPECT_EQ(unB64(q["title"]), "歼-20/运-20+新闻");
  EXPECT_EQ(unB64(q["description"]), "摘要 a=b&c");
  EXPECT_EQ(unB64(q["url"]), "http://news.example/a?id=1&x=2");
  EXPECT_EQ(unB64(q["thirdAppDisplayName"]), "军事新闻");
  EXPECT_EQ(url.absoluteString().find('%'), std::string::npos) << url.absoluteString();

  Receiver receiver;
  ASSERT_TRUE(QQApiInterface::handleOpenURL(readerDelegate->opened.back(), &receiver));
  ASSERT_EQ(receiver.resps.size(), 1u);
  EXPECT_EQ(receiver.resps[0]->result, "-4");
  EXPECT_EQ(receiver.resps[0]->errorDescription, "用户取消了分享");
  EXPECT_EQ(receiver.resps[0]->type, 2);
}

TEST_F(QQClientTest, RepliesAreReadStrictly) {
  QQApi::registerQQConnectAppId(kAppId);
  Receiver receiver;
  EXPECT_FALSE(QQApiInterface::handleOpenURL("other://x?a=1", &receiver));
  EXPECT_FALSE(QQApiInterface::handleOpenURL(std::string(kPluginScheme) + "://response_from_qq?a", &receiver));
  // An answer naming no result is no success.
  ASSERT_TRUE(QQApiInterface::handleOpenURL(std::string(kPluginScheme) + "://response_from_qq?source=qq", &receiver));
  EXPECT_EQ(receiver.resps.back()->result, "-5");
  EXPECT_FALSE(receiver.resps.back()->errorDescription);
  // Values stand as QQ wrote them: "%2D" is no "-", and "%2B" no "+" inside Base64.
  ASSERT_TRUE(QQApiInterface::handleOpenURL(std::string(kPluginScheme) +
                                                "://response_from_qq?source=qq&error=%2D4&error_description=55So5oi35Y%2BW5raI5LqG5YiG5Lqr",
                                            &receiver));
  EXPECT_EQ(receiver.resps.back()->result, "%2D4");
  EXPECT_NE(receiver.resps.back()->errorDescription, "用户取消了分享");
  ASSERT_TRUE(QQApiInterface::handleOpenURL(std::string(kPluginScheme) + "://request_from_qq/pick?x=1", &receiver));
  ASSERT_EQ(receiver.reqs.size(), 1u);
  EXPECT_STREQ(receiver.reqs[0]->className(), "GetMessageFromQQReq");
  // A title whose Base64 ends in "=" arrives intact: a pair is split at its first "=" only.
  auto view = QQApiMessageUtil::messageWithURL(std::string(kPluginScheme) + "://request_from_qq/view?file_type=text&file_data=" +
                                               "5q2j5paH" + "&title=" + "dD8=");  // 正文, t?
  ASSERT_TRUE(view);
  auto* text = dynamic_cast<QQApiTextObject*>(view->object.get());
  ASSERT_TRUE(text);
  EXPECT_EQ(text->text, "正文");
  EXPECT_EQ(text->title, "t?");
  EXPECT_EQ(QQApiURLEncoder::urlWithScheme("mqqapi", "share", "/to_fri", os::Dictionary{{"src_type", "app"}}),
            "mqqapi://share/to_fri?src_type=app");
}

TEST_F(QQClientTest, ResultCodes) {
  Receiver receiver;
  auto text = QQApiTextObject::objectWithText("hello");
  auto image = QQApiImageObject::objectWithData(os::Data{1}, std::nullopt, "t", "d");
  auto extend = QQApiExtendObject::objectWithData(os::Data{1}, std::nullopt, "t", "d");
  EXPECT_EQ(QQApiInterface::sendReq(shareReq(text)), 1);  // no QQ
  installQQ({"mqq", "mqqapi", "mqqopensdkapiV2"});
  EXPECT_EQ(QQApiInterface::sendReq(shareReq(text)), 6);  // no plugin registered
  registerReader();
  EXPECT_EQ(QQApiInterface::SendReqToQZone(shareReq(text)), 10000);
  EXPECT_EQ(QQApiInterface::SendReqToQZone(shareReq(image)), 10001);
  EXPECT_EQ(QQApiInterface::SendReqToQZone(shareReq(extend)), 2);
  EXPECT_EQ(QQApiInterface::sendReq(GetMessageFromQQReq::req()), -1);
  EXPECT_EQ(QQApiInterface::sendResp(ShowMessageFromQQResp::respWithResult("0", "ok")), 5);

  const auto link = [](std::size_t titleLength, std::size_t urlLength) {
    std::string url = "http://e.example/";
    url += std::string(urlLength - url.size(), 'a');
    return QQApiURLObject::objectWithURL(url, std::string(titleLength, 'T'), "d", os::Data{}, 0);
  };
  EXPECT_EQ(QQApiInterface::sendReq(shareReq(link(129, 30))), 5);
  EXPECT_EQ(QQApiInterface::sendReq(shareReq(link(128, 1024))), 0);
  EXPECT_EQ(QQApiInterface::sendReq(shareReq(link(20, 1025))), 5);
  EXPECT_EQ(QQApiInterface::sendReq(shareReq(QQApiURLObject::objectWithURL("http://e.example/", "t", "d", os::Data{}, 7))), 0);
  EXPECT_EQ(lastQuery(*qq, 2)["file_type"], os::Value("unknown"));

  // A chat needs "mqqwpa": without it the store page opens and the answer is 2.
  EXPECT_EQ(QQApi::sendMessage(QQApiMessage::messageWithObject(QQApiWPAObject::objectWithUin("10001"))), 2);
  EXPECT_EQ(reader->openedURLs().back().absoluteString(), QQApi::getQQInstallURL());

  // Values that travel as they are go out unaltered; one holding "&" or "#", which would split or
  // cut the query, is refused and logged, never rewritten.
  installQQ({"mqq", "mqqapi", "mqqapiwallet", "mqqwpa"});
  auto pay = QQApiPayObject::objectWithOrderNo("o1=2/3", "info=1+2 中");
  EXPECT_EQ(QQApi::sendMessage(QQApiMessage::messageWithObject(pay)), 0);
  const os::Dictionary payQuery = lastQuery(*qq, 1);
  EXPECT_EQ(qq->openedURLs().back().url.scheme(), "mqqapiwallet");
  EXPECT_EQ(payQuery["order_no"], os::Value("o1=2/3"));
  EXPECT_EQ(payQuery["app_info"], os::Value("info=1+2%20%E4%B8%AD"));  // the whole-text escaping's own
  for (auto [orderNo, appInfo, key] : {std::tuple{"o1&app_info=evil", "info", "order_no"},
                                       std::tuple{"o1", "info#frag", "app_info"}}) {
    EXPECT_FALSE(QQApiMessageUtil::URLWithMessage(
        QQApiMessage::messageWithObject(QQApiPayObject::objectWithOrderNo(orderNo, appInfo))));
    EXPECT_NE(clientLog().find(std::string("param error: ") + key + " is invalid"), std::string::npos) << key;
  }
  EXPECT_FALSE(QQApiMessageUtil::URLWithMessage(QQApiMessage::messageWithObject(QQApiWPAObject::objectWithUin("1&2"))));
  EXPECT_NE(clientLog().find("param error: uin is invalid"), std::string::npos);
  QQApi::registerQQConnectOpenId("OPEN&ID");
  EXPECT_FALSE(QQApiMessageUtil::URLWithMessage(QQApiMessage::messageWithObject(text)));
  EXPECT_NE(clientLog().find("param error: openId is invalid"), std::string::npos);
}

// The text limit counts characters: exactly 1536 go out whole, one more is refused.
TEST_F(QQClientTest, TextAtItsLimitGoesOutWhole) {
  installQQ();
  registerReader();
  std::string text;
  for (int i = 0; i < 1536; ++i) text += "军";
  EXPECT_EQ(QQApiInterface::sendReq(shareReq(QQApiTextObject::objectWithText(text))), 0);
  const os::Dictionary q = lastQuery(*qq);
  EXPECT_EQ(q["file_type"], os::Value("text"));
  EXPECT_EQ(base64DecodedString(q["file_data"].stringOr()), text);
  EXPECT_EQ(QQApiInterface::sendReq(shareReq(QQApiTextObject::objectWithText(text + "军"))), 5);
}

// QQ asking to show content: a file is an extend object and a picture an image object, each with
// the bytes of the large-data record.
TEST_F(QQClientTest, ViewRequestsKeepFilesAndPicturesApart) {
  QQApi::registerQQConnectAppId(kAppId);
  const os::Data bytes{7, 8, 9};
  const os::Data preview{1, 2};
  auto view = [&](const std::string& type) {
    QQApiDatastore::instance().setApiLargeData(os::Dictionary{{"file_data", bytes}, {"previewimagedata", preview}});
    auto message = QQApiMessageUtil::messageWithURL(std::string(kPluginScheme) + "://request_from_qq/view?file_type=" + type +
                                                    "&title=5qCH6aKY");  // 标题
    return message ? message->object : nullptr;
  };
  auto file = view("file");
  ASSERT_TRUE(file);
  auto* extend = dynamic_cast<QQApiExtendObject*>(file.get());
  ASSERT_TRUE(extend);
  EXPECT_FALSE(dynamic_cast<QQApiImageObject*>(file.get()));
  EXPECT_EQ(extend->data, bytes);
  EXPECT_EQ(extend->previewImageData, preview);
  EXPECT_EQ(extend->title, "标题");
  for (const char* type : {"img", "image"}) {
    auto picture = view(type);
    auto* image = dynamic_cast<QQApiImageObject*>(picture.get());
    ASSERT_TRUE(image) << type;
    EXPECT_EQ(image->data, bytes) << type;
    EXPECT_EQ(image->previewImageData, preview) << type;
  }
}

TEST_F(QQClientTest, CommonContentLimitsAndQuietRefusals) {
  installQQ();
  registerReader();
  auto two = QQApiCommonContentObject::objectWithLayoutType(1, {"a", "b"}, {}, os::Data{1});
  EXPECT_FALSE(QQApiMessageUtil::URLWithMessage(QQApiMessage::messageWithObject(two)));
  auto one = QQApiCommonContentObject::objectWithLayoutType(1, {"a"}, {}, os::Data{1});
  ASSERT_TRUE(QQApiMessageUtil::URLWithMessage(QQApiMessage::messageWithObject(one)));
  auto record = QQApiDatastore::instance().getApiLargeData();
  ASSERT_TRUE(record);
  const os::Data* archived = (*record)["file_data"].data();
  ASSERT_TRUE(archived);
  auto back = QQApiCommonContentObject::objectWithDictionary(*os::KeyedUnarchiver::unarchiveValue(*archived)->dictionary());
  ASSERT_TRUE(back);
  EXPECT_EQ(back->textArray, std::vector<std::string>{"a"});
}

TEST_F(QQClientTest, SilentPreviewServerStillLetsTheShareGoOutOnce) {
  HttpTestServer server;
  CannedResponse silent = CannedResponse::text("never in time");
  silent.delay = 30;  // cut short when the server stops
  server.route("GET", "/slow.png", silent);
  installQQ();
  registerReader();
  auto first = QQApiNewsObject::objectWithURLAndPreviewImageURL("http://news.example/1", "one", "d", server.url("/slow.png"));
  auto second = QQApiNewsObject::objectWithURLAndPreviewImageURL("http://news.example/2", "two", "d", server.url("/slow.png"));
  EXPECT_EQ(QQApiInterface::sendReq(shareReq(first)), 7);
  EXPECT_EQ(QQApiInterface::sendReq(shareReq(second)), 7);
  ASSERT_TRUE(run([&] { return server.requestCount() == 1 && QQApiTask::waitingTaskCount() == 1; }));
  EXPECT_TRUE(qq->openedURLs().empty());

  os::Clock::advance(4.9);
  os::RunLoop::main()->runUntilIdle();
  EXPECT_TRUE(qq->openedURLs().empty());
  os::Clock::advance(0.2);
  // The first goes out without preview; the waiting second task then takes its turn.
  ASSERT_TRUE(run([&] { return qq->openedURLs().size() == 1 && server.requestCount() == 2; }));
  EXPECT_EQ(base64DecodedString(lastQuery(*qq)["title"].stringOr()), "one");
  os::Clock::advance(5.1);
  ASSERT_TRUE(run([&] { return qq->openedURLs().size() == 2; }));
  EXPECT_EQ(base64DecodedString(lastQuery(*qq)["title"].stringOr()), "two");
  os::RunLoop::main()->runUntilIdle();
  EXPECT_EQ(qq->openedURLs().size(), 2u);
  EXPECT_FALSE(QQApiTask::runningTask());
}

TEST_F(QQClientTest, PreviewThatIsNoImageIsLeftOut) {
  HttpTestServer server;
  server.route("GET", "/p.png", CannedResponse::text("not an image"));
  installQQ();
  registerReader();
  auto link = QQApiNewsObject::objectWithURLAndPreviewImageURL("http://news.example/1", "one", "d", server.url("/p.png"));
  EXPECT_EQ(QQApiInterface::sendReq(shareReq(link)), 7);
  ASSERT_TRUE(run([&] { return qq->openedURLs().size() == 1; }));
  EXPECT_FALSE(link->previewImageData);
}

// A preview picture larger than a message may carry is left out too: the share still reaches QQ,
// once, rather than being refused by the send nobody hears.
TEST_F(QQClientTest, PreviewTooLargeForTheMessageIsLeftOut) {
  os::Bitmap noise(640, 640);
  std::uint32_t seed = 12345;
  for (auto& byte : noise.pixels) {
    seed = seed * 1103515245u + 12345u;
    byte = static_cast<std::uint8_t>(seed >> 16);
  }
  auto png = os::encodePNG(*os::Image::create(std::move(noise)));
  ASSERT_TRUE(png);
  ASSERT_GT(png->size(), kQQApiPreviewImageMax);
  HttpTestServer server;
  CannedResponse picture;
  picture.body.assign(png->begin(), png->end());
  picture.contentType = "image/png";
  server.route("GET", "/big.png", picture);
  installQQ();
  registerReader();
  auto link =
      QQApiNewsObject::objectWithURLAndPreviewImageURL("http://news.example/1", "one", "d", server.url("/big.png"));
  EXPECT_EQ(QQApiInterface::sendReq(shareReq(link)), 7);
  ASSERT_TRUE(run([&] { return qq->openedURLs().size() == 1; }));
  EXPECT_EQ(base64DecodedString(lastQuery(*qq)["title"].stringOr()), "one");
  EXPECT_FALSE(link->previewImageData);
  os::RunLoop::main()->runUntilIdle();
  EXPECT_EQ(qq->openedURLs().size(), 1u);
  EXPECT_FALSE(QQApiTask::runningTask());
}

// A share that answered "goes out later" is sent once its picture's fetch ends: the one waiting
// hears that send's result, once, a refusal included (here an open id registered meanwhile that
// no share URL can carry); a share withdrawn meanwhile is not sent and nobody hears of it.
TEST_F(QQClientTest, TheSendMadeAfterThePreviewFetchIsHeardOrWithdrawn) {
  HttpTestServer server;
  server.route("GET", "/p.png", CannedResponse::text("not an image"));
  installQQ();
  registerReader();
  std::vector<std::int32_t> heard;
  auto share = [&](const std::string& title) {
    auto req = SendMessageToQQReq::reqWithContent(
        QQApiNewsObject::objectWithURLAndPreviewImageURL("http://news.example/1", title, "d", server.url("/p.png")));
    req->laterSend = std::make_shared<QQApiLaterSend>();
    req->laterSend->done = [&](std::int32_t code) { heard.push_back(code); };
    EXPECT_EQ(QQApiInterface::sendReq(req), 7);
    return req->laterSend;
  };
  QQApi::registerQQConnectOpenId("open&id");
  share("refused");
  ASSERT_TRUE(run([&] { return !heard.empty(); }));
  EXPECT_EQ(heard, std::vector<std::int32_t>{5});
  EXPECT_TRUE(qq->openedURLs().empty());

  QQApi::registerQQConnectOpenId(std::nullopt);
  share("opened");
  ASSERT_TRUE(run([&] { return heard.size() == 2; }));
  EXPECT_EQ(heard, (std::vector<std::int32_t>{5, 0}));
  ASSERT_TRUE(run([&] { return qq->openedURLs().size() == 1; }));

  share("withdrawn")->withdrawn = true;
  ASSERT_TRUE(run([&] { return server.requestCount() == 3 && !QQApiTask::runningTask(); }));
  os::RunLoop::main()->runUntilIdle();
  EXPECT_EQ(qq->openedURLs().size(), 1u);
  EXPECT_EQ(heard.size(), 2u);
}

TEST_F(QQClientTest, UploadedPreviewTravelsAsItsAddress) {
  HttpTestServer server;
  server.route("POST", "/upload", CannedResponse::text(R"({"result":{"url":"http://img.example/p.jpg"}})"));
  QQApiDatastore::instance().endpoints.shareImageUpload = server.url("/upload");
  installQQ();
  registerReader();
  auto png = os::encodePNG(*os::Image::create(os::Bitmap(300, 200)));
  ASSERT_TRUE(png);
  auto link = QQApiNewsObject::objectWithURL("http://news.example/1", "one", "d", *png);
  QQApiTaskUploadURLObjectPreviewData::initWithURLMessage(QQApiMessage::messageWithObject(link))->postOnMainThread();
  ASSERT_TRUE(run([&] { return qq->openedURLs().size() == 1; }));
  EXPECT_EQ(base64DecodedString(lastQuery(*qq)["previewimageUrl"].stringOr()), "http://img.example/p.jpg");
  const auto upload = server.requests().back();
  const auto* part = upload.part("share_image");
  ASSERT_TRUE(part);
  auto sent = os::decodeImage(os::dataFromString(part->content));
  ASSERT_TRUE(sent);
  EXPECT_EQ(sent->size().width, 140);
  EXPECT_EQ(sent->size().height, 140);

  auto small = os::Image::create(os::Bitmap(100, 50));
  EXPECT_EQ(UIImageScaleSizeToFill(small, 140, 140), small);
  EXPECT_FALSE(UIImageScaleSizeToFill(small, -1, 140));
}

TEST_F(QQClientTest, WebShare) {
  installQQ({});  // no QQ schemes at all: links go to the web share
  qq.reset();
  auto message = QQApiMessage::messageWithObject(
      QQApiURLObject::objectWithURL("http://news.example/1", std::string(41, 'x'), "d", os::Data{}, 0));
  EXPECT_EQ(QQApi::sendMessage(message), -1);  // no app id
  registerReader();
  os::Dictionary param;
  ASSERT_EQ(QQWebViewKit::setShareParam(*message, param), 0);
  EXPECT_EQ(param["title"], os::Value(std::string(39, 'x')));
  message->object->title = std::string(40, 'y');
  ASSERT_EQ(QQWebViewKit::setShareParam(*message, param), 0);
  EXPECT_EQ(param["title"], os::Value(std::string(40, 'y')));
  // A summary of 201 characters or more is cut to its first 199; 200 go whole.
  for (auto [length, kept] : {std::pair{200, 200}, std::pair{201, 199}}) {
    std::string summary;
    for (int i = 0; i < length; ++i) summary += "述";
    message->object->description = summary;
    ASSERT_EQ(QQWebViewKit::setShareParam(*message, param), 0);
    EXPECT_EQ(os::utf16Length(param["summary"].stringOr()), static_cast<std::size_t>(kept)) << length;
  }
  EXPECT_EQ(QQApi::sendMessage(message), 0);  // the page opens in the system browser
  const std::string page = reader->openedURLs().back().absoluteString();
  EXPECT_TRUE(os::hasPrefix(page, QQApiDatastore::instance().endpoints.shareCheckBase + "/api/check?")) << page;

  // With the QQ browser on the device, the page goes to it after "url=", as it stands.
  auto browser = sandbox.launchPeerApplication("com.velmora.mqqbrowser", {"mqqbrowser"});
  EXPECT_EQ(QQApi::sendMessage(message), 0);
  ASSERT_TRUE(run([&] { return !browser->openedURLs().empty(); }));
  EXPECT_EQ(browser->openedURLs().back().url.absoluteString(), "mqqbrowser://url=" + page);

  Receiver receiver;
  const std::string back = "velmora" + std::string(kAppId) + "://" + QQApiDatastore::instance().endpoints.webAuthorisationHost +
                           "/?#action=shareToQQ&result=";
  ASSERT_TRUE(QQApiInterface::handleOpenURL(back + "cancel", &receiver));
  EXPECT_EQ(receiver.resps.back()->result, "-4");
  ASSERT_TRUE(QQApiInterface::handleOpenURL(back + "odd", &receiver));
  EXPECT_EQ(receiver.resps.back()->result, "-5");
  EXPECT_EQ(receiver.resps.back()->errorDescription, "unknown error");
  ASSERT_TRUE(QQApiInterface::handleOpenURL(back + "complete&response=" + os::percentEscape("{\"ret\":0,\"msg\":\"ok\"}"), &receiver));
  EXPECT_EQ(receiver.resps.back()->result, "0");
  // The page's own failure passes its code and text on; a completion whose answer is unreadable,
  // absent or names no code is no success.
  ASSERT_TRUE(QQApiInterface::handleOpenURL(
      back + "complete&response=" + os::percentEscape("{\"ret\":100030,\"msg\":\"no\"}"), &receiver));
  EXPECT_EQ(receiver.resps.back()->result, "100030");
  EXPECT_EQ(receiver.resps.back()->errorDescription, "no");
  for (const std::string& response :
       {std::string("&response=not%20json"), std::string(), std::string("&response=%7B%7D")}) {
    ASSERT_TRUE(QQApiInterface::handleOpenURL(back + "complete" + response, &receiver)) << response;
    EXPECT_EQ(receiver.resps.back()->result, "-5") << response;
  }
  // The QZone page answers under its own action; any other action is no answer of a share.
  const std::string answerBase = back.substr(0, back.find("action="));
  const std::string qzone = answerBase + "action=share&result=cancel";
  ASSERT_TRUE(QQApiInterface::handleOpenURL(qzone, &receiver));
  EXPECT_EQ(receiver.resps.back()->result, "-4");
  const std::size_t answers = receiver.resps.size();
  EXPECT_FALSE(QQApiInterface::handleOpenURL(answerBase + "action=login&result=complete", &receiver));
  EXPECT_EQ(receiver.resps.size(), answers);
}

TEST_F(QQClientTest, SharePageInTheWebKitClosesOnItsAnswer) {
  registerReader();
  const auto owner = QQWebViewKit::instance();
  EXPECT_EQ(QQWebViewKit::instance(), owner);  // one for the process
  auto pages = os::testing::ScriptedWebPages::install();
  const std::string host = QQApiDatastore::instance().endpoints.webAuthorisationHost;
  const std::string page = "https://share.velmora.example/index";
  const std::string answer = "velmora" + std::string(kAppId) + "://" + host + "/?#action=shareToQQ&result=complete";
  pages->route(page, os::testing::ScriptedPage::page("", {os::testing::ScriptedPage::go(answer)}));
  auto kit = std::make_shared<TCWebViewKit>();
  kit->setRequestUrl(page);
  kit->setDelegate(owner);
  owner->setWebViewKit(kit);
  bool fired = false;
  owner->setTimer(os::Timer::scheduled(30, false, [&](os::Timer&) { fired = true; }));

  owner->openWebKit();
  EXPECT_FALSE(owner->timer());
  EXPECT_TRUE(kit->window());
  for (int i = 0; i < 5 && kit->window(); ++i) {
    os::Clock::advance(0.5);
    os::RunLoop::main()->runUntilIdle();
  }
  EXPECT_FALSE(kit->window());  // the answer closed it
  EXPECT_FALSE(fired);
  // Anything else just loads.
  EXPECT_TRUE(owner->webViewKitShouldStartLoadWithRequest(*kit, os::URLRequest("https://" + host + "/?#action=share"),
                                                          os::WebViewNavigationType::Other));
  owner->setWebViewKit(nullptr);
}

// Limits and fixed texts of the QQ protocol, each pinned at its boundary.
TEST_F(QQClientTest, PinnedLimitsAndTexts) {
  installQQ({"mqq", "mqqapi", "mqqopensdkapiV2"});
  registerReader();
  std::string chinese512, chinese1536;
  for (int i = 0; i < 512; ++i) chinese512 += "述";
  for (int i = 0; i < 1536; ++i) chinese1536 += "字";
  // Descriptions count characters: 512 go, 513 do not.
  auto described = [&](const std::string& description) {
    return QQApiMessageUtil::URLWithMessage(QQApiMessage::messageWithObject(
        QQApiURLObject::objectWithURL("http://news.example/1", "t", description, os::Data{}, 0)));
  };
  EXPECT_TRUE(described(chinese512));
  EXPECT_FALSE(described(chinese512 + "x"));
  // Texts likewise: 1536 go, 1537 do not.
  auto texted = [&](const std::string& text) {
    return QQApiMessageUtil::URLWithMessage(QQApiMessage::messageWithObject(QQApiTextObject::objectWithText(text)));
  };
  EXPECT_TRUE(texted(chinese1536));
  EXPECT_FALSE(texted(chinese1536 + "x"));

  // The web share's cancel answer says so in the protocol's own words.
  const std::string back = "velmora" + std::string(kAppId) + "://" + QQApiDatastore::instance().endpoints.webAuthorisationHost +
                           "/?#action=shareToQQ&result=cancel";
  auto cancelled = QQWebViewKit::messageWithSafariUrl(back);
  ASSERT_TRUE(cancelled);
  auto result = std::dynamic_pointer_cast<QQApiResultObject>(cancelled->object);
  ASSERT_TRUE(result);
  EXPECT_EQ(result->error, "-4");
  EXPECT_EQ(result->errorDescription, "the user give up the current operation");

  // Uploads through the QQ Connect request carry its fixed boundary.
  HttpTestServer server;
  server.route("POST", "/upload", CannedResponse::text(R"({"result":{}})"));
  QQApiDatastore::instance().endpoints.shareImageUpload = server.url("/upload");
  auto png = os::encodePNG(*os::Image::create(os::Bitmap(30, 20)));
  auto link = QQApiNewsObject::objectWithURL("http://news.example/1", "one", "d", *png);
  QQApiTaskUploadURLObjectPreviewData::initWithURLMessage(QQApiMessage::messageWithObject(link))->postOnMainThread();
  ASSERT_TRUE(run([&] { return server.requestCount() == 1; }));
  const auto upload = server.requests().back();
  EXPECT_EQ(upload.headers.value("Content-Type"), "multipart/form-data; boundary=od2ER5ioefd682HE14eh2n82n9M7rEu2nH85XQY1");
  // Framed by it, the one part reads back whole: the file under the default name, as JPEG.
  const auto* part = upload.part("share_image");
  ASSERT_TRUE(part);
  EXPECT_EQ(part->filename, "picture");
  EXPECT_EQ(part->contentType, "image/jpeg");
  run([&] { return qq->openedURLs().size() == 1; });
}

TEST_F(QQClientTest, OnlineStatus) {
  HttpTestServer server;
  server.route("GET", "/getonline", CannedResponse::text("xxxxxxxxxx1;xxxxxxxxxx0;short;xxxxxxxxxx1;end"));
  QQApiDatastore::instance().endpoints.onlineStatusBase = server.url("/");
  auto receiver = std::make_shared<Receiver>();
  QQApi::getQQUinOnlineStatues({"10001", "10002", "10003"}, receiver);
  ASSERT_TRUE(run([&] { return !receiver->online.empty(); }));
  EXPECT_EQ(receiver->online[0], (os::Dictionary{{"10001", "YES"}, {"10002", "NO"}}));
  EXPECT_EQ(server.requests().back().query, "Type=1&10001:10002:10003:");

  QQApiDatastore::instance().endpoints.onlineStatusBase =
      "http://127.0.0.1:" + std::to_string(HttpTestServer::refusedPort()) + "/";
  QQApi::getQQUinOnlineStatues({"10001"}, receiver);
  ASSERT_TRUE(run([&] { return receiver->online.size() == 2; }));
  EXPECT_TRUE(receiver->online[1].empty());
  EXPECT_TRUE(QQOpenApiUtility::dictionaryWithReturnString("no separators", {"1"}).empty());
}

// What a status server may answer costs the reader no more than the reply bound: an answer past it
// is stopped near the bound and the query fails (nobody known online) instead of being taken and
// logged whole; one within it is read, while its log line keeps only its start.
TEST_F(QQClientTest, OnlineStatusAnswersAreBoundedAndLoggedInPart) {
  std::string many;
  while (many.size() < (std::size_t{2} << 20)) many += "xxxxxxxxxx1;";
  HttpTestServer server;
  server.route("GET", "/getonline", CannedResponse::text(many));
  HttpTestServer flood;
  constexpr std::uint64_t kTotal = std::uint64_t{256} << 20;
  std::atomic<std::uint64_t> made{0};
  flood.route("GET", "/getonline", CannedResponse::generated(kTotal, true, 64 * 1024, '1', [&](std::uint64_t m) { made = m; }));
  os::testing::LogCapture log;
  auto receiver = std::make_shared<Receiver>();

  QQApiDatastore::instance().endpoints.onlineStatusBase = server.url("/");
  QQApi::getQQUinOnlineStatues({"10001", "10002"}, receiver);
  ASSERT_TRUE(run([&] { return !receiver->online.empty(); }));
  EXPECT_EQ(receiver->online[0], (os::Dictionary{{"10001", "YES"}, {"10002", "YES"}}));

  QQApiDatastore::instance().endpoints.onlineStatusBase = flood.url("/");
  QQApi::getQQUinOnlineStatues({"10001"}, receiver);
  ASSERT_TRUE(os::RunLoop::main()->runUntil([&] { return receiver->online.size() == 2; }, 60));
  EXPECT_TRUE(receiver->online[1].empty());
  EXPECT_LT(made.load(), os::URLRequest::kDefaultMaximumReplyLength + (std::uint64_t{64} << 20)) << "the transfer went on";

  const auto lines = log.lines();
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("resultStr:xxxxxxxxxx1;", 0) == 0; }), 1);
  for (const auto& line : lines) EXPECT_LE(line.size(), os::kLogLineLimit) << line.substr(0, 80);
}

}  // namespace
}  // namespace qqtest
