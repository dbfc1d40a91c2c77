#pragma once
// The sharing component against the local sharing service on loopback.
#include "os/runtime/RunLoop.h"
#include "os/views/Application.h"
#include "sharing/service/OBSDataManager.h"
#include "sharing/screens/OBSocialControllerService.h"
#include "sharing/service/OBSDataManagerSet.h"
#include "sharing/service/OBSocialData.h"
#include "sharing/service/OBSocialResponseEntity.h"
#include "sharing/service/OBSocialSnsPlatform.h"
#include "sharing/service/OBSocialSnsPlatformManager.h"
#include "sharing/service/OBSocialSnsService.h"
#include "sharing/service/OBSocialUIDelegate.h"
#include "sharing/tests/SharingFixture.h"
#include "tools/sharingd/server/SharingServer.h"

inline constexpr const char* kTestAppKey = "6c3f0e9a2b7d41580a9e3c12";

// The caller of a share: keeps the response codes it hears.
class Outcomes : public OBSocialUIDelegate {
 public:
  void didFinishGetOBSocialDataInViewController(const std::shared_ptr<OBSocialResponseEntity>& r) override {
    codes.push_back(r->responseCode);
  }
  std::vector<int> codes;
};

// The reader hands every URL it is opened with to the sharing component, as the application does.
class Reader : public os::ApplicationDelegate {
 public:
  bool openURL(os::Application&, const os::URL& url, const std::string&, const os::Value&) override {
    return OBSocialSnsService::handleOpenURL(url);
  }
};

class ServiceFixture : public SharingFixture {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.start());
    sandbox_.writeBundlePropertyList("SocialSDK-config.plist", os::Value(os::Dictionary{{"baseURL", os::Value(server_.baseURL())}}));
    OBSDataManagerSet::shareInstance()->setAppkey(kTestAppKey);
  }
  void TearDown() override {
    server_.stop();
  }

  // Queues the action on the current data manager and waits for its answer.
  std::shared_ptr<OBSocialResponseEntity> perform(std::int32_t action, OBSocialJobParams params = {}) {
    std::shared_ptr<OBSocialResponseEntity> response;
    params.completion = [&](const std::shared_ptr<OBSocialResponseEntity>& r) { response = r; };
    if (!OBSDataManager::currentDataManager()->doActionWithType(action, std::move(params))) return nullptr;
    os::RunLoop::main()->runUntil([&] { return response != nullptr; }, 30);
    return response;
  }
  bool settle(const std::function<bool()>& condition) { return os::RunLoop::main()->runUntil(condition, 30); }

  // `count` callers share a text through `platform` one after another, each from a controller
  // service of its own; their outcomes, in order.
  static std::vector<std::shared_ptr<Outcomes>> shareFromOwnServices(const std::string& platform, int count) {
    std::vector<std::shared_ptr<Outcomes>> callers;
    for (int i = 0; i < count; ++i) {
      auto service = std::make_shared<OBSocialControllerService>(std::make_shared<OBSocialData>("caller" + std::to_string(i)));
      callers.push_back(std::make_shared<Outcomes>());
      service->setShareText("新闻" + std::to_string(i), nullptr, callers.back());
      OBSocialSnsPlatformManager::getSocialPlatformWithName(platform)->snsClickHandler(nullptr, service, true);
      os::RunLoop::main()->runUntilIdle();
    }
    return callers;
  }

  sharingd::LoggedRequest lastRequest() const {
    auto all = server_.requests();
    return all.empty() ? sharingd::LoggedRequest{} : all.back();
  }

  sharingd::SharingServer server_;
};
