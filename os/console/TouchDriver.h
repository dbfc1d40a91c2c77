#pragma once
// Plays touches on the screen the way a finger would: through hit testing, the gesture
// recognizers and the responder chain of the window under the point. Between the steps of a
// gesture time passes (a virtual clock is moved on; under the real clock the main run loop runs
// for that long) and the main run loop runs, so timers and posted work happen as they would.
// Points are in window coordinates unless a view is given.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "os/graphics/Geometry.h"

namespace os {

class AlertBaseView;
class Responder;
class Touch;
class View;
class Window;
class ScrollView;
class TableView;
class TextField;
class TextView;
struct IndexPath;

// How a finger moves in a pan. Points are window points.
struct PanOptions {
  // Samples from one point of the path to the next.
  int steps = 10;
  // Points the finger passes through between the first and the last, in order.
  std::vector<Point> through;
  // When set, the last sample moves at this speed (points per second) just before the finger
  // lifts: what a scroll view decelerates from. {0, 0} holds the finger still before it lifts.
  // Unset, the finger lifts at the speed of the path's last step.
  std::optional<Point> releaseVelocity;
  // The system takes the touch away (a call coming in) instead of the finger lifting.
  bool cancel = false;
  // The window to play in; the topmost one under the first point when null.
  Window* window = nullptr;
};

class TouchDriver {
 public:
  // Seconds between two touch samples of a moving finger.
  static constexpr double kSampleInterval = 1.0 / 60;
  // How long a tap keeps the finger down.
  static constexpr double kTapDuration = 0.05;

  // Lays out every window and runs the main run loop until it is idle.
  static void settle();
  // Moves the virtual clock on by `seconds` (in small steps so timers fire in order) and settles;
  // under the real clock, runs the main run loop for that long. A negative or infinite duration
  // counts as 0.
  static void advance(double seconds);

  // A tap at a window point of the topmost visible window that contains it. False when no view
  // took the touch.
  static bool tap(Point point, Window* window = nullptr);
  // A tap at the middle of the view's visible part.
  static bool tap(const View& view);
  // Two taps at one point, kTapDuration apart.
  static bool doubleTap(Point point, Window* window = nullptr);
  static bool doubleTap(const View& view);
  // A finger pressed at `from`, moved to `to` in `steps` samples, then lifted.
  static void pan(Point from, Point to, int steps = 10, Window* window = nullptr);
  static void pan(Point from, Point to, const PanOptions& options);
  // A drag whose pan begins on its first sample: the finger comes down at `from`, moves just past
  // the pan recognizers' hysteresis towards `to`, then to `to` in one sample, and lifts.
  static void drag(Point from, Point to, Window* window = nullptr);
  // Drags the content of the scroll view by `translation` (the finger's movement) and lifts the
  // finger moving at `releaseVelocity` points per second. Deceleration then ends on the clock.
  static void dragScrollView(ScrollView& scrollView, Point translation, Point releaseVelocity = {});
  // The same with a path of its own; the finger comes down at `start` (a window point), or at the
  // middle of the scroll view's visible part. The options' release velocity, when unset, is zero.
  static void dragScrollView(ScrollView& scrollView, Point translation, const PanOptions& options,
                             std::optional<Point> start = std::nullopt);

  // Pull to refresh: drags the content down until its top is `distance` points past where it
  // rests, holds the finger still and lets go, then lets the bounce back end. Content scrolled
  // down by more than a stroke goes straight to its top first (the scroll view's scroll to top),
  // or, where the view or its delegate refuses that, comes down in strokes that fit the view.
  // False when the view cannot be pulled.
  static constexpr double kPullDistance = 80;
  static bool pull(ScrollView& scrollView, double distance = kPullDistance);
  // Drags the content up to its end and lets go with a flick, so the scroll view decelerates to
  // the end and reports the end of the deceleration (after which this returns). A view already
  // at its end is still dragged and let go, as a reader asking for more would. False when the
  // view cannot scroll vertically or did not come to rest at its end.
  static bool scrollToEnd(ScrollView& scrollView);
  // Drags the scroll views that hold the view, innermost first, until all of it is in sight (or
  // as much as the content allows), as a reader would: strokes within the visible part of each,
  // the finger held still before it lifts. False when it is still out of sight.
  static bool scrollIntoView(const View& view);
  // Brings the row into view (no animation), then taps the middle of its cell.
  static bool tapRow(TableView& table, const IndexPath& indexPath);
  // The row counted through all sections from 0 (the index a reader sees down the list).
  static bool tapRow(TableView& table, long index);
  // Taps the view `text` names among those that show (see findVisibleText in ScreenDump.h).
  // False when there is none, or another view is over it (other than a control acting for it).
  static bool tapText(const std::string& text);
  // The alert in front (an alert view before an action sheet), or null.
  static std::shared_ptr<AlertBaseView> frontAlert();
  // Presses a button of the front alert view or action sheet, by the platform's index.
  static bool pressAlertButton(long index);
  static bool pressAlertButton(const std::string& title);
  // Taps the field (so it takes the keyboard) and types the text one character at a time.
  static bool typeText(TextField& field, const std::string& text);
  static bool typeText(TextView& view, const std::string& text);
  // The keyboard's return key on the first responder.
  static bool pressReturn();

  // The point of a view in window coordinates (its middle), and its window.
  static Point windowPoint(const View& view, Point local);
  static Point middleOf(const View& view);
};

// One finger on the glass, played a sample at a time so a test can look between samples: comes
// down at a window point when made, and every step lets the main run loop run (a move comes
// TouchDriver::kSampleInterval after the step before it). Lift or cancel it before it goes.
class Finger {
 public:
  Finger(Window& window, Point at);
  Point at() const { return at_; }
  void moveTo(Point p);
  // Straight to `p` in `steps` samples.
  void slideTo(Point p, int steps);
  void lift();
  // The system takes the touch away (a call coming in).
  void cancel();

 private:
  void send();
  void end(bool cancelled);

  Window& window_;
  std::shared_ptr<Responder> keep_;
  std::shared_ptr<Touch> touch_;
  Point at_;
};

}  // namespace os
