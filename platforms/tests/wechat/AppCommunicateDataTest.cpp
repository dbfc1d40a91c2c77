// Records made from request objects and read back, with the limits of the format.
#include <gtest/gtest.h>

#include "os/core/String.h"
#include "os/graphics/Image.h"
#include "os/graphics/ImageCodec.h"
#include "os/views/Device.h"
#include "platforms/wechat/AppCommunicateData.h"

namespace {

os::Data pictureOfSize(std::size_t size) {
  os::Data png = *os::encodePNG(*os::Image::create(os::Bitmap(2, 2)));
  png.resize(size, 0);  // trailing bytes after the image's end are ignored by decoders
  return png;
}

std::shared_ptr<SendMessageToWXReq> share(std::shared_ptr<WXMediaMessage> message) {
  auto req = std::make_shared<SendMessageToWXReq>();
  req->setMessage(std::move(message));
  return req;
}

std::shared_ptr<WXMediaMessage> webpage(const std::string& url = "http://example.com/a") {
  auto page = WXWebpageObject::object();
  page->setWebpageUrl(url);
  auto message = WXMediaMessage::message();
  message->setMediaObject(page);
  return message;
}

bool sendable(const std::shared_ptr<BaseReq>& req) { return AppCommunicateData().reqToData(req); }

TEST(AppCommunicateDataTest, SendingLimits) {
  auto message = webpage();
  message->setTitle(std::string(512, 'a'));
  EXPECT_TRUE(sendable(share(message)));
  message->setTitle(std::string(513, 'a'));
  EXPECT_FALSE(sendable(share(message)));
  // Characters, not bytes.
  std::string cjk;
  for (int i = 0; i < 512; ++i) cjk += "军";
  message->setTitle(cjk);
  EXPECT_TRUE(sendable(share(message)));

  message = webpage();
  message->setThumbData(pictureOfSize(32768));
  EXPECT_TRUE(sendable(share(message)));
  message->setThumbData(pictureOfSize(32769));
  EXPECT_FALSE(sendable(share(message)));
  message->setThumbData(os::Data(10, 7));
  EXPECT_FALSE(sendable(share(message)));

  auto text = std::make_shared<SendMessageToWXReq>();
  text->setBText(true);
  text->setText("");
  EXPECT_FALSE(sendable(text));
  text->setText(std::string(10240, 'x'));
  EXPECT_TRUE(sendable(text));
  text->setText(std::string(10241, 'x'));
  EXPECT_FALSE(sendable(text));

  auto file = WXFileObject::object();
  file->setFileData(os::Data{1, 2, 3});
  file->setFileExtension(std::string(64, 'e'));
  message = WXMediaMessage::message();
  message->setMediaObject(file);
  EXPECT_TRUE(sendable(share(message)));
  file->setFileExtension(std::string(65, 'e'));
  EXPECT_FALSE(sendable(share(message)));

  auto music = WXMusicObject::object();
  music->setMusicDataUrl("http://example.com/m.mp3");
  message->setMediaObject(music);
  EXPECT_FALSE(sendable(share(message)));
  auto image = WXImageObject::object();
  image->setImageData(os::Data{1});
  message->setMediaObject(image);
  EXPECT_TRUE(sendable(share(message)));
  auto extend = WXAppExtendObject::object();
  extend->setExtInfo("x");
  message->setMediaObject(extend);
  EXPECT_TRUE(sendable(share(message)));
  message->setMediaObject(WXWebpageObject::object());
  EXPECT_FALSE(sendable(share(message)));
  message->setMediaObject(nullptr);
  EXPECT_FALSE(sendable(share(message)));
  EXPECT_FALSE(sendable(std::make_shared<PayReq>()));
}

TEST(AppCommunicateDataTest, RecordsWrittenAndReadBack) {
  auto text = std::make_shared<SendMessageToWXReq>();
  text->setBText(true);
  text->setText("hi");
  text->setScene(WXSceneTimeline);
  AppCommunicateData made;
  ASSERT_TRUE(made.reqToData(text));
  const os::Dictionary& d = *made.propertList();
  EXPECT_EQ(d["command"].stringOr(), "1020");
  EXPECT_EQ(d["title"].stringOr(), "hi");
  EXPECT_EQ(d["scene"].stringOr(), "1");
  EXPECT_EQ(d["result"].stringOr(), "1");
  EXPECT_EQ(AppCommunicateData(d).textMessage(), "hi");

  // Without "result" the result is 0, yet the answer is no success; a 2020 answer drops the
  // locale, a 2010 one keeps it.
  os::Dictionary answer{{"command", os::Value("2020")}, {"language", os::Value("en")}, {"country", os::Value("US")}};
  EXPECT_EQ(AppCommunicateData(answer).result(), 0);
  auto resp = std::dynamic_pointer_cast<SendMessageToWXResp>(AppCommunicateData(answer).dataToResp());
  ASSERT_TRUE(resp);
  EXPECT_EQ(resp->errCode(), WXErrCodeCommon);
  EXPECT_FALSE(resp->lang());
  answer.set("command", os::Value("2010"));
  resp = std::dynamic_pointer_cast<SendMessageToWXResp>(AppCommunicateData(answer).dataToResp());
  EXPECT_EQ(resp->lang(), "en");
  EXPECT_EQ(resp->country(), "US");

  // A media record that is a web page is no show-message request; an app-extend one is.
  os::DeviceProfile seven;
  seven.systemVersion = "7.0.4";
  os::DeviceProfileScope scope(seven);
  AppCommunicateData page;
  ASSERT_TRUE(page.reqToData(share(webpage())));
  EXPECT_FALSE(AppCommunicateData(*page.propertList()).dataToReq());
  auto extend = WXAppExtendObject::object();
  extend->setExtInfo("ext");
  extend->setFileData(os::Data{9, 9});
  auto message = WXMediaMessage::message();
  message->setMediaObject(extend);
  AppCommunicateData app;
  ASSERT_TRUE(app.reqToData(share(message)));
  EXPECT_EQ(*(*app.propertList())["fileData"].data(), (os::Data{9, 9}));
  AppCommunicateData read(*app.propertList());
  read.setFileData(os::Data{9, 9});
  auto show = std::dynamic_pointer_cast<ShowMessageFromWXReq>(read.dataToReq());
  ASSERT_TRUE(show);
  auto got = std::dynamic_pointer_cast<WXAppExtendObject>(show->message()->mediaObject());
  ASSERT_TRUE(got);
  EXPECT_EQ(got->extInfo(), "ext");
  EXPECT_EQ(got->fileData(), (os::Data{9, 9}));
}

TEST(AppCommunicateDataTest, ReadingChecksTypesButTakesWhatTheMessengerLeftWhole) {
  os::Dictionary hostile{{"command", os::Value("1010")},
                         {"objectType", os::Value("7")},
                         {"extInfo", os::Value(os::Dictionary{{"x", os::Value(1)}})},
                         {"title", os::Value(42)},
                         {"mediaUrl", os::Value("app://x")},
                         {"account", os::Value(os::Array{})}};
  AppCommunicateData record(hostile);
  EXPECT_FALSE(record.conversationAccount());
  auto message = record.mediaMessage();
  ASSERT_TRUE(message);
  EXPECT_FALSE(message->title());
  EXPECT_FALSE(std::dynamic_pointer_cast<WXAppExtendObject>(message->mediaObject())->extInfo());

  // The sending limits bind the sender only: a long title, a thumbnail that is no picture and an
  // oversized payload are read as they are.
  hostile.set("title", os::Value(std::string(513, 't')));
  hostile.set("thumbData", os::Value(os::Data{1, 2, 3}));
  AppCommunicateData big(hostile);
  big.setFileData(os::Data(WXRecordLimits::kFileData + 1));
  message = big.mediaMessage();
  ASSERT_TRUE(message);
  EXPECT_EQ(message->title(), std::string(513, 't'));
  EXPECT_EQ(message->thumbData(), (os::Data{1, 2, 3}));
  EXPECT_EQ(std::dynamic_pointer_cast<WXAppExtendObject>(message->mediaObject())->fileData()->size(),
            WXRecordLimits::kFileData + 1);
  // The messenger's own reader keeps the limits.
  EXPECT_FALSE(big.mediaInternalMessage());
  // An unknown object type is still refused.
  hostile.set("objectType", os::Value("9"));
  EXPECT_FALSE(AppCommunicateData(hostile).mediaMessage());

  // A launch record's message of any length is taken.
  os::Dictionary launch{{"command", os::Value("2040")},
                        {"messageExt", os::Value(std::string(3000, 'e'))},
                        {"messageAction", os::Value(std::string(3000, 'a'))}};
  auto launched = std::dynamic_pointer_cast<LaunchFromWXReq>(AppCommunicateData(launch).dataToReq());
  ASSERT_TRUE(launched && launched->message());
  EXPECT_EQ(launched->message()->messageExt(), std::string(3000, 'e'));
  EXPECT_EQ(launched->message()->messageAction(), std::string(3000, 'a'));
  launch.set("messageExt", os::Value(7));
  launched = std::dynamic_pointer_cast<LaunchFromWXReq>(AppCommunicateData(launch).dataToReq());
  ASSERT_TRUE(launched && launched->message());
  EXPECT_FALSE(launched->message()->messageExt());

  // No usable command: nothing is taken from the record.
  AppCommunicateData noCommand(os::Dictionary{{"command", os::Value(os::Data{1})}, {"title", os::Value("x")}});
  EXPECT_EQ(noCommand.command(), 0u);
  EXPECT_FALSE(noCommand.propertList());
}

// Fields that each travel under a key of their own, and the readings that must not drift.
TEST(AppCommunicateDataTest, FieldsKeepTheirOwnKeysBothWays) {
  std::string description;
  for (int i = 0; i < 1024; ++i) description += "闻";
  auto message = webpage();
  message->setDescription(description);
  EXPECT_TRUE(sendable(share(message)));
  message->setDescription(description + "闻");
  EXPECT_FALSE(sendable(share(message)));

  // The description comes back as the description, the title as the title.
  auto extend = WXAppExtendObject::object();
  extend->setExtInfo("x");
  message = WXMediaMessage::message();
  message->setTitle("标题");
  message->setDescription("摘要");
  message->setMediaObject(extend);
  AppCommunicateData made;
  ASSERT_TRUE(made.reqToData(share(message)));
  auto read = AppCommunicateData(*made.propertList()).mediaMessage();
  ASSERT_TRUE(read);
  EXPECT_EQ(read->title(), "标题");
  EXPECT_EQ(read->description(), "摘要");

  // Each of the four music links goes under its own key and comes back to its own field.
  auto music = WXMusicObject::object();
  music->setMusicUrl("http://m/url");
  music->setMusicLowBandUrl("http://m/low");
  music->setMusicDataUrl("http://m/data");
  music->setMusicLowBandDataUrl("http://m/lowdata");
  message->setMediaObject(music);
  AppCommunicateData song;
  ASSERT_TRUE(song.reqToData(share(message)));
  const os::Dictionary& record = *song.propertList();
  EXPECT_EQ(record["mediaUrl"].stringOr(), "http://m/url");
  EXPECT_EQ(record["mediaLowBandUrl"].stringOr(), "http://m/low");
  EXPECT_EQ(record["mediaDataUrl"].stringOr(), "http://m/data");
  EXPECT_EQ(record["mediaLowBandDataUrl"].stringOr(), "http://m/lowdata");
  auto back = AppCommunicateData(record).mediaMessage();
  ASSERT_TRUE(back);
  auto got = std::dynamic_pointer_cast<WXMusicObject>(back->mediaObject());
  ASSERT_TRUE(got);
  EXPECT_EQ(got->musicLowBandUrl(), "http://m/low");
  EXPECT_EQ(got->musicDataUrl(), "http://m/data");
  EXPECT_EQ(got->musicLowBandDataUrl(), "http://m/lowdata");

  // Only "returnFromApp" other than "1" reads as not returned; without it the record was.
  EXPECT_TRUE(AppCommunicateData(os::Dictionary{{"command", os::Value("2010")}}).returnFromApp());
  EXPECT_FALSE(AppCommunicateData(os::Dictionary{{"command", os::Value("2010")}, {"returnFromApp", os::Value("0")}})
                   .returnFromApp());

  // A login answer's code survives: a refusal is no success.
  for (const char* result : {"-4", "-2", "7"}) {
    auto auth = std::dynamic_pointer_cast<SendAuthResp>(
        AppCommunicateData(os::Dictionary{{"command", os::Value("2030")}, {"result", os::Value(result)}}).dataToResp());
    ASSERT_TRUE(auth) << result;
    EXPECT_EQ(auth->errCode(), os::intValue(result)) << result;
  }
}

TEST(AppCommunicateDataTest, ObjectsOwnTheirValues) {
  auto req = std::make_shared<SendMessageToWXReq>();
  EXPECT_FALSE(req->bText());
  EXPECT_EQ(req->scene(), 0);
  EXPECT_FALSE(req->message());
  EXPECT_EQ(BaseResp().errCode(), 0);

  auto message = WXMediaMessage::message();
  os::Data bytes{1, 2, 3};
  std::string ext = "extend";
  message->setThumbData(bytes);
  auto extend = WXAppExtendObject::object();
  extend->setExtInfo(ext);
  bytes[0] = 0;
  ext.clear();
  EXPECT_EQ(message->thumbData(), (os::Data{1, 2, 3}));
  EXPECT_EQ(extend->extInfo(), "extend");
  message->setThumbImage(nullptr);
  EXPECT_EQ(message->thumbData(), (os::Data{1, 2, 3}));
  message->setThumbImage(os::Image::create(os::Bitmap(3, 3)));
  EXPECT_EQ(os::sniffImageFormat(*message->thumbData()), os::ImageFormat::JPEG);
}

}  // namespace

#include "os/store/KeyedArchive.h"
#include "platforms/wechat/AppRegisterInfo.h"

namespace {

TEST(AppRegisterInfoTest, ArchivesReadBack) {
  auto info = std::make_shared<AppRegisterInfo>();
  info->setAppName("Reader");
  info->setAppID("wx1");
  info->setAppInstallUrl("http://example.com/app");
  info->setNextUpdateInfoTime(4000000000u);
  info->setIsNewApp(true);
  info->setRankWeight(9);
  auto data = os::KeyedArchiver::archivedData(os::ArchiveItem(info));
  ASSERT_TRUE(data);
  auto root = os::KeyedUnarchiver::unarchiveObject(*data, wechatArchiveClasses());
  ASSERT_TRUE(root);
  auto back = root->objectAs<AppRegisterInfo>();
  ASSERT_TRUE(back);
  EXPECT_EQ(back->appInstallUrl(), "http://example.com/app");
  EXPECT_EQ(back->nextUpdateInfoTime(), 4000000000u);
  EXPECT_TRUE(back->isNewApp());
  EXPECT_EQ(back->rankWeight(), 0u);  // not archived
  EXPECT_EQ(back->description(), "{ name:Reader appid:wx1}");

  auto item = std::make_shared<AppSettingItem>();
  item->setAppID("wx1");
  item->setFlag(3);
  auto itemBack = os::KeyedUnarchiver::unarchiveObject(*os::KeyedArchiver::archivedData(os::ArchiveItem(item)),
                                                       wechatArchiveClasses())
                      ->objectAs<AppSettingItem>();
  ASSERT_TRUE(itemBack);
  EXPECT_EQ(itemBack->appID(), "wx1");
  EXPECT_EQ(itemBack->flag(), 3u);
}

}  // namespace
