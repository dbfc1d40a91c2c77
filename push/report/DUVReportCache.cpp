#include "push/report/DUVReportCache.h"

#include "os/store/PropertyList.h"

void DUVReportCache::addCacheObject(const os::Dictionary& record, const std::string& key) {
  storeObject(os::Value(record), key);
  calculateCacheLength();
}

bool DUVReportCache::checkReportFlag(const std::string& flag) const {
  if (pending().contains(flag)) return true;
  for (const auto& [key, record] : pending())
    if (key.size() > flag.size() && key.compare(0, flag.size(), flag) == 0 && key[flag.size()] == '.') return true;
  return false;
}

void DUVReportCache::enumerate(const std::function<bool(const std::string&, const os::Dictionary&)>& visitor) const {
  for (const auto& [key, value] : os::Dictionary(pending()))
    if (const os::Dictionary* record = value.dictionary())
      if (!visitor(key, *record)) return;
}

void DUVReportCache::addSendingCacheObject(const os::Dictionary& record, const std::string& key) {
  sending_.set(key, os::Value(record));
  calculateCacheLength();
}

void DUVReportCache::changeSendingObjectFailedForKey(const std::string& key) {
  const os::Value* record = sending_.find(key);
  if (!record) return;
  if (const os::Dictionary* dictionary = record->dictionary()) addCacheObject(*dictionary, key);
  sending_.remove(key);
}

void DUVReportCache::resetCache() {
  for (const auto& [key, value] : os::Dictionary(sending_)) {
    if (const os::Dictionary* record = value.dictionary()) storeObject(os::Value(*record), key);
    sending_.remove(key);
  }
}

void DUVReportCache::calculateCacheLength() {
  auto archive = os::PropertyList::write(archivedValue(), os::PropertyListFormat::Binary);
  if (!archive || archive->size() <= kMaximumArchiveBytes) return;
  // The oldest records go first: one alone while fewer than 100 wait, a run of them otherwise.
  std::size_t drop = count() < 100 ? 1 : kTrimRun;
  for (std::size_t i = 0; i < drop; ++i) removeFirstObject();
}

os::Value DUVReportCache::archivedValue() const {
  os::Array keys;
  for (const auto& key : cacheKeys()) keys.push_back(os::Value(key));
  return os::Value(os::Dictionary{{"cacheCount", os::Value(cachedCount())},
                                  {"maxCacheCount", os::Value(maxCacheCount())},
                                  {"clearWhenMemoryLow", os::Value(clearWhenMemoryLow())},
                                  {"cacheObjects", os::Value(pending())},
                                  {"cacheKeys", os::Value(keys)},
                                  {"sendingCache", os::Value(sending_)}});
}

std::shared_ptr<DUVReportCache> DUVReportCache::fromArchivedValue(const os::Value& value) {
  auto cache = std::make_shared<DUVReportCache>();
  // The order is the dictionary's own (insertion order); only records count.
  if (const os::Dictionary* pending = value["cacheObjects"].dictionary())
    for (const auto& [key, record] : *pending)
      if (record.dictionary()) cache->storeObject(record, key);
  if (const os::Dictionary* sending = value["sendingCache"].dictionary())
    for (const auto& [key, record] : *sending)
      if (record.dictionary()) cache->sending_.set(key, record);
  return cache;
}
