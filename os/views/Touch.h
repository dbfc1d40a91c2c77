#pragma once
// One finger on the screen and the event that carries it. Locations are kept in window
// coordinates and converted on request.
#include <memory>
#include <vector>

#include "os/graphics/Geometry.h"
#include "os/views/Responder.h"

namespace os {

class View;
class Window;
class GestureRecognizer;

enum class TouchPhase { Began = 0, Moved = 1, Stationary = 2, Ended = 3, Cancelled = 4 };

class Touch {
 public:
  Touch(Window* window, Point locationInWindow, double timestamp, int tapCount = 1);

  TouchPhase phase() const { return phase_; }
  double timestamp() const { return timestamp_; }
  int tapCount() const { return tapCount_; }
  // The view the touch began in (hit testing), and its window.
  View* view() const { return viewRef_.expired() ? nullptr : view_; }
  Window* window() const { return window_; }
  // In the coordinates of `view`; window coordinates when view is null.
  Point locationInView(const View* view) const;
  Point previousLocationInView(const View* view) const;
  Point locationInWindow() const { return location_; }
  const std::vector<std::shared_ptr<GestureRecognizer>>& gestureRecognizers() const { return recognizers_; }
  // The touch came down on content that was still moving and only stopped it.
  bool stoppedScrolling() const { return stoppedScrolling_; }

  // Moves the touch on (drivers and the window set these).
  void update(TouchPhase phase, Point locationInWindow, double timestamp);
  void setView(View* view);
  void setTapCount(int n) { tapCount_ = n; }

 private:
  friend class Window;
  friend class GestureRecognizer;
  Window* window_;
  View* view_ = nullptr;
  std::weak_ptr<Responder> viewRef_;  // the view may go away while the finger is down
  Point location_, previous_;
  double timestamp_;
  int tapCount_;
  TouchPhase phase_ = TouchPhase::Began;
  std::vector<std::shared_ptr<GestureRecognizer>> recognizers_;
  // Set when a recognizer took the touch away from its view.
  bool cancelledInView_ = false;
  bool stoppedScrolling_ = false;
};

class Event {
 public:
  Event(TouchList touches, double timestamp) : touches_(std::move(touches)), timestamp_(timestamp) {}
  const TouchList& allTouches() const { return touches_; }
  double timestamp() const { return timestamp_; }

 private:
  TouchList touches_;
  double timestamp_;
};

}  // namespace os
