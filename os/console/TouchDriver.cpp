#include "os/console/TouchDriver.h"

#include <algorithm>
#include <cmath>

#include "os/console/ScreenDump.h"
#include "os/core/String.h"
#include "os/runtime/Clock.h"
#include "os/runtime/RunLoop.h"
#include "os/views/AlertView.h"
#include "os/views/Button.h"
#include "os/views/GestureRecognizer.h"
#include "os/views/ScrollView.h"
#include "os/views/TableView.h"
#include "os/views/TextField.h"
#include "os/views/TextView.h"
#include "os/views/Window.h"

namespace os {

namespace {
double now() { return Clock::monotonic(); }

// Lets time pass between touch samples: the virtual clock is moved on; under the real clock
// (the running reader) the run loop runs meanwhile, so samples carry real timestamps and a
// drag's speed is the one asked for rather than near-infinite.
void pass(double seconds) {
  if (Clock::isVirtual()) Clock::advance(seconds);
  else RunLoop::main()->runUntilDate(Date::now().addingTimeInterval(seconds));
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
  // Only the virtual clock moves between a tap's down and up: a tap's length matters to no
  // recognizer, and running the real loop here would let answers in mid-gesture.
  if (Clock::isVirtual()) pass(TouchDriver::kTapDuration);
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
  if (!(seconds >= 0) || !std::isfinite(seconds)) seconds = 0;
  if (!Clock::isVirtual()) {
    RunLoop::main()->runUntilDate(Date::now().addingTimeInterval(seconds));
    settle();
    return;
  }
  // Small steps keep timers that depend on one another in order. Steps aim at absolute times so
  // rounding does not pile up, and their number is bounded, so a long wait ends even where the
  // clock's dates are too coarse for a small step to move them. The last one goes a microsecond
  // past the end (the clock's dates near 1.7e9 s have a resolution of about 0.25 µs), and at
  // least to the next date the clock can tell, so a timer due exactly then fires.
  const double kStep = 0.01;
  const double kMostSteps = 1e5;
  const double start = Clock::now();
  const double end = std::max(start + seconds + 1e-6, std::nextafter(start + seconds, HUGE_VAL));
  const auto steps = static_cast<long long>(std::min(std::ceil(seconds / kStep), kMostSteps));
  for (long long i = 1; i < steps; ++i) {
    double d = start + seconds * static_cast<double>(i) / static_cast<double>(steps) - Clock::now();
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

Finger::Finger(Window& window, Point at)
    : window_(window), keep_(window.weak_from_this().lock()), touch_(std::make_shared<Touch>(&window, at, now())), at_(at) {
  send();
}

void Finger::moveTo(Point p) {
  pass(TouchDriver::kSampleInterval);
  at_ = p;
  touch_->update(TouchPhase::Moved, p, now());
  send();
}

void Finger::slideTo(Point p, int steps) {
  Point a = at_;
  steps = std::max(1, steps);
  for (int i = 1; i <= steps; ++i) {
    double k = static_cast<double>(i) / steps;
    moveTo(Point{a.x + (p.x - a.x) * k, a.y + (p.y - a.y) * k});
  }
}

void Finger::lift() { end(false); }

void Finger::cancel() { end(true); }

void Finger::send() { os::send(&window_, touch_); }

void Finger::end(bool cancelled) {
  touch_->update(cancelled ? TouchPhase::Cancelled : TouchPhase::Ended, at_, now());
  send();
  RunLoop::main()->runUntilIdle();
}

namespace {
// Plays a pan in the window from `a` to `b` (window coordinates).
void playPan(Window* window, Point a, Point b, const PanOptions& o) {
  std::vector<Point> path;
  for (Point p : o.through) path.push_back(window->convertPointFromView(p, nullptr));
  // The last sample, when asked for, moves at the release velocity; the path ends short of it.
  Point last{};
  if (o.releaseVelocity) last = Point{o.releaseVelocity->x * TouchDriver::kSampleInterval, o.releaseVelocity->y * TouchDriver::kSampleInterval};
  path.push_back(Point{b.x - last.x, b.y - last.y});
  Finger finger(*window, a);
  for (Point p : path) finger.slideTo(p, o.steps);
  if (o.releaseVelocity) finger.moveTo(b);
  if (o.cancel) finger.cancel();
  else finger.lift();
}

// A point of the visible part of the view, as fractions of its width and height.
std::optional<Point> pointInVisiblePart(const View& view, double fx, double fy) {
  auto r = visibleRectOf(view);
  if (!r) return std::nullopt;
  return Point{r->minX() + r->width() * fx, r->minY() + r->height() * fy};
}

// Offsets compared within half a point: positions come from sums of finger steps.
bool near(double a, double b) { return std::fabs(a - b) <= 0.5; }
}  // namespace

void TouchDriver::pan(Point from, Point to, int steps, Window* window) {
  PanOptions o;
  o.steps = steps;
  o.window = window;
  pan(from, to, o);
}

void TouchDriver::pan(Point from, Point to, const PanOptions& options) {
  settle();
  Window* window = options.window ? options.window : windowAt(from);
  if (!window) return;
  auto keep = window->weak_from_this().lock();
  playPan(window, window->convertPointFromView(from, nullptr), window->convertPointFromView(to, nullptr), options);
  settle();
}

void TouchDriver::drag(Point from, Point to, Window* window) {
  settle();
  if (!window) window = windowAt(from);
  if (!window) return;
  auto keep = window->weak_from_this().lock();
  Point a = window->convertPointFromView(from, nullptr), b = window->convertPointFromView(to, nullptr);
  const double length = std::hypot(b.x - a.x, b.y - a.y);
  // A hair past the hysteresis, so rounding on a slanted path cannot leave it short.
  const double k = length > 0 ? PanGestureRecognizer::kHysteresis * (1 + 1e-9) / length : 0;
  Finger finger(*window, a);
  finger.moveTo(Point{a.x + (b.x - a.x) * k, a.y + (b.y - a.y) * k});
  finger.moveTo(b);
  finger.lift();
  settle();
}

void TouchDriver::dragScrollView(ScrollView& scrollView, Point translation, Point velocity) {
  PanOptions o;
  o.releaseVelocity = velocity;
  dragScrollView(scrollView, translation, o);
}

void TouchDriver::dragScrollView(ScrollView& scrollView, Point translation, const PanOptions& options,
                                 std::optional<Point> start) {
  settle();
  Window* window = options.window ? options.window : scrollView.window();
  if (!window) return;
  auto keep = window->weak_from_this().lock();
  Point a = window->convertPointFromView(start ? *start : middleOf(scrollView), nullptr);
  PanOptions o = options;
  if (!o.releaseVelocity) o.releaseVelocity = Point{};
  playPan(window, a, Point{a.x + translation.x, a.y + translation.y}, o);
  // No settle: callers look at the deceleration under way.
  Window::layoutAllWindows();
}

bool TouchDriver::pull(ScrollView& scrollView, double distance) {
  settle();
  auto keep = scrollView.weak_from_this().lock();
  Window* window = scrollView.window();
  auto top = pointInVisiblePart(scrollView, 0.5, 0.1), bottom = pointInVisiblePart(scrollView, 0.5, 0.9);
  if (!window || !top || !bottom || !scrollView.canScrollVertically()) return false;
  Point a = window->convertPointFromView(*top, nullptr), floor = window->convertPointFromView(*bottom, nullptr);
  const double step = 8;
  const int samples = std::max(2, static_cast<int>((floor.y - a.y) / step));
  auto target = [&] { return scrollView.minimumContentOffset().y - distance; };
  // Far down a long list a person goes straight up first (a tap on the status bar) rather than
  // climb it a stroke at a time, which took seconds in which nothing was said.
  if (scrollView.contentOffset().y - scrollView.minimumContentOffset().y > floor.y - a.y) {
    scrollView.scrollToTop();
    advance(ScrollView::kScrollAnimationDuration);
  }
  // A stroke at a time from near the top of the view; the finger holds still before each lift so
  // the content stays where it is. Only the last stroke takes the content past its top.
  bool reached = false;
  for (int stroke = 0; stroke < 200 && !reached; ++stroke) {
    const double before = scrollView.contentOffset().y;
    Finger finger(*window, a);
    for (int i = 1; i <= samples && !reached; ++i) {
      finger.moveTo(Point{a.x, a.y + step * i});
      reached = scrollView.contentOffset().y <= target();
    }
    finger.moveTo(finger.at());
    finger.lift();
    settle();
    // A stroke that brought the top no nearer (a view that gives way only so far) would repeat
    // forever.
    if (!reached && scrollView.contentOffset().y > before - 0.5) break;
  }
  advance(ScrollView::kDecelerationDuration);
  return reached;
}

bool TouchDriver::scrollToEnd(ScrollView& scrollView) {
  settle();
  auto keep = scrollView.weak_from_this().lock();
  Window* window = scrollView.window();
  auto low = pointInVisiblePart(scrollView, 0.5, 0.9), high = pointInVisiblePart(scrollView, 0.5, 0.1);
  if (!window || !low || !high || !scrollView.canScrollVertically()) return false;
  Point a = window->convertPointFromView(*low, nullptr);
  const double room = a.y - window->convertPointFromView(*high, nullptr).y;
  // The last stroke lifts at this speed; the deceleration it starts runs to the end of the content.
  const double flick = 1200;
  PanOptions still;
  still.releaseVelocity = Point{};
  PanOptions flicking;
  flicking.releaseVelocity = Point{0, -flick};
  for (int stroke = 0; stroke < 200; ++stroke) {
    double remaining = scrollView.maximumContentOffset().y - scrollView.contentOffset().y;
    if (remaining > room) {
      playPan(window, a, Point{a.x, a.y - room}, still);
      settle();
      continue;
    }
    // Half the way by finger (enough to move the content at all), the rest by the flick.
    double by = std::max(remaining / 2, 2 * flick * kSampleInterval);
    playPan(window, a, Point{a.x, a.y - by}, flicking);
    advance(ScrollView::kDecelerationDuration);
    if (near(scrollView.contentOffset().y, scrollView.maximumContentOffset().y)) return true;
  }
  return false;
}

namespace {
// How far the content must move along one axis to bring [low, high] into [start, end]: the near
// edge first, the far one as far as the space allows.
double shiftToShow(double low, double high, double start, double end) {
  if (low < start) return low - start;
  if (high > end) return std::min(high - end, low - start);
  return 0;
}
}  // namespace

bool TouchDriver::scrollIntoView(const View& view) {
  settle();
  auto keepView = view.weak_from_this().lock();
  for (View* v = view.superviewPtr(); v; v = v->superviewPtr()) {
    auto* scroll = dynamic_cast<ScrollView*>(v);
    if (!scroll || !scroll->window()) continue;
    auto keep = scroll->weak_from_this().lock();
    for (int stroke = 0; stroke < 50; ++stroke) {
      Rect b = scroll->bounds();
      Rect r = view.convertRectToView(view.bounds(), scroll);
      Point from = scroll->contentOffset();
      Point lo = scroll->minimumContentOffset(), hi = scroll->maximumContentOffset();
      Point to{std::clamp(from.x + shiftToShow(r.minX(), r.maxX(), b.minX(), b.maxX()), lo.x, std::max(lo.x, hi.x)),
               std::clamp(from.y + shiftToShow(r.minY(), r.maxY(), b.minY(), b.maxY()), lo.y, std::max(lo.y, hi.y))};
      if (near(to.x, from.x) && near(to.y, from.y)) break;
      auto visible = visibleRectOf(*scroll);
      if (!visible) return false;
      // The finger moves the other way from the offset, at most most of the visible part a stroke,
      // from the side it moves away from.
      const double reachX = visible->width() * 0.8, reachY = visible->height() * 0.8;
      Point move{std::clamp(from.x - to.x, -reachX, reachX), std::clamp(from.y - to.y, -reachY, reachY)};
      Point start{move.x < 0 ? visible->maxX() - visible->width() * 0.1 : visible->minX() + visible->width() * 0.1,
                  move.y < 0 ? visible->maxY() - visible->height() * 0.1 : visible->minY() + visible->height() * 0.1};
      if (move.x == 0) start.x = visible->midX();
      if (move.y == 0) start.y = visible->midY();
      PanOptions still;
      still.releaseVelocity = Point{};
      dragScrollView(*scroll, move, still, start);
      settle();
      // A view that does not give way (scrolling turned off) would take every stroke.
      if (near(scroll->contentOffset().x, from.x) && near(scroll->contentOffset().y, from.y)) break;
    }
  }
  return visibleRectOf(view).has_value();
}

bool TouchDriver::tapRow(TableView& table, const IndexPath& ip) {
  settle();
  table.scrollToRowAtIndexPath(ip, TableViewScrollPosition::None, false);
  settle();
  auto cell = table.cellForRowAtIndexPath(ip);
  if (!cell) return false;
  return tap(*cell);
}

bool TouchDriver::tapRow(TableView& table, long index) {
  settle();
  if (index < 0) return false;
  for (long s = 0; s < table.numberOfSections(); ++s) {
    long rows = table.numberOfRowsInSection(s);
    if (index < rows) return tapRow(table, IndexPath::forRow(index, s));
    index -= rows;
  }
  return false;
}

bool TouchDriver::tapText(const std::string& text) {
  settle();
  auto view = findVisibleText(text);
  if (!view || (!isReachable(*view) && !controlActingFor(*view))) return false;
  return tap(*view);
}

std::shared_ptr<AlertBaseView> TouchDriver::frontAlert() {
  auto alerts = AlertView::visibleAlertViews();
  if (!alerts.empty()) return alerts.back();
  auto sheets = ActionSheet::visibleActionSheets();
  if (!sheets.empty()) return sheets.back();
  return nullptr;
}

bool TouchDriver::pressAlertButton(long index) {
  settle();
  auto front = frontAlert();
  if (!front) return false;
  auto button = front->buttonAtIndex(index);
  if (!button) return false;
  return tap(*button);
}

bool TouchDriver::pressAlertButton(const std::string& title) {
  auto front = frontAlert();
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
