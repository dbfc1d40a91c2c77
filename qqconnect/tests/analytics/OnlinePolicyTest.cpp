// The online policy and the action reports against a loopback policy and report CGI.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "os/net/NetworkReachability.h"
#include "os/runtime/Clock.h"
#include "os/runtime/RunLoop.h"
#include "os/store/FileManager.h"
#include "os/store/PropertyList.h"
#include "os/store/Sandbox.h"
#include "os/testing/CutShortWrite.h"
#include "os/testing/FakeReachabilityProvider.h"
#include "os/testing/HttpTestServer.h"
#include "os/testing/NoDescriptorLeft.h"
#include "os/testing/TestSandbox.h"
#include "qqconnect/analytics/ConfigManager.h"
#include "qqconnect/analytics/TCDataReport.h"
#include "qqconnect/analytics/VMA4QC.h"
#include "qqconnect_core/login/APIResponse.h"

namespace {
using os::testing::CannedResponse;
using os::testing::HttpTestServer;

std::shared_ptr<APIResponse> answer(os::Dictionary json) {
  auto response = std::make_shared<APIResponse>();
  response->setRetCode(0);
  response->setJsonResponse(std::move(json));
  return response;
}

class OnlinePolicyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reach_->setDefaultFlags(os::kReachabilityFlagsReachable | os::kReachabilityFlagsIsWWAN);
  }

  std::string cachePath() const { return sandbox_.sandbox()->documentsDirectory() + "/" + ConfigManager::kCacheFileName; }
  std::shared_ptr<ConfigManager> manager() { return ConfigManager::create(cachePath(), server_.url("/policy")); }
  bool run(const std::function<bool()>& condition) { return os::RunLoop::main()->runUntil(condition, 10); }

  os::VirtualClockScope clock_{1.7e9};
  os::TestSandbox sandbox_;
  os::testing::SharedFakeReachability reach_;
  HttpTestServer server_;
};

TEST_F(OnlinePolicyTest, AnswersUpdateTheCachedPolicy) {
  auto policy = manager();
  std::vector<bool> switches;
  policy->setReportSwitch([&](bool on) { switches.push_back(on); });
  policy->requestConfigResponse(answer({{"ret", os::Value(1)}, {"Common_frequency", os::Value(12)}}));
  EXPECT_FALSE(os::FileManager::defaultManager().fileExistsAtPath(cachePath()));
  policy->requestConfigResponse(
      answer({{"ret", os::Value(0)}, {"Common_frequency", os::Value(12)}, {"Common_ta_enable", os::Value("0")}}));
  EXPECT_EQ(policy->config()["ConfigTimeFrequency"].doubleValue(), 12.0);
  EXPECT_TRUE(policy->isDataReportEnable());  // a text is not the switch
  EXPECT_EQ(switches, std::vector<bool>{true});
  auto cached = os::PropertyList::readFile(cachePath());
  ASSERT_TRUE(cached);
  EXPECT_EQ((*cached)["ConfigTimeStamp"].doubleValue(), 1.7e9);
  policy->requestConfigResponse(answer({{"Common_ta_enable", os::Value(0)}}));
  EXPECT_FALSE(manager()->isDataReportEnable());  // read back from the cache
}

TEST_F(OnlinePolicyTest, AnUnreadableCacheFallsBackToTheDefaultsAndIsRewritten) {
  os::FileManager::defaultManager().writeData(os::dataFromString("not a property list"), cachePath());
  auto policy = manager();
  EXPECT_TRUE(policy->isDataReportEnable());
  auto cached = os::PropertyList::readFile(cachePath());
  ASSERT_TRUE(cached && cached->isDictionary());
  EXPECT_EQ((*cached)["CommonSSOQZoneSchema"], os::Value("mqq"));
}

// A cache no read will ever get (here a socket bound at its path, which not even the superuser
// reads) is not waited for: the run starts from the defaults and the next answer is stored.
TEST_F(OnlinePolicyTest, ACacheNoReadWillEverGetIsReplacedByTheNextAnswer) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(cachePath().size(), sizeof(address.sun_path));
  std::memcpy(address.sun_path, cachePath().c_str(), cachePath().size());
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  ::close(fd);

  auto policy = manager();
  EXPECT_TRUE(policy->isDataReportEnable());
  policy->requestConfigResponse(answer({{"Common_ta_enable", os::Value(0)}}));
  auto cached = os::PropertyList::readFile(cachePath());
  ASSERT_TRUE(cached && cached->isDictionary());
  EXPECT_FALSE((*cached)["DataReportEnable"].boolValue());
  EXPECT_FALSE(manager()->isDataReportEnable());
}

// No server, so no thread of it opens or closes a descriptor while a test holds every one.
class OnlinePolicyWithoutDescriptorsTest : public ::testing::Test {
 protected:
  std::string cachePath() const { return sandbox_.sandbox()->documentsDirectory() + "/" + ConfigManager::kCacheFileName; }
  std::shared_ptr<ConfigManager> manager() { return ConfigManager::create(cachePath(), "http://127.0.0.1:9/policy"); }

  os::VirtualClockScope clock_{1.7e9};
  os::TestSandbox sandbox_;
};

// A start that finds the cache but cannot read it (no descriptor left) goes on with the defaults,
// but the stored policy is not lost: it is read again before the next save, or before the next
// check of its age, and keeps what it held beneath what this run's answers changed.
TEST_F(OnlinePolicyWithoutDescriptorsTest, ACacheThatCouldNotBeReadAtStartIsReadAgainBeforeASaveGoesOverIt) {
  manager()->requestConfigResponse(answer({{"Common_ta_enable", os::Value(0)},
                                           {"Common_SSO_QzoneVersion", os::Value("4.1")}}));
  auto stored = [&] {
    auto cached = os::PropertyList::readFile(cachePath());
    return cached && cached->isDictionary() ? *cached->dictionary() : os::Dictionary{};
  };
  const os::Dictionary saved = stored();
  ASSERT_EQ(saved["CommonSSoQZoneVersion"], os::Value("4.1"));
  auto blindStart = [&] {
    os::testing::NoDescriptorLeft none;
    return manager();
  };

  auto answered = blindStart();
  EXPECT_TRUE(answered->isDataReportEnable());  // the defaults meanwhile
  EXPECT_EQ(stored(), saved);
  answered->requestConfigResponse(answer({{"Common_frequency", os::Value(12)}}));
  EXPECT_FALSE(answered->isDataReportEnable());
  os::Dictionary after = stored();
  EXPECT_FALSE(after["DataReportEnable"].boolValue());
  EXPECT_EQ(after["CommonSSoQZoneVersion"], os::Value("4.1"));
  EXPECT_EQ(after["ConfigTimeFrequency"].doubleValue(), 12.0);

  // An answer while the file still cannot be read writes nothing, and stays over what is read.
  auto checked = blindStart();
  {
    os::testing::NoDescriptorLeft none;
    checked->requestConfigResponse(answer({{"Common_SSO", os::Value(5)}}));
  }
  EXPECT_EQ(stored(), after);
  checked->updateConfig();
  EXPECT_FALSE(checked->isDataReportEnable());
  EXPECT_EQ(checked->config()["ConfigTimeFrequency"].doubleValue(), 12.0);
  EXPECT_EQ(checked->config()["CommonSSo"].intValue(), 5);
  checked->requestConfigResponse(answer({{"Common_SSO_QZoneSchema", os::Value("qq")}}));
  after = stored();
  EXPECT_FALSE(after["DataReportEnable"].boolValue());
  EXPECT_EQ(after["CommonSSo"].intValue(), 5);
  EXPECT_EQ(after["CommonSSOQZoneSchema"], os::Value("qq"));
  EXPECT_EQ(after["CommonSSoQZoneVersion"], os::Value("4.1"));
}

// A save of the policy killed part-way leaves its temporary file in the documents folder: the
// next start's manager removes it and reads the saved policy; other files' leftovers stay.
TEST_F(OnlinePolicyTest, TheNextStartRemovesWhatASaveCutShortLeft) {
  auto& files = os::FileManager::defaultManager();
  manager()->requestConfigResponse(answer({{"Common_ta_enable", os::Value(0)}}));
  const std::string cutShort = os::testing::plantCutShortWrite(cachePath(), 1);
  const std::string others = os::testing::plantCutShortWrite(sandbox_.sandbox()->documentsDirectory() + "/notes", 1);
  ASSERT_FALSE(cutShort.empty() || others.empty());

  EXPECT_FALSE(manager()->isDataReportEnable());
  EXPECT_FALSE(files.fileExistsAtPath(cutShort));
  EXPECT_TRUE(files.fileExistsAtPath(others));
}

TEST_F(OnlinePolicyTest, TheSharedPolicyIsCachedInTheCurrentSandbox) {
  auto shared = ConfigManager::GetInstance();
  EXPECT_EQ(shared->path(), cachePath());
  EXPECT_EQ(ConfigManager::GetInstance(), shared);
  os::TestSandbox fresh;
  EXPECT_EQ(ConfigManager::GetInstance()->path(),
            fresh.sandbox()->documentsDirectory() + "/" + ConfigManager::kCacheFileName);
}

TEST_F(OnlinePolicyTest, ApiUsageFetchesADuePolicyAndReportsGoOut) {
  server_.route("GET", "/policy", CannedResponse::text("{\"ret\":0,\"Common_ta_enable\":0}"));
  server_.route("GET", "/report", CannedResponse::text("ok"));
  auto policy = manager();
  policy->setAppid("100");
  VMA4QC::Options options{sandbox_.sandbox()->documentsDirectory(), server_.url("/analytics"),
                          sandbox_.sandbox()->standardUserDefaults(), false};
  VMA4QC analytics(options);
  TCDataReport report(policy, analytics, server_.url("/report"));
  policy->setReportSwitch([&](bool on) { report.mtaSetEnable(on); });

  report.mtaStart("100");
  report.mtaReportApi("get_user_info");  // timestamp 0: due
  analytics.flush();
  ASSERT_TRUE(run([&] { return !policy->isDataReportEnable(); }));
  auto fetch = server_.requests().at(0);
  EXPECT_EQ(fetch.path, "/policy");
  EXPECT_EQ(fetch.queryParameters.find("client_id")->second, "100");
  EXPECT_EQ(fetch.queryParameters.find("oauth_consumer_key")->second, "100");
  EXPECT_FALSE(analytics.config().get().statEnable);
  EXPECT_EQ(analytics.store().getStoredEventsNum(), 2u);  // the session and "requireApi"

  EXPECT_TRUE(report.reportData(1, "10786", "100", std::nullopt));  // flagged: nothing goes
  EXPECT_FALSE(report.reportBonuliData(std::nullopt, "100", std::nullopt));
  EXPECT_TRUE(report.reportDataWithTime(0, "10784", "100", 42.7, std::nullopt));
  ASSERT_TRUE(run([&] { return server_.requestCount() == 2; }));
  auto sent = server_.requests().at(1);
  EXPECT_EQ(sent.path, "/report");
  EXPECT_EQ(sent.queryParameters.find("qver")->second, "ios.SDK.1.8");
  EXPECT_EQ(sent.queryParameters.find("nValue")->second, "10784");
  EXPECT_EQ(sent.queryParameters.find("elt")->second, "42");
}

}  // namespace
