// The reporter installs process-wide handlers once per process, so every start here happens in a
// forked child; a later child plays the next start and reports what it found through a pipe.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <functional>
#include <stdexcept>
#include <string>

#include "crash/Brekka.h"
#include "foundation/ServiceCallLog.h"
#include "os/runtime/CrashHooks.h"
#include "os/testing/TestSandbox.h"

namespace {

__attribute__((noinline, no_sanitize("undefined"))) void nullDereference() {
  volatile int* volatile p = nullptr;
  *p = 1;
}

[[noreturn]] __attribute__((noinline)) void throwRuntimeError() { throw std::runtime_error("map tile missing"); }
void uncaughtException() noexcept { throwRuntimeError(); }

struct ChildRun {
  int signal = 0;     // the signal that ended the child, 0 when it exited
  int exitCode = -1;  // its exit code when it exited
  std::string said;   // what it wrote to the pipe
};

// Runs `body` in a child that may write to the given descriptor; the child exits 0 when `body`
// returns.
ChildRun inChild(const std::function<void(int out)>& body) {
  int fds[2];
  EXPECT_EQ(::pipe(fds), 0);
  pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    body(fds[1]);
    ::_exit(0);
  }
  ::close(fds[1]);
  ChildRun run;
  char c;
  while (::read(fds[0], &c, 1) == 1) run.said += c;
  ::close(fds[0]);
  int status = 0;
  EXPECT_EQ(::waitpid(pid, &status, 0), pid);
  if (WIFSIGNALED(status)) run.signal = WTERMSIG(status);
  if (WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
  return run;
}

void say(int out, const std::string& text) { (void)!::write(out, text.data(), text.size()); }

// The next start: what the reporter found, one "signal|reason|complete" line per record.
std::string nextStart() {
  return inChild([](int out) {
    auto reporter = Brekka::startWithAPIKey("key");
    for (const auto& record : reporter->crashRecords())
      say(out, std::to_string(record.signal) + "|" + Brekka::reason(record) + "|" + (record.complete ? "1" : "0") + "\n");
  }).said;
}

class BrekkaTest : public ::testing::Test {
 protected:
  os::TestSandbox sandbox_;
};

TEST_F(BrekkaTest, ACrashLeavesOneRecordUnderItsOwnNameThatOnlyTheNextStartTakes) {
  ChildRun crashed = inChild([](int) {
    if (Brekka::startWithAPIKey("key")->handlersInstalled()) nullDereference();
    ::_exit(3);
  });
  // Under the address sanitizer its handler, which ours chains to, ends the process with a status.
  EXPECT_TRUE(crashed.signal == SIGSEGV || (crashed.exitCode != 0 && crashed.exitCode != 3));
  EXPECT_EQ(nextStart(), std::to_string(SIGSEGV) + "|SIGSEGV|1\n");
  // Taken once, and a start that did not crash left none.
  EXPECT_EQ(nextStart(), "");

  crashed = inChild([](int) {
    if (Brekka::startWithAPIKey("key")->handlersInstalled()) uncaughtException();
    ::_exit(3);
  });
  EXPECT_TRUE(crashed.signal == SIGABRT || (crashed.exitCode != 0 && crashed.exitCode != 3));
  // The exception's own record; the abort that follows adds none.
  EXPECT_EQ(nextStart(), "0|std::runtime_error: map tile missing|1\n");

  // A system call the process may not make.
  crashed = inChild([](int) {
    if (Brekka::startWithAPIKey("key")->handlersInstalled()) ::raise(SIGSYS);
    ::_exit(3);
  });
  EXPECT_TRUE(crashed.signal == SIGSYS || (crashed.exitCode != 0 && crashed.exitCode != 3));
  EXPECT_EQ(nextStart(), std::to_string(SIGSYS) + "|SIGSYS|1\n");
}

TEST_F(BrekkaTest, LaterStartsKeepTheOneReporterAndItsHandlersAndTakeTheNewKey) {
  ChildRun run = inChild([](int out) {
    ServiceCallLog::Recording recording;
    ServiceCallLog::reset();
    const std::string key(40, 'a');
    auto first = Brekka::startWithAPIKey(key);
    auto again = Brekka::startWithAPIKey("b");
    auto starts = ServiceCallLog::calls("Brekka", "startWithAPIKey");
    say(out, std::string(again == first ? "same " : "other ") + again->apiKey() + " " +
                 (again->handlersInstalled() ? "installed " : "bare ") + std::to_string(starts.size()) + " " +
                 starts[0].arguments["apiKey"].stringOr());
  });
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.said, "same b installed 2 " + std::string(40, 'a'));
}

}  // namespace
