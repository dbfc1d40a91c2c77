#pragma once
// The home screen, root of the navigation controller in the centre of the side menu: the news
// view under the navigation bar, the menu button, the read-history upload when Wi-Fi becomes
// reachable, the new-version check and crash-dump upload ten seconds after it loads, and the
// jump to the article of a pushed headline. Main thread, except the history upload's own thread.
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "app/VXAlertMessage.h"
#include "news/home/VXNewsView.h"
#include "news/shell/NQBaseViewController.h"
#include "news/store/VXGlobalDefine.h"
#include "os/runtime/NotificationCenter.h"
#include "os/runtime/Timer.h"
#include "os/views/AlertView.h"

class Reachability;
class VXGlobalDefine;
class VXReaderContext;

class VXViewController : public NQBaseViewController, public os::AlertViewDelegate {
 public:
  static constexpr double kLaunchTimerDelay = 10.0;
  static constexpr double kHistoryRequestGap = 1.0;
  static constexpr double kJumpNowDelay = 0.2;
  static constexpr double kJumpByAlertDelay = 1.0;
  static constexpr double kJumpAfterLaunchDelay = 0.5;
  static constexpr int kUpdateAlertTag = 100;

  // The host whose reachability changes start the history upload (a public web portal).
  static void setReachabilityHostName(std::string hostName);
  static std::string reachabilityHostName();
  // Schemes the update link may have: the web's and the store's.
  static bool isAllowedUpdateURL(const std::string& url);

  // `context`: the reader context whose news, state, servers and side menu it uses.
  explicit VXViewController(std::shared_ptr<VXReaderContext> context);
  ~VXViewController() override;
  std::string className() const override { return "VXViewController"; }

  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;
  std::string navbarTitle() const override { return "Corvessa"; }
  void customNavbar() override;
  void leftBarItemClick();
  void controllerInit();

  // --- history upload, version check, crash dump ---
  void reachabilityChanged();
  // One pass over the ids waiting for upload, 1 s apart, on a thread of its own; nothing while
  // an earlier pass still runs.
  void threadRun();
  void timerFireMethod();
  void updateVersion();
  const std::optional<std::string>& appstoreUrl() const { return appstoreUrl_; }
  // Whether a history upload pass is running (sending, or waiting for answers).
  bool historyUploadRunning() const;

  // --- pushed headlines ---
  const std::shared_ptr<VXAlertMessage>& alertMessage() const { return alertMessage_; }
  void setAlertMessage(std::shared_ptr<VXAlertMessage> message) { alertMessage_ = std::move(message); }
  // YES: open after 0.2 s (once the splash has ended); NO: offer it in an alert after 1 s.
  void excuteJump(bool firstStart);
  void jumpNow();
  void jumpByAlert();
  void alertMessage(const os::Dictionary& payload);
  void clickedButtonAtIndex(os::AlertView& alert, long buttonIndex) override;
  void msgLaunchEnd();
  void msgScreenStatus();

  const std::shared_ptr<VXNewsView>& newsView() const { return newsView_; }
  const std::shared_ptr<os::Timer>& launchTimer() const { return launchTimer_; }

 private:
  // What one history pass shares with its thread and its answers.
  struct HistoryUpload {
    mutable std::mutex mutex;
    bool running = false;  // from the start of a pass until its last answer
    bool sending = false;  // the pass's thread still has ids to send
    int outstanding = 0;   // requests sent and not yet answered
  };
  static void runHistoryPass(const std::shared_ptr<HistoryUpload>& upload,
                             const std::weak_ptr<VXReaderContext>& context);
  static void historyAnswered(const std::shared_ptr<HistoryUpload>& upload);
  std::shared_ptr<VXGlobalDefine> state() const;
  void showSideMenu(bool show) const;
  // Before a pushed article opens: action sheets, the share sheet and presented screens go.
  void closeWhatCovers() const;
  void versionAnswered(const std::string& text);
  std::weak_ptr<VXViewController> weakSelf() const;
  void schedule(double delay, void (VXViewController::*method)());

  // Weak: the context holds the side menu, which holds this screen.
  std::weak_ptr<VXReaderContext> context_;
  std::shared_ptr<VXAlertMessage> alertMessage_;
  std::weak_ptr<os::AlertView> headlineAlert_;
  std::optional<std::string> appstoreUrl_;
  std::shared_ptr<VXNewsView> newsView_;
  std::shared_ptr<Reachability> hostReach_;
  std::shared_ptr<os::Timer> launchTimer_;
  std::shared_ptr<HistoryUpload> historyUpload_ = std::make_shared<HistoryUpload>();
  os::NotificationCenter::ObserverToken reachabilityToken_ = 0, launchEndToken_ = 0, screenStatusToken_ = 0;
};
