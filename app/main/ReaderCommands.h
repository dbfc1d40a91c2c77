#pragma once
// The running reader's side of the screen: prints the visible screen whenever it changes and
// carries out the reader's commands (see help()). Main thread only.
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "os/console/ScreenDump.h"
#include "os/console/ScreenSettle.h"
#include "os/core/Value.h"

namespace reader {

class ReaderCommands {
 public:
  explicit ReaderCommands(std::ostream& out) : out_(out) {}

  // One command; what it answers ("" when it went well, "error: …" otherwise).
  std::string run(const std::string& line);
  bool quitRequested() const { return quit_; }
  // Ends the commands as `quit` does, from outside them (a request to stop the program): the
  // running command's wait for the screen is the last, and no further command runs.
  void stop() { quit_ = true; }
  // Whoever read the output has gone (a write or flush to a closed pipe failed): nothing more can
  // be shown, and the commands end as at `quit`.
  bool outputClosed() const { return out_.fail(); }
  static std::string help();

  // Prints the screen when it differs from the one printed last.
  void printIfChanged();
  // The longest a command waits for the screen to come to rest: longer than the news client's
  // request time-out, so a request that stalls has ended, and its message gone, when it answers.
  static constexpr double kSettleLimit = 15;
  // Lets the reader work (answers, animations) until the screen is at rest (os/console's
  // settleScreen): no short-lived message (HUD, toast) left on it, no timer after `timersAfter`
  // (a main run loop timer serial) about to fire and no load after `loadsAfter` (a URLConnection
  // serial) in flight, pictures aside, at most `limit` seconds; a message prints while it shows.
  os::SettleResult settle(double limit = kSettleLimit, std::uint64_t loadsAfter = kNoLoads, std::uint64_t timersAfter = 0);
  static constexpr std::uint64_t kNoLoads = ~std::uint64_t{0};
  // Waits until the splash has ended; false at the time-out.
  bool waitForLaunch(double limit = 20);

  // Runs the commands of the file descriptor (standard input) as their lines arrive, until its end,
  // `quit` or the output closing. From a terminal the answers print as they come; otherwise each
  // command is echoed ("> …"), waited on until the screen rests, and the exit code is 0 when every
  // command went well, 1 otherwise; input that ends before any command plays the tour instead.
  // Output that closed is 1 whichever way: what was asked for was not all shown.
  int runInput(bool interactive, int fd = 0);
  // Splash, tabs and the first list, pull to refresh, the next page, an article and back, then,
  // with the push service's control port given, that article pushed as a headline, accepted.
  int runTour();
  void setPushControlPort(std::uint16_t port) { pushControlPort_ = port; }

  // The category tab titles on screen, in order.
  static std::vector<std::string> tabTitles();
  // The article screen's rows as text, or "" when no article is open.
  static std::string articleRows();

 private:
  // `quit`, a request to stop or the output gone: no further command runs.
  bool commandsEnded() const { return quit_ || outputClosed(); }
  bool step(const std::string& command);
  // The answer to a tap on the vote row's buttons while that row is off screen, or "".
  static std::string voteRowOffScreen(const std::string& words);
  // The menu button, or, with the menu open, the strip of news beside it (which closes it).
  std::string toggleMenu();
  // Scrolls the list to its end (its next page loads); says so when it already was there.
  std::string scrollToEnd();
  // Pull to refresh, then what came of it.
  std::string pull();
  bool pushedHeadline(const os::Dictionary& article, const std::string& title);
  void shareTour();

  std::ostream& out_;
  os::ScreenWatcher watcher_;
  bool quit_ = false;
  bool launched_ = false;
  std::uint16_t pushControlPort_ = 0;
  // The newest load and main loop timer when the running command began: the ones after them
  // are the command's.
  std::uint64_t loadsBefore_ = kNoLoads;
  std::uint64_t timersBefore_ = 0;
};

}  // namespace reader
