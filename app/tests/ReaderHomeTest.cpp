// The reader's home on disk as a start finds it: what an earlier start killed while writing left.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "app/main/ReaderHome.h"
#include "os/store/FileLock.h"
#include "os/store/FileManager.h"
#include "os/testing/CutShortWrite.h"

namespace {

// A start killed while writing the bundle's property lists and pictures (its resources' too) leaves
// their temporary files: the next start on the home removes them and keeps every file written
// whole, and the bundle's other files.
TEST(ReaderHome, AStartRemovesWhatAStartCutShortLeftInTheBundle) {
  auto& files = os::FileManager::defaultManager();
  const std::string home = ::testing::TempDir() + "reader-home-" + std::to_string(::getpid());
  files.removeItemAtPath(home);
  std::string refusal;
  auto lock = reader::lockHome(home, &refusal);
  ASSERT_TRUE(lock) << refusal;
  os::Error error;
  ASSERT_TRUE(reader::prepareHome(home, &error)) << error.localizedDescription();
  const std::string bundle = home + "/Bundle";
  const std::string sns = bundle + "/OBSocialSDKResourcesNew.bundle/SnsPlatform";
  const auto info = files.contentsAtPath(bundle + "/Info.plist");
  ASSERT_TRUE(info);
  const std::vector<std::string> cutShort{os::testing::plantCutShortWrite(bundle + "/Info.plist", 1),
                                          os::testing::plantCutShortWrite(bundle + "/PushConfig.plist", 2),
                                          os::testing::plantCutShortWrite(bundle + "/splash_logo.png", 3),
                                          os::testing::plantCutShortWrite(sns + "/OBS_qq_icon.png", 4)};
  for (const std::string& path : cutShort) ASSERT_FALSE(path.empty());
  ASSERT_TRUE(files.writeData(os::dataFromString("kept"), bundle + "/.notes"));
  ASSERT_TRUE(files.writeData(os::dataFromString("kept"), bundle + "/notes.tmp.1.1"));

  ASSERT_TRUE(reader::prepareHome(home, &error)) << error.localizedDescription();
  for (const std::string& path : cutShort) EXPECT_FALSE(files.fileExistsAtPath(path)) << path;
  EXPECT_EQ(files.contentsAtPath(bundle + "/Info.plist"), info);
  EXPECT_TRUE(files.fileExistsAtPath(bundle + "/splash_logo.png"));
  EXPECT_TRUE(files.fileExistsAtPath(sns + "/OBS_qq_icon.png"));
  EXPECT_EQ(files.contentsAtPath(bundle + "/.notes"), os::dataFromString("kept"));
  EXPECT_EQ(files.contentsAtPath(bundle + "/notes.tmp.1.1"), os::dataFromString("kept"));
  lock.reset();
  files.removeItemAtPath(home);
}

}  // namespace
