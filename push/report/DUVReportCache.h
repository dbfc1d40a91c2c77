#pragma once
// Report records that wait for an upload, on the memory cache: the pending records (its
// dictionary, oldest first in its key order), which the next report takes in beside its own
// record; and the in-flight area, the records of packets posted and not yet answered, one key per
// record so that a failed packet brings every record back. Pending records are bounded by the
// size of the archived cache, not by the memory cache's count, and a memory warning leaves them:
// they exist nowhere else.
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "os/core/Value.h"
#include "push/utilities/DUVMemoryCache.h"

class DUVReportCache : public DUVMemoryCache {
 public:
  // The archive size past which the oldest pending records go.
  static constexpr std::size_t kMaximumArchiveBytes = 52428800;
  // How many of the oldest go at once when 100 or more wait.
  static constexpr std::size_t kTrimRun = 10;

  DUVReportCache() : DUVMemoryCache(PrivateTag{}) {}

  std::size_t count() const { return cacheObjects().size(); }
  const os::Dictionary& pending() const { return cacheObjects(); }
  const os::Dictionary& sendingPackageCache() const { return sending_; }

  // A new key goes to the end of the order; an existing one keeps its place.
  void addCacheObject(const os::Dictionary& record, const std::string& key);
  void removeCacheObjectForKey(const std::string& key) { removeObjectForKey(key); }
  // Whether a pending record is held under a flag's text: the text itself, or one of the per-record
  // keys "<flag>.<n>" its packets were kept under.
  bool checkReportFlag(const std::string& flag) const;
  // Every pending record, oldest first; the visitor may stop by returning false.
  void enumerate(const std::function<bool(const std::string&, const os::Dictionary&)>& visitor) const;

  void addSendingCacheObject(const os::Dictionary& record, const std::string& key);
  void removeSendingObjectForKey(const std::string& key) { sending_.remove(key); }
  // Back to the pending records, when the area holds the key.
  void changeSendingObjectFailedForKey(const std::string& key);
  // Every in-flight record back to the pending records (the application became active).
  void resetCache();

  // The state as one value for the shared file cache ("cacheCount", "maxCacheCount",
  // "clearWhenMemoryLow", "cacheObjects", "cacheKeys", "sendingCache"), and back; anything
  // malformed reads as empty.
  os::Value archivedValue() const;
  static std::shared_ptr<DUVReportCache> fromArchivedValue(const os::Value& value);

 private:
  void calculateCacheLength();
  os::Dictionary sending_;
};
