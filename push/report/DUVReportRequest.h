#pragma once
// One HTTP report: its kind's new record and the pending records taken in beside it, packed into
// packets of at most about 1 KB of JSON (an envelope of platform, uid, SDK version and app key
// around "content"), each gzipped and signed with a Basic authorization made from the device's
// push identity. A request is packed afresh on every send; while records remain that did not fit,
// it is a multi-packet send and the next send carries the next packet.
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "os/core/Value.h"
#include "os/net/URLRequest.h"

class DUVReportCache;

struct DUVReportIdentity {
  std::uint32_t uid = 0;
  std::optional<std::string> password;
  std::string appkey;
};

class DUVReportRequest : public std::enable_shared_from_this<DUVReportRequest> {
 public:
  static constexpr std::size_t kMaximumContentSize = 10240;
  static constexpr std::size_t kPacketBudget = 1024;

  DUVReportRequest(std::uint32_t reportType, std::shared_ptr<DUVReportCache> cache);
  virtual ~DUVReportRequest() = default;

  // The kind's own record, appended when the request is packed.
  void setContent(std::optional<os::Dictionary> content) { content_ = std::move(content); }
  void setIdentity(DUVReportIdentity identity) { identity_ = std::move(identity); }
  std::uint32_t reportType() const { return reportType_; }
  std::uint64_t reportFlag() const { return reportFlag_; }
  void setReportFlag(std::uint64_t flag) { reportFlag_ = flag; }
  // When set, packing yields nothing (the kind's record has not changed since its last upload).
  void setIsSendLock(bool lock) { isSendLock_ = lock; }
  bool isSubpackage() const { return isSubpackage_; }
  int reSendTimerIndex() const { return reSendTimerIndex_; }
  void setReSendTimerIndex(int index) { reSendTimerIndex_ = index; }

  // The JSON of the next packet, or nothing to send. Its records are in realContents(); the
  // pending records it took in stay in the cache until generateReportRequest makes the request.
  std::optional<os::Data> packetData();
  const std::vector<os::Dictionary>& realContents() const { return realContents_; }
  // The next packet as a request to `url`: gzipped body, headers and authorization.
  virtual std::optional<os::URLRequest> generateReportRequest(const std::string& url);
  // Whether its records go to the in-flight area of the report cache while they travel.
  virtual bool cacheRequestRequired() const { return true; }
  // The badge upload's lock on its value (reports have none): a request that still answers true
  // after being told false is no longer current, and a late failure of it is ignored.
  virtual bool isSendRequestLock() const { return false; }
  virtual void setIsSendRequestLock(bool) {}
  const os::Data& bodyData() const { return bodyData_; }
  const DUVReportIdentity& identity() const { return identity_; }
  static std::string authorization(const DUVReportIdentity& identity, const os::Data& body);

  // The service's answer to one of its packets (200 accepted).
  virtual void handleReceipt(int statusCode) {}

  // Who sends it (the scheduler); a timed resend goes there too.
  void setSender(std::function<void(const std::shared_ptr<DUVReportRequest>&)> sender) { sender_ = std::move(sender); }
  void send();
  // Asks DUVReportManager for the next timed resend; false when all four were spent.
  virtual bool startDelaySend();

  // Taking in pending records, only the oldest that fit one packet (1024 bytes, or the first one
  // alone) rather than all of them with the older ones dropped: for a request that carries
  // waiting records out, a packet at a time, with none lost on the way.
  void setTakesInOnePacketOnly(bool onePacket) { onePacket_ = onePacket; }
  // Not sent now: the records this request would send next (its own record, made now, or those
  // left for its next packets) wait in the report cache for a later request, its own record under
  // the request's flag.
  void keepForLater();

 protected:
  // The kind's own record, asked for once per request (a resend carries it among the pending
  // records it was given back to), or nothing. A kind whose record did not change since its last
  // upload sets the send lock instead.
  virtual std::optional<os::Dictionary> makeRecord();
  const std::optional<os::Dictionary>& packedRecord() const { return packedRecord_; }
  const std::string& identityAppkey() const { return identity_.appkey; }
  // The body of a packet: its gzip.
  virtual std::optional<os::Data> compress(const os::Data& packet);

 private:
  // A record waiting to be packed, with its JSON length and, for a pending record taken in from
  // the report cache, its key there.
  struct Entry {
    os::Dictionary record;
    std::size_t length = 0;
    std::optional<std::string> key;
  };
  std::string envelopeWithout() const;
  // Appends a record; one the JSON writer refuses is dropped alone (and leaves the cache).
  // `record`: a dictionary.
  void append(const os::Value& record, std::optional<std::string> key);
  void takeInPending(std::size_t envelopeSize);
  void packData();
  void dropContentBeyondMaxSize(std::size_t envelopeSize);
  void addContents(std::size_t envelopeSize);
  void forget(const Entry& entry);
  // The pending records taken in leave the cache: their request exists.
  void releaseTaken();
  // No request could be made: the records this request holds go (back) to the cache; those of
  // the packet just made too unless `packetPosted`.
  void keepUnsent(bool packetPosted = false);

  std::uint32_t reportType_;
  std::shared_ptr<DUVReportCache> cache_;
  DUVReportIdentity identity_;
  std::optional<os::Dictionary> content_;
  std::optional<os::Dictionary> packedRecord_;
  bool recordMade_ = false;
  std::deque<Entry> reportContents_;
  std::vector<os::Dictionary> realContents_;
  // The cache keys of the packet's records (none for the kind's own).
  std::vector<std::optional<std::string>> realKeys_;
  // Keys of the pending records this packing took in: they leave the cache once the request
  // exists.
  std::vector<std::string> taken_;

 protected:
  os::Data bodyData_;

 private:
  std::uint64_t reportFlag_ = 0;
  bool isSubpackage_ = false;
  bool isSendLock_ = false;
  bool onePacket_ = false;
  int reSendTimerIndex_ = 0;
  std::function<void(const std::shared_ptr<DUVReportRequest>&)> sender_;
};
