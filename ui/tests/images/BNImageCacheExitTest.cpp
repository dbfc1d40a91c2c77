#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "os/runtime/Semaphore.h"
#include "os/store/FileManager.h"
#include "ui/images/BNImageCache.h"
#include "ui/tests/images/ImageTestSupport.h"

using namespace imagetest;

namespace {

constexpr int kRuns = 60;
constexpr int kCaches = 4;
constexpr int kPicturesPerCache = 150;

// A fault found on a worker may be reported while the exit overtakes the report's own exit
// status, so the status alone can look clean.
::testing::Matcher<const std::string&> noSanitizerReport() {
  return ::testing::Not(::testing::ContainsRegex("Sanitizer|runtime error"));
}

// Where the runs of one test process keep their caches. A run is a child of that process, so it
// finds the folder by its parent's id, and the parent removes it once every run has ended.
std::string folderOfProcess(pid_t pid) {
  return ::testing::TempDir() + "image-cache-exit-" + std::to_string(pid);
}

// Stores pictures to disk through caches of their own io queues and quits as soon as every queue
// has written its first one: the rest are still being named, encoded and written as the process
// runs its exit handlers.
[[noreturn]] void storePicturesAndQuit(const std::string& folder) {
  std::vector<std::shared_ptr<BNImageCache>> caches;
  for (int c = 0; c < kCaches; ++c)
    caches.push_back(std::make_shared<BNImageCache>(BNImageCache::PrivateTag{}, "exit." + std::to_string(c),
                                                    folder + "/" + std::to_string(c)));
  auto picture = os::Image::create(solid(24, 24, 30, 60, 90));
  auto started = std::make_shared<os::Semaphore>();
  for (int c = 0; c < kCaches; ++c) {
    caches[c]->storeImage(picture, "first");
    caches[c]->ioQueue()->async([started] { started->signal(); });
  }
  for (int i = 0; i < kPicturesPerCache; ++i)
    for (auto& cache : caches) cache->storeImage(picture, "picture-" + std::to_string(i));
  for (int c = 0; c < kCaches; ++c) started->wait();
  std::exit(0);
}

TEST(ImageCacheExitTest, QuittingWhilePicturesAreStoredEndsCleanlyEveryTime) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  for (int run = 0; run < kRuns && !HasFailure(); ++run)
    EXPECT_EXIT(storePicturesAndQuit(folderOfProcess(::getppid()) + "/" + std::to_string(run)),
                ::testing::ExitedWithCode(0), noSanitizerReport())
        << "run " << run;
  os::FileManager::defaultManager().removeItemAtPath(folderOfProcess(::getpid()));
}

}  // namespace
