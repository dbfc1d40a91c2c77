#include "sharing/service/OBSCacheManager.h"

#include "os/core/Log.h"
#include "os/store/FileManager.h"
#include "os/store/PropertyList.h"
#include "os/store/Sandbox.h"
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

std::shared_ptr<OBSCacheManager> OBSCacheManager::shareInstance() { return OBSocialContext::shared<OBSCacheManager>(); }

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
  auto document = os::PropertyList::readFile(documentPath());
  if (!document || !document->dictionary()) return std::nullopt;
  const os::Value* value = document->dictionary()->find(key);
  if (!value) return std::nullopt;
  return *value;
}

void OBSCacheManager::setValueInDocument(const os::Value& value, const std::string& key) {
  // Readers need no lock: the file is replaced whole by an atomic write.
  std::lock_guard lock(documentMutex_);
  os::Dictionary document;
  if (auto existing = os::PropertyList::readFile(documentPath()); existing && existing->dictionary())
    document = *existing->dictionary();
  if (value.isNull())
    document.remove(key);
  else
    document.set(key, value);
  os::PropertyList::writeFile(os::Value(std::move(document)), documentPath(), os::PropertyListFormat::XML);
}
