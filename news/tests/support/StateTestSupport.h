#pragma once
// What the application-state tests share: the request environment, a fresh news database and
// application-wide state per test, the local Wi-Fi played by a fake reachability provider, counts
// of broadcasts, and the local news server with a record of the opcodes it was asked.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "news/store/VXGlobalDefine.h"
#include "news/store/VXNewsDBManager.h"
#include "news/tests/support/RequestTestSupport.h"
#include "os/core/String.h"
#include "os/net/NetworkReachability.h"
#include "os/runtime/NotificationCenter.h"
#include "os/testing/FakeReachabilityProvider.h"
#include "tools/newsd/server/NewsServer.h"

namespace newstest {

// The link-local address whose reachability stands for the local Wi-Fi.
inline constexpr const char* kLocalWiFiKey = "169.254.0.0";

// Counts one notification name for its lifetime.
class BroadcastCounter {
 public:
  explicit BroadcastCounter(std::string name)
      : token_(os::NotificationCenter::defaultCenter().addObserver(std::move(name), nullptr,
                                                                   [this](const os::Notification&) { ++count_; })) {}
  ~BroadcastCounter() { os::NotificationCenter::defaultCenter().removeObserver(token_); }
  int count() const { return count_; }

 private:
  int count_ = 0;
  os::NotificationCenter::ObserverToken token_;
};

// The local news server on loopback, both APIs pointed at it, noting every opcode it answers.
class LocalNewsServer {
 public:
  LocalNewsServer() {
    newsd::ServerOptions options;
    options.seed = 7;
    server_ = std::make_unique<newsd::NewsServer>(options);
    server_->service().setLog([this](const std::string& line) {
      std::lock_guard lock(mutex_);
      lines_.push_back(line);
    });
    auto port = server_->start();
    EXPECT_TRUE(port);
    VXRequestConfig::setServerRoot("http://127.0.0.1:" + std::to_string(port.value_or(0)));
  }
  ~LocalNewsServer() { server_->stop(); }
  newsd::NewsServer& server() { return *server_; }
  // How many forms of this operation arrived.
  int asked(long long opcode) const {
    std::lock_guard lock(mutex_);
    int n = 0;
    for (const auto& line : lines_) n += os::hasPrefix(line, "opcode " + std::to_string(opcode) + " ");
    return n;
  }

 private:
  std::unique_ptr<newsd::NewsServer> server_;
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

class StateFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    os::ReachabilityProvider::setShared(reachability_);
    setWiFi();
    state_ = VXGlobalDefine::create();
    VXGlobalDefine::setShared(state_);
  }
  void TearDown() override {
    os::RunLoop::main()->runUntilIdle();
    VXGlobalDefine::setShared(nullptr);
    state_.reset();
    VXNewsDBManager::setShared(nullptr);
    os::ReachabilityProvider::setShared(nullptr);
  }
  void setWiFi() { reachability_->setFlags(kLocalWiFiKey, os::kReachabilityFlagsReachable | os::kReachabilityFlagsIsDirect); }
  // The phone reaches the network over its cellular radio only.
  void setCellular() {
    reachability_->setDefaultFlags(os::kReachabilityFlagsReachable | os::kReachabilityFlagsIsWWAN);
    reachability_->setFlags(kLocalWiFiKey, os::kReachabilityFlagsReachable | os::kReachabilityFlagsIsWWAN);
  }
  void setOffline() {
    reachability_->setDefaultFlags(std::nullopt);
    reachability_->setFlags(kLocalWiFiKey, std::nullopt);
  }

  RequestEnvironment env_;
  std::shared_ptr<os::testing::FakeReachabilityProvider> reachability_ =
      std::make_shared<os::testing::FakeReachabilityProvider>();
  std::shared_ptr<VXGlobalDefine> state_;
};

}  // namespace newstest
