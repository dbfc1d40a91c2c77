#include <gtest/gtest.h>

#include "os/core/Log.h"
#include "os/testing/LogCapture.h"
#include "os/testing/TcpTestPeer.h"
#include "push/protocol/tcp/DUVAck.h"
#include "push/protocol/tcp/DUVDeviceTokenReport.h"
#include "push/protocol/tcp/DUVLogin.h"
#include "push/protocol/tcp/DUVMessageDispatch.h"
#include "push/protocol/tcp/DUVRegistration.h"
#include "push/protocol/tcp/DUVSetTagAlias.h"
#include "push/protocol/tcp/base/DUVPacketCodec.h"

namespace {

// An incoming frame: header (length, version, command, rid) and body.
os::Data incoming(std::uint8_t command, std::uint16_t rid, const os::Data& body, std::uint8_t version = 1) {
  os::Data frame{0, 0, version, command, static_cast<std::uint8_t>(rid >> 8), static_cast<std::uint8_t>(rid)};
  frame.insert(frame.end(), body.begin(), body.end());
  frame[0] = static_cast<std::uint8_t>(frame.size() >> 8);
  frame[1] = static_cast<std::uint8_t>(frame.size());
  return frame;
}

template <class T>
std::shared_ptr<T> decode(const os::Data& frame) {
  return std::dynamic_pointer_cast<T>(DUVReceivedPacket::packetWithBuffer(frame.data(), frame.size()));
}

os::Data message(const std::string& content, std::uint8_t type = 0) {
  os::ByteWriter body;
  body.u32(77).u8(type).u32(123456);
  DUVMakePacket::appendString(body, content);
  return body.take();
}

TEST(DUVFrameCodec, FrameLimitsAndFieldCounts) {
  os::testing::LogCapture log;
  DUVPacketContext context;
  context.sessionId = 0x01020304;
  context.currentDeviceToken = std::string(65517, 'a');
  auto largest = DUVDeviceTokenReportRequest(9).packetData(context);
  ASSERT_TRUE(largest);
  EXPECT_EQ(largest->size(), 65535u);
  EXPECT_EQ((*largest)[0], 0xFF);
  EXPECT_EQ((*largest)[1], 0xFF);
  EXPECT_EQ((os::Data(largest->begin() + 2, largest->begin() + 10)), (os::Data{2, 13, 0, 9, 1, 2, 3, 4}));

  context.currentDeviceToken->push_back('a');
  EXPECT_FALSE(DUVDeviceTokenReportRequest(9).packetData(context));
  EXPECT_TRUE(log.contains("ZUrarLog ERROR: packet too long"));
  // A field whose count would wrap to 0 is refused, not sent as an empty one.
  context.currentDeviceToken = std::string(65536, 'a');
  EXPECT_FALSE(DUVDeviceTokenReportRequest(9).packetData(context));
  EXPECT_TRUE(log.contains("packet field too long"));
}

TEST(DUVFrameCodec, RequestBodies) {
  DUVPacketContext context;
  context.sharedUdid = "iPhone010203040506070809";
  context.bundleIdentifier = "com.example.newsreader";
  context.appkey = "abc123";
  context.bundleVersion = 42;
  context.systemVersion = "6.1";
  context.modelName = "Phone5,2";
  context.pushChanel = "store";
  context.configApsEnvironment = 2;
  context.apsEvironment = -1;
  auto registration = DUVRegistrationRequest(1).packetData(context);
  ASSERT_TRUE(registration);
  std::string text = os::stringFromData(*registration);
  EXPECT_NE(text.find("iPhone010203040506070809$$ $$com.example.newsreader$$abc123"), std::string::npos);
  EXPECT_NE(text.find("6.1$$Phone5,2$$ $$ $$store$$1.8.1"), std::string::npos);
  // No token yet: a single space, then the two environments and 1.
  EXPECT_EQ((os::Data(registration->end() - 6, registration->end())), (os::Data{0, 1, ' ', 2, 0xFF, 1}));

  context.uid = 0x0A0B0C0D;
  auto login = DUVLoginRequest(2).packetData(context);
  ASSERT_TRUE(login);
  EXPECT_EQ((os::Data(login->begin() + 10, login->begin() + 18)), (os::Data{0x0A, 0x0B, 0x0C, 0x0D, 0x69, 0, 0, 0}));
  EXPECT_EQ((*login)[19], 32);  // the password's MD5, also without a stored password
  EXPECT_EQ(DUVHeartbeatRequest(3).packetData(context)->size(), 14u);

  auto dispatch = decode<DUVMessageDispatch>(incoming(3, 0x0506, message("{}"), 7));
  ASSERT_TRUE(dispatch);
  auto receipt = DUVMessageReceipt(*dispatch, 0x0A0B0C0D).packetData(context);
  ASSERT_TRUE(receipt);
  EXPECT_EQ(*receipt, (os::Data{0, 21, 7, 4, 0x05, 0x06, 0, 0, 0, 0, 0, 0, 0x0A, 0x0B, 0x0C, 0x0D, 0, 0, 0x01, 0xE2, 0x40}));

  // Tags and alias: too long a frame is answered with 6008 and never sent.
  int code = 0;
  DUVSetTagAlias small(4, std::vector<std::string>{"a", "b"}, std::nullopt);
  EXPECT_EQ(os::stringFromData(small.requestJsonData()), R"({"platform":"i","tags":"a,b"})");
  DUVSetTagAlias big(5, std::vector<std::string>{std::string(1000, 't')}, std::string("x"));
  big.setTooLongHandler([&](std::uint16_t rid, int result) { code = rid == 5 ? result : -1; });
  EXPECT_FALSE(big.packetData(context));
  EXPECT_EQ(code, 6008);
  EXPECT_TRUE(small.isEqualToRequest(DUVSetTagAlias(6, std::vector<std::string>{}, std::string("y"))));
  EXPECT_FALSE(DUVSetTagAlias(7, std::nullopt, std::string("y"))
                   .isEqualToRequest(DUVSetTagAlias(8, std::vector<std::string>{}, std::string("y"))));
}

// A tags and alias frame of 1023 bytes goes out; from 1024 bytes the caller hears 6008 instead.
// The frame: 10-byte header, u32 uid, the app key and the JSON blob, each with a u16 count.
TEST(DUVFrameCodec, TagsAndAliasFrameLimit) {
  DUVPacketContext context;  // no app key: its count alone
  const std::size_t json = std::string(R"({"platform":"i","tags":""})").size();
  auto request = [&](std::size_t frameSize, std::vector<int>& heard) {
    auto tags = std::make_shared<DUVSetTagAlias>(
        7, std::vector<std::string>{std::string(frameSize - 10 - 4 - 2 - 2 - json, 't')}, std::nullopt);
    tags->setTooLongHandler([&heard](std::uint16_t rid, int code) { heard.push_back(rid == 7 ? code : -1); });
    return tags->packetData(context);
  };
  std::vector<int> heard;
  auto fits = request(1023, heard);
  ASSERT_TRUE(fits);
  EXPECT_EQ(fits->size(), 1023u);
  EXPECT_TRUE(heard.empty());
  EXPECT_FALSE(request(1024, heard));
  EXPECT_EQ(heard, (std::vector<int>{6008}));
}

TEST(DUVFrameCodec, ReceivedFrames) {
  os::testing::LogCapture log;
  os::Data five{0, 5, 1, 3, 0};
  EXPECT_FALSE(DUVReceivedPacket::packetWithBuffer(five.data(), five.size()));
  os::Data longer = incoming(19, 1, {});
  longer[1] = 40;
  EXPECT_FALSE(DUVReceivedPacket::packetWithBuffer(longer.data(), longer.size()));
  EXPECT_TRUE(log.lines().empty());
  EXPECT_FALSE(decode<DUVReceivedPacket>(incoming(2, 1, {0, 0})));
  EXPECT_TRUE(log.contains("ZUrarLog ERROR: receive unrecognized command"));

  os::ByteWriter body;
  body.u16(0).u32(99);
  DUVMakePacket::appendString(body, std::string("pw\0ignored", 10));
  DUVMakePacket::appendString(body, "reg");
  auto registered = decode<DUVRegistrationResponse>(incoming(0, 1, body.take()));
  ASSERT_TRUE(registered);
  EXPECT_EQ(registered->uid(), 99u);
  EXPECT_EQ(registered->password(), "pw");
  EXPECT_EQ(registered->registrationID(), "reg");
  EXPECT_EQ(registered->errorDescription(), std::nullopt);

  os::ByteWriter refused;
  refused.u16(7);
  DUVMakePacket::appendString(refused, "bad key");
  auto login = decode<DUVLoginResponse>(incoming(1, 2, refused.take()));
  ASSERT_TRUE(login);
  EXPECT_EQ(login->statusCode(), 7);
  EXPECT_EQ(login->errorDescription(), "bad key");
  EXPECT_EQ(login->sessionID(), 0u);

  os::Data ack{13, 0, 1, 0, 0, 0, 5};  // the timestamp's low half is missing
  auto acked = decode<DUVAck>(incoming(19, 4, ack));
  ASSERT_TRUE(acked);
  EXPECT_EQ(acked->reqCmd(), 13);
  EXPECT_EQ(acked->statusCode(), 1);
  EXPECT_EQ(acked->timestamp(), 5ull << 32);
  // The device token report's answer is known by its command number.
  EXPECT_TRUE(decode<DUVDeviceTokenReportResponse>(incoming(13, 5, {0, 0})));
  EXPECT_FALSE(decode<DUVDeviceTokenReportResponse>(incoming(12, 5, {0, 0})));
}

// Fields that run past the frame: the packet is still made, every read moves on by its width and
// reads 0, nothing or "" past the end, so no later field is read from the wrong bytes.
TEST(DUVFrameCodec, ShortFieldsAreReadAsMissingAndThePacketIsKept) {
  // A string whose count runs past the end is nothing; the fields after it are 0 or "".
  os::ByteWriter overrun;
  overrun.u16(0).u32(99).u16(40).text("pw");
  auto registered = decode<DUVRegistrationResponse>(incoming(0, 1, overrun.take()));
  ASSERT_TRUE(registered);
  EXPECT_EQ(registered->uid(), 99u);
  EXPECT_EQ(registered->password(), std::nullopt);
  EXPECT_EQ(registered->registrationID(), "");

  // A registration answer without its registration id.
  os::ByteWriter noId;
  noId.u16(0).u32(77);
  DUVMakePacket::appendString(noId, "secret");
  registered = decode<DUVRegistrationResponse>(incoming(0, 2, noId.take()));
  ASSERT_TRUE(registered);
  EXPECT_EQ(registered->statusCode(), 0);
  EXPECT_EQ(registered->uid(), 77u);
  EXPECT_EQ(registered->password(), "secret");
  EXPECT_EQ(registered->registrationID(), "");

  // A login answer with two bytes after the status: the session id runs short and the server
  // version lies past it, so both are 0 (not the two bytes read again).
  auto login = decode<DUVLoginResponse>(incoming(1, 3, {0, 0, 0, 7}));
  ASSERT_TRUE(login);
  EXPECT_EQ(login->sessionID(), 0u);
  EXPECT_EQ(login->serverVersion(), 0);
  login = decode<DUVLoginResponse>(incoming(1, 3, {0, 0, 0, 0, 0, 9, 0, 3}));
  EXPECT_EQ(login->sessionID(), 9u);
  EXPECT_EQ(login->serverVersion(), 3);

  // A refusal without its error text.
  login = decode<DUVLoginResponse>(incoming(1, 4, {0, 2}));
  ASSERT_TRUE(login);
  EXPECT_EQ(login->statusCode(), 2);
  EXPECT_EQ(login->errorDescription(), "");

  // A message without its content field, and one whose content is cut short.
  os::ByteWriter bare;
  bare.u32(5).u8(0).u32(0x01020304);
  auto dispatch = decode<DUVMessageDispatch>(incoming(3, 5, bare.take()));
  ASSERT_TRUE(dispatch);
  EXPECT_EQ(dispatch->fromUid(), 5u);
  EXPECT_EQ(dispatch->messageID(), 0x01020304u);
  EXPECT_EQ(dispatch->messageContent(), "");
  EXPECT_FALSE(dispatch->getDispatchMessageUserInfo());
  os::Data cut = message("{\"message\":\"M\"}");
  cut.resize(cut.size() - 1);
  dispatch = decode<DUVMessageDispatch>(incoming(3, 6, cut));
  ASSERT_TRUE(dispatch);
  EXPECT_EQ(dispatch->messageID(), 123456u);
  EXPECT_EQ(dispatch->messageContent(), std::nullopt);

  // Bytes that are not UTF-8 are nothing, and the reading goes on after them.
  os::ByteWriter bad;
  bad.u16(0).u32(1).u16(2).u8(0xC3).u8(0x28);
  DUVMakePacket::appendString(bad, "reg");
  registered = decode<DUVRegistrationResponse>(incoming(0, 7, bad.take()));
  EXPECT_EQ(registered->password(), std::nullopt);
  EXPECT_EQ(registered->registrationID(), "reg");

  // A header-only ack: every field 0.
  auto empty = decode<DUVAck>(incoming(19, 8, {}));
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->rid(), 8);
  EXPECT_EQ(empty->timestamp(), 0u);
}

TEST(DUVFrameCodec, MessageUserInfo) {
  auto info = [](const std::string& content, std::uint8_t type = 0) {
    return decode<DUVMessageDispatch>(incoming(3, 1, message(content, type)))->getDispatchMessageUserInfo();
  };
  auto full = info("note\n{\"title\":\"T\",\"message\":\"M\",\"content_type\":\"news\",\"extras\":\"{\\\"id\\\":3}\"}");
  ASSERT_TRUE(full);
  EXPECT_EQ((*full)["title"], os::Value("T"));
  EXPECT_EQ((*full)["content_type"], os::Value("news"));
  EXPECT_EQ((*full)["content"], os::Value("M"));
  EXPECT_EQ((*full)["extras"]["id"].intValue(), 3);
  EXPECT_FALSE((*info("{\"message\":\"M\",\"extras\":\"[1]\"}")).contains("extras"));
  EXPECT_FALSE(info("{\"message\":\"M\"}\n"));
  EXPECT_FALSE(info("{\"title\":\"no message\"}"));
  EXPECT_FALSE(info("{\"message\":\"M\"}", DUVMessageDispatch::kTagAliasMessageType));
}

}  // namespace
