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

// Whether the view, or one inside it, is an enabled control that a touch reaches.
bool holdsControl(const std::shared_ptr<View>& view) {
  return !walkViews(view, [](const std::shared_ptr<View>& v) {
    if (!shows(*v)) return WalkOn::Past;
    auto* control = dynamic_cast<const Control*>(v.get());
    return control && control->isEnabled() && isReachable(*v) ? WalkOn::Stop : WalkOn::Into;
  });
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
  walkWindows([&](const std::shared_ptr<View>& view) {
    if (!shows(*view)) return WalkOn::Past;
    if (!isTransient(*view)) return WalkOn::Into;
    if (visibleRectOf(*view)) out.push_back(view);
    return WalkOn::Past;
  });
  return out;
}

bool offersControl(const View& message) {
  if (!shows(message)) return false;
  for (const auto& sub : message.subviews())
    if (holdsControl(sub)) return true;
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
  auto loop = RunLoop::main();
  if (virtualClock) {
    // Between the main loop's timers nothing here changes (an animation's end is one), so the clock
    // goes straight from one to the next, or to the limit when none is set before it.
    const double end = Clock::now() + limit;
    double firedDueAt = -HUGE_VAL;
    while (View::animationsUnderWay() > 0 && Clock::now() < end) {
      const double now = Clock::now();
      const double to = std::min(end, loop->nextTimerDue());
      if (to > now) {
        Clock::advance(to - now);
        // The difference of two nearby dates lands on the later exactly; should it fall short,
        // the next date the clock can tell.
        if (Clock::now() < to) Clock::advance(std::nextafter(to, HUGE_VAL) - Clock::now());
      } else if (firedDueAt == now) {
        // A timer set due again each time it is fired would hold the clock still for good.
        break;
      } else {
        // One already due (set by the last layout) fires where the clock stands.
        firedDueAt = now;
      }
      TouchDriver::settle();
    }
  } else {
    const double start = Clock::monotonic();
    for (;;) {
      const double left = limit - (Clock::monotonic() - start);
      if (left <= 0) break;
      // Sleeps until a timer falls due (an animation's end is one), a task is posted or a source
      // is ready.
      loop->runOnce(Date::now().addingTimeInterval(left));
      if (View::animationsUnderWay() == 0) break;
    }
  }
  TouchDriver::settle();
  return View::animationsUnderWay() == 0;
}

}  // namespace os
