#include "sharing/widgets/OBSocialXToast.h"

#include <algorithm>

#include <cmath>
#include <numbers>

#include "os/graphics/Font.h"
#include "os/graphics/TextLayout.h"
#include "os/runtime/RunLoop.h"
#include "os/runtime/Timer.h"
#include "os/views/Application.h"
#include "os/views/Button.h"
#include "os/views/Label.h"
#include "os/views/Window.h"
#include "sharing/service/OBSocialContext.h"

namespace {

// The platform's default animation length.
constexpr double kFadeDuration = 0.2;

}  // namespace

std::shared_ptr<OBSocialXToastSettings> OBSocialXToastSettings::getSharedSettings() {
  return OBSocialContext::shared<OBSocialXToastSettings>();
}

int OBSocialXToastSettings::duration() const {
  std::lock_guard lock(mutex_);
  return duration_;
}
void OBSocialXToastSettings::setDuration(int milliseconds) {
  std::lock_guard lock(mutex_);
  duration_ = milliseconds;
}
int OBSocialXToastSettings::gravity() const {
  std::lock_guard lock(mutex_);
  return gravity_;
}
void OBSocialXToastSettings::setGravity(int gravity) {
  std::lock_guard lock(mutex_);
  gravity_ = gravity;
}
os::Point OBSocialXToastSettings::postition() const {
  std::lock_guard lock(mutex_);
  return position_;
}
void OBSocialXToastSettings::setPostition(os::Point point) {
  std::lock_guard lock(mutex_);
  position_ = point;
}
bool OBSocialXToastSettings::isHidden() const {
  std::lock_guard lock(mutex_);
  return hidden_;
}
void OBSocialXToastSettings::setIsHidden(bool hidden) {
  std::lock_guard lock(mutex_);
  hidden_ = hidden;
}

std::shared_ptr<OBSocialXToastSettings> OBSocialXToastSettings::copy() const {
  auto copy = std::make_shared<OBSocialXToastSettings>();
  std::lock_guard lock(mutex_);
  copy->duration_ = duration_;
  copy->gravity_ = gravity_;
  copy->position_ = position_;
  copy->hidden_ = hidden_;
  return copy;
}

std::shared_ptr<OBSocialXToast> OBSocialXToast::makeText(const std::string& text) {
  return std::make_shared<OBSocialXToast>(text);
}

OBSocialXToastSettings& OBSocialXToast::theSettings() {
  if (!settings_) settings_ = OBSocialXToastSettings::getSharedSettings()->copy();
  return *settings_;
}

OBSocialXToast& OBSocialXToast::setDuration(int milliseconds) {
  theSettings().setDuration(milliseconds);
  return *this;
}
OBSocialXToast& OBSocialXToast::setGravity(int gravity) {
  theSettings().setGravity(gravity);
  return *this;
}
OBSocialXToast& OBSocialXToast::setGravity(int gravity, int offsetLeft, int offsetTop) {
  theSettings().setGravity(gravity);
  offsetLeft_ = offsetLeft;
  offsetTop_ = offsetTop;
  return *this;
}
OBSocialXToast& OBSocialXToast::setPostion(os::Point point) {
  theSettings().setPostition(point);
  return *this;
}

void OBSocialXToast::show() {
  if (theSettings().isHidden()) return;
  show(kOBSocialXToastTypeDefault);
}

void OBSocialXToast::show(int type) {
  const OBSocialXToastSettings& settings = theSettings();
  auto application = os::Application::shared();
  auto windows = application ? application->windows() : std::vector<std::shared_ptr<os::Window>>{};
  // The first window the reader can see: a hidden one would swallow the message.
  auto visible = std::find_if(windows.begin(), windows.end(), [](const auto& w) { return !w->isHidden(); });
  if (visible == windows.end()) return;
  auto window = *visible;

  os::Font font = os::Font::systemFont(16);
  os::Size textSize = text_.empty() ? os::Size{} : os::sizeWithFont(text_, font, os::Size{280, 60});
  auto label = std::make_shared<os::Label>(os::Rect{0, 0, textSize.width, textSize.height});
  label->setBackgroundColor(os::Color::clear());
  label->setTextColor(os::Color::white());
  label->setFont(font);
  label->setText(text_);
  label->setNumberOfLines(0);
  label->setShadowColor(os::Color::darkGray());
  label->setShadowOffset(os::Size{1, 1});
  label->setTextAlignment(os::TextAlignment::Center);

  auto box = os::Button::buttonWithType(os::ButtonType::Custom);
  box->setFrame(os::Rect{0, 0, textSize.width + 40, textSize.height + 16});
  // Centred in the box: the box is the text with 20 points each side and 8 above and below.
  label->setFrame(os::Rect{20, 8, textSize.width, textSize.height});
  box->addSubview(label);
  box->setBackgroundColor(os::Color::rgba(0, 0, 0, 0.6));
  box->layer().setCornerRadius(8);

  const double w = window->frame().size.width;
  const double h = window->frame().size.height;
  const int gravity = settings.gravity();
  const os::Point position = settings.postition();
  const double left = offsetLeft_, top = offsetTop_;
  os::Point point{};
  double rotation = 0;
  switch (application->statusBarOrientation()) {
    case os::InterfaceOrientation::Portrait:
      point = gravity == OBSocialXToastGravityTop      ? os::Point{w / 2, 45}
              : gravity == OBSocialXToastGravityBottom ? os::Point{w / 2, h - 45}
              : gravity == OBSocialXToastGravityCenter ? os::Point{w / 2, h / 2}
                                                       : position;
      point = {point.x + left, point.y + top};
      break;
    case os::InterfaceOrientation::PortraitUpsideDown:
      rotation = std::numbers::pi;
      point = gravity == OBSocialXToastGravityTop      ? os::Point{w / 2, h - 45}
              : gravity == OBSocialXToastGravityBottom ? os::Point{w / 2, 45}
              : gravity == OBSocialXToastGravityCenter ? os::Point{w / 2, h / 2}
                                                       : position;
      point = {point.x - left, point.y - top};
      break;
    case os::InterfaceOrientation::LandscapeRight:
      rotation = std::numbers::pi / 2;
      point = gravity == OBSocialXToastGravityTop      ? os::Point{w - 45, h / 2}
              : gravity == OBSocialXToastGravityBottom ? os::Point{45, h / 2}
              : gravity == OBSocialXToastGravityCenter ? os::Point{w / 2, h / 2}
                                                       : position;
      point = {point.x - top, point.y - left};
      break;
    case os::InterfaceOrientation::LandscapeLeft:
      rotation = -std::numbers::pi / 2;
      point = gravity == OBSocialXToastGravityTop      ? os::Point{45, h / 2}
              : gravity == OBSocialXToastGravityBottom ? os::Point{w - 45, h / 2}
              : gravity == OBSocialXToastGravityCenter ? os::Point{w / 2, h / 2}
                                                       : position;
      point = {point.x + top, point.y + left};
      break;
  }
  if (rotation != 0) box->setTransform(os::AffineTransform::makeRotation(rotation));
  box->setCenter(point);

  std::weak_ptr<OBSocialXToast> weak = weak_from_this();
  timer_ = os::Timer::scheduled(*os::RunLoop::main(), settings.duration() * 0.001, false, [weak](os::Timer&) {
    if (auto toast = weak.lock()) toast->hideToast();
  });
  box->setTag(kOBSocialXToastTag);
  if (auto previous = window->viewWithTag(kOBSocialXToastTag)) previous->removeFromSuperview();
  window->addSubview(box);
  box->setAlpha(0);
  os::View::animate(kFadeDuration, [box] { box->setAlpha(1); });
  // The box keeps its toast alive while it is on screen, so a touch or the timer can hide it.
  auto self = shared_from_this();
  box->addTarget(this, [self](os::Control&) { self->hideToast(); }, os::kControlEventTouchDown);
  view_ = box;
  (void)type;
}

void OBSocialXToast::hideToast() {
  if (timer_) {
    timer_->invalidate();
    timer_.reset();
  }
  auto box = view_;
  if (!box) return;
  std::weak_ptr<OBSocialXToast> weak = weak_from_this();
  os::View::animate(kFadeDuration, [box] { box->setAlpha(0); }, [weak](bool) {
    if (auto toast = weak.lock()) toast->removeToast();
  });
}

void OBSocialXToast::removeToast() {
  if (!view_) return;
  auto box = std::exchange(view_, nullptr);
  box->removeFromSuperview();
}
