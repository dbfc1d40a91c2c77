// Offline article files at their edges: the longest id that still names a file, and a background
// save that wakes whoever waits for it and that the application's end waits for.
#include <limits>

#include "news/article/VXOfflineArticleStore.h"
#include "news/tests/support/ReaderFixture.h"
#include "os/views/Application.h"

namespace {

// The real clock: a waiter on the virtual one looks again every few milliseconds and so would
// never notice a save that forgets to wake it.
using OfflineArticleEdgesTest = newstest::RealTimeFixture;

TEST_F(OfflineArticleEdgesTest, EighteenDigitsNameAFileNineteenAreRefusedWithoutEndingTheProcess) {
  EXPECT_EQ(VXOfflineArticleStore::fileName(os::Value(1), os::Value("999999999999999999")), "1_999999999999999999");
  EXPECT_EQ(VXOfflineArticleStore::fileName(os::Value("-999999999999999999"), os::Value(2)), "-999999999999999999_2");
  // Beyond the 64-bit range: refused as 20 digits are, not converted.
  for (const char* id : {"9999999999999999999", "-9999999999999999999", "1000000000000000000"}) {
    EXPECT_FALSE(VXOfflineArticleStore::fileName(os::Value(1), os::Value(id))) << id;
    EXPECT_FALSE(VXOfflineArticleStore::fileName(os::Value(id), os::Value(1))) << id;
    os::Error error;
    EXPECT_FALSE(VXOfflineArticleStore::saveWithInfo({{"title", "t"}}, os::Value(1), os::Value(id), &error)) << id;
    EXPECT_EQ(error.code, kOfflineArticleBadName) << id;
  }
}

TEST_F(OfflineArticleEdgesTest, BackgroundSaveWakesItsWaiterWhenWritten) {
  // Big enough that the waiter is asleep before the file is written.
  os::Array body;
  for (int i = 0; i < 20000; ++i) body.push_back(os::Value("段落 " + std::to_string(i)));
  VXOfflineArticleStore::saveInBackground({{"title", "T"}, {"body", body}}, os::Value(4), os::Value(9));
  // A waiter left asleep would sit out this limit, far past the test run's own time-out.
  ASSERT_TRUE(VXOfflineArticleStore::waitForBackgroundSaves(3600));
  EXPECT_EQ(VXOfflineArticleStore::pendingBackgroundSaves(), 0);
  auto stored = VXOfflineArticleStore::read(os::Value(4), os::Value(9));
  ASSERT_TRUE(stored);
  EXPECT_EQ((*stored)["body"].count(), 20000u);
}

class OfflineArticleAtTheEndTest : public newstest::ReaderFixture {
 protected:
  OfflineArticleAtTheEndTest() : ReaderFixture({.realClock = true, .app = true}) {}
};

// An article opened just before the reader leaves (quit, the end of input, a signal) is kept for
// reading offline: the process ends as soon as the application has left, so leaving waits for the
// article's file, however the save and the end race.
TEST_F(OfflineArticleAtTheEndTest, AnArticleSavedAsTheReaderLeavesIsWrittenBeforeItEnds) {
  os::Array body;
  for (int i = 0; i < 20000; ++i) body.push_back(os::Value("段落 " + std::to_string(i)));
  VXOfflineArticleStore::saveInBackground({{"title", "T"}, {"body", body}}, os::Value(4), os::Value(10));
  EXPECT_TRUE(app_->leave(3600));
  auto stored = VXOfflineArticleStore::read(os::Value(4), os::Value(10));
  ASSERT_TRUE(stored);
  EXPECT_EQ((*stored)["body"].count(), 20000u);
}

}  // namespace
