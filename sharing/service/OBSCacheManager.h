#pragma once
// The sharing component's persistence helpers: keyed archives of its model in the disk cache, and
// small values in the documents property list ".OBSocialData.plist".
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "os/core/Value.h"
#include "os/store/KeyedArchive.h"

class OBCache;

inline constexpr const char* kOBSocialDocumentFileName = ".OBSocialData.plist";

class OBSCacheManager {
 public:
  // Making it gives the disk cache's default lifetime seven times its value (a day becomes a week).
  OBSCacheManager();
  static std::shared_ptr<OBSCacheManager> shareInstance();

  // Keeps a keyed archive of the item in the disk cache under the name. An item past what the
  // next start reads is not kept, and takes the older one under the name away.
  void setCacheToVariable(const os::ArchiveItem& item, const std::string& className);
  // The archived item when the cache holds one that has not expired and that decodes with the
  // registry's classes; absent otherwise.
  std::optional<os::ArchiveItem> changeVariableFromCache(const std::string& className,
                                                         const os::ArchiveClassRegistry& registry = {}) const;

  std::optional<os::Value> getValueFromDocument(const std::string& key) const;
  // A null value removes the key. The list is read, changed and written whole, under one lock for
  // every writer of the context (the user manager's name, the data-manager set's key, ...), so no
  // write is lost to another made at the same time.
  void setValueInDocument(const os::Value& value, const std::string& key);

  static std::string documentPath();

 private:
  std::shared_ptr<OBCache> cache_;
  std::mutex documentMutex_;
};
