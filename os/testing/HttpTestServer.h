#pragma once
// A loopback HTTP server for tests: listens on 127.0.0.1 on a free port, answers from routes the
// test scripts (method + path -> canned answer or handler), and logs every request it received.
// Answers can be delayed, chunked, redirects or any status. A connection closed without any
// answer is TcpTestPeer's job (the HTTP library always answers).
//
// It can stand in for named hosts: their connections (on any port) are routed to it through the
// host lookup's table for as long as it runs, and with TLS it shows a certificate for those names
// (and 127.0.0.1 and localhost) from the test certificate authority, which URL loading accepts
// only once the authority is trusted.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "os/net/HTTPHeaderFields.h"

namespace os {
class TrackedHttpServer;
}

namespace os::testing {

struct MultipartPart {
  std::string name, filename, contentType, content;
};

struct RecordedRequest {
  std::string method, path, query;  // query: the raw text after "?", empty when none
  HTTPHeaderFields headers;
  std::string body;  // empty for multipart/form-data bodies, which arrive parsed in `parts`
  std::vector<MultipartPart> parts;  // in name order
  std::multimap<std::string, std::string> queryParameters;
  int peerPort = 0;  // the client's port: requests that share it came over one connection

  const MultipartPart* part(const std::string& name) const;
};

struct CannedResponse {
  int status = 200;
  HTTPHeaderFields headers;
  std::string body;
  std::string contentType = "text/plain";
  // Real seconds before the head is written (a stall, for time-out tests). Cut short when the
  // server stops.
  double delay = 0;
  // When set the body goes out chunked, one chunk per entry, `chunkDelay` seconds apart.
  std::vector<std::string> chunks;
  double chunkDelay = 0;
  // When set the body is made as it goes out, a piece per call, until the call answers false: a
  // body far larger than a test would hold, made only as fast as the client reads it. With
  // `streamLength` it goes out with that Content-Length (the pieces must add up to it), else
  // chunked, a chunk per piece.
  std::function<bool(std::string& piece)> stream;
  std::optional<std::uint64_t> streamLength;

  static CannedResponse text(std::string body, int status = 200);
  static CannedResponse json(std::string body, int status = 200);
  static CannedResponse redirect(int status, std::string location);
  // `length` bytes of `fill`, streamed in pieces of `piece` bytes, with a Content-Length or
  // chunked. `made` (when set) hears the bytes made so far after each piece: all of them but the
  // last piece went into the socket by then.
  static CannedResponse generated(std::uint64_t length, bool chunked, std::size_t piece = 64 * 1024, char fill = 'x',
                                  std::function<void(std::uint64_t)> made = nullptr);
};

class HttpTestServer {
 public:
  using Handler = std::function<CannedResponse(const RecordedRequest&)>;

  explicit HttpTestServer(bool tls = false, std::vector<std::string> hostNames = {});
  ~HttpTestServer();
  HttpTestServer(const HttpTestServer&) = delete;
  HttpTestServer& operator=(const HttpTestServer&) = delete;

  int port() const { return port_; }
  // "http://127.0.0.1:<port>" (https with tls) followed by path.
  std::string url(const std::string& path = "/") const;
  // "https://<host>" (http without tls) followed by path: the address a deployment would use.
  std::string urlForHost(const std::string& host, const std::string& path = "/") const;

  // Unrouted requests get 404 "not found".
  void route(const std::string& method, const std::string& path, CannedResponse response);
  void route(const std::string& method, const std::string& path, Handler handler);

  std::vector<RecordedRequest> requests() const;
  std::size_t requestCount() const;
  // Blocks the calling thread (real time) until count requests arrived; false at the time-out.
  bool waitForRequests(std::size_t count, double timeoutSeconds) const;

  // Stops answering; delayed answers are cut short. The destructor calls it.
  void stop();

  // A loopback port nothing listens on (connections to it are refused).
  static int refusedPort();
  // A loopback port free now, below the range the system hands out to sockets that ask for any
  // port (bound by none, or to connect from): a server that lets it go and listens there again
  // later finds it still free, since no other program is given it meanwhile, only one naming it.
  // 0 (any free port) when that range leaves no room below it. Never one of `besides`.
  static int portOutsideTheGivenRange(const std::vector<int>& besides = {});

 private:
  void sleepUnlessStopping(double seconds);

  std::unique_ptr<TrackedHttpServer> server_;
  std::thread thread_;
  int port_ = 0;
  bool tls_ = false;
  std::vector<std::string> hostNames_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::map<std::pair<std::string, std::string>, Handler> routes_;
  std::vector<RecordedRequest> log_;
  bool stopping_ = false;
};

// Answers a test queues as it goes, handed out one per request in order, then the fallback once
// none is left. route(method, path, queue.handler()) puts it behind a route (or several); the
// handler shares the queue, so it may outlive this object.
class AnswerQueue {
 public:
  explicit AnswerQueue(CannedResponse fallback = CannedResponse::text(""));
  void push(CannedResponse answer);
  void setFallback(CannedResponse answer);
  HttpTestServer::Handler handler() const;

 private:
  struct State {
    std::mutex mutex;
    std::deque<CannedResponse> answers;
    CannedResponse fallback;
  };
  std::shared_ptr<State> state_ = std::make_shared<State>();
};

}  // namespace os::testing
