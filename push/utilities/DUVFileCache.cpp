#include "push/utilities/DUVFileCache.h"

#include <algorithm>
#include <cstdint>

#include "os/store/FileManager.h"
#include "os/store/KeyedArchive.h"
#include "os/store/PreparedFile.h"
#include "os/store/Sandbox.h"
#include "os/views/Application.h"

namespace {
std::mutex sharedMutex;
std::shared_ptr<DUVFileCache> sharedCache;

// A file written in pieces: this mark, then pieces, each its length (8 bytes, big-endian) and the
// keyed archive of {"path": [keys], "value": value}. A keyed archive never begins with the mark.
constexpr char kPiecesMark[] = "ZURAR pieces 1\n";
constexpr std::size_t kPiecesMarkLength = sizeof kPiecesMark - 1;
// Entries whose path is shorter than this are split when they are dictionaries: the file cache's
// keys, the report cache's fields, and the report records.
constexpr std::size_t kSplitDepth = 3;

// Runs of an array end after an element whose hash is a multiple of this, or at kMaximumRun.
constexpr std::size_t kRunCut = 32;
constexpr std::size_t kMaximumRun = 256;

std::size_t elementHash(const os::Value& element) {
  if (const std::string* text = element.string()) return std::hash<std::string>()(*text);
  if (element.isNumber()) return std::hash<long long>()(element.intValue());
  return 1;
}

// `what` is "value" (the value at the path) or "append" (elements to add to the array there).
std::shared_ptr<const os::Data> archivePiece(const std::vector<std::string>& path, const os::Value& value,
                                             const char* what = "value") {
  os::Array keys;
  keys.reserve(path.size());
  for (const auto& key : path) keys.push_back(os::Value(key));
  auto archive = os::KeyedArchiver::archivedData(
      os::ArchiveItem(os::Value(os::Dictionary{{"path", os::Value(std::move(keys))}, {what, value}})));
  if (!archive) return nullptr;
  auto piece = std::make_shared<os::Data>();
  piece->reserve(8 + archive->size());
  for (int shift = 56; shift >= 0; shift -= 8) piece->push_back(static_cast<std::uint8_t>(archive->size() >> shift));
  piece->insert(piece->end(), archive->begin(), archive->end());
  return piece;
}

const std::shared_ptr<const os::Data>& piecesMark() {
  static const auto mark = std::make_shared<const os::Data>(kPiecesMark, kPiecesMark + kPiecesMarkLength);
  return mark;
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
  cache->observeApplicationState();
  cache->readFileName(cacheName);
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

void DUVFileCache::readFileName(const std::string& name) {
  auto bytes = os::FileManager::defaultManager().contentsAtPath(fileNameForKey(name));
  if (!bytes || bytes->empty()) return;
  // Written in pieces by a crash, or archived whole by a save.
  if (auto pieces = readPieces(*bytes)) {
    std::lock_guard lock(mutex_);
    cacheObject_ = std::move(*pieces);
    return;
  }
  auto value = os::KeyedUnarchiver::unarchiveValue(*bytes);
  // A damaged file leaves the cache empty; the next write replaces it.
  if (!value || !value->dictionary()) return;
  std::lock_guard lock(mutex_);
  cacheObject_ = *value->dictionary();
}

std::optional<os::Dictionary> DUVFileCache::readPieces(const os::Data& bytes) {
  if (bytes.size() < kPiecesMarkLength || !std::equal(kPiecesMark, kPiecesMark + kPiecesMarkLength, bytes.begin()))
    return std::nullopt;
  os::Dictionary root;
  for (std::size_t at = kPiecesMarkLength; at < bytes.size();) {
    if (bytes.size() - at < 8) return std::nullopt;
    std::uint64_t length = 0;
    for (int i = 0; i < 8; ++i) length = (length << 8) | bytes[at + static_cast<std::size_t>(i)];
    at += 8;
    if (length > bytes.size() - at) return std::nullopt;
    auto piece = os::KeyedUnarchiver::unarchiveValue(
        os::Data(bytes.begin() + static_cast<long>(at), bytes.begin() + static_cast<long>(at + length)));
    at += length;
    const os::Array* path = piece ? (*piece)["path"].array() : nullptr;
    if (!path || path->empty()) return std::nullopt;
    // Each piece stands inside a dictionary an earlier piece made.
    os::Dictionary* into = &root;
    for (std::size_t i = 0; i + 1 < path->size(); ++i) {
      os::Value* next = (*path)[i].string() ? into->find(*(*path)[i].string()) : nullptr;
      into = next ? next->mutableDictionary() : nullptr;
      if (!into) return std::nullopt;
    }
    const std::string* key = path->back().string();
    if (!key) return std::nullopt;
    if (const os::Array* elements = (*piece)["append"].array()) {
      os::Value* array = into->find(*key);
      os::Array* to = array ? array->mutableArray() : nullptr;
      if (!to) return std::nullopt;
      to->insert(to->end(), elements->begin(), elements->end());
    } else {
      into->set(*key, (*piece)["value"]);
    }
  }
  return root;
}

bool DUVFileCache::synchronize() {
  std::lock_guard lock(mutex_);
  auto archive = os::KeyedArchiver::archivedData(os::ArchiveItem(os::Value(cacheObject_)));
  if (!archive) return false;
  return os::FileManager::defaultManager().writeData(*archive, fileNameForKey(cacheName_), {.atomic = true, .mode = 0600});
}

void DUVFileCache::prepareCrashSnapshot(const os::Dictionary& entries) {
  os::Dictionary contents;
  {
    std::lock_guard lock(mutex_);
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
  snapshot_ = std::move(next);
  file->prepare(std::move(pieces));
  snapshotPrepared_ = true;
}

void DUVFileCache::preparePiece(SnapshotPiece& piece, std::vector<std::string>& path, const os::Value& value,
                                std::vector<std::shared_ptr<const os::Data>>& out) {
  if (value.isArray() && path.size() < kSplitDepth) {
    if (piece.kind != SnapshotPiece::Kind::Array) {
      piece = SnapshotPiece{};
      piece.kind = SnapshotPiece::Kind::Array;
      piece.bytes = archivePiece(path, os::Value(os::Array{}));
      ++piecesArchived_;
    }
    out.push_back(piece.bytes);
    prepareRuns(piece, path, *value.array(), out);
    return;
  }
  if (value.isDictionary() && path.size() < kSplitDepth) {
    if (piece.kind != SnapshotPiece::Kind::Dictionary) {
      piece = SnapshotPiece{};
      piece.kind = SnapshotPiece::Kind::Dictionary;
      piece.bytes = archivePiece(path, os::Value(os::Dictionary{}));
      ++piecesArchived_;
    }
    out.push_back(piece.bytes);
    // Entries kept from the last snapshot move over; the ones gone are dropped with the old map.
    std::unordered_map<std::string, SnapshotPiece> entries;
    entries.reserve(value.dictionary()->size());
    for (const auto& [key, entry] : *value.dictionary()) {
      auto node = piece.entries.extract(key);
      if (node.empty()) node = entries.extract(entries.emplace(key, SnapshotPiece{}).first);
      path.push_back(key);
      preparePiece(node.mapped(), path, entry, out);
      path.pop_back();
      entries.insert(std::move(node));
    }
    piece.entries = std::move(entries);
    return;
  }
  // A copy of what was archived last time is that value still; anything else is compared.
  bool same = piece.value.sharesStorageWith(value) || (piece.value.type() == value.type() && piece.value == value);
  if (piece.kind != SnapshotPiece::Kind::Value || !piece.bytes || !same) {
    piece = SnapshotPiece{};
    piece.value = value;
    piece.bytes = archivePiece(path, value);
    ++piecesArchived_;
  }
  out.push_back(piece.bytes);
}

void DUVFileCache::prepareRuns(SnapshotPiece& piece, const std::vector<std::string>& path, const os::Array& elements,
                               std::vector<std::shared_ptr<const os::Data>>& out) {
  std::unordered_multimap<std::size_t, SnapshotRun> runs;
  std::size_t start = 0, hash = 0;
  for (std::size_t i = 0; i < elements.size(); ++i) {
    std::size_t element = elementHash(elements[i]);
    hash = hash * 1099511628211ull ^ element;
    if (element % kRunCut != 0 && i + 1 - start < kMaximumRun && i + 1 != elements.size()) continue;
    auto first = elements.begin() + static_cast<long>(start), last = elements.begin() + static_cast<long>(i + 1);
    auto same = [&](const SnapshotRun& run) {
      return std::equal(run.elements.begin(), run.elements.end(), first, last, [](const os::Value& a, const os::Value& b) {
        return a.sharesStorageWith(b) || (a.type() == b.type() && a == b);
      });
    };
    auto [from, to] = piece.runs.equal_range(hash);
    auto found = std::find_if(from, to, [&](const auto& entry) { return same(entry.second); });
    auto node = found != to ? piece.runs.extract(found) : decltype(piece.runs)::node_type{};
    if (node.empty()) {
      SnapshotRun run{os::Array(first, last), nullptr};
      run.bytes = archivePiece(path, os::Value(run.elements), "append");
      ++piecesArchived_;
      node = runs.extract(runs.emplace(hash, std::move(run)));
    }
    out.push_back(node.mapped().bytes);
    runs.insert(std::move(node));
    start = i + 1;
    hash = 0;
  }
  piece.runs = std::move(runs);
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
  if (object.isNull())
    cacheObject_.remove(key);
  else
    cacheObject_.set(key, encodeCacheObject(object));
}

void DUVFileCache::removeAllObjects() {
  std::lock_guard lock(mutex_);
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
      return object;
  }
}

os::Value DUVFileCache::decodeCacheObject(const os::Value& stored) {
  const os::Data* bytes = stored.data();
  if (!bytes) return stored;
  if (bytes->empty()) return os::Value();
  return os::KeyedUnarchiver::unarchiveValue(*bytes).value_or(os::Value());
}
