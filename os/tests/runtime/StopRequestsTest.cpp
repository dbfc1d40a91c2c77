#include "os/runtime/StopRequests.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <string>
#include <vector>

#include "os/runtime/RunLoop.h"
#include "os/runtime/Thread.h"

namespace {

std::atomic<int> earlierHandlerCalls{0};
extern "C" void earlierHandler(int) { ++earlierHandlerCalls; }

// The system's requests to stop come as work on the loop, in the order sent, from any thread;
// released, the watch leaves the process as it found it.
TEST(StopRequestsTest, RequestsArriveOnTheLoopAndTheEarlierHandlingComesBack) {
  struct sigaction earlier {}, before {};
  earlier.sa_handler = earlierHandler;
  sigemptyset(&earlier.sa_mask);
  ASSERT_EQ(::sigaction(SIGHUP, &earlier, &before), 0);

  auto loop = os::RunLoop::current();
  std::vector<std::string> names;
  std::vector<int> numbers;
  auto watch = os::StopRequests::watch(loop, [&](const os::StopRequests::Request& request) {
    names.push_back(request.name);
    numbers.push_back(request.number);
  });
  ASSERT_TRUE(watch);
  EXPECT_FALSE(os::StopRequests::watch(loop, [](const os::StopRequests::Request&) {}));

  ASSERT_EQ(::raise(SIGTERM), 0);
  ASSERT_EQ(::raise(SIGHUP), 0);
  // From another thread, as a terminal's interrupt may land on any of the process's threads.
  auto other = os::Thread::create("interrupter");
  other->start();
  other->perform([] { ::kill(::getpid(), SIGINT); }, true);
  EXPECT_TRUE(loop->runUntilWoken([&] { return names.size() == 3; }, 10));
  EXPECT_EQ(names, (std::vector<std::string>{"SIGTERM", "SIGHUP", "SIGINT"}));
  EXPECT_EQ(numbers, (std::vector<int>{os::StopRequests::kTerminate, os::StopRequests::kHangUp, os::StopRequests::kInterrupt}));
  EXPECT_EQ(earlierHandlerCalls.load(), 0);
  other->cancel();
  other->join();

  watch.reset();
  ASSERT_EQ(::raise(SIGHUP), 0);
  EXPECT_EQ(earlierHandlerCalls.load(), 1);
  // A new watch may start once the last is gone.
  EXPECT_TRUE(os::StopRequests::watch(loop, [](const os::StopRequests::Request&) {}));
  ::sigaction(SIGHUP, &before, nullptr);
}

}  // namespace
