#pragma once
// An HTTP server that keeps its connections in sight and lets no peer hold it up. One thread
// watches every connection (in the clear or through TLS) and reads each request, head and body,
// as its bytes arrive, held to the head bound, the body bound (however the body travels: with a
// length, in chunks, compressed) and the request deadline; only a request read whole goes to one
// of the workers, which runs the routed handler. The answer goes back to the loop, which writes it
// as the peer takes it (a body made as it goes out, or one past what the server holds, the worker
// writes itself). A connection waiting for its next request, sending one slowly or reading its
// answer slowly costs no worker; it is read no further until its answer is out. A stop ends the
// very connections this server accepted, by their sockets. The HTTP layer's post-routing hook is
// the server's own.
//
// Routes, bounds and time-outs are set as on the HTTP layer's server; the layer parses the whole
// request again from memory, plainly framed (the transfer and content codings already undone).
// A request asking for several ranges gets its whole answer once: the ranges are not handed on;
// nor is a range the layer cannot read, or one on another method than GET or HEAD (the layer would
// answer 416 before any route ran), or one asked only if the answer is unchanged (the layer
// compares no validator).
// A request whose target is a whole address is handed on with its path, the address's host as
// its Host. A method the layer routes none of is answered 501, a version past 1.x 505 and a request
// line that cannot be read 400, and the connection ends. A request asking for its connection to end
// has it end after its answer, however it writes "close".
#include <httplib.h>
#include <openssl/ssl.h>
#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace os {

class TcpSocket;

class TrackedHttpServer : public httplib::Server {
 public:
  TrackedHttpServer();
  // Serves every connection through TLS, showing this certificate for this key (each taken with
  // a reference of its own).
  TrackedHttpServer(X509* certificate, EVP_PKEY* privateKey);
  ~TrackedHttpServer() override;

  bool is_valid() const override;

  // The most a request's line and header lines may hold together, the blank line that ends them
  // included; a longer head is answered 431 and its connection ends.
  static constexpr std::size_t kHeadLimit = std::size_t{64} << 10;
  // Requests one connection carries before the server ends it, unless set otherwise: a client
  // reading a list and its pictures never has to connect again, and no connection lives forever.
  static constexpr std::size_t kRequestsPerConnection = 10000;
  // Threads running handlers, unless set before serve().
  static constexpr std::size_t kWorkers = 8;
  void setWorkerCount(std::size_t count) { workerCount_ = count > 0 ? count : 1; }

  // Made by a handler about to hold its request back on purpose (a delay or a stall it was told to
  // show), for as long as it holds it: another worker takes the held one's place meanwhile, so the
  // requests the hold has nothing to do with are answered all the same. Up to kMostHeld held at
  // once have their places taken; the threads started for them stay for later holds. Nothing on a
  // thread that serves no request of this kind of server.
  class HeldRequest {
   public:
    HeldRequest();
    ~HeldRequest();
    HeldRequest(const HeldRequest&) = delete;
    HeldRequest& operator=(const HeldRequest&) = delete;

   private:
    TrackedHttpServer* server_;
  };
  static constexpr std::size_t kMostHeld = 256;

  // Listens on host:port (port 0: any free one), with a queue as wide as the system allows. A
  // port another listener holds is never shared: nothing, as for any address that cannot be
  // bound. Once.
  std::optional<int> bind(const std::string& host, int port);
  // Serves on the calling thread until stop(), then until every connection has ended. At once
  // when stop() came first or nothing is bound.
  void serve();
  // Stops accepting; safe from any thread, before or during serve(), more than once.
  void stop();

  // Ends every open connection, and each accepted from now on. By default only those without a
  // request read whole: a request read whole is still answered and written, then its connection
  // ends; an idle one, or one whose request is still arriving, ends at once. An answer the loop
  // writes has the write time-out in all to go out, from now or from when it is made, however
  // slowly its peer takes it. `wholly` ends every connection both ways: an answer under way is cut
  // off.
  void endConnections(bool wholly = false);

  // The most time one request (its line, header lines and body) may take to arrive: counted from
  // its first byte, or for a connection's first request from its acceptance. Past it the
  // connection ends unanswered, so that a peer sending a byte now and then is let go.
  static constexpr double kRequestDeadline = 30;
  void setRequestDeadline(double seconds) { requestDeadline_ = seconds; }

  // The most the requests under way hold together, as read and not yet answered (heads, bodies,
  // bytes waiting to be taken), with the answers waiting for their peers to take them, unless set
  // otherwise: however many connections a peer opens and fills, or asks answers on and does not
  // read, the server keeps no more. Past it the connection holding most goes: a request still
  // arriving is answered 503, an answer waiting is cut off, and its connection ends. Never less
  // than one request at the body bound holds.
  static constexpr std::size_t kHeldRequestBytes = std::size_t{256} << 20;
  void setHeldRequestLimit(std::size_t bytes) { heldRequestLimit_ = bytes; }

  // Routes, set as on the HTTP layer's server and kept in sight as well: a request whose method
  // no route takes at its path, where another method's does, is answered 405 with the methods
  // that do (HEAD where GET does), not as if nothing were there. A range a request asks for is
  // served only on an answer to a GET that would otherwise be a 200 (a handler's 200 included),
  // made exact against the answer's length: 416 when none of it lies within. Before serve().
  TrackedHttpServer& Get(const std::string& pattern, Handler handler);
  TrackedHttpServer& Post(const std::string& pattern, Handler handler);
  TrackedHttpServer& Post(const std::string& pattern, HandlerWithContentReader handler);
  TrackedHttpServer& Put(const std::string& pattern, Handler handler);
  TrackedHttpServer& Put(const std::string& pattern, HandlerWithContentReader handler);
  TrackedHttpServer& Patch(const std::string& pattern, Handler handler);
  TrackedHttpServer& Patch(const std::string& pattern, HandlerWithContentReader handler);
  TrackedHttpServer& Delete(const std::string& pattern, Handler handler);
  TrackedHttpServer& Delete(const std::string& pattern, HandlerWithContentReader handler);
  TrackedHttpServer& Options(const std::string& pattern, Handler handler);

  // The connection whose request the calling thread is serving for this server; nullptr on any
  // other thread. It stays open until the handler returns.
  std::shared_ptr<TcpSocket> connectionServed() const;

  // Receive calls made on connections so far: what reading heads in blocks saves shows here.
  std::size_t receiveCount() const { return receives_.load(); }

  struct Connection;

 private:
  class Loop;
  // A worker thread, on a stack of its own size: nothing when none could start.
  std::optional<pthread_t> startWorker();
  void work();
  void answer(Connection& connection);
  void hand(const std::shared_ptr<Connection>& connection);   // the loop gives a request to the workers
  void giveBack(const std::shared_ptr<Connection>& connection);  // a worker returns a connection
  void closeConnection(const std::shared_ptr<Connection>& connection);
  double writeTimeout() const;
  // What the requests under way and the answers waiting for their peers may hold together.
  std::size_t heldLimit() const;

  // A route's handler, run so that a range is served only on what would be a 200 to a GET.
  static Handler ranged(Handler handler);
  static HandlerWithContentReader ranged(HandlerWithContentReader handler);
  // The methods with a route at `path`, as an Allow header lists them.
  std::string allowedAt(const std::string& path) const;
  // Notes a route of the method and gives its pattern back, for registering it with the layer.
  const std::string& routed(const char* method, const std::string& pattern);

  std::vector<std::pair<std::string, std::regex>> routes_;  // each method's patterns
  bool tlsWanted_ = false;
  SSL_CTX* tls_ = nullptr;  // null in the clear, or when the certificate did not fit the key
  int listener_ = -1;
  int epoll_ = -1;
  int wake_ = -1;  // an event descriptor: the loop has something from another thread
  std::size_t workerCount_ = kWorkers;
  std::atomic<double> requestDeadline_{kRequestDeadline};
  std::atomic<std::size_t> heldRequestLimit_{kHeldRequestBytes};
  std::atomic<bool> stopping_{false};
  std::atomic<std::size_t> receives_{0};

  std::mutex mutex_;
  std::condition_variable workAvailable_;
  // Every connection open; one leaves before it is closed, under the mutex.
  std::set<std::shared_ptr<Connection>> open_;
  std::deque<std::shared_ptr<Connection>> work_;      // requests read whole, for the workers
  std::vector<std::shared_ptr<Connection>> returned_;  // answered, back to the loop
  bool ending_ = false;
  bool endWholly_ = false;
  bool workersDone_ = false;
  std::vector<pthread_t> workers_;  // every worker started, joined once the loop ends
  std::size_t heldWorkers_ = 0;     // workers whose requests are held on purpose
};

}  // namespace os
