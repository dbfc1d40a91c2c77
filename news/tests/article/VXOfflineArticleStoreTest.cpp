// Offline article files: names only from whole decimal integers, answers with JSON nulls still
// stored, replaced on a second save.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "foundation/formats/JSONDecoder.h"
#include "news/api/VXGlobalHelper.h"
#include "news/api/VXReaderContext.h"
#include "news/article/VXOfflineArticleStore.h"
#include "news/tests/support/ReaderFixture.h"
#include "os/runtime/Semaphore.h"
#include "os/store/FileManager.h"
#include "os/store/PropertyList.h"
#include "os/testing/TestSandbox.h"
#include "os/views/Application.h"

namespace {

using OfflineArticleStoreTest = newstest::RealTimeFixture;

TEST_F(OfflineArticleStoreTest, NamesComeOnlyFromDecimalIntegers) {
  EXPECT_EQ(VXOfflineArticleStore::fileName(os::Value(5), os::Value(1024LL)), "5_1024");
  EXPECT_EQ(VXOfflineArticleStore::fileName(os::Value("5"), os::Value("0042")), "5_42");
  EXPECT_EQ(VXOfflineArticleStore::fileName(os::Value(5.0), os::Value(7)), "5_7");

  // A pushed payload decides these: none may reach outside the offline folder or collide.
  for (const os::Value& bad : {os::Value("5/../x"), os::Value(""), os::Value("-"), os::Value(" 5"), os::Value("5 "),
                               os::Value("1e3"), os::Value(1.5), os::Value(), os::Value(os::Array{}),
                               os::Value("12345678901234567890")}) {
    EXPECT_FALSE(VXOfflineArticleStore::fileName(bad, os::Value(1))) << bad.description();
    EXPECT_FALSE(VXOfflineArticleStore::fileName(os::Value(1), bad)) << bad.description();
  }
  os::Error error;
  EXPECT_FALSE(VXOfflineArticleStore::saveWithInfo({{"result", 1}}, os::Value("../../etc"), os::Value(1), &error));
  EXPECT_EQ(error.code, kOfflineArticleBadName);
  EXPECT_FALSE(VXOfflineArticleStore::read(os::Value("5/../x"), os::Value(1)));
}

TEST_F(OfflineArticleStoreTest, AnswerWithNullsIsStoredWithoutThem) {
  std::string json = R"({"result":1,"title":"T","sourceurl":null,"body":"<p>x</p>",
                         "extra":{"a":null,"b":[1,null,2]}})";
  JSONDecoder decoder;
  auto parsed = decoder.mutableObjectWithUTF8String(json.data(), json.size());
  ASSERT_TRUE(parsed && parsed->dictionary());
  // The property-list writer refuses nulls outright: written as it came, nothing would be stored.
  EXPECT_FALSE(os::PropertyList::write(*parsed, os::PropertyListFormat::XML));

  ASSERT_TRUE(VXOfflineArticleStore::saveWithInfo(*parsed->dictionary(), os::Value(3), os::Value(77)));
  EXPECT_TRUE(os::FileManager::defaultManager().fileExistsAtPath(VXGlobalHelper::offlineDirectory() + "3_77"));
  auto stored = VXOfflineArticleStore::read(os::Value("3"), os::Value("77"));
  ASSERT_TRUE(stored);
  EXPECT_EQ((*stored)["title"].stringOr(), "T");
  EXPECT_FALSE(stored->contains("sourceurl"));
  EXPECT_FALSE((*stored)["extra"].dictionary()->contains("a"));
  EXPECT_EQ((*stored)["extra"]["b"].count(), 2u);
}

TEST_F(OfflineArticleStoreTest, SecondSaveReplacesAndCorruptFileReadsAsNothing) {
  ASSERT_TRUE(VXOfflineArticleStore::saveWithInfo({{"title", "old"}}, os::Value(1), os::Value(2)));
  ASSERT_TRUE(VXOfflineArticleStore::saveWithInfo({{"title", "new"}}, os::Value(1), os::Value(2)));
  EXPECT_EQ((*VXOfflineArticleStore::read(os::Value(1), os::Value(2)))["title"].stringOr(), "new");

  std::string path = *VXOfflineArticleStore::pathFor(os::Value(1), os::Value(3));
  ASSERT_TRUE(os::TestSandbox::writeFile(path, "<plist><dict><key>x"));
  EXPECT_FALSE(VXOfflineArticleStore::read(os::Value(1), os::Value(3)));
  EXPECT_FALSE(VXOfflineArticleStore::read(os::Value(1), os::Value(4)));
}

// The largest answers the client takes: nested as deep as its decoder reads, and a long article
// of many pictures with every control character a text may carry. Each is saved and read back
// from its file as the article screen reads it without the server.
TEST_F(OfflineArticleStoreTest, TheLargestAnswersTheClientTakesReadBackFromTheirFiles) {
  std::string deep = R"({"errorcode":0,"opcode":1020,"data":{"result":1,"nest":)";
  int levels = 2;  // the envelope and its data
  for (; levels < 512; ++levels) deep += "[";
  deep += R"("底")";
  for (int i = 2; i < levels; ++i) deep += "]";
  deep += "}}";
  std::string deeper = deep;
  deeper.replace(deeper.find(R"("底")"), 5, R"(["底"])");
  ASSERT_FALSE(VXGlobalHelper::praseRespString(deeper));  // one more level is refused
  auto deepest = VXGlobalHelper::praseRespString(deep);
  ASSERT_TRUE(deepest);

  std::string controls;
  for (char c = 1; c < 32; ++c) controls += c;
  os::Array pictures;
  std::string body;
  for (int i = 0; i < 200; ++i) {
    pictures.push_back(os::Value(os::Dictionary{{"url", os::Value("http://img.example/" + std::to_string(i) + ".jpg")},
                                                {"width", os::Value(640)},
                                                {"desc", os::Value("图" + std::to_string(i) + controls)}}));
    body += "<p>第" + std::to_string(i) + "段 " + std::string(1500, 'x') + controls + "</p>";
  }
  os::Dictionary article{{"result", os::Value(1)}, {"title", os::Value("长文" + controls)}, {"body", os::Value(body)},
                         {"pictures", os::Value(pictures)}};

  for (const auto& [id, answer] : {std::pair{1, *deepest}, std::pair{2, article}}) {
    ASSERT_TRUE(VXOfflineArticleStore::saveWithInfo(answer, os::Value(9), os::Value(id))) << id;
    auto stored = VXOfflineArticleStore::read(os::Value(9), os::Value(id));
    ASSERT_TRUE(stored) << id;
    EXPECT_TRUE(os::Value(*stored) == os::Value(answer)) << id;
  }
}

// A save killed while it wrote (the reader killed, the power lost) leaves its temporary file in
// the offline folder. The next launch removes it; saved articles, other hidden files and a save
// another thread has under way stay.
TEST_F(OfflineArticleStoreTest, SavesCutShortLeaveNothingBehindAfterTheNextLaunch) {
  auto& fm = os::FileManager::defaultManager();
  ASSERT_TRUE(VXOfflineArticleStore::saveWithInfo({{"title", os::Value("kept")}}, os::Value(3), os::Value(77)));
  const std::string folder = VXGlobalHelper::offlineDirectory();
  pid_t killed = ::fork();
  if (killed == 0) ::_exit(0);
  int status = 0;
  ASSERT_EQ(::waitpid(killed, &status, 0), killed);
  const std::vector<std::string> cutShort{os::temporaryFileName(folder + "3_77", killed, 4),
                                          os::temporaryFileName(folder + "3_78", killed, 5)};
  for (const std::string& path : cutShort) ASSERT_TRUE(fm.writeData(os::Data(4096, 1), path, {.atomic = false}));
  ASSERT_TRUE(fm.writeData(os::Data{1}, folder + ".keep", {.atomic = false}));

  // A save under way on another thread, held once its temporary file exists.
  os::Semaphore created, release;
  std::string underWay;
  os::setTemporaryFileObserverForTesting([&](const std::string& path) {
    underWay = path;
    created.signal();
    release.wait();
  });
  std::thread saver([] {
    EXPECT_TRUE(VXOfflineArticleStore::saveWithInfo({{"title", os::Value("new")}}, os::Value(3), os::Value(79)));
  });
  created.wait();
  os::setTemporaryFileObserverForTesting({});

  EXPECT_EQ(VXOfflineArticleStore::removeInterruptedSaves(), cutShort.size());
  for (const std::string& path : cutShort) EXPECT_FALSE(fm.fileExistsAtPath(path)) << path;
  EXPECT_TRUE(fm.fileExistsAtPath(underWay)) << underWay;
  EXPECT_TRUE(fm.fileExistsAtPath(folder + ".keep"));
  release.signal();
  saver.join();
  EXPECT_EQ((*VXOfflineArticleStore::read(os::Value(3), os::Value(77)))["title"].stringOr(), "kept");
  EXPECT_EQ((*VXOfflineArticleStore::read(os::Value(3), os::Value(79)))["title"].stringOr(), "new");
  EXPECT_EQ(fm.contentsOfDirectoryAtPath(folder), (std::vector<std::string>{".keep", "3_77", "3_79"}));
}

// The first atomic write made while it lives is held once its temporary file exists, as a busy
// disk holds it, until let go.
class HeldWrite {
 public:
  HeldWrite() {
    os::setTemporaryFileObserverForTesting([this](const std::string&) {
      if (taken_.exchange(true)) return;
      created.signal();
      release.wait();
    });
  }
  ~HeldWrite() { os::setTemporaryFileObserverForTesting({}); }
  HeldWrite(const HeldWrite&) = delete;
  HeldWrite& operator=(const HeldWrite&) = delete;

  os::Semaphore created, release;

 private:
  std::atomic<bool> taken_{false};
};

// An article saved again while its older answer is still being written (the screen's save and the
// offline download's, or the screen opened twice): the file keeps the answer fetched last.
class OfflineSaveOrderTest : public newstest::ReaderFixture {
 protected:
  OfflineSaveOrderTest() : ReaderFixture({.realClock = true, .app = true}) {}

  static os::Dictionary answer(const char* title) { return {{"result", os::Value(1)}, {"title", os::Value(title)}}; }
  static std::string kept() {
    auto file = VXOfflineArticleStore::read(os::Value(4), os::Value(40));
    return file ? (*file)["title"].stringOr() : "(none)";
  }
  // The screens' save, from the main thread: its end is posted back there.
  static void screenSave(VXReaderContext& context, const char* title) {
    VXOfflineArticleStore::saveInBackground(context, answer(title), os::Value(4), os::Value(40));
  }
  // The offline download's save, on a thread of its own.
  static std::thread downloadSave(VXReaderContext& context, const char* title) {
    return std::thread([&context, title] {
      EXPECT_TRUE(VXOfflineArticleStore::saveWithInfo(context, answer(title), os::Value(4), os::Value(40)));
    });
  }
};

TEST_F(OfflineSaveOrderTest, TheFileKeepsTheAnswerFetchedLastWhicheverSaveEndsLast) {
  auto& context = *VXReaderContext::current();
  {
    SCOPED_TRACE("the screen's save held, the download's ends meanwhile");
    HeldWrite held;
    screenSave(context, "screen, older");
    held.created.wait();
    downloadSave(context, "download, newer").join();
    held.release.signal();
    ASSERT_TRUE(VXOfflineArticleStore::waitForBackgroundSaves(context, 20));
    EXPECT_EQ(kept(), "download, newer");
  }
  {
    SCOPED_TRACE("the download's save held, the screen's ends meanwhile");
    HeldWrite held;
    std::thread download = downloadSave(context, "download, older");
    held.created.wait();
    screenSave(context, "screen, newer");
    EXPECT_TRUE(os::testing::runUntil([&] { return app_->backgroundTaskCount() == 0; }, 20));
    held.release.signal();
    download.join();
    EXPECT_EQ(kept(), "screen, newer");
  }
  {
    SCOPED_TRACE("the screen opened again before its first save was written");
    HeldWrite held;
    screenSave(context, "first opening");
    held.created.wait();
    screenSave(context, "second opening");
    EXPECT_TRUE(os::testing::runUntil([&] { return app_->backgroundTaskCount() == 1; }, 20));
    held.release.signal();
    ASSERT_TRUE(VXOfflineArticleStore::waitForBackgroundSaves(context, 20));
    EXPECT_EQ(kept(), "second opening");
  }
  // Older saves that gave way left no temporary file behind.
  EXPECT_EQ(os::FileManager::defaultManager().contentsOfDirectoryAtPath(VXGlobalHelper::offlineDirectory()),
            (std::vector<std::string>{"4_40"}));
}

}  // namespace
