#include <gtest/gtest.h>

#include <sys/stat.h>

#include "os/runtime/Clock.h"
#include "os/runtime/NotificationCenter.h"
#include "os/runtime/RunLoop.h"
#include "os/store/FileManager.h"
#include "os/store/Keychain.h"
#include "os/store/PropertyList.h"
#include "os/store/Sandbox.h"
#include "os/testing/NoDescriptorLeft.h"
#include "os/testing/TestSandbox.h"
#include "push/model/DUVClient.h"
#include "push/utilities/DUVKeychain.h"
#include "push/utilities/DUVLogger.h"
#include "push/utilities/DUVUserDefaults.h"

namespace {

constexpr const char* kBundle = "com.example.newsreader";

class DUVUserDefaultsTest : public ::testing::Test {
 protected:
  std::shared_ptr<DUVUserDefaults> start(const std::string& appkey = "abc123") {
    return DUVUserDefaults::create(kBundle, appkey, center_);
  }
  os::Dictionary stored() {
    auto value = DUVKeychain(kBundle, "", 4).objectForKey(kDUVKeychainUserDefaultsKey);
    return value && value->dictionary() ? *value->dictionary() : os::Dictionary{};
  }
  std::string writeLegacy(const os::Dictionary& record) {
    std::string folder = sandbox_.sandbox()->libraryDirectory() + "/" + kDUVLegacyFolderName + "/" + kBundle;
    os::FileManager::defaultManager().createDirectoryAtPath(folder, true);
    std::string path = folder + "/APUserDefaults.plist";
    os::PropertyList::writeFile(os::Value(record), path, os::PropertyListFormat::XML);
    return path;
  }

  os::VirtualClockScope clock_;
  os::TestSandbox sandbox_;
  os::NotificationCenter center_;
  int verified_ = 0;
  os::NotificationCenter::ObserverToken token_ =
      center_.addObserver(kDUVUserDefaultsVerifiedNotification, nullptr, [this](const os::Notification&) { ++verified_; });
};

TEST_F(DUVUserDefaultsTest, FirstStartWritesTheRecordAndVerifiesAtOnce) {
  auto store = start();
  EXPECT_EQ(verified_, 1);
  EXPECT_EQ(store->uid(), 0u);
  EXPECT_EQ(stored().keys(), (std::vector<std::string>{"APP_KEY", "APDeviceId"}));
  EXPECT_EQ(stored()["APDeviceId"], os::Value(store->sharedUdid()));
  EXPECT_EQ(store->sharedUdid().size(), 24u);
  EXPECT_EQ(DUVClient::readRegistrationID(kBundle), std::nullopt);
  struct stat info {};
  ASSERT_EQ(::stat(os::Keychain::defaultKeychain()->path().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  store->setUid(42, "secret", "reg-1");
  store->setSisHostIndex(2);
  store->setDefaultConAddress("127.0.0.1:19000");
  auto again = start();
  EXPECT_EQ(again->uid(), 42u);
  EXPECT_EQ(again->password(), "secret");
  EXPECT_EQ(again->sisHostIndex(), 2u);
  EXPECT_EQ(DUVClient::readRegistrationID(kBundle), "reg-1");
  // A new id for this run; the device id of the first start stays.
  EXPECT_NE(again->sharedUdid(), store->sharedUdid());
  EXPECT_EQ(stored()["APDeviceId"], os::Value(store->sharedUdid()));
}

TEST_F(DUVUserDefaultsTest, AnotherApplicationKeyLosesTheIdentityButKeepsTheRest) {
  auto store = start();
  store->setUid(7, "pw", "reg-7");
  store->setUploadedDeviceToken("aa01");
  store->setSisHostIndex(1);
  store->setBackupReportAddress("http://127.0.0.1:1/report");
  auto other = start("other9");
  EXPECT_EQ(other->uid(), 0u);
  EXPECT_EQ(other->password(), std::nullopt);
  EXPECT_EQ(other->registrationID(), "reg-7");
  EXPECT_EQ(other->sisHostIndex(), 1u);
  EXPECT_EQ(other->backupReportAddress(), "http://127.0.0.1:1/report");
  EXPECT_EQ(other->uploadedDeviceToken(), std::nullopt);
}

TEST_F(DUVUserDefaultsTest, LegacyFileIsTakenOverOnceAndCheckedAgainstTheToken) {
  os::Dictionary legacy{{"kAPConfigKey", os::Value(os::Dictionary{{"APP_KEY", os::Value("abc123")}})},
                        {"kUIDKey", os::Value(9)},
                        {"kPasswordKey", os::Value("pw")},
                        {"kDeviceTokenGroupKey", os::Value(os::Dictionary{{"kUploadedDeviceTokenKey", os::Value("beef")}})}};
  std::string path = writeLegacy(legacy);
  auto store = start();
  EXPECT_EQ(verified_, 0);
  store->setCurrentDeviceToken("beef");
  EXPECT_EQ(verified_, 1);
  EXPECT_EQ(store->uid(), 9u);
  EXPECT_EQ(stored()["kUIDKey"].intValue(), 9);
  EXPECT_FALSE(stored().contains("kAPConfigKey"));
  EXPECT_FALSE(os::FileManager::defaultManager().fileExistsAtPath(path));
  store->setCurrentDeviceToken("cafe");  // after verification: only the field changes
  EXPECT_EQ(start()->uid(), 9u);

  // Another device, no token within a second: the identity goes, the rest is kept.
  os::Keychain::defaultKeychain()->remove({kBundle, kDUVKeychainUserDefaultsKey, ""});
  writeLegacy(legacy);
  auto late = start();
  os::Clock::advance(1.0);
  os::RunLoop::current()->runUntilIdle();
  EXPECT_EQ(verified_, 3);
  EXPECT_EQ(late->uid(), 0u);
  EXPECT_FALSE(stored().contains("kUIDKey"));
  EXPECT_EQ(stored()["APP_KEY"], os::Value("abc123"));
}

// A start that cannot read the keychain (no descriptor left) does not know the stored identity:
// its first write reads the item again, so the identity stays and comes back to the store, and
// only what this run set goes over it. While the item still cannot be read, nothing is written.
TEST_F(DUVUserDefaultsTest, AStartThatCouldNotReadTheKeychainWritesNothingOverTheStoredIdentity) {
  auto first = start();
  first->setUid(42, "secret", "reg-1");
  first->setSisHostIndex(2);
  first->setDefaultConAddress("127.0.0.1:1");
  const os::Value deviceId = stored()["APDeviceId"];

  // The keychain's failures are logged through a logger made now: what the undefined-behaviour
  // checker does on meeting a type for the first time needs a descriptor.
  DUVClassLogger("DUVKeychain");
  std::shared_ptr<DUVUserDefaults> blind;
  {
    os::testing::NoDescriptorLeft none;
    blind = start();
    EXPECT_EQ(verified_, 2);
    EXPECT_EQ(blind->uid(), 0u);
    blind->setBackupReportAddress("http://127.0.0.1:2/report");
  }
  EXPECT_EQ(stored()["kUIDKey"].intValue(), 42);
  blind->setDefaultConAddress("127.0.0.1:19000");
  const os::Dictionary record = stored();
  EXPECT_EQ(record["kUIDKey"].intValue(), 42);
  EXPECT_EQ(record["kPasswordKey"], os::Value("secret"));
  EXPECT_EQ(record["kRegistrationId"], os::Value("reg-1"));
  EXPECT_EQ(record["APDeviceId"], deviceId);
  EXPECT_EQ(record["APDefaultConnectionAddress"], os::Value("127.0.0.1:19000"));
  EXPECT_EQ(record["kAPBackupReportAddress"], os::Value("http://127.0.0.1:2/report"));
  EXPECT_EQ(blind->uid(), 42u);
  EXPECT_EQ(blind->password(), "secret");
  EXPECT_EQ(blind->sisHostIndex(), 2u);
  EXPECT_EQ(start()->uid(), 42u);
}

// A first start that could not read the legacy file (no descriptor left) writes no fresh record
// over the identity it holds: the first write takes the file over as a start would have, checked
// against the device token, and only what this run set goes over it.
TEST_F(DUVUserDefaultsTest, ALegacyFileTheFirstStartCouldNotReadIsTakenOverAtTheFirstWrite) {
  const os::Dictionary legacy{
      {"kAPConfigKey", os::Value(os::Dictionary{{"APP_KEY", os::Value("abc123")}})},
      {"kUIDKey", os::Value(9)},
      {"kPasswordKey", os::Value("pw")},
      {"kSisHostIndexKey", os::Value(1)},
      {"kDeviceTokenGroupKey", os::Value(os::Dictionary{{"kUploadedDeviceTokenKey", os::Value("beef")}})}};
  const std::string path = writeLegacy(legacy);
  // What the undefined-behaviour checker does on meeting a type for the first time needs a
  // descriptor: a store of another application is made first.
  DUVClassLogger("DUVKeychain");
  DUVUserDefaults::create("com.example.other", "abc123", center_);
  verified_ = 0;
  auto blindStart = [&] {
    os::testing::NoDescriptorLeft none;
    return start();
  };

  auto blind = blindStart();
  EXPECT_EQ(blind->uid(), 0u);
  EXPECT_TRUE(stored().empty());
  blind->setCurrentDeviceToken("beef");
  blind->setDefaultConAddress("127.0.0.1:19000");
  EXPECT_EQ(blind->uid(), 9u);
  EXPECT_EQ(blind->password(), "pw");
  EXPECT_EQ(blind->sisHostIndex(), 1u);
  os::Dictionary record = stored();
  EXPECT_EQ(record["kUIDKey"].intValue(), 9);
  EXPECT_EQ(record["kUploadedDeviceTokenKey"], os::Value("beef"));
  EXPECT_EQ(record["APDefaultConnectionAddress"], os::Value("127.0.0.1:19000"));
  EXPECT_FALSE(os::FileManager::defaultManager().fileExistsAtPath(path));
  EXPECT_EQ(start()->uid(), 9u);

  // Another device's backup: its token is not this device's, so the identity goes, the rest stays.
  os::Keychain::defaultKeychain()->remove({kBundle, kDUVKeychainUserDefaultsKey, ""});
  writeLegacy(legacy);
  auto other = blindStart();
  other->setCurrentDeviceToken("cafe");
  other->setSisHostIndex(2);
  EXPECT_EQ(other->uid(), 0u);
  record = stored();
  EXPECT_FALSE(record.contains("kUIDKey"));
  EXPECT_EQ(record["kSisHostIndexKey"].intValue(), 2);
  EXPECT_EQ(record["APP_KEY"], os::Value("abc123"));
}

// A legacy file no read will ever get (a folder where it should be) holds no identity to take
// over: the start goes on without it, and the record is written from the first write on.
TEST_F(DUVUserDefaultsTest, ALegacyFileThatCanNeverBeReadIsPassedOver) {
  const std::string path = writeLegacy(os::Dictionary{});
  auto& files = os::FileManager::defaultManager();
  ASSERT_TRUE(files.removeItemAtPath(path));
  ASSERT_TRUE(files.createDirectoryAtPath(path, true));
  auto store = start();
  EXPECT_EQ(stored()["APDeviceId"], os::Value(store->sharedUdid()));
  store->setUid(5, "pw", "r");
  EXPECT_EQ(stored()["kUIDKey"].intValue(), 5);
  EXPECT_EQ(start()->uid(), 5u);
  EXPECT_TRUE(files.fileExistsAtPath(path));
}

TEST_F(DUVUserDefaultsTest, SettersWriteOnlyChangesAndStringsSurviveTheKeychain) {
  auto store = start();
  store->setUid(5, "pw", "r");
  os::Keychain::defaultKeychain()->remove({kBundle, kDUVKeychainUserDefaultsKey, ""});
  store->setUid(5, "pw", "r");  // unchanged: nothing written
  EXPECT_TRUE(stored().empty());

  DUVKeychain keychain(kBundle, "", 4);
  // Text that itself reads as a property list comes back as the same text.
  std::string tricky = os::stringFromData(*os::PropertyList::write(os::Value("x"), os::PropertyListFormat::XML));
  ASSERT_TRUE(keychain.setObject(os::Value(tricky), "k"));
  EXPECT_EQ(keychain.objectForKey("k"), os::Value(tricky));
  ASSERT_TRUE(keychain.setObject(os::Value("plain"), "k"));
  EXPECT_EQ(keychain.objectForKey("k"), os::Value("plain"));
  EXPECT_TRUE(keychain.removeObjectForKey("k"));
  EXPECT_FALSE(keychain.objectForKey("k"));
}

}  // namespace
