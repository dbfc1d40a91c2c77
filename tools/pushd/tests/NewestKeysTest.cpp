// The keys of the newest entries: a key is known while any of its entries is among the newest, so
// one added again outlives its first entry, and the lookup lets go of a key with its last entry.
#include "tools/pushd/server/NewestKeys.h"

#include <gtest/gtest.h>

#include <string>

namespace pushd {
namespace {

TEST(NewestKeysTest, AKeyIsKnownWhileItsNewestEntryIsKeptAndForgottenAfter) {
  NewestKeys keys(3);
  keys.add("a");
  keys.add("b");
  keys.add("a");  // entries a b a
  keys.add("c");  // b a c: the first "a" left, the second keeps the key
  EXPECT_TRUE(keys.contains("a"));
  EXPECT_TRUE(keys.contains("b"));
  EXPECT_EQ(keys.size(), 3u);

  keys.add("d");  // a c d
  EXPECT_FALSE(keys.contains("b"));
  EXPECT_TRUE(keys.contains("a"));
  keys.add("e");  // c d e
  EXPECT_FALSE(keys.contains("a"));
  EXPECT_EQ(keys.size(), 3u);

  // The same key over and over holds one lookup entry, and goes once it is no longer among them.
  for (int i = 0; i < 10; ++i) keys.add("f");
  EXPECT_EQ(keys.size(), 1u);
  for (const char* other : {"g", "h", "i"}) keys.add(other);
  EXPECT_FALSE(keys.contains("f"));
  EXPECT_EQ(keys.size(), 3u);
}

TEST(NewestKeysTest, LongKeysAreHeldToTheByteBound) {
  const std::string big(1000, 'k');
  NewestKeys keys(1000, 4 * (sizeof(std::string) + big.size()));
  for (int i = 0; i < 100; ++i) keys.add(big + std::to_string(i));
  // The bound holds four keys of a thousand bytes; these run a few bytes over, so three are kept.
  EXPECT_EQ(keys.size(), 3u);
  EXPECT_TRUE(keys.contains(big + "99"));
  EXPECT_FALSE(keys.contains(big + "0"));
}

}  // namespace
}  // namespace pushd
