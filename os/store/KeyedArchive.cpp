#include "os/store/KeyedArchive.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "os/core/ByteReader.h"
#include "os/store/BinaryPropertyList.h"
#include "os/store/PropertyList.h"

namespace os {

namespace {

// How deep the archiver writes, and the most an unarchiver's limits may allow: decoding recurses.
constexpr int kMaxDepth = 256;
constexpr int kMaxDepthAllowed = 1024;

// The length of the "$objects" table of a binary archive, read from the bytes before any parsing, so
// a huge table is refused at once; nullopt when the layout is not the expected one (the parser then
// has its say).
std::optional<std::uint64_t> binaryObjectTableLength(const Data& data) {
  if (data.size() < 40 || std::string_view(reinterpret_cast<const char*>(data.data()), 6) != "bplist") return std::nullopt;
  ByteReader trailer(data.data() + data.size() - 32, 32);
  trailer.skip(6);
  const unsigned offsetSize = trailer.u8().value_or(0), refSize = trailer.u8().value_or(0);
  const std::uint64_t count = trailer.u64().value_or(0), top = trailer.u64().value_or(0);
  const std::uint64_t table = trailer.u64().value_or(0);
  if (offsetSize < 1 || offsetSize > 8 || refSize < 1 || refSize > 8 || top >= count || table > data.size() - 32 ||
      count > (data.size() - 32 - table) / offsetSize)
    return std::nullopt;
  ByteReader all(data);
  auto sized = [&](unsigned width) -> std::optional<std::uint64_t> {
    std::uint64_t v = 0;
    for (unsigned i = 0; i < width; ++i) {
      auto b = all.u8();
      if (!b) return std::nullopt;
      v = v << 8 | *b;
    }
    return v;
  };
  // Moves to object `index`; answers its marker and its element count.
  auto open = [&](std::uint64_t index) -> std::optional<std::pair<std::uint8_t, std::uint64_t>> {
    if (index >= count || !all.seek(static_cast<std::size_t>(table + index * offsetSize))) return std::nullopt;
    auto offset = sized(offsetSize);
    if (!offset || *offset >= table || !all.seek(static_cast<std::size_t>(*offset))) return std::nullopt;
    auto marker = all.u8();
    if (!marker) return std::nullopt;
    std::uint64_t n = *marker & 0x0F;
    if (n == 0x0F) {
      auto intMarker = all.u8();
      if (!intMarker || (*intMarker >> 4) != 0x1 || (*intMarker & 0x0F) > 3) return std::nullopt;
      auto wide = sized(1u << (*intMarker & 0x0F));
      if (!wide) return std::nullopt;
      n = *wide;
    }
    return std::pair{*marker, n};
  };
  auto root = open(top);
  if (!root || (root->first >> 4) != 0xD || root->second > 64) return std::nullopt;
  const std::size_t refs = all.position();
  for (std::uint64_t i = 0; i < root->second; ++i) {
    if (!all.seek(static_cast<std::size_t>(refs + i * refSize))) return std::nullopt;
    auto keyRef = sized(refSize);
    if (!all.seek(static_cast<std::size_t>(refs + (root->second + i) * refSize))) return std::nullopt;
    auto valueRef = sized(refSize);
    if (!keyRef || !valueRef) return std::nullopt;
    auto key = open(*keyRef);
    if (!key || (key->first >> 4) != 0x5 || key->second != 8 || all.text(8) != "$objects") continue;
    auto value = open(*valueRef);
    if (!value || (value->first >> 4) != 0xA) return std::nullopt;
    return value->second;
  }
  return std::nullopt;
}

// Every container of an archive's list is held once, so it expands to fewer nodes than its
// bytes: the bytes within both limits, so are the nodes.
std::size_t mostBytes(const KeyedArchiveLimits* readBy) {
  return readBy ? static_cast<std::size_t>(std::min<std::uint64_t>(readBy->maxBytes, readBy->maxNodes))
                : std::numeric_limits<std::size_t>::max();
}

std::string tooManyObjects(std::size_t objects, const KeyedArchiveLimits& readBy) {
  return "the archive lists " + std::to_string(objects) + " objects, more than the " +
         std::to_string(readBy.maxObjects) + " its reader takes";
}

std::string tooManyBytes(std::size_t bytes, const KeyedArchiveLimits* readBy) {
  return "the archive of " + std::to_string(bytes) + " bytes is larger than the " + std::to_string(mostBytes(readBy)) +
         " its reader takes";
}

// Archives of a plain value written straight into the binary list, object by object in the
// order finishEncoding writes the tree the archiver builds, so that the bytes are the same: a
// large cache made that tree of millions of small values, and writing it and freeing it again
// took most of the time of a save.
class PlainArchive {
 public:
  // Numbers the archive's objects as the archiver does; false where the archiver fails.
  bool encode(const Value& root) {
    objects_.push_back({nullptr, 0, 0, Kind::Null});
    root_ = encodeValue(root, 1);  // the root is encoded one level down, as encodeObject does
    return !failed_;
  }
  std::size_t objectCount() const { return objects_.size(); }
  // The list; absent when the writer refused something (the archiver then says what).
  std::optional<Data> write(const std::string& rootKey) const {
    BinaryPropertyListWriter w(true);
    w.expectUIDsBelow(objects_.size());
    std::uint64_t top = 0, number = 0;
    const std::size_t at = w.open(BinaryPropertyListWriter::kDictionaryMarker, 4, top);
    auto entry = [&](std::size_t i, const std::string& key, auto&& addValue) {
      if (!w.text(key, number)) return false;
      w.setReference(at + i, number);
      if (!addValue(number)) return false;
      w.setReference(at + 4 + i, number);
      return true;
    };
    static const std::string version = "$version", archiver = "$archiver", topKey = "$top", objectsKey = "$objects",
                             archiverName = kKeyedArchiverName;
    const bool written =
        entry(0, version, [&](std::uint64_t& n) { return w.add(Value::number('q', kKeyedArchiveVersion), 1, n); }) &&
        entry(1, archiver, [&](std::uint64_t& n) { return w.text(archiverName, n); }) &&
        entry(2, topKey, [&](std::uint64_t& n) {
          std::uint64_t key = 0, ref = 0;
          const std::size_t slots = w.open(BinaryPropertyListWriter::kDictionaryMarker, 1, n);
          if (!w.text(rootKey, key) || !w.uid(root_, ref)) return false;
          w.setReference(slots, key);
          w.setReference(slots + 1, ref);
          return true;
        }) &&
        entry(3, objectsKey, [&](std::uint64_t& n) {
          KeyNumbers keyNumbers;
          const std::size_t slots = w.open(BinaryPropertyListWriter::kArrayMarker, objects_.size(), n);
          for (std::size_t i = 0; i < objects_.size(); ++i) {
            std::uint64_t object = 0;
            if (!writeObject(w, objects_[i], rootKey, keyNumbers, object)) return false;
            w.setReference(slots + i, object);
          }
          return true;
        });
    if (!written) return std::nullopt;
    return w.finish();
  }

 private:
  enum class Kind : std::uint8_t { Null, Leaf, Text, Date, Array, Set, Dictionary, Class };
  enum ClassId : std::uint8_t { kDate, kArray, kSet, kDictionary, kClasses };
  struct Object {
    const void* item;    // the Value of a leaf, date or container; the text of a text
    std::uint64_t refs;  // a container's members in refs_; a class record's class
    std::uint32_t classRef;
    Kind kind;
  };

  std::uint32_t push(Object object) {
    objects_.push_back(object);
    if (objects_.size() > kPropertyListMaxUID) failed_ = true;
    return static_cast<std::uint32_t>(objects_.size() - 1);
  }
  std::uint32_t classRef(ClassId id) {
    if (!classes_[id]) classes_[id] = push({nullptr, id, 0, Kind::Class});
    return classes_[id];
  }
  // Each text once, as the archiver keeps them: looked up in a table of open addressing, the
  // texts' numbers by their hash, rather than a node for each of millions.
  std::uint32_t encodeString(const std::string& text) {
    const auto hash = static_cast<std::uint32_t>(std::hash<std::string_view>()(text));
    if (2 * (textCount_ + 1) > textSlots_.size()) growTexts();
    const std::size_t mask = textSlots_.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
      TextSlot& slot = textSlots_[i];
      if (slot.ref == 0) {
        slot = {hash, push({&text, 0, 0, Kind::Text})};
        ++textCount_;
        return slot.ref;
      }
      if (slot.hash == hash && *static_cast<const std::string*>(objects_[slot.ref].item) == text) return slot.ref;
    }
  }
  void growTexts() {
    std::vector<TextSlot> old(std::max<std::size_t>(1024, 2 * textSlots_.size()));
    old.swap(textSlots_);
    const std::size_t mask = textSlots_.size() - 1;
    for (const TextSlot& slot : old) {
      if (slot.ref == 0) continue;
      std::size_t i = slot.hash & mask;
      while (textSlots_[i].ref != 0) i = (i + 1) & mask;
      textSlots_[i] = slot;
    }
  }
  std::uint32_t encodeValue(const Value& value, int depth) {
    if (depth > kMaxDepth || failed_) {
      failed_ = true;
      return 0;
    }
    switch (value.type()) {
      case Value::Type::Null: return 0;
      case Value::Type::Boolean:
      case Value::Type::Number:
      case Value::Type::Data: return push({&value, 0, 0, Kind::Leaf});
      case Value::Type::String: return encodeString(*value.string());
      case Value::Type::Date: {
        const std::uint32_t cls = classRef(kDate);  // the archiver makes the class record first here
        return push({&value, 0, cls, Kind::Date});
      }
      case Value::Type::Array:
      case Value::Type::Set: {
        const Array& items = value.isArray() ? *value.array() : *value.setMembers();
        const std::uint32_t ref = push({&value, refs_.size(), 0, value.isArray() ? Kind::Array : Kind::Set});
        const std::size_t at = refs_.size();
        refs_.resize(at + items.size());
        for (std::size_t i = 0; i < items.size(); ++i) refs_[at + i] = encodeValue(items[i], depth + 1);
        objects_[ref].classRef = classRef(value.isArray() ? kArray : kSet);
        return ref;
      }
      case Value::Type::Dictionary: {
        const Dictionary& entries = *value.dictionary();
        const std::size_t n = entries.size();
        const std::uint32_t ref = push({&value, refs_.size(), 0, Kind::Dictionary});
        const std::size_t at = refs_.size();
        refs_.resize(at + 2 * n);
        std::size_t i = 0;
        for (const auto& [key, item] : entries) {
          refs_[at + i] = encodeString(key);
          refs_[at + n + i] = encodeValue(item, depth + 1);
          ++i;
        }
        objects_[ref].classRef = classRef(kDictionary);
        return ref;
      }
    }
    failed_ = true;
    return 0;
  }

  // The texts the archive's own layout writes besides those of the value.
  static bool writtenByTheArchive(const std::string& text, const std::string& rootKey) {
    static constexpr std::string_view own[] = {"$null", "time", "$class", "keys", "objects", "$classname", "$classes",
                                               kArchiveRootClass, kArchiveDateClass, kArchiveArrayClass,
                                               kArchiveSetClass, kArchiveDictionaryClass, "$version", "$archiver",
                                               "$top", "$objects", kKeyedArchiverName};
    return text == rootKey || (text.size() <= 16 && std::find(std::begin(own), std::end(own), text) != std::end(own));
  }

  // One object of "$objects", as the archiver's Value of it is written.
  // The numbers of the keys of the archive's objects, once written.
  static constexpr std::uint64_t kNotYet = ~std::uint64_t{0};
  struct KeyNumbers {
    std::uint64_t time = kNotYet, cls = kNotYet, keys = kNotYet, members = kNotYet, className = kNotYet,
                  classChain = kNotYet;
  };

  bool writeObject(BinaryPropertyListWriter& w, const Object& object, const std::string& rootKey,
                   KeyNumbers& keyNumbers, std::uint64_t& number) const {
    static const std::string null = "$null", time = "time", cls = "$class", keys = "keys", members = "objects",
                             className = "$classname", classChain = "$classes", root = kArchiveRootClass;
    static const std::string names[kClasses] = {kArchiveDateClass, kArchiveArrayClass, kArchiveSetClass,
                                                kArchiveDictionaryClass};
    using W = BinaryPropertyListWriter;
    std::uint64_t n = 0;
    // The key and the value of entry i of a dictionary of `count` entries whose slots begin at `at`.
    auto key = [&](std::size_t at, std::size_t i, const std::string& text, std::uint64_t& written) {
      // The same few keys in every object: written once, then referred to by their number.
      if (written == kNotYet && !w.text(text, written)) return false;
      w.setReference(at + i, written);
      return true;
    };
    auto value = [&](std::size_t at, std::size_t count, std::size_t i, std::uint64_t valueNumber) {
      w.setReference(at + count + i, valueNumber);
      return true;
    };
    auto uid = [&](std::uint64_t index) { return w.uid(index, n) ? std::optional<std::uint64_t>(n) : std::nullopt; };
    auto uids = [&](std::size_t from, std::size_t count) -> std::optional<std::uint64_t> {
      std::uint64_t array = 0;
      const std::size_t slots = w.open(W::kArrayMarker, count, array);
      for (std::size_t i = 0; i < count; ++i) {
        if (!w.uid(refs_[from + i], n)) return std::nullopt;
        w.setReference(slots + i, n);
      }
      return array;
    };
    switch (object.kind) {
      case Kind::Null: return w.text(null, number);
      case Kind::Leaf: return w.add(*static_cast<const Value*>(object.item), 2, number);
      case Kind::Text: {
        // The archive holds each text once: only one the archive writes itself may be equal.
        const std::string& text = *static_cast<const std::string*>(object.item);
        return writtenByTheArchive(text, rootKey) ? w.text(text, number) : w.distinctText(text, number);
      }
      case Kind::Date: {
        const std::size_t at = w.open(W::kDictionaryMarker, 2, number);
        const Value seconds(static_cast<const Value*>(object.item)->date()->timeIntervalSinceReferenceDate());
        if (!key(at, 0, time, keyNumbers.time) || !w.add(seconds, 3, n) || !value(at, 2, 0, n) ||
            !key(at, 1, cls, keyNumbers.cls))
          return false;
        auto ref = uid(object.classRef);
        return ref && value(at, 2, 1, *ref);
      }
      case Kind::Array:
      case Kind::Set: {
        const Value& container = *static_cast<const Value*>(object.item);
        const std::size_t count = container.isArray() ? container.array()->size() : container.setMembers()->size();
        const std::size_t at = w.open(W::kDictionaryMarker, 2, number);
        if (!key(at, 0, members, keyNumbers.members)) return false;
        auto array = uids(object.refs, count);
        if (!array || !value(at, 2, 0, *array) || !key(at, 1, cls, keyNumbers.cls)) return false;
        auto ref = uid(object.classRef);
        return ref && value(at, 2, 1, *ref);
      }
      case Kind::Dictionary: {
        const std::size_t count = static_cast<const Value*>(object.item)->dictionary()->size();
        const std::size_t at = w.open(W::kDictionaryMarker, 3, number);
        if (!key(at, 0, keys, keyNumbers.keys)) return false;
        auto keyArray = uids(object.refs, count);
        if (!keyArray || !value(at, 3, 0, *keyArray) || !key(at, 1, members, keyNumbers.members)) return false;
        auto valueArray = uids(object.refs + count, count);
        if (!valueArray || !value(at, 3, 1, *valueArray) || !key(at, 2, cls, keyNumbers.cls)) return false;
        auto ref = uid(object.classRef);
        return ref && value(at, 3, 2, *ref);
      }
      case Kind::Class: {
        const std::string& name = names[object.refs];
        const std::size_t at = w.open(W::kDictionaryMarker, 2, number);
        if (!key(at, 0, className, keyNumbers.className) || !w.text(name, n) || !value(at, 2, 0, n) ||
            !key(at, 1, classChain, keyNumbers.classChain))
          return false;
        std::uint64_t chain = 0;
        const std::size_t slots = w.open(W::kArrayMarker, 2, chain);
        if (!w.text(name, n)) return false;
        w.setReference(slots, n);
        if (!w.text(root, n)) return false;
        w.setReference(slots + 1, n);
        return value(at, 2, 1, chain);
      }
    }
    return false;
  }

  std::vector<Object> objects_;
  std::vector<std::uint32_t> refs_;  // members' object numbers; a dictionary's keys, then its values
  struct TextSlot {
    std::uint32_t hash = 0;
    std::uint32_t ref = 0;  // 0 (the null object, never a text) while empty
  };
  std::vector<TextSlot> textSlots_;
  std::size_t textCount_ = 0;
  std::uint32_t classes_[kClasses] = {};
  std::uint32_t root_ = 0;
  bool failed_ = false;
};

bool isBuiltIn(const std::string& name) {
  return name == kArchiveDateClass || name == kArchiveArrayClass || name == kArchiveSetClass ||
         name == kArchiveDictionaryClass || name == kArchiveURLClass;
}

}  // namespace

// ---- ArchiveItem ----

ArchiveItem::ArchiveItem(os::Value value) {
  if (value.isNull()) return;
  kind_ = Kind::Value;
  value_ = std::move(value);
}

ArchiveItem::ArchiveItem(std::shared_ptr<Archivable> object) {
  if (!object) return;
  kind_ = Kind::Object;
  object_ = std::move(object);
}

ArchiveItem ArchiveItem::url(std::string text) {
  ArchiveItem item;
  item.kind_ = Kind::URL;
  item.text_ = std::move(text);
  return item;
}

ArchiveItem ArchiveItem::array(std::vector<ArchiveItem> items) {
  ArchiveItem item;
  item.kind_ = Kind::Array;
  item.elements_ = std::make_shared<std::vector<ArchiveItem>>(std::move(items));
  return item;
}

ArchiveItem ArchiveItem::set(std::vector<ArchiveItem> items) {
  ArchiveItem item = array(std::move(items));
  item.kind_ = Kind::Set;
  return item;
}

ArchiveItem ArchiveItem::dictionary(Entries entries) {
  ArchiveItem item;
  item.kind_ = Kind::Dictionary;
  item.entries_ = std::make_shared<Entries>(std::move(entries));
  return item;
}

std::optional<Value> ArchiveItem::toValue() const {
  switch (kind_) {
    case Kind::Null: return Value();
    case Kind::Value: return value_;
    case Kind::Object:
    case Kind::URL: return std::nullopt;
    case Kind::Array:
    case Kind::Set: {
      Array out;
      out.reserve(elements_->size());
      for (const ArchiveItem& e : *elements_) {
        auto v = e.toValue();
        if (!v) return std::nullopt;
        out.push_back(std::move(*v));
      }
      return kind_ == Kind::Set ? Value::set(std::move(out)) : Value(std::move(out));
    }
    case Kind::Dictionary: {
      Dictionary out;
      for (const auto& [k, e] : *entries_) {
        auto v = e.toValue();
        if (!v) return std::nullopt;
        out.set(k, std::move(*v));
      }
      return Value(std::move(out));
    }
  }
  return std::nullopt;
}

// ---- KeyedArchiver ----

KeyedArchiver::KeyedArchiver() {
  objects_.push_back(Value("$null"));
  stack_.emplace_back();
}

void KeyedArchiver::fail(std::string why) {
  if (!error_) error_ = Error::withDescription(kKeyedArchiveErrorDomain, kKeyedArchiveWriteError, std::move(why));
}

Value KeyedArchiver::reference(std::uint64_t ref) {
  // One value per object referred to, shared by all that refer to it: most objects (keys,
  // classes, texts) are referred to many times.
  if (ref >= references_.size()) references_.resize(std::max<std::size_t>(ref + 1, 2 * references_.size()));
  if (references_[ref].isNull()) references_[ref] = uidValue(ref);
  return references_[ref];
}

std::uint64_t KeyedArchiver::push(Value v) {
  objects_.push_back(std::move(v));
  return objects_.size() - 1;
}

std::uint64_t KeyedArchiver::classRef(const std::vector<std::string>& names) {
  auto it = classes_.find(names.front());
  if (it != classes_.end()) return it->second;
  Array chain;
  for (const std::string& n : names) chain.push_back(Value(n));
  std::uint64_t ref = push(Value(Dictionary{{"$classname", Value(names.front())}, {"$classes", Value(std::move(chain))}}));
  classes_.emplace(names.front(), ref);
  return ref;
}

std::uint64_t KeyedArchiver::encodeCollection(const char* className, const std::vector<ArchiveItem>* items,
                                              const Array* values, int depth) {
  std::uint64_t ref = push(Value());  // the container comes before its members
  Array refs;
  std::size_t n = items ? items->size() : values->size();
  for (std::size_t i = 0; i < n; ++i)
    refs.push_back(reference(items ? encodeItem((*items)[i], depth + 1) : encodeValue((*values)[i], depth + 1)));
  objects_[ref] = Value(Dictionary{{"objects", Value(std::move(refs))},
                                   {"$class", reference(classRef({className, kArchiveRootClass}))}});
  return ref;
}

std::uint64_t KeyedArchiver::encodeString(const std::string& text) {
  // Each text once, however many keys and values hold it.
  auto it = strings_.find(text);
  if (it != strings_.end()) return it->second;
  std::uint64_t ref = push(Value(text));
  strings_.emplace(text, ref);
  return ref;
}

std::uint64_t KeyedArchiver::encodeValue(const Value& value, int depth) {
  if (depth > kMaxDepth) {
    fail("archive nested too deeply");
    return 0;
  }
  switch (value.type()) {
    case Value::Type::Null: return 0;
    case Value::Type::Boolean:
    case Value::Type::Number:
    case Value::Type::Data: return push(value);
    case Value::Type::String: return encodeString(*value.string());
    case Value::Type::Date:
      return push(Value(Dictionary{{"time", Value(value.date()->timeIntervalSinceReferenceDate())},
                                   {"$class", reference(classRef({kArchiveDateClass, kArchiveRootClass}))}}));
    case Value::Type::Array: return encodeCollection(kArchiveArrayClass, nullptr, value.array(), depth);
    case Value::Type::Set: return encodeCollection(kArchiveSetClass, nullptr, value.setMembers(), depth);
    case Value::Type::Dictionary: {
      std::uint64_t ref = push(Value());
      Array keys, objects;
      for (const auto& [k, v] : *value.dictionary()) {
        keys.push_back(reference(encodeString(k)));
        objects.push_back(reference(encodeValue(v, depth + 1)));
      }
      objects_[ref] = Value(Dictionary{{"keys", Value(std::move(keys))},
                                       {"objects", Value(std::move(objects))},
                                       {"$class", reference(classRef({kArchiveDictionaryClass, kArchiveRootClass}))}});
      return ref;
    }
  }
  return 0;
}

std::uint64_t KeyedArchiver::encodeItem(const ArchiveItem& item, int depth) {
  if (depth > kMaxDepth) {
    fail("archive nested too deeply");
    return 0;
  }
  switch (item.kind()) {
    case ArchiveItem::Kind::Null: return 0;
    case ArchiveItem::Kind::Value: return encodeValue(*item.value(), depth);
    case ArchiveItem::Kind::URL: {
      std::uint64_t ref = push(Value());
      std::uint64_t text = encodeValue(Value(*item.urlString()), depth + 1);
      objects_[ref] = Value(Dictionary{{"base", reference(0)},
                                       {"relative", reference(text)},
                                       {"$class", reference(classRef({kArchiveURLClass, kArchiveRootClass}))}});
      return ref;
    }
    case ArchiveItem::Kind::Array: return encodeCollection(kArchiveArrayClass, item.elements(), nullptr, depth);
    case ArchiveItem::Kind::Set: return encodeCollection(kArchiveSetClass, item.elements(), nullptr, depth);
    case ArchiveItem::Kind::Dictionary: {
      std::uint64_t ref = push(Value());
      Array keys, objects;
      for (const auto& [k, v] : *item.entries()) {
        keys.push_back(reference(encodeString(k)));
        objects.push_back(reference(encodeItem(v, depth + 1)));
      }
      objects_[ref] = Value(Dictionary{{"keys", Value(std::move(keys))},
                                       {"objects", Value(std::move(objects))},
                                       {"$class", reference(classRef({kArchiveDictionaryClass, kArchiveRootClass}))}});
      return ref;
    }
    case ArchiveItem::Kind::Object: {
      const Archivable* obj = item.object().get();
      // An object met again (shared or cyclic) is written once and referred to.
      auto it = written_.find(obj);
      if (it != written_.end()) return it->second;
      std::vector<std::string> names = obj->archiveClassNames();
      if (names.empty() || names.front().empty()) {
        fail("archivable object without a class name");
        return 0;
      }
      std::uint64_t ref = push(Value());
      written_.emplace(obj, ref);
      if (stack_.size() > static_cast<std::size_t>(kMaxDepth)) {
        fail("archive nested too deeply");
        return 0;
      }
      stack_.emplace_back();
      obj->encodeWithCoder(*this);
      Dictionary fields = std::move(stack_.back());
      stack_.pop_back();
      fields.set("$class", reference(classRef(names)));
      objects_[ref] = Value(std::move(fields));
      return ref;
    }
  }
  return 0;
}

void KeyedArchiver::encodeObject(const ArchiveItem& object, const std::string& key) {
  std::uint64_t ref = encodeItem(object, static_cast<int>(stack_.size()));
  stack_.back().set(key, reference(ref));
}

void KeyedArchiver::encodeInt(std::int32_t value, const std::string& key) { stack_.back().set(key, Value::number('i', value)); }
void KeyedArchiver::encodeInt64(std::int64_t value, const std::string& key) {
  stack_.back().set(key, Value::number('q', value));
}
void KeyedArchiver::encodeBool(bool value, const std::string& key) { stack_.back().set(key, Value(value)); }
void KeyedArchiver::encodeDouble(double value, const std::string& key) { stack_.back().set(key, Value(value)); }

std::optional<Data> KeyedArchiver::finishEncoding(Error* error, const KeyedArchiveLimits* readBy) {
  if (finished_) fail("archive already finished");
  finished_ = true;
  auto passesLimit = [this](std::string why) {
    error_ = Error::withDescription(kKeyedArchiveErrorDomain, kKeyedArchiveLimitError, std::move(why));
  };
  if (!error_ && readBy && objects_.size() > readBy->maxObjects) passesLimit(tooManyObjects(objects_.size(), *readBy));
  if (!error_) {
    // Finished: the objects move into the archive rather than being copied.
    Dictionary archive{{"$version", Value::number('q', kKeyedArchiveVersion)},
                       {"$archiver", Value(kKeyedArchiverName)},
                       {"$top", Value(std::move(stack_.front()))},
                       {"$objects", Value(std::move(objects_))}};
    Error writeError;
    auto data = PropertyList::write(Value(std::move(archive)), PropertyListFormat::Binary, &writeError, true);
    if (data && data->size() <= mostBytes(readBy)) return data;
    if (data) {
      passesLimit(tooManyBytes(data->size(), readBy));
    } else {
      error_ = Error::withDescription(kKeyedArchiveErrorDomain, kKeyedArchiveWriteError,
                                      "archive could not be written: " + writeError.localizedDescription());
    }
  }
  if (error) *error = *error_;
  return std::nullopt;
}

std::optional<Data> KeyedArchiver::archivedData(const ArchiveItem& root, const std::string& rootKey, Error* error,
                                                const KeyedArchiveLimits* readBy) {
  if (root.kind() == ArchiveItem::Kind::Value) {
    // What holds no objects is written without the archiver's tree; the archiver has its say
    // only where the archive cannot be written.
    PlainArchive plain;
    if (plain.encode(*root.value())) {
      std::optional<Data> data;
      std::string why;
      if (readBy && plain.objectCount() > readBy->maxObjects) {
        why = tooManyObjects(plain.objectCount(), *readBy);
      } else {
        data = plain.write(rootKey);
        if (data && data->size() > mostBytes(readBy)) {
          why = tooManyBytes(data->size(), readBy);
          data.reset();
        }
      }
      if (data) return data;
      if (!why.empty()) {
        if (error) *error = Error::withDescription(kKeyedArchiveErrorDomain, kKeyedArchiveLimitError, why);
        return std::nullopt;
      }
    }
  }
  KeyedArchiver archiver;
  archiver.encodeObject(root, rootKey);
  return archiver.finishEncoding(error, readBy);
}

// ---- ArchiveClassRegistry ----

ArchiveClassRegistry& ArchiveClassRegistry::add(std::string className, ArchiveFactory factory) {
  factories_[std::move(className)] = std::move(factory);
  return *this;
}

const ArchiveFactory* ArchiveClassRegistry::find(const std::string& className) const {
  auto it = factories_.find(className);
  return it == factories_.end() ? nullptr : &it->second;
}

// ---- KeyedUnarchiver ----

KeyedUnarchiver::KeyedUnarchiver(const Data& data, ArchiveClassRegistry registry, KeyedArchiveLimits limits)
    : registry_(std::move(registry)), limits_(limits) {
  if (data.size() > limits_.maxBytes) {
    fail(kKeyedArchiveLimitError, "archive of " + std::to_string(data.size()) + " bytes is larger than the " +
                                      std::to_string(limits_.maxBytes) + " allowed");
    return;
  }
  if (auto length = binaryObjectTableLength(data); length && *length > limits_.maxObjects) {
    fail(kKeyedArchiveLimitError, "archive lists " + std::to_string(*length) + " objects, more than the " +
                                      std::to_string(limits_.maxObjects) + " allowed");
    return;
  }
  Error error;
  auto v = PropertyList::read(data, nullptr, &error, limits_.maxNodes);
  if (!v) {
    fail(kKeyedArchiveReadCorruptError, "not a keyed archive: " + error.localizedDescription());
    return;
  }
  root_ = std::move(*v);
  const Value& objects = root_["$objects"];
  const Value& top = root_["$top"];
  if (!objects.isArray() || !top.isDictionary()) {
    fail(kKeyedArchiveReadCorruptError, "not a keyed archive: \"$objects\" or \"$top\" missing");
    return;
  }
  if (objects.array()->size() > limits_.maxObjects) {
    fail(kKeyedArchiveLimitError, "archive lists " + std::to_string(objects.array()->size()) + " objects, more than the " +
                                      std::to_string(limits_.maxObjects) + " allowed");
    return;
  }
  objects_ = objects.array();
  stack_.push_back(top.dictionary());
}

void KeyedUnarchiver::fail(long code, std::string why) {
  if (!error_) error_ = Error::withDescription(kKeyedArchiveErrorDomain, code, std::move(why));
}

void KeyedUnarchiver::failWithError(Error error) {
  if (!error_) error_ = std::move(error);
}

const Value* KeyedUnarchiver::field(const std::string& key) const {
  if (stack_.empty()) return nullptr;
  return stack_.back()->find(key);
}

bool KeyedUnarchiver::containsValueForKey(const std::string& key) const { return field(key) != nullptr; }

ArchiveItem KeyedUnarchiver::decodeObject(const std::string& key) {
  const Value* v = field(key);
  if (!v || error_) return ArchiveItem();
  auto ref = uidIndex(*v);
  if (!ref) return ArchiveItem();
  return decodeRef(*ref);
}

std::optional<Value> KeyedUnarchiver::decodeValue(const std::string& key) {
  ArchiveItem item = decodeObject(key);
  if (item.isNull()) return std::nullopt;
  return item.toValue();
}

std::optional<std::string> KeyedUnarchiver::decodeString(const std::string& key) {
  auto v = decodeValue(key);
  if (!v || !v->isString()) return std::nullopt;
  return *v->string();
}

std::optional<Data> KeyedUnarchiver::decodeData(const std::string& key) {
  auto v = decodeValue(key);
  if (!v || !v->isData()) return std::nullopt;
  return *v->data();
}

std::int64_t KeyedUnarchiver::decodeInt64(const std::string& key) const {
  const Value* v = field(key);
  if (!v || !(v->isNumber() || v->isBool())) return 0;
  if (v->isFloatingPoint()) {
    double d = v->doubleValue();
    if (!std::isfinite(d)) return 0;
    if (d >= 9.2e18) return std::numeric_limits<std::int64_t>::max();
    if (d <= -9.2e18) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(d);
  }
  return v->intValue();
}

std::int32_t KeyedUnarchiver::decodeInt(const std::string& key) const {
  return static_cast<std::int32_t>(static_cast<std::uint64_t>(decodeInt64(key)));
}

bool KeyedUnarchiver::decodeBool(const std::string& key) const {
  const Value* v = field(key);
  if (!v) return false;
  if (v->isBool()) return v->boolValue();
  if (v->isNumber()) return v->isFloatingPoint() ? v->doubleValue() != 0 : v->intValue() != 0;
  return false;
}

double KeyedUnarchiver::decodeDouble(const std::string& key) const {
  const Value* v = field(key);
  if (!v || !(v->isNumber() || v->isBool())) return 0;
  return v->doubleValue();
}

ArchiveItem KeyedUnarchiver::decodeBuiltIn(const std::string& className, const Dictionary& object) {
  if (className == kArchiveDateClass) {
    const Value& t = object["time"];
    if (!t.isNumber()) {
      fail(kKeyedArchiveReadCorruptError, "date without a time");
      return ArchiveItem();
    }
    return ArchiveItem(Value(Date::fromTimeIntervalSinceReferenceDate(t.doubleValue())));
  }
  if (className == kArchiveURLClass) {
    auto ref = uidIndex(object["relative"]);
    ArchiveItem text = ref ? decodeRef(*ref) : ArchiveItem();
    if (!text.value() || !text.value()->isString()) {
      fail(kKeyedArchiveReadCorruptError, "URL without its text");
      return ArchiveItem();
    }
    return ArchiveItem::url(*text.value()->string());
  }
  const Array* refs = object["objects"].array();
  if (!refs) {
    fail(kKeyedArchiveReadCorruptError, className + " without its members");
    return ArchiveItem();
  }
  auto decodeAll = [&](const Array& list, std::vector<ArchiveItem>& out) {
    for (const Value& r : list) {
      auto ref = uidIndex(r);
      if (!ref) {
        fail(kKeyedArchiveReadCorruptError, className + " holds a member that is not a reference");
        return false;
      }
      out.push_back(decodeRef(*ref));
      if (error_) return false;
    }
    return true;
  };
  std::vector<ArchiveItem> members;
  if (!decodeAll(*refs, members)) return ArchiveItem();
  if (className == kArchiveDictionaryClass) {
    const Array* keyRefs = object["keys"].array();
    std::vector<ArchiveItem> keys;
    if (!keyRefs || keyRefs->size() != refs->size()) {
      fail(kKeyedArchiveReadCorruptError, "dictionary keys and objects differ in number");
      return ArchiveItem();
    }
    if (!decodeAll(*keyRefs, keys)) return ArchiveItem();
    ArchiveItem::Entries entries;
    for (std::size_t i = 0; i < keys.size(); ++i) {
      const Value* k = keys[i].value();
      if (!k || !k->isString()) {
        fail(kKeyedArchiveReadCorruptError, "dictionary key is not text");
        return ArchiveItem();
      }
      entries.emplace_back(*k->string(), std::move(members[i]));
    }
    ArchiveItem item = ArchiveItem::dictionary(std::move(entries));
    if (auto v = item.toValue()) return ArchiveItem(std::move(*v));
    return item;
  }
  ArchiveItem item = className == kArchiveSetClass ? ArchiveItem::set(std::move(members))
                                                   : ArchiveItem::array(std::move(members));
  if (auto v = item.toValue()) return ArchiveItem(std::move(*v));
  return item;
}

ArchiveItem KeyedUnarchiver::decodeRef(std::uint64_t ref) {
  if (error_ || !objects_) return ArchiveItem();
  if (ref == 0) return ArchiveItem();
  if (ref >= objects_->size()) {
    fail(kKeyedArchiveReadCorruptError, "reference " + std::to_string(ref) + " beyond the archive's objects");
    return ArchiveItem();
  }
  if (auto it = decoded_.find(ref); it != decoded_.end()) return it->second;
  if (inProgress_.count(ref)) {
    fail(kKeyedArchiveReadCorruptError, "archive refers back to an object still being decoded");
    return ArchiveItem();
  }
  if (inProgress_.size() >= static_cast<std::size_t>(std::clamp(limits_.maxDepth, 0, kMaxDepthAllowed))) {
    fail(kKeyedArchiveLimitError, "archive nested deeper than " + std::to_string(limits_.maxDepth) + " objects");
    return ArchiveItem();
  }
  const Value& raw = (*objects_)[ref];
  const Dictionary* object = raw.dictionary();
  if (!object) {
    if (raw.isArray() || raw.isNull() || raw.isSet()) {
      fail(kKeyedArchiveReadCorruptError, "malformed archive object");
      return ArchiveItem();
    }
    return ArchiveItem(raw);
  }
  auto classRefIndex = uidIndex((*object)["$class"]);
  const Value* classInfo = classRefIndex && *classRefIndex < objects_->size() ? &(*objects_)[*classRefIndex] : nullptr;
  const Value* className = classInfo ? classInfo->dictionary() ? classInfo->dictionary()->find("$classname") : nullptr
                                     : nullptr;
  if (!className || !className->isString()) {
    fail(kKeyedArchiveReadCorruptError, "archive object without a class");
    return ArchiveItem();
  }
  std::string name = *className->string();
  std::vector<std::string> chain;
  if (const Array* classes = (*classInfo)["$classes"].array())
    for (const Value& c : *classes)
      if (c.isString()) chain.push_back(*c.string());
  if (chain.empty() || chain.front() != name) chain.insert(chain.begin(), name);

  inProgress_.insert(ref);
  ArchiveItem result;
  if (isBuiltIn(name)) {
    result = decodeBuiltIn(name, *object);
  } else {
    const ArchiveFactory* factory = registry_.find(name);
    if (!factory && substitution_) {
      if (auto other = substitution_(chain)) factory = registry_.find(*other);
    }
    if (!factory) {
      fail(kKeyedArchiveUnknownClassError, "cannot decode object of class " + name);
    } else {
      stack_.push_back(object);
      std::shared_ptr<Archivable> made = (*factory)(*this);
      stack_.pop_back();
      result = ArchiveItem(std::move(made));
    }
  }
  inProgress_.erase(ref);
  if (error_) return ArchiveItem();
  decoded_.emplace(ref, result);
  return result;
}

std::optional<ArchiveItem> KeyedUnarchiver::unarchiveObject(const Data& data, ArchiveClassRegistry registry,
                                                            const std::string& rootKey, Error* error,
                                                            KeyedArchiveLimits limits) {
  KeyedUnarchiver unarchiver(data, std::move(registry), limits);
  if (!unarchiver.error_ && !unarchiver.containsValueForKey(rootKey))
    unarchiver.fail(kKeyedArchiveReadCorruptError, "archive has no object under \"" + rootKey + "\"");
  ArchiveItem item = unarchiver.decodeObject(rootKey);
  if (unarchiver.error_) {
    if (error) *error = *unarchiver.error_;
    return std::nullopt;
  }
  if (item.isNull()) return std::nullopt;
  return item;
}

std::optional<Value> KeyedUnarchiver::unarchiveValue(const Data& data, const std::string& rootKey, Error* error,
                                                     KeyedArchiveLimits limits) {
  auto item = unarchiveObject(data, {}, rootKey, error, limits);
  if (!item) return std::nullopt;
  auto v = item->toValue();
  if (!v && error)
    *error = Error::withDescription(kKeyedArchiveErrorDomain, kKeyedArchiveUnknownClassError,
                                    "archive holds objects, not plain values");
  return v;
}

}  // namespace os
