// The shared HUD of VXGlobalHelper.
#include "news/api/VXGlobalHelper.h"
#include "os/graphics/Font.h"
#include "os/runtime/DispatchQueue.h"
#include "os/views/View.h"
#include "ui/widgets/KHProgressHUD.h"

void VXGlobalHelper::showHud(const std::string& text, const std::shared_ptr<os::View>& view, bool autoHide) {
  showHud(KHProgressHUDModeText, text, view, autoHide);
}

void VXGlobalHelper::showActivityHud(const std::string& text, const std::shared_ptr<os::View>& view, bool autoHide) {
  showHud(KHProgressHUDModeIndeterminate, text, view, autoHide);
}

void VXGlobalHelper::showHud(int mode, const std::string& text, const std::shared_ptr<os::View>& view, bool autoHide) {
  if (!view) return;
  std::weak_ptr<VXGlobalHelper> weak = weak_from_this();
  os::DispatchQueue::main()->async([weak, mode, text, view, autoHide] {
    auto self = weak.lock();
    if (!self) return;
    self->placeHud(mode, text, view, autoHide);
  });
}

void VXGlobalHelper::placeHud(int mode, const std::string& text, const std::shared_ptr<os::View>& view, bool autoHide) {
  {
    if (!hud_) {
      hud_ = KHProgressHUD::initWithView(*view);
      hud_->setDetailsLabelFont(os::Font::systemFont(16));
      view->addSubview(hud_);
    }
    hud_->setMode(mode);
    hud_->setFrame(view->bounds());
    hud_->setDetailsLabelText(text);
    hud_->show(true);
    // The one HUD moves to whichever view asked last.
    if (hud_->superview() != view) {
      hud_->removeFromSuperview();
      view->addSubview(hud_);
    }
    // A later message cancels an earlier one's auto-hide, so an activity HUD shown after a
    // self-hiding text stays until it is hidden.
    unsigned generation = ++hudGeneration_;
    if (autoHide) {
      std::weak_ptr<VXGlobalHelper> weak = weak_from_this();
      os::DispatchQueue::main()->asyncAfter(kAutoHideDelay, [weak, generation] {
        auto self = weak.lock();
        if (self && self->hud_ && generation == self->hudGeneration_) self->hud_->hide(true);
      });
    }
  }
}

void VXGlobalHelper::hideHud(bool animated) {
  std::weak_ptr<VXGlobalHelper> weak = weak_from_this();
  os::DispatchQueue::main()->async([weak, animated] {
    auto self = weak.lock();
    if (self && self->hud_) self->hud_->hide(animated);
  });
}
