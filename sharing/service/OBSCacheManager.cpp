#include "sharing/service/OBSCacheManager.h"

#include "os/core/Log.h"
#include "os/store/FileManager.h"
#include "os/store/PropertyList.h"
#include "os/store/Sandbox.h"
#include "os/views/Application.h"
#include "sharing/service/OBSocialContext.h"
#include "sharing/widgets/OBCache.h"

namespace {

// The cache's archives are its own: one of n bytes lists fewer than n objects and, holding each
// container once, expands to fewer than n nodes, so the byte limit binds the rest. The
// unarchiver's default object limit, kept for archives from other applications, would refuse a
// friend list of some 17,000 friends that the cache wrote itself.
constexpr os::KeyedArchiveLimits kOwnArchiveLimits{.maxBytes = std::size_t{32} << 20,
                                                   .maxObjects = std::size_t{32} << 20,
                                                   .maxDepth = 256,
                                                   .maxNodes = std::uint64_t{32} << 20};

}  // namespace

OBSCacheManager::OBSCacheManager() : cache_(OBCache::currentCache()) {
  // The document's folder is the application's documents: only its own leftovers of saves cut short go.
  os::FileManager::defaultManager().removeAbandonedTemporaryFiles(documentPath());
  cache_->setDefaultTimeoutInterval(cache_->defaultTimeoutInterval() * 7);
}

OBSCacheManager::~OBSCacheManager() {
  auto& center = os::NotificationCenter::defaultCenter();
  if (backgroundToken_) center.removeObserver(backgroundToken_);
  if (terminateToken_) center.removeObserver(terminateToken_);
}

std::shared_ptr<OBSCacheManager> OBSCacheManager::shareInstance() {
  return OBSocialContext::current()->instance<OBSCacheManager>([] {
    auto manager = std::make_shared<OBSCacheManager>();
    manager->observeApplicationState();
    return manager;
  });
}

void OBSCacheManager::observeApplicationState() {
  // The process may be gone right after either, its destructors never run.
  auto& center = os::NotificationCenter::defaultCenter();
  std::weak_ptr<OBSCacheManager> weak = weak_from_this();
  auto flushing = [weak](const os::Notification&) {
    if (auto self = weak.lock()) self->flushDocument();
  };
  backgroundToken_ = center.addObserver(os::kApplicationDidEnterBackgroundNotification, nullptr, flushing);
  terminateToken_ = center.addObserver(os::kApplicationWillTerminateNotification, nullptr, flushing);
}

void OBSCacheManager::setCacheToVariable(const os::ArchiveItem& item, const std::string& className) {
  os::Error error;
  if (auto bytes = os::KeyedArchiver::archivedData(item, os::kKeyedArchiveRootKey, &error, &kOwnArchiveLimits)) {
    cache_->setData(*bytes, className);
    return;
  }
  // Nothing the next start could not read is written, and no older value stays to be read in
  // place of this one.
  os::logf("OBSocial: %s is not cached: %s", className.c_str(), error.localizedDescription().c_str());
  cache_->removeCacheForKey(className);
}

std::optional<os::ArchiveItem> OBSCacheManager::changeVariableFromCache(const std::string& className,
                                                                        const os::ArchiveClassRegistry& registry) const {
  auto bytes = cache_->dataForKey(className);
  if (!bytes) return std::nullopt;
  return os::KeyedUnarchiver::unarchiveObject(*bytes, registry, os::kKeyedArchiveRootKey, nullptr, kOwnArchiveLimits);
}

std::string OBSCacheManager::documentPath() {
  return os::Sandbox::current()->documentsDirectory() + "/" + kOBSocialDocumentFileName;
}

std::optional<os::Value> OBSCacheManager::getValueFromDocument(const std::string& key) const {
  {
    std::lock_guard lock(documentMutex_);
    if (auto waiting = pendingDocument_.find(key); waiting != pendingDocument_.end()) {
      if (waiting->second.isNull()) return std::nullopt;
      return waiting->second;
    }
  }
  auto document = os::PropertyList::readFile(documentPath());
  if (!document || !document->dictionary()) return std::nullopt;
  const os::Value* value = document->dictionary()->find(key);
  if (!value) return std::nullopt;
  return *value;
}

void OBSCacheManager::setValueInDocument(const os::Value& value, const std::string& key) {
  // Readers hold the lock only to look at what waits: the file is replaced whole by an atomic write.
  std::lock_guard lock(documentMutex_);
  if (!value.isNull()) {
    // Kept waiting, a value no write takes would hold back every later change with it.
    os::Error error;
    if (!os::PropertyList::write(os::Value(os::Dictionary{{key, value}}), os::PropertyListFormat::XML, &error)) {
      os::logf("OBSocial: %s is not kept in the documents list: %s", key.c_str(),
               error.localizedDescription().c_str());
      return;
    }
  }
  pendingDocument_[key] = value;
  saveDocumentLocked();
}

bool OBSCacheManager::flushDocument() {
  std::lock_guard lock(documentMutex_);
  return pendingDocument_.empty() || saveDocumentLocked();
}

bool OBSCacheManager::saveDocumentLocked() {
  const std::string path = documentPath();
  os::Error error;
  os::Dictionary document;
  if (auto existing = os::PropertyList::readFile(path, nullptr, &error)) {
    if (existing->dictionary()) document = *existing->dictionary();
  } else if (os::FileManager::mayReadLater(error) && os::FileManager::defaultManager().fileExistsAtPath(path)) {
    // There but not readable now: the user name and the keys it holds beside the change are not
    // written over. A list no read will ever get (damaged, a folder in its place) starts afresh.
    if (!documentUnread_)
      os::logf("OBSocial: the documents list %s could not be read (%s); nothing is written over it until it is read",
               path.c_str(), error.localizedDescription().c_str());
    documentUnread_ = true;
    return false;
  }
  documentUnread_ = false;
  for (const auto& [key, value] : pendingDocument_) {
    if (value.isNull())
      document.remove(key);
    else
      document.set(key, value);
  }
  if (!os::PropertyList::writeFile(os::Value(std::move(document)), path, os::PropertyListFormat::XML, &error)) {
    os::logf("OBSocial: the documents list %s could not be written (%s); it is written again with the next change",
             path.c_str(), error.localizedDescription().c_str());
    return false;
  }
  pendingDocument_.clear();
  return true;
}
