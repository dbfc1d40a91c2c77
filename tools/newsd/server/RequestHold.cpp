#include "tools/newsd/server/RequestHold.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "os/runtime/Clock.h"

namespace newsd {

struct RequestHold::State {
  mutable std::mutex mutex;
  mutable std::condition_variable changed;
  bool released = false;
  std::size_t held = 0;
  int releaseEvent = -1;  // readable once released; wakes the stalls sleeping in poll()
};

RequestHold::RequestHold() : state_(std::make_shared<State>()) {
  state_->releaseEvent = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  // Held on a virtual clock, a wait ends only when a test advances it. The listener keeps the
  // state alive: the clock may still call it just after this object is gone.
  std::weak_ptr<State> weak = state_;
  clockListener_ = os::Clock::addAdvanceListener([weak] {
    if (auto state = weak.lock()) {
      std::lock_guard lock(state->mutex);
      state->changed.notify_all();
    }
  });
}

RequestHold::~RequestHold() {
  release();
  os::Clock::removeAdvanceListener(clockListener_);
  // Every holder has returned by now: the server joins its workers before it lets this go.
  if (state_->releaseEvent >= 0) close(state_->releaseEvent);
}

bool RequestHold::wait(double seconds) {
  State& s = *state_;
  std::unique_lock lock(s.mutex);
  ++s.held;
  s.changed.notify_all();
  double until = os::Clock::monotonic() + seconds;
  while (!s.released) {
    double left = until - os::Clock::monotonic();
    if (left <= 0) break;
    if (os::Clock::isVirtual()) {
      s.changed.wait(lock);
    } else {
      s.changed.wait_for(lock, std::chrono::duration<double>(left));
    }
  }
  bool elapsed = !s.released;
  --s.held;
  s.changed.notify_all();
  return elapsed;
}

bool RequestHold::stall(int connection) {
  State& s = *state_;
  {
    std::lock_guard lock(s.mutex);
    if (s.released) return false;
    ++s.held;
    s.changed.notify_all();
  }
  bool peerLeft = false;
  pollfd fds[2] = {{s.releaseEvent, POLLIN, 0}, {connection, POLLRDHUP, 0}};
  nfds_t count = connection >= 0 ? 2 : 1;
  for (;;) {
    int ready = poll(fds, count, -1);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) break;  // nothing to wait on any more; let the request go
    if (fds[0].revents != 0) break;
    if (count == 2 && (fds[1].revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) != 0) {
      peerLeft = true;
      break;
    }
  }
  std::lock_guard lock(s.mutex);
  --s.held;
  s.changed.notify_all();
  return peerLeft;
}

void RequestHold::release() {
  State& s = *state_;
  std::lock_guard lock(s.mutex);
  if (s.released) return;
  s.released = true;
  if (s.releaseEvent >= 0) {
    std::uint64_t one = 1;
    [[maybe_unused]] ssize_t written = write(s.releaseEvent, &one, sizeof one);
  }
  s.changed.notify_all();
}

std::size_t RequestHold::held() const {
  std::lock_guard lock(state_->mutex);
  return state_->held;
}

bool RequestHold::awaitHeld(std::size_t count, double limitSeconds) const {
  State& s = *state_;
  std::unique_lock lock(s.mutex);
  return s.changed.wait_for(lock, std::chrono::duration<double>(limitSeconds), [&] { return s.held == count; });
}

}  // namespace newsd
