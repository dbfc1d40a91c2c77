#pragma once
// Plays touches on the screen the way a finger would: through hit testing, the gesture
// recognizers and the responder chain of the window under the point. Between the steps of a
// gesture the virtual clock moves on (when it is virtual) and the main run loop runs, so timers
// and posted work happen as they would. Points are in window coordinates unless a view is given.
#include <memory>
#include <string>

#include "os/graphics/Geometry.h"

namespace os {

class View;
class Window;
class ScrollView;
class TableView;
class TextField;
class TextView;
struct IndexPath;

class TouchDriver {
 public:
  // Seconds between two touch samples of a moving finger.
  static constexpr double kSampleInterval = 1.0 / 60;
  // How long a tap keeps the finger down.
  static constexpr double kTapDuration = 0.05;

  // Lays out every window and runs the main run loop until it is idle.
  static void settle();
  // Moves the virtual clock on by `seconds` (in small steps so timers fire in order) and settles.
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
  // Drags the content of the scroll view by `translation` (the finger's movement) and lifts the
  // finger moving at `releaseVelocity` points per second. Deceleration then ends on the clock.
  static void dragScrollView(ScrollView& scrollView, Point translation, Point releaseVelocity = {});
  // Brings the row into view (no animation), then taps the middle of its cell.
  static bool tapRow(TableView& table, const IndexPath& indexPath);
  // Presses a button of the front alert view or action sheet.
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

}  // namespace os
