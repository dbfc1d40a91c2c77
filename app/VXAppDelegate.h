#pragma once
// The application delegate: starts the embedded service clients (push, analytics, sharing, crash
// reports), builds the window with the side menu, the navigation around the home screen and the
// splash on top, activates the client again on each return to the foreground, and hands URLs,
// the device token and remote notifications to their services. Main thread only.
#include <memory>
#include <string>

#include "os/core/Value.h"
#include "os/views/Application.h"

class VXViewController;
class VXSplashView;
namespace os {
class URLConnection;
class Window;
}  // namespace os

// Defaults key: integer 1 when the reader turned push messages off.
inline constexpr const char* kPushMessageKey = "kPushMessage";
// The crash reporter's API key (a deployment value).
inline constexpr const char* kBrekkaAPIKey = "3c9e1f70b2a84d56e0f3a9c17b6d2e84f05a1c93";

class VXReaderContext;

class VXAppDelegate : public os::ApplicationDelegate, public std::enable_shared_from_this<VXAppDelegate> {
 public:
  // Badge, sound and alert.
  static constexpr unsigned kRemoteNotificationTypes =
      os::kRemoteNotificationTypeBadge | os::kRemoteNotificationTypeSound | os::kRemoteNotificationTypeAlert;
  static constexpr int kReportPolicy = 1;

  // `context`: the reader context the screens it makes belong to (null: the current one).
  explicit VXAppDelegate(std::shared_ptr<VXReaderContext> context = nullptr);

  // Where the tracking ping goes (scheme and host; a trailing "/" is ignored); the promotion
  // server's root until set.
  static void setTrackingHost(std::string url);
  static std::string trackingHost();

  // Connects the article screen's ad source to the context's state and installs the article
  // routing in `context`. Start-up calls it before building the screens;
  // calling it again changes nothing.
  static void installServices(VXReaderContext& context);

  bool didFinishLaunchingWithOptions(os::Application& app, const os::Dictionary& options) override;
  void applicationWillEnterForeground(os::Application& app) override;
  void applicationDidBecomeActive(os::Application& app) override;
  bool openURL(os::Application& app, const os::URL& url, const std::string& sourceApplication,
               const os::Value& annotation) override;
  bool handleOpenURL(os::Application& app, const os::URL& url) override;
  void didRegisterForRemoteNotificationsWithDeviceToken(os::Application& app, const os::Data& token) override;
  void didReceiveRemoteNotification(os::Application& app, const os::Dictionary& userInfo) override;
  void didReceiveRemoteNotificationFetchCompletionHandler(
      os::Application& app, const os::Dictionary& userInfo,
      std::function<void(os::BackgroundFetchResult)> handler) override;

  // Push registration and the push client's start, unless the reader turned push messages off.
  void ZUrar(const os::Dictionary& launchOptions);
  // Makes a pushed headline the home screen's pending message and schedules its jump: at once
  // (once the splash has ended) for the first start, else offered in an alert. A payload that is
  // no usable headline, or one arriving while another is pending, changes nothing.
  void pushToJump(const os::Value& payload, bool firstStart);
  // The tracking ping, the analytics start with the channel of the bundle's "config" and the
  // sharing component's application key.
  void ombra();
  void initControllers();
  void splashView();

  const std::shared_ptr<os::Window>& window() const { return window_; }
  const std::shared_ptr<VXViewController>& mainViewController() const { return mainViewController_; }
  // The splash laid over the window at launch (it removes itself when it ends).
  const std::shared_ptr<VXSplashView>& splash() const { return splash_; }

 private:
  void trackingPing();

  std::shared_ptr<os::Window> window_;
  std::shared_ptr<VXViewController> mainViewController_;
  std::shared_ptr<VXSplashView> splash_;
  std::shared_ptr<os::URLConnection> ping_;
  std::shared_ptr<VXReaderContext> context_;
};
