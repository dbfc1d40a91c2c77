#pragma once
// Controls: state (enabled, selected, highlighted), touch tracking that turns touches into
// control events, and target-action with closures.
#include <functional>
#include <memory>
#include <vector>

#include "os/views/View.h"

namespace os {

enum ControlState : unsigned {
  kControlStateNormal = 0,
  kControlStateHighlighted = 1 << 0,
  kControlStateDisabled = 1 << 1,
  kControlStateSelected = 1 << 2,
};

enum ControlEvents : unsigned {
  kControlEventTouchDown = 1 << 0,
  kControlEventTouchDownRepeat = 1 << 1,
  kControlEventTouchDragInside = 1 << 2,
  kControlEventTouchDragOutside = 1 << 3,
  kControlEventTouchDragEnter = 1 << 4,
  kControlEventTouchDragExit = 1 << 5,
  kControlEventTouchUpInside = 1 << 6,
  kControlEventTouchUpOutside = 1 << 7,
  kControlEventTouchCancel = 1 << 8,
  kControlEventValueChanged = 1 << 12,
  kControlEventEditingDidBegin = 1 << 16,
  kControlEventEditingChanged = 1 << 17,
  kControlEventEditingDidEnd = 1 << 18,
  kControlEventEditingDidEndOnExit = 1 << 19,
  kControlEventAllTouchEvents = 0x00000FFF,
  kControlEventAllEditingEvents = 0x000F0000,
  kControlEventAllEvents = 0xFFFFFFFF,
};

enum class ControlContentHorizontalAlignment { Center = 0, Left = 1, Right = 2, Fill = 3 };
enum class ControlContentVerticalAlignment { Center = 0, Top = 1, Bottom = 2, Fill = 3 };

class Control : public View {
 public:
  using Action = std::function<void(Control& sender)>;
  // How far outside its bounds a tracked touch still counts as inside.
  static constexpr double kTrackingSlop = 70;

  using View::View;
  std::string className() const override { return "Control"; }

  // `target` identifies the action for removeTarget (null matches every target there).
  void addTarget(const void* target, Action action, unsigned events);
  void removeTarget(const void* target, unsigned events);
  // Runs the actions registered for any of the events, in the order added.
  void sendActionsForControlEvents(unsigned events);
  bool hasActionsForControlEvents(unsigned events) const;

  bool isEnabled() const { return enabled_; }
  virtual void setEnabled(bool e);
  bool isSelected() const { return selected_; }
  virtual void setSelected(bool s);
  bool isHighlighted() const { return highlighted_; }
  virtual void setHighlighted(bool h);
  unsigned state() const;
  bool isTracking() const { return tracking_; }
  bool isTouchInside() const { return inside_; }

  ControlContentHorizontalAlignment contentHorizontalAlignment() const { return hAlign_; }
  void setContentHorizontalAlignment(ControlContentHorizontalAlignment a);
  ControlContentVerticalAlignment contentVerticalAlignment() const { return vAlign_; }
  void setContentVerticalAlignment(ControlContentVerticalAlignment a);

  // Margins around the bounds that still take touches (negative values are not allowed). With
  // any margin set the control answers hit tests for the whole enlarged rectangle by itself,
  // whatever its subviews.
  EdgeInsets touchAreaMargins() const { return touchMargins_; }
  void setTouchAreaMargins(EdgeInsets margins);
  Rect touchArea() const;

  std::shared_ptr<View> hitTest(Point point, const Event* event) override;
  bool pointInside(Point point, const Event* event) const override;
  // A single tap recognizer of an enclosing view does not take a tap on a control.
  bool gestureRecognizerShouldBegin(GestureRecognizer& recognizer) override;

  void touchesBegan(const TouchList& touches, const Event* event) override;
  void touchesMoved(const TouchList& touches, const Event* event) override;
  void touchesEnded(const TouchList& touches, const Event* event) override;
  void touchesCancelled(const TouchList& touches, const Event* event) override;

 protected:
  // Called after a touch-up inside, before the actions (a switch flips here).
  virtual void didTapInside(const Touch& touch) {}
  bool trackingContains(Point p) const;

 private:
  struct Target {
    const void* target;
    unsigned events;
    std::shared_ptr<Action> action;
  };
  std::vector<Target> targets_;
  EdgeInsets touchMargins_;
  bool enabled_ = true, selected_ = false, highlighted_ = false;
  bool tracking_ = false, inside_ = false;
  ControlContentHorizontalAlignment hAlign_ = ControlContentHorizontalAlignment::Center;
  ControlContentVerticalAlignment vAlign_ = ControlContentVerticalAlignment::Center;
};

}  // namespace os
