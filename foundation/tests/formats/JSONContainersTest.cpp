#include <gtest/gtest.h>

#include <algorithm>

#include "foundation/formats/JSONTideDeserializing.h"
#include "foundation/formats/JTArray.h"
#include "foundation/formats/JTDictionary.h"

namespace {

std::shared_ptr<JTArray> parsedArray(std::string_view text, bool mutableResult) {
  auto v = objectFromJSONString(text);
  EXPECT_TRUE(v);
  return JTArray::fromValue(*v, mutableResult);
}

template <class F>
os::Exception thrown(F f) {
  try {
    f();
  } catch (const os::Exception& e) {
    return e;
  }
  ADD_FAILURE() << "no exception";
  return os::Exception("", "");
}

TEST(JTArray, ImmutableArrayRefusesChangesAndCopiesToItself) {
  auto a = parsedArray("[1,2,3]", false);
  EXPECT_EQ(a->mutations(), 0u);
  os::Exception e = thrown([&] { a->insertObject(4, 0); });
  EXPECT_EQ(e.name(), "NSInternalInconsistencyException");
  EXPECT_EQ(e.reason(), "*** -[JTArray insertObject:atIndex:]: mutating method sent to immutable object");
  EXPECT_THROW(a->removeObjectAtIndex(0), os::Exception);
  EXPECT_THROW(a->replaceObjectAtIndex(0, 9), os::Exception);
  EXPECT_EQ(a->copy().get(), a.get());
  EXPECT_EQ(a->count(), 3u);
}

TEST(JTArray, MutableArrayGrowsSixteenAtATimeAndCountsMutations) {
  auto a = parsedArray("[1,2,3]", true);
  EXPECT_EQ(a->capacity(), 3u);
  EXPECT_EQ(a->mutations(), 1u);
  a->insertObject("x", 1);
  EXPECT_EQ(a->capacity(), 19u);
  EXPECT_EQ(a->mutations(), 2u);
  EXPECT_EQ(a->objectAtIndex(1).stringOr(), "x");
  EXPECT_EQ(a->objectAtIndex(2).intValue(), 2);
  a->removeObjectAtIndex(0);
  a->replaceObjectAtIndex(0, "y");
  EXPECT_EQ(a->toValue(), os::Value(os::Array{"y", 2, 3}));
  auto copy = a->copy();
  EXPECT_NE(copy.get(), a.get());
  EXPECT_FALSE(copy->isMutable());
  EXPECT_EQ(copy->toValue(), a->toValue());
}

TEST(JTArray, BoundsAreChecked) {
  auto a = parsedArray("[1,2,3]", true);
  os::Exception e = thrown([&] { a->objectAtIndex(3); });
  EXPECT_EQ(e.name(), "NSRangeException");
  EXPECT_EQ(e.reason(), "*** -[JTArray objectAtIndex:]: index (3) beyond bounds (3)");
  EXPECT_EQ(thrown([&] { a->insertObject(0, 5); }).reason(),
            "*** -[JTArray insertObject:atIndex:]: index (5) beyond bounds (4)");
  EXPECT_EQ(thrown([&] { a->getObjects(nullptr, 0, 2); }).reason(),
            "*** -[JTArray getObjects:range:]: pointer to objects array is NULL but range length is 2");
  os::Value out[2];
  EXPECT_THROW(a->getObjects(out, 2, 2), os::Exception);
  a->getObjects(out, 1, 2);
  EXPECT_EQ(out[0].intValue(), 2);
  EXPECT_EQ(out[1].intValue(), 3);
}

TEST(JTArray, ChangingWhileEnumeratingThrows) {
  auto a = parsedArray("[1,2,3]", true);
  long sum = 0;
  for (const os::Value& v : *a) sum += v.intValue();
  EXPECT_EQ(sum, 6);
  EXPECT_THROW(
      {
        for (const os::Value& v : *a)
          if (v.intValue() == 1) a->removeObjectAtIndex(0);
      },
      os::Exception);
}

TEST(JTDictionary, LookupsCopiesAndMutability) {
  auto v = objectFromJSONString(R"({"a":1,"b":2,"a":3})");
  ASSERT_TRUE(v);
  auto d = JTDictionary::fromValue(*v, false);
  EXPECT_EQ(d->count(), 2u);
  EXPECT_EQ(d->objectForKey("a")->intValue(), 3);
  EXPECT_EQ(d->objectForKey("zz"), nullptr);
  EXPECT_EQ(d->copy().get(), d.get());
  EXPECT_EQ(thrown([&] { d->setObject(1, "c"); }).reason(),
            "*** -[JTDictionary setObject:forKey:]: mutating method sent to immutable object");
  EXPECT_THROW(d->removeObjectForKey("a"), os::Exception);
  EXPECT_EQ(os::Value(d->mutableCopy()), *v);
}

TEST(JTDictionary, CapacityRule) {
  EXPECT_EQ(JTDictionary::capacityForCount(0), 0u);
  EXPECT_EQ(JTDictionary::capacityForCount(3), 3u);
  EXPECT_EQ(JTDictionary::capacityForCount(4), 7u);
  EXPECT_EQ(JTDictionary::capacityForCount(100), 191u);
}

TEST(JTDictionary, RemovingFromProbeChainsKeepsEveryMemberFindable) {
  auto d = JTDictionary::dictionaryWithMembers({}, true);
  EXPECT_EQ(d->capacity(), 0u);
  for (int i = 0; i < 200; ++i) d->setObject(i, "k" + std::to_string(i));
  EXPECT_EQ(d->count(), 200u);
  for (int i = 0; i < 200; i += 3) d->removeObjectForKey("k" + std::to_string(i));
  for (int i = 0; i < 200; ++i) {
    const os::Value* found = d->objectForKey("k" + std::to_string(i));
    if (i % 3 == 0) {
      EXPECT_EQ(found, nullptr) << i;
    } else {
      ASSERT_NE(found, nullptr) << i;
      EXPECT_EQ(found->intValue(), i);
    }
  }
  EXPECT_EQ(d->count(), 133u);
  // A full table (three members in three slots) loses nothing on removal either.
  auto full = JTDictionary::dictionaryWithMembers({{"x", 1}, {"y", 2}, {"z", 3}}, true);
  EXPECT_EQ(full->capacity(), 3u);
  full->removeObjectForKey("y");
  EXPECT_EQ(full->objectForKey("x")->intValue(), 1);
  EXPECT_EQ(full->objectForKey("z")->intValue(), 3);
}

TEST(JTDictionary, EnumerationAgreesAcrossForms) {
  auto d = JTDictionary::dictionaryWithMembers({{"x", 1}, {"y", 2}, {"z", 3}, {"w", 4}}, true);
  std::vector<std::string> iterated(d->begin(), d->end());
  auto e = d->keyEnumerator();
  d.reset();  // the enumerator keeps the dictionary alive
  d = JTDictionary::dictionaryWithMembers({{"x", 1}, {"y", 2}, {"z", 3}, {"w", 4}}, true);
  auto first = e->nextObject();
  ASSERT_TRUE(first);
  EXPECT_EQ(*first, iterated[0]);
  std::vector<std::string> rest = e->allObjects();
  EXPECT_EQ(rest, std::vector<std::string>(iterated.begin() + 1, iterated.end()));
  EXPECT_FALSE(e->nextObject());
  EXPECT_EQ(d->allKeys(), iterated);
  std::vector<std::string> keys(4);
  std::vector<os::Value> objects(4);
  d->getObjects(objects.data(), keys.data());
  EXPECT_EQ(keys, iterated);
  for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(*d->objectForKey(keys[i]), objects[i]);
  std::sort(iterated.begin(), iterated.end());
  EXPECT_EQ(iterated, (std::vector<std::string>{"w", "x", "y", "z"}));
  EXPECT_THROW(
      {
        for (const std::string& k : *d) d->setObject(0, k + "2");
      },
      os::Exception);
}

}  // namespace
