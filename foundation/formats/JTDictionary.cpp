#include "foundation/formats/JTDictionary.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "foundation/formats/JTArray.h"
#include "os/core/Error.h"

namespace {
constexpr std::array<std::size_t, 40> kCapacities = {
    0, 3, 7, 13, 23, 41, 71, 127, 191, 251, 383, 631, 1087, 1723, 2803, 4523, 7351, 11959, 19447, 31231,
    50683, 81919, 132607, 214519, 346607, 561109, 907759, 1468927, 2376191, 3845119, 6221311, 10066421,
    16287743, 26354171, 42641881, 68996069, 111638519, 180634607, 292272623, 472907251};
}  // namespace

std::size_t JTDictionary::capacityForCount(std::size_t n) {
  const auto target = static_cast<std::size_t>(std::lround(std::floor(static_cast<double>(n) * 1.33)));
  auto it = std::lower_bound(kCapacities.begin(), kCapacities.end(), target);
  if (it == kCapacities.end())
    throw os::Exception("NSMallocException", "Unable to allocate memory for hash table.");
  return *it;
}

std::uint32_t JTDictionary::hashKey(std::string_view key) {
  std::uint32_t h = 2166136261u;
  for (unsigned char c : key) h = (h ^ c) * 16777619u;
  return h;
}

JTDictionary::JTDictionary(Key, std::size_t capacity, bool mutableResult)
    : table_(capacity), mutations_(mutableResult ? 1 : 0) {}

std::shared_ptr<JTDictionary> JTDictionary::dictionaryWithMembers(const os::Dictionary& members, bool mutableResult) {
  auto d = std::make_shared<JTDictionary>(Key{}, capacityForCount(members.size()), mutableResult);
  for (const auto& [key, value] : members) d->add(key, hashKey(key), value);
  return d;
}

std::shared_ptr<JTDictionary> JTDictionary::fromValue(const os::Value& value, bool mutableResult) {
  const os::Dictionary* d = value.dictionary();
  return d ? dictionaryWithMembers(*d, mutableResult) : nullptr;
}

std::optional<std::size_t> JTDictionary::find(std::string_view key, std::uint32_t hash) const {
  const std::size_t cap = table_.size();
  if (cap == 0) return std::nullopt;
  std::size_t slot = hash % cap;
  for (std::size_t i = 0; i < cap; ++i, slot = (slot + 1) % cap) {
    const Slot& s = table_[slot];
    if (!s.used) return std::nullopt;
    if (s.hash == hash && s.key == key) return slot;
  }
  return std::nullopt;
}

void JTDictionary::add(std::string key, std::uint32_t hash, os::Value object) {
  const std::size_t cap = table_.size();
  if (cap == 0) return;
  if (auto existing = find(key, hash)) removeSlot(*existing);
  std::size_t slot = hash % cap;
  for (std::size_t i = 0; i < cap; ++i, slot = (slot + 1) % cap) {
    Slot& s = table_[slot];
    if (!s.used) {
      s.used = true;
      s.hash = hash;
      s.key = std::move(key);
      s.object = std::move(object);
      ++count_;
      return;
    }
  }
}

void JTDictionary::removeSlot(std::size_t slot) {
  const std::size_t cap = table_.size();
  table_[slot] = Slot{};
  --count_;
  // Members after the hole move to the first free slot of their own probe sequence, so no
  // lookup chain is broken.
  for (std::size_t i = (slot + 1) % cap; table_[i].used; i = (i + 1) % cap) {
    Slot moved = std::move(table_[i]);
    table_[i] = Slot{};
    --count_;
    add(std::move(moved.key), moved.hash, std::move(moved.object));
  }
}

const os::Value* JTDictionary::objectForKey(std::string_view key) const {
  auto slot = find(key, hashKey(key));
  return slot ? &table_[*slot].object : nullptr;
}

void JTDictionary::getObjects(os::Value* objects, std::string* keys) const {
  std::size_t i = 0;
  for (const Slot& s : table_) {
    if (!s.used) continue;
    if (objects) objects[i] = s.object;
    if (keys) keys[i] = s.key;
    ++i;
  }
}

std::vector<std::string> JTDictionary::allKeys() const {
  std::vector<std::string> keys;
  keys.reserve(count_);
  for (const Slot& s : table_)
    if (s.used) keys.push_back(s.key);
  return keys;
}

std::shared_ptr<JTDictionaryEnumerator> JTDictionary::keyEnumerator() const {
  return std::make_shared<JTDictionaryEnumerator>(shared_from_this());
}

void JTDictionary::requireMutable(const char* selector) const {
  if (mutations_ == 0)
    throw os::Exception(os::kInternalInconsistencyException,
                        JTCollectionReason("JTDictionary", selector, "mutating method sent to immutable object"));
}

void JTDictionary::setObject(os::Value object, std::string key) {
  requireMutable("setObject:forKey:");
  const std::size_t needed = capacityForCount(count_ + 1);
  if (needed > table_.size()) {
    std::vector<Slot> old = std::move(table_);
    table_ = std::vector<Slot>(needed);
    count_ = 0;
    for (Slot& s : old)
      if (s.used) add(std::move(s.key), s.hash, std::move(s.object));
  }
  const std::uint32_t hash = hashKey(key);
  add(std::move(key), hash, std::move(object));
  mutated();
}

void JTDictionary::removeObjectForKey(std::string_view key) {
  requireMutable("removeObjectForKey:");
  if (auto slot = find(key, hashKey(key))) removeSlot(*slot);
  mutated();
}

std::shared_ptr<const JTDictionary> JTDictionary::copy() const {
  if (mutations_ == 0) return shared_from_this();
  return dictionaryWithMembers(mutableCopy(), false);
}

os::Dictionary JTDictionary::mutableCopy() const {
  os::Dictionary d;
  for (const Slot& s : table_)
    if (s.used) d.set(s.key, s.object);
  return d;
}

JTDictionary::Iterator::Iterator(const JTDictionary* d, std::size_t slot) : d_(d), slot_(slot), mutations_(d->mutations_) {
  settle();
}

void JTDictionary::Iterator::settle() {
  while (slot_ < d_->table_.size() && !d_->table_[slot_].used) ++slot_;
}

const std::string& JTDictionary::Iterator::operator*() const {
  if (d_->mutations_ != mutations_) JTThrowMutatedWhileEnumerating("JTDictionary");
  return d_->table_[slot_].key;
}

JTDictionary::Iterator& JTDictionary::Iterator::operator++() {
  if (d_->mutations_ != mutations_) JTThrowMutatedWhileEnumerating("JTDictionary");
  ++slot_;
  settle();
  return *this;
}

std::optional<std::string> JTDictionaryEnumerator::nextObject() {
  const auto& table = collection_->table_;
  while (nextObject_ < table.size()) {
    const auto& s = table[nextObject_++];
    if (s.used) return s.key;
  }
  return std::nullopt;
}

std::vector<std::string> JTDictionaryEnumerator::allObjects() {
  std::vector<std::string> keys;
  while (auto k = nextObject()) keys.push_back(std::move(*k));
  return keys;
}
