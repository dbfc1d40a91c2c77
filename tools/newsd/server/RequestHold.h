#pragma once
// Holds requests back for the configured delays and stalls, and lets every one of them go at once
// when the server stops, so that stopping never waits on a request that was told to wait.
#include <cstddef>
#include <memory>

namespace newsd {

class RequestHold {
 public:
  RequestHold();
  ~RequestHold();
  RequestHold(const RequestHold&) = delete;
  RequestHold& operator=(const RequestHold&) = delete;

  // Waits `seconds` of os::Clock monotonic time (a virtual clock moves only when a test advances
  // it). False when released first.
  bool wait(double seconds);
  // Waits until the peer of `connection` (a socket; -1 when unknown) closes its side or the hold
  // is released. True when the peer left.
  bool stall(int connection);
  // Lets every held request go, now and for good.
  void release();

  std::size_t held() const;
  // Blocks until `count` requests are held, at most `limitSeconds` of real time; whether the count
  // was reached.
  bool awaitHeld(std::size_t count, double limitSeconds) const;

 private:
  struct State;
  std::shared_ptr<State> state_;
  int clockListener_ = 0;
};

}  // namespace newsd
