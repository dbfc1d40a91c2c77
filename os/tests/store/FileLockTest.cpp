#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "os/store/FileLock.h"
#include "os/store/FileManager.h"
#include "os/store/Sandbox.h"
#include "os/testing/TestSandbox.h"

namespace os {
namespace {

TEST(StoreFileLock, TryingRefusesAtOnceNamingTheHolderUntilItLetsGo) {
  TestSandbox box("com.example.lock");
  std::string path = Sandbox::current()->cachesDirectory() + "/home.lock";
  int holder = -1;
  Error error;
  auto first = FileLock::tryExclusive(path, &holder, &error);
  ASSERT_TRUE(first) << error.localizedDescription();
  EXPECT_EQ(holder, 0);
  EXPECT_EQ(FileManager::defaultManager().contentsAtPath(path), dataFromString(std::to_string(::getpid()) + "\n"));

  // Another open in the same process counts as another holder.
  EXPECT_FALSE(FileLock::tryExclusive(path, &holder, &error));
  EXPECT_EQ(error.code, EWOULDBLOCK);
  EXPECT_EQ(holder, ::getpid());
  first.reset();
  auto again = FileLock::tryExclusive(path, &holder, &error);
  ASSERT_TRUE(again);
  EXPECT_EQ(holder, 0);

  EXPECT_FALSE(FileLock::tryExclusive(Sandbox::current()->cachesDirectory() + "/no/such/folder.lock", &holder, &error));
  EXPECT_EQ(error.code, ENOENT);
  EXPECT_EQ(holder, 0);
}

TEST(StoreFileLock, AHolderKilledLeavesNothingThatBlocks) {
  TestSandbox box("com.example.lock");
  std::string path = Sandbox::current()->cachesDirectory() + "/home.lock";
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    auto lock = FileLock::tryExclusive(path, nullptr, nullptr);
    char c = lock ? 1 : 0;
    if (::write(ready[1], &c, 1) != 1) ::_exit(1);
    for (;;) ::pause();  // held until killed
  }
  char c = 0;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  ASSERT_EQ(c, 1);
  int holder = 0;
  Error error;
  EXPECT_FALSE(FileLock::tryExclusive(path, &holder, &error));
  EXPECT_EQ(holder, child);

  ASSERT_EQ(::kill(child, SIGKILL), 0);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  auto lock = FileLock::tryExclusive(path, &holder, &error);
  ASSERT_TRUE(lock) << error.localizedDescription();
  EXPECT_EQ(FileManager::defaultManager().contentsAtPath(path), dataFromString(std::to_string(::getpid()) + "\n"))
      << "the dead holder's id is replaced, not appended to";
  ::close(ready[0]);
  ::close(ready[1]);
}

// A child forked while the lock is held lets go of its copy (and ends): the parent still holds it
// until it lets go itself.
TEST(StoreFileLock, AForkedChildLettingGoLeavesTheParentHoldingIt) {
  TestSandbox box("com.example.lock");
  std::string path = Sandbox::current()->cachesDirectory() + "/home.lock";
  auto lock = FileLock::tryExclusive(path, nullptr, nullptr);
  ASSERT_TRUE(lock);
  int done[2], leave[2];
  ASSERT_EQ(::pipe(done), 0);
  ASSERT_EQ(::pipe(leave), 0);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    lock.reset();
    char c = 1;
    if (::write(done[1], &c, 1) != 1) ::_exit(1);
    ::_exit(::read(leave[0], &c, 1) == 1 ? 0 : 1);  // until the parent has looked
  }
  char c = 0;
  ASSERT_EQ(::read(done[0], &c, 1), 1);
  int holder = 0;
  Error error;
  EXPECT_FALSE(FileLock::tryExclusive(path, &holder, &error)) << "the child's copy unlocked the parent";
  EXPECT_EQ(error.code, EWOULDBLOCK);
  EXPECT_EQ(holder, ::getpid());
  ASSERT_EQ(::write(leave[1], &c, 1), 1);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_FALSE(FileLock::tryExclusive(path, &holder, &error)) << "the child's end unlocked the parent";

  lock.reset();
  EXPECT_TRUE(FileLock::tryExclusive(path, &holder, &error)) << error.localizedDescription();
  for (int fd : {done[0], done[1], leave[0], leave[1]}) ::close(fd);
}

}  // namespace
}  // namespace os
