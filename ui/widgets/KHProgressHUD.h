#pragma once
// A translucent rounded box over a view while something is under way: a spinner, a round or bar
// progress indicator, a custom view or text alone, with a main label and a multi-line details
// label. It fades or zooms in and out, can wait a grace period before showing (short tasks never
// show it), can stay a minimum time once shown, can run a task and hide when it ends, follows the
// interface orientation when it sits directly in a window, and tells its delegate or runs its
// completion closure once hidden.
//
// Several clients carry a copy of this HUD; a copy is this class with its own KHProgressHUDStyle
// (sizes, fonts, timings). Main thread only, except the property setters, which forward their
// visible effect to the main thread.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "os/core/Date.h"
#include "os/graphics/Color.h"
#include "os/graphics/Font.h"
#include "os/graphics/Geometry.h"
#include "os/runtime/NotificationCenter.h"
#include "os/views/Label.h"
#include "os/views/View.h"

namespace os {
class DispatchQueue;
class Timer;
class Window;
}  // namespace os

class KHProgressHUD;

enum KHProgressHUDMode : int {
  KHProgressHUDModeIndeterminate = 0,
  KHProgressHUDModeDeterminate = 1,
  KHProgressHUDModeDeterminateHorizontalBar = 2,
  KHProgressHUDModeAnnularDeterminate = 3,
  KHProgressHUDModeCustomView = 4,
  KHProgressHUDModeText = 5,
};

enum KHProgressHUDAnimation : int {
  KHProgressHUDAnimationFade = 0,
  KHProgressHUDAnimationZoomOut = 1,  // shows shrinking from 1.5x, hides shrinking to 0.5x
  KHProgressHUDAnimationZoomIn = 2,   // shows growing from 0.5x, hides growing to 1.5x
};

// The family's parameters: what one copy of the HUD may set differently from another.
struct KHProgressHUDStyle {
  std::string className = "KHProgressHUD";
  double margin = 20;
  double padding = 4;  // between indicator, label and details label
  double opacity = 0.8;
  double cornerRadius = 10;
  double labelFontSize = 16;
  double detailsLabelFontSize = 12;
  double animationDuration = 0.30;
  double hidingAlpha = 0.02;  // alpha at the end of the hiding animation; done() makes it 0
  double zoomLargeScale = 1.5;
  double zoomSmallScale = 0.5;
  double dimAlpha = 0.75;
  os::Size roundProgressSize{37, 37};
  os::Size barProgressSize{120, 20};
  // Editions that paint the panel with the context's fill colour (opaque black) and ignore
  // `color` and `opacity`.
  bool panelInContextFillColor = false;
};

class KHProgressHUDDelegate {
 public:
  virtual ~KHProgressHUDDelegate() = default;
  virtual void hudWasHidden(KHProgressHUD& hud) {}
};

// A pie (or, annular, a ring) that fills with progress.
class KHRoundProgressView : public os::View {
 public:
  explicit KHRoundProgressView(os::Size size = {37, 37});
  std::string className() const override { return "KHRoundProgressView"; }
  float progress() const { return progress_; }
  void setProgress(float progress);
  bool isAnnular() const { return annular_; }
  void setAnnular(bool annular);
  const os::Color& progressTintColor() const { return progressTintColor_; }
  void setProgressTintColor(const os::Color& c);
  const os::Color& backgroundTintColor() const { return backgroundTintColor_; }
  void setBackgroundTintColor(const os::Color& c);
  void drawRect(const os::Rect& rect) override;

 private:
  float progress_ = 0;
  bool annular_ = false;
  os::Color progressTintColor_ = os::Color::withWhite(1, 1);
  os::Color backgroundTintColor_ = os::Color::withWhite(1, 0.1);
};

// A capsule bar that fills from the left.
class KHBarProgressView : public os::View {
 public:
  explicit KHBarProgressView(os::Size size = {120, 20});
  std::string className() const override { return "KHBarProgressView"; }
  float progress() const { return progress_; }
  void setProgress(float progress);
  const os::Color& lineColor() const { return lineColor_; }
  void setLineColor(const os::Color& c);
  const os::Color& progressRemainingColor() const { return progressRemainingColor_; }
  void setProgressRemainingColor(const os::Color& c);
  const os::Color& progressColor() const { return progressColor_; }
  void setProgressColor(const os::Color& c);
  void drawRect(const os::Rect& rect) override;

 private:
  float progress_ = 0;
  os::Color lineColor_ = os::Color::white();
  os::Color progressRemainingColor_ = os::Color::clear();
  os::Color progressColor_ = os::Color::white();
};

class KHProgressHUD : public os::View {
 public:
  using Block = std::function<void()>;

  // Hidden (alpha 0) until shown; labels and indicator made for mode 0.
  explicit KHProgressHUD(const os::Rect& frame, KHProgressHUDStyle style = {});
  ~KHProgressHUD() override;
  // A HUD covering the view's bounds (not yet added to it).
  static std::shared_ptr<KHProgressHUD> initWithView(const os::View& view, KHProgressHUDStyle style = {});
  static std::shared_ptr<KHProgressHUD> initWithWindow(const os::Window& window, KHProgressHUDStyle style = {});
  std::string className() const override { return style_.className; }
  const KHProgressHUDStyle& style() const { return style_; }

  // Made, added to the view and shown.
  static std::shared_ptr<KHProgressHUD> showHUDAddedTo(const std::shared_ptr<os::View>& view, bool animated,
                                                       KHProgressHUDStyle style = {});
  // Hides (and removes once hidden) the topmost HUD of the view; whether there was one.
  static bool hideHUDForView(const os::View& view, bool animated);
  static std::size_t hideAllHUDsForView(const os::View& view, bool animated);
  // The topmost HUD among the view's subviews (searched from last to first).
  static std::shared_ptr<KHProgressHUD> HUDForView(const os::View& view);
  static std::vector<std::shared_ptr<KHProgressHUD>> allHUDsForView(const os::View& view);

  void show(bool animated);
  void hide(bool animated);
  // hide(animated) after the delay, unless the HUD is hidden before.
  void hide(bool animated, double afterDelay);
  // Runs the task on a thread of its own, shows the HUD meanwhile and hides it when the task ends.
  void showWhileExecuting(Block task, bool animated);
  // Runs the task on the queue (the global queue when null), shows the HUD meanwhile, hides it
  // when the task ends and then runs the completion on the main thread.
  void showAnimated(bool animated, Block task, std::shared_ptr<os::DispatchQueue> queue = nullptr,
                    Block completion = {});

  // ---- properties ----
  int mode() const { return mode_; }
  void setMode(int mode);
  int animationType() const { return animationType_; }
  void setAnimationType(int type) { animationType_ = type; }
  const std::shared_ptr<os::View>& customView() const { return customView_; }
  void setCustomView(std::shared_ptr<os::View> view);
  const std::optional<std::string>& labelText() const { return labelText_; }
  void setLabelText(std::optional<std::string> text);
  const std::optional<std::string>& detailsLabelText() const { return detailsLabelText_; }
  void setDetailsLabelText(std::optional<std::string> text);
  const os::Font& labelFont() const { return labelFont_; }
  void setLabelFont(const os::Font& font);
  const os::Color& labelColor() const { return labelColor_; }
  void setLabelColor(const os::Color& color);
  const os::Font& detailsLabelFont() const { return detailsLabelFont_; }
  void setDetailsLabelFont(const os::Font& font);
  const os::Color& detailsLabelColor() const { return detailsLabelColor_; }
  void setDetailsLabelColor(const os::Color& color);
  float progress() const { return progress_; }
  void setProgress(float progress);

  float opacity() const { return opacity_; }
  void setOpacity(float opacity) { opacity_ = opacity; }
  const std::optional<os::Color>& color() const { return color_; }
  void setColor(std::optional<os::Color> color) { color_ = std::move(color); }
  float xOffset() const { return xOffset_; }
  void setXOffset(float x) { xOffset_ = x; }
  float yOffset() const { return yOffset_; }
  void setYOffset(float y) { yOffset_ = y; }
  float margin() const { return margin_; }
  void setMargin(float margin) { margin_ = margin; }
  float cornerRadius() const { return cornerRadius_; }
  void setCornerRadius(float radius) { cornerRadius_ = radius; }
  float graceTime() const { return graceTime_; }
  void setGraceTime(float seconds) { graceTime_ = seconds; }
  float minShowTime() const { return minShowTime_; }
  void setMinShowTime(float seconds) { minShowTime_ = seconds; }
  bool taskInProgress() const { return taskInProgress_; }
  void setTaskInProgress(bool running) { taskInProgress_ = running; }
  bool removeFromSuperViewOnHide() const { return removeFromSuperViewOnHide_; }
  void setRemoveFromSuperViewOnHide(bool remove) { removeFromSuperViewOnHide_ = remove; }
  bool dimBackground() const { return dimBackground_; }
  void setDimBackground(bool dim) { dimBackground_ = dim; }
  bool isSquare() const { return square_; }
  void setSquare(bool square) { square_ = square; }
  os::Size minSize() const { return minSize_; }
  void setMinSize(os::Size size) { minSize_ = size; }
  // The box found by the last layout.
  os::Size size() const { return size_; }
  const os::AffineTransform& rotationTransform() const { return rotationTransform_; }
  bool useAnimation() const { return useAnimation_; }
  // When the HUD became visible; nothing while hidden.
  const std::optional<os::Date>& showStarted() const { return showStarted_; }

  std::shared_ptr<KHProgressHUDDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<KHProgressHUDDelegate> delegate) { delegate_ = std::move(delegate); }
  void setCompletionBlock(Block block) { completionBlock_ = std::move(block); }
  const Block& completionBlock() const { return completionBlock_; }

  const std::shared_ptr<os::Label>& label() const { return label_; }
  const std::shared_ptr<os::Label>& detailsLabel() const { return detailsLabel_; }
  const std::shared_ptr<os::View>& indicator() const { return indicator_; }

  void layoutSubviews() override;
  void drawRect(const os::Rect& rect) override;
  void didMoveToSuperview() override;

 private:
  std::shared_ptr<KHProgressHUD> self();
  // Runs on the main thread now, or later when called from another thread.
  void onMain(Block work);
  void setupLabels();
  void updateIndicators();
  void updateUIForKeypath(const std::string& keyPath);
  void showUsingAnimation(bool animated);
  void hideUsingAnimation(bool animated);
  void handleGraceTimer();
  void handleMinShowTimer();
  void cleanUp();
  void done();
  void deviceOrientationDidChange();
  void setTransformForCurrentOrientation(bool animated);
  os::AffineTransform scaled(double scale) const;

  KHProgressHUDStyle style_;
  bool useAnimation_ = false;
  std::shared_ptr<os::Label> label_, detailsLabel_;
  os::AffineTransform rotationTransform_;
  bool square_ = false;
  bool dimBackground_ = false;
  bool taskInProgress_ = false;
  bool removeFromSuperViewOnHide_ = false;
  int animationType_ = KHProgressHUDAnimationFade;
  std::weak_ptr<KHProgressHUDDelegate> delegate_;
  float opacity_;
  std::optional<os::Color> color_;
  os::Font labelFont_, detailsLabelFont_;
  os::Color labelColor_ = os::Color::white(), detailsLabelColor_ = os::Color::white();
  std::shared_ptr<os::View> indicator_;
  float xOffset_ = 0, yOffset_ = 0;
  float margin_;
  float graceTime_ = 0, minShowTime_ = 0;
  std::shared_ptr<os::Timer> graceTimer_, minShowTimer_;
  std::shared_ptr<os::View> customView_;
  std::optional<os::Date> showStarted_;
  int mode_ = KHProgressHUDModeIndeterminate;
  std::optional<std::string> labelText_, detailsLabelText_;
  float progress_ = 0;
  Block completionBlock_;
  float cornerRadius_;
  bool reported_ = false;  // the current hiding was reported (done ran)
  os::Size minSize_;
  os::Size size_;
  os::NotificationCenter::ObserverToken orientationObserver_{};
};
