#include "os/testing/TouchDriver.h"

#include <algorithm>
#include <cmath>

#include "os/core/String.h"
#include "os/runtime/Clock.h"
#include "os/runtime/RunLoop.h"
#include "os/views/AlertView.h"
#include "os/views/Button.h"
#include "os/views/ScrollView.h"
#include "os/views/TableView.h"
#include "os/views/TextField.h"
#include "os/views/TextView.h"
#include "os/views/Window.h"

namespace os {

namespace {
double now() { return Clock::monotonic(); }

// Lets time pass between touch samples when the clock is ours to move.
void pass(double seconds) {
  if (Clock::isVirtual()) Clock::advance(seconds);
  RunLoop::main()->runUntilIdle();
}

Window* windowAt(Point p) {
  auto list = Window::windows();
  for (auto it = list.rbegin(); it != list.rend(); ++it) {
    Window* w = it->get();
    if (w->frame().contains(p) && w->isUserInteractionEnabled()) return w;
  }
  return nullptr;
}

void send(Window* window, const std::shared_ptr<Touch>& touch) {
  auto keep = window->weak_from_this().lock();
  Event event({touch}, touch->timestamp());
  window->sendEvent(event);
}

bool tapOnce(Point p, Window* window, int tapCount) {
  if (!window) window = windowAt(p);
  if (!window) return false;
  auto keep = window->weak_from_this().lock();
  Point local = window->convertPointFromView(p, nullptr);
  auto touch = std::make_shared<Touch>(window, local, now(), tapCount);
  send(window, touch);
  bool taken = touch->view() != nullptr;
  pass(TouchDriver::kTapDuration);
  touch->update(TouchPhase::Ended, local, now());
  send(window, touch);
  RunLoop::main()->runUntilIdle();
  return taken;
}
}  // namespace

void TouchDriver::settle() {
  for (int i = 0; i < 4; ++i) {
    Window::layoutAllWindows();
    RunLoop::main()->runUntilIdle();
  }
  Window::layoutAllWindows();
}

void TouchDriver::advance(double seconds) {
  if (!Clock::isVirtual()) {
    settle();
    return;
  }
  // Small steps keep timers that depend on one another in order. Steps aim at absolute times so
  // rounding does not pile up; the last one goes a microsecond past the end (the clock's dates
  // near 1.7e9 s have a resolution of about 0.25 µs), so a timer due exactly then fires.
  const double step = 0.01;
  const double start = Clock::now();
  const double end = start + seconds + 1e-6;
  for (double t = start + step; t < end; t += step) {
    double d = t - Clock::now();
    if (d > 0) Clock::advance(d);
    RunLoop::main()->runUntilIdle();
  }
  double rest = end - Clock::now();
  if (rest > 0) Clock::advance(rest);
  settle();
}

Point TouchDriver::windowPoint(const View& view, Point local) { return view.convertPointToView(local, nullptr); }

Point TouchDriver::middleOf(const View& view) {
  Rect b = view.bounds();
  // The part of the view its ancestors do not clip away.
  Rect visible = view.convertRectToView(b, nullptr);
  for (View* v = view.superviewPtr(); v; v = v->superviewPtr()) {
    if (v->clipsToBounds() || !v->superviewPtr()) {
      Rect clip = v->convertRectToView(v->bounds(), nullptr);
      Rect i = visible.intersection(clip);
      if (!i.isNull()) visible = i;
    }
  }
  return Point{visible.midX(), visible.midY()};
}

bool TouchDriver::tap(Point p, Window* window) {
  settle();
  bool taken = tapOnce(p, window, 1);
  settle();
  return taken;
}

bool TouchDriver::tap(const View& view) { return tap(middleOf(view), view.window()); }

bool TouchDriver::doubleTap(Point p, Window* window) {
  settle();
  bool taken = tapOnce(p, window, 1);
  pass(kTapDuration);
  taken = tapOnce(p, window, 2) && taken;
  settle();
  return taken;
}

bool TouchDriver::doubleTap(const View& view) { return doubleTap(middleOf(view), view.window()); }

void TouchDriver::pan(Point from, Point to, int steps, Window* window) {
  settle();
  if (!window) window = windowAt(from);
  if (!window) return;
  auto keep = window->weak_from_this().lock();
  steps = std::max(1, steps);
  Point a = window->convertPointFromView(from, nullptr), b = window->convertPointFromView(to, nullptr);
  auto touch = std::make_shared<Touch>(window, a, now());
  send(window, touch);
  for (int i = 1; i <= steps; ++i) {
    pass(kSampleInterval);
    double k = static_cast<double>(i) / steps;
    touch->update(TouchPhase::Moved, Point{a.x + (b.x - a.x) * k, a.y + (b.y - a.y) * k}, now());
    send(window, touch);
  }
  touch->update(TouchPhase::Ended, b, now());
  send(window, touch);
  settle();
}

void TouchDriver::dragScrollView(ScrollView& scrollView, Point translation, Point velocity) {
  settle();
  Window* window = scrollView.window();
  if (!window) return;
  auto keep = window->weak_from_this().lock();
  Point start = window->convertPointFromView(middleOf(scrollView), nullptr);
  // The last sample moves at the release velocity; the samples before cover the rest.
  Point last{velocity.x * kSampleInterval, velocity.y * kSampleInterval};
  Point rest{translation.x - last.x, translation.y - last.y};
  const int steps = 10;
  auto touch = std::make_shared<Touch>(window, start, now());
  send(window, touch);
  Point p = start;
  for (int i = 1; i <= steps; ++i) {
    pass(kSampleInterval);
    p = Point{start.x + rest.x * i / steps, start.y + rest.y * i / steps};
    touch->update(TouchPhase::Moved, p, now());
    send(window, touch);
  }
  pass(kSampleInterval);
  p = Point{p.x + last.x, p.y + last.y};
  touch->update(TouchPhase::Moved, p, now());
  send(window, touch);
  touch->update(TouchPhase::Ended, p, now());
  send(window, touch);
  Window::layoutAllWindows();
}

bool TouchDriver::tapRow(TableView& table, const IndexPath& ip) {
  settle();
  table.scrollToRowAtIndexPath(ip, TableViewScrollPosition::None, false);
  settle();
  auto cell = table.cellForRowAtIndexPath(ip);
  if (!cell) return false;
  return tap(*cell);
}

bool TouchDriver::pressAlertButton(long index) {
  settle();
  std::shared_ptr<AlertBaseView> front;
  auto alerts = AlertView::visibleAlertViews();
  auto sheets = ActionSheet::visibleActionSheets();
  if (!sheets.empty()) front = sheets.back();
  if (!alerts.empty()) front = alerts.back();
  if (!front) return false;
  auto button = front->buttonAtIndex(index);
  if (!button) return false;
  return tap(*button);
}

bool TouchDriver::pressAlertButton(const std::string& title) {
  auto alerts = AlertView::visibleAlertViews();
  auto sheets = ActionSheet::visibleActionSheets();
  std::shared_ptr<AlertBaseView> front;
  if (!sheets.empty()) front = sheets.back();
  if (!alerts.empty()) front = alerts.back();
  if (!front) return false;
  long index = front->indexOfButtonWithTitle(title);
  return index >= 0 && pressAlertButton(index);
}

namespace {
// Splits UTF-8 text into its characters (code points).
std::vector<std::string> characters(const std::string& text) {
  std::vector<std::string> out;
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t len = 1;
    decodeUTF8At(text, i, &len);
    if (len == 0) len = 1;
    out.push_back(text.substr(i, len));
    i += len;
  }
  return out;
}
}  // namespace

bool TouchDriver::typeText(TextField& field, const std::string& text) {
  if (!field.isFirstResponder()) {
    tap(field);
    if (!field.isFirstResponder() && !field.becomeFirstResponder()) return false;
  }
  bool all = true;
  for (auto& c : characters(text)) all = field.insertText(c) && all;
  settle();
  return all;
}

bool TouchDriver::typeText(TextView& view, const std::string& text) {
  if (!view.isFirstResponder()) {
    tap(view);
    if (!view.isFirstResponder() && !view.becomeFirstResponder()) return false;
  }
  bool all = true;
  for (auto& c : characters(text)) all = view.insertText(c) && all;
  settle();
  return all;
}

bool TouchDriver::pressReturn() {
  Responder* r = Responder::currentFirstResponder();
  if (auto* field = dynamic_cast<TextField*>(r)) {
    bool ok = field->pressReturn();
    settle();
    return ok;
  }
  if (auto* view = dynamic_cast<TextView*>(r)) {
    bool ok = view->insertText("\n");
    settle();
    return ok;
  }
  return false;
}

}  // namespace os
