#include <regex>

#include "foundation/device/SharedUDID.h"
#include "os/core/Log.h"
#include "os/testing/LogCapture.h"
#include "os/views/Device.h"
#include "sharing/net/OBSJson.h"
#include "sharing/net/OBSharedUDID.h"
#include "sharing/service/OBProtocolData.h"
#include "sharing/service/OBUtils.h"
#include "sharing/tests/SharingFixture.h"

namespace {

using UtilsTest = SharingFixture;

TEST_F(UtilsTest, DigestsEscapesAndDeviceFacts) {
  EXPECT_EQ(OBUtils::md5Value("abc"), "900150983CD24FB0D6963F7D28E17F72");
  EXPECT_EQ(OBUtils::md5Value(std::string("abc\0def", 7)), OBUtils::md5Value("abc"));
  EXPECT_EQ(OBUtils::urlEncode("a b&c/d+é~"), "a%20b%26c%2Fd%2B%C3%A9~");

  os::DeviceProfileScope device({.macAddress = "a0:b1:c2:d3:e4:f5"});
  EXPECT_EQ(OBProtocolData::deviceMacString(), "A0:B1:C2:D3:E4:F5");
  os::Device::current().setOrientation(os::DeviceOrientation::FaceUp);
  EXPECT_EQ(OBProtocolData::orientationString(), "1");
  os::Device::current().setOrientation(os::DeviceOrientation::PortraitUpsideDown);
  EXPECT_EQ(OBProtocolData::orientationString(), "0");
  EXPECT_EQ(OBProtocolData::UUIDMD5String().size(), 32u);
}

TEST_F(UtilsTest, LogIsSilentUntilOpenedAndKeepsItsPercentForm) {
  os::testing::LogCapture capture;
  OBUtils::setOpenLog(false);
  OBUtils::outLog("hidden");
  EXPECT_TRUE(capture.lines().empty());
  OBUtils::setOpenLog(true);
  OBUtils::setPrefix("OBSocial: ");
  OBUtils::outLog("rate 50%% done");
  OBUtils::setOpenLog(false);
  ASSERT_EQ(capture.lines().size(), 1u);
  EXPECT_TRUE(std::regex_match(capture.lines()[0], std::regex(R"(\[\d\d:\d\d:\d\d\.\d{3}\(\s*\d+\)\] - OBSocial:  rate 50%%%% done )")))
      << capture.lines()[0];
}

TEST_F(UtilsTest, JSONThroughTheComponentsDoors) {
  os::testing::LogCapture capture;
  EXPECT_FALSE(OBUtils::JSONValue("5"));
  ASSERT_FALSE(capture.lines().empty());
  EXPECT_NE(capture.lines().back().find("-JSONValue failed. Error trace is:"), std::string::npos);

  {
    OBSJsonParser parser;
    EXPECT_FALSE(parser.objectWithString("[1,]"));
    ASSERT_FALSE(parser.errorTrace().empty());
    EXPECT_EQ(parser.errorTrace().back().domain, OBSJSONErrorDomain);
    EXPECT_EQ(parser.errorTrace().front().localizedDescription(), "Trailing comma disallowed in array");
    auto smile = parser.objectWithString(R"(["\ud83d\ude00"])");
    ASSERT_TRUE(smile);
    EXPECT_EQ(smile->at(0).stringOr(), "\xF0\x9F\x98\x80");
    EXPECT_FALSE(parser.objectWithString(std::string(513, '[') + std::string(513, ']')));
    EXPECT_TRUE(parser.objectWithString(std::string(512, '[') + std::string(512, ']')));
  }
  EXPECT_EQ(OBUtils::JSONFragment(os::Value(os::Dictionary{{"b", 1}, {"a", "x"}})), R"({"b":1,"a":"x"})");
  EXPECT_EQ(OBUtils::JSONValue(std::string_view("{\"st\":200}\0\0", 12)), std::nullopt);
}

// The component's copy agrees with the networking layer's on one identifier.
TEST_F(UtilsTest, DeviceIdentifierIsSharedWithTheOtherCopies) {
  // Each copy remembers its answer for the process; this test has a device of its own.
  OBSharedUDID::participant().cache()->clear();
  SharedUDID::participant().cache()->clear();
  std::string ours = OBSharedUDID::value();
  EXPECT_TRUE(std::regex_match(ours, std::regex("[0-9a-f]{40}")));
  EXPECT_EQ(SharedUDID::value(), ours);
  EXPECT_EQ(OBProtocolData::sharedUDIDString(), ours);
}

}  // namespace
