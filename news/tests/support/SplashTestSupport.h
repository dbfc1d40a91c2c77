#pragma once
// What the launch tests share: a virtual clock, the request environment on a phone on Wi-Fi, fresh
// application-wide state, category manager, side-menu container and news database, and the local
// news server noting the "cp" of every activation it answers.
#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/formats/JSONDecoder.h"
#include "news/store/VXGlobalDefine.h"
#include "news/store/VXNewsCategoryManager.h"
#include "news/api/VXRequestConfig.h"
#include "news/shell/NQSideViewController.h"
#include "news/store/VXNewsDBManager.h"
#include "news/tests/support/RequestTestSupport.h"
#include "os/core/String.h"
#include "os/net/NetworkReachability.h"
#include "os/runtime/Clock.h"
#include "os/runtime/NotificationCenter.h"
#include "os/store/UserDefaults.h"
#include "os/testing/FakeReachabilityProvider.h"
#include "tools/newsd/server/NewsServer.h"

namespace splashtest {

// The local news server on loopback with both APIs pointed at it.
class NewsServerOnLoopback {
 public:
  explicit NewsServerOnLoopback(newsd::ServiceOptions service = {}) {
    newsd::ServerOptions options;
    options.seed = 11;
    options.service = service;
    server_ = std::make_unique<newsd::NewsServer>(options);
    server_->service().setLog([this](const std::string& line) {
      std::lock_guard lock(mutex_);
      lines_.push_back(line);
    });
    auto port = server_->start();
    EXPECT_TRUE(port);
    VXRequestConfig::setServerRoot("http://127.0.0.1:" + std::to_string(port.value_or(0)));
  }
  ~NewsServerOnLoopback() { server_->stop(); }
  newsd::NewsServer& server() { return *server_; }

  int asked(long long opcode) const { return static_cast<int>(params(opcode).size()); }
  // The "cp" of every activation that arrived, in order (-1 for one without).
  std::vector<long long> activations() const {
    std::vector<long long> cps;
    for (const auto& p : params(1000)) cps.push_back(p["opdata"]["cp"].isNumber() ? p["opdata"]["cp"].intValue() : -1);
    return cps;
  }

 private:
  std::vector<os::Value> params(long long opcode) const {
    std::lock_guard lock(mutex_);
    std::vector<os::Value> out;
    const std::string prefix = "opcode " + std::to_string(opcode) + " ";
    for (const auto& line : lines_) {
      if (!os::hasPrefix(line, prefix)) continue;
      std::string json = line.substr(prefix.size());
      JSONDecoder decoder;
      auto value = decoder.objectWithUTF8String(json.data(), json.size());
      out.push_back(value ? *value : os::Value());
    }
    return out;
  }

  std::unique_ptr<newsd::NewsServer> server_;
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

// Counts one notification name for its lifetime.
class Broadcasts {
 public:
  explicit Broadcasts(std::string name)
      : token_(os::NotificationCenter::defaultCenter().addObserver(std::move(name), nullptr,
                                                                   [this](const os::Notification&) { ++count_; })) {}
  ~Broadcasts() { os::NotificationCenter::defaultCenter().removeObserver(token_); }
  int count() const { return count_; }

 private:
  int count_ = 0;
  os::NotificationCenter::ObserverToken token_;
};

class LaunchFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    os::ReachabilityProvider::setShared(reachability_);
    // The phone is on Wi-Fi: the categories come from the server.
    reachability_->setDefaultFlags(os::kReachabilityFlagsReachable | os::kReachabilityFlagsIsDirect);
    reachability_->setFlags("169.254.0.0", os::kReachabilityFlagsReachable | os::kReachabilityFlagsIsDirect);
    VXGlobalDefine::setShared(VXGlobalDefine::create());
    VXNewsCategoryManager::setShared(nullptr);
    NQSideViewController::setShared(nullptr);
  }
  void TearDown() override {
    os::RunLoop::main()->runUntilIdle();
    NQSideViewController::setShared(nullptr);
    VXNewsCategoryManager::setShared(nullptr);
    VXGlobalDefine::setShared(nullptr);
    VXNewsDBManager::setShared(nullptr);
    os::ReachabilityProvider::setShared(nullptr);
  }
  static std::shared_ptr<os::UserDefaults> defaults() { return os::UserDefaults::standardUserDefaults(); }
  // Runs the main loop (real time, loopback answers come in milliseconds) until the condition holds.
  static bool waitFor(const std::function<bool()>& condition) { return newstest::runUntil(condition, 20); }

  os::VirtualClockScope clock_;
  newstest::RequestEnvironment env_;
  std::shared_ptr<os::testing::FakeReachabilityProvider> reachability_ =
      std::make_shared<os::testing::FakeReachabilityProvider>();
};

}  // namespace splashtest
