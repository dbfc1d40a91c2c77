#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "os/store/PriorityClaim.h"
#include "os/store/Sandbox.h"
#include "os/testing/TestSandbox.h"

namespace os {
namespace {

TEST(StorePriorityClaim, OneClaimAtATimeSeenByEveryConnectionAndProcessUntilReleased) {
  TestSandbox box("com.example.claim");
  std::string path = Sandbox::current()->cachesDirectory() + "/db-writers";
  PriorityClaim first(path), second(path);
  EXPECT_FALSE(first.claimedByOther()) << "no file yet: nobody ever claimed";

  ASSERT_TRUE(first.claim());
  EXPECT_TRUE(second.claimedByOther());
  EXPECT_FALSE(first.claimedByOther()) << "a claim does not hold back its holder";
  EXPECT_FALSE(second.claim()) << "one claim at a time";
  first.release();
  EXPECT_FALSE(second.claimedByOther());
  ASSERT_TRUE(second.claim());
  EXPECT_TRUE(first.claimedByOther());
  second.release();

  // Another process's claim counts, and goes when that process ends.
  int ready[2], done[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(done), 0);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    PriorityClaim claim(path);
    char c = claim.claim() ? 1 : 0;
    if (::write(ready[1], &c, 1) != 1) ::_exit(1);
    if (::read(done[0], &c, 1) != 1) ::_exit(1);
    ::_exit(0);  // still held: the claim goes with the process
  }
  char c = 0;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  EXPECT_EQ(c, 1);
  EXPECT_TRUE(first.claimedByOther());
  ASSERT_EQ(::write(done[1], &c, 1), 1);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_FALSE(first.claimedByOther());
  for (int fd : {ready[0], ready[1], done[0], done[1]}) ::close(fd);
}

}  // namespace
}  // namespace os
