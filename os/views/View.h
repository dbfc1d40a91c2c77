#pragma once
// The retained view tree: geometry (frame, bounds, center, transform), look (alpha, hidden,
// background, layer), subview order, autoresizing and layout passes, drawing into a recording
// context, hit testing and coordinate conversion, touches and gesture recognizers, and
// animations that apply their end state at once and complete after their duration on os::Clock.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "os/graphics/Color.h"
#include "os/graphics/Geometry.h"
#include "os/views/Layer.h"
#include "os/views/Responder.h"
#include "os/views/Touch.h"

namespace os {

class Window;
class ViewController;
class GestureRecognizer;
class RecordingContext;
class GraphicsContext;

// Autoresizing mask bits (the platform's values).
enum ViewAutoresizing : unsigned {
  kViewAutoresizingNone = 0,
  kViewAutoresizingFlexibleLeftMargin = 1 << 0,
  kViewAutoresizingFlexibleWidth = 1 << 1,
  kViewAutoresizingFlexibleRightMargin = 1 << 2,
  kViewAutoresizingFlexibleTopMargin = 1 << 3,
  kViewAutoresizingFlexibleHeight = 1 << 4,
  kViewAutoresizingFlexibleBottomMargin = 1 << 5,
};

enum class ViewContentMode {
  ScaleToFill = 0, ScaleAspectFit, ScaleAspectFill, Redraw, Center, Top, Bottom, Left, Right,
  TopLeft, TopRight, BottomLeft, BottomRight
};

// Animation option bits (curves are kept for the log; timing is linear on the clock).
enum ViewAnimationOptions : unsigned {
  kViewAnimationOptionNone = 0,
  kViewAnimationOptionLayoutSubviews = 1 << 0,
  kViewAnimationOptionAllowUserInteraction = 1 << 1,
  kViewAnimationOptionBeginFromCurrentState = 1 << 2,
  kViewAnimationOptionRepeat = 1 << 3,
  kViewAnimationOptionAutoreverse = 1 << 4,
  kViewAnimationOptionCurveEaseInOut = 0 << 16,
  kViewAnimationOptionCurveEaseIn = 1 << 16,
  kViewAnimationOptionCurveEaseOut = 2 << 16,
  kViewAnimationOptionCurveLinear = 3 << 16,
};
enum class ViewAnimationCurve { EaseInOut = 0, EaseIn = 1, EaseOut = 2, Linear = 3 };

// One animation as the log keeps it.
struct AnimationRecord {
  std::string name;      // the name given to beginAnimations, else ""
  double duration = 0;
  double delay = 0;
  unsigned options = 0;
  double startTime = 0;  // os::Clock::monotonic() when it began
  bool completed = false;
  std::uint64_t id = 0;
};

class View : public Responder {
 public:
  View();
  explicit View(const Rect& frame);
  ~View() override;
  View(const View&) = delete;
  View& operator=(const View&) = delete;

  // The class name shown by screen dumps; subclasses answer their own.
  virtual std::string className() const { return "View"; }

  // Geometry. The frame is derived from center, bounds size and transform.
  Rect frame() const;
  virtual void setFrame(const Rect& frame);
  const Rect& bounds() const { return bounds_; }
  virtual void setBounds(const Rect& bounds);
  Point center() const { return center_; }
  void setCenter(Point center);
  AffineTransform transform() const;
  void setTransform(const AffineTransform& t);
  Layer& layer() { return *layer_; }
  const Layer& layer() const { return *layer_; }

  // Look.
  double alpha() const { return alpha_; }
  void setAlpha(double alpha);
  bool isHidden() const { return hidden_; }
  void setHidden(bool hidden);
  bool isOpaque() const { return opaque_; }
  void setOpaque(bool o) { opaque_ = o; }
  bool clipsToBounds() const { return clips_; }
  void setClipsToBounds(bool c) { clips_ = c; }
  // Absent: no background (clear).
  const std::optional<Color>& backgroundColor() const { return background_; }
  virtual void setBackgroundColor(std::optional<Color> color);
  const std::optional<Color>& tintColor() const { return tint_; }
  void setTintColor(std::optional<Color> c) { tint_ = c; }
  ViewContentMode contentMode() const { return contentMode_; }
  void setContentMode(ViewContentMode m);

  int tag() const { return tag_; }
  void setTag(int tag) { tag_ = tag; }
  // What the view means to a reader who cannot make out its picture ("分享" for a button that
  // shows only a share icon): screen dumps print it, and a reader's commands name the view by it.
  const std::string& accessibilityLabel() const { return accessibilityLabel_; }
  void setAccessibilityLabel(std::string label) { accessibilityLabel_ = std::move(label); }
  // This view or the first descendant (depth first, in subview order) with the tag.
  std::shared_ptr<View> viewWithTag(int tag);

  bool isUserInteractionEnabled() const { return interaction_; }
  void setUserInteractionEnabled(bool e) { interaction_ = e; }
  bool isMultipleTouchEnabled() const { return multipleTouch_; }
  void setMultipleTouchEnabled(bool e) { multipleTouch_ = e; }
  bool isExclusiveTouch() const { return exclusiveTouch_; }
  void setExclusiveTouch(bool e) { exclusiveTouch_ = e; }

  // The tree. A view has at most one superview; adding it elsewhere moves it.
  std::shared_ptr<View> superview() const;
  View* superviewPtr() const { return superview_; }
  const std::vector<std::shared_ptr<View>>& subviews() const {
    if (holes_ > 0) compactSubviews();
    return subviews_;
  }
  Window* window() const;
  void addSubview(const std::shared_ptr<View>& view);
  // Index is clamped to the subview count.
  void insertSubview(const std::shared_ptr<View>& view, std::size_t index);
  void insertSubviewAbove(const std::shared_ptr<View>& view, const View* sibling);
  void insertSubviewBelow(const std::shared_ptr<View>& view, const View* sibling);
  void bringSubviewToFront(const View* view);
  void sendSubviewToBack(const View* view);
  // Raises os::Exception (range) for an index beyond the subviews.
  void exchangeSubviewAtIndex(std::size_t index1, std::size_t index2);
  void removeFromSuperview();
  bool isDescendantOfView(const View* view) const;

  // Hooks around tree changes.
  virtual void willMoveToSuperview(View* newSuperview) {}
  virtual void didMoveToSuperview() {}
  virtual void willMoveToWindow(Window* newWindow) {}
  virtual void didMoveToWindow() {}
  virtual void didAddSubview(View* subview) {}
  virtual void willRemoveSubview(View* subview) {}

  // Autoresizing: applied to the subviews whenever this view's bounds size changes.
  unsigned autoresizingMask() const { return autoresizingMask_; }
  void setAutoresizingMask(unsigned mask) { autoresizingMask_ = mask; }
  bool autoresizesSubviews() const { return autoresizesSubviews_; }
  void setAutoresizesSubviews(bool a) { autoresizesSubviews_ = a; }

  // Layout: setNeedsLayout marks the view and schedules a layout pass of its window on the
  // main run loop; layoutIfNeeded runs the marked views of this subtree now.
  void setNeedsLayout();
  bool needsLayout() const { return needsLayout_; }
  void layoutIfNeeded();
  virtual void layoutSubviews() {}

  // Drawing: setNeedsDisplay marks the view; the next layout pass (or displayIfNeeded) runs
  // drawRect into a fresh recording context kept as lastDrawing().
  void setNeedsDisplay();
  bool needsDisplay() const { return needsDisplay_; }
  void displayIfNeeded();
  void display();
  virtual void drawRect(const Rect& rect) {}
  const std::shared_ptr<RecordingContext>& lastDrawing() const { return lastDrawing_; }

  // Sizing.
  virtual Size sizeThatFits(Size size) const { return bounds_.size; }
  void sizeToFit();

  // Hit testing in this view's coordinates. Hidden views, views with alpha below 0.01 and views
  // that do not take touches answer null.
  virtual std::shared_ptr<View> hitTest(Point point, const Event* event);
  virtual bool pointInside(Point point, const Event* event) const;

  // Conversion between views of one tree; a null view stands for window coordinates.
  Point convertPointToView(Point point, const View* view) const;
  Point convertPointFromView(Point point, const View* view) const;
  Rect convertRectToView(const Rect& rect, const View* view) const;
  Rect convertRectFromView(const Rect& rect, const View* view) const;

  // Responder chain: a controller's root view answers its controller, other views their superview.
  Responder* nextResponder() const override;
  // The controller whose root view this is, if any.
  ViewController* viewController() const { return controller_; }
  // The nearest controller up the responder chain.
  ViewController* enclosingViewController() const;
  // Gives up the first responder held in this subtree.
  bool endEditing(bool force);

  // Gesture recognizers attached to this view, in the order added.
  void addGestureRecognizer(const std::shared_ptr<GestureRecognizer>& recognizer);
  void removeGestureRecognizer(const GestureRecognizer* recognizer);
  const std::vector<std::shared_ptr<GestureRecognizer>>& gestureRecognizers() const { return recognizers_; }
  // Asked before a recognizer of this view or of an ancestor begins on a touch in this view.
  virtual bool gestureRecognizerShouldBegin(GestureRecognizer& recognizer) { return true; }

  // Texts for screen dumps ("text=…", "image=…"), in the order they should print.
  virtual void describeForDump(std::vector<std::string>& parts) const {}
  // Whether a dump shows the subview (controls keep their private parts out).
  virtual bool dumpsSubview(const View& subview) const { return true; }

  // Draws this view and its visible subviews into the context, in this view's coordinates.
  void renderHierarchy(GraphicsContext& context);

  // Animations. The changes made in `animations` take effect at once; completion(true) runs
  // once delay + duration have passed on os::Clock (on the main run loop, through a timer).
  using AnimationBlock = std::function<void()>;
  using CompletionBlock = std::function<void(bool finished)>;
  static void animate(double duration, double delay, unsigned options, const AnimationBlock& animations,
                      CompletionBlock completion = {});
  static void animate(double duration, const AnimationBlock& animations, CompletionBlock completion = {});
  // The older begin/commit form.
  static void beginAnimations(std::string name = {});
  static void setAnimationDuration(double seconds);
  static void setAnimationDelay(double seconds);
  static void setAnimationCurve(ViewAnimationCurve curve);
  static void setAnimationDidStop(CompletionBlock handler);
  static void commitAnimations();
  static void setAnimationsEnabled(bool enabled);
  static bool areAnimationsEnabled();
  // Every animation since the last clear, oldest first.
  // The animations begun, oldest first: at least the last kKeptAnimationRecords of them, and at
  // most twice as many.
  static constexpr std::size_t kKeptAnimationRecords = 512;
  static const std::vector<AnimationRecord>& animationLog();
  static void clearAnimationLog();
  static bool isAnimating();  // inside an animation block
  // Animations begun and not yet completed (their completion still to run on the main loop).
  static std::size_t animationsUnderWay();

 protected:
  // Autoresizes one subview after this view's size changed from `oldSize`.
  virtual void resizeSubview(View& subview, Size oldSize);

 private:
  friend class ViewController;
  friend class Window;
  friend class Layer;
  void attach(const std::shared_ptr<View>& view, std::size_t index);
  // Closes the holes removals left in subviews_ and numbers the slots again.
  void compactSubviews() const;
  // The subview's place in subviews_ (holes counted), or npos when it is not a subview.
  std::size_t slotOf(const View* subview) const;
  void renumberSlotsFrom(std::size_t index);
  void detachFromSuperview();
  void boundsSizeChanged(Size oldSize);
  void propagateWindow(Window* oldWindow, Window* newWindow, bool before);
  void scheduleLayoutPass();
  void layoutSubtree();
  void displaySubtree();
  void renderInto(GraphicsContext& context);
  // Point in superview coordinates ↔ this view's coordinates.
  Point toSuperview(Point p) const;
  Point fromSuperview(Point p) const;

  View* superview_ = nullptr;
  // A removal leaves a hole (null) rather than moving every later subview down, so that emptying a
  // view one subview at a time is linear; the holes are closed before anything reads the list by
  // position. slot_ is this view's place in its superview's list.
  mutable std::vector<std::shared_ptr<View>> subviews_;
  mutable std::size_t holes_ = 0;
  std::size_t slot_ = 0;
  std::vector<std::shared_ptr<GestureRecognizer>> recognizers_;
  std::shared_ptr<Layer> layer_;
  ViewController* controller_ = nullptr;

  Rect bounds_;
  Point center_;
  double alpha_ = 1;
  bool hidden_ = false;
  bool opaque_ = true;
  bool clips_ = false;
  std::optional<Color> background_;
  std::optional<Color> tint_;
  ViewContentMode contentMode_ = ViewContentMode::ScaleToFill;
  int tag_ = 0;
  std::string accessibilityLabel_;
  bool interaction_ = true;
  bool multipleTouch_ = false;
  bool exclusiveTouch_ = false;
  unsigned autoresizingMask_ = kViewAutoresizingNone;
  bool autoresizesSubviews_ = true;
  bool needsLayout_ = false;
  bool needsDisplay_ = false;
  std::shared_ptr<RecordingContext> lastDrawing_;
};

// Builds a view with std::make_shared and sets its frame: the common way to make one.
template <class T, class... Args>
std::shared_ptr<T> makeView(const Rect& frame, Args&&... args) {
  auto view = std::make_shared<T>(std::forward<Args>(args)...);
  view->setFrame(frame);
  return view;
}

}  // namespace os
