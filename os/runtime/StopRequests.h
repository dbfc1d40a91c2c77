#pragma once
// The requests to stop that the system delivers to a program (SIGTERM from `kill` or a parent's
// end, SIGHUP when its terminal goes, SIGINT from an interrupt key), handed to a run loop's
// thread as ordinary work, so the program can end the way a person leaving it would rather than
// being cut off wherever it was. Without a watch the system's default (ending at once) holds.
#include <functional>
#include <memory>
#include <string>

namespace os {

class RunLoop;

class StopRequests {
 public:
  // Which request came: the signal's number (for the conventional exit status 128 + number) and
  // its name ("SIGTERM").
  struct Request {
    int number = 0;
    std::string name;
  };
  using Callback = std::function<void(const Request&)>;

  // Takes the three requests from now on and calls `callback` on `loop`'s thread for each one as
  // it arrives (repeated requests too). One watch at a time in a process: nothing when another is
  // live. Releasing the watch gives the requests back to what handled them before.
  static std::unique_ptr<StopRequests> watch(const std::shared_ptr<RunLoop>& loop, Callback callback);
  ~StopRequests();
  StopRequests(const StopRequests&) = delete;
  StopRequests& operator=(const StopRequests&) = delete;

  // The signals taken, for a test that plays the system.
  static constexpr int kTerminate = 15;
  static constexpr int kHangUp = 1;
  static constexpr int kInterrupt = 2;

 private:
  struct PrivateTag {};

 public:
  StopRequests(PrivateTag, std::shared_ptr<RunLoop> loop, Callback callback);

 private:
  void readable();

  std::shared_ptr<RunLoop> loop_;
  Callback callback_;
  int readFd_ = -1;
  int token_ = -1;
};

}  // namespace os
