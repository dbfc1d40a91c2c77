#include <gtest/gtest.h>

#include "os/core/Value.h"
#include "os/core/DetachedValue.h"

#include <algorithm>
#include <atomic>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace os {
namespace {

TEST(Value, NumbersKeepTypeCodeAndCompareByValue) {
  Value i = Value::number('i', 7);
  Value q = Value::number('q', 7);
  Value d = Value::real('d', 7.0);
  EXPECT_EQ(i.typeCode(), 'i');
  EXPECT_EQ(q.typeCode(), 'q');
  EXPECT_EQ(i, q);
  EXPECT_EQ(i, d);
  EXPECT_EQ(Value(true), Value::number('c', 1));
  EXPECT_EQ(Value::unsignedNumber('Q', 18446744073709551615ull).unsignedValue(), 18446744073709551615ull);
  EXPECT_NE(Value::unsignedNumber('Q', 18446744073709551615ull), Value::number('q', -1));
}

TEST(Value, DictionaryKeepsInsertionOrderAndReplacesInPlace) {
  Dictionary d{{"b", 1}, {"a", 2}};
  d.set("c", 3);
  d.set("b", 4);
  EXPECT_EQ(d.keys(), (std::vector<std::string>{"b", "a", "c"}));
  EXPECT_EQ(d["b"].intValue(), 4);
  EXPECT_TRUE(d["missing"].isNull());
  EXPECT_EQ(d, (Dictionary{{"c", 3}, {"a", 2}, {"b", 4}}));
  // Entries taken in bulk follow the same rules, keys alike in length and ends included.
  std::vector<Dictionary::Entry> more{{"keyA1", 1}, {"keyB1", 2}, {"keyA1", 3}, {"", 4}, {"", 5}};
  Dictionary bulk;
  bulk.adopt(std::move(more));
  EXPECT_EQ(bulk.keys(), (std::vector<std::string>{"keyA1", "keyB1", ""}));
  EXPECT_EQ(bulk["keyA1"].intValue(), 3);
  EXPECT_EQ(bulk[""].intValue(), 5);
  std::vector<Dictionary::Entry> two{{"keyA1", 1}, {"keyB1", 2}};
  d.adopt(std::move(two));
  EXPECT_EQ(d.keys(), (std::vector<std::string>{"b", "a", "c", "keyA1", "keyB1"}));
  // A list handed over whole, small or past the index threshold: the same rules.
  for (std::size_t n : {5u, 20u}) {
    std::vector<Dictionary::Entry> list;
    for (std::size_t i = 0; i < n; ++i) list.emplace_back("k" + std::to_string(i % (n - 2)), Value(static_cast<int>(i)));
    Dictionary whole;
    whole.adopt(std::move(list));
    EXPECT_EQ(whole.size(), n - 2);
    EXPECT_EQ(whole["k0"].intValue(), static_cast<int>(n - 2));
    EXPECT_EQ(whole["k1"].intValue(), static_cast<int>(n - 1));
    EXPECT_EQ(whole.keys().back(), "k" + std::to_string(n - 3));
  }
}

TEST(Value, CopiesDoNotShareWrites) {
  Value a(Array{1, 2});
  Value b = a;
  b.mutableArray()->push_back(3);
  EXPECT_EQ(a.count(), 2u);
  EXPECT_EQ(b.count(), 3u);
}

TEST(Value, AssignmentFromInsideTheStorageItReleases) {
  const std::string text(40, 'q');  // too long to be held inline by a string
  Value v(Array{Value(Array{Value(text)}), 2});
  // The only holder of the outer array takes one of its own elements: the element outlives it.
  v = v.at(0);
  ASSERT_EQ(v.count(), 1u);
  EXPECT_EQ(v.at(0).stringOr(), text);
  v = std::move(v.mutableArray()->front());
  EXPECT_EQ(v.stringOr(), text);
  const Value& same = v;
  v = same;
  EXPECT_EQ(v.stringOr(), text);
  Value copy = v;
  EXPECT_TRUE(copy.sharesStorageWith(v));
  *copy.mutableString() += "!";
  EXPECT_FALSE(copy.sharesStorageWith(v));
  EXPECT_EQ(v.stringOr(), text);
}

TEST(Value, CopiesMadeAndReleasedOnManyThreadsAtOnce) {
  Value shared;
  {
    ValueStorageScope scope;
    Array items;
    for (int i = 0; i < 200; ++i) items.push_back(Value(Dictionary{{"text", Value(std::string(30, 'a' + i % 26))}}));
    shared = Value(std::move(items));
  }
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&shared] {
      for (int round = 0; round < 50; ++round) {
        std::vector<Value> copies;
        for (std::size_t i = 0; i < shared.count(); ++i) copies.push_back(shared.at(i)["text"]);
        Value whole = shared;
        copies.clear();
      }
    });
  for (auto& t : threads) t.join();
  ASSERT_EQ(shared.count(), 200u);
  EXPECT_EQ(shared.at(199)["text"].stringOr(), std::string(30, 'a' + 199 % 26));
}

TEST(Value, DescriptionReadsBooleansAsDigits) {
  Value v(Dictionary{{"on", true}, {"list", Array{Value("a b"), Value(2)}}});
  EXPECT_EQ(v.description(), "{\n    on = 1;\n    list = (\n        \"a b\",\n        2\n    );\n}");
}

TEST(Value, SetDeduplicatesAndIgnoresOrder) {
  Value s = Value::set(Array{1, 2, 1});
  EXPECT_EQ(s.count(), 2u);
  EXPECT_EQ(s, Value::set(Array{2, 1}));
}

TEST(Value, WrongTypeReadsAsAbsent) {
  Value s("12abc");
  EXPECT_EQ(s.array(), nullptr);
  EXPECT_EQ(s.intValue(), 12);
  EXPECT_TRUE(s["key"].isNull());
  EXPECT_TRUE(Value(3).at(0).isNull());
}

TEST(Value, StringsReadAsDecimalNumbersOnly) {
  EXPECT_EQ(Value("0x1A").doubleValue(), 0.0);
  EXPECT_EQ(Value("nan").doubleValue(), 0.0);
  EXPECT_EQ(Value("infinity").doubleValue(), 0.0);
  EXPECT_DOUBLE_EQ(Value(" -2.5e1kg").doubleValue(), -25.0);
  EXPECT_EQ(Value("\t-7 apples").intValue(), -7);
}

}  // namespace
}  // namespace os

namespace os {
namespace {

TEST(Value, LargeDictionaryStaysConsistentAcrossRemovals) {
  Dictionary d;
  for (int i = 0; i < 1000; ++i) d.set("k" + std::to_string(i), i);
  d.set("k10", -1);  // replaced in place, not appended
  EXPECT_EQ(d.size(), 1000u);
  EXPECT_TRUE(d.remove("k0"));
  EXPECT_FALSE(d.remove("k0"));
  EXPECT_EQ(d.size(), 999u);
  EXPECT_EQ(d["k10"].intValue(), -1);
  EXPECT_EQ(d["k999"].intValue(), 999);
  EXPECT_EQ(d.entries().front().first, "k1");
  for (int i = 1; i < 1000; ++i) ASSERT_NE(d.find("k" + std::to_string(i)), nullptr) << i;
}

// The dictionary against a plain list of its entries in order, through what callers do when they
// drop records one by one: removals at the front, in the middle and at the end, keys added again
// (at the end), values replaced in place, copies taken and changed between removals.
class DictionaryModel {
 public:
  void set(const std::string& key, int value) {
    d.set(key, value);
    auto at = std::find_if(list.begin(), list.end(), [&](const auto& e) { return e.first == key; });
    if (at != list.end()) at->second = value;
    else list.emplace_back(key, value);
  }
  void remove(const std::string& key) {
    auto at = std::find_if(list.begin(), list.end(), [&](const auto& e) { return e.first == key; });
    const bool held = at != list.end();
    if (held) list.erase(at);
    ASSERT_EQ(d.remove(key), held) << key;
  }
  static void expectSame(const Dictionary& dict, const std::vector<std::pair<std::string, int>>& entries) {
    ASSERT_EQ(dict.size(), entries.size());
    ASSERT_EQ(dict.empty(), entries.empty());
    std::vector<std::pair<std::string, int>> walked;
    for (const auto& [key, value] : dict) walked.emplace_back(key, static_cast<int>(value.intValue()));
    ASSERT_EQ(walked, entries);
    ASSERT_EQ(dict.entries().size(), entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) ASSERT_EQ(dict.entries()[i].first, entries[i].first);
    for (const auto& [key, value] : entries) {
      const Value* found = dict.find(key);
      ASSERT_TRUE(found) << key;
      ASSERT_EQ(found->intValue(), value) << key;
    }
  }
  void check() const { expectSame(d, list); }

  Dictionary d;
  std::vector<std::pair<std::string, int>> list;
};

TEST(Value, DictionaryKeepsOrderAndLookupsThroughRemovalsAnywhere) {
  DictionaryModel m;
  for (int i = 0; i < 3000; ++i) m.set("k" + std::to_string(i), i);
  // From the front, as a packer takes in pending records; a reader meanwhile sees the order.
  for (int i = 0; i < 1400; ++i) {
    m.remove("k" + std::to_string(i));
    if (i % 97 == 0) {
      ASSERT_NO_FATAL_FAILURE(m.check()) << i;
    }
  }
  // From the end, and removed keys again: absent, and the dictionary unchanged.
  for (int i = 2999; i > 2700; --i) m.remove("k" + std::to_string(i));
  m.remove("k0");
  m.remove("k2999");
  ASSERT_NO_FATAL_FAILURE(m.check());
  // Every third of the middle, then a removed key added again stands last; a kept one replaced
  // stays where it is.
  for (int i = 1500; i < 2600; i += 3) m.remove("k" + std::to_string(i));
  m.set("k1500", -1500);
  m.set("k1401", -1401);
  m.set("k0", -1);
  ASSERT_NO_FATAL_FAILURE(m.check());
  EXPECT_EQ(m.d.keys().front(), "k1400");
  EXPECT_EQ(m.d.keys().back(), "k0");

  // A copy taken between removals is the dictionary as it stood, and each goes on alone.
  Dictionary copy = m.d;
  auto copied = m.list;
  for (int i = 1400; i < 2600; i += 2) m.remove("k" + std::to_string(i));
  ASSERT_NO_FATAL_FAILURE(DictionaryModel::expectSame(copy, copied));
  ASSERT_NO_FATAL_FAILURE(m.check());
  EXPECT_EQ(copy, Dictionary(copy));
  EXPECT_NE(copy, m.d);
  copy.remove("k1401");
  copy.set("new", 7);
  EXPECT_FALSE(m.d.contains("new"));
  // Held in values, written through one holder: the other keeps what it had.
  Value shared(m.d);
  Value written = shared;
  written.mutableDictionary()->remove("k0");
  EXPECT_TRUE(shared["k0"].isNumber());
  EXPECT_TRUE(written["k0"].isNull());
  EXPECT_EQ(written.count() + 1, shared.count());

  // Down to nothing in a shuffled order, crossing back under the size that is searched without an
  // index, then filled again.
  std::vector<std::string> keys = m.d.keys();
  std::mt19937 rng(11);
  std::shuffle(keys.begin(), keys.end(), rng);
  for (std::size_t i = 0; i < keys.size(); ++i) {
    m.remove(keys[i]);
    if (i % 50 == 0 || keys.size() - i < 20) {
      ASSERT_NO_FATAL_FAILURE(m.check()) << i;
    }
  }
  EXPECT_TRUE(m.d.empty());
  EXPECT_EQ(m.d.begin(), m.d.end());
  for (int i = 0; i < 40; ++i) m.set("again" + std::to_string(i % 30), i);
  ASSERT_NO_FATAL_FAILURE(m.check());
  // A list handed over to a dictionary emptied by removals is looked up like any other.
  Dictionary emptied;
  for (int i = 0; i < 20; ++i) emptied.set("e" + std::to_string(i), i);
  for (int i = 19; i >= 0; --i) emptied.remove("e" + std::to_string(i));
  std::vector<Dictionary::Entry> list;
  for (int i = 0; i < 20; ++i) list.emplace_back("n" + std::to_string(i), i);
  emptied.adopt(std::move(list));
  ASSERT_EQ(emptied.size(), 20u);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(emptied["n" + std::to_string(i)].intValue(), i);
}

// A dictionary that keys come and go through, as a cache index or a queue of pending records,
// holds room for about the keys it has, not for every key it ever had: the places of removed
// entries are packed out once they outnumber the live ones.
TEST(Value, DictionaryChurnedThroughHoldsOnlyAboutItsLiveKeys) {
  const int live = 1000, churns = 200000;
  Dictionary d;
  for (int i = 0; i < live; ++i) d.set("k" + std::to_string(i), i);
  std::size_t most = 0;
  for (int i = 0; i < churns; ++i) {
    // The oldest goes, a new one comes; now and then one in the middle goes and comes back.
    ASSERT_TRUE(d.remove("k" + std::to_string(i))) << i;
    d.set("k" + std::to_string(i + live), i + live);
    if (i % 7 == 0) {
      const std::string middle = "k" + std::to_string(i + live / 2);
      ASSERT_TRUE(d.remove(middle)) << i;
      d.set(middle, -i);
    }
    most = std::max(most, d.storedEntries());
  }
  EXPECT_EQ(d.size(), static_cast<std::size_t>(live));
  EXPECT_LE(most, 2u * live + 1) << "entries held while " << live << " were live";
  EXPECT_LE(d.storedEntries(), 2u * live + 1);
  // Lookups and order through it all: every live key found, each once, the newest last.
  for (int i = churns; i < churns + live; ++i) EXPECT_TRUE(d.contains("k" + std::to_string(i))) << i;
  EXPECT_EQ(static_cast<std::size_t>(std::distance(d.begin(), d.end())), d.size());
  EXPECT_EQ(d.keys().back(), "k" + std::to_string(churns + live - 1));
  // A copy holds only the live ones.
  EXPECT_EQ(Dictionary(d).storedEntries(), static_cast<std::size_t>(live));
}

TEST(Value, EntriesAfterRemovalsReadAlikeOnManyThreads) {
  Dictionary d;
  for (int i = 0; i < 500; ++i) d.set("k" + std::to_string(i), i);
  for (int i = 0; i < 500; i += 4) d.remove("k" + std::to_string(i));
  const Value shared(d);
  std::vector<std::thread> readers;
  std::atomic<int> wrong{0};
  for (int t = 0; t < 4; ++t)
    readers.emplace_back([&] {
      const auto& entries = shared.dictionary()->entries();
      if (entries.size() != 375 || entries.front().first != "k1" || entries.back().first != "k499") ++wrong;
    });
  for (auto& reader : readers) reader.join();
  EXPECT_EQ(wrong.load(), 0);
}

TEST(Value, CopiesOfLargeContainersAreIndependent) {
  Dictionary big;
  for (int i = 0; i < 40; ++i) big.set("k" + std::to_string(i), i);
  Dictionary copy = big;
  copy.set("k3", -3);
  copy.set("extra", 1);
  EXPECT_EQ(big["k3"].intValue(), 3);
  EXPECT_FALSE(big.contains("extra"));
  EXPECT_EQ(copy["k3"].intValue(), -3);
  EXPECT_EQ(copy["k39"].intValue(), 39);
  copy = big;  // assigned back: its own index again
  EXPECT_EQ(copy["k3"].intValue(), 3);
  EXPECT_FALSE(copy.contains("extra"));

  // Arrays past the size whose storage is mapped on its own, grown, copied and cut back, inside a
  // reader's scope and outside it.
  for (int scoped = 0; scoped < 2; ++scoped) {
    std::optional<ValueStorageScope> scope;
    if (scoped) scope.emplace();
    Array items;
    for (int i = 0; i < 6000; ++i) items.push_back(Value(i));
    Value list(items);
    items.resize(100);
    items.shrink_to_fit();
    Array* written = list.mutableArray();
    written->push_back(Value("last"));
    EXPECT_EQ(items.size(), 100u);
    ASSERT_EQ(list.count(), 6001u);
    EXPECT_EQ(list.at(5999).intValue(), 5999);
    EXPECT_EQ(list.at(6000).stringOr(), "last");
  }
}

TEST(Value, StorageFromAScopeOutlivesItAndMovesAcrossThreads) {
  Value kept;
  Array half;
  {
    ValueStorageScope scope;
    Array items;
    // Enough values to fill several blocks, some of them too long to be held inline by a string.
    for (int i = 0; i < 3000; ++i)
      items.push_back(Value(Dictionary{{"name", Value(std::string(20 + i % 7, 'a' + i % 26))}, {"list", Array{i}}}));
    kept = Value(std::move(items));
    half.assign(kept.array()->begin(), kept.array()->begin() + 1500);
  }
  // A holder that writes gets its own copy; the other holders see nothing of it.
  Value changed = kept.at(7);
  changed.mutableDictionary()->set("name", "x");
  EXPECT_EQ(kept.at(7)["name"].stringOr(), std::string(20, 'h'));
  // The last holders of the scope's values let go of them on other threads, in any order.
  std::thread a([v = std::move(kept)]() mutable { v = Value(); });
  std::thread b([h = std::move(half)]() mutable {
    for (std::size_t i = h.size(); i-- > 0;) h.pop_back();
  });
  a.join();
  b.join();
  EXPECT_EQ(changed["list"].at(0).intValue(), 7);
}

// The process's resident memory in KB.
long residentKB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.starts_with("VmRSS:")) return std::stol(line.substr(6));
  return 0;
}

TEST(Value, ADetachedCopyIsTheSameValueEvenWhenMadeInAScope) {
  Value tree;
  Value copy;
  {
    ValueStorageScope scope;
    Dictionary many;  // enough keys to be indexed
    for (int i = 0; i < 40; ++i) many.set("k" + std::to_string(i), Value(std::string(static_cast<std::size_t>(i), 'x')));
    tree = Value(Dictionary{{"flag", Value(true)},
                            {"ratio", Value(1.5f)},
                            {"big", Value::unsignedNumber('Q', ~0ull)},
                            {"bytes", Value(Data{1, 2, 3})},
                            {"when", Value(Date::fromTimeIntervalSince1970(5))},
                            {"list", Value(Array{Value("a"), Value(Array{}), Value()})},
                            {"tags", Value::set({Value(1), Value("b")})},
                            {"many", Value(std::move(many))}});
    copy = detached(tree);
  }
  EXPECT_EQ(copy, tree);
  EXPECT_FALSE(copy.sharesStorageWith(tree));
  EXPECT_EQ(copy["flag"].typeCode(), 'c');
  EXPECT_EQ(copy["ratio"].typeCode(), 'f');
  EXPECT_EQ(copy["big"].typeCode(), 'Q');
  EXPECT_TRUE(copy["tags"].isSet());
  EXPECT_TRUE(copy["when"].isDate());
  EXPECT_EQ(copy["many"]["k39"].stringOr(), std::string(39, 'x'));
  EXPECT_EQ(detached(*tree.dictionary()), *tree.dictionary());
  tree = Value();
  EXPECT_EQ(copy["list"].at(0).stringOr(), "a");
}

// A copy for keeping holds room for what it has and no more, and is known not to stand in a block.
TEST(Value, ADetachedCopyStandsInNoBlockAndHoldsNoSpareRoom) {
  Value tree;
  {
    ValueStorageScope scope;
    Dictionary many;  // enough keys to be indexed
    for (int i = 0; i < 40; ++i) many.set("key number " + std::to_string(i), Value(std::string(20, 'v')));
    tree = Value(std::move(many));
  }
  EXPECT_TRUE(inSharedBlock(tree));
  const Value copy = detached(tree);
  EXPECT_FALSE(inSharedBlock(copy));
  EXPECT_FALSE(inSharedBlock(copy["key number 7"]));
  EXPECT_EQ(copy.dictionary()->entries().capacity(), 40u);
  EXPECT_FALSE(inSharedBlock(Value("made outside any scope, long enough for a box")));
  EXPECT_FALSE(inSharedBlock(Value(5)));
}

// Small pieces of many decodes kept long after their trees are gone, as notifications waiting their
// turn are: they hold their own size, not a block of storage each.
TEST(Value, DetachedCopiesOfManySmallTreesHoldOnlyThemselves) {
  constexpr int kTrees = 40000;  // a block each would be over 300 MB
  std::vector<Value> kept;
  kept.reserve(kTrees);
  const long before = residentKB();
  for (int i = 0; i < kTrees; ++i) {
    ValueStorageScope scope;
    Value tree(Dictionary{{"aps", Value(Dictionary{{"alert", Value("x")}})}, {"id", Value(i)}});
    kept.push_back(detached(tree));
  }
  EXPECT_LT(residentKB() - before, 100 * 1024);
  EXPECT_EQ(kept.back()["id"].intValue(), kTrees - 1);
}

}  // namespace
}  // namespace os
