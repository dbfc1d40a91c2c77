#include <gtest/gtest.h>
#include <zlib.h>

#include "foundation/formats/DateCalendar.h"
#include "os/crypto/Random.h"
#include "os/runtime/Clock.h"
#include "os/store/Pasteboard.h"
#include "os/testing/TestSandbox.h"
#include "os/views/Device.h"
#include "push/model/DUVClient.h"
#include "push/utilities/DUVSharedUDID.h"
#include "push/utilities/DUVUtilities.h"

namespace {

os::Data gunzip(const os::Data& in) {
  z_stream z{};
  inflateInit2(&z, 31);
  os::Data out(1 << 17);
  z.next_in = const_cast<Bytef*>(in.data());
  z.avail_in = static_cast<uInt>(in.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  inflateEnd(&z);
  return out;
}

TEST(DUVUtilities, AddressRecordsAndEncodings) {
  EXPECT_EQ(getDataAddressByHostAndPort("localhost", 3000),
            (os::Data{0x10, 0x02, 0x0B, 0xB8, 0x7F, 0x00, 0x00, 0x01, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(getDataAddressByHostAndPort("10.1.2.3", 80)->at(4), 10);
  EXPECT_FALSE(getDataAddressByHostAndPort("255.255.255.255", 80));
  EXPECT_FALSE(getDataAddressByHostAndPort("push.example", 80));  // no name lookup here
  EXPECT_FALSE(getDataAddressByHostAndPort(std::nullopt, 80));

  EXPECT_EQ(DUVBase64({'a'}), "YQ==");
  EXPECT_EQ(DUVBase64({'a', 'b'}), "YWI=");
  EXPECT_EQ(DUVBase64({'a', 'b', 'c'}), "YWJj");
  EXPECT_EQ(DUVBase64({}), "");
  EXPECT_EQ(DUVGzip({}), os::Data{});
  os::Data body = os::randomBytes(40000);  // incompressible: the output outgrows 16 KB twice
  auto zipped = DUVGzip(body);
  ASSERT_TRUE(zipped);
  EXPECT_EQ(gunzip(*zipped), body);

  EXPECT_EQ(DUVStringHashingByMD5(std::nullopt), DUVStringHashingByMD5(""));
  EXPECT_EQ(DUVStringHashingByMD5(std::string("abc\0def", 7)), DUVStringHashingByMD5("abc"));
  EXPECT_FALSE(ZRFJSONData(os::Value("bare")));
  EXPECT_EQ(os::stringFromData(*ZRFJSONData(os::Value(os::Array{os::Value(1), os::Value("a")}))), "[1,\"a\"]");
  EXPECT_FALSE(ZRFJSONObject(os::dataFromString("{oops")));
  EXPECT_EQ(DUVClient::stringWithDeviceToken({0x00, 0x0f, 0xab}), "000fab");
}

TEST(DUVUtilities, FactsAndTimeTexts) {
  EXPECT_EQ(DUVTimeZoneText(28800), "+8");
  EXPECT_EQ(DUVTimeZoneText(0), "0");
  EXPECT_EQ(DUVTimeZoneText(-18000), "-5");
  EXPECT_EQ(DUVTimeZoneText(1800), "0");
  EXPECT_EQ(DUVTimeZoneText(3600), "+1");
  EXPECT_EQ(DUVTimeZoneText(3599), "0");
  EXPECT_EQ(DUVGetNetWorkName(1), "");
  EXPECT_EQ(DUVGetNetWorkName(-2), "");
  EXPECT_EQ(DUVGetNetWorkName(3), "ReachableViaWWAN");
  EXPECT_EQ(DUVCarrierTypeFromCarrierName(std::nullopt), 0);
  EXPECT_EQ(DUVCarrierTypeFromCarrierName("中国联通"), 2);

  os::DeviceProfileScope device({.machine = "Phone4,1", .screenSize = {320, 480}, .screenScale = 2,
                                 .carrierName = "中国移动", .mobileCountryCode = "460", .mobileNetworkCode = "00"});
  EXPECT_EQ(CTCarrierName(), "中国移动");
  EXPECT_EQ(CTCountryCode(), "460");
  EXPECT_EQ(CTMobileNetworkCode(), "00");
  EXPECT_EQ(DUVCurrentResolution(), "640x960");
  EXPECT_EQ(ZRFSSID(), "Not Found");

  os::VirtualClockScope clock(1.7e9 + 0.25);
  auto& calendar = DateCalendar::currentCalendar();
  auto zone = calendar.timeZone();
  calendar.setTimeZone(TimeZoneRules::fixed(28800));
  std::string date, time;
  DUVGetDateAndTimeFromTimestamp(1.7e9, &date, &time);
  EXPECT_EQ(date + " " + time, "2023-11-15 06:13:20");

  os::TestSandbox sandbox;
  sandbox.setInfoDictionary({{"CFBundleIdentifier", os::Value("com.example.newsreader")},
                             {"CFBundleShortVersionString", os::Value("2.3")}});
  auto info = DUVCurrentDeviceInfo("appstore");
  calendar.setTimeZone(zone);
  EXPECT_EQ(info.size(), 11u);
  EXPECT_EQ(info["itime"].intValue(), 1700000000);
  EXPECT_EQ(info["timezone"], os::Value("+8"));
  EXPECT_EQ(info["app_versionname"], os::Value("2.3"));
  EXPECT_EQ(info["model"], os::Value("Phone4,1"));
  EXPECT_EQ(info["Channel"], os::Value("appstore"));
  EXPECT_EQ(info["sdk_version"], os::Value("1.8.1"));
}

TEST(DUVUtilities, OwnDeviceIdentifierKeepsToItsOwnSlots) {
  os::TestSandbox sandbox;
  SharedUDIDParticipant push(DUVSharedUDID::profile());
  SharedUDIDParticipant standard(SharedUDIDProfile::standard());
  os::Error outcome;
  std::string id = push.valueWithError(&outcome);
  EXPECT_EQ(id.size(), 40u);
  EXPECT_EQ(outcome.code, 0);
  EXPECT_NE(standard.value(), id);
  EXPECT_TRUE(os::Pasteboard::pasteboardWithName(
      "org.qelm.APS_UDID_4C90E90E-C569-4396-AB2D-AC33BF8A1E44.slot.0", false));
  push.valueWithError(&outcome);
  EXPECT_EQ(outcome.userInfo["description"], os::Value("APSharedUDID in cache from first call"));
}

}  // namespace
