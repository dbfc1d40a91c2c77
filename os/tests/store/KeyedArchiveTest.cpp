#include <gtest/gtest.h>

#include "os/crypto/Random.h"
#include "os/store/KeyedArchive.h"
#include "os/store/PropertyList.h"

namespace os {
namespace {

struct Icon : Archivable {
  std::string name;
  Data bytes;
  std::vector<std::string> archiveClassNames() const override { return {"TestIcon", "TestObject"}; }
  void encodeWithCoder(KeyedArchiver& coder) const override {
    coder.encodeObject(Value(name), "name");
    coder.encodeObject(Value(bytes), "bytes");
  }
  static std::shared_ptr<Archivable> decode(KeyedUnarchiver& coder) {
    auto icon = std::make_shared<Icon>();
    icon->name = coder.decodeString("name").value_or("");
    icon->bytes = coder.decodeData("bytes").value_or(Data{});
    return icon;
  }
};

struct Account : Archivable {
  std::string platform;
  std::int32_t count = 0;
  std::int64_t big = 0;
  bool flag = false;
  double score = 0;
  Date expiry;
  std::string url;
  std::shared_ptr<Icon> icon;
  std::shared_ptr<Account> friendAccount;
  std::vector<std::shared_ptr<Icon>> gallery;
  Value extra;
  std::vector<std::string> archiveClassNames() const override { return {"TestAccount", "TestObject"}; }
  void encodeWithCoder(KeyedArchiver& coder) const override {
    coder.encodeObject(Value(platform), "platform");
    coder.encodeInt(count, "count");
    coder.encodeInt64(big, "big");
    coder.encodeBool(flag, "flag");
    coder.encodeDouble(score, "score");
    coder.encodeObject(Value(expiry), "expiry");
    coder.encodeObject(ArchiveItem::url(url), "url");
    coder.encodeObject(icon, "icon");
    coder.encodeObject(friendAccount, "friend");
    std::vector<ArchiveItem> items(gallery.begin(), gallery.end());
    coder.encodeObject(ArchiveItem::array(items), "gallery");
    coder.encodeObject(extra, "extra");
  }
  static std::shared_ptr<Archivable> decode(KeyedUnarchiver& coder) {
    auto a = std::make_shared<Account>();
    a->platform = coder.decodeString("platform").value_or("");
    a->count = coder.decodeInt("count");
    a->big = coder.decodeInt64("big");
    a->flag = coder.decodeBool("flag");
    a->score = coder.decodeDouble("score");
    if (auto d = coder.decodeValue("expiry")) a->expiry = d->date().value_or(Date());
    ArchiveItem url = coder.decodeObject("url");
    if (url.urlString()) a->url = *url.urlString();
    a->icon = coder.decodeObject("icon").objectAs<Icon>();
    a->friendAccount = coder.decodeObject("friend").objectAs<Account>();
    ArchiveItem gallery = coder.decodeObject("gallery");
    if (gallery.elements())
      for (const ArchiveItem& e : *gallery.elements()) a->gallery.push_back(e.objectAs<Icon>());
    a->extra = coder.decodeValue("extra").value_or(Value());
    return a;
  }
};

ArchiveClassRegistry registry() {
  return ArchiveClassRegistry().add("TestAccount", Account::decode).add("TestIcon", Icon::decode);
}

Value plainGraph() {
  return Value(Dictionary{
      {"SharedUDID", Value("0123456789abcdef0123456789abcdef01234567")},
      {"SharedUDID_createdTS", Value(Date::fromTimeIntervalSince1970(1700000000.5))},
      {"count", Value(3)},
      {"negative", Value::number('q', -9000000000LL)},
      {"ratio", Value(0.25)},
      {"on", Value(true)},
      {"blob", Value(Data{1, 2, 3})},
      {"empty", Value(Data{})},
      {"list", Value(Array{Value("a"), Value(Dictionary{{"b", Value(2)}}), Value(Array{})})},
      {"tags", Value::set({Value("x"), Value("y")})},
      {"repeated", Value(Array{Value("same"), Value("same")})},
  });
}

TEST(StoreKeyedArchive, PlainValuesRoundTripInTheUsualLayout) {
  Error error;
  auto data = KeyedArchiver::archivedData(plainGraph(), kKeyedArchiveRootKey, &error);
  ASSERT_TRUE(data) << error.localizedDescription();
  EXPECT_TRUE(PropertyList::isBinary(*data));

  auto back = KeyedUnarchiver::unarchiveValue(*data, kKeyedArchiveRootKey, &error);
  ASSERT_TRUE(back) << error.localizedDescription();
  EXPECT_EQ(*back, plainGraph());
  EXPECT_TRUE((*back)["on"].isBool());
  EXPECT_TRUE((*back)["ratio"].isFloatingPoint());
  EXPECT_TRUE((*back)["tags"].isSet());
  EXPECT_EQ((*back)["SharedUDID_createdTS"].date()->timeIntervalSince1970(), 1700000000.5);
  EXPECT_TRUE((*back)["empty"].isData());

  auto raw = PropertyList::read(*data);
  ASSERT_TRUE(raw);
  EXPECT_EQ((*raw)["$archiver"], Value(kKeyedArchiverName));
  EXPECT_EQ((*raw)["$version"].intValue(), 100000);
  EXPECT_EQ(uidIndex((*raw)["$top"]["root"]), 1u);
  const Value& objects = (*raw)["$objects"];
  EXPECT_EQ(objects.at(0), Value("$null"));
  const Value& rootObject = objects.at(1);
  auto classRef = uidIndex(rootObject["$class"]);
  ASSERT_TRUE(classRef);
  EXPECT_EQ(objects.at(*classRef)["$classname"], Value(kArchiveDictionaryClass));
  EXPECT_TRUE(objects.at(*classRef)["$classes"].isArray());
  EXPECT_EQ(rootObject["keys"].count(), plainGraph().count());
}

TEST(StoreKeyedArchive, ArchivableObjectsRoundTripThroughTheirCoders) {
  auto icon = std::make_shared<Icon>();
  icon->name = "icon.png";
  icon->bytes = Data{9, 8, 7};
  auto buddy = std::make_shared<Account>();
  buddy->platform = "qzone";
  auto a = std::make_shared<Account>();
  a->platform = "sina";
  a->count = -42;
  a->big = 1LL << 40;
  a->flag = true;
  a->score = 2.5;
  a->expiry = Date::fromTimeIntervalSince1970(1800000000);
  a->url = "http://example.com/p?q=1";
  a->icon = icon;
  a->friendAccount = buddy;
  a->gallery = {icon, icon};
  a->extra = Value(Dictionary{{"k", Value("v")}});

  Error error;
  auto data = KeyedArchiver::archivedData(ArchiveItem::dictionary({{"sina", a}, {"plain", Value(1)}}), "object", &error);
  ASSERT_TRUE(data) << error.localizedDescription();
  auto item = KeyedUnarchiver::unarchiveObject(*data, registry(), "object", &error);
  ASSERT_TRUE(item) << error.localizedDescription();
  ASSERT_TRUE(item->entries());
  EXPECT_FALSE(item->toValue());  // holds objects, so it stays an item tree
  auto back = item->entries()->at(0).second.objectAs<Account>();
  ASSERT_TRUE(back);
  EXPECT_EQ(back->platform, "sina");
  EXPECT_EQ(back->count, -42);
  EXPECT_EQ(back->big, 1LL << 40);
  EXPECT_TRUE(back->flag);
  EXPECT_EQ(back->score, 2.5);
  EXPECT_EQ(back->expiry, a->expiry);
  EXPECT_EQ(back->url, a->url);
  ASSERT_TRUE(back->icon);
  EXPECT_EQ(back->icon->bytes, icon->bytes);
  ASSERT_TRUE(back->friendAccount);
  EXPECT_EQ(back->friendAccount->platform, "qzone");
  // One object met three times is decoded once and shared.
  ASSERT_EQ(back->gallery.size(), 2u);
  EXPECT_EQ(back->gallery[0], back->icon);
  EXPECT_EQ(back->gallery[1], back->icon);
  EXPECT_EQ(back->extra, a->extra);
  EXPECT_EQ(*item->entries()->at(1).second.value(), Value(1));
  // The friend was archived without a friend, icon or URL of its own.
  EXPECT_FALSE(back->friendAccount->friendAccount);
  EXPECT_FALSE(back->friendAccount->icon);
  EXPECT_EQ(back->friendAccount->count, 0);
}

TEST(StoreKeyedArchive, MissingKeysDecodeAsZeroAndAbsent) {
  KeyedArchiver archiver;
  archiver.encodeInt(5, "present");
  auto data = archiver.finishEncoding();
  ASSERT_TRUE(data);
  KeyedUnarchiver coder(*data);
  EXPECT_FALSE(coder.error());
  EXPECT_EQ(coder.decodeInt("present"), 5);
  EXPECT_EQ(coder.decodeInt("missing"), 0);
  EXPECT_FALSE(coder.decodeBool("missing"));
  EXPECT_TRUE(coder.decodeObject("missing").isNull());
  EXPECT_FALSE(coder.decodeString("present"));
  EXPECT_FALSE(coder.containsValueForKey("missing"));
  EXPECT_FALSE(coder.error());
}

TEST(StoreKeyedArchive, ClassOutsideTheAllowListIsAnError) {
  auto icon = std::make_shared<Icon>();
  auto data = KeyedArchiver::archivedData(ArchiveItem::array({Value("fine"), icon}));
  ASSERT_TRUE(data);
  Error error;
  EXPECT_FALSE(KeyedUnarchiver::unarchiveObject(*data, ArchiveClassRegistry().add("TestAccount", Account::decode),
                                                kKeyedArchiveRootKey, &error));
  EXPECT_EQ(error.domain, kKeyedArchiveErrorDomain);
  EXPECT_EQ(error.code, kKeyedArchiveUnknownClassError);
  EXPECT_NE(error.localizedDescription().find("TestIcon"), std::string::npos);
  // Plain-value decoding has no classes at all.
  EXPECT_FALSE(KeyedUnarchiver::unarchiveValue(*data, kKeyedArchiveRootKey, &error));
}

struct FancyIcon : Icon {
  std::vector<std::string> archiveClassNames() const override { return {"FancyIcon", "TestIcon", "TestObject"}; }
};

TEST(StoreKeyedArchive, SubstitutionCanDecodeAsAKnownAncestor) {
  auto fancy = std::make_shared<FancyIcon>();
  fancy->name = "fancy";
  auto data = KeyedArchiver::archivedData(fancy);
  ASSERT_TRUE(data);
  ArchiveClassRegistry known = ArchiveClassRegistry().add("TestIcon", Icon::decode);
  EXPECT_FALSE(KeyedUnarchiver::unarchiveObject(*data, known));

  KeyedUnarchiver coder(*data, known);
  std::vector<std::string> asked;
  coder.setClassSubstitution([&](const std::vector<std::string>& names) -> std::optional<std::string> {
    asked = names;
    for (const std::string& n : names)
      if (known.find(n)) return n;
    return std::nullopt;
  });
  auto icon = coder.decodeObject(kKeyedArchiveRootKey).objectAs<Icon>();
  ASSERT_TRUE(icon);
  EXPECT_FALSE(coder.error());
  EXPECT_EQ(icon->name, "fancy");
  EXPECT_EQ(asked, (std::vector<std::string>{"FancyIcon", "TestIcon", "TestObject"}));
}

TEST(StoreKeyedArchive, CyclesAreWrittenButRefusedOnReading) {
  auto a = std::make_shared<Account>();
  auto b = std::make_shared<Account>();
  a->friendAccount = b;
  b->friendAccount = a;
  auto data = KeyedArchiver::archivedData(a);
  a->friendAccount.reset();  // break the cycle so the test does not leak
  ASSERT_TRUE(data);
  Error error;
  EXPECT_FALSE(KeyedUnarchiver::unarchiveObject(*data, registry(), kKeyedArchiveRootKey, &error));
  EXPECT_EQ(error.code, kKeyedArchiveReadCorruptError);
}

Data archiveFrom(Value objects, Value top = Value(Dictionary{{"root", uidValue(1)}})) {
  Dictionary archive{{"$archiver", Value(kKeyedArchiverName)},
                     {"$version", Value(100000)},
                     {"$top", std::move(top)},
                     {"$objects", std::move(objects)}};
  return *PropertyList::write(Value(std::move(archive)), PropertyListFormat::Binary, nullptr, true);
}

TEST(StoreKeyedArchive, MalformedArchivesAreErrorsNotCrashes) {
  Value dictClass(Dictionary{{"$classname", Value(kArchiveDictionaryClass)}, {"$classes", Value(Array{})}});
  std::vector<std::pair<const char*, Data>> cases = {
      {"not a property list", dataFromString("garbage")},
      {"a property list but no archive", *PropertyList::write(Value(Array{Value(1)}), PropertyListFormat::Binary)},
      {"no root key", archiveFrom(Value(Array{Value("$null"), Value(1)}), Value(Dictionary{}))},
      {"reference past the objects", archiveFrom(Value(Array{Value("$null")}))},
      {"object without a class", archiveFrom(Value(Array{Value("$null"), Value(Dictionary{{"x", Value(1)}})}))},
      {"class reference to a number",
       archiveFrom(Value(Array{Value("$null"), Value(Dictionary{{"$class", uidValue(0)}})}))},
      {"keys and objects differ",
       archiveFrom(Value(Array{Value("$null"),
                               Value(Dictionary{{"keys", Value(Array{uidValue(3)})}, {"objects", Value(Array{})},
                                                {"$class", uidValue(2)}}),
                               dictClass, Value("k")}))},
      {"key that is not text",
       archiveFrom(Value(Array{Value("$null"),
                               Value(Dictionary{{"keys", Value(Array{uidValue(3)})}, {"objects", Value(Array{uidValue(3)})},
                                                {"$class", uidValue(2)}}),
                               dictClass, Value(5)}))},
      {"collection holding itself",
       archiveFrom(Value(Array{Value("$null"),
                               Value(Dictionary{{"keys", Value(Array{uidValue(3)})}, {"objects", Value(Array{uidValue(1)})},
                                                {"$class", uidValue(2)}}),
                               dictClass, Value("self")}))},
  };
  for (const auto& [what, data] : cases) {
    Error error;
    EXPECT_FALSE(KeyedUnarchiver::unarchiveObject(data, registry(), kKeyedArchiveRootKey, &error)) << what;
    EXPECT_EQ(error.domain, kKeyedArchiveErrorDomain) << what;
  }
}

TEST(StoreKeyedArchive, RandomlyDamagedArchivesNeverCrash) {
  SeededRandomScope seeded(99);
  auto a = std::make_shared<Account>();
  a->platform = "wechat";
  a->icon = std::make_shared<Icon>();
  a->extra = plainGraph();
  auto good = KeyedArchiver::archivedData(a);
  ASSERT_TRUE(good);
  for (int round = 0; round < 400; ++round) {
    Data d = *good;
    d[randomUniform(static_cast<std::uint32_t>(d.size()))] = static_cast<std::uint8_t>(random32());
    Error error;
    auto item = KeyedUnarchiver::unarchiveObject(d, registry(), kKeyedArchiveRootKey, &error);
    if (!item) {
      EXPECT_FALSE(error.domain.empty());
    }
  }
}

}  // namespace
}  // namespace os
