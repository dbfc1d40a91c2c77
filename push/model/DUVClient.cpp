#include "push/model/DUVClient.h"

#include <cstdio>

#include "os/core/Log.h"
#include "os/runtime/Timer.h"
#include "os/store/Keychain.h"
#include "push/ROVodozov.h"
#include "push/model/DUVAlert.h"
#include "push/model/DUVMessageCenter.h"
#include "push/model/DUVTagAlias.h"
#include "push/network/DUVHttpSession.h"
#include "push/report/DUVCrashCapture.h"
#include "push/utilities/DUVUtilities.h"
#include "push/network/DUVNetworkService.h"
#include "push/network/DUVSession.h"
#include "push/protocol/tcp/DUVDeviceTokenReport.h"
#include "push/protocol/tcp/DUVMessageDispatch.h"
#include "push/utilities/DUVKeychain.h"
#include "push/utilities/DUVLogger.h"
#include "push/utilities/DUVUserDefaults.h"

std::shared_ptr<DUVClient> DUVClient::sharedClient() { return ROVodozov::sharedService()->client(); }

DUVClient::~DUVClient() { stopDeviceTokenUpdatedCheckTimer(); }

void DUVClient::setCrashLogON() {
  if (isReportCrash_) return;
  isReportCrash_ = true;
  os::Error error;
  if (!DUVCrashCapture::install(DUVCrashCapture::recordDirectory(), &error)) {
    DUVClassLogger("DUVClient")->log(DUVLevel::error(), "crash capture not installed: " + error.localizedDescription());
    return;
  }
  if (networkService_) DUVCrashCapture::setNetworkStatus(networkService_->currentNetworkStatus());
  if (pushConfig_) DUVCrashCapture::setRunFacts(DUVGetCurrentAPPVersion(), DUVCurrentDeviceInfo(pushConfig_->pushChanel()));
  // A crash saves what going inactive would: kept prepared from now on.
  if (reportSession_) reportSession_->setCrashSnapshots(true);
}

void DUVClient::setDebugMode() { DUVLoggerController::shareLoggerController()->setLevel(DUVLevel::debug()); }
void DUVClient::setCloseMode() { DUVLoggerController::shareLoggerController()->setLevel(DUVLevel::off()); }

bool DUVClient::loadPushConfig() {
  pushConfig_ = std::make_shared<DUVPushConfig>();
  if (pushConfig_->loadWithUrl(pushConfigUrl_)) return true;
  pushConfig_.reset();
  os::log("load push config error!");
  return false;
}

void DUVClient::loadApsEnvironment() { apsEvironment_ = DUVApsEnvironmentOfProfile(emProvisionUrl_); }

void DUVClient::setup() {
  if (!bundleIdentifier_ || bundleIdentifier_->empty()) {
    os::log("no bundle id set");
    return;
  }
  if (!loadPushConfig()) return;
  loadApsEnvironment();
  userDefaults_ = DUVUserDefaults::create(*bundleIdentifier_, pushConfig_->applicationKey(), clientNotificationCenter_);
  messageCenter_ = std::make_shared<DUVMessageCenter>();
  if (!tagAliasMng_) tagAliasMng_ = std::make_shared<DUVTagAlias>();
  std::weak_ptr<DUVClient> weak = weak_from_this();
  DUVSessionEnvironment environment;
  environment.identity = userDefaults_;
  environment.endpoints = &pushConfig_->serviceEndpoints();
  environment.networkStatus = [weak] {
    auto self = weak.lock();
    return self && self->networkService_ ? self->networkService_->currentNetworkStatus() : 0L;
  };
  environment.deviceTokenUpdated = [weak] {
    auto self = weak.lock();
    return self && self->deviceTokenUpdated_;
  };
  environment.packetFacts = [weak] {
    auto self = weak.lock();
    return self ? self->packetFacts() : DUVPacketContext{};
  };
  environment.onMessage = [center = messageCenter_](const DUVMessageDispatch& message) { center->dispatchMessage(message); };
  environment.messageWindow = messageCenter_->window();
  environment.onTagAliasAnswer = [tags = tagAliasMng_](const std::string& json) { tags->doSetTagsAliasCallbackWithRetJson(json); };
  clientSession_ = DUVSession::create(environment);
  std::weak_ptr<DUVSession> session = clientSession_;
  DUVHttpSession::Environment reports;
  reports.identity = userDefaults_;
  reports.endpoints = &pushConfig_->serviceEndpoints();
  reports.networkStatus = environment.networkStatus;
  reports.reportAddress = [session]() -> std::optional<DUVAddress> {
    auto s = session.lock();
    return s ? s->addressController()->reportAddress() : std::nullopt;
  };
  reports.attributeReportAddress = [session]() -> std::optional<DUVAddress> {
    auto s = session.lock();
    return s ? s->addressController()->attributeReportAddress() : std::nullopt;
  };
  reports.channel = pushConfig_->pushChanel();
  reportSession_ = DUVHttpSession::create(reports);
  // A crash of this run tells this run's version and device.
  os::Dictionary deviceInfo = DUVCurrentDeviceInfo(pushConfig_->pushChanel());
  DUVCrashCapture::setRunFacts(DUVGetCurrentAPPVersion(), deviceInfo);
  // Crashes of earlier runs join the crash set, saved in the file cache's file before the hook's
  // file lets them go; the crash check reports them.
  reportSession_->collectCrashRecords(DUVCrashCapture::recordDirectory(), deviceInfo,
                                      DUVGetNetWorkName(environment.networkStatus ? environment.networkStatus() : 0));
  std::weak_ptr<DUVHttpSession> reportSession = reportSession_;
  networkService_ = DUVNetworkService::create(clientNotificationCenter_, userDefaults_,
                                              {[session] {
                                                 if (auto s = session.lock()) s->setup();
                                               },
                                               [session] {
                                                 if (auto s = session.lock()) s->close();
                                               },
                                               [reportSession](long status) {
                                                 DUVCrashCapture::setNetworkStatus(status);
                                                 if (auto s = reportSession.lock()) {
                                                   s->trySetupSession();
                                                   s->locationInfoChangeViaNetworkState(status);
                                                 }
                                               }});
  networkService_->trySetupSession();
  reportSession_->pageFlowController()->trySetupSession();
  if (isReportCrash_) reportSession_->setCrashSnapshots(true);
  if (!isSimulator_) {
    deviceTokenStatusCheckTimes_ =
        (pushConfig_->configApsEnvironment() == 2 || apsEvironment_ == -1 || apsEvironment_ == -2) ? 5 : 100;
    startDeviceTokenUpdatedCheckTimer();
  }
}

void DUVClient::close() {
  stopDeviceTokenUpdatedCheckTimer();
  if (tagAliasMng_) tagAliasMng_->answerPendingAsTimedOut();
  networkService_.reset();
  clientSession_.reset();
  reportSession_.reset();
  messageCenter_.reset();
  tagAliasMng_.reset();
  userDefaults_.reset();
  pushConfig_.reset();
}

std::string DUVClient::stringWithDeviceToken(const os::Data& token) {
  std::string text;
  text.reserve(token.size() * 2);
  char pair[3];
  for (auto byte : token) {
    std::snprintf(pair, sizeof pair, "%02x", byte);
    text += pair;
  }
  return text;
}

void DUVClient::updateDeviceToken(const os::Data& token) {
  if (deviceTokenUpdated_) {
    DUVAlert("ZUrar WARN", "device token should NOT be updated for multi times");
    return;
  }
  stopDeviceTokenUpdatedCheckTimer();
  deviceTokenUpdated_ = true;
  if (userDefaults_) userDefaults_->setCurrentDeviceToken(stringWithDeviceToken(token));
  if (networkService_) networkService_->trySetupSession();
  if (clientSession_) clientSession_->sendRequest(std::make_shared<DUVDeviceTokenReportRequest>(clientSession_->getRId()));
}

void DUVClient::setBadgeNumberReport(long value) {
  badgeNumber_ = value;
  if (!reportSession_) return;
  reportSession_->badgeNumberManager()->setBadge(value);
  reportSession_->noteChanged();
}

void DUVClient::setViewStart(const std::optional<std::string>& pageName) {
  if (!pageName) return DUVClassLogger("DUVClient")->log(DUVLevel::error(), "参数错误，pageName不能为空");
  if (!reportSession_) return;
  reportSession_->pageFlowController()->setViewStart(pageName);
  reportSession_->noteChanged();
}

void DUVClient::setViewStop(const std::optional<std::string>& pageName) {
  if (!pageName) return DUVClassLogger("DUVClient")->log(DUVLevel::error(), "参数错误，pageName不能为空");
  if (!reportSession_) return;
  reportSession_->pageFlowController()->setViewStop(pageName);
  reportSession_->noteChanged();
}

void DUVClient::setViewLogSecond(const os::Array& pageAndSeconds) {
  if (!reportSession_) return;
  reportSession_->pageFlowController()->setViewLogSecond(pageAndSeconds);
  reportSession_->noteChanged();
}

void DUVClient::setLatitude(const os::Dictionary& position) {
  if (!reportSession_) return;
  DUVLocationInfo::addTo(reportSession_->locationInfo().gpsInfo, os::Value(position));
  reportSession_->noteChanged();
}

void DUVClient::setTagAlias(const DUVSetTagAliasArg& argument) {
  // Made here when the configuration was missing: the caller is answered all the same.
  if (!tagAliasMng_) tagAliasMng_ = std::make_shared<DUVTagAlias>();
  tagAliasMng_->setTagAlias(argument, clientSession_.get());
}

DUVPacketContext DUVClient::packetFacts() const {
  DUVPacketContext facts;
  if (userDefaults_) {
    facts.uid = userDefaults_->uid();
    facts.password = userDefaults_->password();
    facts.appkey = userDefaults_->appkey();
    facts.sharedUdid = userDefaults_->sharedUdid();
    facts.currentDeviceToken = userDefaults_->currentDeviceToken();
  }
  facts.bundleIdentifier = bundleIdentifier_.value_or("");
  facts.bundleVersion = bundleVersion_;
  facts.systemVersion = systemVersion_;
  facts.modelName = modelName_;
  if (pushConfig_) {
    facts.pushChanel = pushConfig_->pushChanel();
    facts.configApsEnvironment = pushConfig_->configApsEnvironment();
  }
  facts.apsEvironment = apsEvironment_;
  return facts;
}

void DUVClient::handleRemoteNotification(long code, const os::Dictionary& userInfo) {
  // The message id is a 64-bit number on the wire; it is kept whole.
  long long messageId = userInfo["_j_msgid"].intValue();
  if (reportSession_) reportSession_->reportMsgStatus(static_cast<int>(code), messageId);
}

void DUVClient::reportLaunch(double seconds) {
  becomeActiveTime_ = static_cast<double>(static_cast<long long>(seconds));
  if (reportSession_) reportSession_->prepareActive(becomeActiveTime_);
}

void DUVClient::reportInactive(double seconds) {
  if (reportSession_) reportSession_->reportInactive(seconds);
}

void DUVClient::onDidBecomeActive() {
  if (networkService_) networkService_->trySetupSession();
}

void DUVClient::synchronizeData() {
  if (userDefaults_) userDefaults_->synchronize();
}

std::optional<std::string> DUVClient::readRegistrationID(const std::string& bundleIdentifier) {
  DUVKeychain keychain(bundleIdentifier, "", 4);
  auto record = keychain.objectForKey(kDUVKeychainUserDefaultsKey);
  if (!record) return std::nullopt;
  if (const std::string* id = (*record)["kRegistrationId"].string()) return *id;
  return std::nullopt;
}

void DUVClient::startDeviceTokenUpdatedCheckTimer() {
  stopDeviceTokenUpdatedCheckTimer();
  std::weak_ptr<DUVClient> weak = weak_from_this();
  deviceTokenStatusCheckTimer_ = os::Timer::scheduled(10.0, true, [weak](os::Timer&) {
    if (auto self = weak.lock()) self->checkDeviceTokenUpdated();
  });
}

void DUVClient::stopDeviceTokenUpdatedCheckTimer() {
  if (auto timer = deviceTokenStatusCheckTimer_.lock()) timer->invalidate();
  deviceTokenStatusCheckTimer_.reset();
}

void DUVClient::checkDeviceTokenUpdated() {
  if (deviceTokenUpdated_ || deviceTokenStatusCheckTimes_ < 1) {
    stopDeviceTokenUpdatedCheckTimer();
    return;
  }
  --deviceTokenStatusCheckTimes_;
  os::log(
      "Not get deviceToken yet. Maybe: your certificate not configured APNs? or current network is not so good so "
      "APNs registration failed?  or there is no APNs register code? Please refer to ZUrar docs.\n");
}
