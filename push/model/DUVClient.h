#pragma once
// The push client's state: what it knows of the application and the device, the configuration
// from "PushConfig.plist", the push environment of the provisioning profile, and the long-lived
// parts of the client (the persisted identity, the network service, a private notification
// centre). Every operation runs on the client thread; the entry class queues them there, so the
// fields need no lock.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "os/core/Data.h"
#include "os/core/Value.h"
#include "os/runtime/NotificationCenter.h"
#include "push/model/DUVPushConfig.h"

namespace os {
class Timer;
}
class DUVUserDefaults;
class DUVNetworkService;
class DUVSession;
class DUVMessageCenter;
class DUVHttpSession;
class DUVTagAlias;
struct DUVSetTagAliasArg;
struct DUVPacketContext;

class DUVClient : public std::enable_shared_from_this<DUVClient> {
 public:
  // The client of the shared entry (made with it).
  static std::shared_ptr<DUVClient> sharedClient();
  DUVClient() = default;
  ~DUVClient();
  DUVClient(const DUVClient&) = delete;
  DUVClient& operator=(const DUVClient&) = delete;

  // Facts gathered by the entry on the application's thread.
  void setRunInSimulator(bool simulator) { isSimulator_ = simulator; }
  void setSystemVersion(std::string version) { systemVersion_ = std::move(version); }
  void setBundleIdentifier(std::optional<std::string> identifier) { bundleIdentifier_ = std::move(identifier); }
  void setBundleVersion(std::uint32_t version) { bundleVersion_ = version; }
  void setPushConfigUrl(std::optional<std::string> path) { pushConfigUrl_ = std::move(path); }
  void setEmProvisionUrl(std::optional<std::string> path) { emProvisionUrl_ = std::move(path); }
  void setModelName(std::string name) { modelName_ = std::move(name); }

  // Crash capture, switched on once per process.
  void setCrashLogON();
  bool isReportCrash() const { return isReportCrash_; }
  void setDebugMode();
  void setCloseMode();
  // Reads the configuration and the profile, makes the identity store and the network service
  // and starts the session. Stops, with a console line, without a bundle identifier or a usable
  // configuration; then the client keeps accepting calls that have no effect.
  void setup();
  void close();
  // The first token of the process is stored and reported; a later one only warns.
  void updateDeviceToken(const os::Data& token);
  // A remote notification with its result code (Part of the report session).
  void handleRemoteNotification(long code, const os::Dictionary& userInfo);
  // The application's badge number, for the user service (Part of the report session).
  void setBadgeNumberReport(long value);
  long badgeNumber() const { return badgeNumber_; }
  void setTagAlias(const DUVSetTagAliasArg& argument);
  // A position for the next location report.
  void setLatitude(const os::Dictionary& position);
  // Page views; a missing name is refused with an error line.
  void setViewStart(const std::optional<std::string>& pageName);
  void setViewStop(const std::optional<std::string>& pageName);
  void setViewLogSecond(const os::Array& pageAndSeconds);
  void reportLaunch(double seconds);
  void reportInactive(double seconds);
  void onDidBecomeActive();
  void synchronizeData();

  // The registration id in the keychain record of the application, read on the caller's thread.
  static std::optional<std::string> readRegistrationID(const std::string& bundleIdentifier);
  // Two lower-case hex digits per byte.
  static std::string stringWithDeviceToken(const os::Data& token);

  const std::optional<std::string>& bundleIdentifier() const { return bundleIdentifier_; }
  const std::string& systemVersion() const { return systemVersion_; }
  std::uint32_t bundleVersion() const { return bundleVersion_; }
  const std::string& modelName() const { return modelName_; }
  bool isSimulator() const { return isSimulator_; }
  bool deviceTokenUpdated() const { return deviceTokenUpdated_; }
  const std::shared_ptr<DUVPushConfig>& pushConfig() const { return pushConfig_; }
  const std::shared_ptr<DUVUserDefaults>& userDefaults() const { return userDefaults_; }
  int apsEvironment() const { return apsEvironment_; }
  os::NotificationCenter& clientNotificationCenter() { return clientNotificationCenter_; }
  const std::shared_ptr<DUVNetworkService>& networkService() const { return networkService_; }
  const std::shared_ptr<DUVSession>& clientSession() const { return clientSession_; }
  const std::shared_ptr<DUVHttpSession>& reportSession() const { return reportSession_; }
  const std::shared_ptr<DUVMessageCenter>& messageCenter() const { return messageCenter_; }
  const std::shared_ptr<DUVTagAlias>& tagAliasMng() const { return tagAliasMng_; }
  // What request bodies carry of the client, as it stands now.
  DUVPacketContext packetFacts() const;
  double becomeActiveTime() const { return becomeActiveTime_; }
  int deviceTokenStatusCheckTimes() const { return deviceTokenStatusCheckTimes_; }

 private:
  bool loadPushConfig();
  void loadApsEnvironment();
  void startDeviceTokenUpdatedCheckTimer();
  void stopDeviceTokenUpdatedCheckTimer();
  void checkDeviceTokenUpdated();

  std::weak_ptr<os::Timer> deviceTokenStatusCheckTimer_;
  int deviceTokenStatusCheckTimes_ = 0;
  double becomeActiveTime_ = 0;
  bool isSimulator_ = false;
  bool deviceTokenUpdated_ = false;
  bool isReportCrash_ = false;
  std::optional<std::string> emProvisionUrl_;
  std::optional<std::string> pushConfigUrl_;
  std::string systemVersion_;
  std::optional<std::string> bundleIdentifier_;
  std::uint32_t bundleVersion_ = 0;
  std::string modelName_;
  std::shared_ptr<DUVPushConfig> pushConfig_;
  std::shared_ptr<DUVUserDefaults> userDefaults_;
  int apsEvironment_ = 0;
  os::NotificationCenter clientNotificationCenter_;
  std::shared_ptr<DUVNetworkService> networkService_;
  std::shared_ptr<DUVSession> clientSession_;
  std::shared_ptr<DUVHttpSession> reportSession_;
  std::shared_ptr<DUVMessageCenter> messageCenter_;
  std::shared_ptr<DUVTagAlias> tagAliasMng_;
  long badgeNumber_ = 0;
};
