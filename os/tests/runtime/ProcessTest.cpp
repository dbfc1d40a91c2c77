#include "os/runtime/Process.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <string>

namespace {

std::string readAll(int fd) {
  std::string text;
  char buffer[256];
  ssize_t n;
  while ((n = ::read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(n));
  return text;
}

TEST(ProcessTest, StartedProgramWritesToTheGivenDescriptorAndItsExitIsReported) {
  int out[2];
  ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
  os::ProcessLaunch launch;
  // Standard input from the null device reads empty at once.
  launch.arguments = {"/bin/sh", "-c", "cat; echo started \"$0\"; exit 3", "again"};
  launch.input = os::ProcessLaunch::kNullDevice;
  launch.output = out[1];
  auto pid = os::startProcess(launch);
  ::close(out[1]);
  ASSERT_TRUE(pid);
  // Our end of the pipe was close-on-exec: the child holds none, so the read ends with its exit.
  EXPECT_EQ(readAll(out[0]), "started again\n");
  ::close(out[0]);
  auto exit = os::waitForProcess(*pid);
  ASSERT_TRUE(exit);
  EXPECT_TRUE(exit->exitedNormally);
  EXPECT_EQ(exit->status, 3);
  EXPECT_GT(exit->peakResidentKB, 0);
}

TEST(ProcessTest, MissingProgramAndForeignProcessAreRefused) {
  os::ProcessLaunch launch;
  launch.arguments = {"/nonexistent/program"};
  EXPECT_FALSE(os::startProcess(launch));
  EXPECT_FALSE(os::startProcess(os::ProcessLaunch{}));
  EXPECT_FALSE(os::waitForProcess(1));
}

TEST(ProcessTest, SignalEndingTheProgramIsReported) {
  os::ProcessLaunch launch;
  launch.arguments = {"/bin/sh", "-c", "kill -TERM $$"};
  auto pid = os::startProcess(launch);
  ASSERT_TRUE(pid);
  auto exit = os::waitForProcess(*pid);
  ASSERT_TRUE(exit);
  EXPECT_FALSE(exit->exitedNormally);
  EXPECT_EQ(exit->status, 15);
}

// The stop on the parent's end is set only for the parent the starter named: one that has ended
// (this process handed to another) or a process id that is no parent refuses, so the caller ends.
TEST(ProcessTest, StopWithParentTakesOnlyTheParentThatStartedIt) {
  EXPECT_FALSE(os::stopWithParent(1));
  EXPECT_FALSE(os::stopWithParent(0));
  EXPECT_FALSE(os::stopWithParent(::getpid()));
  ASSERT_TRUE(os::stopWithParent(::getppid()));
  int signal = 0;
  ASSERT_EQ(::prctl(PR_GET_PDEATHSIG, &signal), 0);
  EXPECT_EQ(signal, SIGTERM);
  // This test process goes on after its runner ends, as before.
  ::prctl(PR_SET_PDEATHSIG, 0);
}

// A program whose reader has gone finds its write failing and goes on to end its own way, rather
// than being ended by the system in the middle of it.
TEST(ProcessTest, AWriteToAClosedPipeFailsOnceThePipeSignalIsLetGo) {
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    std::signal(SIGPIPE, SIG_DFL);  // as a program starts, whatever this test process did before
    os::letWritesToClosedPipesFail();
    int ends[2];
    if (::pipe(ends) != 0) ::_exit(3);
    ::close(ends[0]);
    const bool failed = ::write(ends[1], "x", 1) < 0 && errno == EPIPE;
    ::_exit(failed ? 0 : 4);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_FALSE(WIFSIGNALED(status)) << "ended by signal " << WTERMSIG(status);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

// The reason a program prints names what is wrong: a process that is there but did not start this
// one is not said to have ended, and a missing id is asked for as an id.
TEST(ProcessTest, StopWithParentSaysWhyItRefuses) {
  std::string why;
  EXPECT_FALSE(os::stopWithParent(std::to_string(::getpid()), why));
  EXPECT_EQ(why, "process " + std::to_string(::getpid()) + " is not the one that started it");
  int signal = -1;
  ASSERT_EQ(::prctl(PR_GET_PDEATHSIG, &signal), 0);
  EXPECT_EQ(signal, 0) << "a refused parent left the stop set";

  // A child of ours that has ended and been waited for names no process at all.
  os::ProcessLaunch launch;
  launch.arguments = {"/bin/true"};
  auto pid = os::startProcess(launch);
  ASSERT_TRUE(pid);
  ASSERT_TRUE(os::waitForProcess(*pid));
  EXPECT_FALSE(os::stopWithParent(std::to_string(*pid), why));
  EXPECT_EQ(why, "process " + std::to_string(*pid) + " that started it has ended");

  EXPECT_FALSE(os::stopWithParent("", why));
  EXPECT_EQ(why.find("--parent takes a process id"), 0u) << why;
  EXPECT_EQ(why.find("not \"\""), std::string::npos) << why;
  EXPECT_FALSE(os::stopWithParent("0", why));
  EXPECT_EQ(why, "--parent takes a process id, not \"0\"");
  ::prctl(PR_SET_PDEATHSIG, 0);
}

}  // namespace
