// The app-to-app records and their road between the reader and the QQ and QZone applications.
#include <gtest/gtest.h>

#include "QQConnectTestSupport.h"
#include "qqconnect/apptoapp/VelmoraApiInterface.h"
#include "os/crypto/Digest.h"
#include "os/graphics/Image.h"
#include "os/graphics/ImageCodec.h"
#include "os/store/KeyedArchive.h"
#include "os/store/Pasteboard.h"

namespace qctest {
namespace {

os::Data png() {
  return *os::encodePNG(*os::Image::create(os::Bitmap(2, 2)));
}

// A QZone subclass this program does not know; it decodes as the nearest known ancestor.
struct QZoneTextV2 : VelmoraTextMessageObjV1 {
  using VelmoraTextMessageObjV1::VelmoraTextMessageObjV1;
  std::vector<std::string> archiveClassNames() const override {
    return {"QZoneTextV2", "VelmoraTextMessageObjV1", "VelmoraBaseMessageObj", os::kArchiveRootClass};
  }
};
struct Hostile : os::Archivable {
  std::vector<std::string> archiveClassNames() const override { return {"HostilePayload", "NSObjectLike"}; }
  void encodeWithCoder(os::KeyedArchiver& c) const override { c.encodeInt(1, "x"); }
};

std::shared_ptr<VelmoraApiReq> decodedRequest(const PeerReq& peer) {
  auto data = os::KeyedArchiver::archivedData(std::make_shared<PeerReq>(peer), "object");
  return std::dynamic_pointer_cast<VelmoraApiReq>(VelmoraMessageParse::unarchive(*data));
}

const std::string kRequestURL = std::string(kAppToAppScheme) + "://kVelmraReqContent/kVelmoraReqContent";

TEST(VelmoraApiRecords, ChecksApplyEachClassRuleAndImageOrVideoKeepsTheLastSet) {
  auto text = VelmoraTextMessageObjV1::initWithText("你好");
  EXPECT_EQ(text->nVersion(), 0);
  EXPECT_EQ(text->sText(), "你好");
  auto byUrl = VelmoraImageMessageObjV1::initWithImageUrl("http://x/a.png");
  EXPECT_EQ(byUrl->nVersion(), 1);
  EXPECT_EQ(byUrl->nType(), 0);
  EXPECT_FALSE(VelmoraImageMessageObjV1::initWithType(1)->isVaild());  // no address
  auto typed = VelmoraImageMessageObjV1::initWithType(2);
  typed->setDataImage(os::Data{1, 2, 3});
  EXPECT_FALSE(typed->isVaild());
  EXPECT_TRUE(VelmoraImageMessageObjV1::initWithImageData(os::Data{1, 2, 3})->isVaild());
  auto big = VelmoraImageMessageObjV1::initWithImageData(os::Data(kVelmoraApiImageMax, 'x'));
  EXPECT_TRUE(big->isVaild());
  big->setDataImage(os::Data(kVelmoraApiImageMax + 1, 'x'));
  EXPECT_FALSE(big->isVaild());
  text->setSName(std::string(kVelmoraApiFieldMax, 'n'));
  EXPECT_TRUE(text->isVaild());
  text->setSName(std::string(kVelmoraApiFieldMax + 1, 'n'));
  EXPECT_FALSE(text->isVaild());

  auto both = VelmoraImageAndVideoMessageObjV1::initWithMessage(os::Data{9}, "http://v/1.mp4");
  EXPECT_EQ(both->objVideoMessage()->sUrl(), "http://v/1.mp4");  // not a picture: the address stays
  both->setDataImage(png());
  EXPECT_FALSE(both->objVideoMessage()->sUrl());
  both->setVideoUrl("http://v/2.mp4");
  EXPECT_FALSE(both->objImageMessage()->dataImage());
  EXPECT_EQ(both->nVersion(), 4);

  EXPECT_THROW(VelmoraApiResp::respFromReq(text), os::Exception);
}

TEST(VelmoraApiRecords, PinnedSizesAndPartsAtTheirEdges) {
  // An image record's size travels as two numbers, width first, and comes back the same way round.
  auto image = VelmoraImageMessageObjV1::initWithImageData(png());
  image->setSzImage(640, 480);
  auto archived = os::KeyedArchiver::archivedData(image, "object");
  ASSERT_TRUE(archived);
  auto back = os::KeyedUnarchiver::unarchiveObject(*archived, VelmoraApiArchiveClasses(), "object")
                  ->objectAs<VelmoraImageMessageObjV1>();
  ASSERT_TRUE(back);
  EXPECT_EQ(back->imageWidth(), 640);
  EXPECT_EQ(back->imageHeight(), 480);

  // A video part without an address leaves the picture where it is; one with an address takes its place.
  auto both = VelmoraImageAndVideoMessageObjV1::initWithMessage(png(), std::nullopt);
  both->setVideoUrl("");
  EXPECT_TRUE(both->objImageMessage()->dataImage());
  both->setObjVideoMessage(VelmoraVideoMessageV1::initWithVideoUrl(std::nullopt, 0));
  EXPECT_TRUE(both->objImageMessage()->dataImage());
  both->setObjVideoMessage(VelmoraVideoMessageV1::initWithVideoUrl("http://v/3.mp4", 0));
  EXPECT_FALSE(both->objImageMessage()->dataImage());

  // An audio record's preview picture may hold 1,048,576 bytes, not one more.
  auto audio = VelmoraAudioMessageObjV1::initWithAudioUrl("http://a/1.mp3");
  audio->setDataImagePreview(os::Data(kVelmoraApiFieldMax, 'p'));
  EXPECT_TRUE(audio->isVaild());
  audio->setDataImagePreview(os::Data(kVelmoraApiFieldMax + 1, 'p'));
  EXPECT_FALSE(audio->isVaild());
}

TEST(VelmoraApiRecords, ResponseRoundTripsWithItsRequestAndUnknownClassesDecodeAsKnownAncestors) {
  PeerReq peer;
  peer.messages = {std::make_shared<QZoneTextV2>("hi")};
  auto req = decodedRequest(peer);
  ASSERT_TRUE(req);
  ASSERT_EQ(req->arrMessage().size(), 1u);
  EXPECT_EQ(std::dynamic_pointer_cast<VelmoraTextMessageObjV1>(req->arrMessage()[0])->sText(), "hi");

  auto resp = VelmoraApiResp::respFromReq(req);
  resp->setNRetCode(-1);
  auto data = VelmoraMessagePack::dataWithVelmoraReqMessage(resp);
  auto back = os::KeyedUnarchiver::unarchiveObject(*data, VelmoraApiArchiveClasses(), "object")->objectAs<VelmoraApiResp>();
  ASSERT_TRUE(back && back->objReq());
  EXPECT_EQ(back->nRetCode(), -1);
  const auto& r = *back->objReq();
  EXPECT_EQ(std::tuple(r.nMessageType(), r.nPlatform(), r.nSdkVersion(), r.nSeq()), std::tuple(5, 1, 2, 77));
  EXPECT_EQ(r.sAppID(), "222222");
  EXPECT_EQ(r.sDescription(), "from qzone");
  EXPECT_EQ(r.arrMessage().size(), 1u);
}

TEST(VelmoraApiTransport, DecoderKeepsTheQueryRawAndDropsTheLeadingSlash) {
  auto d = VelmoraUrlDecoder::decoderWithUrl("a://h/p/q?k=&bare&x=1&x=2&e=%20");
  ASSERT_TRUE(d);
  EXPECT_EQ(d->path, "p/q");
  EXPECT_EQ(d->queryItem, (os::Dictionary{{"k", ""}, {"x", "2"}, {"e", "%20"}}));
  EXPECT_FALSE(VelmoraUrlDecoder::decoderWithUrl("a://h/")->path);
  EXPECT_EQ(VelmoraApiUtil::GetURLWithParam("b", os::Dictionary{{"k", "a b&c"}}), "b?k=a%20b%26c");
}

TEST_F(QQConnectTest, RequestFromQZoneIsReadOnceFromADeclaredSchemeOnly) {
  auto qzone = installQZone({"mqzone", "velmoraapi.qzone.reqContent"});
  const std::string type = os::md5Hex(std::string("com.example.newsreader"));
  auto put = [&](const os::ArchiveItem& root) {
    qzone->generalPasteboard()->setData(os::KeyedArchiver::archivedData(root, "object"), type);
  };
  const std::string url = kRequestURL + "?kPastboardName=general&kPastboardType=" + type;
  Recorder delegate;

  put(std::make_shared<PeerReq>());
  EXPECT_FALSE(VelmoraApiInterface::handleOpenURL("other://kVelmraReqContent/kVelmoraReqContent?kPastboardType=" + type, &delegate));
  EXPECT_FALSE(VelmoraApiInterface::handleOpenURL(std::string(kAppToAppScheme) + "://kVelmoraReqContent/kVelmoraReqContent?kPastboardType=" + type, &delegate));
  EXPECT_TRUE(VelmoraApiInterface::handleOpenURL(url, &delegate));
  ASSERT_EQ(delegate.requests.size(), 1u);
  EXPECT_FALSE(VelmoraApiInterface::handleOpenURL(url, &delegate));  // the item is gone
  EXPECT_EQ(delegate.requests.size(), 1u);

  // Only the record classes are ever made from an archive another application left.
  put(std::make_shared<Hostile>());
  EXPECT_FALSE(VelmoraApiInterface::handleOpenURL(url, &delegate));
  qzone->generalPasteboard()->setData(os::Data(VelmoraMessageParse::kMaxArchiveSize + 1, 'x'), type);
  EXPECT_FALSE(VelmoraApiInterface::handleOpenURL(url, &delegate));

  // A refused request is answered to QZone with -1.
  delegate.takeRequests = false;
  put(std::make_shared<PeerReq>());
  EXPECT_TRUE(VelmoraApiInterface::handleOpenURL(url, &delegate));
  ASSERT_TRUE(run([&] { return !qzone->openedURLs().empty(); }));
  const os::URL& sent = qzone->openedURLs()[0].url;
  EXPECT_EQ(sent.host(), "kVelmraReqContent");
  EXPECT_EQ(sent.path(), "/kVelmoraRespContent");
  EXPECT_EQ(sent.query(), "kPastboardName=" + std::string(os::kGeneralPasteboardName) + "&kPastboardType=" + type);
  auto answer = os::KeyedUnarchiver::unarchiveObject(*qzone->generalPasteboard()->dataForPasteboardType(type),
                                                     VelmoraApiArchiveClasses(), "object");
  EXPECT_EQ(answer->objectAs<VelmoraApiResp>()->nRetCode(), -1);
}

// Each application is known by its own scheme: QQ alone is no QZone, and QZone alone no QQ.
TEST_F(QQConnectTest, InstallChecksAskForEachApplicationsOwnScheme) {
  auto qq = installQQ({"mqq"});
  EXPECT_TRUE(VelmoraApiInterface::isVelmoraAppInstall(kVelmoraApiPlatformQQ));
  EXPECT_FALSE(VelmoraApiInterface::isVelmoraAppInstall(kVelmoraApiPlatformQZone));
  EXPECT_FALSE(VelmoraApiInterface::installIphoneQZone());
  auto qzone = installQZone({"mqzone"});
  EXPECT_TRUE(VelmoraApiInterface::isVelmoraAppInstall(kVelmoraApiPlatformQZone));
  EXPECT_TRUE(VelmoraApiInterface::installIphoneQZone());
  EXPECT_FALSE(VelmoraApiInterface::isVelmoraAppSupportVelmoraApi(kVelmoraApiPlatformQZone));
}

TEST_F(QQConnectTest, ResponsesGoOnlyToQZoneWithinTheSizeAndMessageChecks) {
  auto fromQQ = VelmoraApiResp::respFromReq(decodedRequest(PeerReq(0)));
  EXPECT_EQ(VelmoraApiInterface::sendRespMessageToVelmoraApp(nullptr), -1);
  EXPECT_EQ(VelmoraApiInterface::sendRespMessageToVelmoraApp(fromQQ), kVelmoraApiSendNotForQZone);
  auto resp = VelmoraApiResp::respFromReq(decodedRequest(PeerReq{}));
  EXPECT_EQ(VelmoraApiInterface::sendRespMessageToVelmoraApp(resp), 1);
  auto qzone = installQZone({"mqzone"});
  EXPECT_EQ(VelmoraApiInterface::sendRespMessageToVelmoraApp(resp), 2);
  qzone->registerURLSchemes({"velmoraapi.qzone.reqContent"});

  // A subclass's own limit counts, not only the base rule.
  PeerReq longText;
  longText.messages = {std::make_shared<VelmoraTextMessageObjV1>(std::string(kVelmoraApiFieldMax + 1, 't'))};
  EXPECT_EQ(VelmoraApiInterface::sendRespMessageToVelmoraApp(VelmoraApiResp::respFromReq(decodedRequest(longText))), 3);

  // Pad the message so the archive is exactly at the limit, then one byte past it.
  auto sizeWith = [&](std::size_t n) {
    resp->setSRetMsg(std::string(n, 'm'));
    return VelmoraMessagePack::dataWithVelmoraReqMessage(resp)->size();
  };
  std::size_t n = kVelmoraApiImageMax - sizeWith(0);
  for (int i = 0; i < 3 && sizeWith(n) != kVelmoraApiImageMax; ++i) n += kVelmoraApiImageMax - sizeWith(n);
  ASSERT_EQ(sizeWith(n), kVelmoraApiImageMax);
  EXPECT_EQ(VelmoraApiInterface::sendRespMessageToVelmoraApp(resp), 0);
  ASSERT_TRUE(run([&] { return qzone->openedURLs().size() == 1; }));
  sizeWith(n + 1);
  EXPECT_EQ(VelmoraApiInterface::sendRespMessageToVelmoraApp(resp), 3);
  settle();
  EXPECT_EQ(qzone->openedURLs().size(), 1u);
}

}  // namespace
}  // namespace qctest
