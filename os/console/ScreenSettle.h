#pragma once
// Waiting for the screen to come to rest as a person would before touching it again: answers
// arrive, animations end, and short-lived messages (a HUD, a toast) go by themselves. Time passes
// as the touch driver lets it: on the virtual clock in tests, on the real one in the reader.
//
// The screen is at rest when no short-lived message shows, no timer the command set is about to
// fire (an animation ending, a message about to go), no task waits on the main queue, nothing
// runs on the other queues (a download asleep waiting for its answer is not running), and no load
// the command started is in flight, pictures aside: a picture fills its place when it comes, and
// one that stalls must not hold the screen a person goes on using. Timers that tick on by
// themselves (a carousel turning) and loads begun before the command are not its. Under the real clock
// the wait blocks in the main run loop until one of those things happens (a timer falls due, a
// task is posted, a source is ready), so a screen already at rest answers at once. Under the
// virtual clock the clock is moved on a slice at a time, and only the screen's own timers and
// messages count: loads and other threads' work happen in real time, which a test waits on itself.
//
// A message that holds a control a touch reaches (a cover with its cancel button over a long
// download) is no message to wait out but a screen a person acts on: while one shows, the screen
// is at rest, whatever runs beneath it.
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace os {

class View;

using TransientTest = std::function<bool(const View&)>;

struct SettleOptions {
  // How long to wait at most (seconds of the clock).
  double limit = 8;
  // A timer due within this many seconds is about to fire: the screen is still moving.
  double soon = 1;
  // Loads whose serial (URLConnection::lastLoadSerial) is above this are waited for: the loads
  // the command started. The default waits for none.
  std::uint64_t loadsAfter = std::numeric_limits<std::uint64_t>::max();
  // Timers of the main run loop first scheduled after this serial (RunLoop::lastTimerSerial)
  // count: the ones the command set. The default counts every timer.
  std::uint64_t timersAfter = 0;
  // Under the virtual clock, the time moved on at a time while waiting.
  double slice = 0.1;
  // Tells a short-lived message: the screen is not at rest while one shows.
  TransientTest isTransient;
  // Called each time the wait goes to sleep (or moves the virtual clock on), the screen being
  // what a person looks at meanwhile, so a printer can show the screens as they came: a message
  // before it went, a screen that moved while a load was still out. Not called when the screen
  // is at rest at once.
  std::function<void()> onChange;
};

struct SettleResult {
  bool atRest = false;
  // The texts of the short-lived messages that showed meanwhile, in order, each once.
  std::vector<std::string> messages;
  // When the limit came first: what was still under way, one phrase each ("the load of URL,
  // for 8.0 s", "a message: 网络异常", "a timer due in 0.3 s", "work on other threads").
  std::vector<std::string> pending;
};

SettleResult settleScreen(const SettleOptions& options);

// Lets the animations under way (a menu sliding shut, a screen sliding in) end before a touch, as
// a person waits for a moving screen to stand still, at most `limit` seconds of the clock: under
// the real clock by sleeping in the main run loop until their ends fall due, under the virtual
// clock by moving it straight from one of the main loop's timers to the next (their ends are
// timers), as nothing changes between. Loads and messages are not waited for. True when none is
// left.
inline constexpr double kLongestAnimationWait = 5;
bool waitForAnimations(double limit = kLongestAnimationWait);

// Whether the settle leaves a load to come when it comes: one that asks for pictures only.
bool isPictureLoad(const std::string& accept);

// The loads after serial `loadsAfter` still in flight, pictures aside, each as "the load of URL,
// for N s": N counts from the first of that URL's loads after it, so a load tried again or queued
// anew says how long it has really been waited for, not how long its latest try has run.
std::vector<std::string> loadsUnderWay(std::uint64_t loadsAfter);

// The short-lived messages on screen, back to front.
std::vector<std::shared_ptr<View>> transientViews(const TransientTest& isTransient);

// Whether a view inside the message is an enabled control that a touch reaches (a cancel button).
// A message that is itself a control (a toast a touch hides) offers none: it goes by itself.
bool offersControl(const View& message);

}  // namespace os
