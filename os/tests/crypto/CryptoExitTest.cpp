#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <memory>

#include "os/crypto/Cipher.h"
#include "os/crypto/Digest.h"
#include "os/crypto/Random.h"
#include "os/runtime/DispatchQueue.h"
#include "os/runtime/Semaphore.h"

namespace os {
namespace {

constexpr int kRuns = 10;
constexpr int kWorkers = 4;

// A fault found on a worker may be reported while the exit overtakes the report's own exit
// status, so the status alone can look clean.
::testing::Matcher<const std::string&> noSanitizerReport() {
  return ::testing::Not(::testing::ContainsRegex("Sanitizer|runtime error"));
}

// Keeps `kWorkers` pool threads doing `work` over and over and exits once each has done it once:
// the workers go on through the exit handlers and the static destructors.
[[noreturn]] void exitWhileWorkersRun(const std::function<void()>& work) {
  auto started = std::make_shared<Semaphore>();
  for (int w = 0; w < kWorkers; ++w)
    DispatchQueue::global()->async([started, work] {
      work();
      started->signal();
      for (;;) work();
    });
  for (int w = 0; w < kWorkers; ++w) started->wait();
  std::exit(0);
}

TEST(CryptoExitTest, ExitingWhileWorkersHashAndEncryptEndsCleanly) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const Data key(16, 7), iv(16, 9), plain(100, 42);
  for (int run = 0; run < kRuns && !HasFailure(); ++run)
    EXPECT_EXIT(exitWhileWorkersRun([&] {
                  md5Hex(plain);
                  hmacSHA1(key, plain);
                  aes128CBCEncrypt(plain, key, iv, CipherPadding::PKCS7);
                }),
                ::testing::ExitedWithCode(0), noSanitizerReport())
        << "run " << run;
}

// A source set by the program (not the library's) is still the one drawn from while the process
// ends, not a destroyed one.
TEST(CryptoExitTest, ExitingWhileASetSourceIsDrawnFromEndsCleanly) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  for (int run = 0; run < kRuns && !HasFailure(); ++run)
    EXPECT_EXIT(
        {
          setRandomSource(std::make_shared<SeededRandomSource>(run));
          // One thread: the seeded source is not meant to be shared by several at once.
          auto started = std::make_shared<Semaphore>();
          DispatchQueue::global()->async([started] {
            random32();
            started->signal();
            for (;;) random32();
          });
          started->wait();
          std::exit(0);
        },
        ::testing::ExitedWithCode(0), noSanitizerReport())
        << "run " << run;
}

}  // namespace
}  // namespace os
