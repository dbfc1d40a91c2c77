#include "os/console/ScreenSettle.h"

#include <algorithm>
#include <cmath>

#include "os/console/ScreenDump.h"
#include "os/console/TouchDriver.h"
#include "os/core/String.h"
#include "os/net/URLConnection.h"
#include "os/runtime/Clock.h"
#include "os/runtime/DispatchQueue.h"
#include "os/runtime/RunLoop.h"
#include "os/views/Control.h"
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

// Whether the view, or one inside it, is an enabled control that a touch reaches.
bool holdsControl(const View& view) {
  if (!shows(view)) return false;
  if (auto* control = dynamic_cast<const Control*>(&view); control && control->isEnabled() && isReachable(view)) return true;
  for (const auto& sub : view.subviews())
    if (holdsControl(*sub)) return true;
  return false;
}

// What keeps the screen from rest right now; empty when it rests.
struct Unrest {
  // A message with a control shows: the screen waits for a person, not for what runs beneath.
  bool awaitsPerson = false;
  std::vector<std::string> messages;
  std::vector<URLConnection::LoadInFlight> loads;
  bool otherThreads = false;
  bool mainTasks = false;
  double timerIn = HUGE_VAL;  // seconds until the next timer
  bool timerSoon = false;
  bool any() const {
    return !awaitsPerson && (!messages.empty() || !loads.empty() || otherThreads || mainTasks || timerSoon);
  }
};

}  // namespace

std::vector<std::shared_ptr<View>> transientViews(const TransientTest& isTransient) {
  std::vector<std::shared_ptr<View>> out;
  if (!isTransient) return out;
  Window::layoutAllWindows();
  for (auto& w : Window::windows()) findTransients(w, isTransient, out);
  return out;
}

bool offersControl(const View& message) {
  if (!shows(message)) return false;
  for (const auto& sub : message.subviews())
    if (holdsControl(*sub)) return true;
  return false;
}

bool isPictureLoad(const std::string& accept) {
  // Every type it names is a picture type ("image/png,image/*;q=0.8").
  if (accept.empty()) return false;
  for (std::size_t at = 0; at != std::string::npos;) {
    std::size_t comma = accept.find(',', at);
    std::string type = trimWhitespace(accept.substr(at, comma == std::string::npos ? std::string::npos : comma - at));
    if (!lowercaseASCII(type).starts_with("image/")) return false;
    at = comma == std::string::npos ? comma : comma + 1;
  }
  return true;
}

std::vector<std::string> loadsUnderWay(std::uint64_t loadsAfter) {
  std::vector<std::string> out;
  const double now = Clock::monotonic();
  for (const auto& load : URLConnection::loadsInFlight()) {
    if (load.serial <= loadsAfter || isPictureLoad(load.accept)) continue;
    const double since = std::min(load.startedAt, URLConnection::firstStartOf(load.url, loadsAfter).value_or(load.startedAt));
    out.push_back(format("the load of %s, for %.1f s", load.url.c_str(), now - since));
  }
  return out;
}

SettleResult settleScreen(const SettleOptions& o) {
  SettleResult result;
  const bool virtualClock = Clock::isVirtual();
  const double slice = o.slice > 0 ? o.slice : 0.1;
  const double limit = std::isfinite(o.limit) ? std::max(0.0, o.limit) : 0;
  // The limit runs on the clock the screen's time runs on: real seconds in the reader.
  const double start = virtualClock ? Clock::now() : Clock::monotonic();
  auto elapsed = [&] { return (virtualClock ? Clock::now() : Clock::monotonic()) - start; };
  auto loop = RunLoop::main();

  auto look = [&] {
    Unrest u;
    for (auto& m : transientViews(o.isTransient)) {
      if (offersControl(*m)) {
        u.awaitsPerson = true;
        continue;
      }
      std::string text = textsOf(*m);
      u.messages.push_back(text);
      if (!text.empty() && std::find(result.messages.begin(), result.messages.end(), text) == result.messages.end())
        result.messages.push_back(text);
    }
    if (!virtualClock) {
      // In the order work is handed on (a load's delegate queues work before the load leaves the
      // list, queued work posts to the main loop before it ends), so nothing slips between looks.
      for (auto& load : URLConnection::loadsInFlight())
        if (load.serial > o.loadsAfter && !isPictureLoad(load.accept)) u.loads.push_back(std::move(load));
      u.otherThreads = DispatchQueue::backgroundTaskCount() > 0;
    }
    u.mainTasks = loop->pendingTaskCount() > 0;
    u.timerIn = loop->nextTimerDueAfter(o.timersAfter) - Clock::now();
    u.timerSoon = u.timerIn <= o.soon;
    return u;
  };

  for (;;) {
    TouchDriver::settle();
    Unrest u = look();
    if (!u.any()) {
      result.atRest = true;
      break;
    }
    const double left = limit - elapsed();
    if (left <= 0) {
      if (!u.loads.empty())
        for (auto& load : loadsUnderWay(o.loadsAfter)) result.pending.push_back(std::move(load));
      for (const auto& m : u.messages) result.pending.push_back("a message: " + (m.empty() ? std::string("(no text)") : m));
      if (u.otherThreads) result.pending.push_back("work on other threads");
      if (u.timerSoon) result.pending.push_back(format("a timer due in %.1f s", std::max(0.0, u.timerIn)));
      break;
    }
    if (u.mainTasks) continue;
    // About to wait: what shows now is what a person looks at meanwhile. (A screen at rest at
    // once is the caller's to print: no look is spent on it here.)
    if (o.onChange) o.onChange();
    if (virtualClock) {
      TouchDriver::advance(std::min(slice, left));
      continue;
    }
    // Nothing to do until something happens: sleep in the run loop until a timer is due, a task
    // is posted or a source is ready, or the limit comes.
    if (u.otherThreads) DispatchQueue::wakeMainWhenBackgroundIdle();
    const double wait = std::min(left, std::max(0.0, u.timerIn));
    loop->runOnce(Date::now().addingTimeInterval(wait));
  }
  return result;
}

bool waitForAnimations(double limit) {
  TouchDriver::settle();
  if (View::animationsUnderWay() == 0) return true;
  const bool virtualClock = Clock::isVirtual();
  limit = std::isfinite(limit) ? std::max(0.0, limit) : 0;
  const double start = virtualClock ? Clock::now() : Clock::monotonic();
  auto loop = RunLoop::main();
  for (;;) {
    const double left = limit - ((virtualClock ? Clock::now() : Clock::monotonic()) - start);
    if (left <= 0) break;
    if (virtualClock) {
      // To the next timer (an animation's end is one), or a slice when none is set.
      const double next = loop->nextTimerDueAfter(0) - Clock::now();
      TouchDriver::advance(std::min(left, std::isfinite(next) ? std::max(0.0, next) : 0.1));
    } else {
      loop->runOnce(Date::now().addingTimeInterval(left));
    }
    if (View::animationsUnderWay() == 0) break;
  }
  TouchDriver::settle();
  return View::animationsUnderWay() == 0;
}

}  // namespace os
