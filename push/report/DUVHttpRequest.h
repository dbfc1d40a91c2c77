#pragma once
// One send of one report packet: its records go to the in-flight area of the report cache, one key
// per record, and the packet is posted to the default address, once more to the backup address on
// a connection failure, and then left to the timed resend. The answer settles exactly the records
// of this packet: deleted on 200, 400 and 401, back to the pending records on 403 and 5xx.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "os/net/URLConnection.h"

class DUVReportCache;
class DUVReportRequest;

// Who hears the outcome (the scheduler). Every operation is optional.
class DUVHttpRequestDelegate {
 public:
  virtual ~DUVHttpRequestDelegate() = default;
  virtual void didReceivedHttpFeedback(DUVReportRequest& request, int statusCode) {}
  // Both addresses failed; `resent` tells whether a timed resend was scheduled.
  virtual void didNotReceivedFromRequest(DUVReportRequest& request, bool resent, const os::Error& error) {}
};

class DUVHttpRequest : public os::URLConnectionDelegate, public std::enable_shared_from_this<DUVHttpRequest> {
 public:
  // Sends the request's next packet; nothing (and false) when it has nothing to send. `reachable`
  // false keeps the packet's records in flight without posting them.
  static bool send(std::shared_ptr<DUVReportRequest> request, std::shared_ptr<DUVReportCache> cache,
                   std::string requestAddress, std::string backUpAddress,
                   std::weak_ptr<DUVHttpRequestDelegate> delegate, bool reachable = true,
                   std::shared_ptr<DUVHttpRequest>* made = nullptr);

  // Drops the running connection without a callback; its records stay in flight in the cache, as
  // after a kill, for the next start to resend.
  void cancel();

  void didReceiveResponse(os::URLConnection& connection, const os::HTTPURLResponse& response) override;
  void didFinishLoading(os::URLConnection& connection) override;
  void didFailWithError(os::URLConnection& connection, const os::Error& error) override;

  // The Chinese text of a URL loading error code, for the log.
  static std::string networkErrorText(long code);

  struct PrivateTag {};
  DUVHttpRequest(PrivateTag) {}

 private:
  void start(const os::URLRequest& request);
  void settle(int statusCode);

  std::shared_ptr<DUVReportRequest> postData_;
  std::shared_ptr<DUVReportCache> cache_;
  std::weak_ptr<DUVHttpRequestDelegate> delegate_;
  std::string requestAddress_, backUpAddress_;
  os::URLRequest request_;
  std::vector<std::string> keys_;  // the in-flight keys of this packet's records
  int statusCode_ = 0;
  bool triedBackup_ = false;
  std::shared_ptr<os::URLConnection> connection_;
  std::shared_ptr<DUVHttpRequest> self_;  // alive while a connection runs
};
