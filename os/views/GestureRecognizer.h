#pragma once
// Gesture recognizers: tap (with a number of taps and touches), pan, swipe and long press. A
// recognizer sees the touches of its view (and the view's subviews) before the view does; when
// it recognizes it may cancel the touches in the view, it prevents the other recognizers of the
// same touches unless their delegates allow both, and it waits for the recognizers it was told
// to let fail first. Taps that wait for more taps fail after kMaximumTapInterval on os::Clock.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "os/graphics/Geometry.h"
#include "os/views/Touch.h"

namespace os {

class View;
class Timer;
class GestureRecognizer;

enum class GestureRecognizerState { Possible = 0, Began = 1, Changed = 2, Ended = 3, Cancelled = 4, Failed = 5, Recognized = 3 };

class GestureRecognizerDelegate {
 public:
  virtual ~GestureRecognizerDelegate() = default;
  virtual bool gestureRecognizerShouldBegin(GestureRecognizer& recognizer) { return true; }
  virtual bool shouldReceiveTouch(GestureRecognizer& recognizer, const Touch& touch) { return true; }
  virtual bool shouldRecognizeSimultaneouslyWithGestureRecognizer(GestureRecognizer& recognizer, GestureRecognizer& other) {
    return false;
  }
};

class GestureRecognizer : public std::enable_shared_from_this<GestureRecognizer> {
 public:
  using Action = std::function<void(GestureRecognizer&)>;

  GestureRecognizer() = default;
  explicit GestureRecognizer(Action action);
  virtual ~GestureRecognizer();
  GestureRecognizer(const GestureRecognizer&) = delete;
  GestureRecognizer& operator=(const GestureRecognizer&) = delete;

  virtual std::string className() const { return "GestureRecognizer"; }

  // Actions run on every state change after Possible (discrete gestures: once, at Recognized).
  // `target` identifies the action for removeTarget; several actions may share no target.
  void addTarget(const void* target, Action action);
  void removeTarget(const void* target);

  GestureRecognizerState state() const { return state_; }
  View* view() const { return view_; }
  bool isEnabled() const { return enabled_; }
  // Disabling a recognizer in the middle of a gesture cancels it.
  void setEnabled(bool enabled);
  std::shared_ptr<GestureRecognizerDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<GestureRecognizerDelegate> d) { delegate_ = std::move(d); }
  bool cancelsTouchesInView() const { return cancelsTouches_; }
  void setCancelsTouchesInView(bool c) { cancelsTouches_ = c; }

  // This recognizer recognizes only once `other` has failed, and fails when `other` recognizes.
  void requireGestureRecognizerToFail(const std::shared_ptr<GestureRecognizer>& other);

  // The centroid of the current touches (or of the last ones) in the view's coordinates.
  Point locationInView(const View* view) const;
  std::size_t numberOfTouches() const { return touches_.size(); }

  // Resets every recognizer whose gesture is over (windows call it after each event).
  static void flushEngaged();

 protected:
  virtual void touchesBegan(const TouchList& touches, const Event& event) {}
  virtual void touchesMoved(const TouchList& touches, const Event& event) {}
  virtual void touchesEnded(const TouchList& touches, const Event& event) {}
  virtual void touchesCancelled(const TouchList& touches, const Event& event);
  // Back to Possible for the next gesture.
  virtual void reset() {}
  // Whether recognizing this one stops `other` (both still possible on the same touches).
  virtual bool canPreventGestureRecognizer(const GestureRecognizer& other) const { return true; }
  // True while a gesture is under way without touches down (a tap waiting for its next tap).
  virtual bool isMidGesture() const { return false; }

  // Subclasses move the state; the machinery around it (should-begin, failure requirements,
  // exclusion, touch cancellation, actions) runs here.
  void setState(GestureRecognizerState state);
  const TouchList& touches() const { return touches_; }
  Point lastLocationInWindow() const { return lastLocation_; }

 private:
  friend class Window;
  friend class View;
  void deliver(TouchPhase phase, const TouchList& touches, const Event& event);
  void enterRecognition(GestureRecognizerState state);
  bool requirementsFailed(bool* anyRecognized) const;
  void requirementResolved();
  void fireActions();
  void resetIfDone();
  bool shouldBegin();
  void forget(const Touch* touch);

  View* view_ = nullptr;
  GestureRecognizerState state_ = GestureRecognizerState::Possible;
  bool enabled_ = true;
  bool cancelsTouches_ = true;
  bool waiting_ = false;  // recognized, held until its requirements fail
  GestureRecognizerState pending_ = GestureRecognizerState::Possible;
  std::weak_ptr<GestureRecognizerDelegate> delegate_;
  struct Target {
    const void* target;
    std::shared_ptr<Action> action;
  };
  std::vector<Target> targets_;
  std::vector<std::weak_ptr<GestureRecognizer>> requirements_;
  std::vector<std::weak_ptr<GestureRecognizer>> dependents_;
  TouchList touches_;
  Point lastLocation_;
};

class TapGestureRecognizer : public GestureRecognizer {
 public:
  static constexpr double kMaximumTapInterval = 0.35;  // seconds between the taps of one gesture
  static constexpr double kAllowableMovement = 10;     // points a finger may move while tapping

  using GestureRecognizer::GestureRecognizer;
  ~TapGestureRecognizer() override;
  std::string className() const override { return "TapGestureRecognizer"; }

  int numberOfTapsRequired() const { return taps_; }
  void setNumberOfTapsRequired(int n) { taps_ = n < 1 ? 1 : n; }
  int numberOfTouchesRequired() const { return touchesRequired_; }
  void setNumberOfTouchesRequired(int n) { touchesRequired_ = n < 1 ? 1 : n; }

 protected:
  void touchesBegan(const TouchList& touches, const Event& event) override;
  void touchesMoved(const TouchList& touches, const Event& event) override;
  void touchesEnded(const TouchList& touches, const Event& event) override;
  void reset() override;
  bool canPreventGestureRecognizer(const GestureRecognizer& other) const override;
  bool isMidGesture() const override;

 private:
  void cancelTimer();
  int taps_ = 1, touchesRequired_ = 1;
  int tapsSoFar_ = 0;
  int down_ = 0, maxDown_ = 0;
  Point downAt_;
  std::shared_ptr<Timer> timer_;
};

class PanGestureRecognizer : public GestureRecognizer {
 public:
  static constexpr double kHysteresis = 10;  // points before a pan begins

  using GestureRecognizer::GestureRecognizer;
  std::string className() const override { return "PanGestureRecognizer"; }

  int minimumNumberOfTouches() const { return minTouches_; }
  void setMinimumNumberOfTouches(int n) { minTouches_ = n < 1 ? 1 : n; }
  int maximumNumberOfTouches() const { return maxTouches_; }
  void setMaximumNumberOfTouches(int n) { maxTouches_ = n; }

  // Movement since the gesture began (or since setTranslation), in the view's coordinates.
  Point translationInView(const View* view) const;
  void setTranslation(Point translation, const View* view);
  // Points per second, from the last two movements.
  Point velocityInView(const View* view) const;

 protected:
  void touchesBegan(const TouchList& touches, const Event& event) override;
  void touchesMoved(const TouchList& touches, const Event& event) override;
  void touchesEnded(const TouchList& touches, const Event& event) override;
  void reset() override;

 private:
  Point vectorInView(Point fromWindow, Point toWindow, const View* view) const;
  int minTouches_ = 1, maxTouches_ = 1 << 20;
  bool tracking_ = false;
  Point start_;            // window coordinates of the translation base
  Point base_;             // translation set by setTranslation, in view coordinates
  const View* baseView_ = nullptr;
  Point prev_, last_;
  double prevTime_ = 0, lastTime_ = 0;
};

enum SwipeDirection : unsigned {
  kSwipeDirectionRight = 1 << 0,
  kSwipeDirectionLeft = 1 << 1,
  kSwipeDirectionUp = 1 << 2,
  kSwipeDirectionDown = 1 << 3,
};

class SwipeGestureRecognizer : public GestureRecognizer {
 public:
  static constexpr double kMinimumDistance = 50;

  using GestureRecognizer::GestureRecognizer;
  std::string className() const override { return "SwipeGestureRecognizer"; }
  unsigned direction() const { return direction_; }
  void setDirection(unsigned d) { direction_ = d; }
  int numberOfTouchesRequired() const { return touchesRequired_; }
  void setNumberOfTouchesRequired(int n) { touchesRequired_ = n; }

 protected:
  void touchesBegan(const TouchList& touches, const Event& event) override;
  void touchesMoved(const TouchList& touches, const Event& event) override;
  void touchesEnded(const TouchList& touches, const Event& event) override;

 private:
  unsigned direction_ = kSwipeDirectionRight;
  int touchesRequired_ = 1;
  Point start_;
};

class LongPressGestureRecognizer : public GestureRecognizer {
 public:
  using GestureRecognizer::GestureRecognizer;
  ~LongPressGestureRecognizer() override;
  std::string className() const override { return "LongPressGestureRecognizer"; }
  double minimumPressDuration() const { return duration_; }
  void setMinimumPressDuration(double d) { duration_ = d; }
  double allowableMovement() const { return movement_; }
  void setAllowableMovement(double m) { movement_ = m; }

 protected:
  void touchesBegan(const TouchList& touches, const Event& event) override;
  void touchesMoved(const TouchList& touches, const Event& event) override;
  void touchesEnded(const TouchList& touches, const Event& event) override;
  void reset() override;

 private:
  void cancelTimer();
  double duration_ = 0.5, movement_ = 10;
  Point start_;
  std::shared_ptr<Timer> timer_;
};

}  // namespace os
