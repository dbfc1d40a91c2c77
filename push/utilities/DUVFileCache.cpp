#include "push/utilities/DUVFileCache.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>
#include <type_traits>

#include "os/core/ByteReader.h"
#include "os/core/Log.h"
#include "os/core/String.h"

#include "os/store/FileManager.h"
#include "os/store/KeyedArchive.h"
#include "os/store/PreparedFile.h"
#include "os/store/Sandbox.h"
#include "os/views/Application.h"

namespace {
std::mutex sharedMutex;
std::shared_ptr<DUVFileCache> sharedCache;

// The client reads back only what it wrote itself, so the limits are sized to that: the report
// cache alone may hold 50 MiB of records as a property list, which an archive writes in up to
// about twice the bytes, and its smallest records (a type and a time under their key) come to
// one archive object for every 15 of those bytes. Room for that and the rest of the client's
// state; a file past these is not one the client made. An archive holds each of its containers
// once, so it expands to fewer nodes than it has bytes: the byte limit bounds the nodes too.
// Records of many tiny dictionaries (the pages of usage sessions) archive in some five times
// their bytes, so a cache of little else may pass the byte limit before its own bound: saves
// hold the same limits, and one the next start could not read is refused, leaving the file it
// would have replaced.
constexpr os::KeyedArchiveLimits kOwnFileLimits{.maxBytes = std::size_t{192} << 20,
                                                .maxObjects = std::size_t{12} << 20,
                                                .maxDepth = 256,
                                                .maxNodes = std::uint64_t{192} << 20};

// A file written in pieces: this mark, then pieces, each its length (LEB128, never 0), the path
// (a count, then each key), what the piece does and its values in the encoding below; then a
// zero length, the end, which nothing follows. A file cut short anywhere lacks it. A keyed
// archive never begins with the mark.
constexpr std::string_view kPiecesMark = "ZURAR pieces 2\n";
// Written by earlier versions: each piece its length (8 bytes, big-endian) and the keyed archive
// of {"path": [keys], "value" or "append": value}, and no end.
constexpr std::string_view kOldPiecesMark = "ZURAR pieces 1\n";
// What a piece does at its path.
constexpr std::uint8_t kSetValue = 'v', kAppendElements = 'a', kSetEntries = 'm';
// Value tags.
enum Tag : std::uint8_t {
  kNull = 'n', kTrue = 'T', kFalse = 'F', kInteger = 'i', kUnsigned = 'u', kReal = 'r', kString = 's',
  kData = 'b', kDate = 't', kArray = 'a', kSet = 'e', kDictionary = 'd',
};
// As deep as an archive may nest.
constexpr int kMaximumDepth = 256;
// Room made ahead for a container's items: a count read from a damaged file may claim millions.
constexpr std::uint64_t kMostReserved = 4096;

// Runs end after an item whose hash is a multiple of this, or at kMaximumRun.
constexpr std::size_t kRunCut = 32;
constexpr std::size_t kMaximumRun = 256;

std::size_t elementHash(const os::Value& element) {
  if (const std::string* text = element.string()) return std::hash<std::string>()(*text);
  if (element.isNumber()) return std::hash<long long>()(element.intValue());
  return 1;
}

void putLength(os::Data& out, std::uint64_t n) {
  do {
    std::uint8_t byte = n & 0x7F;
    n >>= 7;
    out.push_back(n ? byte | 0x80 : byte);
  } while (n);
}

void putText(os::Data& out, const std::string& text) {
  // Text stays text: a string the process made of stray bytes or NULs is kept with them replaced.
  if (!os::isStorableText(text)) return putText(out, os::storableText(text));
  putLength(out, text.size());
  out.insert(out.end(), text.begin(), text.end());
}

void putFixed(os::Data& out, double d) {
  std::uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  for (int shift = 56; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(bits >> shift));
}

void putValue(os::Data& out, const os::Value& value) {
  switch (value.type()) {
    case os::Value::Type::Null: out.push_back(kNull); return;
    case os::Value::Type::Boolean: out.push_back(value.boolValue() ? kTrue : kFalse); return;
    case os::Value::Type::Number:
      if (value.isFloatingPoint()) {
        out.push_back(kReal);
        putFixed(out, value.doubleValue());
      } else if (value.isUnsigned() && value.unsignedValue() > static_cast<unsigned long long>(INT64_MAX)) {
        out.push_back(kUnsigned);
        putLength(out, value.unsignedValue());
      } else {
        // Zigzag, so that small negative numbers stay short.
        auto n = static_cast<std::uint64_t>(value.intValue());
        out.push_back(kInteger);
        putLength(out, (n << 1) ^ (value.intValue() < 0 ? ~std::uint64_t{0} : 0));
      }
      return;
    case os::Value::Type::String:
      out.push_back(kString);
      putText(out, *value.string());
      return;
    case os::Value::Type::Data:
      out.push_back(kData);
      putLength(out, value.data()->size());
      out.insert(out.end(), value.data()->begin(), value.data()->end());
      return;
    case os::Value::Type::Date:
      out.push_back(kDate);
      putFixed(out, value.date()->timeIntervalSinceReferenceDate());
      return;
    case os::Value::Type::Array:
    case os::Value::Type::Set: {
      const os::Array& items = value.isArray() ? *value.array() : *value.setMembers();
      out.push_back(value.isArray() ? kArray : kSet);
      putLength(out, items.size());
      for (const os::Value& item : items) putValue(out, item);
      return;
    }
    case os::Value::Type::Dictionary:
      out.push_back(kDictionary);
      putLength(out, value.dictionary()->size());
      for (const auto& [key, item] : *value.dictionary()) {
        putText(out, key);
        putValue(out, item);
      }
      return;
  }
}

// One piece: `what` done at `path` with `values`, or with the entries (keys and values) of `items`.
std::shared_ptr<const os::Data> encodePiece(const std::vector<std::string>& path, std::uint8_t what,
                                            const os::Value* value, const std::vector<os::Dictionary::Entry>* items) {
  os::Data body;
  putLength(body, path.size());
  for (const auto& key : path) putText(body, key);
  body.push_back(what);
  if (value) putValue(body, *value);
  if (items) {
    putLength(body, items->size());
    for (const auto& [key, item] : *items) {
      if (what == kSetEntries) putText(body, key);
      putValue(body, item);
    }
  }
  auto piece = std::make_shared<os::Data>();
  piece->reserve(body.size() + 10);
  putLength(*piece, body.size());
  piece->insert(piece->end(), body.begin(), body.end());
  return piece;
}

const std::shared_ptr<const os::Data>& piecesMark() {
  static const auto mark = std::make_shared<const os::Data>(kPiecesMark.begin(), kPiecesMark.end());
  return mark;
}

const std::shared_ptr<const os::Data>& piecesEnd() {
  static const auto end = std::make_shared<const os::Data>(1, std::uint8_t{0});
  return end;
}

bool beginsWith(const os::Data& bytes, std::string_view mark) {
  return bytes.size() >= mark.size() && std::equal(mark.begin(), mark.end(), bytes.begin());
}

// Reads the encoding above; every read checks what is left, so damage reads as absent.
class PieceReader {
 public:
  explicit PieceReader(os::ByteReader& reader) : reader_(reader) {}

  std::optional<std::uint64_t> length() {
    std::uint64_t n = 0;
    for (int shift = 0; shift < 64; shift += 7) {
      auto byte = reader_.u8();
      if (!byte) return std::nullopt;
      n |= std::uint64_t{*byte & 0x7Fu} << shift;
      if (!(*byte & 0x80)) return n;
    }
    return std::nullopt;
  }
  // A count of items each taking at least one byte: never more than the bytes left.
  std::optional<std::uint64_t> count() {
    auto n = length();
    return n && *n <= reader_.remaining() ? n : std::nullopt;
  }
  std::optional<std::string> text() {
    auto n = count();
    auto bytes = n ? reader_.text(static_cast<std::size_t>(*n)) : std::nullopt;
    if (!bytes) return std::nullopt;
    // As the other forms: text no save could write again is damage, not a value.
    if (!os::isStorableText(*bytes)) {
      why_ = "it holds text that is not UTF-8 or holds a NUL character";
      return std::nullopt;
    }
    return std::string(*bytes);
  }
  // Why a read failed, when it knows more than that the bytes are damaged.
  const std::string& why() const { return why_; }
  std::optional<double> fixed() {
    auto bits = reader_.u64();
    if (!bits) return std::nullopt;
    double d;
    std::memcpy(&d, &*bits, sizeof d);
    return d;
  }
  std::optional<os::Value> value(int depth = 0) {
    auto tag = reader_.u8();
    if (!tag || depth > kMaximumDepth) return std::nullopt;
    switch (*tag) {
      case kNull: return os::Value();
      case kTrue: return os::Value(true);
      case kFalse: return os::Value(false);
      case kInteger: {
        auto n = length();
        if (!n) return std::nullopt;
        return os::Value::number('q', static_cast<long long>((*n >> 1) ^ (0 - (*n & 1))));
      }
      case kUnsigned: {
        auto n = length();
        if (!n) return std::nullopt;
        return os::Value::unsignedNumber('Q', *n);
      }
      case kReal: {
        auto d = fixed();
        if (!d) return std::nullopt;
        return os::Value(*d);
      }
      case kString: {
        auto s = text();
        if (!s) return std::nullopt;
        return os::Value(std::move(*s));
      }
      case kData: {
        auto n = count();
        auto bytes = n ? reader_.bytes(static_cast<std::size_t>(*n)) : std::nullopt;
        if (!bytes) return std::nullopt;
        return os::Value(std::move(*bytes));
      }
      case kDate: {
        auto d = fixed();
        if (!d) return std::nullopt;
        return os::Value(os::Date::fromTimeIntervalSinceReferenceDate(*d));
      }
      case kArray:
      case kSet: {
        auto n = count();
        if (!n) return std::nullopt;
        os::Array items;
        items.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(*n, kMostReserved)));
        for (std::uint64_t i = 0; i < *n; ++i) {
          auto item = value(depth + 1);
          if (!item) return std::nullopt;
          items.push_back(std::move(*item));
        }
        return *tag == kArray ? os::Value(std::move(items)) : os::Value::set(std::move(items));
      }
      case kDictionary: {
        auto n = count();
        if (!n) return std::nullopt;
        std::vector<os::Dictionary::Entry> entries;
        entries.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(*n, kMostReserved)));
        if (!this->entries(*n, entries, depth + 1)) return std::nullopt;
        return os::Value::dictionaryMovingFrom(std::move(entries));
      }
      default: return std::nullopt;
    }
  }
  bool entries(std::uint64_t n, std::vector<os::Dictionary::Entry>& out, int depth) {
    for (std::uint64_t i = 0; i < n; ++i) {
      auto key = text();
      auto item = key ? value(depth) : std::nullopt;
      if (!item) return false;
      out.emplace_back(std::move(*key), std::move(*item));
    }
    return true;
  }

 private:
  os::ByteReader& reader_;
  std::string why_;
};

// The dictionary a path leads to, each step a dictionary an earlier piece made.
os::Dictionary* containerAt(os::Dictionary& root, const std::vector<std::string>& path) {
  os::Dictionary* into = &root;
  for (std::size_t i = 0; i + 1 < path.size(); ++i) {
    os::Value* next = into->find(path[i]);
    into = next ? next->mutableDictionary() : nullptr;
    if (!into) return nullptr;
  }
  return into;
}

// The dictionary of a file written in pieces; nothing, and why, when any piece is damaged or the
// end is missing.
std::optional<os::Dictionary> readPieces(const os::Data& bytes, std::string& why) {
  os::ByteReader reader(bytes);
  reader.skip(kPiecesMark.size());
  PieceReader pieces(reader);
  auto refused = [&](const char* reason = "a piece of it is damaged") -> std::optional<os::Dictionary> {
    why = pieces.why().empty() ? reason : pieces.why();
    return std::nullopt;
  };
  os::Dictionary root;
  for (;;) {
    auto length = pieces.length();
    if (!length || *length > reader.remaining()) return refused("it is cut short");
    if (*length == 0) break;
    const std::size_t end = reader.position() + static_cast<std::size_t>(*length);
    auto depth = pieces.count();
    if (!depth || *depth == 0) return refused();
    std::vector<std::string> path;
    for (std::uint64_t i = 0; i < *depth; ++i) {
      auto key = pieces.text();
      if (!key) return refused();
      path.push_back(std::move(*key));
    }
    os::Dictionary* into = containerAt(root, path);
    auto what = reader.u8();
    if (!into || !what) return refused();
    if (*what == kSetValue) {
      auto value = pieces.value(static_cast<int>(path.size()));
      if (!value) return refused();
      into->set(path.back(), std::move(*value));
    } else if (*what == kAppendElements) {
      os::Value* array = into->find(path.back());
      os::Array* to = array ? array->mutableArray() : nullptr;
      auto n = pieces.count();
      if (!to || !n) return refused();
      for (std::uint64_t i = 0; i < *n; ++i) {
        auto element = pieces.value(static_cast<int>(path.size()) + 1);
        if (!element) return refused();
        to->push_back(std::move(*element));
      }
    } else if (*what == kSetEntries) {
      os::Value* dictionary = into->find(path.back());
      os::Dictionary* to = dictionary ? dictionary->mutableDictionary() : nullptr;
      auto n = pieces.count();
      std::vector<os::Dictionary::Entry> entries;
      if (!to || !n || !pieces.entries(*n, entries, static_cast<int>(path.size()) + 1)) return refused();
      for (auto& [key, value] : entries) to->set(std::move(key), std::move(value));
    } else {
      return refused();
    }
    // A piece says how long it is: what it holds fills it exactly.
    if (reader.position() != end) return refused();
  }
  if (!reader.atEnd()) return refused("bytes follow its end");
  return root;
}

// The same for a file in the earlier form.
std::optional<os::Dictionary> readOldPieces(const os::Data& bytes, std::string& why) {
  auto refused = [&](std::string reason = "a piece of it is damaged") -> std::optional<os::Dictionary> {
    why = std::move(reason);
    return std::nullopt;
  };
  os::Dictionary root;
  for (std::size_t at = kOldPiecesMark.size(); at < bytes.size();) {
    if (bytes.size() - at < 8) return refused("it is cut short");
    std::uint64_t length = 0;
    for (int i = 0; i < 8; ++i) length = (length << 8) | bytes[at + static_cast<std::size_t>(i)];
    at += 8;
    if (length > bytes.size() - at) return refused("it is cut short");
    os::Error error;
    auto piece = os::KeyedUnarchiver::unarchiveValue(
        os::Data(bytes.begin() + static_cast<long>(at), bytes.begin() + static_cast<long>(at + length)),
        os::kKeyedArchiveRootKey, &error, kOwnFileLimits);
    if (!piece) return refused("a piece of it could not be read: " + error.localizedDescription());
    at += length;
    const os::Array* keys = piece ? (*piece)["path"].array() : nullptr;
    if (!keys || keys->empty()) return refused();
    std::vector<std::string> path;
    for (const os::Value& key : *keys) {
      if (!key.string()) return refused();
      path.push_back(*key.string());
    }
    os::Dictionary* into = containerAt(root, path);
    if (!into) return refused();
    if (const os::Array* elements = (*piece)["append"].array()) {
      os::Value* array = into->find(path.back());
      os::Array* to = array ? array->mutableArray() : nullptr;
      if (!to) return refused();
      to->insert(to->end(), elements->begin(), elements->end());
    } else {
      into->set(path.back(), (*piece)["value"]);
    }
  }
  return root;
}

}  // namespace

std::shared_ptr<DUVFileCache> DUVFileCache::startShareInstance(const std::string& cacheName) {
  std::lock_guard lock(sharedMutex);
  // One per sandbox: a fresh context (a test's) gets its own, the program keeps its one.
  if (!sharedCache || sharedCache->cachePath_ != os::Sandbox::current()->cachesDirectory())
    sharedCache = startCacheFile(cacheName);
  return sharedCache;
}

std::shared_ptr<DUVFileCache> DUVFileCache::shareInstance() {
  std::lock_guard lock(sharedMutex);
  return sharedCache;
}

std::shared_ptr<DUVFileCache> DUVFileCache::startCacheFile(const std::string& cacheName) {
  auto cache = std::make_shared<DUVFileCache>(PrivateTag{}, os::Sandbox::current()->cachesDirectory(), cacheName);
  // Saves killed while writing left their temporary files; each may be a whole copy of the cache.
  os::FileManager::defaultManager().removeAbandonedTemporaryFiles(cache->fileNameForKey(cacheName));
  cache->readFileName(cacheName);
  cache->observeApplicationState();
  return cache;
}

DUVFileCache::DUVFileCache(PrivateTag, std::string cachePath, std::string cacheName)
    : cachePath_(std::move(cachePath)), cacheName_(std::move(cacheName)) {}

DUVFileCache::~DUVFileCache() {
  if (snapshotPrepared_)
    if (auto* file = os::PreparedFile::forPath(fileNameForKey(cacheName_))) file->clear();
  auto& center = os::NotificationCenter::defaultCenter();
  if (backgroundToken_) center.removeObserver(backgroundToken_);
  if (memoryToken_) center.removeObserver(memoryToken_);
}

void DUVFileCache::observeApplicationState() {
  auto& center = os::NotificationCenter::defaultCenter();
  std::weak_ptr<DUVFileCache> weak = weak_from_this();
  auto save = [weak](const os::Notification&) {
    if (auto self = weak.lock()) self->synchronize();
  };
  backgroundToken_ = center.addObserver(os::kApplicationDidEnterBackgroundNotification, nullptr, save);
  memoryToken_ = center.addObserver(os::kApplicationDidReceiveMemoryWarningNotification, nullptr, save);
}

std::string DUVFileCache::fileNameForKey(const std::string& fileName) const {
  std::string folder = cacheUser_.empty() ? cachePath_ : os::appendingPathComponent(cachePath_, cacheUser_);
  if (!os::FileManager::defaultManager().fileExistsAtPath(folder))
    os::FileManager::defaultManager().createDirectoryAtPath(folder, true);
  return os::appendingPathComponent(folder, fileName);
}

std::optional<os::Dictionary> DUVFileCache::decodeFile(const os::Data& bytes, std::string& why) {
  // Written in pieces by a crash, or archived whole by a save.
  if (bytes.size() > kOwnFileLimits.maxBytes) {
    why = "larger than any file the client writes";
    return std::nullopt;
  }
  if (beginsWith(bytes, kPiecesMark)) return readPieces(bytes, why);
  if (beginsWith(bytes, kOldPiecesMark)) return readOldPieces(bytes, why);
  os::Error error;
  auto value = os::KeyedUnarchiver::unarchiveValue(bytes, os::kKeyedArchiveRootKey, &error, kOwnFileLimits);
  if (value && value->dictionary()) return *value->dictionary();
  why = value ? "it holds no dictionary" : error.localizedDescription();
  return std::nullopt;
}

void DUVFileCache::readFileName(const std::string& name) {
  const auto& files = os::FileManager::defaultManager();
  const std::string path = fileNameForKey(name);
  os::Error readError;
  auto bytes = files.contentsAtPath(path, &readError);
  if (!bytes && readError.code != ENOENT) {
    // There but not readable now (no descriptor left, an I/O error): what it holds is not known,
    // so it is read again before anything may replace it.
    os::log("push cache " + path + " could not be read (" + readError.localizedDescription() +
            "); it is read again before it is saved");
    std::lock_guard lock(mutex_);
    unread_ = true;
    return;
  }
  if (!bytes || bytes->empty()) return;
  std::string why;
  if (auto contents = decodeFile(*bytes, why)) {
    std::lock_guard lock(mutex_);
    cacheObject_ = std::move(*contents);
    return;
  }
  std::lock_guard lock(mutex_);
  setAside(path, why);
}

void DUVFileCache::setAside(const std::string& path, const std::string& why) {
  // The client goes on without it, but what the file held is kept for a person to look at: moved
  // aside, or, when it cannot be moved, left in place and never written over.
  const auto& files = os::FileManager::defaultManager();
  std::string aside = os::refusedFileName(path);
  os::Error moveError;
  if (files.moveItemAtPath(path, aside, &moveError)) {
    os::log("push cache " + path + " could not be read (" + why + "); it was moved to " + aside);
    return;
  }
  os::log("push cache " + path + " could not be read (" + why + ") nor moved aside (" +
          moveError.localizedDescription() + "); it is left as it is and not written this run");
  keepOff_ = true;
}

bool DUVFileCache::readUnreadFile(const std::string& path) {
  os::Error readError;
  auto bytes = os::FileManager::defaultManager().contentsAtPath(path, &readError);
  if (!bytes && readError.code != ENOENT) {
    os::log("push cache " + path + " still could not be read (" + readError.localizedDescription() +
            "); it was not saved over");
    return false;
  }
  unread_ = false;
  if (bytes && !bytes->empty() && !clearedWhileUnread_) {
    std::string why;
    if (auto contents = decodeFile(*bytes, why)) {
      // What this run set or removed stands; the rest of the file comes back.
      for (const auto& [key, value] : *contents)
        if (!changedWhileUnread_.contains(key)) cacheObject_.set(key, value);
    } else {
      setAside(path, why);
    }
  }
  changedWhileUnread_.clear();
  clearedWhileUnread_ = false;
  return !keepOff_;
}

bool DUVFileCache::synchronize() {
  std::lock_guard lock(mutex_);
  if (keepOff_) return false;
  const std::string path = fileNameForKey(cacheName_);
  if (unread_ && !readUnreadFile(path)) return false;
  // Saves come in twos and threes as the application goes (the client's own as it goes inactive,
  // then this one on the main thread as it goes to the background): one of a full report cache
  // takes a second or more, so what the file already holds is not written again.
  if (!unsaved_ && os::FileManager::defaultManager().fileExistsAtPath(path)) return true;
  os::Error error;
  auto archive = os::KeyedArchiver::archivedData(os::ArchiveItem(os::Value(cacheObject_)), os::kKeyedArchiveRootKey, &error,
                                                 &kOwnFileLimits);
  if (archive && os::FileManager::defaultManager().writeData(*archive, path, {.atomic = true, .mode = 0600}, &error)) {
    unsaved_ = false;
    return true;
  }
  os::log("push cache " + path + " was not saved (" + error.localizedDescription() +
          "); it keeps what the last save wrote");
  return false;
}

void DUVFileCache::prepareCrashSnapshot(const os::Dictionary& entries) {
  os::Dictionary contents;
  {
    std::lock_guard lock(mutex_);
    // A crash would write the snapshot over a file that was never read, and so lose it.
    if (keepOff_ || unread_) return;
    contents = cacheObject_;
  }
  for (const auto& [key, value] : entries) {
    if (value.isNull())
      contents.remove(key);
    else
      contents.set(key, encodeCacheObject(value));
  }
  auto* file = os::PreparedFile::forPath(fileNameForKey(cacheName_));
  if (!file) return;
  piecesArchived_ = 0;
  std::vector<std::shared_ptr<const os::Data>> pieces{piecesMark()};
  std::unordered_map<std::string, SnapshotPiece> next;
  std::vector<std::string> path;
  for (const auto& [key, value] : contents) {
    auto node = snapshot_.extract(key);
    if (node.empty()) node = next.extract(next.emplace(key, SnapshotPiece{}).first);
    path.assign(1, key);
    preparePiece(node.mapped(), path, value, pieces);
    next.insert(std::move(node));
  }
  pieces.push_back(piecesEnd());
  snapshot_ = std::move(next);
  // The next start reads no file past the limit: a crash then leaves the last save instead.
  std::size_t bytes = 0;
  for (const auto& piece : pieces) bytes += piece->size();
  if (bytes > kOwnFileLimits.maxBytes) {
    os::log("push cache crash snapshot of " + std::to_string(bytes) + " bytes is larger than the " +
            std::to_string(kOwnFileLimits.maxBytes) + " the next start reads; a crash leaves the last save");
    file->clear();
    return;
  }
  file->prepare(std::move(pieces));
  snapshotPrepared_ = true;
}

void DUVFileCache::preparePiece(SnapshotPiece& piece, std::vector<std::string>& path, const os::Value& value,
                                std::vector<std::shared_ptr<const os::Data>>& out) {
  // The file cache's entries split when they are arrays or dictionaries, and so do the arrays and
  // dictionaries inside them (the report cache's fields); what those hold goes in runs.
  SnapshotPiece::Kind kind = value.isArray()                               ? SnapshotPiece::Kind::Array
                             : value.isDictionary() && path.size() == 1 ? SnapshotPiece::Kind::Dictionary
                             : value.isDictionary()                      ? SnapshotPiece::Kind::Entries
                                                                         : SnapshotPiece::Kind::Value;
  if (kind != SnapshotPiece::Kind::Value) {
    if (piece.kind != kind || !piece.children) {
      piece = SnapshotPiece{};
      piece.kind = kind;
      piece.children = std::make_unique<SnapshotPiece::Children>();
      os::Value empty = kind == SnapshotPiece::Kind::Array ? os::Value(os::Array{}) : os::Value(os::Dictionary{});
      piece.bytes = encodePiece(path, kSetValue, &empty, nullptr);
      ++piecesArchived_;
    }
    out.push_back(piece.bytes);
  }
  if (kind == SnapshotPiece::Kind::Array) return prepareRuns(piece, path, nullptr, value.array(), out);
  if (kind == SnapshotPiece::Kind::Entries) return prepareRuns(piece, path, &value.dictionary()->entries(), nullptr, out);
  if (kind == SnapshotPiece::Kind::Dictionary) {
    // Entries kept from the last snapshot move over; the ones gone are dropped with the old map.
    auto& kept = piece.children->entries;
    std::unordered_map<std::string, SnapshotPiece> entries;
    entries.reserve(value.dictionary()->size());
    for (const auto& [key, entry] : *value.dictionary()) {
      auto node = kept.extract(key);
      if (node.empty()) node = entries.extract(entries.emplace(key, SnapshotPiece{}).first);
      path.push_back(key);
      preparePiece(node.mapped(), path, entry, out);
      path.pop_back();
      entries.insert(std::move(node));
    }
    kept = std::move(entries);
    return;
  }
  // A copy of what was encoded last time is that value still; anything else is compared.
  bool same = piece.value.sharesStorageWith(value) || (piece.value.type() == value.type() && piece.value == value);
  if (piece.kind != SnapshotPiece::Kind::Value || !piece.bytes || !same) {
    piece = SnapshotPiece{};
    piece.value = value;
    piece.bytes = encodePiece(path, kSetValue, &value, nullptr);
    ++piecesArchived_;
  }
  out.push_back(piece.bytes);
}

void DUVFileCache::prepareRuns(SnapshotPiece& piece, const std::vector<std::string>& path,
                               const std::vector<os::Dictionary::Entry>* entries, const os::Array* elements,
                               std::vector<std::shared_ptr<const os::Data>>& out) {
  const std::size_t count = entries ? entries->size() : elements->size();
  auto keyOf = [&](std::size_t i) -> const std::string& {
    static const std::string none;
    return entries ? (*entries)[i].first : none;
  };
  auto valueOf = [&](std::size_t i) -> const os::Value& { return entries ? (*entries)[i].second : (*elements)[i]; };
  auto& kept = piece.children->runs;
  std::unordered_multimap<std::size_t, SnapshotRun> runs;
  std::size_t start = 0, hash = 0;
  for (std::size_t i = 0; i < count; ++i) {
    std::size_t item = entries ? std::hash<std::string>()(keyOf(i)) : elementHash(valueOf(i));
    hash = hash * 1099511628211ull ^ item;
    if (item % kRunCut != 0 && i + 1 - start < kMaximumRun && i + 1 != count) continue;
    auto same = [&](const SnapshotRun& run) {
      if (run.items.size() != i + 1 - start) return false;
      for (std::size_t j = 0; j < run.items.size(); ++j) {
        const auto& [key, value] = run.items[j];
        const os::Value& now = valueOf(start + j);
        if (key != keyOf(start + j) || !(value.sharesStorageWith(now) || (value.type() == now.type() && value == now)))
          return false;
      }
      return true;
    };
    auto [from, to] = kept.equal_range(hash);
    auto found = std::find_if(from, to, [&](const auto& entry) { return same(entry.second); });
    auto node = found != to ? kept.extract(found) : std::remove_reference_t<decltype(kept)>::node_type{};
    if (node.empty()) {
      SnapshotRun run;
      run.items.reserve(i + 1 - start);
      for (std::size_t j = start; j <= i; ++j) run.items.emplace_back(keyOf(j), valueOf(j));
      run.bytes = encodePiece(path, entries ? kSetEntries : kAppendElements, nullptr, &run.items);
      ++piecesArchived_;
      node = runs.extract(runs.emplace(hash, std::move(run)));
    }
    out.push_back(node.mapped().bytes);
    runs.insert(std::move(node));
    start = i + 1;
    hash = 0;
  }
  kept = std::move(runs);
}

void DUVFileCache::clearFile() {
  std::lock_guard lock(mutex_);
  os::FileManager::defaultManager().removeItemAtPath(cachePath_);
  os::FileManager::defaultManager().createDirectoryAtPath(cachePath_, true);
}

bool DUVFileCache::hasObjectForKey(const std::string& key) const {
  std::lock_guard lock(mutex_);
  return cacheObject_.contains(key);
}

os::Value DUVFileCache::objectForKey(const std::string& key) const {
  std::lock_guard lock(mutex_);
  return decodeCacheObject(cacheObject_[key]);
}

void DUVFileCache::setObject(const os::Value& object, const std::string& key) {
  std::lock_guard lock(mutex_);
  unsaved_ = true;
  if (unread_) changedWhileUnread_.insert(key);
  if (object.isNull())
    cacheObject_.remove(key);
  else
    cacheObject_.set(key, encodeCacheObject(object));
}

void DUVFileCache::removeAllObjects() {
  std::lock_guard lock(mutex_);
  unsaved_ = true;
  if (unread_) {
    clearedWhileUnread_ = true;
    changedWhileUnread_.clear();
  }
  cacheObject_.clear();
}

std::string DUVFileCache::description() const {
  std::lock_guard lock(mutex_);
  return "cache Content:" + os::Value(cacheObject_).description();
}

os::Value DUVFileCache::encodeCacheObject(const os::Value& object) {
  switch (object.type()) {
    case os::Value::Type::Date:
    case os::Value::Type::Data: {
      auto archive = os::KeyedArchiver::archivedData(os::ArchiveItem(object));
      return archive ? os::Value(*archive) : os::Value();
    }
    default:
      // A text no save could write would stop every save while the cache holds it.
      return storableValue(object);
  }
}

namespace {

bool holdsOnlyStorableText(const os::Value& value) {
  switch (value.type()) {
    case os::Value::Type::String: return os::isStorableText(*value.string());
    case os::Value::Type::Array:
    case os::Value::Type::Set: {
      const os::Array& items = value.isArray() ? *value.array() : *value.setMembers();
      return std::all_of(items.begin(), items.end(), holdsOnlyStorableText);
    }
    case os::Value::Type::Dictionary:
      for (const auto& [key, item] : *value.dictionary())
        if (!os::isStorableText(key) || !holdsOnlyStorableText(item)) return false;
      return true;
    default: return true;
  }
}

// A value that holds text no save could write, with that text repaired and the rest shared.
os::Value withTextRepaired(const os::Value& value) {
  auto repaired = [](const os::Value& item) { return holdsOnlyStorableText(item) ? item : withTextRepaired(item); };
  switch (value.type()) {
    case os::Value::Type::String: return os::Value(os::storableText(*value.string()));
    case os::Value::Type::Array:
    case os::Value::Type::Set: {
      os::Array items;
      for (const os::Value& item : value.isArray() ? *value.array() : *value.setMembers()) items.push_back(repaired(item));
      return value.isArray() ? os::Value(std::move(items)) : os::Value::set(std::move(items));
    }
    case os::Value::Type::Dictionary: {
      // Two keys may repair to one: the later entry stands, as a later set would.
      os::Dictionary entries;
      for (const auto& [key, item] : *value.dictionary())
        entries.set(os::isStorableText(key) ? key : os::storableText(key), repaired(item));
      return os::Value(std::move(entries));
    }
    default: return value;
  }
}

}  // namespace

os::Value DUVFileCache::storableValue(const os::Value& value) {
  return holdsOnlyStorableText(value) ? value : withTextRepaired(value);
}

os::Value DUVFileCache::decodeCacheObject(const os::Value& stored) {
  const os::Data* bytes = stored.data();
  if (!bytes) return stored;
  if (bytes->empty()) return os::Value();
  return os::KeyedUnarchiver::unarchiveValue(*bytes).value_or(os::Value());
}
