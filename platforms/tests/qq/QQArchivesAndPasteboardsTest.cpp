// The QQ client's content archives, its pasteboards and plugin record, and its log file.
#include <gtest/gtest.h>

#include <algorithm>

#include "platforms/qq/QQApiLog.h"
#include "platforms/qq/QQPasteboard.h"
#include "QQTestSupport.h"
#include "os/core/String.h"
#include "os/store/FileManager.h"
#include "os/store/Pasteboard.h"
#include "os/store/Sandbox.h"
#include "os/testing/CutShortWrite.h"
#include "os/testing/FullDisk.h"
#include "os/testing/LogCapture.h"

namespace qqtest {
namespace {

std::shared_ptr<QQApiMessage> roundTrip(const std::shared_ptr<QQApiMessage>& m) {
  auto data = os::KeyedArchiver::archivedData(m);
  if (!data) return nullptr;
  auto item = os::KeyedUnarchiver::unarchiveObject(*data, QQApiArchiveClasses());
  return item ? item->objectAs<QQApiMessage>() : nullptr;
}

TEST(QQApiArchive, ContentObjectsRoundTripByTheirArchivedKind) {
  auto image = QQApiImageObject::objectWithData(os::Data{1, 2}, os::Data{3}, "t", "d");
  auto back = roundTrip(QQApiMessage::messageWithObject(image, 7));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->type, 7u);
  auto* img = dynamic_cast<QQApiImageObject*>(back->object.get());
  ASSERT_TRUE(img);
  EXPECT_EQ(img->data, (os::Data{1, 2}));
  EXPECT_EQ(img->previewImageData, (os::Data{3}));

  auto news = QQApiNewsObject::objectWithURL("http://n.example/a?x=1", "标题", "d", os::Data{9});
  auto newsBack = roundTrip(QQApiMessage::messageWithObject(news));
  auto* n = dynamic_cast<QQApiNewsObject*>(newsBack->object.get());
  ASSERT_TRUE(n);
  EXPECT_EQ(n->url, "http://n.example/a?x=1");
  EXPECT_EQ(n->targetContentType, 3);
  EXPECT_EQ(n->title, "标题");

  auto pay = QQApiPayObject::objectWithOrderNo("o", "a");
  pay->title = "p";
  auto plain = roundTrip(QQApiMessage::messageWithObject(pay))->object;
  EXPECT_STREQ(plain->className(), "QQApiObject");
  EXPECT_EQ(plain->title, "p");

  EXPECT_FALSE(QQApiCommonContentObject::objectWithDictionary(os::Dictionary{{"layoutType", 1}}));
}

// An archive of another class on a QQ pasteboard makes nothing.
struct Foreign : os::Archivable {
  std::vector<std::string> archiveClassNames() const override { return {"Foreign", os::kArchiveRootClass}; }
  void encodeWithCoder(os::KeyedArchiver& coder) const override { coder.encodeInt(1, "ApiVersion"); }
};

TEST_F(QQClientTest, PasteboardsKeepOneRecordPerApplicationAndRefuseForeignArchives) {
  registerReader();
  registerReader();
  auto plugins = QQPasteboardMgr::instance().getArrayPasteboardByName(kQQPasteboardRegisterAppPlugin)->objectArray();
  ASSERT_TRUE(plugins);
  ASSERT_EQ(plugins->size(), 1u);
  auto record = (*plugins)[0].objectAs<QQPluginMetadata>();
  ASSERT_TRUE(record);
  EXPECT_EQ(record->scheme, kPluginScheme);
  EXPECT_EQ(record->displayName, "军事新闻");
  EXPECT_EQ(record->version, "3.1");

  ASSERT_TRUE(QQPasteboardMgr::instance().getObjectPasteboardByName(kQQPasteboardApiMessage));
  EXPECT_FALSE(QQPasteboardMgr::instance().getArrayPasteboardByName(kQQPasteboardApiMessage));
  EXPECT_FALSE(QQPasteboardMgr::instance().getObjectPasteboardByName(""));

  QQDataArray array;
  array.addObject(std::make_shared<QQApiAdItem>());
  EXPECT_FALSE(array.removeObjectAtIndex(-1));
  EXPECT_FALSE(array.removeObjectAtIndex(1));
  EXPECT_EQ(array.count(), 1u);

  auto message = QQApiMessage::messageWithObject(QQApiTextObject::objectWithText("hi"));
  QQApiDatastore::instance().setApiMessage(message);
  ASSERT_TRUE(QQApiDatastore::instance().getApiMessage());
  os::Pasteboard::pasteboardWithName(kQQPasteboardApiMessage, true)
      ->setData(os::KeyedArchiver::archivedData(std::make_shared<Foreign>()), kQQPasteboardApiMessage);
  EXPECT_FALSE(QQApiDatastore::instance().getApiMessage());
  os::Pasteboard::pasteboardWithName(kQQPasteboardApiMessage, true)->setData(os::Data{'x'}, kQQPasteboardApiMessage);
  EXPECT_FALSE(QQApiDatastore::instance().getApiMessage());
}

TEST_F(QQClientTest, LargeDataGoesToTheGeneralPasteboardWhenQQReadsIt) {
  installQQ({"mqq", "mqqapi", "mqqopensdkapiV2"});
  QQApiDatastore::instance().setApiLargeData(os::Dictionary{{"file_data", os::Data{1}}});
  EXPECT_FALSE(QQApiDatastore::instance().getApiLargeData());
  EXPECT_EQ(QQApiDatastore::instance().getApiLargeDataByGeneralPastboard(), (os::Dictionary{{"file_data", os::Data{1}}}));
}

TEST_F(QQClientTest, LogFileIsCutOnlyPastAMegabyte) {
  auto& fm = os::FileManager::defaultManager();
  const std::string folder = os::Sandbox::current()->documentsDirectory();
  fm.createDirectoryAtPath(folder, true);
  const std::string path = os::appendingPathComponent(folder, kQQApiLogFileName);
  os::Data big(1048577, 'a');
  big.back() = 'z';
  ASSERT_TRUE(fm.writeData(big, path));
  QQAPI_LOG("param error: %s", "title is nil");
  auto cut = fm.contentsAtPath(path);
  ASSERT_TRUE(cut);
  const std::string text = os::stringFromData(*cut);
  EXPECT_EQ(text.find("az\n\n\n\n\n********** BEGIN LOG ON "), 524286u);
  EXPECT_NE(text.find("-QQAPI- QQArchivesAndPasteboardsTest.cpp:"), std::string::npos);
  EXPECT_NE(text.find("param error: title is nil\n"), std::string::npos);

  os::TestSandbox other;  // another sandbox: its log is opened afresh
  const std::string folder2 = os::Sandbox::current()->documentsDirectory();
  fm.createDirectoryAtPath(folder2, true);
  const std::string path2 = os::appendingPathComponent(folder2, kQQApiLogFileName);
  ASSERT_TRUE(fm.writeData(os::Data(1048576, 'b'), path2));
  QQAPI_LOG("x");
  EXPECT_GT(fm.attributesOfItemAtPath(path2)->size, 1048576u);
}

// A cut of the log killed while writing its tail leaves the tail's temporary file in the documents
// folder: the next run's first line removes it; the log and other files' leftovers stay.
TEST_F(QQClientTest, OpeningTheLogRemovesWhatACutCutShortLeft) {
  auto& fm = os::FileManager::defaultManager();
  const std::string folder = os::Sandbox::current()->documentsDirectory();
  fm.createDirectoryAtPath(folder, true);
  const std::string path = os::appendingPathComponent(folder, kQQApiLogFileName);
  ASSERT_TRUE(fm.writeData(os::dataFromString("earlier run\n"), path));
  const std::string temp = os::appendingPathComponent(folder, kQQApiLogTempFileName);
  const std::string cutShort = os::testing::plantCutShortWrite(temp);
  const std::string others = os::testing::plantCutShortWrite(os::appendingPathComponent(folder, "notes"));
  ASSERT_FALSE(cutShort.empty() || others.empty());

  QQAPI_LOG("param error: %s", "title is nil");
  EXPECT_FALSE(fm.fileExistsAtPath(cutShort));
  EXPECT_TRUE(fm.fileExistsAtPath(others));
  const std::string text = os::stringFromData(*fm.contentsAtPath(path));
  EXPECT_EQ(text.rfind("earlier run\n", 0), 0u);
  EXPECT_NE(text.find("param error: title is nil\n"), std::string::npos);
}

// A cut ended after it removed the log and before it moved the tail into place: the tail is the
// log of the earlier runs, and the next run's first line goes on after it.
TEST_F(QQClientTest, ATailACutLeftAloneIsTheLogAgain) {
  auto& fm = os::FileManager::defaultManager();
  const std::string folder = os::Sandbox::current()->documentsDirectory();
  fm.createDirectoryAtPath(folder, true);
  const std::string path = os::appendingPathComponent(folder, kQQApiLogFileName);
  const std::string temp = os::appendingPathComponent(folder, kQQApiLogTempFileName);
  ASSERT_TRUE(fm.writeData(os::dataFromString("tail of the earlier runs\n"), temp));

  QQAPI_LOG("param error: %s", "title is nil");
  EXPECT_FALSE(fm.fileExistsAtPath(temp));
  auto log = fm.contentsAtPath(path);
  ASSERT_TRUE(log);
  const std::string text = os::stringFromData(*log);
  EXPECT_EQ(text.rfind("tail of the earlier runs\n\n\n\n\n\n********** BEGIN LOG ON ", 0), 0u) << text;
  EXPECT_NE(text.find("param error: title is nil\n"), std::string::npos);
}

// A line the full disk takes only part of leaves the log as it was: the next line starts on a
// line of its own, and no half character is left in the file.
TEST_F(QQClientTest, ALineTheFullDiskCutsShortLeavesTheLogAsItWas) {
  auto& fm = os::FileManager::defaultManager();
  const std::string path = os::appendingPathComponent(os::Sandbox::current()->documentsDirectory(), kQQApiLogFileName);
  QQAPI_LOG("before the disk filled");
  const std::string before = os::stringFromData(*fm.contentsAtPath(path));
  {
    // Room for the stamp and part of the message's first character.
    const std::size_t stampAndTag = before.size() - before.rfind('\n', before.size() - 2) - 1 -
                                    std::string("before the disk filled\n").size();
    os::testing::FullDisk disk(before.size() + stampAndTag + 2);
    QQAPI_LOG("发送失败 send failed");
  }
  EXPECT_EQ(os::stringFromData(*fm.contentsAtPath(path)), before);
  QQAPI_LOG("after room was made");
  const std::string after = os::stringFromData(*fm.contentsAtPath(path));
  ASSERT_EQ(after.rfind(before, 0), 0u);
  const std::string added = after.substr(before.size());
  EXPECT_TRUE(os::hasSuffix(added, " after room was made\n")) << added;
  EXPECT_EQ(std::count(added.begin(), added.end(), '\n'), 1) << added;
}

// A long run that keeps logging (a peer sending messages that fail, say) is cut as it goes, the
// same way a new process cuts it, so the file stays within twice its limit.
TEST_F(QQClientTest, LogFileIsCutDuringALongRunToo) {
  auto& fm = os::FileManager::defaultManager();
  const std::string folder = os::Sandbox::current()->documentsDirectory();
  fm.createDirectoryAtPath(folder, true);
  const std::string path = os::appendingPathComponent(folder, kQQApiLogFileName);
  const std::string filler(1900, 'm');
  os::testing::LogCapture console;
  std::size_t largest = 0;
  for (int i = 0; i < 3000; ++i) {
    QQAPI_LOG("message %d cannot be converted: %s", i, filler.c_str());
    console.clear();
    largest = std::max<std::size_t>(largest, fm.attributesOfItemAtPath(path)->size);
  }
  EXPECT_LE(largest, 2u * 1048576u + 2048u);
  const std::string text = os::stringFromData(*fm.contentsAtPath(path));
  EXPECT_NE(text.find("message 2999 cannot be converted: " + filler + "\n"), std::string::npos);
  EXPECT_EQ(text.find("message 0 cannot"), std::string::npos);
  EXPECT_FALSE(fm.fileExistsAtPath(os::appendingPathComponent(folder, kQQApiLogTempFileName)));
}

}  // namespace
}  // namespace qqtest
