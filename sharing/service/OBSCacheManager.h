#pragma once
// The sharing component's persistence helpers: keyed archives of its model in the disk cache, and
// small values in the documents property list ".OBSocialData.plist".
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "os/core/Value.h"
#include "os/runtime/NotificationCenter.h"
#include "os/store/KeyedArchive.h"

class OBCache;

inline constexpr const char* kOBSocialDocumentFileName = ".OBSocialData.plist";

class OBSCacheManager : public std::enable_shared_from_this<OBSCacheManager> {
 public:
  // Making it gives the disk cache's default lifetime seven times its value (a day becomes a week).
  OBSCacheManager();
  // Writes nothing: the list's place is the sandbox current when a change is made, which at the
  // process's end may be gone; the application's end has written what waits already.
  ~OBSCacheManager();
  OBSCacheManager(const OBSCacheManager&) = delete;
  OBSCacheManager& operator=(const OBSCacheManager&) = delete;
  // The shared manager also writes what waits as the application goes to the background and as
  // it ends.
  static std::shared_ptr<OBSCacheManager> shareInstance();

  // Keeps a keyed archive of the item in the disk cache under the name. An item past what the
  // next start reads is not kept, and takes the older one under the name away.
  void setCacheToVariable(const os::ArchiveItem& item, const std::string& className);
  // The archived item when the cache holds one that has not expired and that decodes with the
  // registry's classes; absent otherwise.
  std::optional<os::ArchiveItem> changeVariableFromCache(const std::string& className,
                                                         const os::ArchiveClassRegistry& registry = {}) const;

  // A change still waiting to be written answers before the list on disk.
  std::optional<os::Value> getValueFromDocument(const std::string& key) const;
  // A null value removes the key. The list is read, changed and written whole, under one lock for
  // every writer of the context (the user manager's name, the data-manager set's key, ...), so no
  // write is lost to another made at the same time. A list that is there but cannot be read now
  // (no descriptor left, an input error) is not written over, and a write the disk refuses is
  // said: either way the change waits, and goes with the next write, merged into what the list
  // then holds. A value no list can hold is said and not kept.
  void setValueInDocument(const os::Value& value, const std::string& key);
  // Writes the changes still waiting, if any; false while they still cannot be written.
  bool flushDocument();

  static std::string documentPath();

 private:
  // documentMutex_ held: the list read, the waiting changes put over it and written.
  bool saveDocumentLocked();
  void observeApplicationState();

  std::shared_ptr<OBCache> cache_;
  mutable std::mutex documentMutex_;
  // Changes the list on disk does not hold yet, by key; a null value is a removal.
  std::map<std::string, os::Value> pendingDocument_;
  bool documentUnread_ = false;  // the last read failed in a way a later one may not
  os::NotificationCenter::ObserverToken backgroundToken_ = 0, terminateToken_ = 0;
};
