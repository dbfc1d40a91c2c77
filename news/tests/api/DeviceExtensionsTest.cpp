#include <gtest/gtest.h>

#include "news/api/DeviceExtensions.h"
#include "news/api/StringHelper.h"
#include "news/tests/support/ReaderFixture.h"
#include "os/net/NetworkReachability.h"
#include "os/testing/FakeReachabilityProvider.h"

namespace {

int familyOf(const std::string& machine) {
  os::DeviceProfileScope scope({.machine = machine});
  return DeviceExtensions::deviceTpye();
}

TEST(DeviceExtensions, ModelFamilies) {
  EXPECT_EQ(familyOf("iPhone5,2"), 1);
  EXPECT_EQ(familyOf("iPad3,4"), 2);
  EXPECT_EQ(familyOf("iPod5,1"), 3);
  EXPECT_EQ(familyOf("Watch1,1"), 4);
  EXPECT_EQ(familyOf(""), 1);  // no model read: a phone
  EXPECT_EQ(familyOf("iPad-iPhone"), 1);  // the phone wins when several occur
}

TEST(DeviceExtensions, IdentifiersFromTheDeviceAndEmptyWhenMissing) {
  newstest::RequestEnvironment env;
  EXPECT_EQ(DeviceExtensions::macAddress(), "0A:1B:2C:3D:4E:5F");
  EXPECT_EQ(DeviceExtensions::iosVersion(), "6.1.3");
  EXPECT_EQ(DeviceExtensions::isJailbroken(), 2);
  {
    os::DeviceProfile bare;
    bare.advertisingIdentifier.clear();
    bare.macAddress.clear();
    bare.name = "Li's phone";
    os::DeviceProfileScope scope(bare);
    EXPECT_EQ(DeviceExtensions::idfaString(), "");
    EXPECT_EQ(DeviceExtensions::macAddress(), "");
    EXPECT_EQ(DeviceExtensions::deviceName(), "Li's%20phone");
  }
  // The identifier every application on the device agrees on: forty hexadecimal digits.
  std::string shared = DeviceExtensions::sharedUDID();
  EXPECT_EQ(shared.size(), 40u);
  EXPECT_EQ(shared, DeviceExtensions::sharedUDID());
  DeviceExtensions::setSharedUDIDSource([] { return std::string(40, 'a'); });
  EXPECT_EQ(DeviceExtensions::sharedUDID(), std::string(40, 'a'));
  DeviceExtensions::setSharedUDIDSource(nullptr);
  EXPECT_TRUE(DeviceExtensions::totalDiskSpace().has_value());
}

TEST(DeviceExtensions, NetStatusIsTheLocalWiFiReachability) {
  os::testing::SharedFakeReachability fake;
  fake->setDefaultFlags(std::nullopt);
  EXPECT_EQ(DeviceExtensions::netStatus(), 0);
  fake->setFlags("169.254.0.0", os::kReachabilityFlagsReachable | os::kReachabilityFlagsIsDirect);
  EXPECT_EQ(DeviceExtensions::netStatus(), 2);
  fake->setFlags("169.254.0.0", os::kReachabilityFlagsReachable | os::kReachabilityFlagsIsWWAN);
  EXPECT_EQ(DeviceExtensions::netStatus(), 1);
  fake->setFlags("169.254.0.0", os::kReachabilityFlagsConnectionRequired);
  EXPECT_EQ(DeviceExtensions::netStatus(), 0);
}

TEST(StringHelper, DigestAndEscapes) {
  EXPECT_EQ(StringHelper::md5("新闻"), "1d9c15c5d2162ce48e816b504182e5be");
  // A C string ends at its first zero byte.
  EXPECT_EQ(StringHelper::md5(std::string("ab\0cd", 5)), StringHelper::md5("ab"));
  EXPECT_EQ(StringHelper::urlEncode("a b&c=d/é?[x]%"), "a%20b%26c%3Dd%2F%C3%A9%3F%5Bx%5D%25");
  EXPECT_EQ(StringHelper::toGBK("军事 news"), "%BE%FC%CA%C2%20news");
  EXPECT_EQ(StringHelper::trim(" \t\n 军事\r\n"), "军事");
}

}  // namespace
