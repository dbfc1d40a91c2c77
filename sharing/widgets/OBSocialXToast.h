#pragma once
// A short text message in a dark rounded box over the application's first window, hidden after
// its duration or when touched. Only one toast is on screen at a time. Main thread only.
#include <memory>
#include <mutex>
#include <string>

#include "os/graphics/Geometry.h"

namespace os {
class Button;
class Timer;
}  // namespace os

enum OBSocialXToastGravity : int {
  OBSocialXToastGravityTop = 1000001,
  OBSocialXToastGravityBottom = 1000002,
  OBSocialXToastGravityCenter = 1000003,
};

inline constexpr int kOBSocialXToastTag = 6984678;
inline constexpr int kOBSocialXToastTypeDefault = -100000;

class OBSocialXToastSettings {
 public:
  // The component-wide defaults: centred, one second, shown.
  static std::shared_ptr<OBSocialXToastSettings> getSharedSettings();

  int duration() const;  // milliseconds
  void setDuration(int milliseconds);
  int gravity() const;
  void setGravity(int gravity);
  os::Point postition() const;
  void setPostition(os::Point point);
  bool isHidden() const;
  void setIsHidden(bool hidden);

  std::shared_ptr<OBSocialXToastSettings> copy() const;

 private:
  mutable std::mutex mutex_;
  int duration_ = 1000;
  int gravity_ = OBSocialXToastGravityCenter;
  os::Point position_{};
  bool hidden_ = false;
};

class OBSocialXToast : public std::enable_shared_from_this<OBSocialXToast> {
 public:
  explicit OBSocialXToast(std::string text) : text_(std::move(text)) {}
  static std::shared_ptr<OBSocialXToast> makeText(const std::string& text);

  // Each changes the toast's own settings (a copy of the shared ones) and returns the toast.
  OBSocialXToast& setDuration(int milliseconds);
  OBSocialXToast& setGravity(int gravity);
  OBSocialXToast& setGravity(int gravity, int offsetLeft, int offsetTop);
  OBSocialXToast& setPostion(os::Point point);

  void show();
  void show(int type);
  // Fades the box out and then takes it off the window.
  void hideToast();
  void removeToast();

  const std::shared_ptr<os::Button>& view() const { return view_; }
  const std::string& text() const { return text_; }

 private:
  OBSocialXToastSettings& theSettings();

  std::string text_;
  std::shared_ptr<OBSocialXToastSettings> settings_;
  int offsetLeft_ = 0;
  int offsetTop_ = 0;
  std::shared_ptr<os::Timer> timer_;
  std::shared_ptr<os::Button> view_;
};
