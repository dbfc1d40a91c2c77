#include <gtest/gtest.h>

#include "os/net/HostLookup.h"
#include "os/net/NetworkReachability.h"
#include "os/runtime/Clock.h"
#include "os/runtime/RunLoop.h"
#include "os/testing/FakeReachabilityProvider.h"
#include "os/testing/HttpTestServer.h"
#include "os/testing/TcpTestPeer.h"
#include "os/testing/TestSandbox.h"
#include "os/testing/UdpTestPeer.h"
#include "os/testing/Waits.h"
#include "push/network/DUVHttpSession.h"
#include "push/network/DUVNetworkService.h"
#include "push/network/DUVReachability.h"
#include "push/model/DUVNotifications.h"
#include "push/network/address/DUVAddressController.h"
#include "push/utilities/DUVUserDefaults.h"

namespace {

using os::testing::runUntil;

class DUVAddressControllerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    endpoints_.lookupHosts = {"sis1.test", "sis2.test", "sis3.test", "sis4.test"};
    endpoints_.lookupPort = first_.port();
    endpoints_.lookupBackupPort = backup_.port();
    endpoints_.defaultCoreHost = "core.test";
    endpoints_.defaultCoreAddress = "127.0.0.9:3000";
    for (const char* host : {"sis1.test", "sis2.test", "sis3.test"}) os::HostLookup::setOverride(host, "127.0.0.1");
    os::HostLookup::setOverride("sis4.test", std::nullopt);
    os::HostLookup::setOverride("core.test", std::nullopt);
    controller_->setOnUpdated([this](DUVAddressController&) { ++updates_; });
  }
  void TearDown() override { os::HostLookup::removeAllOverrides(); }
  void lookupAnswered(const std::string& reply) {
    controller_->updateAddresses();
    ++asked_;
    ASSERT_TRUE(runUntil([&] { return first_.datagrams().size() == asked_; }));
    first_.reply(os::dataFromString(reply));
    ASSERT_TRUE(runUntil([&] { return updates_ == asked_; }));
  }

  os::VirtualClockScope clock_;
  os::TestSandbox sandbox_;
  os::NotificationCenter center_;
  std::shared_ptr<DUVUserDefaults> identity_ = DUVUserDefaults::create("com.example.newsreader", "abc123", center_);
  os::testing::UdpTestPeer first_, backup_;
  DUVServiceEndpoints endpoints_;
  std::shared_ptr<DUVAddressController> controller_ = DUVAddressController::create(identity_, endpoints_);
  std::size_t updates_ = 0;
  std::size_t asked_ = 0;
};

TEST_F(DUVAddressControllerTest, RequestLayoutAndTextRooms) {
  identity_->setUid(0x1234, "pw", "r");
  auto wifi = DUVAddressController::create(identity_, endpoints_, {[] { return 2L; }, [] { return std::nullopt; }});
  os::Data request = wifi->requestData();
  ASSERT_EQ(request.size(), 128u);
  EXPECT_EQ((os::Data(request.begin(), request.begin() + 11)), (os::Data{0x80, 0, 'U', 'E', 0, 4, 0x34, 0, 0, 0, 0}));
  EXPECT_EQ(os::stringFromData(os::Data(request.begin() + 42, request.begin() + 48)), "abc123");
  EXPECT_EQ(os::stringFromData(os::Data(request.begin() + 92, request.begin() + 97)), "1.8.1");

  std::string longName(200, 'c');
  auto cellular = DUVAddressController::create(identity_, endpoints_, {[] { return 3L; }, [&] { return longName; }});
  request = cellular->requestData();
  EXPECT_EQ(request.size(), 128u);  // nothing written past its end
  EXPECT_EQ(request[127], 'c');
}

TEST_F(DUVAddressControllerTest, RepliesAndTheirFallbacks) {
  lookupAnswered(R"({"ips":["10.0.0.1:4000","10.0.0.2"],"user":"10.0.0.5:81"})");
  EXPECT_EQ(controller_->coreAddress()->text(), "127.0.0.9:3000");  // two entries: not used
  EXPECT_FALSE(controller_->reportAddress());
  EXPECT_EQ(controller_->attributeReportAddress()->httpWrapAddress, "http://10.0.0.5:81/v1/user/");

  lookupAnswered(R"({"ips":["10.0.0.1:4000","10.0.0.2","10.0.0.3:5000"]})");
  EXPECT_EQ(controller_->coreAddress()->text(), "10.0.0.1:4000");
  EXPECT_EQ(controller_->reportAddress()->httpWrapAddress, "http://10.0.0.3:5000/v2/report");
  EXPECT_EQ(identity_->defaultConAddress(), "10.0.0.2");
  EXPECT_EQ(endpoints_.defaultCoreAddress, "10.0.0.2");

  // Garbage: the stored backups serve, the backup core address without a port on port 80.
  lookupAnswered("not json");
  EXPECT_EQ(controller_->coreAddress()->text(), "10.0.0.2:80");
  EXPECT_EQ(controller_->reportAddress()->text(), "10.0.0.3:5000");
  EXPECT_EQ(controller_->attributeReportAddress()->text(), "10.0.0.5:81");
  os::HostLookup::setOverride("core.test", "127.0.0.7");
  lookupAnswered(R"({"ips":["","",""]})");
  EXPECT_EQ(controller_->coreAddress()->text(), "127.0.0.7:3000");
}

// A host that could not stand in a URL as it is would come back out of the stored URL as another
// host: such entries are refused, and what is stored reads back as the same host and port.
TEST_F(DUVAddressControllerTest, OnlyAddressesThatReadBackAreTakenAndStored) {
  for (const char* text : {"u.example/p:5", "u@x:1", "u?x", "u#x:2", "a b:3", "a\tb", "a\\b", ":80", ""})
    EXPECT_FALSE(DUVAddress::initWithString(text)) << text;
  EXPECT_EQ(DUVAddress::initWithString("u.example:5")->text(), "u.example:5");

  lookupAnswered(R"({"ips":["u.example/p:5","a b:6","10.0.0.3/x:5000"],"user":"u.example/p:5"})");
  EXPECT_EQ(controller_->coreAddress()->text(), "127.0.0.9:3000");
  EXPECT_FALSE(controller_->reportAddress());
  EXPECT_FALSE(controller_->attributeReportAddress());
  EXPECT_EQ(identity_->defaultConAddress(), std::nullopt);
  EXPECT_EQ(identity_->backupReportAddress(), std::nullopt);
  EXPECT_EQ(identity_->attributeReportAddress(), std::nullopt);

  lookupAnswered(R"({"ips":["10.0.0.1:4000","10.0.0.2:4001","10.0.0.3:70000"],"user":"u.example:81"})");
  auto report = *controller_->reportAddress();
  auto attribute = *controller_->attributeReportAddress();
  EXPECT_EQ(report.text(), "10.0.0.3:80");  // a port that does not fit is 80, in the URL too
  EXPECT_EQ(report.httpWrapAddress, "http://10.0.0.3:80/v2/report");
  // A failed lookup: everything comes back from the store as it was.
  lookupAnswered("not json");
  EXPECT_EQ(controller_->coreAddress()->text(), "10.0.0.2:4001");
  EXPECT_EQ(controller_->reportAddress()->text(), report.text());
  EXPECT_EQ(controller_->reportAddress()->httpWrapAddress, report.httpWrapAddress);
  EXPECT_EQ(controller_->attributeReportAddress()->text(), attribute.text());
  EXPECT_EQ(controller_->attributeReportAddress()->httpWrapAddress, "http://u.example:81/v1/user/");
}

TEST_F(DUVAddressControllerTest, NoReplyTriesTheBackupPortOnceThenFallsBackAfterTwelveSeconds) {
  controller_->updateAddresses();
  ASSERT_TRUE(runUntil([&] { return first_.datagrams().size() == 1; }));
  os::Clock::advance(7.9);
  os::RunLoop::current()->runUntilIdle();
  EXPECT_TRUE(backup_.datagrams().empty());
  os::Clock::advance(0.1);
  ASSERT_TRUE(runUntil([&] { return !backup_.datagrams().empty(); }));
  os::Clock::advance(4);
  ASSERT_TRUE(runUntil([&] { return updates_ == 1u; }));
  EXPECT_EQ(first_.datagrams().size(), 1u);
  EXPECT_EQ(backup_.datagrams().size(), 1u);
  EXPECT_EQ(controller_->coreAddress()->text(), "127.0.0.9:3000");
  EXPECT_FALSE(controller_->isLookingUp());
}

// The built-in lookup port may belong to another program on the machine: a host route sends the
// lookup to the push service wherever it listens, and a route that makes the host fail sends none.
TEST_F(DUVAddressControllerTest, AHostRouteLeadsTheLookupPortElsewhere) {
  endpoints_.lookupPort = 19000;
  os::HostLookup::mapHost("127.0.0.1", 19000, "127.0.0.1", first_.port());
  lookupAnswered(R"({"ips":["10.0.0.1:4000","10.0.0.2","10.0.0.3:5000"]})");
  EXPECT_EQ(controller_->coreAddress()->text(), "10.0.0.1:4000");
  EXPECT_EQ(first_.datagrams().size(), 1u);
}

TEST_F(DUVAddressControllerTest, AnUnresolvedLookupHostMovesTheIndexOn) {
  identity_->setSisHostIndex(3);
  EXPECT_EQ(controller_->getSisHostAddress(), "127.0.0.1");  // the default lookup address
  EXPECT_EQ(identity_->sisHostIndex(), 4u);
  controller_->getSisHostAddress();
  EXPECT_EQ(identity_->sisHostIndex(), 0u);
  EXPECT_EQ(DUVAddress::analyseResourcePath("http://10.0.0.1:80/v2/report"), "/v2/report");
  EXPECT_EQ(DUVAddress::analyseResourcePath("push.example"), std::nullopt);
}

// The report and user-service hosts are deployment values: without them in the configuration a
// report goes straight to the address the lookup named, never to a guessed one first.
TEST(DUVReportAddresses, WithoutConfiguredHostsReportsGoToTheLookedUpAddress) {
  os::TestSandbox sandbox;
  os::testing::HttpTestServer service;
  service.route("POST", "/v2/report", os::testing::CannedResponse::text("", 200));
  os::testing::TcpTestPeer guessed;
  os::HostLookup::mapHost("127.0.0.1", 80, "127.0.0.1", guessed.port());
  os::NotificationCenter center;
  auto identity = DUVUserDefaults::create("com.example.newsreader", "abc123", center);
  identity->setUid(5, "pw", "r");
  DUVServiceEndpoints endpoints = DUVServiceEndpoints::fromConfig({{"APP_KEY", os::Value("abc123")}});
  DUVHttpSession::Environment environment;
  environment.identity = identity;
  environment.endpoints = &endpoints;
  environment.networkStatus = [] { return 2L; };
  auto looked = DUVAddress::initWithString("127.0.0.1:" + std::to_string(service.port()), "/v2/report");
  environment.reportAddress = [looked] { return looked; };
  auto reports = DUVHttpSession::create(environment);
  reports->reportMsgStatus(2001, 42);
  EXPECT_TRUE(runUntil([&] { return service.requestCount() == 1; }));
  EXPECT_EQ(guessed.acceptedCount(), 0u);
  os::HostLookup::removeAllOverrides();
}

TEST(DUVNetworkService, StatusesAndChanges) {
  using namespace os;
  EXPECT_EQ(DUVReachability::networkStatusForFlags(kReachabilityFlagsReachable | kReachabilityFlagsConnectionRequired), 0);
  EXPECT_EQ(DUVReachability::networkStatusForFlags(kReachabilityFlagsReachable | kReachabilityFlagsConnectionRequired |
                                     kReachabilityFlagsConnectionOnTraffic),
            2);
  EXPECT_EQ(DUVReachability::networkStatusForFlags(kReachabilityFlagsReachable | kReachabilityFlagsConnectionRequired |
                                     kReachabilityFlagsConnectionOnTraffic | kReachabilityFlagsInterventionRequired),
            0);
  EXPECT_EQ(DUVReachability::networkStatusForFlags(kReachabilityFlagsReachable | kReachabilityFlagsIsWWAN |
                                     kReachabilityFlagsConnectionRequired),
            3);
  EXPECT_EQ(DUVReachability::networkStatusForFlags(kReachabilityFlagsReachable), 2);
  EXPECT_EQ(DUVReachability::networkStatusForFlags(kReachabilityFlagsIsWWAN), 0);

  os::testing::SharedFakeReachability fake;
  fake->setDefaultFlags(0u);
  TestSandbox sandbox;
  NotificationCenter center;
  // The link-local watcher judges by the local Wi-Fi rule: Reachable and IsDirect, or nothing.
  auto local = DUVReachability::reachabilityForLocalWiFi(center);
  ASSERT_TRUE(local && local->localWiFiRef());
  fake->setFlags(os::testing::FakeReachabilityProvider::kLocalWiFi, kReachabilityFlagsReachable);
  EXPECT_EQ(local->currentReachabilityStatus(), 0);
  fake->setFlags(os::testing::FakeReachabilityProvider::kLocalWiFi, os::testing::FakeReachabilityProvider::kWiFi);
  EXPECT_EQ(local->currentReachabilityStatus(), 2);
  // Changes are posted on the private centre, with the watcher as the object.
  int changes = 0;
  auto token = center.addObserver(kDUVNetworkReachabilityChangedNotification, local->notificationObject(),
                                  [&](const Notification&) { ++changes; });
  ASSERT_TRUE(local->startNotifier());
  fake->setFlags(os::testing::FakeReachabilityProvider::kLocalWiFi, 0u);
  EXPECT_TRUE(runUntil([&] { return changes == 1; }));
  local.reset();
  center.removeObserver(token);

  auto identity = DUVUserDefaults::create("com.example.newsreader", "abc123", center);
  std::vector<std::string> calls;
  auto service = DUVNetworkService::create(center, identity, {[&] { calls.push_back("setup"); },
                                                              [&] { calls.push_back("close"); },
                                                              nullptr});
  service->trySetupSession();
  EXPECT_TRUE(calls.empty());  // not reachable
  fake->setDefaultFlags(kReachabilityFlagsReachable);
  RunLoop::current()->runUntilIdle();
  EXPECT_EQ(service->currentNetworkStatus(), 2);
  fake->setDefaultFlags(kReachabilityFlagsReachable | kReachabilityFlagsIsWWAN);
  RunLoop::current()->runUntilIdle();
  EXPECT_EQ(calls, (std::vector<std::string>{"close", "setup", "close", "setup"}));
  service.reset();
}

}  // namespace
