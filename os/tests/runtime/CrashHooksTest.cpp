// Crashes happen in forked children: each installs a handler of its own first (standing in for a
// sanitizer's or another library's), then the hooks, then crashes. The parent sees how the child
// died, what the earlier handlers said through a pipe, and reads the records as the next start would.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "os/core/Error.h"
#include "os/runtime/CrashHooks.h"
#include "os/runtime/Thread.h"

namespace os {
namespace {

int gMarks = -1;

void earlierHandler(int, siginfo_t*, void*) { (void)!::write(gMarks, "P", 1); }
void earlierTerminate() {
  (void)!::write(gMarks, "T", 1);
  std::abort();
}

// Not optimised away, and not stopped early by the undefined-behaviour checks: a real fault.
__attribute__((noinline, no_sanitize("undefined"))) void nullDereference() {
  volatile int* volatile p = nullptr;
  *p = 1;
}

volatile bool gDeeper = true;
__attribute__((noinline)) int recurse(int depth) {
  volatile char frame[512];
  frame[0] = static_cast<char>(depth);
  return gDeeper ? recurse(depth + 1) + frame[0] : 0;
}
// A thread of ours runs out of stack: the record is written on its alternate stack.
void stackOverflow() {
  auto thread = Thread::create("deep", [] { recurse(0); });
  thread->start();
  thread->join();
}

// The test framework would catch the exception: a noexcept frame sends it to std::terminate.
// A system call the process may not make, as a sandbox's filter answers it.
void badSystemCall() { ::raise(SIGSYS); }

// Crashes 0.05 s past the second `gCrashSecond` of the real clock.
time_t gCrashSecond = 0;
void abortAtFiveHundredths() {
  timespec at{gCrashSecond, 50 * 1000 * 1000};
  while (clock_nanosleep(CLOCK_REALTIME, TIMER_ABSTIME, &at, nullptr) == EINTR) {
  }
  std::abort();
}

[[noreturn]] __attribute__((noinline)) void throwRange() { throw Exception(kRangeException, "index 3 beyond bounds"); }
void uncaughtException() noexcept { throwRange(); }

struct Death {
  int signal = 0;  // 0 when the child did not die of a signal
  std::string marks;
};

class CrashHooksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/crashhooks-XXXXXX";
    ASSERT_TRUE(mkdtemp(name));
    dir_ = name;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  Death crashInChild(const std::function<void()>& crash) {
    int fds[2];
    EXPECT_EQ(::pipe(fds), 0);
    pid_t pid = ::fork();
    if (pid == 0) {
      ::close(fds[0]);
      gMarks = fds[1];
      rlimit noCore{0, 0};
      setrlimit(RLIMIT_CORE, &noCore);
      struct sigaction earlier {};
      earlier.sa_sigaction = &earlierHandler;
      earlier.sa_flags = SA_SIGINFO;
      sigemptyset(&earlier.sa_mask);
      for (int s : kCrashSignals) sigaction(s, &earlier, nullptr);
      std::set_terminate(&earlierTerminate);

      bool ok = CrashHooks::addHook("push", CrashHook{[](CrashRecordWriter& w) {
                                                        w.write("signal ").writeDecimal(w.signal());
                                                      },
                                                      [](CrashRecordWriter& w) {
                                                        w.write(CrashHooks::currentExceptionReason().c_str());
                                                      }}) &&
                // Keeps its records in a folder of its own, whoever installs.
                CrashHooks::addHook("reporter", CrashHook{[](CrashRecordWriter& w) { w.write("reporter saw it"); },
                                                          {},
                                                          ownFolder()}) &&
                CrashHooks::install(dir_) &&
                // Added after install: its file opens at once. Uncaught exceptions only.
                CrashHooks::addHook("news", CrashHook{{}, [](CrashRecordWriter& w) { w.write("news saw it"); }});
      if (ok) crash();
      ::_exit(ok ? 0 : 3);
    }
    ::close(fds[1]);
    Death death;
    char c;
    while (::read(fds[0], &c, 1) == 1) death.marks += c;
    ::close(fds[0]);
    int status = 0;
    EXPECT_EQ(::waitpid(pid, &status, 0), pid);
    if (WIFSIGNALED(status)) death.signal = WTERMSIG(status);
    return death;
  }

  std::string ownFolder() const { return dir_ + "/reporter/records"; }

  // The push records of one take after another until one finds none, at most `takes` of them.
  std::vector<CrashRecord> takeAll(int takes) const {
    std::vector<CrashRecord> all;
    for (int take = 0; take < takes; ++take) {
      auto records = CrashHooks::takeRecords(dir_, "push");
      if (records.empty()) break;
      for (auto& r : records) all.push_back(std::move(r));
    }
    return all;
  }

  std::string dir_;
};

TEST_F(CrashHooksTest, FaultAndAbortLeaveOneRecordEachAndStillKill) {
  for (auto [signal, crash] : {std::pair<int, void (*)()>{SIGSEGV, &nullDereference}, {SIGABRT, &std::abort},
                               {SIGSEGV, &stackOverflow}, {SIGSYS, &badSystemCall}}) {
    Death death = crashInChild(crash);
    EXPECT_EQ(death.signal, signal);
    EXPECT_EQ(death.marks, "P");  // the earlier handler ran once

    auto records = CrashHooks::takeRecords(dir_, "push");
    ASSERT_EQ(records.size(), 1u) << signal;
    EXPECT_EQ(records[0].signal, signal);
    EXPECT_EQ(records[0].text, "signal " + std::to_string(signal));
    EXPECT_TRUE(records[0].complete);
    EXPECT_GT(records[0].time, 1.6e9);
    // The null dereference faults at address 0; an abort and a refused system call have no
    // fault address at all.
    if (crash != &stackOverflow) {
      EXPECT_EQ(records[0].address, 0u);
    }
    auto own = CrashHooks::takeRecords(ownFolder(), "reporter");
    ASSERT_EQ(own.size(), 1u);
    EXPECT_EQ(own[0].signal, signal);
    EXPECT_EQ(own[0].text, "reporter saw it");
    EXPECT_TRUE(CrashHooks::takeRecords(dir_, "reporter").empty());
    // Read once: the next start finds nothing more.
    EXPECT_TRUE(CrashHooks::takeRecords(dir_, "push").empty());
    EXPECT_TRUE(CrashHooks::takeRecords(dir_, "news").empty());
  }
}

TEST_F(CrashHooksTest, CrashTimeKeepsTheLeadingZerosOfItsFraction) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  gCrashSecond = now.tv_sec + 1;
  Death death = crashInChild(&abortAtFiveHundredths);
  clock_gettime(CLOCK_REALTIME, &now);
  const double died = static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
  EXPECT_EQ(death.signal, SIGABRT);
  auto records = CrashHooks::takeRecords(dir_, "push");
  ASSERT_EQ(records.size(), 1u);
  // The crash came 0.05 s past the second, before the child was seen dead: a fraction read as
  // .5 would stand after both.
  EXPECT_GE(records[0].time, static_cast<double>(gCrashSecond) + 0.05);
  EXPECT_LE(records[0].time, died);
  EXPECT_EQ(records[0].address, 0u);
}

TEST_F(CrashHooksTest, UncaughtExceptionRunsTheTerminateChainThenTheSignalChain) {
  Death death = crashInChild(&uncaughtException);
  EXPECT_EQ(death.signal, SIGABRT);
  EXPECT_EQ(death.marks, "TP");  // the earlier terminate handler, then its abort through ours

  // One record per hook for the one crash: the abort that followed adds none.
  auto push = CrashHooks::takeRecords(dir_, "push");
  ASSERT_EQ(push.size(), 1u);
  EXPECT_EQ(push[0].signal, 0);
  EXPECT_EQ(push[0].text, "os::Exception: NSRangeException: index 3 beyond bounds");
  auto news = CrashHooks::takeRecords(dir_, "news");
  ASSERT_EQ(news.size(), 1u);
  EXPECT_EQ(news[0].text, "news saw it");
}

TEST_F(CrashHooksTest, RecordsReadStayUntilDiscardedAndLaterOnesSurviveTheDiscard) {
  Death death = crashInChild(&nullDereference);
  ASSERT_EQ(death.signal, SIGSEGV);
  std::size_t bytes = 0;
  auto read = CrashHooks::readRecords(dir_, "push", &bytes);
  ASSERT_EQ(read.size(), 1u);
  EXPECT_GT(bytes, 0u);
  // A reader that dies before keeping them elsewhere has lost nothing.
  EXPECT_EQ(CrashHooks::readRecords(dir_, "push").size(), 1u);

  // Another crash lands after the reading: the discard takes only what was read.
  crashInChild(&std::abort);
  EXPECT_TRUE(CrashHooks::discardRecords(dir_, "push", bytes));
  auto left = CrashHooks::takeRecords(dir_, "push");
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0].signal, SIGABRT);
  EXPECT_TRUE(left[0].complete);
  EXPECT_TRUE(CrashHooks::takeRecords(dir_, "push").empty());
}

TEST_F(CrashHooksTest, RecordFilesSurviveDamageAndNamesAreChecked) {
  // Two runs' records, the second cut short by the process's end, then junk.
  std::string file = "CRASHRECORD v1 signal=11 code=1 address=10 time=1700000000.250000 length=5\nfirst\n"
                     "garbage\nCRASHRECORD v1 signal=7 code=2 address=0 time=1700000001.000000 length=40\ncut";
  FILE* f = std::fopen(CrashHooks::recordPath(dir_, "push").c_str(), "w");
  ASSERT_TRUE(f);
  std::fwrite(file.data(), 1, file.size(), f);
  std::fclose(f);
  auto records = CrashHooks::takeRecords(dir_, "push");
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].text, "first");
  EXPECT_EQ(records[0].address, 0x10u);
  EXPECT_DOUBLE_EQ(records[0].time, 1700000000.25);
  EXPECT_TRUE(records[0].complete);
  EXPECT_EQ(records[1].signal, SIGBUS);
  EXPECT_EQ(records[1].text, "cut");
  EXPECT_FALSE(records[1].complete);

  Error error;
  EXPECT_FALSE(CrashHooks::addHook("../escape", {}, &error));
  EXPECT_EQ(error.code, kCrashHooksNameError);
  EXPECT_TRUE(CrashHooks::takeRecords(dir_, "..").empty());
}

// A file of many runs' records, each as long as a record can be, past what one read takes in (a
// reporter that did not start for a while): every record is handed over once and whole, over
// as many takes as it needs.
TEST_F(CrashHooksTest, RecordsPastWhatOneReadTakesComeWholeOverLaterTakes) {
  constexpr int kRecords = 300;  // some 4.8 MB of 16 KiB records
  const std::string path = CrashHooks::recordPath(dir_, "push");
  FILE* f = std::fopen(path.c_str(), "w");
  ASSERT_TRUE(f);
  auto body = [](int n) {
    std::string text = "record " + std::to_string(n) + "\n";
    while (text.size() < 16 * 1024) text += "0x00007f3a1c2b4d5e\n";
    text.resize(16 * 1024);
    return text;
  };
  for (int n = 0; n < kRecords; ++n) {
    const std::string text = body(n);
    std::fprintf(f, "CRASHRECORD v1 signal=11 code=1 address=0x10 time=%d.000001 length=%zu\n", 1700000000 + n,
                 text.size());
    std::fwrite(text.data(), 1, text.size(), f);
    std::fputc('\n', f);
  }
  std::fclose(f);

  const std::vector<CrashRecord> all = takeAll(10);
  ASSERT_EQ(all.size(), static_cast<std::size_t>(kRecords));
  for (int n = 0; n < kRecords; ++n) {
    EXPECT_TRUE(all[n].complete) << n;
    EXPECT_TRUE(all[n].text == body(n)) << n << ": " << all[n].text.size() << " bytes";
  }
}

// Wherever one take's read stops (in a record's text, its header, its mark or the newline after
// it), the record there comes whole at the next take and nothing is lost.
TEST_F(CrashHooksTest, ARecordWhoseHeaderTheReadCutsComesWholeAtTheNextTake) {
  constexpr std::size_t kReadStops = 4 * 1024 * 1024 + 8 * 1024;  // the cap, in whole chunks
  const std::string path = CrashHooks::recordPath(dir_, "push");
  auto header = [](int n, std::size_t length) {
    return "CRASHRECORD v1 signal=11 code=1 address=0x10 time=" + std::to_string(1700000000 + n) +
           ".000001 length=" + std::to_string(length) + "\n";
  };
  const std::string second = "the record that straddles the cut";
  const std::string third = "and one after it";
  for (std::size_t before : {1, 5, 10, 14, 15, 16, 20, 40, 60, 90, 100, 120}) {
    SCOPED_TRACE("the second record starts " + std::to_string(before) + " bytes before the cut");
    // The first record's text fills the file up to where the second record is to start.
    const std::size_t start = kReadStops - before;
    std::size_t length = start - header(0, 1000000).size() - 1;
    const std::string file = header(0, length) + std::string(length, 'x') + "\n" + header(1, second.size()) +
                             second + "\n" + header(2, third.size()) + third + "\n";
    ASSERT_EQ(file.find("CRASHRECORD", 1), start);
    FILE* f = std::fopen(path.c_str(), "w");
    ASSERT_TRUE(f);
    std::fwrite(file.data(), 1, file.size(), f);
    std::fclose(f);

    const std::vector<CrashRecord> all = takeAll(4);
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].text.size(), length);
    EXPECT_EQ(all[1].text, second);
    EXPECT_EQ(all[2].text, third);
    for (const auto& r : all) EXPECT_TRUE(r.complete);
  }
}

}  // namespace
}  // namespace os
