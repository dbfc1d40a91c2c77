#pragma once
// The duplicate filter between the TCP session and the application: a pushed message whose id
// was seen among the last 21 is not posted again.
#include <cstdint>
#include <deque>
#include <memory>

class DUVMessageDispatch;

class DUVMessageCenter {
 public:
  static constexpr std::size_t kRememberedIds = 21;
  // Posts the message's user info to the application, unless its id is a repeat.
  void dispatchMessage(const DUVMessageDispatch& message);
  const std::deque<std::uint32_t>& receivedMsgIdsArray() const { return receivedMsgIds_; }

 private:
  std::deque<std::uint32_t> receivedMsgIds_;
};
