#include "os/console/ScreenSettle.h"

#include <algorithm>
#include <cmath>

#include "os/console/ScreenDump.h"
#include "os/console/TouchDriver.h"
#include "os/views/View.h"
#include "os/views/Window.h"

namespace os {

namespace {
bool shows(const View& view) { return !view.isHidden() && view.alpha() >= 0.01; }

void findTransients(const std::shared_ptr<View>& view, const TransientTest& isTransient, std::vector<std::shared_ptr<View>>& out) {
  if (!shows(*view)) return;
  if (isTransient(*view)) {
    if (visibleRectOf(*view)) out.push_back(view);
    return;
  }
  for (auto& sub : view->subviews()) findTransients(sub, isTransient, out);
}

}  // namespace

std::vector<std::shared_ptr<View>> transientViews(const TransientTest& isTransient) {
  std::vector<std::shared_ptr<View>> out;
  if (!isTransient) return out;
  Window::layoutAllWindows();
  for (auto& w : Window::windows()) findTransients(w, isTransient, out);
  return out;
}

SettleResult settleScreen(const SettleOptions& o) {
  SettleResult result;
  const double slice = o.slice > 0 ? o.slice : 0.1;
  const long quietSlices = std::max(1L, std::lround(std::ceil(o.quiet / slice - 1e-9)));
  const long mostSlices = std::max(0L, std::lround(std::ceil(o.limit / slice - 1e-9)));
  std::string lastShown;
  // Notes the messages on screen; true when there are any.
  auto look = [&](const std::string& dump) {
    auto messages = transientViews(o.isTransient);
    for (auto& m : messages) {
      std::string text = textsOf(*m);
      if (!text.empty() && std::find(result.messages.begin(), result.messages.end(), text) == result.messages.end())
        result.messages.push_back(text);
    }
    if (!messages.empty() && dump != lastShown && o.onMessage) {
      lastShown = dump;
      o.onMessage(dump);
    }
    return !messages.empty();
  };
  TouchDriver::settle();
  std::string before = dumpScreen();
  bool message = look(before);
  long still = 0;
  for (long i = 0; i < mostSlices; ++i) {
    if (!message && still >= quietSlices) break;
    TouchDriver::advance(slice);
    std::string now = dumpScreen();
    still = now == before ? still + 1 : 0;
    message = look(now);
    before = std::move(now);
  }
  result.atRest = !message && still >= quietSlices;
  return result;
}

}  // namespace os
