#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <optional>
#include <thread>

#include "os/runtime/Semaphore.h"
#include "os/store/Bundle.h"
#include "os/store/FileManager.h"
#include "os/store/PropertyList.h"
#include "os/store/Sandbox.h"
#include "os/store/UserDefaults.h"
#include "os/testing/FullDisk.h"
#include "os/testing/LogCapture.h"
#include "os/testing/NoDescriptorLeft.h"
#include "os/testing/TestSandbox.h"

namespace os {
namespace {

FileManager& fm() { return FileManager::defaultManager(); }

mode_t modeOf(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 0777) : 0;
}

TEST(StoreSandbox, EachTestGetsFreshCurrentFoldersThatGoAway) {
  std::string root;
  {
    TestSandbox box("com.example.first");
    auto s = Sandbox::current();
    EXPECT_EQ(s, box.sandbox());
    root = box.root();
    bool isDir = false;
    for (const std::string& dir : {s->documentsDirectory(), s->cachesDirectory(), s->preferencesDirectory(),
                                   s->deviceDirectory(), s->bundlePath()}) {
      EXPECT_TRUE(fm().fileExistsAtPath(dir, &isDir) && isDir) << dir;
      EXPECT_EQ(dir.rfind(root, 0), 0u) << dir;
    }
    EXPECT_EQ(s->mainBundle()->bundleIdentifier(), "com.example.first");
    {
      TestSandbox inner("com.example.second");
      EXPECT_EQ(Bundle::mainBundle()->bundleIdentifier(), "com.example.second");
    }
    EXPECT_EQ(Sandbox::current(), box.sandbox());
  }
  EXPECT_FALSE(fm().fileExistsAtPath(root));
}

TEST(StoreBundle, InfoResourcesAndLocalisedValues) {
  TestSandbox box;
  box.setInfoDictionary(Dictionary{
      {kBundleIdentifierKey, Value("com.example.reader")},
      {"CFBundleDisplayName", Value("Reader")},
      {"CFBundleVersion", Value("1.2")},
      {"CFBundleURLTypes", Value(Array{Value(Dictionary{{"CFBundleURLSchemes", Value(Array{Value("velmora100")})}})})},
  });
  box.writeBundleFile("zh-Hans.lproj/InfoPlist.strings", "/* display */\n\"CFBundleDisplayName\" = \"\\U65b0\\U95fb\";\n");
  box.writeBundlePropertyList("PushConfig.plist", Value(Dictionary{{"APP_KEY", Value("k")}, {"APS_FOR_PRODUCTION", Value(true)}}));
  box.writeBundleFile("OBSocialLocalizable.strings",
                      "// buttons\n\"button_close\" = \"Close \\\"now\\\"\";\nloading = \"Loading\\n...\";\n");

  auto bundle = Bundle::mainBundle();
  EXPECT_EQ(bundle->bundleIdentifier(), "com.example.reader");
  EXPECT_EQ(bundle->objectForInfoDictionaryKey("CFBundleDisplayName"), Value("\xE6\x96\xB0\xE9\x97\xBB"));
  EXPECT_EQ(bundle->objectForInfoDictionaryKey("CFBundleVersion"), Value("1.2"));
  EXPECT_TRUE(bundle->objectForInfoDictionaryKey("missing").isNull());
  EXPECT_EQ(bundle->infoDictionary()["CFBundleURLTypes"].at(0)["CFBundleURLSchemes"].at(0), Value("velmora100"));

  auto push = bundle->propertyListForResource("PushConfig", "plist");
  ASSERT_TRUE(push);
  EXPECT_EQ((*push)["APP_KEY"], Value("k"));
  EXPECT_EQ(bundle->pathForResource("InfoPlist", "strings"), box.sandbox()->bundlePath() + "/zh-Hans.lproj/InfoPlist.strings");

  Error error;
  EXPECT_FALSE(bundle->propertyListForResource("config", "plist", &error));
  EXPECT_EQ(error.domain, kFileErrorDomain);
  EXPECT_EQ(error.code, ENOENT);

  EXPECT_EQ(bundle->localizedStringForKey("button_close", "", "OBSocialLocalizable"), "Close \"now\"");
  EXPECT_EQ(bundle->localizedStringForKey("loading", "", "OBSocialLocalizable"), "Loading\n...");
  EXPECT_EQ(bundle->localizedStringForKey("absent", "fallback", "OBSocialLocalizable"), "fallback");
  EXPECT_EQ(bundle->localizedStringForKey("absent", "", "OBSocialLocalizable"), "absent");
}

TEST(StoreBundle, TheProvisioningProfileNamesThePushEnvironmentInItsText) {
  TestSandbox box("com.example.reader");
  box.writeProvisioningProfile("production");
  auto path = Bundle::mainBundle()->pathForResource("embedded", "mobileprovision");
  ASSERT_TRUE(path);
  auto data = FileManager::defaultManager().contentsAtPath(*path);
  ASSERT_TRUE(data);
  // Push clients read the profile as text: the value follows the key closely.
  std::string text(data->begin(), data->end());
  auto key = text.find("aps-environment");
  ASSERT_NE(key, std::string::npos);
  EXPECT_LT(text.find("<string>production</string>", key) - key, 100u);
  auto profile = PropertyList::readFile(*path);
  ASSERT_TRUE(profile);
  EXPECT_EQ((*profile)["Entitlements"]["application-identifier"].stringOr(), "SIMULATED0.com.example.reader");
}

TEST(StoreBundle, StringsTablesInEitherFormAndBrokenOnes) {
  auto plist = parseStringsTable(*PropertyList::write(Value(Dictionary{{"a", Value("1")}, {"n", Value(2)}}),
                                                      PropertyListFormat::XML));
  ASSERT_TRUE(plist);
  EXPECT_EQ(*plist, (Dictionary{{"a", Value("1")}}));
  Error error;
  EXPECT_FALSE(parseStringsTable(dataFromString("\"a\" = \"unterminated;"), &error));
  EXPECT_FALSE(parseStringsTable(dataFromString("\"a\" = \"b\""), &error));
  EXPECT_EQ(parseStringsTable(dataFromString("\xEF\xBB\xBF\"k\";"))->operator[]("k"), Value("k"));
}

class StoreFileManager : public ::testing::Test {
 protected:
  TestSandbox box;
  std::string dir = appendingPathComponent(box.root(), "files");
};

// A writer asked before its file is replaced: a refusal keeps the target and leaves no temporary
// file, and still counts as a write done; a yes replaces it with the mode asked for.
TEST_F(StoreFileManager, AReplacingWriteReplacesTheTargetOnlyWhenItsWriterSaysSo) {
  ASSERT_TRUE(fm().createDirectoryAtPath(dir, true));
  const std::string file = dir + "/kept";
  ASSERT_TRUE(fm().writeData(Data{1}, file));
  int asked = 0;
  EXPECT_TRUE(fm().writeDataReplacing(Data{2}, file, [&] {
    ++asked;
    return false;
  }));
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(fm().contentsAtPath(file), Data{1});
  EXPECT_EQ(*fm().contentsOfDirectoryAtPath(dir), std::vector<std::string>{"kept"});
  EXPECT_TRUE(fm().writeDataReplacing(Data{3}, file, [&] {
    ++asked;
    return true;
  }, 0600));
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(fm().contentsAtPath(file), Data{3});
  EXPECT_EQ(modeOf(file), 0600u);
  EXPECT_EQ(*fm().contentsOfDirectoryAtPath(dir), std::vector<std::string>{"kept"});
}

TEST_F(StoreFileManager, WritesReadsAppendsAndReportsErrnoErrors) {
  std::string file = dir + "/a/b/c.bin";
  Error error;
  EXPECT_FALSE(fm().writeData(Data{1}, file, {.atomic = false}, &error));
  EXPECT_EQ(error.code, ENOENT);
  EXPECT_EQ(error.userInfo[kFilePathErrorKey], Value(file));
  ASSERT_TRUE(fm().createDirectoryAtPath(dir + "/a/b", true, &error));
  EXPECT_FALSE(fm().createDirectoryAtPath(dir + "/x/y", false, &error));

  ASSERT_TRUE(fm().writeData(Data{1, 2, 3}, file, WriteOptions{true, 0600}, &error));
  EXPECT_EQ(modeOf(file), 0600u);
  ASSERT_TRUE(fm().appendData(Data{4}, file));
  EXPECT_EQ(fm().contentsAtPath(file), (Data{1, 2, 3, 4}));
  ASSERT_TRUE(fm().writeData(Data{}, file));  // atomic replace leaves no temporary file behind
  EXPECT_EQ(fm().contentsAtPath(file), Data{});
  EXPECT_EQ(*fm().contentsOfDirectoryAtPath(dir + "/a/b"), std::vector<std::string>{"c.bin"});

  EXPECT_FALSE(fm().contentsAtPath(dir + "/missing", &error));
  EXPECT_EQ(error.domain, kFileErrorDomain);
  EXPECT_EQ(error.code, ENOENT);
  EXPECT_FALSE(fm().contentsAtPath(dir, &error));
  EXPECT_EQ(error.code, EISDIR);
}

// The temporary file of an atomic write fits wherever its target's name fits, the longest one
// included, and leaves nothing behind.
TEST_F(StoreFileManager, AtomicWritesTakeTheLongestNames) {
  ASSERT_TRUE(fm().createDirectoryAtPath(dir, true));
  for (std::size_t length : {200u, 241u, 250u, 255u}) {
    const std::string file = dir + "/" + std::string(length, 'n');
    for (std::uint8_t round = 0; round < 3; ++round) {
      Error error;
      ASSERT_TRUE(fm().writeData(Data{round}, file, {}, &error)) << length << ": " << error.localizedDescription();
      EXPECT_EQ(fm().contentsAtPath(file), Data{round});
    }
  }
  EXPECT_EQ(fm().contentsOfDirectoryAtPath(dir)->size(), 4u);
}

// The temporary file an atomic write of `name` tried, as its failure names it: a write into a
// folder that does not exist fails at that file.
std::string lastTemporaryTried(const std::string& missingFolder, const std::string& name) {
  Error error;
  EXPECT_FALSE(fm().writeData(Data{1}, missingFolder + "/" + name, {}, &error));
  EXPECT_EQ(error.code, ENOENT);
  const std::string* named = error.userInfo[kFilePathErrorKey].string();
  return named ? *named : std::string();
}

// A temporary name may be held by a file an earlier process of the same id left behind (ids
// come round again): the write takes the next name, and the file found there stays as it was.
TEST_F(StoreFileManager, AtomicWritesPassOverTemporaryNamesAlreadyTaken) {
  ASSERT_TRUE(fm().createDirectoryAtPath(dir, true));
  const std::string file = dir + "/state.plist";
  const std::string tried = lastTemporaryTried(dir + "/missing", "state.plist");
  const std::string prefix = dir + "/missing/.state.plist.tmp." + std::to_string(::getpid()) + ".";
  ASSERT_EQ(tried.rfind(prefix, 0), 0u) << "the failure names " << tried;
  const unsigned long long serial = std::stoull(tried.substr(prefix.size()));

  // The next three names this process would take are held by leftovers.
  std::vector<std::string> leftovers;
  for (unsigned long long next = serial + 1; next <= serial + 3; ++next) {
    leftovers.push_back(temporaryFileName(file, ::getpid(), next));
    ASSERT_TRUE(fm().writeData(dataFromString("left " + std::to_string(next)), leftovers.back(), {.atomic = false}));
  }
  Error error;
  ASSERT_TRUE(fm().writeData(dataFromString("saved"), file, {}, &error)) << error.localizedDescription();
  EXPECT_EQ(fm().contentsAtPath(file), dataFromString("saved"));
  for (unsigned long long i = 0; i < leftovers.size(); ++i)
    EXPECT_EQ(fm().contentsAtPath(leftovers[i]), dataFromString("left " + std::to_string(serial + 1 + i)));
  EXPECT_EQ(fm().contentsOfDirectoryAtPath(dir)->size(), 1u + leftovers.size());
}

// A file whose own name has the form of a temporary file of itself (a 255-byte name cut to fit
// spells itself again) is the target, not a leftover of it.
TEST_F(StoreFileManager, TheCleanupNeverRemovesTheTargetItself) {
  ASSERT_TRUE(fm().createDirectoryAtPath(dir, true));
  const std::string suffix = ".tmp.2147483647.0";  // a process id no process holds
  const std::string file = dir + "/" + std::string(255 - suffix.size(), '.') + suffix;
  ASSERT_EQ(temporaryFileName(file, 2147483647, 0), file);
  ASSERT_TRUE(fm().writeData(dataFromString("kept"), file));
  EXPECT_EQ(fm().removeAbandonedTemporaryFiles(file), 0u);
  EXPECT_EQ(fm().contentsAtPath(file), dataFromString("kept"));
}

// A write killed while it fills its temporary file leaves that file behind. It goes once the
// process that wrote it has ended, and only then; no other name is touched.
TEST_F(StoreFileManager, TemporaryFilesOfWritesWhoseProcessEndedAreRemoved) {
  ASSERT_TRUE(fm().createDirectoryAtPath(dir, true));
  const std::string file = dir + "/cache";
  const std::string longFile = dir + "/" + std::string(250, 'n');  // its temporary name is cut
  ASSERT_TRUE(fm().writeData(dataFromString("whole"), file));
  // Each write is killed part-way: the process ends at its file size limit.
  pid_t killed = 0;
  for (const std::string& target : {file, longFile}) {
    pid_t pid = ::fork();
    if (pid == 0) {
      rlimit noCore{0, 0}, small{4096, 4096};
      setrlimit(RLIMIT_CORE, &noCore);
      setrlimit(RLIMIT_FSIZE, &small);
      std::signal(SIGXFSZ, SIG_DFL);  // whatever this process did with it
      fm().writeData(Data(64 * 1024, 1), target);
      ::_exit(3);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << status;
    killed = pid;
  }
  // A write still under way: another process's, which waits on a pipe.
  int gate[2];
  ASSERT_EQ(::pipe(gate), 0);
  pid_t writer = ::fork();
  if (writer == 0) {
    ::close(gate[1]);
    char c;
    [[maybe_unused]] auto n = ::read(gate[0], &c, 1);
    ::_exit(0);
  }
  ::close(gate[0]);
  const std::string theirs = temporaryFileName(file, writer, 7);
  // No write of this process holds this one: an earlier process given the same id left it.
  const std::string earlier = temporaryFileName(file, ::getpid(), 123456);
  // Names that only look alike: another file's temporary, and names no write of this file gives.
  const std::string dead = std::to_string(killed);
  const std::vector<std::string> others{temporaryFileName(dir + "/cache2", killed, 0), dir + "/.cache.tmp",
                                        dir + "/.cache.tmp." + dead + ".x", dir + "/.cache.tmp.0" + dead + ".1",
                                        dir + "/.cache.tmp." + dead + ".1.2", dir + "/cache.refused"};
  std::vector<std::string> kept = others;
  kept.push_back(theirs);
  for (const std::string& path : kept) ASSERT_TRUE(fm().writeData(Data{1}, path, {.atomic = false}));
  ASSERT_TRUE(fm().writeData(Data{1}, earlier, {.atomic = false}));
  const std::size_t before = fm().contentsOfDirectoryAtPath(dir)->size();

  EXPECT_EQ(fm().removeAbandonedTemporaryFiles(file), 2u);
  EXPECT_EQ(fm().removeAbandonedTemporaryFiles(longFile), 1u);
  EXPECT_EQ(fm().contentsOfDirectoryAtPath(dir)->size(), before - 3);
  EXPECT_FALSE(fm().fileExistsAtPath(earlier));
  for (const std::string& path : kept) EXPECT_TRUE(fm().fileExistsAtPath(path)) << path;
  EXPECT_EQ(fm().contentsAtPath(file), dataFromString("whole"));

  // Once the other writer has ended, its file is abandoned too.
  ::close(gate[1]);
  int status = 0;
  ASSERT_EQ(::waitpid(writer, &status, 0), writer);
  EXPECT_EQ(fm().removeAbandonedTemporaryFiles(file), 1u);
  EXPECT_FALSE(fm().fileExistsAtPath(theirs));
}

// A process that ended at once, whose id no process holds until the next ones come round.
pid_t endedProcess() {
  pid_t pid = ::fork();
  if (pid == 0) ::_exit(0);
  int status = 0;
  EXPECT_EQ(::waitpid(pid, &status, 0), pid);
  return pid;
}

// A store of many files (one a saved article, one a cached picture) cleans its folder of the
// temporary files its killed writes left, whatever file they were for, and of nothing else.
TEST_F(StoreFileManager, TheFolderCleanupRemovesLeftoversOfEveryTargetAndNothingElse) {
  ASSERT_TRUE(fm().createDirectoryAtPath(dir, true));
  const std::string dead = std::to_string(endedProcess());
  const pid_t killed = std::stoi(dead);
  const std::vector<std::string> real{dir + "/3_77", dir + "/" + std::string(250, 'n'), dir + "/.index"};
  for (const std::string& path : real) ASSERT_TRUE(fm().writeData(dataFromString("whole"), path));
  // Leftovers: of a file still there, of a long name (cut), of a file never written whole, and
  // one of an earlier process given this process's id.
  const std::vector<std::string> leftovers{temporaryFileName(real[0], killed, 3), temporaryFileName(real[1], killed, 0),
                                           temporaryFileName(dir + "/4_1", killed, 9999999999999999999ull),
                                           temporaryFileName(dir + "/5_2", ::getpid(), 987654321)};
  // Names that only look alike, and things that are not files.
  const std::vector<std::string> others{dir + "/.tmp." + dead + ".1",        dir + "/3_77.tmp." + dead + ".1",
                                        dir + "/.3_77.tmp." + dead + ".x",   dir + "/.3_77.tmp.0" + dead + ".1",
                                        dir + "/.3_77.tmp." + dead + ".1.",  dir + "/.3_77.tnp." + dead + ".1",
                                        dir + "/.3_77.tmp.0.1",              dir + "/.hidden"};
  for (const std::string& path : leftovers) ASSERT_TRUE(fm().writeData(Data(1000, 1), path, {.atomic = false}));
  for (const std::string& path : others) ASSERT_TRUE(fm().writeData(Data{2}, path, {.atomic = false}));
  const std::string folder = temporaryFileName(dir + "/6_1", killed, 1);
  const std::string link = temporaryFileName(dir + "/7_1", killed, 1);
  ASSERT_TRUE(fm().createDirectoryAtPath(folder, false));
  ASSERT_EQ(::symlink(real[0].c_str(), link.c_str()), 0);

  EXPECT_EQ(fm().removeAbandonedTemporaryFilesInDirectory(dir), leftovers.size());
  for (const std::string& path : leftovers) EXPECT_FALSE(fm().fileExistsAtPath(path)) << path;
  for (const std::string& path : real) EXPECT_EQ(fm().contentsAtPath(path), dataFromString("whole")) << path;
  for (const std::string& path : others) EXPECT_EQ(fm().contentsAtPath(path), Data{2}) << path;
  bool isDirectory = false;
  EXPECT_TRUE(fm().fileExistsAtPath(folder, &isDirectory) && isDirectory);
  struct stat st;
  EXPECT_TRUE(::lstat(link.c_str(), &st) == 0 && S_ISLNK(st.st_mode));
  EXPECT_EQ(fm().removeAbandonedTemporaryFilesInDirectory(dir), 0u);
  EXPECT_EQ(fm().removeAbandonedTemporaryFilesInDirectory(dir + "/missing"), 0u);
}

// A write another thread of this process has under way keeps its temporary file through both
// cleanups, and ends whole.
TEST_F(StoreFileManager, AWriteUnderWayInAnotherThreadKeepsItsTemporaryFile) {
  ASSERT_TRUE(fm().createDirectoryAtPath(dir, true));
  const std::string file = dir + "/3_77";
  Semaphore created, release;
  std::string temporary;
  setTemporaryFileObserverForTesting([&](const std::string& path) {
    temporary = path;
    created.signal();
    release.wait();
  });
  std::thread writer([&] { EXPECT_TRUE(fm().writeData(dataFromString("saved"), file)); });
  created.wait();
  setTemporaryFileObserverForTesting({});
  EXPECT_EQ(fm().removeAbandonedTemporaryFilesInDirectory(dir), 0u);
  EXPECT_EQ(fm().removeAbandonedTemporaryFiles(file), 0u);
  EXPECT_TRUE(fm().fileExistsAtPath(temporary)) << temporary;
  release.signal();
  writer.join();
  EXPECT_EQ(fm().contentsAtPath(file), dataFromString("saved"));
  EXPECT_EQ(fm().contentsOfDirectoryAtPath(dir), (std::vector<std::string>{"3_77"}));
}

TEST_F(StoreFileManager, CopyMoveRemoveAndEnumerate) {
  fm().createDirectoryAtPath(dir + "/tree/sub", true);
  fm().createDirectoryAtPath(dir + "/tree/.hidden", true);
  fm().writeData(dataFromString("x"), dir + "/tree/sub/f.txt");
  fm().writeData(dataFromString("y"), dir + "/tree/.hidden/g.txt");
  fm().writeData(dataFromString("z"), dir + "/tree/.dotfile");
  EXPECT_EQ(fm().enumerateDirectory(dir + "/tree"), (std::vector<std::string>{"sub", "sub/f.txt"}));

  Error error;
  ASSERT_TRUE(fm().copyItemAtPath(dir + "/tree", dir + "/copy", &error)) << error.localizedDescription();
  EXPECT_EQ(fm().contentsAtPath(dir + "/copy/sub/f.txt"), dataFromString("x"));
  EXPECT_FALSE(fm().copyItemAtPath(dir + "/tree", dir + "/copy", &error));
  EXPECT_EQ(error.code, EEXIST);
  EXPECT_FALSE(fm().moveItemAtPath(dir + "/tree", dir + "/copy", &error));
  EXPECT_EQ(error.code, EEXIST);
  ASSERT_TRUE(fm().moveItemAtPath(dir + "/tree", dir + "/moved"));
  EXPECT_FALSE(fm().fileExistsAtPath(dir + "/tree"));
  ASSERT_TRUE(fm().removeItemAtPath(dir + "/moved"));
  EXPECT_FALSE(fm().fileExistsAtPath(dir + "/moved"));
  EXPECT_FALSE(fm().removeItemAtPath(dir + "/moved", &error));
  EXPECT_EQ(error.code, ENOENT);
}

// A name for a refused file is one the move aside accepts: a link there holds the name, even one
// that leads nowhere, and is left as it was.
TEST_F(StoreFileManager, ARefusedFileGoesAsideToANameNoLinkHolds) {
  ASSERT_TRUE(fm().createDirectoryAtPath(dir, true));
  const std::string file = dir + "/state";
  EXPECT_EQ(refusedFileName(file), file + ".refused");
  ASSERT_EQ(::symlink("gone", (file + ".refused").c_str()), 0);
  ASSERT_EQ(::symlink("state", (file + ".refused-2").c_str()), 0);  // leads to the file itself
  ASSERT_TRUE(fm().writeData(dataFromString("garbage"), file));
  ASSERT_EQ(::unlink(file.c_str()), 0);
  EXPECT_EQ(refusedFileName(file), file + ".refused-3") << "with the file gone, both links lead nowhere";

  for (const char* text : {"garbage", "more garbage"}) {
    ASSERT_TRUE(fm().writeData(dataFromString(text), file));
    const std::string aside = refusedFileName(file);
    Error error;
    ASSERT_TRUE(fm().moveItemAtPath(file, aside, &error)) << aside << ": " << error.localizedDescription();
    EXPECT_EQ(fm().contentsAtPath(aside), dataFromString(text));
  }
  EXPECT_EQ(*fm().contentsOfDirectoryAtPath(dir),
            (std::vector<std::string>{"state.refused", "state.refused-2", "state.refused-3", "state.refused-4"}));
  char target[16] = {};
  ASSERT_EQ(::readlink((file + ".refused").c_str(), target, sizeof target - 1), 4);
  EXPECT_STREQ(target, "gone");
}

TEST_F(StoreFileManager, SynchronizingAFolderReportsWhatStopsIt) {
  Error error;
  EXPECT_FALSE(fm().synchronizeDirectoryAtPath(dir, &error));
  EXPECT_EQ(error.code, ENOENT);
  EXPECT_EQ(error.userInfo[kFilePathErrorKey], Value(dir));
  ASSERT_TRUE(fm().createDirectoryAtPath(dir, true));
  ASSERT_TRUE(fm().writeData(dataFromString("x"), dir + "/f"));
  EXPECT_FALSE(fm().synchronizeDirectoryAtPath(dir + "/f", &error)) << "a file is no folder";
  EXPECT_EQ(error.code, ENOTDIR);
  EXPECT_TRUE(fm().synchronizeDirectoryAtPath(dir, &error)) << error.localizedDescription();
}

TEST_F(StoreFileManager, AttributesAndModificationDates) {
  fm().createDirectoryAtPath(dir, true);
  std::string file = dir + "/f";
  fm().writeData(Data(5000, 7), file);
  auto a = fm().attributesOfItemAtPath(file);
  ASSERT_TRUE(a);
  EXPECT_EQ(a->size, 5000u);
  EXPECT_FALSE(a->isDirectory);
  Date week = Date::fromTimeIntervalSince1970(1600000000.5);
  ASSERT_TRUE(fm().setModificationDate(file, week));
  EXPECT_NEAR(fm().attributesOfItemAtPath(file)->modificationDate.timeIntervalSince1970(), 1600000000.5, 1e-3);
  EXPECT_TRUE(fm().attributesOfItemAtPath(dir)->isDirectory);
  auto disk = fm().attributesOfFileSystemForPath(dir);
  ASSERT_TRUE(disk);
  EXPECT_GT(disk->totalSize, 0u);
  EXPECT_LE(disk->freeSize, disk->totalSize);
  Error error;
  EXPECT_FALSE(fm().attributesOfItemAtPath(dir + "/none", &error));
  EXPECT_EQ(error.code, ENOENT);
}

TEST(StoreUserDefaults, TypedReadsFollowTheStoredKind) {
  TestSandbox box;
  auto d = UserDefaults::standardUserDefaults();
  EXPECT_EQ(d->integerForKey("kAppActive"), 0);
  d->setInteger(1, "kAppActive");
  d->setObject(Value("42"), "numeric");
  d->setObject(Value("YES"), "yes");
  d->setDouble(2.75, "real");
  d->setObject(Value(Data{1}), "blob");
  d->setObject(Value(Array{Value("zh-Hans")}), "list");
  d->setObject(Value(Dictionary{{"k", Value(1)}}), "dict");
  EXPECT_EQ(d->integerForKey("kAppActive"), 1);
  EXPECT_EQ(d->integerForKey("numeric"), 42);
  EXPECT_EQ(d->integerForKey("real"), 2);
  EXPECT_EQ(d->integerForKey("blob"), 0);
  EXPECT_TRUE(d->boolForKey("yes"));
  EXPECT_TRUE(d->boolForKey("kAppActive"));
  EXPECT_FALSE(d->boolForKey("missing"));
  EXPECT_DOUBLE_EQ(d->doubleForKey("numeric"), 42.0);
  EXPECT_FALSE(d->stringForKey("kAppActive"));
  EXPECT_FALSE(d->dataForKey("numeric"));
  EXPECT_FALSE(d->arrayForKey("dict"));
  EXPECT_FALSE(d->dictionaryForKey("list"));
  EXPECT_EQ(d->arrayForKey("list")->at(0), Value("zh-Hans"));
  EXPECT_EQ((*d->dictionaryForKey("dict"))["k"], Value(1));
  d->setObject(Value(), "numeric");
  EXPECT_FALSE(d->objectForKey("numeric"));

  d->registerDefaults(Dictionary{{"preferredLanguages", Value(Array{Value("en")})}, {"kAppActive", Value(7)}});
  EXPECT_EQ(d->arrayForKey("preferredLanguages")->at(0), Value("en"));
  EXPECT_EQ(d->integerForKey("kAppActive"), 1);  // a stored value wins
  EXPECT_FALSE(d->dictionaryRepresentation().contains("preferredLanguages"));

  EXPECT_THROW(d->setObject(Value(Array{Value()}), "bad"), Exception);
  EXPECT_FALSE(d->objectForKey("bad"));
}

TEST(StoreUserDefaults, SurvivesARestartInAnOwnerOnlyFile) {
  TestSandbox box("com.example.prefs");
  std::string path = box.sandbox()->preferencesDirectory() + "/com.example.prefs.plist";
  {
    auto d = UserDefaults::standardUserDefaults();
    EXPECT_EQ(d->path(), path);
    d->setObject(Value("abc"), "OBSocial_uid");
    d->setBool(true, "kPushMessage");
    EXPECT_TRUE(d->synchronize());
  }
  EXPECT_EQ(modeOf(path), 0600u);
  UserDefaults restarted(path);
  EXPECT_EQ(restarted.stringForKey("OBSocial_uid"), "abc");
  EXPECT_TRUE(restarted.boolForKey("kPushMessage"));
  EXPECT_FALSE(restarted.lastError());
  restarted.removeObjectForKey("OBSocial_uid");
  EXPECT_FALSE(UserDefaults(path).objectForKey("OBSocial_uid"));
}

// A save killed while it wrote leaves its temporary file beside the settings; the next start takes
// it away and keeps the settings and every other file in the folder.
TEST(StoreUserDefaults, ARestartRemovesWhatASaveCutShortLeft) {
  TestSandbox box("com.example.prefs");
  const std::string path = box.sandbox()->preferencesDirectory() + "/com.example.prefs.plist";
  {
    UserDefaults d(path);
    d.setObject(Value("abc"), "OBSocial_uid");
    ASSERT_TRUE(d.synchronize());
  }
  const std::string cutShort = temporaryFileName(path, endedProcess(), 0);
  const std::string other = temporaryFileName(path + "2", endedProcess(), 0);
  for (const std::string& file : {cutShort, other}) ASSERT_TRUE(fm().writeData(Data(100, 1), file, {.atomic = false}));
  UserDefaults restarted(path);
  EXPECT_FALSE(fm().fileExistsAtPath(cutShort));
  EXPECT_TRUE(fm().fileExistsAtPath(other));
  EXPECT_EQ(restarted.stringForKey("OBSocial_uid"), "abc");
}

// A save the disk refuses (here: past the process's file size limit, as a full disk refuses it)
// leaves the file the last save wrote, says so once for a run of failures rather than at every
// change, and the next synchronize after room is made writes every value.
TEST(StoreUserDefaults, ASaveTheDiskRefusesKeepsTheLastFileAndSaysSo) {
  TestSandbox box("com.example.prefs");
  const std::string path = box.sandbox()->preferencesDirectory() + "/com.example.prefs.plist";
  UserDefaults d(path);
  d.setObject(Value("kept"), "OBSocial_uid");
  ASSERT_TRUE(d.synchronize());
  {
    testing::LogCapture log;
    testing::FullDisk disk(16 * 1024);
    d.setObject(Value(std::string(64 * 1024, 'x')), "picture");
    d.setObject(Value("changed"), "OBSocial_uid");
    const bool synchronized = d.synchronize();
    disk.roomMade();
    EXPECT_FALSE(synchronized);
    const auto lines = log.lines();
    ASSERT_EQ(lines.size(), 1u) << (lines.empty() ? "" : lines.back());
    EXPECT_NE(lines[0].find(path + " was not saved"), std::string::npos) << lines[0];
  }
  EXPECT_EQ(UserDefaults(path).stringForKey("OBSocial_uid"), "kept");
  EXPECT_FALSE(UserDefaults(path).objectForKey("picture"));
  EXPECT_TRUE(d.synchronize());
  EXPECT_EQ(UserDefaults(path).stringForKey("OBSocial_uid"), "changed");
  EXPECT_EQ(UserDefaults(path).stringForKey("picture")->size(), 64u * 1024);
}

// A start that could not read the file (no descriptor left) begins empty but leaves the file in
// place: a save while it still cannot be read writes nothing over it, and the first save that can
// read it keeps every value it held beneath what this run set or removed.
TEST(StoreUserDefaults, AFileThatCouldNotBeReadAtStartIsReadAgainBeforeASaveGoesOverIt) {
  TestSandbox box("com.example.prefs");
  const std::string path = box.sandbox()->preferencesDirectory() + "/com.example.prefs.plist";
  {
    UserDefaults d(path);
    d.setInteger(18, "kFontSize");
    d.setBool(true, "kAppActive");
    d.setObject(Value("old"), "OBSocial_uid");
    ASSERT_TRUE(d.synchronize());
  }
  testing::LogCapture log;
  std::optional<UserDefaults> restarted;
  {
    testing::NoDescriptorLeft none;
    restarted.emplace(path);
    EXPECT_FALSE(restarted->objectForKey("kFontSize"));
    restarted->setObject(Value("new"), "OBSocial_uid");
    restarted->removeObjectForKey("kAppActive");
    EXPECT_FALSE(restarted->synchronize());
  }
  EXPECT_FALSE(fm().fileExistsAtPath(path + ".corrupt"));
  EXPECT_EQ(UserDefaults(path).stringForKey("OBSocial_uid"), "old");
  EXPECT_TRUE(restarted->synchronize());
  EXPECT_EQ(restarted->integerForKey("kFontSize"), 18);
  UserDefaults after(path);
  EXPECT_EQ(after.integerForKey("kFontSize"), 18);
  EXPECT_EQ(after.stringForKey("OBSocial_uid"), "new");
  EXPECT_FALSE(after.objectForKey("kAppActive"));
  const auto lines = log.lines();
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines[0].find(path + " could not be read"), std::string::npos) << lines[0];
}

// A file that no later read will get either (a folder where the file should be) is not waited
// for: it is moved aside as an unreadable file is, and this run's values are saved.
TEST(StoreUserDefaults, AFileThatCanNeverBeReadIsMovedAsideAndSavesGoOn) {
  TestSandbox box("com.example.prefs");
  const std::string path = box.sandbox()->preferencesDirectory() + "/com.example.prefs.plist";
  ASSERT_TRUE(fm().createDirectoryAtPath(path + "/inside", true));
  UserDefaults d(path);
  ASSERT_TRUE(d.lastError());
  d.setInteger(18, "kFontSize");
  EXPECT_TRUE(d.synchronize());
  bool isDirectory = false;
  EXPECT_TRUE(fm().fileExistsAtPath(path + ".corrupt/inside", &isDirectory) && isDirectory);
  EXPECT_EQ(UserDefaults(path).integerForKey("kFontSize"), 18);
}

// A value as deep as the file may hold is saved and read at the next start; one level deeper is
// refused when set, saying why, and the file keeps what it held.
TEST(StoreUserDefaults, ValuesAtTheDepthLimitSurviveARestartAndDeeperOnesAreRefused) {
  TestSandbox box;
  std::string path = box.sandbox()->preferencesDirectory() + "/deep.plist";
  // Under its key a value stands one level down: 511 arrays bring its leaf to the limit.
  auto arrays = [](int levels) {
    Value v(Array{Value("leaf")});
    for (int i = 1; i < levels; ++i) v = Value(Array{v});
    return v;
  };
  const int levels = kPropertyListMaxDepth - 1;
  {
    UserDefaults d(path);
    d.setObject(Value("kept"), "unrelated");
    d.setObject(arrays(levels), "deepest");
    EXPECT_TRUE(d.synchronize());
    try {
      d.setObject(arrays(levels + 1), "tooDeep");
      ADD_FAILURE() << "a value deeper than the file may hold was taken";
    } catch (const Exception& e) {
      EXPECT_NE(std::string(e.what()).find("nested"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(d.objectForKey("tooDeep"));
    d.setInteger(7, "later");
    EXPECT_TRUE(d.synchronize());
  }
  UserDefaults restarted(path);
  EXPECT_FALSE(restarted.lastError());
  EXPECT_FALSE(fm().fileExistsAtPath(path + ".corrupt"));
  EXPECT_EQ(restarted.stringForKey("unrelated"), "kept");
  EXPECT_EQ(restarted.objectForKey("deepest"), arrays(levels));
  EXPECT_EQ(restarted.integerForKey("later"), 7);
}

// However many values a save wrote, the next start reads them all.
TEST(StoreUserDefaults, AValueOfMillionsOfItemsSurvivesARestart) {
  TestSandbox box;
  std::string path = box.sandbox()->preferencesDirectory() + "/many.plist";
  const Array many(kPropertyListMaxNodes, Value(1));
  {
    UserDefaults d(path);
    d.setObject(Value("kept"), "unrelated");
    d.setObject(Value(many), "many");
    ASSERT_TRUE(d.synchronize());
  }
  UserDefaults restarted(path);
  EXPECT_FALSE(restarted.lastError());
  EXPECT_EQ(restarted.stringForKey("unrelated"), "kept");
  auto back = restarted.arrayForKey("many");
  ASSERT_TRUE(back);
  EXPECT_EQ(back->size(), many.size());
}

TEST(StoreUserDefaults, CorruptFileReadsEmptyAndIsKeptAside) {
  TestSandbox box;
  std::string path = box.sandbox()->preferencesDirectory() + "/broken.plist";
  fm().writeData(dataFromString("bplist00 this is not a list"), path);
  UserDefaults d(path);
  EXPECT_TRUE(d.dictionaryRepresentation().empty());
  ASSERT_TRUE(d.lastError());
  EXPECT_EQ(d.lastError()->domain, kPropertyListErrorDomain);
  EXPECT_EQ(fm().contentsAtPath(path + ".corrupt"), dataFromString("bplist00 this is not a list"));
  d.setInteger(3, "fresh");
  EXPECT_EQ(UserDefaults(path).integerForKey("fresh"), 3);
  EXPECT_TRUE(fm().fileExistsAtPath(path + ".corrupt"));

  // A readable list that is not a dictionary is no better.
  PropertyList::writeFile(Value(Array{Value(1)}), path, PropertyListFormat::XML);
  UserDefaults notDict(path);
  EXPECT_TRUE(notDict.lastError());
  EXPECT_FALSE(notDict.objectForKey("fresh"));
}

}  // namespace
}  // namespace os
