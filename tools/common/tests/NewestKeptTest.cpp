// A record bounded by count and bytes: the oldest go first past either bound, the newest stays
// whatever its size, and what is let go is handed back for the caller's own indexes.
#include <gtest/gtest.h>

#include <string>

#include "os/core/DetachedValue.h"
#include "tools/common/NewestKept.h"

namespace tools {
namespace {

TEST(NewestKeptTest, TheOldestGoPastEitherBoundAndTheNewestStaysWhateverItsSize) {
  const std::size_t entry = sizeof(std::string) + 100;
  NewestKept<std::string> record(5, 3 * entry);
  for (char c : std::string("abcd")) record.keep(std::string(100, c));
  ASSERT_EQ(record.size(), 3u);
  EXPECT_EQ(record[0], std::string(100, 'b'));
  EXPECT_EQ(record.bytes(), 3 * entry);

  // One entry larger than the whole bound: everything older goes, it stays.
  const auto dropped = record.keep(std::string(10 * entry, 'z'));
  EXPECT_EQ(dropped.size(), 3u);
  ASSERT_EQ(record.size(), 1u);
  EXPECT_EQ(record.bytes(), sizeof(std::string) + 10 * entry);

  NewestKept<int> counted(2);
  for (int i = 0; i < 5; ++i) counted.keep(i);
  EXPECT_EQ(counted.entries(), (std::vector<int>{3, 4}));
  EXPECT_EQ(counted.dropOldestWhile([](int n) { return n < 4; }), std::vector<int>{3});
  EXPECT_EQ(counted.entries(), std::vector<int>{4});
  counted.clear();
  EXPECT_EQ(counted.bytes(), 0u);
}

TEST(NewestKeptTest, ValuesAreMeasuredByWhatTheyHold) {
  const std::string text(1000, 't');
  const os::Value nested(os::Dictionary{{"a", os::Value(text)}, {"b", os::Value(os::Array{os::Value(text), os::Value(1)})}});
  EXPECT_GE(heldBytes(nested), 2 * text.size());
  EXPECT_LT(heldBytes(nested), 2 * text.size() + 1024);
  EXPECT_EQ(heldBytes(os::Value(5)), 0u);
}

TEST(NewestKeptTest, AValueReadIntoSharedBlocksIsCountedByTheBlockAndKeptAsItsOwnCopy) {
  // {"a":1} as a reader makes it: in the blocks of its storage scope.
  std::optional<os::Value> read;
  {
    os::ValueStorageScope scope;
    read = os::Value(os::Dictionary{{"a", os::Value(1)}});
  }
  // Standing in a reader's block, it keeps that block alive.
  ASSERT_TRUE(os::inSharedBlock(*read));
  EXPECT_GE(heldBytes(*read), 8192u);

  NewestKept<os::Value> values;
  values.keep(*read);
  NewestKept<os::Dictionary> dictionaries;
  dictionaries.keep(*read->dictionary());
  NewestKept<std::pair<long long, os::Value>> pairs;
  pairs.keep({1, *read});
  read.reset();
  EXPECT_FALSE(os::inSharedBlock(values[0]));
  EXPECT_EQ(values[0], os::Value(os::Dictionary{{"a", os::Value(1)}}));
  EXPECT_LT(values.bytes(), 1024u);
  EXPECT_LT(dictionaries.bytes(), 1024u);
  EXPECT_FALSE(os::inSharedBlock(pairs[0].second));
  EXPECT_LT(pairs.bytes(), 1024u);
}

}  // namespace
}  // namespace tools
