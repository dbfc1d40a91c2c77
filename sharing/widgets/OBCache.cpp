#include "sharing/widgets/OBCache.h"

#include <cerrno>
#include <utility>
#include <vector>

#include "os/core/Log.h"
#include "os/core/String.h"
#include "os/crypto/Digest.h"
#include "os/graphics/Image.h"
#include "os/graphics/ImageCodec.h"
#include "os/runtime/DispatchQueue.h"
#include "os/store/Bundle.h"
#include "os/store/FileManager.h"
#include "os/store/PropertyList.h"
#include "os/store/Sandbox.h"
#include "os/views/Application.h"
#include "sharing/service/OBSocialContext.h"

namespace {

// Burst of stores, one index write.
constexpr double kSaveDelay = 0.3;

// Only letters, digits, "-" and "_" stand for themselves: no key can name the index, ".", ".." or
// a path in another folder, and every name is ASCII, so the index that lists the names can always
// be written. The empty key gets "%", which no other key escapes to.
constexpr const char* kFileNameCharacters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
constexpr const char* kEmptyKeyFileName = "%";
// The longest name a folder entry may have. A key whose escaped name is longer goes by "%%" and
// the SHA-1 of the key in hexadecimal: "%%" starts no escaped name, so no other key takes it.
constexpr std::size_t kLongestFileName = 255;
constexpr const char* kDigestPrefix = "%%";
constexpr std::size_t kDigestHexLength = 40;

bool isDigestName(const std::string& name) {
  if (name.size() != 2 + kDigestHexLength || !name.starts_with(kDigestPrefix)) return false;
  for (std::size_t i = 2; i < name.size(); ++i)
    if (!((name[i] >= '0' && name[i] <= '9') || (name[i] >= 'a' && name[i] <= 'f'))) return false;
  return true;
}

struct SharedCache {
  std::shared_ptr<OBCache> cache;
};

}  // namespace

OBCache::OBCache(std::string directory)
    : directory_(std::move(directory)), queue_(os::DispatchQueue::create("OBCache.disk")) {
  auto& files = os::FileManager::defaultManager();
  files.createDirectoryAtPath(directory_, true);
  files.removeAbandonedTemporaryFilesInDirectory(directory_);
  const os::Date now = os::Date::now();
  // A missing or damaged index starts an empty store.
  os::Dictionary listed;
  os::Error readError;
  if (auto bytes = files.contentsAtPath(directory_ + "/" + kOBCacheIndexName, &readError)) {
    listed = readIndex(*bytes, [&](const std::string& name) { return files.fileExistsAtPath(directory_ + "/" + name); }, now);
  } else if (readError.code != ENOENT) {
    // There but not readable now (no descriptor left, an I/O error): its entries are not lost
    // with it. It is read again before an index is written over it.
    indexUnread_ = true;
    os::logf("OBSocial: the cache index %s could not be read (%s); it is read again before it is written",
             (directory_ + "/" + kOBCacheIndexName).c_str(), readError.localizedDescription().c_str());
  }
  // An expired entry goes with its file, and the index is written without it: listed with no file,
  // it would leave a later start to guess whose a file beside it is (a key equal to its name).
  std::vector<os::Dictionary::Entry> live;
  live.reserve(listed.size());
  for (const auto& [name, date] : listed) {
    auto expiry = date.date();
    if (expiry && *expiry > now)
      live.emplace_back(name, date);
    else
      files.removeItemAtPath(directory_ + "/" + name);
  }
  const bool dropped = live.size() != listed.size();
  cacheDictionary_.adoptDistinct(std::move(live));
  if (dropped) {
    indexDirty_ = true;
    // The destructor waits for the queue, so the task may use this.
    queue_->async([this] { saveCacheDictionary(); });
  }
}

OBCache::~OBCache() {
  auto& center = os::NotificationCenter::defaultCenter();
  if (backgroundToken_) center.removeObserver(backgroundToken_);
  if (terminateToken_) center.removeObserver(terminateToken_);
  // The last owner may be a delayed index write running on the queue itself.
  if (!queue_->isCurrent()) waitUntilWritten();
  // An index write still waiting for its quiet period would be lost with the store: written now.
  bool dirty = false;
  {
    std::lock_guard lock(mutex_);
    dirty = indexDirty_;
  }
  if (dirty) saveCacheDictionary();
}

std::string OBCache::fileNameForKey(const std::string& key) {
  if (key.empty()) return kEmptyKeyFileName;
  std::string escaped = os::percentEscape(key, kFileNameCharacters);
  // Names that fit stay as earlier versions wrote them, so their files are still found.
  if (escaped.size() <= kLongestFileName) return escaped;
  return kDigestPrefix + os::sha1Hex(key);
}

bool OBCache::isFileName(const std::string& name) {
  if (name == kEmptyKeyFileName || isDigestName(name)) return true;
  auto key = os::percentUnescapeBytes(name);
  return key && !key->empty() && fileNameForKey(*key) == name;
}

os::Dictionary OBCache::readIndex(const os::Data& bytes, const std::function<bool(const std::string&)>& hasFile,
                                 os::Date now) {
  auto index = os::PropertyList::read(bytes);
  os::Dictionary out;
  if (!index || !index->dictionary()) return out;
  const os::Dictionary& listed = *index->dictionary();
  out.reserve(listed.size());
  // Each entry on its own, never the index as a whole: an index of names can list one that looks
  // wrong (its file gone, a same-named key's file beside it) without the others being keys. An
  // index written before the index listed file names lists the keys themselves (their files had
  // escaped names already): an entry that no key escapes to is such a key. A name that is also a
  // key ("%25", "%%" and a digest) is taken as the key only where that alone finds a file: the
  // name's own file is missing, the key's is there and listed under no other entry, and the entry
  // is live (an expired one would only cost that file, which may be a newer store's).
  for (const auto& [entry, date] : listed) {
    const auto expiry = date.date();
    if (!expiry) continue;
    std::string name = isFileName(entry) ? entry : fileNameForKey(entry);
    if (name == entry && hasFile && entry.find('%') != std::string::npos && *expiry > now && !hasFile(entry)) {
      std::string asKey = fileNameForKey(entry);
      if (!listed.contains(asKey) && hasFile(asKey)) name = std::move(asKey);
    }
    if (!out.contains(name)) out.set(std::move(name), date);
  }
  return out;
}

std::string OBCache::defaultDirectory() {
  auto sandbox = os::Sandbox::current();
  std::string process = "newsreader";
  if (auto name = sandbox->mainBundle()->objectForInfoDictionaryKey("CFBundleExecutable").string(); name && !name->empty())
    process = *name;
  return sandbox->cachesDirectory() + "/" + fileNameForKey(process) + "/OBCache";
}

std::shared_ptr<OBCache> OBCache::currentCache() {
  return OBSocialContext::current()
      ->instance<SharedCache>([] {
        auto cache = std::make_shared<OBCache>(defaultDirectory());
        cache->observeApplicationState();
        return std::make_shared<SharedCache>(SharedCache{std::move(cache)});
      })
      ->cache;
}

void OBCache::observeApplicationState() {
  auto& center = os::NotificationCenter::defaultCenter();
  std::weak_ptr<OBCache> weak = weak_from_this();
  auto flushing = [weak](const os::Notification&) {
    if (auto self = weak.lock()) self->flush();
  };
  backgroundToken_ = center.addObserver(os::kApplicationDidEnterBackgroundNotification, nullptr, flushing);
  terminateToken_ = center.addObserver(os::kApplicationWillTerminateNotification, nullptr, flushing);
}

std::string OBCache::pathForKey(const std::string& key) const { return directory_ + "/" + fileNameForKey(key); }

bool OBCache::hasCacheForKey(const std::string& key) const {
  const std::string name = fileNameForKey(key);
  {
    std::lock_guard lock(mutex_);
    auto expiry = cacheDictionary_[name].date();
    if (!expiry || *expiry <= os::Date::now()) return false;
    auto pending = pending_.find(name);
    if (pending != pending_.end()) return pending->second.data.has_value();
  }
  return os::FileManager::defaultManager().fileExistsAtPath(directory_ + "/" + name);
}

std::optional<os::Data> OBCache::bytesForKey(const std::string& key) const {
  const std::string name = fileNameForKey(key);
  {
    std::lock_guard lock(mutex_);
    auto pending = pending_.find(name);
    if (pending != pending_.end()) return pending->second.data;
  }
  return os::FileManager::defaultManager().contentsAtPath(directory_ + "/" + name);
}

std::optional<os::Data> OBCache::dataForKey(const std::string& key) const {
  if (!hasCacheForKey(key)) return std::nullopt;
  return bytesForKey(key);
}

void OBCache::setData(const os::Data& data, const std::string& key) { store(data, key, std::nullopt); }
void OBCache::setData(const os::Data& data, const std::string& key, double timeoutInterval) {
  store(data, key, timeoutInterval);
}

std::shared_ptr<os::Image> OBCache::imageForKey(const std::string& key) const {
  auto bytes = bytesForKey(key);
  return bytes ? os::decodeImage(*bytes) : nullptr;
}

void OBCache::setImage(const os::Image& image, const std::string& key) {
  if (auto png = os::encodePNG(image)) store(*png, key, std::nullopt);
}
void OBCache::setImage(const os::Image& image, const std::string& key, double timeoutInterval) {
  if (auto png = os::encodePNG(image)) store(*png, key, timeoutInterval);
}

std::optional<os::Value> OBCache::plistForKey(const std::string& key) const {
  auto bytes = dataForKey(key);
  return bytes ? os::PropertyList::read(*bytes) : std::nullopt;
}

void OBCache::setPlist(const os::Value& plist, const std::string& key) {
  if (auto bytes = os::PropertyList::write(plist, os::PropertyListFormat::Binary)) store(*bytes, key, std::nullopt);
}
void OBCache::setPlist(const os::Value& plist, const std::string& key, double timeoutInterval) {
  if (auto bytes = os::PropertyList::write(plist, os::PropertyListFormat::Binary)) store(*bytes, key, timeoutInterval);
}

void OBCache::copyFilePath(const std::string& sourcePath, const std::string& key) {
  if (auto bytes = os::FileManager::defaultManager().contentsAtPath(sourcePath)) store(*bytes, key, std::nullopt);
}
void OBCache::copyFilePath(const std::string& sourcePath, const std::string& key, double timeoutInterval) {
  if (auto bytes = os::FileManager::defaultManager().contentsAtPath(sourcePath)) store(*bytes, key, timeoutInterval);
}

void OBCache::store(std::optional<os::Data> data, const std::string& key, std::optional<double> timeoutInterval) {
  if (key == kOBCacheIndexName) return;
  storeAs(std::move(data), fileNameForKey(key), timeoutInterval);
}

void OBCache::storeAs(std::optional<os::Data> data, const std::string& key, std::optional<double> timeoutInterval) {
  // `key` is the entry's file name from here on.
  const std::string path = directory_ + "/" + key;
  std::lock_guard lock(mutex_);
  const std::uint64_t generation = ++generation_;
  if (indexUnread_) changedWhileUnread_.insert(key);
  if (data) {
    cacheDictionary_.set(key, os::Value(os::Date::now().addingTimeInterval(timeoutInterval.value_or(defaultTimeoutInterval_))));
  } else {
    cacheDictionary_.remove(key);
  }
  pending_[key] = Pending{generation, data};
  // Enqueued under the lock, so the queue's order is the order of the calls.
  // The destructor waits for the queue, so the task may use this.
  queue_->async([this, key, path, data = std::move(data), generation] {
    {
      // A later store or removal of the key is queued behind this one: only it needs the disk.
      std::lock_guard lock(mutex_);
      auto pending = pending_.find(key);
      if (pending != pending_.end() && pending->second.generation != generation) return;
    }
    auto& files = os::FileManager::defaultManager();
    os::Error error;
    if (!data) {
      files.removeItemAtPath(path);
    } else if (!files.writeData(*data, path, {}, &error)) {
      // The disk refused it (full): the bytes of an older store are still there and would read as
      // this one's, so the entry goes absent instead.
      files.removeItemAtPath(path);
      os::logf("OBSocial: the cache entry %s could not be written: %s", path.c_str(),
               error.localizedDescription().c_str());
    }
    std::lock_guard lock(mutex_);
    auto pending = pending_.find(key);
    if (pending != pending_.end() && pending->second.generation == generation) pending_.erase(pending);
  });
  if (data) saveAfterDelay();
}

void OBCache::saveAfterDelay() {
  // mutex_ held. Only the last request of a burst writes.
  indexDirty_ = true;
  const std::uint64_t generation = ++saveGeneration_;
  std::weak_ptr<OBCache> weak = weak_from_this();
  // Timed on the main run loop, written on the disk queue after the writes before it.
  os::DispatchQueue::main()->asyncAfter(kSaveDelay, [weak, generation] {
    auto cache = weak.lock();
    if (!cache) return;
    {
      std::lock_guard lock(cache->mutex_);
      if (generation != cache->saveGeneration_) return;
    }
    cache->queue_->async([cache] { cache->saveCacheDictionary(); });
  });
}

bool OBCache::readUnreadIndex() {
  // mutex_ held.
  auto& files = os::FileManager::defaultManager();
  os::Error readError;
  auto bytes = files.contentsAtPath(directory_ + "/" + kOBCacheIndexName, &readError);
  if (!bytes && readError.code != ENOENT) return false;
  indexUnread_ = false;
  if (bytes && !clearedWhileUnread_) {
    // The entries this run did not store or remove come back as the index lists them.
    auto listed = readIndex(*bytes, [&](const std::string& name) { return files.fileExistsAtPath(directory_ + "/" + name); });
    for (const auto& [name, date] : listed)
      if (!changedWhileUnread_.contains(name)) cacheDictionary_.set(name, date);
  }
  changedWhileUnread_.clear();
  clearedWhileUnread_ = false;
  return true;
}

bool OBCache::saveCacheDictionary() {
  os::Dictionary snapshot;
  {
    std::lock_guard lock(mutex_);
    if (indexUnread_ && !readUnreadIndex()) {
      os::logf("OBSocial: the cache index %s still could not be read; it was not written over",
               (directory_ + "/" + kOBCacheIndexName).c_str());
      indexDirty_ = true;
      return false;
    }
    snapshot = cacheDictionary_;
    indexDirty_ = false;
  }
  os::Error error;
  if (os::PropertyList::writeFile(os::Value(std::move(snapshot)), directory_ + "/" + kOBCacheIndexName,
                                  os::PropertyListFormat::Binary, &error))
    return true;
  // Entries stored since the last good write would be lost at the next start: said, and tried
  // again with the next change or when the store ends.
  os::logf("OBSocial: the cache index %s could not be written: %s", (directory_ + "/" + kOBCacheIndexName).c_str(),
          error.localizedDescription().c_str());
  std::lock_guard lock(mutex_);
  indexDirty_ = true;
  return false;
}

void OBCache::removeCacheForKey(const std::string& key) {
  if (key == kOBCacheIndexName) return;
  store(std::nullopt, key, std::nullopt);
  queue_->async([this] { saveCacheDictionary(); });
}

void OBCache::clearCache() {
  // The index goes at once and the files in one task, then the index is written once: no step
  // costs the size of the cache per entry.
  std::lock_guard lock(mutex_);
  const std::uint64_t generation = ++generation_;
  std::vector<std::string> names;
  names.reserve(cacheDictionary_.size());
  for (const auto& [name, date] : cacheDictionary_) {
    names.push_back(name);
    pending_[name] = Pending{generation, std::nullopt};
  }
  cacheDictionary_.clear();
  if (indexUnread_) {
    clearedWhileUnread_ = true;
    changedWhileUnread_.clear();
  }
  // Enqueued under the lock, so a store made after the clear is written after it.
  queue_->async([this, names = std::move(names), generation] {
    auto& files = os::FileManager::defaultManager();
    for (const auto& name : names) {
      {
        std::lock_guard lock(mutex_);
        auto pending = pending_.find(name);
        if (pending == pending_.end() || pending->second.generation != generation) continue;
      }
      files.removeItemAtPath(directory_ + "/" + name);
      std::lock_guard lock(mutex_);
      auto pending = pending_.find(name);
      if (pending != pending_.end() && pending->second.generation == generation) pending_.erase(pending);
    }
    saveCacheDictionary();
  });
}

double OBCache::defaultTimeoutInterval() const {
  std::lock_guard lock(mutex_);
  return defaultTimeoutInterval_;
}

void OBCache::setDefaultTimeoutInterval(double seconds) {
  std::lock_guard lock(mutex_);
  defaultTimeoutInterval_ = seconds;
}

void OBCache::waitUntilWritten() const { queue_->sync([] {}); }

void OBCache::flush() {
  // On the queue, behind the writes asked for so far, so the index never lists a file still to
  // come and no older index is renamed over a newer one.
  auto write = [this] {
    bool dirty = false;
    {
      std::lock_guard lock(mutex_);
      dirty = indexDirty_;
    }
    if (dirty) saveCacheDictionary();
  };
  if (queue_->isCurrent())
    write();
  else
    queue_->sync(write);
}
