#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include <thread>

#include "os/store/FileManager.h"
#include "os/store/KeyedArchive.h"
#include "os/store/Keychain.h"
#include "os/store/Pasteboard.h"
#include "os/store/PropertyList.h"
#include "os/store/Sandbox.h"
#include "os/testing/CutShortWrite.h"
#include "os/testing/NoDescriptorLeft.h"
#include "os/testing/TestSandbox.h"

namespace os {
namespace {

TEST(StorePasteboard, NamedPasteboardIsSharedByTwoApplicationsOnOneDevice) {
  TestSandbox box("com.example.reader");
  auto messenger = box.peerApplication("com.example.messenger");
  ASSERT_EQ(messenger->deviceDirectory(), box.sandbox()->deviceDirectory());
  EXPECT_NE(messenger->homeDirectory(), box.sandbox()->homeDirectory());

  // The reader cannot open a slot that nobody made yet.
  EXPECT_FALSE(Pasteboard::pasteboardWithName("org.SharedUDID.slot.0", false));
  auto mine = Pasteboard::pasteboardWithName("org.SharedUDID.slot.0", true);
  ASSERT_TRUE(mine);
  mine->setPersistent(true);
  Dictionary record{{"SharedUDID", Value("abc")}};
  auto archive = KeyedArchiver::archivedData(Value(record));
  ASSERT_TRUE(archive);
  ASSERT_TRUE(mine->setData(*archive, "org.SharedUDID"));

  auto theirs = Pasteboard::pasteboardWithName("org.SharedUDID.slot.0", false, messenger);
  ASSERT_TRUE(theirs);
  EXPECT_TRUE(theirs->isPersistent());
  auto seen = theirs->dataForPasteboardType("org.SharedUDID");
  ASSERT_TRUE(seen);
  EXPECT_EQ(KeyedUnarchiver::unarchiveValue(*seen), Value(record));

  // An answer written by the other application is seen at once, with a new change count.
  long before = mine->changeCount();
  ASSERT_TRUE(theirs->setString("reply"));
  EXPECT_EQ(mine->string(), "reply");
  EXPECT_GT(mine->changeCount(), before);
  EXPECT_FALSE(mine->dataForPasteboardType("org.SharedUDID"));

  // The general pasteboard is one for the device too.
  Pasteboard::generalPasteboard()->setData(dataFromString("x"), "com.velmora.velmora100");
  EXPECT_EQ(Pasteboard::generalPasteboard(messenger)->dataForPasteboardType("com.velmora.velmora100"),
            dataFromString("x"));

  Pasteboard::removePasteboardWithName("org.SharedUDID.slot.0", messenger);
  EXPECT_FALSE(Pasteboard::pasteboardWithName("org.SharedUDID.slot.0", false));
}

TEST(StorePasteboard, NoDataAndEmptyDataStayDifferent) {
  TestSandbox box;
  auto board = Pasteboard::pasteboardWithName("wechat_data", true);
  EXPECT_FALSE(board->dataForPasteboardType("content"));
  board->setData(Data{}, "content");
  auto empty = board->dataForPasteboardType("content");
  ASSERT_TRUE(empty);
  EXPECT_TRUE(empty->empty());
  board->setData(std::nullopt, "content");
  EXPECT_FALSE(board->dataForPasteboardType("content"));
  EXPECT_TRUE(board->items().empty());

  board->setItems({{{"a", Data{1}}, {"b", Data{2}}}, {{"c", Data{3}}}});
  EXPECT_EQ(board->pasteboardTypes(), (std::vector<std::string>{"a", "b"}));
  EXPECT_TRUE(board->containsPasteboardTypes({"z", "b"}));
  EXPECT_FALSE(board->containsPasteboardTypes({"c"}));  // only the first item counts
  board->setData(std::nullopt, "a");
  EXPECT_EQ(board->items().size(), 2u);
  EXPECT_FALSE(board->dataForPasteboardType("a"));
  EXPECT_EQ(board->dataForPasteboardType("b"), Data{2});
}

TEST(StorePasteboard, UniqueNamesOddNamesAndEmptyNames) {
  TestSandbox box;
  auto a = Pasteboard::pasteboardWithUniqueName();
  auto b = Pasteboard::pasteboardWithUniqueName();
  ASSERT_TRUE(a && b);
  EXPECT_NE(a->name(), b->name());
  EXPECT_TRUE(Pasteboard::pasteboardWithName(a->name(), false));
  EXPECT_FALSE(Pasteboard::pasteboardWithName("", true));
  // Names with slashes and dots stay inside the pasteboard folder.
  auto odd = Pasteboard::pasteboardWithName("../../escape/..", true);
  ASSERT_TRUE(odd);
  odd->setString("inside");
  EXPECT_EQ(Pasteboard::pasteboardWithName("../../escape/..", false)->string(), "inside");
  EXPECT_FALSE(FileManager::defaultManager().fileExistsAtPath(box.root() + "/escape"));
}

// The file on the device of the pasteboard whose name holds `name` (empty when there is none).
std::string pasteboardFile(TestSandbox& box, const std::string& name) {
  const std::string folder = box.sandbox()->deviceDirectory() + "/Pasteboards";
  auto files = FileManager::defaultManager().contentsOfDirectoryAtPath(folder);
  if (files)
    for (const auto& file : *files)
      if (file.find(name) != std::string::npos) return folder + "/" + file;
  return {};
}

TEST(StorePasteboard, FileThatIsNotAPropertyListReadsEmptyWithAnError) {
  TestSandbox box;
  auto board = Pasteboard::pasteboardWithName("com.velmora.mqq.api.apiMessage", true);
  const std::string file = pasteboardFile(box, "apiMessage");
  ASSERT_FALSE(file.empty());
  FileManager::defaultManager().writeData(dataFromString("\x01\x02 garbage"), file);

  Error error;
  EXPECT_FALSE(board->dataForPasteboardType("com.velmora.mqq.api.apiMessage", &error));
  EXPECT_EQ(error.domain, kPasteboardErrorDomain);
  EXPECT_TRUE(board->items().empty());
  // A list of the wrong shape is no better.
  PropertyList::writeFile(Value(Array{Value(1)}), file, PropertyListFormat::Binary);
  EXPECT_TRUE(board->items(&error).empty());
  // Writing replaces the damage.
  ASSERT_TRUE(board->setData(Data{5}, "t"));
  EXPECT_EQ(board->dataForPasteboardType("t"), Data{5});
}

// The most memory this process has held so far.
long peakKB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.starts_with("VmHWM:")) return std::stol(line.substr(6));
  return 0L;
}

// Another application leaves a pasteboard of a gigabyte (a sparse file: no disk is spent on it).
// Reading it would hold all of it in memory at every access; it is refused unread instead.
TEST(StorePasteboard, AHugePasteboardFromAnotherApplicationIsNotRead) {
  TestSandbox box;
  auto messenger = box.peerApplication("com.example.messenger");
  auto theirs = Pasteboard::pasteboardWithName("wechat_data", true, messenger);
  ASSERT_TRUE(theirs);
  ASSERT_TRUE(theirs->setString("small"));
  const std::string file = pasteboardFile(box, "wechat_data");
  ASSERT_FALSE(file.empty());
  ASSERT_EQ(::truncate(file.c_str(), 1L << 30), 0);

  auto mine = Pasteboard::pasteboardWithName("wechat_data", false);
  ASSERT_TRUE(mine);
  const long before = peakKB();
  Error error;
  EXPECT_FALSE(mine->dataForPasteboardType(kPasteboardTypeText, &error));
  EXPECT_EQ(error.domain, kPasteboardErrorDomain);
  EXPECT_NE(error.localizedDescription().find("too large"), std::string::npos) << error.localizedDescription();
  EXPECT_TRUE(mine->items().empty());
  EXPECT_LT(peakKB() - before, 256L * 1024) << "the file was read";

  // A change that would make a pasteboard past the bound is refused and leaves the file; a
  // smaller one replaces it.
  EXPECT_FALSE(mine->setData(Data(Pasteboard::kMaxFileBytes + 1, 7), "big", &error));
  EXPECT_NE(error.localizedDescription().find("too large"), std::string::npos);
  EXPECT_EQ(FileManager::defaultManager().attributesOfItemAtPath(file)->size, 1ull << 30);
  ASSERT_TRUE(mine->setString("fits"));
  EXPECT_EQ(theirs->string(), "fits");
}

// Items of one tiny entry each cost a few bytes of the file but a node each when read: as many as
// a list from elsewhere may expand to are written and read back, one more is refused when set
// rather than written and then read as unreadable.
TEST(StorePasteboard, AsManyEntriesAsAreReadBackAndNoMore) {
  TestSandbox box;
  auto board = Pasteboard::pasteboardWithName("com.velmora.mqq.api.aditems", true);
  ASSERT_TRUE(board);
  // The file's dictionary with its four values, then each item with its one entry.
  const std::size_t fit = (kPropertyListMaxNodes - 5) / 2;
  std::vector<Pasteboard::Item> items(fit, Pasteboard::Item{{"t", Data{}}});
  Error error;
  ASSERT_TRUE(board->setItems(items, &error)) << error.localizedDescription();
  EXPECT_EQ(board->items(&error).size(), fit) << error.localizedDescription();
  const std::string file = pasteboardFile(box, "aditems");
  const auto size = FileManager::defaultManager().attributesOfItemAtPath(file)->size;

  items.push_back(Pasteboard::Item{{"t", Data{}}, {"u", Data{}}});
  EXPECT_FALSE(board->setItems(std::move(items), &error));
  EXPECT_NE(error.localizedDescription().find("too large"), std::string::npos) << error.localizedDescription();
  EXPECT_EQ(FileManager::defaultManager().attributesOfItemAtPath(file)->size, size) << "the file was replaced";
}

// Another application writes its pasteboard as an XML list, where an empty item costs seven bytes:
// within the file's size it spells more values than a list from elsewhere is read with, and is
// refused as a binary one would be, at every look-up.
TEST(StorePasteboard, AnXMLPasteboardFromAnotherApplicationHoldsToTheNodeBound) {
  TestSandbox box;
  auto messenger = box.peerApplication("com.example.messenger");
  ASSERT_TRUE(Pasteboard::pasteboardWithName("wechat_data", true, messenger));
  const std::string file = pasteboardFile(box, "wechat_data");
  ASSERT_FALSE(file.empty());
  auto written = [&](std::size_t empties) {
    std::string text = "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>changeCount</key><integer>1</integer>"
                       "<key>items</key><array><dict><key>t</key><data>aGk=</data></dict>";
    text.reserve(text.size() + 7 * empties + 64);
    for (std::size_t i = 0; i < empties; ++i) text += "<dict/>";
    text += "</array></dict></plist>";
    return FileManager::defaultManager().writeData(dataFromString(text), file);
  };
  auto mine = Pasteboard::pasteboardWithName("wechat_data", false);
  ASSERT_TRUE(mine);
  ASSERT_TRUE(written(1000));
  EXPECT_EQ(mine->dataForPasteboardType("t"), dataFromString("hi"));

  // The file's dictionary, its two values, the first item and its data: five nodes before them.
  ASSERT_TRUE(written(kPropertyListMaxNodes - 5 + 1));
  ASSERT_LT(FileManager::defaultManager().attributesOfItemAtPath(file)->size, Pasteboard::kMaxFileBytes);
  for (int lookUp = 0; lookUp < 2; ++lookUp) {
    Error error;
    EXPECT_TRUE(mine->items(&error).empty());
    EXPECT_EQ(error.domain, kPasteboardErrorDomain);
    EXPECT_NE(error.localizedDescription().find("nodes"), std::string::npos) << error.localizedDescription();
  }
}

TEST(StorePasteboard, ConcurrentWritersLoseNoUpdate) {
  TestSandbox box;
  auto sandbox = box.sandbox();
  Pasteboard::pasteboardWithName("counter", true);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([sandbox] {
      auto board = Pasteboard::pasteboardWithName("counter", false, sandbox);
      for (int i = 0; i < 25; ++i) board->setPersistent(true);
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(Pasteboard::pasteboardWithName("counter", false)->changeCount(), 100);
}

// A save killed while writing leaves its temporary file beside the pasteboard's: the next save of
// that pasteboard removes it, and leaves the other pasteboards' files and leftovers alone.
TEST(StorePasteboard, ASaveRemovesWhatASaveCutShortLeft) {
  TestSandbox box;
  auto& fm = FileManager::defaultManager();
  auto board = Pasteboard::pasteboardWithName("wechat_data", true);
  auto other = Pasteboard::pasteboardWithName("other_data", true);
  ASSERT_TRUE(board && other && other->setString("theirs"));
  const std::string folder = box.sandbox()->deviceDirectory() + "/Pasteboards";
  ASSERT_TRUE(fm.fileExistsAtPath(folder + "/wechat_data.pasteboard"));
  const std::string cutShort = testing::plantCutShortWrite(folder + "/wechat_data.pasteboard");
  const std::string othersCutShort = testing::plantCutShortWrite(folder + "/other_data.pasteboard");
  ASSERT_FALSE(cutShort.empty() || othersCutShort.empty());

  ASSERT_TRUE(board->setString("mine"));
  EXPECT_FALSE(fm.fileExistsAtPath(cutShort));
  EXPECT_TRUE(fm.fileExistsAtPath(othersCutShort));
  EXPECT_EQ(board->string(), "mine");
  EXPECT_EQ(other->string(), "theirs");
}

class StoreKeychain : public ::testing::Test {
 protected:
  TestSandbox box{"com.example.push"};
  KeychainQuery item{"com.example.push", "APKeychainUserDefaultsKey", ""};
};

TEST_F(StoreKeychain, AddReadUpdateDeleteWithPlatformStatusCodes) {
  auto keychain = Keychain::defaultKeychain();
  Data out;
  EXPECT_EQ(keychain->copyData(item, &out), kKeychainItemNotFound);
  EXPECT_EQ(keychain->update(item, Data{1}, 4), kKeychainItemNotFound);
  EXPECT_EQ(keychain->remove(item), kKeychainItemNotFound);
  EXPECT_EQ(keychain->add(item, Data{1, 2}, 4), kKeychainSuccess);
  EXPECT_EQ(keychain->add(item, Data{9}, 4), kKeychainDuplicateItem);
  EXPECT_EQ(keychain->add(item, Data{9}, 6), kKeychainParamError);
  EXPECT_EQ(keychain->add(item, Data{9}, -1), kKeychainParamError);
  ASSERT_EQ(keychain->copyData(item, &out), kKeychainSuccess);
  EXPECT_EQ(out, (Data{1, 2}));

  // Another service keeps an item of the same account apart; an empty service searches all.
  KeychainQuery other{"com.example.other", item.account, ""};
  EXPECT_EQ(keychain->add(other, Data{7}, 0), kKeychainSuccess);
  ASSERT_EQ(keychain->copyData(other, &out), kKeychainSuccess);
  EXPECT_EQ(out, Data{7});
  EXPECT_EQ(keychain->copyData({"", item.account, ""}, nullptr), kKeychainSuccess);
  EXPECT_EQ(keychain->copyData({item.service, item.account, "group.other"}, nullptr), kKeychainItemNotFound);

  EXPECT_EQ(keychain->update(item, Data{3}, 4), kKeychainSuccess);
  ASSERT_EQ(keychain->copyData(item, &out), kKeychainSuccess);
  EXPECT_EQ(out, Data{3});
  EXPECT_EQ(keychain->update(item, Data{3}, 9), kKeychainParamError);
  EXPECT_EQ(keychain->remove(item), kKeychainSuccess);
  EXPECT_EQ(keychain->copyData(item, &out), kKeychainItemNotFound);
  EXPECT_EQ(keychain->copyData(other, &out), kKeychainSuccess);
}

TEST_F(StoreKeychain, ItemSurvivesARestartAndIsSharedOnTheDeviceInAnOwnerOnlyFile) {
  Data record = *PropertyList::write(Value(Dictionary{{"kRegistrationId", Value("r1")}}), PropertyListFormat::Binary);
  std::string path;
  {
    Keychain first(box.sandbox()->deviceDirectory());
    ASSERT_EQ(first.add(item, record, 4), kKeychainSuccess);
    path = first.path();
  }
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  Keychain restarted(box.sandbox()->deviceDirectory());
  Data out;
  ASSERT_EQ(restarted.copyData(item, &out), kKeychainSuccess);
  EXPECT_EQ((*PropertyList::read(out))["kRegistrationId"], Value("r1"));
  auto peer = box.peerApplication("com.example.other");
  EXPECT_EQ(Keychain(peer->deviceDirectory()).copyData(item, nullptr), kKeychainSuccess);
}

TEST_F(StoreKeychain, UnreadableFileIsSetAsideAndCountsAsEmpty) {
  auto keychain = Keychain::defaultKeychain();
  ASSERT_EQ(keychain->add(item, Data{1}, 4), kKeychainSuccess);
  FileManager::defaultManager().writeData(dataFromString("<plist><dict>"), keychain->path());
  EXPECT_EQ(keychain->copyData(item, nullptr), kKeychainItemNotFound);
  EXPECT_EQ(FileManager::defaultManager().contentsAtPath(keychain->path() + ".corrupt"), dataFromString("<plist><dict>"));
  EXPECT_EQ(keychain->add(item, Data{2}, 4), kKeychainSuccess);
}

// A moment with no descriptor left fails the calls made in it, and only them: the file is not set
// aside, no write in that moment replaces it, and every item is there once descriptors are back.
TEST_F(StoreKeychain, APassingReadFailureLosesNoItem) {
  auto keychain = Keychain::defaultKeychain();
  ASSERT_EQ(keychain->add(item, Data{1, 2}, 4), kKeychainSuccess);
  KeychainQuery other{"com.example.other", "identity", ""};
  ASSERT_EQ(keychain->add(other, Data{7}, 4), kKeychainSuccess);
  const auto onFile = FileManager::defaultManager().contentsAtPath(keychain->path());
  // Checked once descriptors are back: a failure's message needs one.
  std::vector<long> statuses;
  {
    testing::NoDescriptorLeft exhausted;
    statuses.push_back(keychain->copyData(item, nullptr));
    statuses.push_back(keychain->add({"com.example.new", "a", ""}, Data{3}, 4));
    statuses.push_back(keychain->update(item, Data{9}, 4));
    statuses.push_back(keychain->remove(other));
  }
  EXPECT_EQ(statuses, std::vector<long>(4, kKeychainIOError));
  EXPECT_FALSE(FileManager::defaultManager().fileExistsAtPath(keychain->path() + ".corrupt"));
  EXPECT_EQ(FileManager::defaultManager().contentsAtPath(keychain->path()), onFile);
  Data out;
  ASSERT_EQ(keychain->copyData(item, &out), kKeychainSuccess);
  EXPECT_EQ(out, (Data{1, 2}));
  ASSERT_EQ(keychain->copyData(other, &out), kKeychainSuccess);
  EXPECT_EQ(out, Data{7});
  // A file read whole and not a keychain is still set aside.
  FileManager::defaultManager().writeData(dataFromString("not a keychain"), keychain->path());
  EXPECT_EQ(keychain->copyData(item, nullptr), kKeychainItemNotFound);
  EXPECT_EQ(FileManager::defaultManager().contentsAtPath(keychain->path() + ".corrupt"), dataFromString("not a keychain"));
}

// Another application on the device leaves a keychain file of a gigabyte (sparse): it is set
// aside unread, as any unreadable keychain is, and the keychain starts afresh. An item that would
// make the file too large to read back is refused, not written.
TEST_F(StoreKeychain, AHugeFileFromAnotherApplicationIsSetAsideUnread) {
  auto keychain = Keychain::defaultKeychain();
  ASSERT_EQ(keychain->add(item, Data{1}, 4), kKeychainSuccess);
  ASSERT_EQ(::truncate(keychain->path().c_str(), 1L << 30), 0);
  const long before = peakKB();
  EXPECT_EQ(keychain->copyData(item, nullptr), kKeychainItemNotFound);
  EXPECT_LT(peakKB() - before, 256L * 1024) << "the file was read";
  EXPECT_EQ(FileManager::defaultManager().attributesOfItemAtPath(keychain->path() + ".corrupt")->size, 1ull << 30);
  FileManager::defaultManager().removeItemAtPath(keychain->path() + ".corrupt");

  ASSERT_EQ(keychain->add(item, Data{2}, 4), kKeychainSuccess);
  KeychainQuery big{"com.example.push", "big", ""};
  EXPECT_EQ(keychain->add(big, Data(Keychain::kMaxFileBytes, 7), 4), kKeychainIOError);
  EXPECT_EQ(keychain->update(item, Data(Keychain::kMaxFileBytes, 7), 4), kKeychainIOError);
  Data out;
  ASSERT_EQ(keychain->copyData(item, &out), kKeychainSuccess);
  EXPECT_EQ(out, Data{2});
}

// A save killed while writing leaves its temporary file beside the keychain's: the next save
// removes it, and every item and the folder's other files stay.
TEST_F(StoreKeychain, ASaveRemovesWhatASaveCutShortLeft) {
  auto& fm = FileManager::defaultManager();
  auto keychain = Keychain::defaultKeychain();
  ASSERT_EQ(keychain->add(item, Data{1}, 4), kKeychainSuccess);
  const std::string folder = deletingLastPathComponent(keychain->path());
  const std::string cutShort = testing::plantCutShortWrite(keychain->path(), 7);
  const std::string unrelated = folder + "/notes";
  ASSERT_FALSE(cutShort.empty());
  ASSERT_TRUE(fm.writeData(dataFromString("kept"), unrelated));

  KeychainQuery other{"com.example.other", "identity", ""};
  ASSERT_EQ(keychain->add(other, Data{7}, 4), kKeychainSuccess);
  EXPECT_FALSE(fm.fileExistsAtPath(cutShort));
  EXPECT_EQ(fm.contentsAtPath(unrelated), dataFromString("kept"));
  Data out;
  ASSERT_EQ(keychain->copyData(item, &out), kKeychainSuccess);
  EXPECT_EQ(out, Data{1});
  ASSERT_EQ(keychain->copyData(other, &out), kKeychainSuccess);
  EXPECT_EQ(out, Data{7});
}

TEST(StoreBoundedRead, AFileLargerThanTheBoundIsNotRead) {
  TestSandbox box;
  auto& fm = FileManager::defaultManager();
  const std::string path = box.sandbox()->documentsDirectory() + "/bounded";
  fm.createDirectoryAtPath(box.sandbox()->documentsDirectory(), true);
  ASSERT_TRUE(fm.writeData(Data(100, 1), path));
  EXPECT_EQ(fm.contentsAtPath(path, nullptr, 100), Data(100, 1));
  Error error;
  EXPECT_FALSE(fm.contentsAtPath(path, &error, 99));
  EXPECT_EQ(error.code, EFBIG);
  EXPECT_EQ(fm.contentsAtPath(path), Data(100, 1));
  // A file whose size is not known before it is read (it says 0) is bounded as it is read.
  EXPECT_FALSE(fm.contentsAtPath("/proc/self/maps", &error, 16));
  EXPECT_EQ(error.code, EFBIG);
  EXPECT_TRUE(fm.contentsAtPath("/proc/self/maps", nullptr, 1 << 20));
}

}  // namespace
}  // namespace os
