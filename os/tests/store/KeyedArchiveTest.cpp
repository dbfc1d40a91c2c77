#include <gtest/gtest.h>

#include <algorithm>

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
      {"more keys than objects",
       archiveFrom(Value(Array{Value("$null"),
                               Value(Dictionary{{"keys", Value(Array{uidValue(3)})}, {"objects", Value(Array{})},
                                                {"$class", uidValue(2)}}),
                               dictClass, Value("k")}))},
      {"fewer keys than objects",
       archiveFrom(Value(Array{Value("$null"),
                               Value(Dictionary{{"keys", Value(Array{uidValue(3)})},
                                                {"objects", Value(Array{uidValue(3), uidValue(3)})},
                                                {"$class", uidValue(2)}}),
                               dictClass, Value("k")}))},
      {"member one past the objects",
       archiveFrom(Value(Array{Value("$null"),
                               Value(Dictionary{{"keys", Value(Array{uidValue(3)})}, {"objects", Value(Array{uidValue(4)})},
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

// An archive whose root is a chain of `n` accounts, each the friend of the one before, written by
// hand: the property-list writer takes far too long over a million objects.
Data chainArchive(std::uint32_t n) {
  Data out{'b', 'p', 'l', 'i', 's', 't', '0', '0'};
  std::vector<std::uint64_t> offsets;
  auto be = [&](std::uint64_t v, int bytes) {
    for (int b = bytes - 1; b >= 0; --b) out.push_back(static_cast<std::uint8_t>(v >> (8 * b)));
  };
  auto begin = [&] {
    offsets.push_back(out.size());
    return static_cast<std::uint32_t>(offsets.size() - 1);
  };
  auto text = [&](const std::string& s) {  // every name here is shorter than 15
    std::uint32_t at = begin();
    out.push_back(static_cast<std::uint8_t>(0x50 | s.size()));
    out.insert(out.end(), s.begin(), s.end());
    return at;
  };
  auto uid = [&](std::uint32_t v) {
    std::uint32_t at = begin();
    out.push_back(0x82);
    be(v, 3);
    return at;
  };
  auto container = [&](std::uint8_t kind, const std::vector<std::uint32_t>& refs, std::size_t count) {
    std::uint32_t at = begin();
    out.push_back(static_cast<std::uint8_t>(kind | 0x0F));
    out.push_back(0x12);
    be(count, 4);
    for (auto r : refs) be(r, 3);
    return at;
  };
  auto dict = [&](std::vector<std::uint32_t> keys, const std::vector<std::uint32_t>& values) {
    keys.insert(keys.end(), values.begin(), values.end());
    return container(0xD0, keys, values.size());
  };
  const std::uint32_t kClass = text("$class"), kFriend = text("friend"), kNull = text("$null");
  const std::uint32_t kClassName = text("$classname"), kAccount = text("TestAccount"), kClasses = text("$classes");
  const std::uint32_t classInfo = dict({kClassName, kClasses}, {kAccount, container(0xA0, {}, 0)});
  const std::uint32_t classRef = uid(1);
  std::vector<std::uint32_t> table{kNull, classInfo};
  out.reserve(std::size_t{n} * 30 + 1024);
  offsets.reserve(std::size_t{n} * 2 + 32);
  table.reserve(std::size_t{n} + 2);
  for (std::uint32_t i = 0; i < n; ++i) {
    std::uint32_t next = uid(i + 1 < n ? i + 3 : 0);
    table.push_back(begin());
    out.push_back(0xD2);  // {"$class": the class, "friend": the next}
    for (std::uint32_t ref : {kClass, kFriend, classRef, next}) be(ref, 3);
  }
  const std::uint32_t objects = container(0xA0, table, table.size());
  const std::uint32_t archiver = text("$archiver"), name = text(kKeyedArchiverName), version = text("$version");
  const std::uint32_t number = begin();
  out.insert(out.end(), {0x12, 0x00, 0x01, 0x86, 0xA0});
  const std::uint32_t topKey = text("$top"), root = text("root"), rootRef = uid(2), objectsKey = text("$objects");
  const std::uint32_t topEntries = dict({root}, {rootRef});
  const std::uint32_t top = dict({archiver, version, topKey, objectsKey}, {name, number, topEntries, objects});
  const std::uint64_t tableOffset = out.size();
  for (auto o : offsets) be(o, 4);
  out.insert(out.end(), {0, 0, 0, 0, 0, 0, 4, 3});
  be(offsets.size(), 8);
  be(top, 8);
  be(tableOffset, 8);
  return out;
}

TEST(StoreKeyedArchive, HostileSizesAreRefusedBeforeAnythingIsMade) {
  Error error;
  // A million nested objects: too many for the object table, seen before anything is parsed.
  EXPECT_FALSE(KeyedUnarchiver::unarchiveObject(chainArchive(1000000), registry(), kKeyedArchiveRootKey, &error));
  EXPECT_EQ(error.code, kKeyedArchiveLimitError);
  EXPECT_NE(error.localizedDescription().find("1000002 objects"), std::string::npos);
  // With room for the objects, a chain too deep to follow.
  EXPECT_FALSE(KeyedUnarchiver::unarchiveObject(chainArchive(5000), registry(), kKeyedArchiveRootKey, &error));
  EXPECT_EQ(error.code, kKeyedArchiveLimitError);
  EXPECT_NE(error.localizedDescription().find("deeper"), std::string::npos);
  KeyedArchiveLimits few;
  few.maxObjects = 100;
  few.maxBytes = 1 << 20;
  EXPECT_FALSE(KeyedUnarchiver::unarchiveObject(chainArchive(200), registry(), kKeyedArchiveRootKey, &error, few));
  EXPECT_EQ(error.code, kKeyedArchiveLimitError);
  EXPECT_TRUE(KeyedUnarchiver::unarchiveObject(chainArchive(200), registry()));

  // More bytes than the unarchiver takes.
  auto icon = std::make_shared<Icon>();
  icon->bytes = Data(70000, 'A');
  Data big = *KeyedArchiver::archivedData(icon);
  KeyedArchiveLimits small;
  small.maxBytes = 64 * 1024;
  EXPECT_FALSE(KeyedUnarchiver::unarchiveObject(big, registry(), kKeyedArchiveRootKey, &error, small));
  EXPECT_EQ(error.code, kKeyedArchiveLimitError);

  // A data object that claims 100 MB in an archive of 70 KB.
  const std::uint8_t marker[] = {0x4F, 0x12, 0x00, 0x01, 0x11, 0x70};  // data, 4-byte count 70000
  auto at = std::search(big.begin(), big.end(), std::begin(marker), std::end(marker));
  ASSERT_NE(at, big.end());
  const std::uint8_t claim[] = {0x06, 0x40, 0x00, 0x00};  // 100 MB
  std::copy(std::begin(claim), std::end(claim), at + 2);
  EXPECT_FALSE(KeyedUnarchiver::unarchiveObject(big, registry(), kKeyedArchiveRootKey, &error));
  EXPECT_EQ(error.code, kKeyedArchiveReadCorruptError);
}

// A store that reads its archives back with limits of its own writes only what those limits take,
// and reads whatever it wrote: the nodes the list expands to included.
TEST(StoreKeyedArchive, WrittenForLimitsItIsReadWithThem) {
  Array records;
  for (int i = 0; i < 2000; ++i) records.push_back(Value(Dictionary{{"itime", Value(i)}, {"type", Value("msg_status")}}));
  const ArchiveItem root{Value(records)};
  Error error;
  auto plain = KeyedArchiver::archivedData(root);
  ASSERT_TRUE(plain);

  // The nodes of the list, far more than its objects, are the caller's to allow.
  KeyedArchiveLimits own;
  own.maxObjects = 20000;
  own.maxNodes = 20000;
  EXPECT_FALSE(KeyedUnarchiver::unarchiveValue(*plain, kKeyedArchiveRootKey, &error, own));
  EXPECT_NE(error.localizedDescription().find("20000 nodes"), std::string::npos) << error.localizedDescription();
  own.maxNodes = own.maxBytes;
  auto archive = KeyedArchiver::archivedData(root, kKeyedArchiveRootKey, &error, &own);
  ASSERT_TRUE(archive) << error.localizedDescription();
  EXPECT_EQ(KeyedUnarchiver::unarchiveValue(*archive, kKeyedArchiveRootKey, &error, own), Value(records));

  // Past any of them, nothing is made, and the error names the limit.
  for (auto tighten : {+[](KeyedArchiveLimits& l) { l.maxObjects = 3000; }, +[](KeyedArchiveLimits& l) { l.maxBytes = 30000; },
                       +[](KeyedArchiveLimits& l) { l.maxNodes = 10000; }}) {
    KeyedArchiveLimits tight = own;
    tighten(tight);
    EXPECT_FALSE(KeyedUnarchiver::unarchiveValue(*archive, kKeyedArchiveRootKey, nullptr, tight));
    EXPECT_FALSE(KeyedArchiver::archivedData(root, kKeyedArchiveRootKey, &error, &tight));
    EXPECT_EQ(error.code, kKeyedArchiveLimitError);
    EXPECT_NE(error.localizedDescription().find("its reader takes"), std::string::npos) << error.localizedDescription();
  }
}

// The archiver as an instance builds the whole archive as a tree before writing it; the plain
// values a store saves are written straight into the list. Earlier files and their readers know
// only the first form, so the two must be the same bytes, errors alike.
std::optional<Data> archivedThroughTheTree(const Value& root, const std::string& key, Error* error,
                                           const KeyedArchiveLimits* readBy = nullptr) {
  KeyedArchiver archiver;
  archiver.encodeObject(root, key);
  return archiver.finishEncoding(error, readBy);
}

Value randomPlainValue(int depth) {
  static const char* const texts[] = {"", "a", "keys", "objects", "$class", "$null", "$classname", "os.Object",
                                      "os.Dictionary", "root", "time", "\xE4\xB8\xAD\xE6\x96\x87", "KeyedArchiver",
                                      "msg_status", "0123456789abcdef0123456789abcdef"};
  const std::uint32_t kind = randomUniform(depth > 3 ? 8 : 11);
  switch (kind) {
    case 0: return Value(randomUniform(2) == 1);
    case 1: return Value::number('q', static_cast<long long>(random32()) - (randomUniform(2) ? 1LL << 31 : -100000));
    case 2: return Value::unsignedNumber('Q', (std::uint64_t{random32()} << 32 | random32()) | std::uint64_t{1} << 63);
    case 3: return Value(static_cast<double>(randomUniform(1000)) / 8);
    case 4: return Value(texts[randomUniform(std::size(texts))]);
    case 5: return Value(Data(randomUniform(20), static_cast<std::uint8_t>(random32())));
    case 6: return Value(Date::fromTimeIntervalSince1970(1700000000.0 + randomUniform(4)));
    case 7: return Value(std::to_string(randomUniform(50)));
    case 8:
    case 9: {
      Array items;
      for (std::uint32_t i = randomUniform(6); i > 0; --i) items.push_back(randomPlainValue(depth + 1));
      return kind == 8 ? Value(std::move(items)) : Value::set(std::move(items));
    }
    default: {
      Dictionary entries;
      for (std::uint32_t i = randomUniform(24); i > 0; --i)
        entries.set(texts[randomUniform(std::size(texts))] + std::to_string(randomUniform(30)),
                    randomPlainValue(depth + 1));
      // Removed entries leave places behind in a large dictionary.
      for (std::uint32_t i = randomUniform(3); i > 0 && !entries.empty(); --i)
        entries.remove(entries.keys()[randomUniform(static_cast<std::uint32_t>(entries.size()))]);
      return Value(std::move(entries));
    }
  }
}

TEST(StoreKeyedArchive, PlainValuesAreWrittenAsTheArchiverWritesTheirTree) {
  SeededRandomScope seeded(7);
  std::vector<Value> roots{
      plainGraph(), Value(), Value("only text"), Value(100000), Value(Array{}), Value(Dictionary{}),
      Value(Array{Value(Date::fromTimeIntervalSince1970(1)), Value(Array{Value(1)}), Value::set({Value(1)})})};
  // A report cache in the client's layout, past the sizes where references widen.
  Dictionary records;
  for (int i = 0; i < 12000; ++i)
    records.set(std::to_string(9007199254740993ull + i / 3) + "." + std::to_string(i % 3),
                Value(Dictionary{
                    {"itime", Value(1700000000 + i)}, {"type", Value("msg_status")}, {"result", Value(2001)}}));
  roots.push_back(Value(Dictionary{{"__DUVHistroyCache", Value(Dictionary{{"cacheObjects", Value(records)}})}}));
  for (int i = 0; i < 200; ++i) roots.push_back(randomPlainValue(0));
  for (const Value& root : roots) {
    for (const std::string key : {"root", "keys"}) {
      Error direct, tree;
      auto written = KeyedArchiver::archivedData(root, key, &direct);
      auto expected = archivedThroughTheTree(root, key, &tree);
      ASSERT_TRUE(written && expected) << direct.localizedDescription() << " / " << tree.localizedDescription();
      ASSERT_EQ(*written, *expected) << root.description().substr(0, 400);
    }
  }
  auto back = KeyedUnarchiver::unarchiveValue(*KeyedArchiver::archivedData(roots[7]), kKeyedArchiveRootKey, nullptr,
                                              {.maxBytes = 64 << 20, .maxObjects = 1 << 20});
  EXPECT_EQ(back, roots[7]);

  // What cannot be written fails alike: text no list holds, nesting past the archiver's depth,
  // and each limit of the reader the archive is written for.
  Value deep(Array{});
  for (int i = 0; i < 300; ++i) deep = Value(Array{deep});
  KeyedArchiveLimits fewObjects{.maxObjects = 10}, fewBytes{.maxBytes = 2000}, fewNodes{.maxNodes = 1500};
  struct Failing {
    Value root;
    const KeyedArchiveLimits* readBy;
  };
  for (const auto& [root, readBy] : {Failing{Value(Dictionary{{"bad", Value(std::string("a\0b", 3))}}), nullptr},
                                     Failing{Value(Array{Value(std::string("\xFF"))}), nullptr}, Failing{deep, nullptr},
                                     Failing{roots[0], &fewObjects}, Failing{roots[7], &fewObjects},
                                     Failing{roots[7], &fewBytes}, Failing{roots[7], &fewNodes}}) {
    Error direct, tree;
    EXPECT_FALSE(KeyedArchiver::archivedData(root, kKeyedArchiveRootKey, &direct, readBy));
    EXPECT_FALSE(archivedThroughTheTree(root, kKeyedArchiveRootKey, &tree, readBy));
    EXPECT_EQ(direct.code, tree.code);
    EXPECT_EQ(direct.localizedDescription(), tree.localizedDescription());
    EXPECT_FALSE(direct.localizedDescription().empty());
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
