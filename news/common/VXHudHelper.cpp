#include "news/common/VXHudHelper.h"

#include "os/graphics/Font.h"
#include "os/runtime/DispatchQueue.h"
#include "ui/widgets/KHProgressHUD.h"

namespace {

std::shared_ptr<KHProgressHUD>& sharedHud() {
  static std::shared_ptr<KHProgressHUD> hud;
  return hud;
}

void show(int mode, const std::string& text, const std::weak_ptr<os::View>& weakView, bool autoHide) {
  auto view = weakView.lock();
  if (!view) return;
  auto& hud = sharedHud();
  if (!hud) {
    hud = KHProgressHUD::initWithView(*view);
    hud->setDetailsLabelFont(os::Font::systemFont(16));
    view->addSubview(hud);
  }
  hud->setMode(mode);
  hud->setFrame(view->bounds());
  hud->setDetailsLabelText(text);
  hud->show(true);
  // The one HUD moves to whichever view asked last.
  if (hud->superviewPtr() != view.get()) {
    hud->removeFromSuperview();
    view->addSubview(hud);
  }
  if (autoHide) hud->hide(true, VXHudHelper::kAutoHideDelay);
}

}  // namespace

void VXHudHelper::showHud(const std::string& text, const std::shared_ptr<os::View>& view, bool autoHide) {
  std::weak_ptr<os::View> weak = view;
  os::DispatchQueue::main()->async([text, weak, autoHide] { show(KHProgressHUDModeText, text, weak, autoHide); });
}

void VXHudHelper::showActivityHud(const std::string& text, const std::shared_ptr<os::View>& view, bool autoHide) {
  std::weak_ptr<os::View> weak = view;
  os::DispatchQueue::main()->async(
      [text, weak, autoHide] { show(KHProgressHUDModeIndeterminate, text, weak, autoHide); });
}

void VXHudHelper::hideHud(bool animated) {
  os::DispatchQueue::main()->async([animated] {
    if (auto& hud = sharedHud()) hud->hide(animated);
  });
}

std::shared_ptr<KHProgressHUD> VXHudHelper::hud() { return sharedHud(); }

std::string VXHudHelper::visibleText() {
  auto& hud = sharedHud();
  if (!hud || !hud->superviewPtr() || hud->alpha() < 0.5 || hud->isHidden()) return "";
  return hud->detailsLabelText().value_or("");
}
