#pragma once
// The application object: its delegate and life cycle, the icon badge, the status bar, URL
// opening through the device's table of URL schemes (shared by every application of the
// simulated device through the device folder), remote and local notifications (recorded for
// tests), background tasks and the keyboard state.
//
// Several applications may live in one process (a test plays the messenger or the browser):
// each has its own bundle identifier; shared() is the one made first (or made current).
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "os/core/Data.h"
#include "os/core/Date.h"
#include "os/core/Error.h"
#include "os/core/URL.h"
#include "os/core/Value.h"
#include "os/graphics/Geometry.h"

namespace os {

class Application;
class RunLoop;
class Sandbox;
class Window;

// Life-cycle notifications, posted on the default centre with the application as object.
inline constexpr const char* kApplicationDidFinishLaunchingNotification = "ApplicationDidFinishLaunchingNotification";
inline constexpr const char* kApplicationDidBecomeActiveNotification = "ApplicationDidBecomeActiveNotification";
inline constexpr const char* kApplicationWillResignActiveNotification = "ApplicationWillResignActiveNotification";
inline constexpr const char* kApplicationDidEnterBackgroundNotification = "ApplicationDidEnterBackgroundNotification";
inline constexpr const char* kApplicationWillEnterForegroundNotification = "ApplicationWillEnterForegroundNotification";
inline constexpr const char* kApplicationWillTerminateNotification = "ApplicationWillTerminateNotification";
inline constexpr const char* kApplicationDidReceiveMemoryWarningNotification = "ApplicationDidReceiveMemoryWarningNotification";
// Keyboard notifications; user info holds the frame as x, y, width, height numbers.
inline constexpr const char* kKeyboardWillShowNotification = "KeyboardWillShowNotification";
inline constexpr const char* kKeyboardDidShowNotification = "KeyboardDidShowNotification";
inline constexpr const char* kKeyboardWillHideNotification = "KeyboardWillHideNotification";
inline constexpr const char* kKeyboardDidHideNotification = "KeyboardDidHideNotification";
inline constexpr const char* kKeyboardFrameUserInfoKey = "KeyboardFrame";
inline constexpr const char* kKeyboardAnimationDurationUserInfoKey = "KeyboardAnimationDuration";

// Launch option keys.
inline constexpr const char* kApplicationLaunchOptionsURLKey = "ApplicationLaunchOptionsURLKey";
inline constexpr const char* kApplicationLaunchOptionsSourceApplicationKey = "ApplicationLaunchOptionsSourceApplicationKey";
inline constexpr const char* kApplicationLaunchOptionsAnnotationKey = "ApplicationLaunchOptionsAnnotationKey";
inline constexpr const char* kApplicationLaunchOptionsRemoteNotificationKey = "ApplicationLaunchOptionsRemoteNotificationKey";
inline constexpr const char* kApplicationLaunchOptionsLocalNotificationKey = "ApplicationLaunchOptionsLocalNotificationKey";

inline constexpr const char* kApplicationErrorDomain = "os.application";
enum ApplicationErrorCode : long { kApplicationErrorRemoteNotificationsUnavailable = 3010 };

enum class ApplicationState { Active = 0, Inactive = 1, Background = 2 };
enum class StatusBarStyle { Default = 0, LightContent = 1, BlackTranslucent = 2, BlackOpaque = 3 };
enum class StatusBarAnimation { None = 0, Fade = 1, Slide = 2 };
enum class InterfaceOrientation { Portrait = 1, PortraitUpsideDown = 2, LandscapeLeft = 4, LandscapeRight = 3 };
enum RemoteNotificationType : unsigned {
  kRemoteNotificationTypeNone = 0,
  kRemoteNotificationTypeBadge = 1 << 0,
  kRemoteNotificationTypeSound = 1 << 1,
  kRemoteNotificationTypeAlert = 1 << 2,
  kRemoteNotificationTypeNewsstandContentAvailability = 1 << 3,
};
enum class BackgroundFetchResult { NewData = 0, NoData = 1, Failed = 2 };
using BackgroundTaskIdentifier = unsigned long;
inline constexpr BackgroundTaskIdentifier kInvalidBackgroundTask = 0;

// What the application asks to show (a RemoteNotificationType mask) and the identifiers of its
// notification categories; the system's answer has the types the user allowed.
struct UserNotificationSettings {
  unsigned types = kRemoteNotificationTypeNone;
  std::vector<std::string> categories;
  bool operator==(const UserNotificationSettings&) const = default;
};

// A circular region the location services watch: a centre, a radius in metres and the caller's
// identifier.
struct CircularRegion {
  double latitude = 0;
  double longitude = 0;
  double radius = 0;
  std::string identifier;
  bool operator==(const CircularRegion&) const = default;
};

struct LocalNotification {
  std::optional<Date> fireDate;
  // The zone the fire date is read in, as wall-clock time; none: an absolute moment.
  std::optional<std::string> timeZone;
  std::string alertBody;
  std::string alertAction;
  std::string soundName;
  long applicationIconBadgeNumber = 0;
  Dictionary userInfo;
  // From system 8.0: a region whose crossing delivers it (once, or every time), and the
  // category of actions it offers.
  std::optional<CircularRegion> region;
  bool regionTriggersOnce = false;
  std::optional<std::string> category;
  bool operator==(const LocalNotification&) const = default;
};

// Every operation is optional.
class ApplicationDelegate {
 public:
  virtual ~ApplicationDelegate() = default;
  virtual bool willFinishLaunchingWithOptions(Application& app, const Dictionary& options) { return true; }
  virtual bool didFinishLaunchingWithOptions(Application& app, const Dictionary& options) { return true; }
  virtual void applicationDidBecomeActive(Application& app) {}
  virtual void applicationWillResignActive(Application& app) {}
  virtual void applicationDidEnterBackground(Application& app) {}
  virtual void applicationWillEnterForeground(Application& app) {}
  virtual void applicationWillTerminate(Application& app) {}
  virtual void applicationDidReceiveMemoryWarning(Application& app) {}
  // The four-argument form is what the application calls; by default it asks handleOpenURL.
  virtual bool openURL(Application& app, const URL& url, const std::string& sourceApplication, const Value& annotation) {
    return handleOpenURL(app, url);
  }
  virtual bool handleOpenURL(Application& app, const URL& url) { return false; }
  virtual void didRegisterForRemoteNotificationsWithDeviceToken(Application& app, const Data& token) {}
  virtual void didFailToRegisterForRemoteNotificationsWithError(Application& app, const Error& error) {}
  virtual void didRegisterUserNotificationSettings(Application& app, const UserNotificationSettings& settings) {}
  virtual void didReceiveRemoteNotification(Application& app, const Dictionary& userInfo) {}
  // What the application calls; by default the plain form, then the handler with "no data".
  virtual void didReceiveRemoteNotificationFetchCompletionHandler(Application& app, const Dictionary& userInfo,
                                                                  std::function<void(BackgroundFetchResult)> handler) {
    didReceiveRemoteNotification(app, userInfo);
    if (handler) handler(BackgroundFetchResult::NoData);
  }
  virtual void didReceiveLocalNotification(Application& app, const LocalNotification& notification) {}
};

class Application : public std::enable_shared_from_this<Application> {
 public:
  // The bundle identifier defaults to the current sandbox's main bundle's.
  static std::shared_ptr<Application> create(std::shared_ptr<ApplicationDelegate> delegate,
                                             std::string bundleIdentifier = {});
  // Another application of the device played in this process (a test's messenger or browser):
  // never the shared one, and its life-cycle notifications stay off this process's centre, as
  // they would on a device.
  static std::shared_ptr<Application> createPeer(std::shared_ptr<ApplicationDelegate> delegate,
                                                 std::string bundleIdentifier);
  // The process's application: the first created, or the last made current.
  static std::shared_ptr<Application> shared();
  void makeShared();
  // A live application of this process by bundle identifier.
  static std::shared_ptr<Application> withBundleIdentifier(const std::string& bundleIdentifier);

  ~Application();

  const std::string& bundleIdentifier() const { return bundleIdentifier_; }
  const std::shared_ptr<ApplicationDelegate>& delegate() const { return delegate_; }
  void setDelegate(std::shared_ptr<ApplicationDelegate> d) { delegate_ = std::move(d); }
  // Where deliveries to this application run (the main run loop).
  const std::shared_ptr<RunLoop>& runLoop() const { return loop_; }

  // ---- life cycle (the platform's side; tests and the program's entry drive these) ----
  // willFinish, didFinish, the launch URL (if any) to openURL, then active. Returns didFinish's answer.
  bool launch(const Dictionary& options = {});
  ApplicationState applicationState() const { return state_; }
  bool isLaunched() const { return launched_; }
  void becomeActive();
  void resignActive();
  // Resigns first when active.
  void enterBackground();
  // From the background: will-enter-foreground, then active.
  void enterForeground();
  void terminate();
  void receiveMemoryWarning();
  // Ends the application as the platform does when it is left for good: resigns active, enters
  // the background and lets the background tasks begun then run to their end, then terminates and
  // lets those begun at that end too, the main run loop running meanwhile; all of it within
  // `limit` real seconds, at which the tasks still open are expired. False when the limit came
  // first. Main thread only.
  bool leave(double limit);

  // ---- URLs ----
  // Registers schemes of this application in the device's table (lower-cased).
  void registerURLSchemes(const std::vector<std::string>& schemes);
  // Also reads "CFBundleURLTypes"/"CFBundleURLSchemes" of the bundle's Info.plist.
  void registerURLSchemesFromInfoDictionary(const Dictionary& info);
  // True when a registered application (or a built-in handler: http, https, tel, sms, mailto,
  // itms-apps) takes the scheme.
  bool canOpenURL(const URL& url) const;
  // Delivers asynchronously on the target's run loop: this application resigns and goes to the
  // background, the target comes to the foreground and its delegate's openURL runs with this
  // application's bundle identifier as source. False when nothing takes the scheme.
  bool openURL(const URL& url, const Value& annotation = {});
  // The newest 1,000 URLs this application asked to open, oldest first (tests).
  const std::vector<URL>& openedURLs() const { return opened_; }
  // The platform side of a URL arriving from `sourceApplication` (drivers, and openURL above).
  bool deliverOpenURL(const URL& url, const std::string& sourceApplication, const Value& annotation);

  // ---- badge, status bar, activity indicator ----
  long applicationIconBadgeNumber() const { return badge_; }
  void setApplicationIconBadgeNumber(long n) { badge_ = n; }
  StatusBarStyle statusBarStyle() const { return statusBarStyle_; }
  void setStatusBarStyle(StatusBarStyle s, bool animated = false) { statusBarStyle_ = s; }
  bool isStatusBarHidden() const { return statusBarHidden_; }
  void setStatusBarHidden(bool hidden, StatusBarAnimation animation = StatusBarAnimation::None);
  static bool isStatusBarHiddenNow();
  Rect statusBarFrame() const;
  InterfaceOrientation statusBarOrientation() const { return orientation_; }
  void setStatusBarOrientation(InterfaceOrientation o) { orientation_ = o; }
  bool isNetworkActivityIndicatorVisible() const { return networkActivity_; }
  void setNetworkActivityIndicatorVisible(bool v) { networkActivity_ = v; }
  // Off keeps the screen from dimming and locking (a long download runs in front of the user).
  bool isIdleTimerDisabled() const { return idleTimerDisabled_; }
  void setIdleTimerDisabled(bool disabled) { idleTimerDisabled_ = disabled; }
  bool isIgnoringInteractionEvents() const { return ignoring_ > 0; }
  void beginIgnoringInteractionEvents() { ++ignoring_; }
  void endIgnoringInteractionEvents() { if (ignoring_ > 0) --ignoring_; }

  // ---- windows ----
  std::shared_ptr<Window> keyWindow() const;
  std::vector<std::shared_ptr<Window>> windows() const;

  // ---- remote notifications ----
  // The older registration (before system 8.0): records the types; the device token (or the
  // failure) reaches the delegate on the run loop.
  void registerForRemoteNotificationTypes(unsigned types);
  // System 8.0 and later split it in two: the token alone, and the user-notification settings,
  // whose answer (the types the user allowed, from the device profile) reaches the delegate on the
  // run loop. Before 8.0 neither exists: calling them raises, as the platform does for a method it
  // does not have, so a caller that skips its version check is caught.
  void registerForRemoteNotifications();
  void registerUserNotificationSettings(const UserNotificationSettings& settings);
  // The settings the user granted; none asked for yet gives no types.
  UserNotificationSettings currentUserNotificationSettings() const { return grantedSettings_; }
  void unregisterForRemoteNotifications();
  unsigned enabledRemoteNotificationTypes() const { return remoteTypes_; }
  bool isRegisteredForRemoteNotifications() const { return remoteTypes_ != 0 || registeredForRemote_; }
  // The platform side of a push arriving: while inactive or in the background the delegate sees
  // it as the user's tap (the state at delivery is what the delegate reads).
  void deliverRemoteNotification(const Dictionary& userInfo, std::function<void(BackgroundFetchResult)> handler = {});

  // ---- local notifications (recorded) ----
  void scheduleLocalNotification(const LocalNotification& n) { scheduled_.push_back(n); }
  void presentLocalNotificationNow(const LocalNotification& n);
  const std::vector<LocalNotification>& scheduledLocalNotifications() const { return scheduled_; }
  const std::vector<LocalNotification>& presentedLocalNotifications() const { return presented_; }
  void cancelLocalNotification(const LocalNotification& n);
  void cancelAllLocalNotifications() { scheduled_.clear(); }

  // ---- background tasks ----
  BackgroundTaskIdentifier beginBackgroundTask(std::function<void()> expirationHandler);
  void endBackgroundTask(BackgroundTaskIdentifier id);
  std::size_t backgroundTaskCount() const { return tasks_.size(); }
  double backgroundTimeRemaining() const;
  // Runs the expiry handlers of the tasks still open (tests stand in for the system here).
  void expireBackgroundTasks();

  // ---- keyboard ----
  bool isKeyboardVisible() const { return keyboardVisible_; }
  Rect keyboardFrame() const;
  // Text inputs call these when they take or give up the first-responder slot.
  void showKeyboard();
  void hideKeyboard();

  struct PrivateTag {};
  Application(PrivateTag, std::shared_ptr<ApplicationDelegate> delegate, std::string bundleIdentifier);

 private:
  void post(std::function<void()> task);
  void notify(const char* name);
  // Writes the standard preferences again when a change could not be saved.
  void keepPreferences();
  void requireSystem8(const char* operation) const;
  void deliverDeviceToken();

  std::string bundleIdentifier_;
  std::shared_ptr<ApplicationDelegate> delegate_;
  std::shared_ptr<RunLoop> loop_;
  ApplicationState state_ = ApplicationState::Inactive;
  bool launched_ = false;
  bool terminated_ = false;
  bool peer_ = false;
  std::vector<URL> opened_;
  long badge_ = 0;
  StatusBarStyle statusBarStyle_ = StatusBarStyle::Default;
  bool statusBarHidden_ = false;
  InterfaceOrientation orientation_ = InterfaceOrientation::Portrait;
  bool networkActivity_ = false;
  int ignoring_ = 0;
  unsigned remoteTypes_ = 0;
  bool registeredForRemote_ = false;
  UserNotificationSettings grantedSettings_;
  bool idleTimerDisabled_ = false;
  std::vector<LocalNotification> scheduled_, presented_;
  std::map<BackgroundTaskIdentifier, std::function<void()>> tasks_;
  BackgroundTaskIdentifier nextTask_ = 1;
  bool keyboardVisible_ = false;
};

// The device's table of URL schemes: scheme → bundle identifier, a property list in the device
// folder written under a lock, so every application of the device sees every registration.
class URLSchemeTable {
 public:
  // The table's file is read only up to this (a registration that would pass it is refused and
  // logged): generous for the schemes of every application a device holds.
  static constexpr std::uint64_t kMaxFileBytes = 1ull << 20;
  static void registerScheme(const std::string& scheme, const std::string& bundleIdentifier);
  // The bundle identifier registered for the scheme (lower-cased), or nullopt.
  static std::optional<std::string> applicationForScheme(const std::string& scheme);
  static Dictionary all();
};

}  // namespace os
