#include "push/report/DUVReportRequest.h"

#include "os/crypto/Digest.h"
#include "push/report/DUVReportCache.h"
#include "push/report/DUVReportManager.h"
#include "push/utilities/DUVFileCache.h"
#include "push/utilities/DUVLogger.h"
#include "push/utilities/DUVUtilities.h"

DUVReportRequest::DUVReportRequest(std::uint32_t reportType, std::shared_ptr<DUVReportCache> cache)
    : reportType_(reportType), cache_(std::move(cache)) {}

std::optional<os::Dictionary> DUVReportRequest::makeRecord() { return std::move(content_); }

void DUVReportRequest::forget(const Entry& entry) {
  if (entry.key && cache_) cache_->removeCacheObjectForKey(*entry.key);
}

void DUVReportRequest::append(const os::Value& record, std::optional<std::string> key) {
  // Text that is not UTF-8 (a page name as the application gave it) is repaired as the file
  // cache repairs it, rather than losing the record around it.
  os::Value storable = DUVFileCache::storableValue(record);
  auto json = ZRFJSONData(storable);
  Entry entry{*storable.dictionary(), json ? json->size() : 0, std::move(key)};
  if (!json) {
    // Data, a date or a non-finite number: no packet could ever carry it, and kept it would stop
    // every later one.
    DUVClassLogger("DUVReportRequest")
        ->log(DUVLevel::error(), "report record dropped, not writable as JSON: " + os::Value(entry.record).description());
    forget(entry);
    return;
  }
  reportContents_.push_back(std::move(entry));
}

void DUVReportRequest::packData() {
  if (recordMade_) return;
  recordMade_ = true;
  packedRecord_ = makeRecord();
  if (packedRecord_ && !isSendLock_) append(os::Value(*packedRecord_), std::nullopt);
}

void DUVReportRequest::takeInPending(std::size_t envelopeSize) {
  if (!cache_) return;
  std::vector<std::pair<std::string, os::Value>> pending;
  if (!onePacket_) {
    cache_->enumerate([&](const std::string& key, const os::Value& record) {
      pending.emplace_back(key, record);
      return true;
    });
  } else {
    // The oldest, while they fit one packet as addContents counts it (the first one whatever its
    // size); the walk stops there, however many wait behind them.
    std::size_t total = envelopeSize + 10;
    for (const auto& [key, record] : cache_->pending()) {
      if (!record.dictionary()) continue;
      auto json = ZRFJSONData(DUVFileCache::storableValue(record));
      std::size_t length = json ? json->size() : 0;
      if (!pending.empty() && total + length + 1 > kPacketBudget) break;
      total += length + (pending.empty() ? 0 : 1);
      pending.emplace_back(key, record);
    }
  }
  // They stay in the cache until a packet holds them.
  for (const auto& [key, record] : pending) {
    taken_.push_back(key);
    append(record, key);
  }
}

std::string DUVReportRequest::envelopeWithout() const {
  os::Dictionary envelope{{"platform", os::Value("i")},
                          {"uid", os::Value(static_cast<std::int32_t>(identity_.uid))},
                          {"sdk_ver", os::Value(kDUVSDKVersion)},
                          {"app_key", os::Value(identity_.appkey)}};
  return os::stringFromData(ZRFJSONData(os::Value(envelope)).value_or(os::Data{}));
}

void DUVReportRequest::dropContentBeyondMaxSize(std::size_t envelopeSize) {
  if (reportContents_.size() < 2) return;
  std::size_t total = envelopeSize + reportContents_.back().length + 10;
  // From the second-last record down: once past the cap, that record and every older one go.
  for (std::size_t i = reportContents_.size() - 1; i-- > 0;) {
    total += reportContents_[i].length + 1;
    if (total > kMaximumContentSize) {
      DUVClassLogger("DUVReportRequest")
          ->logMessage(std::nullopt, "content too large, drop the content", &DUVLevel::warn());
      for (std::size_t j = 0; j <= i; ++j) forget(reportContents_[j]);
      reportContents_.erase(reportContents_.begin(), reportContents_.begin() + static_cast<long>(i) + 1);
      return;
    }
  }
}

void DUVReportRequest::addContents(std::size_t envelopeSize) {
  realContents_.clear();
  realKeys_.clear();
  if (reportContents_.empty()) return;
  std::size_t total = envelopeSize + reportContents_.back().length + 10;
  realContents_.push_back(std::move(reportContents_.back().record));
  realKeys_.push_back(std::move(reportContents_.back().key));
  reportContents_.pop_back();
  isSubpackage_ = false;
  while (!reportContents_.empty()) {
    total += reportContents_.back().length + 1;
    if (total > kPacketBudget) {
      isSubpackage_ = true;
      break;
    }
    realContents_.push_back(std::move(reportContents_.back().record));
    realKeys_.push_back(std::move(reportContents_.back().key));
    reportContents_.pop_back();
  }
}

std::optional<os::Data> DUVReportRequest::packetData() {
  std::string envelope = envelopeWithout();
  if (!isSubpackage_) {
    reportContents_.clear();
    taken_.clear();
    takeInPending(envelope.size());
    packData();
    if (isSendLock_ || reportContents_.empty()) {
      // The kind's record is unchanged (or there is nothing): the pending records taken in never
      // left the cache and wait for the next report.
      reportContents_.clear();
      return std::nullopt;
    }
    dropContentBeyondMaxSize(envelope.size());
  }
  addContents(envelope.size());
  if (realContents_.empty()) return std::nullopt;
  os::Array content(realContents_.begin(), realContents_.end());
  os::Dictionary full{{"platform", os::Value("i")},
                      {"uid", os::Value(static_cast<std::int32_t>(identity_.uid))},
                      {"sdk_ver", os::Value(kDUVSDKVersion)},
                      {"app_key", os::Value(identity_.appkey)},
                      {"content", os::Value(content)}};
  auto json = ZRFJSONData(os::Value(full));
  if (!json) return std::nullopt;
  DUVClassLogger("DUVReportRequest")
      ->logMessage(std::nullopt, "http report packet size: " + std::to_string(json->size()), &DUVLevel::debug());
  return json;
}

std::string DUVReportRequest::authorization(const DUVReportIdentity& identity, const os::Data& body) {
  std::string uid = std::to_string(static_cast<std::int32_t>(identity.uid));
  std::string signature = os::md5Hex(uid + os::md5Hex(identity.password.value_or("")) + os::md5Hex(body));
  return "Basic " + DUVBase64(os::dataFromString(uid + ":" + signature));
}

std::optional<os::URLRequest> DUVReportRequest::generateReportRequest(const std::string& url) {
  auto packet = packetData();
  if (!packet) return std::nullopt;
  auto body = compress(*packet);
  if (!body) {
    // No request: every record this request still holds waits in the cache for the next report
    // (the pending ones taken in for a first packet never left it), and the request starts over.
    DUVClassLogger("DUVReportRequest")->log(DUVLevel::error(), "report packet not compressed, records kept");
    keepUnsent();
    return std::nullopt;
  }
  // The request exists: the pending records this packing took in now travel with it (in this
  // packet or its next ones), no longer in the cache.
  releaseTaken();
  bodyData_ = *body;
  os::URLRequest request(url);
  request.setHTTPMethod("POST");
  request.setValueForHTTPHeaderField("application/json", "Content-Type");
  request.setValueForHTTPHeaderField("gzip", "Accept-Encoding");
  request.setValueForHTTPHeaderField("gzip", "Content-Encoding");
  request.setValueForHTTPHeaderField(identity_.appkey, "X-App-Key");
  request.setValueForHTTPHeaderField(authorization(identity_, bodyData_), "Authorization");
  request.setHTTPBody(bodyData_);
  request.setTimeoutInterval(20.0);
  return request;
}

void DUVReportRequest::releaseTaken() {
  if (cache_)
    for (const auto& key : taken_) cache_->removeCacheObjectForKey(key);
  taken_.clear();
}

void DUVReportRequest::keepUnsent(bool packetPosted) {
  std::size_t made = 0;
  auto keep = [&](const os::Dictionary& record, const std::optional<std::string>& key) {
    // A record of its own (the kind's) gets a key under the flag, as records in flight have.
    if (cache_) cache_->addCacheObject(record, key ? *key : std::to_string(reportFlag_) + "." + std::to_string(made++));
  };
  // Oldest first: those still waiting, then the packet's, which stand newest first.
  for (const auto& entry : reportContents_) keep(entry.record, entry.key);
  if (!packetPosted)
    for (std::size_t i = realContents_.size(); i-- > 0;) keep(realContents_[i], realKeys_[i]);
  reportContents_.clear();
  realContents_.clear();
  realKeys_.clear();
  taken_.clear();
  isSubpackage_ = false;
}

void DUVReportRequest::keepForLater() {
  if (!isSubpackage_) {
    // Nothing taken in: the pending records stay where they are; only the kind's record joins them.
    reportContents_.clear();
    taken_.clear();
    packData();
  }
  keepUnsent(true);
}

std::optional<os::Data> DUVReportRequest::compress(const os::Data& packet) { return DUVGzip(packet); }

void DUVReportRequest::send() {
  if (sender_) sender_(shared_from_this());
}

bool DUVReportRequest::startDelaySend() { return DUVReportManager::startDelaySend(shared_from_this()); }
