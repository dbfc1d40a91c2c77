#pragma once
// What screen tests set up and tear down around their windows and alerts, written once.
#include <memory>
#include <optional>

#include "os/views/AlertView.h"
#include "os/views/ViewController.h"
#include "os/views/Window.h"

namespace os::testing {

// A window (the screen's size unless `frame` says) made key and visible; `root` goes in first,
// so it sees its appearance.
inline std::shared_ptr<Window> showKeyWindow(std::shared_ptr<ViewController> root = nullptr,
                                             std::optional<Rect> frame = std::nullopt) {
  auto window = frame ? std::make_shared<Window>(*frame) : std::make_shared<Window>();
  if (root) window->setRootViewController(std::move(root));
  window->makeKeyAndVisible();
  return window;
}

// Hides a test's window, so the next test starts without a key window, and lets it go.
inline void hideKeyWindow(std::shared_ptr<Window>& window) {
  if (window) window->setHidden(true);
  window.reset();
}

// Dismisses the action sheets and alerts still showing (each alert with `alertButton`), so none
// carries its delegate into the next test.
inline void dismissVisibleAlerts(long alertButton) {
  for (auto& sheet : ActionSheet::visibleActionSheets()) sheet->dismissWithClickedButtonIndex(-1, false);
  for (auto& alert : AlertView::visibleAlertViews()) alert->dismissWithClickedButtonIndex(alertButton, false);
}

// The alert in front, if one shows.
inline std::shared_ptr<AlertView> frontAlert() {
  auto alerts = AlertView::visibleAlertViews();
  return alerts.empty() ? nullptr : alerts.back();
}

}  // namespace os::testing
