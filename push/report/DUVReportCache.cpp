#include "push/report/DUVReportCache.h"

#include "os/store/PropertyList.h"

void DUVReportCache::addCacheObject(const os::Dictionary& record, const std::string& key) {
  pending_.set(key, os::Value(record));
  calculateCacheLength();
}

bool DUVReportCache::checkReportFlag(const std::string& flag) const {
  if (pending_.contains(flag)) return true;
  for (const auto& [key, record] : pending_)
    if (key.size() > flag.size() && key.compare(0, flag.size(), flag) == 0 && key[flag.size()] == '.') return true;
  return false;
}

void DUVReportCache::enumerate(const std::function<bool(const std::string&, const os::Dictionary&)>& visitor) const {
  for (const auto& [key, value] : os::Dictionary(pending_))
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
    if (const os::Dictionary* record = value.dictionary()) pending_.set(key, os::Value(*record));
    sending_.remove(key);
  }
}

void DUVReportCache::calculateCacheLength() {
  auto archive = os::PropertyList::write(archivedValue(), os::PropertyListFormat::Binary);
  if (!archive || archive->size() <= kMaximumArchiveBytes) return;
  // The oldest records go first: one alone while fewer than 100 wait, a run of them otherwise.
  std::size_t drop = pending_.size() < 100 ? 1 : kTrimRun;
  auto keys = pending_.keys();
  for (std::size_t i = 0; i < drop && i < keys.size(); ++i) pending_.remove(keys[i]);
}

os::Value DUVReportCache::archivedValue() const {
  return os::Value(os::Dictionary{{"cacheObjects", os::Value(pending_)}, {"sendingCache", os::Value(sending_)}});
}

DUVReportCache DUVReportCache::fromArchivedValue(const os::Value& value) {
  DUVReportCache cache;
  if (const os::Dictionary* pending = value["cacheObjects"].dictionary())
    for (const auto& [key, record] : *pending)
      if (record.dictionary()) cache.pending_.set(key, record);
  if (const os::Dictionary* sending = value["sendingCache"].dictionary())
    for (const auto& [key, record] : *sending)
      if (record.dictionary()) cache.sending_.set(key, record);
  return cache;
}
