#pragma once
// The duplicate filter between the TCP session and the application: a pushed message whose id
// was seen among the last 21 is not posted again. What it posted and the main thread has yet to
// deliver is held in its window, which the session reads to stop reading while it is full.
#include <cstdint>
#include <deque>
#include <memory>

#include "os/net/URLReceiveWindow.h"

class DUVMessageDispatch;

class DUVMessageCenter {
 public:
  static constexpr std::size_t kRememberedIds = 21;
  // Posts the message's user info to the application, unless its id is a repeat.
  void dispatchMessage(const DUVMessageDispatch& message);
  const std::deque<std::uint32_t>& receivedMsgIdsArray() const { return receivedMsgIds_; }
  const std::shared_ptr<os::URLReceiveWindow>& window() const { return window_; }

 private:
  std::deque<std::uint32_t> receivedMsgIds_;
  std::shared_ptr<os::URLReceiveWindow> window_ = std::make_shared<os::URLReceiveWindow>();
};
