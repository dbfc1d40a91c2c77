#include "push/ROVodozov.h"

#include <cstdlib>
#include <mutex>

#include "foundation/ServiceCallLog.h"
#include "os/core/DetachedValue.h"
#include "os/runtime/Clock.h"
#include "os/runtime/RunLoop.h"
#include "os/runtime/Thread.h"
#include "os/store/Bundle.h"
#include "os/views/Application.h"
#include "os/views/Device.h"
#include "push/model/DUVAlert.h"
#include "push/model/DUVClient.h"
#include "push/model/DUVLocalNotificationManager.h"
#include "push/model/DUVTagAlias.h"
#include "push/utilities/DUVLogger.h"
#include "push/utilities/DUVUtilities.h"

namespace {
constexpr const char* kService = "ROVodozov";

std::mutex sharedMutex;
std::shared_ptr<ROVodozov> sharedEntry;

std::shared_ptr<DUVLogger> logger() { return DUVClassLogger("ROVodozov"); }
}  // namespace

std::shared_ptr<ROVodozov> ROVodozov::sharedService() {
  std::lock_guard lock(sharedMutex);
  if (!sharedEntry) {
    // The client thread must be gone before the process's static objects it uses are destroyed.
    static const bool registered = std::atexit([] { tearDownSharedService(); }) == 0;
    (void)registered;
    sharedEntry = std::make_shared<ROVodozov>(PrivateTag{});
    sharedEntry->start();
  }
  return sharedEntry;
}

void ROVodozov::tearDownSharedService() {
  std::shared_ptr<ROVodozov> entry;
  {
    std::lock_guard lock(sharedMutex);
    entry.swap(sharedEntry);
  }
  if (!entry) return;
  auto thread = entry->clientThread_;
  // The client's timers and sockets belong to the thread: it lets them go itself.
  thread->perform([entry] { entry->client_->close(); }, true);
  thread->cancel();
  thread->join();
}

ROVodozov::~ROVodozov() {
  for (auto token : observers_) os::NotificationCenter::defaultCenter().removeObserver(token);
}

void ROVodozov::start() {
  bool simulator = DUVWarnSimulator();
  clientThread_ = os::Thread::create("org.qelm.zurar.thread");
  clientThread_->start();
  client_ = std::make_shared<DUVClient>();

  auto bundle = os::Bundle::mainBundle();
  auto identifier = bundle->bundleIdentifier();
  auto version = static_cast<std::uint32_t>(bundle->objectForInfoDictionaryKey("CFBundleVersion").intValue());
  auto config = bundle->pathForResource("PushConfig", "plist");
  auto profile = bundle->pathForResource("embedded", "mobileprovision");
  std::string systemVersion = os::Device::current().systemVersion();
  std::string model = DUVModelName();
  perform([=](DUVClient& client) {
    client.setSystemVersion(systemVersion);
    client.setBundleIdentifier(identifier);
    client.setBundleVersion(version);
    client.setPushConfigUrl(config);
    client.setEmProvisionUrl(profile);
    client.setModelName(model);
    client.setRunInSimulator(simulator);
    client.setup();
  });
  addAppStateNotifications();
}

void ROVodozov::perform(std::function<void(DUVClient&)> work) {
  auto client = client_;
  clientThread_->runLoop()->post([client, work = std::move(work)] { work(*client); });
}

void ROVodozov::addAppStateNotifications() {
  auto& center = os::NotificationCenter::defaultCenter();
  std::weak_ptr<ROVodozov> weak = weak_from_this();
  auto observe = [&](const char* name, std::function<void(ROVodozov&)> handler) {
    observers_.push_back(center.addObserver(name, nullptr, [weak, handler](const os::Notification&) {
      if (auto self = weak.lock()) handler(*self);
    }));
  };
  observe(os::kApplicationWillTerminateNotification, [](ROVodozov& self) {
    self.reportInactive();
    self.synchronize();
    self.finishInBackground();
  });
  observe(os::kApplicationWillResignActiveNotification, [](ROVodozov& self) { self.reportInactive(); });
  observe(os::kApplicationDidBecomeActiveNotification, [](ROVodozov& self) {
    self.perform([](DUVClient& client) { client.onDidBecomeActive(); });
    self.reportLaunch();
  });
  observe(os::kApplicationDidEnterBackgroundNotification, [](ROVodozov& self) {
    self.synchronize();
    self.finishInBackground();
  });
}

void ROVodozov::finishInBackground() {
  // The saving runs on the client thread, after the notification has returned: the application
  // is asked for the time it takes, or an application that ends now would end before it.
  auto app = os::Application::shared();
  if (!app) return;
  auto task = app->beginBackgroundTask({});
  std::weak_ptr<os::Application> weakApp = app;
  auto main = app->runLoop();
  clientThread_->runLoop()->post([weakApp, main, task] {
    main->post([weakApp, task] {
      if (auto application = weakApp.lock()) application->endBackgroundTask(task);
    });
  });
}

void ROVodozov::reportLaunch() {
  double now = DUVGetCurrentTimestamp();
  perform([now](DUVClient& client) { client.reportLaunch(now); });
}

void ROVodozov::reportInactive() {
  double now = DUVGetCurrentTimestamp();
  perform([now](DUVClient& client) { client.reportInactive(now); });
}

void ROVodozov::synchronize() {
  perform([](DUVClient& client) { client.synchronizeData(); });
}

void ROVodozov::registerForRemoteNotificationTypes(unsigned types, const os::Value& categories) {
  ServiceCallLog::record(kService, "registerForRemoteNotificationTypes",
                         os::Dictionary{{"types", os::Value(types)}, {"categories", categories}});
  auto app = os::Application::shared();
  if (!app) return;
  if (os::Device::current().systemVersionNumber() >= 8.0) {
    os::UserNotificationSettings settings;
    settings.types = types;
    const os::Array* members = categories.isSet() ? categories.setMembers() : categories.array();
    if (members)
      for (const auto& category : *members)
        if (const std::string* identifier = category.string()) settings.categories.push_back(*identifier);
    app->registerForRemoteNotifications();
    app->registerUserNotificationSettings(settings);
  } else {
    app->registerForRemoteNotificationTypes(types);
  }
}

void ROVodozov::setupWithOption(const os::Dictionary& launchOptions) {
  ServiceCallLog::record(kService, "setupWithOption", os::Dictionary{{"launchOptions", os::Value(launchOptions)}});
  DUVLoggerController::startLoggerWithLevel(DUVLevel::info());
  const std::string rule(64, '-');
  logger()->log(DUVLevel::force(), "\n---------------------Zurar(IOS8Version) log----------------------\n "
                                   "--------------------Zurar SDK Version:" +
                                       std::string(kDUVSDKVersion) + "---------------------\n" + rule + "\n" + rule);
  const os::Value& remote = launchOptions[os::kApplicationLaunchOptionsRemoteNotificationKey];
  auto service = sharedService();
  service->handleRemoteNotificationAtLaunch(remote.dictionary() ? *remote.dictionary() : os::Dictionary{}, true);
}

void ROVodozov::registerDeviceToken(const os::Data& token) {
  ServiceCallLog::record(kService, "registerDeviceToken", os::Dictionary{{"token", os::Value(token)}});
  sharedService()->perform([token](DUVClient& client) { client.updateDeviceToken(token); });
}

void ROVodozov::handleRemoteNotification(const os::Dictionary& userInfo) {
  ServiceCallLog::record(kService, "handleRemoteNotification", os::Dictionary{{"userInfo", os::Value(userInfo)}});
  sharedService()->handleRemoteNotificationAtLaunch(userInfo, false);
}

void ROVodozov::handleRemoteNotificationAtLaunch(const os::Dictionary& userInfo, bool atLaunch) {
  if (userInfo.empty()) return;
  long state = 2000;
  long code = 2003;
  if (!atLaunch) {
    auto app = os::Application::shared();
    state = app ? static_cast<long>(app->applicationState()) : -1;
    code = state == 0 ? 2001 : state == 1 ? 2002 : state == 2 ? 2004 : 2000;
  } else if (auto app = os::Application::shared()) {
    state = static_cast<long>(app->applicationState());
  }
  logger()->log(DUVLevel::debug(), "remote info:\n" + os::Value(userInfo).description() +
                                       " \nreport result: " + std::to_string(code) + " ,appState: " +
                                       std::to_string(state));
  // It may wait behind many others on the client thread: it waits on storage of its own rather than
  // keeping the whole block of the decode it came from.
  perform([code, userInfo = os::detached(userInfo)](DUVClient& client) { client.handleRemoteNotification(code, userInfo); });
}

void ROVodozov::setLatitude(double latitude, double longitude) {
  os::Dictionary position{{"lat", os::Value(latitude)},
                          {"lng", os::Value(longitude)},
                          {"altitude", os::Value("")},
                          {"horizontalAccuracy", os::Value("")},
                          {"verticalAccuracy", os::Value("")}};
  sharedService()->perform([position](DUVClient& client) { client.setLatitude(position); });
}

void ROVodozov::setLocation(const std::optional<os::Location>& location) {
  if (!location) {
    logger()->log(DUVLevel::error(), "参数location不能为空");
    return;
  }
  os::Dictionary position{{"lat", os::Value(location->latitude)},
                          {"lng", os::Value(location->longitude)},
                          {"altitude", os::Value(location->altitude)},
                          {"horizontalAccuracy", os::Value(location->horizontalAccuracy)},
                          {"verticalAccuracy", os::Value(location->verticalAccuracy)}};
  sharedService()->perform([position](DUVClient& client) { client.setLatitude(position); });
}

void ROVodozov::crashLogON() {
  sharedService()->perform([](DUVClient& client) { client.setCrashLogON(); });
}

void ROVodozov::setDebugMode() {
  sharedService()->perform([](DUVClient& client) { client.setDebugMode(); });
}

void ROVodozov::setLogOFF() {
  sharedService()->perform([](DUVClient& client) { client.setCloseMode(); });
}

std::string ROVodozov::sharedUDID() { return DUVFakeIMEI(); }

std::string ROVodozov::registrationID() {
  sharedService();
  auto identifier = os::Bundle::mainBundle()->bundleIdentifier();
  if (!identifier) return "";
  return DUVClient::readRegistrationID(*identifier).value_or("");
}

bool ROVodozov::setBadge(int value) {
  if (static_cast<unsigned>(value) > 99999u) return false;
  sharedService()->perform([value](DUVClient& client) { client.setBadgeNumberReport(value); });
  return true;
}

void ROVodozov::resetBadge() {
  sharedService()->perform([](DUVClient& client) { client.setBadgeNumberReport(0); });
}

std::optional<os::LocalNotification> ROVodozov::setLocalNotification(std::optional<os::Date> fireDate,
                                                                     const std::string& alertBody, int badge,
                                                                     const std::string& alertAction,
                                                                     const std::string& identifierKey,
                                                                     const os::Dictionary& userInfo,
                                                                     const std::string& soundName,
                                                                     const std::optional<os::CircularRegion>& region,
                                                                     bool regionTriggersOnce,
                                                                     const std::optional<std::string>& category) {
  sharedService();
  return DUVLocalNotificationManager::setLocalNotification(fireDate, alertBody, badge, alertAction, identifierKey,
                                                           userInfo, soundName, region, regionTriggersOnce, category);
}

void ROVodozov::showLocalNotificationAtFront(const std::optional<os::LocalNotification>& notification,
                                             const std::optional<std::string>& identifierKey) {
  sharedService();
  DUVLocalNotificationManager::showLocalNotificationAtFront(notification, identifierKey);
}

std::optional<std::vector<os::LocalNotification>> ROVodozov::findLocalNotificationWithIdentifier(
    const std::optional<std::string>& identifierKey) {
  sharedService();
  return DUVLocalNotificationManager::findLocalNotificationWithIdentifier(identifierKey);
}

void ROVodozov::deleteLocalNotificationWithIdentifierKey(const std::optional<std::string>& identifierKey) {
  sharedService();
  DUVLocalNotificationManager::deleteLocalNotificationWithIdentifierKey(identifierKey);
}

void ROVodozov::deleteLocalNotification(const std::optional<os::LocalNotification>& notification) {
  sharedService();
  DUVLocalNotificationManager::deleteLocalNotification(notification);
}

void ROVodozov::clearAllLocalNotifications() {
  sharedService();
  DUVLocalNotificationManager::clearAllLocalNotifications();
}

void ROVodozov::setTags(const std::optional<std::vector<std::string>>& tags, const std::optional<std::string>& alias,
                        std::function<void(int, const std::optional<std::vector<std::string>>&,
                                           const std::optional<std::string>&)> callback) {
  DUVSetTagAliasArg argument;
  argument.tags = tags;
  argument.alias = alias;
  argument.callback = std::move(callback);
  sharedService()->perform([argument](DUVClient& client) { client.setTagAlias(argument); });
}

std::vector<std::string> ROVodozov::filterValidTags(const std::vector<std::string>& tags) {
  return DUVTagAliasValidation::filterValidTags(tags);
}

void ROVodozov::startLogPageView(const std::optional<std::string>& pageName) {
  sharedService()->perform([pageName](DUVClient& client) { client.setViewStart(pageName); });
}

void ROVodozov::stopLogPageView(const std::optional<std::string>& pageName) {
  sharedService()->perform([pageName](DUVClient& client) { client.setViewStop(pageName); });
}

void ROVodozov::beginLogPageView(const std::optional<std::string>& pageName, int seconds) {
  os::Array entry;
  if (pageName) entry = {os::Value(*pageName), os::Value(seconds)};
  sharedService()->perform([entry](DUVClient& client) { client.setViewLogSecond(entry); });
}
