#include "os/core/Value.h"

#include "os/core/DetachedValue.h"
#include "os/core/String.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <mutex>
#include <utility>

#include <sys/mman.h>

namespace os {

namespace {

// ---- Shared blocks for value storage ----
// A block is aligned to its size, so any storage knows its block from its own address. The block
// counts the storage in it that is still alive; the thread filling it adds kFilling to that count
// until it moves on, so that storage released meanwhile (on any thread) can't free it early.
constexpr std::size_t kBlockSize = 8192;
constexpr std::size_t kBlockHeader = 64;
constexpr std::size_t kFilling = std::size_t{1} << 62;
// Free blocks kept for the next tree (4 MB). Asking the heap for an aligned block on every 8 KB of
// a large tree makes it merge all the small chunks freed meanwhile, each time.
constexpr std::size_t kKeptFreeBlocks = 512;

struct BlockHeader {
  std::atomic<std::size_t> live;
};

// Trivial, so that a thread's cursor costs no set-up or guard.
struct BlockCursor {
  unsigned scopes;
  char* block;
  char* next;
  char* end;
  std::size_t handedOut;
};
thread_local BlockCursor tCursor;

// Releases on one thread mostly come in runs on one block (a tree is freed in the order it was
// built), so a thread counts them up and gives a block its count in one step when the run ends.
struct PendingReleases {
  char* block;
  std::size_t count;
  bool armed;    // this thread flushes at its exit
  bool exiting;  // past that flush: releases are given at once
};
thread_local PendingReleases tPending;

struct FreeBlocks {
  std::mutex lock;
  // Listed here rather than linked through the blocks, whose memory has long gone cold.
  char* blocks[kKeptFreeBlocks];
  std::size_t count = 0;
};
FreeBlocks& freeBlocks() {
  static FreeBlocks* f = new FreeBlocks;  // outlives exit: values may be released during it
  return *f;
}

void freeBlock(char* block) {
  reinterpret_cast<BlockHeader*>(block)->~BlockHeader();
  {
    FreeBlocks& f = freeBlocks();
    std::lock_guard<std::mutex> g(f.lock);
    if (f.count < kKeptFreeBlocks) {
      f.blocks[f.count++] = block;
      return;
    }
  }
  ::operator delete(block, std::align_val_t(kBlockSize));
}

char* newBlock() {
  {
    FreeBlocks& f = freeBlocks();
    std::lock_guard<std::mutex> g(f.lock);
    if (f.count) return f.blocks[--f.count];
  }
  return static_cast<char*>(::operator new(kBlockSize, std::align_val_t(kBlockSize)));
}

void release(char* block, std::size_t count) {
  if (reinterpret_cast<BlockHeader*>(block)->live.fetch_sub(count, std::memory_order_acq_rel) == count) freeBlock(block);
}

void flushPendingReleases() {
  PendingReleases& r = tPending;
  if (r.block) release(r.block, r.count);
  r.block = nullptr;
  r.count = 0;
}

struct PendingReleasesFlush {
  ~PendingReleasesFlush() {
    flushPendingReleases();
    tPending.exiting = true;
  }
};

void finishBlock(BlockCursor& c) {
  if (!c.block) return;
  const std::size_t delta = c.handedOut - kFilling;  // wraps: the count drops by kFilling - handedOut
  if (reinterpret_cast<BlockHeader*>(c.block)->live.fetch_add(delta, std::memory_order_acq_rel) + delta == 0)
    freeBlock(c.block);
  c = BlockCursor{c.scopes, nullptr, nullptr, nullptr, 0};
}

void* blockAllocate(std::size_t bytes) {
  BlockCursor& c = tCursor;
  bytes = (bytes + 15) & ~std::size_t{15};
  if (static_cast<std::size_t>(c.end - c.next) < bytes) {
    finishBlock(c);
    char* block = newBlock();
    new (block) BlockHeader{kFilling};
    c.block = block;
    c.next = block + kBlockHeader;
    c.end = block + kBlockSize;
  }
  void* p = c.next;
  c.next += bytes;
  ++c.handedOut;
  return p;
}

void blockFree(void* p) {
  char* block = reinterpret_cast<char*>(reinterpret_cast<std::uintptr_t>(p) & ~std::uintptr_t{kBlockSize - 1});
  PendingReleases& r = tPending;
  if (r.block == block) {
    ++r.count;
    return;
  }
  if (r.exiting) {
    release(block, 1);
    return;
  }
  if (!r.armed) {
    thread_local PendingReleasesFlush flush;
    r.armed = true;
  }
  flushPendingReleases();
  r.block = block;
  r.count = 1;
}

// A box of kind `kind` holding a T made of args: from the shared blocks inside a scope, else from
// the heap.
template <class T, class... A>
detail::BoxHeader* makeBox(Value::Type kind, A&&... args) {
  constexpr std::size_t bytes = sizeof(detail::BoxHeader) + sizeof(T);
  static_assert(bytes <= 1024 && alignof(T) <= alignof(detail::BoxHeader), "block storage is for small boxes");
  const bool block = tCursor.scopes != 0;
  void* memory = block ? blockAllocate(bytes) : ::operator new(bytes);
  auto* box = new (memory) detail::BoxHeader(static_cast<std::uint8_t>(kind), block);
  try {
    new (reinterpret_cast<char*>(box) + sizeof(detail::BoxHeader)) T(std::forward<A>(args)...);
  } catch (...) {
    box->~BoxHeader();
    if (block) blockFree(memory);
    else ::operator delete(memory);
    throw;
  }
  return box;
}

template <class T>
T* payloadOf(detail::BoxHeader* box) {
  return reinterpret_cast<T*>(reinterpret_cast<char*>(box) + sizeof(detail::BoxHeader));
}

struct SetBox {
  Array members;
};

}  // namespace

void detail::destroyBox(BoxHeader* box) noexcept {
  switch (static_cast<Value::Type>(box->kind)) {
    case Value::Type::String: payloadOf<std::string>(box)->~basic_string(); break;
    case Value::Type::Data: payloadOf<os::Data>(box)->~Data(); break;
    case Value::Type::Array: payloadOf<os::Array>(box)->~Array(); break;
    case Value::Type::Dictionary: payloadOf<os::Dictionary>(box)->~Dictionary(); break;
    case Value::Type::Set: payloadOf<SetBox>(box)->~SetBox(); break;
    default: break;
  }
  const bool block = box->fromBlock;
  box->~BoxHeader();
  if (block) blockFree(box);
  else ::operator delete(box);
}

namespace {

bool isUnsignedCode(char c) { return c == 'C' || c == 'I' || c == 'S' || c == 'L' || c == 'Q' || c == 'B'; }

std::string formatDouble(double d) {
  if (std::isnan(d)) return "nan";
  if (std::isinf(d)) return d < 0 ? "-inf" : "inf";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.17g", d);
  // Prefer the shortest form that reads back exactly.
  for (int prec = 1; prec <= 17; ++prec) {
    char tmp[64];
    std::snprintf(tmp, sizeof tmp, "%.*g", prec, d);
    if (std::strtod(tmp, nullptr) == d) return tmp;
  }
  return buf;
}

// Strings in the description form stay bare when they are made of letters, digits and a few marks.
bool needsQuotes(const std::string& s) {
  if (s.empty()) return true;
  for (unsigned char c : s) {
    if (c >= 0x80) return true;
    if (!(std::isalnum(c) || c == '_' || c == '.' || c == '$' || c == ':' || c == '/')) return true;
  }
  return false;
}

std::string quoted(const std::string& s) {
  if (!needsQuotes(s)) return s;
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') out += '\\';
    if (c == '\n') { out += "\\n"; continue; }
    out += c;
  }
  return out + "\"";
}

void describe(const Value& v, int indent, std::string& out) {
  std::string pad(static_cast<std::size_t>(indent) * 4, ' ');
  std::string inner(static_cast<std::size_t>(indent + 1) * 4, ' ');
  switch (v.type()) {
    case Value::Type::Null: out += "<null>"; break;
    case Value::Type::Boolean: out += v.boolValue() ? "1" : "0"; break;
    case Value::Type::Number:
      if (v.isFloatingPoint()) out += formatDouble(v.doubleValue());
      else if (v.isUnsigned()) out += std::to_string(v.unsignedValue());
      else out += std::to_string(v.intValue());
      break;
    case Value::Type::String: out += quoted(*v.string()); break;
    case Value::Type::Data: {
      static const char* hex = "0123456789abcdef";
      out += '<';
      const Data& d = *v.data();
      for (std::size_t i = 0; i < d.size(); ++i) {
        if (i && i % 4 == 0) out += ' ';
        out += hex[d[i] >> 4];
        out += hex[d[i] & 15];
      }
      out += '>';
      break;
    }
    case Value::Type::Date: {
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.3f", v.date()->timeIntervalSince1970());
      out += buf;
      break;
    }
    case Value::Type::Array:
    case Value::Type::Set: {
      const Array& a = v.isArray() ? *v.array() : *v.setMembers();
      out += v.isSet() ? "{(" : "(";
      out += '\n';
      for (std::size_t i = 0; i < a.size(); ++i) {
        out += inner;
        describe(a[i], indent + 1, out);
        if (i + 1 < a.size()) out += ',';
        out += '\n';
      }
      out += pad;
      out += v.isSet() ? ")}" : ")";
      break;
    }
    case Value::Type::Dictionary: {
      out += "{\n";
      for (const auto& [k, val] : *v.dictionary()) {
        out += inner;
        out += quoted(k);
        out += " = ";
        describe(val, indent + 1, out);
        out += ";\n";
      }
      out += pad;
      out += '}';
      break;
    }
  }
}

// Element storage from a block sits eight bytes past a 16-byte boundary; the heap's is aligned to 16.
constexpr std::size_t kLargestBlockElements = 1024;
// Large element storage (the list of a long answer) is mapped on its own. Freeing one chunk this
// large to the heap makes it merge every small freed chunk it holds, which costs more than the
// mapping does.
constexpr std::size_t kSmallestMappedElements = 64 * 1024;

}  // namespace

void* detail::allocateElements(std::size_t bytes) {
  if (tCursor.scopes && bytes <= kLargestBlockElements) return static_cast<char*>(blockAllocate(bytes + 8)) + 8;
  if (bytes >= kSmallestMappedElements) {
    void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    return p;
  }
  // free() takes back either kind, so the rare heap block that is not aligned to 16 can be replaced.
  void* p = std::malloc(bytes);
  if (p && (reinterpret_cast<std::uintptr_t>(p) & 15) != 0) {
    std::free(p);
    p = std::aligned_alloc(16, (bytes + 15) & ~std::size_t{15});
  }
  if (!p) throw std::bad_alloc();
  return p;
}

void detail::freeElements(void* p, std::size_t bytes) noexcept {
  if (!p) return;
  if (bytes >= kSmallestMappedElements) {
    ::munmap(p, bytes);
  } else if ((reinterpret_cast<std::uintptr_t>(p) & 15) == 8) {
    blockFree(p);
  } else {
    std::free(p);
  }
}

// ---- Dictionary ----

Dictionary::Dictionary(std::initializer_list<Entry> entries) {
  for (const auto& e : entries) set(e.first, e.second);
}

Dictionary::Dictionary(const Dictionary& o) {
  if (!o.index_) {
    entries_ = o.entries_;
    return;
  }
  // A copy starts without holes.
  entries_.reserve(o.size());
  entries_.assign(o.begin(), o.end());
  rebuildIndex();
}

Dictionary& Dictionary::operator=(const Dictionary& o) {
  if (this != &o) *this = Dictionary(o);
  return *this;
}

Dictionary::Index::~Index() { dropPacked(); }

void Dictionary::Index::dropPacked() noexcept { delete packed.exchange(nullptr, std::memory_order_acq_rel); }

std::size_t Dictionary::indexOf(std::string_view key) const {
  if (index_) {
    auto it = index_->positions.find(key);
    return it == index_->positions.end() ? entries_.size() : it->second;
  }
  for (std::size_t i = 0; i < entries_.size(); ++i)
    if (entries_[i].first == key) return i;
  return entries_.size();
}

void Dictionary::rebuildIndex() {
  if (index_ && index_->holes) {
    entries_.erase(std::remove_if(entries_.begin(), entries_.end(), isHole), entries_.end());
  }
  index_.reset();
  if (entries_.size() < kIndexThreshold) return;
  index_ = std::make_unique<Index>();
  index_->positions.reserve(entries_.size() * 2);
  for (std::size_t i = 0; i < entries_.size(); ++i) index_->positions.emplace(entries_[i].first, i);
}

const Value* Dictionary::find(std::string_view key) const {
  std::size_t i = indexOf(key);
  return i < entries_.size() ? &entries_[i].second : nullptr;
}

Value* Dictionary::find(std::string_view key) {
  changing();  // the value may be written through what this returns
  std::size_t i = indexOf(key);
  return i < entries_.size() ? &entries_[i].second : nullptr;
}

const Value& Dictionary::operator[](std::string_view key) const {
  const Value* v = find(key);
  return v ? *v : Value::null();
}

void Dictionary::set(std::string key, Value value) {
  if (Value* v = find(key)) {
    *v = std::move(value);
    return;
  }
  entries_.emplace_back(std::move(key), std::move(value));
  if (index_) index_->positions.emplace(entries_.back().first, entries_.size() - 1);
  else if (entries_.size() >= kIndexThreshold) rebuildIndex();
}

namespace {
// A reader's keys are nearly always distinct: a print of each key's length and three of its bytes
// rules most pairs out before their texts are compared.
std::uint64_t keyPrint(const std::string& key) {
  std::uint64_t print = key.size();
  if (!key.empty()) {
    const auto* b = reinterpret_cast<const unsigned char*>(key.data());
    print |= (std::uint64_t{b[0]} << 40) | (std::uint64_t{b[key.size() / 2]} << 48) | (std::uint64_t{b[key.size() - 1]} << 56);
  }
  return print;
}
}  // namespace

void Dictionary::adopt(std::vector<Entry>&& entries) {
  if (!empty() || entries.size() >= kIndexThreshold) {
    // Room for them all at once: a dictionary grown one entry at a time keeps up to twice its size.
    if (empty()) entries_.reserve(entries.size());
    for (auto& e : entries) set(std::move(e.first), std::move(e.second));
    std::vector<Entry>().swap(entries);  // left empty as when taken over, its room not kept
    return;
  }
  // Later duplicates are folded into the first of their key, in place.
  std::uint64_t prints[kIndexThreshold];
  std::size_t kept = 0;
  for (std::size_t j = 0; j < entries.size(); ++j) {
    const std::uint64_t print = keyPrint(entries[j].first);
    std::size_t i = 0;
    while (i < kept && !(prints[i] == print && entries[i].first == entries[j].first)) ++i;
    if (i < kept) {
      entries[i].second = std::move(entries[j].second);
    } else {
      if (kept != j) entries[kept] = std::move(entries[j]);
      prints[kept++] = print;
    }
  }
  entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(kept), entries.end());
  entries_ = std::move(entries);
}

void Dictionary::adoptDistinct(std::vector<Entry>&& entries) {
  if (!empty() || entries.size() >= kIndexThreshold) {
    adopt(std::move(entries));
    return;
  }
  entries_ = std::move(entries);
}

bool Dictionary::remove(std::string_view key) {
  if (!index_) {
    std::size_t i = indexOf(key);
    if (i >= entries_.size()) return false;
    entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(i));
    return true;
  }
  auto found = index_->positions.find(key);
  if (found == index_->positions.end()) return false;
  const std::size_t i = found->second;
  index_->positions.erase(found);
  index_->dropPacked();
  Index& index = *index_;
  if (i + 1 == entries_.size()) {
    // The last entry goes at once, with the holes before it: the last entry is never a hole.
    entries_.pop_back();
    while (!entries_.empty() && isHole(entries_.back())) {
      entries_.pop_back();
      --index.holes;
    }
    index.head = std::min(index.head, entries_.size());
  } else {
    Entry& entry = entries_[i];
    std::string().swap(entry.first);
    entry.second = Value();
    entry.second.code_ = Value::kHoleCode;
    ++index.holes;
    if (i == index.head)
      while (isHole(entries_[index.head])) ++index.head;  // stops at the last entry at the latest
  }
  // Packed once the holes outnumber the entries (each packing follows as many removals as it
  // moves entries), or when few enough are left to go without an index.
  if (index.holes * 2 > entries_.size() || size() < kIndexThreshold) rebuildIndex();
  return true;
}

std::vector<std::string> Dictionary::keys() const {
  std::vector<std::string> out;
  out.reserve(size());
  for (const auto& e : *this) out.push_back(e.first);
  return out;
}

const std::vector<Dictionary::Entry>& Dictionary::entries() const {
  if (!index_ || !index_->holes) return entries_;
  std::vector<Entry>* packed = index_->packed.load(std::memory_order_acquire);
  if (packed) return *packed;
  auto made = std::make_unique<std::vector<Entry>>(begin(), end());
  // Another reader may have made it meanwhile: the first one made stands.
  if (index_->packed.compare_exchange_strong(packed, made.get(), std::memory_order_acq_rel)) return *made.release();
  return *packed;
}

bool Dictionary::operator==(const Dictionary& o) const {
  if (size() != o.size()) return false;
  for (const auto& [k, v] : *this) {
    const Value* ov = o.find(k);
    if (!ov || !(*ov == v)) return false;
  }
  return true;
}

// ---- Value ----

Value::Value(const char* s) : Value(std::string(s ? s : "")) {}
Value::Value(std::string s) : type_(Type::String), box_(makeBox<std::string>(Type::String, std::move(s))) {}
// Made in its box, not moved there.
Value::Value(std::string_view s) : type_(Type::String), box_(makeBox<std::string>(Type::String, s)) {}
Value::Value(os::Data d) : type_(Type::Data), box_(makeBox<os::Data>(Type::Data, std::move(d))) {}
Value::Value(os::Date d) : type_(Type::Date) { num_.d_ = d.timeIntervalSince1970(); }
Value::Value(os::Array a) : type_(Type::Array), box_(makeBox<os::Array>(Type::Array, std::move(a))) {}
Value::Value(os::Dictionary d) : type_(Type::Dictionary), box_(makeBox<os::Dictionary>(Type::Dictionary, std::move(d))) {}

Value Value::number(char typeCode, long long v) {
  if (typeCode == 'f' || typeCode == 'd') return real(typeCode, static_cast<double>(v));
  if (isUnsignedCode(typeCode)) return unsignedNumber(typeCode, static_cast<unsigned long long>(v));
  Value out;
  out.type_ = Type::Number;
  out.code_ = typeCode;
  out.num_.i_ = v;
  return out;
}

Value Value::unsignedNumber(char typeCode, unsigned long long v) {
  if (typeCode == 'f' || typeCode == 'd') return real(typeCode, static_cast<double>(v));
  if (!isUnsignedCode(typeCode)) return number(typeCode, static_cast<long long>(v));
  Value out;
  out.type_ = Type::Number;
  out.code_ = typeCode;
  out.num_.u_ = v;
  return out;
}

Value Value::real(char typeCode, double v) {
  Value out;
  out.type_ = Type::Number;
  out.code_ = (typeCode == 'f') ? 'f' : 'd';
  out.num_.d_ = typeCode == 'f' ? static_cast<float>(v) : v;
  return out;
}

Value Value::dictionaryMovingFrom(std::vector<std::pair<std::string, Value>>&& entries) {
  Value out;
  out.type_ = Type::Dictionary;
  out.box_ = makeBox<os::Dictionary>(Type::Dictionary);
  payloadOf<os::Dictionary>(out.box_)->adopt(std::move(entries));
  return out;
}

Value Value::dictionaryOfDistinctKeysMovingFrom(std::vector<std::pair<std::string, Value>>&& entries) {
  Value out;
  out.type_ = Type::Dictionary;
  out.box_ = makeBox<os::Dictionary>(Type::Dictionary);
  payloadOf<os::Dictionary>(out.box_)->adoptDistinct(std::move(entries));
  return out;
}

Value Value::set(os::Array members) {
  SetBox box;
  for (auto& m : members)
    if (std::find(box.members.begin(), box.members.end(), m) == box.members.end()) box.members.push_back(std::move(m));
  Value out;
  out.type_ = Type::Set;
  out.box_ = makeBox<SetBox>(Type::Set, std::move(box));
  return out;
}

char Value::typeCode() const { return (type_ == Type::Number || type_ == Type::Boolean) ? code_ : 0; }
bool Value::isUnsigned() const { return type_ == Type::Number && isUnsignedCode(code_); }

template <class T>
const T* Value::boxed() const {
  return static_cast<const T*>(payload());
}

template <class T>
T* Value::mutableBoxed() {
  if (box_ && box_->refs.load(std::memory_order_acquire) > 1) {
    detail::BoxHeader* copy = makeBox<T>(type_, *static_cast<const T*>(payload()));
    detail::releaseBox(box_);
    box_ = copy;
  }
  return static_cast<T*>(payload());
}

bool Value::boolValue() const {
  switch (type_) {
    case Type::Boolean: return num_.b_;
    case Type::Number: return isFloatingPoint() ? num_.d_ != 0 : num_.i_ != 0;
    case Type::String: {
      // The platform's rule: leading whitespace, then Y/y/T/t or a non-zero digit means true.
      const std::string& s = *boxed<std::string>();
      std::size_t i = s.find_first_not_of(" \t\n\r");
      if (i == std::string::npos) return false;
      char c = s[i];
      if (c == 'Y' || c == 'y' || c == 'T' || c == 't') return true;
      if (c == '+' || c == '-') ++i;
      while (i < s.size() && s[i] == '0') ++i;
      return i < s.size() && s[i] >= '1' && s[i] <= '9';
    }
    default: return false;
  }
}

long long Value::intValue() const {
  switch (type_) {
    case Type::Boolean: return num_.b_ ? 1 : 0;
    case Type::Number:
      if (isFloatingPoint()) {
        double d = num_.d_;
        if (std::isnan(d)) return 0;
        if (d >= 9.2233720368547758e18) return INT64_MAX;
        if (d <= -9.2233720368547758e18) return INT64_MIN;
        return static_cast<long long>(d);
      }
      return num_.i_;
    case Type::String: return os::longLongValue(*boxed<std::string>());
    default: return 0;
  }
}

unsigned long long Value::unsignedValue() const {
  if (type_ == Type::Number && isUnsigned()) return num_.u_;
  if (type_ == Type::String) return std::strtoull(boxed<std::string>()->c_str(), nullptr, 10);
  if (type_ == Type::Number && isFloatingPoint()) {
    double d = num_.d_;
    if (!(d > 0)) return static_cast<unsigned long long>(static_cast<long long>(std::isnan(d) ? 0 : std::max(d, -9.2e18)));
    if (d >= 1.8446744073709552e19) return UINT64_MAX;
    return static_cast<unsigned long long>(d);
  }
  return static_cast<unsigned long long>(intValue());
}

double Value::doubleValue() const {
  switch (type_) {
    case Type::Boolean: return num_.b_ ? 1 : 0;
    case Type::Number:
      if (isFloatingPoint()) return num_.d_;
      return isUnsigned() ? static_cast<double>(num_.u_) : static_cast<double>(num_.i_);
    // Decimal text only: strtod would also read hexadecimal, "inf" and "nan".
    case Type::String: return os::doubleValue(*boxed<std::string>());
    case Type::Date: return num_.d_;
    default: return 0;
  }
}

const std::string* Value::string() const { return type_ == Type::String ? boxed<std::string>() : nullptr; }
const os::Data* Value::data() const { return type_ == Type::Data ? boxed<os::Data>() : nullptr; }
std::optional<os::Date> Value::date() const {
  if (type_ != Type::Date) return std::nullopt;
  return os::Date::fromTimeIntervalSince1970(num_.d_);
}
const os::Array* Value::array() const { return type_ == Type::Array ? boxed<os::Array>() : nullptr; }
const os::Dictionary* Value::dictionary() const { return type_ == Type::Dictionary ? boxed<os::Dictionary>() : nullptr; }
const os::Array* Value::setMembers() const { return type_ == Type::Set ? &boxed<SetBox>()->members : nullptr; }
std::string* Value::mutableString() { return type_ == Type::String ? mutableBoxed<std::string>() : nullptr; }
os::Data* Value::mutableData() { return type_ == Type::Data ? mutableBoxed<os::Data>() : nullptr; }
os::Array* Value::mutableArray() { return type_ == Type::Array ? mutableBoxed<os::Array>() : nullptr; }
os::Dictionary* Value::mutableDictionary() { return type_ == Type::Dictionary ? mutableBoxed<os::Dictionary>() : nullptr; }

std::string Value::stringOr(std::string_view fallback) const {
  if (const std::string* s = string()) return *s;
  return std::string(fallback);
}

const Value& Value::operator[](std::string_view key) const {
  if (const Dictionary* d = dictionary()) return (*d)[key];
  return null();
}

const Value& Value::at(std::size_t index) const {
  const Array* a = array();
  if (a && index < a->size()) return (*a)[index];
  return null();
}

std::size_t Value::count() const {
  if (const Array* a = array()) return a->size();
  if (const Array* s = setMembers()) return s->size();
  if (const Dictionary* d = dictionary()) return d->size();
  return 0;
}

bool Value::operator==(const Value& o) const {
  bool numericA = type_ == Type::Number || type_ == Type::Boolean;
  bool numericB = o.type_ == Type::Number || o.type_ == Type::Boolean;
  if (numericA && numericB) {
    if (isFloatingPoint() || o.isFloatingPoint()) return doubleValue() == o.doubleValue();
    if (isUnsigned() != o.isUnsigned()) {
      const Value& u = isUnsigned() ? *this : o;
      const Value& s = isUnsigned() ? o : *this;
      return s.intValue() >= 0 && static_cast<unsigned long long>(s.intValue()) == u.unsignedValue();
    }
    return isUnsigned() ? unsignedValue() == o.unsignedValue() : intValue() == o.intValue();
  }
  if (type_ != o.type_) return false;
  switch (type_) {
    case Type::Null: return true;
    case Type::Date: return num_.d_ == o.num_.d_;
    case Type::String: return *string() == *o.string();
    case Type::Data: return *data() == *o.data();
    case Type::Array: return *array() == *o.array();
    case Type::Dictionary: return *dictionary() == *o.dictionary();
    case Type::Set: {
      const Array& a = *setMembers();
      const Array& b = *o.setMembers();
      if (a.size() != b.size()) return false;
      for (const auto& m : a)
        if (std::find(b.begin(), b.end(), m) == b.end()) return false;
      return true;
    }
    default: return false;
  }
}

std::string Value::description() const {
  std::string out;
  describe(*this, 0, out);
  return out;
}

ValueStorageScope::ValueStorageScope() { ++tCursor.scopes; }

ValueStorageScope::~ValueStorageScope() {
  if (--tCursor.scopes == 0) finishBlock(tCursor);
}

// ---- Copies for keeping ----

namespace {

// While one is alive the thread makes values on storage of their own, as outside any scope; the
// scope it was in, and its block, carry on afterwards.
class OwnStorage {
 public:
  OwnStorage() : scopes_(std::exchange(tCursor.scopes, 0u)) {}
  ~OwnStorage() { tCursor.scopes = scopes_; }
  OwnStorage(const OwnStorage&) = delete;
  OwnStorage& operator=(const OwnStorage&) = delete;

 private:
  unsigned scopes_;
};

Dictionary copyEntries(const Dictionary& dictionary);

Value copyTree(const Value& value) {
  switch (value.type()) {
    case Value::Type::String: return Value(*value.string());
    case Value::Type::Data: return Value(*value.data());
    case Value::Type::Array: {
      Array items;
      items.reserve(value.array()->size());
      for (const Value& item : *value.array()) items.push_back(copyTree(item));
      return Value(std::move(items));
    }
    case Value::Type::Dictionary: return Value(copyEntries(*value.dictionary()));
    case Value::Type::Set: {
      Array members;
      members.reserve(value.setMembers()->size());
      for (const Value& member : *value.setMembers()) members.push_back(copyTree(member));
      return Value::set(std::move(members));
    }
    default: return value;  // held inline: nothing shared
  }
}

Dictionary copyEntries(const Dictionary& dictionary) {
  std::vector<Dictionary::Entry> entries;
  entries.reserve(dictionary.size());
  for (const auto& [key, value] : dictionary) entries.emplace_back(key, copyTree(value));
  Dictionary out;
  out.adoptDistinct(std::move(entries));
  return out;
}

}  // namespace

Value detached(const Value& value) {
  OwnStorage own;
  return copyTree(value);
}

Dictionary detached(const Dictionary& dictionary) {
  OwnStorage own;
  return copyEntries(dictionary);
}

bool inSharedBlock(const Value& value) {
  const void* payload = nullptr;
  switch (value.type()) {
    case Value::Type::String: payload = value.string(); break;
    case Value::Type::Data: payload = value.data(); break;
    case Value::Type::Array: payload = value.array(); break;
    case Value::Type::Dictionary: payload = value.dictionary(); break;
    // The members stand first in a set's box.
    case Value::Type::Set: payload = value.setMembers(); break;
    default: return false;
  }
  // The storage stands in its box right after the header (see payloadOf).
  const auto* box = reinterpret_cast<const detail::BoxHeader*>(static_cast<const char*>(payload) - sizeof(detail::BoxHeader));
  return box->fromBlock;
}

const Value& Value::null() {
  static const Value kNull;
  return kNull;
}

const char* typeName(Value::Type t) {
  switch (t) {
    case Value::Type::Null: return "null";
    case Value::Type::Boolean: return "boolean";
    case Value::Type::Number: return "number";
    case Value::Type::String: return "string";
    case Value::Type::Data: return "data";
    case Value::Type::Date: return "date";
    case Value::Type::Array: return "array";
    case Value::Type::Dictionary: return "dictionary";
    case Value::Type::Set: return "set";
  }
  return "?";
}

}  // namespace os
