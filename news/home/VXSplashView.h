#pragma once
// The splash that covers the window while the reader starts: a short logo animation and, at the
// same time, the activation request (which brings back the server's switches). Whatever the
// activation's outcome, the ad list, the categories and the read history are loaded next. The
// splash leaves once both the animation and the category list are done, and then posts
// "fLaunchEnd", once. Main thread only.
#include <memory>
#include <optional>

#include "os/core/Value.h"
#include "os/runtime/NotificationCenter.h"
#include "os/views/ImageView.h"
#include "os/views/View.h"

class VXReaderContext;

// Posted (no object) when the splash has ended.
inline constexpr const char* kSplashLaunchEndNotification = "fLaunchEnd";
// Defaults key: integer 1 once an activation has been answered on this device.
inline constexpr const char* kAppActiveKey = "kAppActive";

class VXSplashView : public os::View {
 public:
  static constexpr double kAnimationDuration = 4.0;
  static constexpr double kActivationTimeout = 3.0;
  // "cp" of the activation request.
  static constexpr int kFirstRun = 1;
  static constexpr int kLaterRun = 2;
  static constexpr int kForeground = 3;

  // Builds the views and starts (animation, then activation); `context` is the reader context
  // whose state and category list the launch fills.
  static std::shared_ptr<VXSplashView> create(const os::Rect& frame, std::shared_ptr<VXReaderContext> context);
  explicit VXSplashView(const os::Rect& frame, std::shared_ptr<VXReaderContext> context);  // use create()
  ~VXSplashView() override;
  std::string className() const override { return "VXSplashView"; }

  // The background picture for a main screen of this height in points.
  static const char* backgroundImageName(double screenHeight);
  // "cp" for this launch: 2 once an activation was answered on this device, else 1.
  static int activationCp();
  // Applies an activation answer's switches ("pass", "nctime") to the application-wide state;
  // a missing answer changes nothing. The foreground activation shares it.
  static void applyActivationAnswer(const std::optional<os::Dictionary>& data);
  static void applyActivationAnswer(const std::optional<os::Dictionary>& data, VXReaderContext& context);

  void splashStart();
  // One precondition done (animation, category list); the second ends the splash.
  void splashEnd();
  void startAnimation();
  void appActive();
  void initAfterActive();
  void msgNotification();

  int count() const { return count_; }
  bool ended() const { return ended_; }
  const std::shared_ptr<os::ImageView>& backgroundView() const { return backgroundView_; }
  const std::shared_ptr<os::ImageView>& logoView() const { return logoView_; }
  const std::shared_ptr<os::ImageView>& sloganView() const { return sloganView_; }

 private:
  std::shared_ptr<VXSplashView> self();

  int count_ = 0;
  bool ended_ = false;
  std::shared_ptr<os::ImageView> backgroundView_, logoView_, sloganView_;
  os::NotificationCenter::ObserverToken categoryToken_ = 0;
  std::shared_ptr<VXReaderContext> context_;
};
