// Two applications on one simulated device: the test's own sandbox and a peer sandbox sharing its
// device folder. A new SharedUDIDParticipant stands for a new launch of an application.
#include <gtest/gtest.h>

#include "foundation/device/SharedUDID.h"
#include "os/crypto/Random.h"
#include "os/store/KeyedArchive.h"
#include "os/store/Pasteboard.h"
#include "os/store/Sandbox.h"
#include "os/store/UserDefaults.h"
#include "os/testing/TestSandbox.h"

namespace {

const std::string kA = "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa";
const std::string kB = "bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb";

class SharedUDIDTest : public ::testing::Test {
 protected:
  std::shared_ptr<os::Sandbox> home() const { return device_.sandbox(); }
  std::shared_ptr<os::UserDefaults> defaults(const std::shared_ptr<os::Sandbox>& s) { return s->standardUserDefaults(); }

  std::unique_ptr<SharedUDIDParticipant> launch(const std::shared_ptr<os::Sandbox>& sandbox,
                                                SharedUDIDProfile profile = SharedUDIDProfile::standard()) {
    return std::make_unique<SharedUDIDParticipant>(std::move(profile), nullptr, sandbox);
  }

  std::shared_ptr<os::Pasteboard> slot(int i, bool create = false, const std::string& prefix = "org.SharedUDID.slot.") {
    return os::Pasteboard::pasteboardWithName(prefix + std::to_string(i), create, home());
  }

  os::Dictionary slotRecord(int i) {
    auto board = slot(i);
    return board ? launch(home())->getDictFromPasteboard(*board) : os::Dictionary();
  }

  // A slot written by some other application.
  void writeSlot(int i, const os::Dictionary& record) {
    auto board = slot(i, true);
    ASSERT_TRUE(board);
    ASSERT_TRUE(launch(home())->setDictForPasteboard(record, *board));
  }
  void writeSlotBytes(int i, const os::Data& bytes) { ASSERT_TRUE(slot(i, true)->setData(bytes, "org.SharedUDID")); }

  static os::Dictionary otherApp(const std::string& id) {
    return os::Dictionary{{"SharedUDID", os::Value(id)}, {"SharedUDID_appUID", os::Value(os::uuidString())}};
  }

  os::TestSandbox device_{"com.example.newsreader"};
};

TEST_F(SharedUDIDTest, FirstApplicationOnAnEmptyDeviceMakesTheIdentifierAndClaimsSlotZero) {
  os::Error error;
  const std::string id = launch(home())->valueWithError(&error);
  EXPECT_TRUE(SharedUDIDProfile::isWellFormedIdentifier(os::Value(id))) << id;
  EXPECT_EQ(error.domain, "org.SharedUDID");
  EXPECT_EQ(error.code, 0);
  EXPECT_EQ(error.userInfo["description"].stringOr(), "SharedUDID succesfully retrieved");

  auto board = slot(0);
  ASSERT_TRUE(board);
  EXPECT_TRUE(board->isPersistent());
  EXPECT_FALSE(slot(1));
  const os::Dictionary onSlot = slotRecord(0);
  EXPECT_EQ(onSlot["SharedUDID"].stringOr(), id);

  auto record = defaults(home())->dictionaryForKey("SharedUDID");
  ASSERT_TRUE(record);
  EXPECT_EQ((*record)["SharedUDID"].stringOr(), id);
  EXPECT_EQ((*record)["SharedUDID_slot"].stringOr(), "org.SharedUDID.slot.0");
  EXPECT_TRUE((*record)["SharedUDID_createdTS"].isDate());
  // The application id is kept where the next launch looks for it, and matches the slot's.
  EXPECT_EQ(defaults(home())->stringForKey("SharedUDID_appUID"), (*record)["SharedUDID_appUID"].stringOr());
  EXPECT_EQ(onSlot["SharedUDID_appUID"], (*record)["SharedUDID_appUID"]);
}

TEST_F(SharedUDIDTest, LaterLaunchesKeepTheirSlotInsteadOfClaimingMore) {
  const std::string id = launch(home())->value();
  for (int i = 0; i < 5; ++i) EXPECT_EQ(launch(home())->value(), id);
  EXPECT_TRUE(slot(0));
  EXPECT_FALSE(slot(1));
  EXPECT_EQ(defaults(home())->dictionaryForKey("SharedUDID")->operator[]("SharedUDID_slot").stringOr(),
            "org.SharedUDID.slot.0");
}

TEST_F(SharedUDIDTest, ASecondApplicationAdoptsTheIdentifierAndTakesTheNextSlot) {
  const std::string id = launch(home())->value();
  auto messenger = device_.peerApplication("com.example.messenger");
  os::Error error;
  EXPECT_EQ(launch(messenger)->valueWithError(&error), id);
  EXPECT_EQ(error.code, 0);
  EXPECT_EQ(slotRecord(1)["SharedUDID"].stringOr(), id);
  EXPECT_EQ(defaults(messenger)->dictionaryForKey("SharedUDID")->operator[]("SharedUDID_slot").stringOr(),
            "org.SharedUDID.slot.1");
  // Both relaunch without taking further slots, and the first application's record is untouched.
  EXPECT_EQ(launch(messenger)->value(), id);
  EXPECT_EQ(launch(home())->value(), id);
  EXPECT_FALSE(slot(2));
  EXPECT_NE(slotRecord(0)["SharedUDID_appUID"], slotRecord(1)["SharedUDID_appUID"]);
}

TEST_F(SharedUDIDTest, MajorityOfTheSlotsWinsForANewApplication) {
  writeSlot(0, otherApp(kA));
  writeSlot(1, otherApp(kB));
  writeSlot(2, otherApp(kB));
  EXPECT_EQ(launch(home())->value(), kB);
  EXPECT_EQ(slotRecord(3)["SharedUDID"].stringOr(), kB);
  EXPECT_EQ(slotRecord(0)["SharedUDID"].stringOr(), kA);  // others' slots are left alone
}

TEST_F(SharedUDIDTest, LocalRecordWinsOverTheSlotsButReportsTheDiscrepancy) {
  defaults(home())->setObject(os::Value(os::Dictionary{{"SharedUDID", os::Value(kA)}}), "SharedUDID");
  writeSlot(0, otherApp(kB));
  writeSlot(1, otherApp(kB));
  os::Error error;
  EXPECT_EQ(launch(home())->valueWithError(&error), kA);
  EXPECT_EQ(error.code, 2);
  EXPECT_EQ(error.userInfo["description"].stringOr(),
            "Found a discrepancy between stored SharedUDID (reliable) and redundant copies; one of the apps on the "
            "device is most likely corrupting the SharedUDID protocol");
  EXPECT_EQ(slotRecord(2)["SharedUDID"].stringOr(), kA);
}

TEST_F(SharedUDIDTest, ALocalRecordWithoutAnIdentifierGetsOne) {
  const os::Date created = os::Date::fromTimeIntervalSince1970(1700000000);
  defaults(home())->setObject(os::Value(os::Dictionary{{"SharedUDID_createdTS", os::Value(created)}}), "SharedUDID");
  writeSlot(0, otherApp(kB));
  EXPECT_EQ(launch(home())->value(), kB);
  auto record = defaults(home())->dictionaryForKey("SharedUDID");
  ASSERT_TRUE(record);
  EXPECT_EQ((*record)["SharedUDID"].stringOr(), kB);
  EXPECT_EQ((*record)["SharedUDID_createdTS"].date(), created);
  // From now on the record is the reliable copy, even when the slots change their mind.
  writeSlot(0, otherApp(kA));
  writeSlot(2, otherApp(kA));
  os::Error error;
  EXPECT_EQ(launch(home())->valueWithError(&error), kB);
  EXPECT_EQ(error.code, 2);
}

TEST_F(SharedUDIDTest, MalformedSlotsAndRecordsAreNeitherAdoptedNorFatal) {
  writeSlotBytes(0, os::dataFromString("not an archive"));
  writeSlotBytes(1, *os::KeyedArchiver::archivedData(os::ArchiveItem(os::Value(os::Array{kB}))));
  writeSlot(2, {{"SharedUDID", os::Value(std::string(40, 'B'))}});           // upper case
  writeSlot(3, {{"SharedUDID", os::Value(kB.substr(1))}});                   // 39 digits
  writeSlot(4, {{"SharedUDID", os::Value(std::string(40, '0'))}});           // the opted-out marker
  writeSlot(5, {{"SharedUDID", os::Value(42)}, {"SharedUDID_appUID", os::Value(7)}});
  writeSlot(6, {{"SharedUDID", os::Value(kB.substr(0, 39) + "g")}});
  writeSlotBytes(7, os::Data(200 * 1024, 0x62));
  defaults(home())->setObject(os::Value("not a record"), "SharedUDID");
  const std::string id = launch(home())->value();
  EXPECT_TRUE(SharedUDIDProfile::isWellFormedIdentifier(os::Value(id)));
  EXPECT_NE(id, kB);
  // The first slot without a usable identifier is free and is claimed.
  EXPECT_EQ(slotRecord(0)["SharedUDID"].stringOr(), id);
  EXPECT_EQ(defaults(home())->dictionaryForKey("SharedUDID")->operator[]("SharedUDID").stringOr(), id);
}

TEST_F(SharedUDIDTest, OptingOutReportsZerosAcrossLaunchesUntilOptingIn) {
  const std::string id = launch(home())->value();
  auto app = launch(home());
  app->setOptOut(true);
  os::Error error;
  EXPECT_EQ(app->valueWithError(&error), std::string(40, '0'));
  EXPECT_EQ(error.code, 1);
  const std::string appId = *defaults(home())->stringForKey("SharedUDID_appUID");
  const std::string description = error.userInfo["description"].stringOr();
  EXPECT_EQ(description.rfind("Application with unique id " + appId + " is opted-out from SharedUDID as of ", 0), 0u)
      << description;
  EXPECT_EQ(description.size(), description.find(" as of ") + 7 + 25);  // "yyyy-MM-dd HH:mm:ss +0000"
  EXPECT_EQ(launch(home())->value(), std::string(40, '0'));
  // Other applications still see the identifier on the slot.
  EXPECT_EQ(launch(device_.peerApplication("com.example.browser"))->value(), id);

  app->setOptOut(false);
  EXPECT_EQ(app->valueWithError(&error), id);
  EXPECT_EQ(error.code, 0);
  EXPECT_EQ(launch(home())->value(), id);
}

TEST_F(SharedUDIDTest, TheFirstAnswerIsRememberedForTheProcess) {
  auto app = launch(home());
  const std::string id = app->value();
  writeSlot(0, otherApp(kA));
  writeSlot(1, otherApp(kA));
  os::Error error;
  EXPECT_EQ(app->valueWithError(&error), id);
  EXPECT_EQ(error.code, 0);
  EXPECT_EQ(error.userInfo["description"].stringOr(), "SharedUDID in cache from first call");
  // A second copy with its own cache surveys again; one sharing the cache does not.
  EXPECT_EQ(launch(home())->valueWithError(&error), id);
  EXPECT_EQ(error.code, 2);
  SharedUDIDParticipant sharing(SharedUDIDProfile::standard(), app->cache(), home());
  EXPECT_EQ(sharing.valueWithError(&error), id);
  EXPECT_EQ(error.userInfo["description"].stringOr(), "SharedUDID in cache from first call");
}

TEST_F(SharedUDIDTest, CopiesWithOtherNamesKeepTheirOwnSlots) {
  SharedUDIDProfile push;
  push.recordKey = "APS_UDID_TEST";
  push.pasteboardType = push.errorDomain = "org.example.APS_UDID_TEST";
  push.slotPrefix = push.pasteboardType + ".slot.";
  push.displayName = "APSharedUDID";
  push.generator = &SharedUDIDProfile::identifierFromUUIDModulo;

  const std::string shared = launch(home())->value();
  os::Error error;
  const std::string own = launch(home(), push)->valueWithError(&error);
  EXPECT_NE(own, shared);
  EXPECT_EQ(error.domain, "org.example.APS_UDID_TEST");
  EXPECT_EQ(error.userInfo["description"].stringOr(), "APSharedUDID succesfully retrieved");
  EXPECT_TRUE(slot(0, false, push.slotPrefix));
  EXPECT_FALSE(slot(1));
  EXPECT_EQ(defaults(home())->dictionaryForKey("APS_UDID_TEST")->operator[]("APS_UDID_TEST").stringOr(), own);
  EXPECT_TRUE(defaults(home())->stringForKey("APS_UDID_TEST_appUID"));

  // A copy with the shared names but another generator agrees with the first.
  SharedUDIDProfile sharing = SharedUDIDProfile::standard();
  sharing.generator = &SharedUDIDProfile::identifierFromUUID;
  EXPECT_EQ(launch(device_.peerApplication("com.example.sharing"), sharing)->value(), shared);
}

TEST_F(SharedUDIDTest, GeneratorsMakeFortyLowerCaseHexDigits) {
  os::SeededRandomScope seeded(7);
  for (auto generator : {&SharedUDIDProfile::identifierFromProcessUniqueString, &SharedUDIDProfile::identifierFromUUID,
                         &SharedUDIDProfile::identifierFromUUIDModulo}) {
    const std::string a = generator(), b = generator();
    EXPECT_TRUE(SharedUDIDProfile::isWellFormedIdentifier(os::Value(a))) << a;
    EXPECT_NE(a, b);
  }
}

TEST_F(SharedUDIDTest, TheProcessWideCopyUsesTheCurrentSandbox) {
  SharedUDID::setOptOut(false);  // forget what earlier tests left remembered
  const std::string id = SharedUDID::value();
  EXPECT_EQ(slotRecord(0)["SharedUDID"].stringOr(), id);
  os::Error error;
  EXPECT_EQ(SharedUDID::valueWithError(&error), id);
  EXPECT_EQ(error.userInfo["description"].stringOr(), "SharedUDID in cache from first call");
  SharedUDID::setOptOut(false);
}

}  // namespace
