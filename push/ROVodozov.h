#pragma once
// The push notification client's public entry. The application reaches the client only through
// these class operations. Each one reaches the single shared entry, which owns the client thread
// ("org.qelm.zurar.thread", a run loop that lives as long as the process) and the client state;
// operations on that state are queued to the thread in the order they were called, without
// waiting. Registration with the platform, the registration id and the device id are answered on
// the caller's thread.
//
// Every call is also written to the process's ServiceCallLog under "ROVodozov", so start-up and
// settings tests can see what the application handed the client (kept only while one records).
#include <functional>
#include <memory>
#include <optional>
#include <vector>
#include <string>

#include "os/core/Data.h"
#include "os/core/Value.h"
#include "os/runtime/NotificationCenter.h"
#include "os/views/Application.h"
#include "os/views/Device.h"

namespace os {
class Thread;
}
class DUVClient;

class ROVodozov : public std::enable_shared_from_this<ROVodozov> {
 public:
  // Registers the application for remote notifications of the types in the mask (badge 1,
  // sound 2, alert 4) with the given notification categories (a set of identifiers, or null for
  // none): from system 8.0 for remote notifications and then for the user-notification settings,
  // before it with the types alone. Does not make the client.
  static void registerForRemoteNotificationTypes(unsigned types, const os::Value& categories);
  // Starts the client with the application's launch options; their remote-notification entry
  // counts as a notification received at launch.
  static void setupWithOption(const os::Dictionary& launchOptions);
  // The device token, as the platform reported it.
  static void registerDeviceToken(const os::Data& token);
  // A remote notification's user info, received while the application runs.
  static void handleRemoteNotification(const os::Dictionary& userInfo);

  // The shared entry, made with the whole client on the first call.
  static std::shared_ptr<ROVodozov> sharedService();
  // Does nothing: the client lives as long as the process.
  static void close() {}
  // A position for the next location report (altitude and accuracies unknown).
  static void setLatitude(double latitude, double longitude);
  // A position fix for the next location report; none is refused with an error line.
  static void setLocation(const std::optional<os::Location>& location);
  // Switches crash capture on: crashes are recorded and reported at the next start.
  static void crashLogON();
  static void setDebugMode();
  static void setLogOFF();
  // "iPhone" and the push client's device identifier, 24 characters in all.
  static std::string sharedUDID();
  // The registration id stored for this application, "" before any registration.
  static std::string registrationID();
  // Tags and alias of the device (nothing: not changed); the callback, if any, hears the result
  // code on the main queue once.
  static void setTags(const std::optional<std::vector<std::string>>& tags, const std::optional<std::string>& alias,
                      std::function<void(int, const std::optional<std::vector<std::string>>&,
                                         const std::optional<std::string>&)> callback = {});
  static std::vector<std::string> filterValidTags(const std::vector<std::string>& tags);
  // Page views, timed by the client and reported with the usage session.
  static void startLogPageView(const std::optional<std::string>& pageName);
  static void stopLogPageView(const std::optional<std::string>& pageName);
  static void beginLogPageView(const std::optional<std::string>& pageName, int seconds);
  // False (and nothing queued) for values above 99999 and negative ones.
  static bool setBadge(int value);
  static void resetBadge();

  // Local notifications of the application, on the caller's thread, tagged with an identifier key.
  static std::optional<os::LocalNotification> setLocalNotification(std::optional<os::Date> fireDate,
                                                                   const std::string& alertBody, int badge,
                                                                   const std::string& alertAction,
                                                                   const std::string& identifierKey,
                                                                   const os::Dictionary& userInfo,
                                                                   const std::string& soundName,
                                                                   const std::optional<os::CircularRegion>& region = std::nullopt,
                                                                   bool regionTriggersOnce = false,
                                                                   const std::optional<std::string>& category = std::nullopt);
  static void showLocalNotificationAtFront(const std::optional<os::LocalNotification>& notification,
                                           const std::optional<std::string>& identifierKey);
  static std::optional<std::vector<os::LocalNotification>> findLocalNotificationWithIdentifier(
      const std::optional<std::string>& identifierKey);
  static void deleteLocalNotificationWithIdentifierKey(const std::optional<std::string>& identifierKey);
  static void deleteLocalNotification(const std::optional<os::LocalNotification>& notification);
  static void clearAllLocalNotifications();

  // Ends the client thread and forgets the shared entry, so the next call makes a fresh client.
  // The program never calls it; tests do between cases.
  static void tearDownSharedService();

  const std::shared_ptr<DUVClient>& client() const { return client_; }
  const std::shared_ptr<os::Thread>& clientThread() const { return clientThread_; }
  // Queues work on the client thread, in order, without waiting.
  void perform(std::function<void(DUVClient&)> work);

  ~ROVodozov();
  struct PrivateTag {};
  explicit ROVodozov(PrivateTag) {}

 private:
  void start();
  void handleRemoteNotificationAtLaunch(const os::Dictionary& userInfo, bool atLaunch);
  void addAppStateNotifications();
  void reportLaunch();
  void reportInactive();
  void synchronize();
  // Holds the application's end until the client thread has done the work queued so far.
  void finishInBackground();

  std::shared_ptr<DUVClient> client_;
  std::shared_ptr<os::Thread> clientThread_;
  std::vector<os::NotificationCenter::ObserverToken> observers_;
};
