#pragma once
// The stage of the QQ client's tests: a virtual clock, a fresh sandbox, the reader as the running
// application with its plugin scheme and "velmora" + app id, and QQ as a peer application that
// records what it is opened with.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platforms/qq/QQApi.h"
#include "platforms/qq/QQApiDatastore.h"
#include "os/core/URL.h"
#include "os/runtime/Clock.h"
#include "os/runtime/RunLoop.h"
#include "os/testing/TestPeerApplication.h"
#include "os/testing/TestSandbox.h"
#include "os/views/Application.h"

namespace qqtest {

inline constexpr const char* kPluginScheme = "QQ05FB8A2B";
inline constexpr const char* kAppId = "100393032";

struct Reader : os::ApplicationDelegate {
  std::vector<std::string> opened;
  bool openURL(os::Application&, const os::URL& url, const std::string&, const os::Value&) override {
    opened.push_back(url.absoluteString());
    return true;
  }
};

struct Receiver : QQApiInterfaceDelegate {
  std::vector<std::shared_ptr<QQBaseReq>> reqs;
  std::vector<std::shared_ptr<QQBaseResp>> resps;
  std::vector<os::Dictionary> online;
  void onReq(const std::shared_ptr<QQBaseReq>& r) override { reqs.push_back(r); }
  void onResp(const std::shared_ptr<QQBaseResp>& r) override { resps.push_back(r); }
  void isOnlineResponse(const os::Dictionary& d) override { online.push_back(d); }
};

class QQClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QQApiDatastore::instance().reset();
    sandbox.setInfoDictionary(os::Dictionary{
        {"CFBundleIdentifier", "com.example.newsreader"},
        {"CFBundleDisplayName", "军事新闻"},
        {"CFBundleVersion", "3.1"},
        {"CFBundleURLTypes", os::Array{os::Dictionary{{"CFBundleURLSchemes", os::Array{kPluginScheme, std::string("velmora") + kAppId}}}}}});
    reader = os::Application::create(readerDelegate, "com.example.newsreader");
    reader->makeShared();
    reader->registerURLSchemes({kPluginScheme, std::string("velmora") + kAppId});
    reader->launch();
  }
  void TearDown() override {
    reader->terminate();
    os::RunLoop::main()->runUntilIdle();
    QQApiDatastore::instance().reset();
  }

  // QQ on the device, taking the given schemes.
  std::shared_ptr<os::TestPeerApplication> installQQ(std::vector<std::string> schemes = {"mqq", "mqqapi", "mqqapiwallet"}) {
    qq = sandbox.launchPeerApplication("com.velmora.mqq", schemes);
    return qq;
  }
  void registerReader() {
    QQApi::registerQQConnectAppId(kAppId);
    QQApi::registerPluginWithId(kPluginScheme);
  }
  bool run(const std::function<bool()>& condition) { return os::RunLoop::main()->runUntil(condition, 10); }

  os::VirtualClockScope clock;
  os::TestSandbox sandbox;
  std::shared_ptr<Reader> readerDelegate = std::make_shared<Reader>();
  std::shared_ptr<os::Application> reader;
  std::shared_ptr<os::TestPeerApplication> qq;
};

}  // namespace qqtest
