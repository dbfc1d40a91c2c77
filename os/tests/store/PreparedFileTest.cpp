// The prepared contents are written by a child process from inside a signal handler, as a crash
// would write them.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "os/store/PreparedFile.h"

namespace {

std::string contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void writeFromSignalHandlerInChild() {
  pid_t pid = ::fork();
  if (pid == 0) {
    struct sigaction action {};
    action.sa_handler = [](int) {
      os::PreparedFile::writeAllPrepared();
      ::_exit(0);
    };
    sigaction(SIGUSR1, &action, nullptr);
    ::raise(SIGUSR1);
    ::_exit(3);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(PreparedFile, TheLastPreparedContentsReplaceTheFileWholeAtACrash) {
  std::string folder = ::testing::TempDir() + "/prepared-" + std::to_string(::getpid());
  std::filesystem::create_directories(folder);
  std::string path = folder + "/state", other = folder + "/other";
  std::ofstream(path) << "as saved before";
  os::PreparedFile* file = os::PreparedFile::forPath(path);
  ASSERT_TRUE(file);
  EXPECT_EQ(os::PreparedFile::forPath(path), file);  // one slot per path
  EXPECT_FALSE(os::PreparedFile::forPath(std::string(os::PreparedFile::kMaximumPath, 'x')));

  // Nothing prepared: the file stays as it was.
  writeFromSignalHandlerInChild();
  EXPECT_EQ(contents(path), "as saved before");

  file->prepare(os::dataFromString("first"));
  file->prepare(os::dataFromString(std::string("second\0with a zero byte", 23)));
  os::PreparedFile::forPath(other)->prepare(os::dataFromString("other"));
  writeFromSignalHandlerInChild();
  EXPECT_EQ(contents(path), std::string("second\0with a zero byte", 23));
  EXPECT_EQ(contents(other), "other");
  EXPECT_FALSE(std::filesystem::exists(path + ".prepared"));

  // Pieces shared with the next preparation are written in order, as one file.
  auto shared = std::make_shared<const os::Data>(os::dataFromString("kept|"));
  file->prepare({std::make_shared<const os::Data>(os::dataFromString("head|")), shared, nullptr,
                 std::make_shared<const os::Data>(), std::make_shared<const os::Data>(os::dataFromString("tail"))});
  file->prepare({shared, std::make_shared<const os::Data>(os::dataFromString("changed"))});
  writeFromSignalHandlerInChild();
  EXPECT_EQ(contents(path), "kept|changed");

  file->clear();
  os::PreparedFile::forPath(other)->clear();
  std::ofstream(path) << "saved again";
  writeFromSignalHandlerInChild();
  EXPECT_EQ(contents(path), "saved again");
  std::filesystem::remove_all(folder);
}


// A process may meet more paths than there are slots (caches of one sandbox after another): a slot
// whose file has nothing prepared takes the next path, and a slot holding prepared contents is
// never handed on.
TEST(PreparedFile, ASlotWithNothingPreparedTakesANewPathOnceAllAreTaken) {
  std::string folder = ::testing::TempDir() + "/prepared-reuse-" + std::to_string(::getpid());
  std::filesystem::create_directories(folder);
  std::vector<std::string> paths;
  std::vector<os::PreparedFile*> slots;
  // Every slot prepared, whatever earlier users of the process left.
  for (int i = 0; i <= os::PreparedFile::kMaximumFiles; ++i) {
    std::string path = folder + "/held-" + std::to_string(i);
    os::PreparedFile* slot = os::PreparedFile::forPath(path);
    if (!slot) break;
    slot->prepare(os::dataFromString("held " + std::to_string(i)));
    paths.push_back(path);
    slots.push_back(slot);
  }
  ASSERT_FALSE(slots.empty());
  std::string fresh = folder + "/fresh";
  EXPECT_FALSE(os::PreparedFile::forPath(fresh)) << "no slot is free while all hold prepared contents";

  slots[0]->clear();
  os::PreparedFile* taken = os::PreparedFile::forPath(fresh);
  EXPECT_EQ(taken, slots[0]);
  ASSERT_TRUE(taken);
  taken->prepare(os::dataFromString("fresh"));
  for (std::size_t i = 1; i < slots.size(); ++i) EXPECT_EQ(os::PreparedFile::forPath(paths[i]), slots[i]);
  writeFromSignalHandlerInChild();
  EXPECT_EQ(contents(fresh), "fresh");
  EXPECT_FALSE(std::filesystem::exists(paths[0])) << "the slot's old path is not written";
  for (std::size_t i = 1; i < slots.size(); ++i) EXPECT_EQ(contents(paths[i]), "held " + std::to_string(i));

  taken->clear();
  for (auto* slot : slots) slot->clear();
  std::filesystem::remove_all(folder);
}

}  // namespace
