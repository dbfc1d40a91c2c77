// fuzz-link: qqconnect platforms qqconnect_core foundation os os_testing
// fuzz-runs: 500
// Single sign-on replies as the QQ application leaves them: a URL of the reader's reply scheme
// and the archive on the pasteboard it names. Input: one choice (whether a login waits), the URL
// up to a line break, then the pasteboard's bytes. Nothing may crash; a reply fills the session
// only while a login waits, and a login ends in at most one outcome that matches what was kept.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/support/FuzzSupport.h"
#include "os/core/URL.h"
#include "os/net/HostLookup.h"
#include "os/runtime/RunLoop.h"
#include "os/store/KeyedArchive.h"
#include "os/store/Pasteboard.h"
#include "os/testing/TestPeerApplication.h"
#include "os/testing/TestSandbox.h"
#include "os/views/Application.h"
#include "qqconnect/analytics/ConfigManager.h"
#include "qqconnect/analytics/TCDataReport.h"
#include "qqconnect/login/OpenApi.h"
#include "qqconnect/login/VelmoraOAuth.h"

namespace {

constexpr const char* kAppId = "100393032";
constexpr const char* kReplyScheme = "velmora100393032";

struct Outcomes : VelmoraSessionDelegate {
  std::vector<std::string> calls;
  void velmoraDidLogin() override { calls.push_back("login"); }
  void velmoraDidNotLogin(bool cancelled) override { calls.push_back(cancelled ? "cancelled" : "failed"); }
  void velmoraDidNotNetWork() override { calls.push_back("no network"); }
};

struct Reader : os::ApplicationDelegate {};

// The reader with its reply scheme, QQ able to take a login, and a registered session.
struct Stage {
  Stage() {
    // The session fetches its policy on creation: nothing leaves the machine.
    for (const char* address : {ConfigManager::kDefaultPolicyURL, TCDataReport::kDefaultReportURL})
      if (auto parsed = os::URL::parse(address); parsed && parsed->host())
        os::HostLookup::setOverride(*parsed->host(), std::nullopt);
    sandbox.setInfoDictionary(os::Dictionary{
        {"CFBundleIdentifier", "com.example.newsreader"},
        {"CFBundleDisplayName", "军事新闻"},
        {"CFBundleURLTypes", os::Array{os::Dictionary{{"CFBundleURLSchemes", os::Array{kReplyScheme}}}}}});
    reader = os::Application::create(std::make_shared<Reader>(), "com.example.newsreader");
    reader->makeShared();
    reader->registerURLSchemes({kReplyScheme});
    reader->launch();
    qq = sandbox.launchPeerApplication("com.velmora.mqq", {"mqq", "mqqOpensdkSSoLogin", "mqqopensdkapiV2"});
    session = VelmoraOAuth::initWithAppId(kAppId, outcomes);
  }
  os::TestSandbox sandbox;
  std::shared_ptr<os::Application> reader;
  std::shared_ptr<os::TestPeerApplication> qq;
  std::shared_ptr<Outcomes> outcomes = std::make_shared<Outcomes>();
  std::shared_ptr<VelmoraOAuth> session;
};

Stage& stage() {
  static Stage s;
  return s;
}

std::vector<fuzz::Seed> seeds() {
  const std::string url = std::string("1") + kReplyScheme + "://qzapp/anything/0?generalpastboard=1\n";
  std::vector<fuzz::Seed> out;
  auto add = [&](const char* name, const os::Dictionary& reply) {
    if (auto data = os::KeyedArchiver::archivedData(os::Value(reply)))
      out.push_back({name, url + std::string(data->begin(), data->end())});
  };
  add("login", os::Dictionary{{"openid", "OID"}, {"access_token", "TOK"}, {"expires_in", 7776000},
                              {"encrytoken", "E"}, {"pay_token", "P"}});
  add("never_expires", os::Dictionary{{"openid", "OID"}, {"access_token", "TOK"}, {"expires_in", "0"}});
  add("cancelled", os::Dictionary{{"user_cancelled", "YES"}});
  return out;
}
FUZZ_SEEDS(seeds);

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Stage& s = stage();
  fuzz::Input in(data, size);
  const bool waiting = in.flag();
  const std::string url = in.until('\n');
  const std::string bytes = in.rest();

  s.session->setAccessToken(std::nullopt);
  s.session->setOpenId(std::nullopt);
  s.session->setExpirationDate(std::nullopt);
  s.outcomes->calls.clear();
  if (waiting)
    fuzz::check(OpenApi::authorizeWithPermission({"get_user_info"}, s.outcomes, true), "the login goes to QQ");
  const bool outstanding = OpenApi::isLoginOutstanding();
  const std::string type = std::string("com.velmora.") + kReplyScheme;
  os::Pasteboard::generalPasteboard()->setData(os::Data(bytes.begin(), bytes.end()), type);

  (void)VelmoraOAuth::HandleOpenURL(url);
  os::RunLoop::main()->runUntilIdle();

  const auto& calls = s.outcomes->calls;
  fuzz::check(calls.size() <= 1, "one login ends once");
  if (!outstanding) fuzz::check(!s.session->accessToken(), "a reply nobody waited for plants no token");
  if (!calls.empty() && calls[0] == "login")
    fuzz::check(s.session->openId() && s.session->accessToken() && s.session->expirationDate(),
                "a login reported as done keeps its open id, token and expiry");
  // Whatever happened, no login is left waiting on this reply for the next run.
  OpenApi::clearParam();
  OpenApi::registerApp(kAppId, s.outcomes, s.session);
  return 0;
}
