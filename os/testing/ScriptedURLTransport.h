#pragma once
// A URL transport for unit tests: every exchange takes the next scripted answer (a response
// with body chunks, or a failure) and delivers it at once; the requests as they would have gone
// on the wire are kept, body streams read out. Install with URLTransport::setShared and
// restore with URLTransport::setShared(nullptr).
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "os/net/URLTransport.h"

namespace os::testing {

class ScriptedURLTransport : public URLTransport {
 public:
  struct Answer {
    int status = 200;
    HTTPHeaderFields headers;
    std::vector<std::string> chunks;
    std::optional<Error> failure;  // when set, the exchange fails with it instead

    static Answer ok(std::string body, int status = 200, HTTPHeaderFields headers = {});
    static Answer fail(long urlErrorCode);
  };
  struct Sent {
    URLRequest request;
    std::string body;  // bytes or stream, as read
  };

  void enqueue(Answer answer);
  std::vector<Sent> sent() const;

  // With nothing scripted an exchange fails with kURLErrorCannotConnectToHost.
  std::unique_ptr<URLTransportTask> start(const URLRequest& request, const URLTransportOptions& options,
                                          std::shared_ptr<URLTransportClient> client) override;

 private:
  mutable std::mutex mutex_;
  std::deque<Answer> answers_;
  std::vector<Sent> sent_;
};

}  // namespace os::testing
