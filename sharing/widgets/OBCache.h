#pragma once
// The sharing component's small persistent key-value store: one file per entry in
// Caches/<process name>/OBCache and an index "OBCache.plist" of each key's expiry date.
//
// Writes go to one serial queue in the order they were asked for; until a write has reached the
// disk, reads answer the pending bytes, so a read right after a store sees it. Keys become file
// names only in an escaped form, so a key from outside cannot leave the folder. Any thread may
// store and read.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "os/core/Data.h"
#include "os/core/Date.h"
#include "os/core/Value.h"
#include "os/runtime/NotificationCenter.h"

namespace os {
class DispatchQueue;
class Image;
}  // namespace os

inline constexpr const char* kOBCacheIndexName = "OBCache.plist";
inline constexpr double kOBCacheDefaultTimeoutInterval = 86400;

class OBCache : public std::enable_shared_from_this<OBCache> {
 public:
  // Opens (or creates) the store in the given folder.
  explicit OBCache(std::string directory);
  ~OBCache();
  // The shared store of the current context, in the current sandbox's caches folder.
  static std::shared_ptr<OBCache> currentCache();
  static std::string defaultDirectory();

  bool hasCacheForKey(const std::string& key) const;
  std::optional<os::Data> dataForKey(const std::string& key) const;
  void setData(const os::Data& data, const std::string& key);
  void setData(const os::Data& data, const std::string& key, double timeoutInterval);

  // The entry decoded as an image, whatever its expiry.
  std::shared_ptr<os::Image> imageForKey(const std::string& key) const;
  void setImage(const os::Image& image, const std::string& key);
  void setImage(const os::Image& image, const std::string& key, double timeoutInterval);

  std::optional<os::Value> plistForKey(const std::string& key) const;
  void setPlist(const os::Value& plist, const std::string& key);
  void setPlist(const os::Value& plist, const std::string& key, double timeoutInterval);

  void copyFilePath(const std::string& sourcePath, const std::string& key);
  void copyFilePath(const std::string& sourcePath, const std::string& key, double timeoutInterval);

  void removeCacheForKey(const std::string& key);
  void clearCache();

  double defaultTimeoutInterval() const;
  void setDefaultTimeoutInterval(double seconds);

  // Returns once every write and removal asked for so far has reached the disk.
  void waitUntilWritten() const;

  const std::string& directory() const { return directory_; }
  // An index file's bytes to the index, file name -> expiry date: empty for anything but a
  // property-list dictionary; entries whose value is not a date are dropped. An index of an older
  // store lists keys, each of which becomes its key's file name. Each entry is read on its own;
  // `hasFile` (whether the folder holds a file of that name) tells a live entry that is a key
  // looking like a name from a name, where only the files can.
  static os::Dictionary readIndex(const os::Data& bytes, const std::function<bool(const std::string&)>& hasFile = {},
                                  os::Date now = os::Date::now());

  // The name of an entry's file, which the index lists: never empty, ASCII letters, digits, "-",
  // "_" and "%" escapes only, one name per key. A key whose escaped name would be too long for a
  // file name gets "%%" and the key's SHA-1 in hexadecimal instead.
  static std::string fileNameForKey(const std::string& key);
  static bool isFileName(const std::string& name);
  // The file an entry lives in.
  std::string pathForKey(const std::string& key) const;
  // Writes the index now; false (and a log line) when it could not be written, in which case it
  // is written again with the next change. An index that could not be read at start is read
  // first, and is not written over while it still cannot be.
  bool saveCacheDictionary();
  // Writes what is still waiting (the files, then the index) before it returns.
  void flush();

 private:
  struct Pending {
    std::uint64_t generation;
    std::optional<os::Data> data;  // absent: a removal
  };
  void store(std::optional<os::Data> data, const std::string& key, std::optional<double> timeoutInterval);
  void storeAs(std::optional<os::Data> data, const std::string& fileName, std::optional<double> timeoutInterval);
  std::optional<os::Data> bytesForKey(const std::string& key) const;
  void saveAfterDelay();
  // mutex_ held: the index that could not be read at start, read and merged now; false while it
  // still cannot be read.
  bool readUnreadIndex();
  // The shared store flushes as the application goes to the background and as it ends: the
  // process may be gone right after, its destructors never run, before the index's quiet period.
  void observeApplicationState();

  const std::string directory_;
  std::shared_ptr<os::DispatchQueue> queue_;
  mutable std::mutex mutex_;
  os::Dictionary cacheDictionary_;  // file name -> expiry date
  std::map<std::string, Pending> pending_;
  std::uint64_t generation_ = 0;
  std::uint64_t saveGeneration_ = 0;
  bool indexDirty_ = false;  // a change the index file does not hold yet
  // The index was there at start but could not be read: it is read again before one is written
  // over it, and the entries this run stored or removed meanwhile go over what it lists.
  bool indexUnread_ = false;
  std::set<std::string> changedWhileUnread_;
  bool clearedWhileUnread_ = false;
  double defaultTimeoutInterval_ = kOBCacheDefaultTimeoutInterval;
  os::NotificationCenter::ObserverToken backgroundToken_ = 0, terminateToken_ = 0;
};
