#pragma once
// The stage of the QQ Connect tests: a virtual clock, a fresh sandbox with the reader's bundle
// (its "velmora" + app id scheme and its app-to-app scheme), the reader as the running
// application, and QQ or QZone as peer applications on the same device.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "os/testing/Collect.h"
#include "platforms/qq/QQApiDatastore.h"
#include "qqconnect/apptoapp/VelmoraApiObject.h"
#include "qqconnect/analytics/ConfigManager.h"
#include "qqconnect/analytics/TCDataReport.h"
#include "qqconnect/analytics/VMA4QC.h"
#include "qqconnect/login/OpenApi.h"
#include "qqconnect/login/VelmoraOAuth.h"
#include "qqconnect/login/VelmoraSessionDelegate.h"
#include "os/core/URL.h"
#include "os/net/HostLookup.h"
#include "os/net/NetworkReachability.h"
#include "os/runtime/Clock.h"
#include "os/runtime/RunLoop.h"
#include "os/testing/FakeReachabilityProvider.h"
#include "os/testing/HttpTestServer.h"
#include "os/testing/ScreenHelpers.h"
#include "os/testing/TestPeerApplication.h"
#include "os/testing/TestSandbox.h"
#include "os/views/AlertView.h"
#include "os/views/Application.h"

namespace qctest {

inline constexpr const char* kAppId = "100393032";
inline constexpr const char* kReplyScheme = "velmora100393032";
inline constexpr const char* kAppToAppScheme = "velmoraapi100393032";

// The reader hands every URL it is opened with to the QQ Connect client, as its sharing handler does.
struct Reader : os::ApplicationDelegate {
  bool openURL(os::Application&, const os::URL& url, const std::string&, const os::Value&) override {
    return VelmoraOAuth::HandleOpenURL(url.absoluteString());
  }
};

// Records every callback of the session.
struct Recorder : VelmoraSessionDelegate {
  std::vector<std::string> calls;
  std::vector<std::shared_ptr<VelmoraApiReq>> requests;
  bool takeRequests = true;
  bool takesLogout = true;
  void velmoraDidLogin() override { calls.push_back("login"); }
  void velmoraDidNotLogin(bool cancelled) override { calls.push_back(cancelled ? "cancelled" : "failed"); }
  void velmoraDidNotNetWork() override { calls.push_back("no network"); }
  bool velmoraDidLogout() override {
    if (takesLogout) calls.push_back("logout");
    return takesLogout;
  }
  bool apiCommandResponse(const std::string& selector, const std::shared_ptr<APIResponse>&) override {
    calls.push_back(selector);
    return selector != "01Response:";
  }
  void responseDidReceived(const std::shared_ptr<APIResponse>&, const std::string& message) override {
    calls.push_back("received " + message);
  }
  bool onVelmoraReq(const std::shared_ptr<VelmoraApiReq>& req) override {
    requests.push_back(req);
    return takeRequests;
  }
};

// The QQ and QZone applications' own request class: archived under the shared class name.
struct PeerReq : os::Archivable {
  explicit PeerReq(std::int32_t p = 1) : platform(p) {}
  std::int32_t platform;
  std::vector<std::shared_ptr<os::Archivable>> messages;
  std::vector<std::string> archiveClassNames() const override { return {"VelmoraApiReq", os::kArchiveRootClass}; }
  void encodeWithCoder(os::KeyedArchiver& c) const override {
    c.encodeInt(5, "nMessageType");
    c.encodeInt(platform, "nPlatform");
    c.encodeInt(2, "nSdkVersion");
    c.encodeInt(77, "nSeq");
    std::vector<os::ArchiveItem> items(messages.begin(), messages.end());
    c.encodeObject(os::ArchiveItem::array(items), "arrMessage");
    c.encodeObject(os::Value("222222"), "sAppID");
    c.encodeObject(os::Value("from qzone"), "description");
  }
};

// An "expires_in" text whose exponent is at or past the edge of a 64-bit integer, and the expiry
// it gives: a huge positive power is a value beyond the range (the default month), a huge
// negative one less than a second (over at once), whatever the mantissa's digits add or take away.
struct HugeExponent {
  std::string text;
  std::optional<double> seconds;  // none: the default month
  os::Date expiry() const { return os::Date::now().addingTimeInterval(seconds.value_or(2592000)); }
};

inline std::vector<HugeExponent> hugeExponentCases() {
  const std::optional<double> month, now = 0;
  const std::string zeros(400, '0');
  return {{"10e9223372036854775807", month},
          {"0.01e-9223372036854775807", now},
          {"1e9223372036854775807", month},
          {"1e+9223372036854775807", month},
          {"-1e9223372036854775807", month},
          {"-10e-9223372036854775807", now},
          {"99.9e9223372036854775806", month},
          {"0.001e-9223372036854775806", now},
          {"1e-9223372036854775808", now},
          {"1e99999999999999999999999999", month},
          {"1e-99999999999999999999999999", now},
          {"0.5e+18446744073709551617", month},
          {"1e0000000000000000000000000000400", month},
          {"1e-000000000000000000000000000000400", now},
          {"1e00000000000000000000000000000003", 1000},
          {"1" + zeros + "e-400", 1},
          {"1" + zeros + "e-403", now},
          {"0." + zeros + "1e403", 100},
          {"1" + zeros + "e-9223372036854775807", now},
          {"0." + zeros + "1e9223372036854775807", month},
          {"1" + zeros + "e-99999999999999999999999999", now}};
}

class QQConnectTest : public ::testing::Test {
 protected:
  // Every session fetches the policy and may report: the deployment's hosts fail at once here,
  // and tests that look at them give loopback endpoints.
  static std::vector<std::string> reportingHosts() {
    std::vector<std::string> hosts;
    for (const char* url : {ConfigManager::kDefaultPolicyURL, TCDataReport::kDefaultReportURL})
      if (auto parsed = os::URL::parse(url); parsed && parsed->host()) hosts.push_back(*parsed->host());
    return hosts;
  }
  void SetUp() override {
    for (const auto& host : reportingHosts()) os::HostLookup::setOverride(host, std::nullopt);
    QQApiDatastore::instance().reset();
    OpenApi::clearParam();
    sandbox.setInfoDictionary(os::Dictionary{
        {"CFBundleIdentifier", "com.example.newsreader"},
        {"CFBundleDisplayName", "军事新闻"},
        {"CFBundleVersion", "3.1"},
        {"CFBundleURLTypes",
         os::Array{os::Dictionary{{"CFBundleURLSchemes", os::Array{kReplyScheme}}},
                   os::Dictionary{{"CFBundleURLName", "velmoraApiIdentifier"},
                                  {"CFBundleURLSchemes", os::Array{kAppToAppScheme}}}}}});
    reader = os::Application::create(std::make_shared<Reader>(), "com.example.newsreader");
    reader->makeShared();
    reader->registerURLSchemes({kReplyScheme, kAppToAppScheme});
    reader->launch();
  }
  void TearDown() override {
    // Sessions start the shared analytics client: its queued work reads this test's sandbox.
    VMA4QC::getInstance().flush();
    os::testing::dismissVisibleAlerts(0);
    reader->terminate();
    os::RunLoop::main()->runUntilIdle();
    OpenApi::clearParam();
    QQApiDatastore::instance().reset();
    for (const auto& host : reportingHosts()) os::HostLookup::removeOverride(host);
  }
  std::shared_ptr<os::TestPeerApplication> installQQ(std::vector<std::string> schemes) {
    return sandbox.launchPeerApplication("com.velmora.mqq", schemes);
  }
  std::shared_ptr<os::TestPeerApplication> installQZone(std::vector<std::string> schemes) {
    return sandbox.launchPeerApplication("com.velmora.qzone", schemes);
  }
  // A session already logged in (token "TOK", open id "OID", an hour left) whose OpenAPI calls
  // go to `openApi`.
  static std::shared_ptr<VelmoraOAuth> loggedInSession(os::testing::HttpTestServer& openApi,
                                                       const std::shared_ptr<VelmoraSessionDelegate>& delegate) {
    VelmoraOAuthEndpoints endpoints;
    endpoints.openApiBase = openApi.url("/");
    auto session = VelmoraOAuth::initWithAppId(kAppId, delegate, endpoints);
    session->setAccessToken("TOK");
    session->setExpirationDate(os::Date::now().addingTimeInterval(3600));
    session->setOpenId("OID");
    return session;
  }
  bool run(const std::function<bool()>& condition) { return os::RunLoop::main()->runUntil(condition, 10); }
  void settle() { os::RunLoop::main()->runUntilIdle(); }
  static std::vector<std::string> alertTitles() {
    return os::testing::collect(os::AlertView::visibleAlertViews(), [](const auto& a) { return a->title(); });
  }

  os::VirtualClockScope clock;
  os::TestSandbox sandbox;
  os::testing::SharedFakeReachability reachability;
  std::shared_ptr<os::Application> reader;
};

}  // namespace qctest
