#include "os/testing/HttpTestServer.h"

#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <random>

#include "os/net/HostLookup.h"
#include "os/testing/TestCertificateAuthority.h"
#include "os/net/TrackedHttpServer.h"

namespace os::testing {

const MultipartPart* RecordedRequest::part(const std::string& name) const {
  for (const auto& p : parts)
    if (p.name == name) return &p;
  return nullptr;
}

CannedResponse CannedResponse::text(std::string body, int status) {
  CannedResponse r;
  r.status = status;
  r.body = std::move(body);
  return r;
}

CannedResponse CannedResponse::json(std::string body, int status) {
  CannedResponse r = text(std::move(body), status);
  r.contentType = "application/json";
  return r;
}

CannedResponse CannedResponse::redirect(int status, std::string location) {
  CannedResponse r;
  r.status = status;
  r.headers.set("Location", std::move(location));
  return r;
}

CannedResponse CannedResponse::generated(std::uint64_t length, bool chunked, std::size_t piece, char fill,
                                         std::function<void(std::uint64_t)> made) {
  CannedResponse r;
  r.contentType = "application/octet-stream";
  if (!chunked) r.streamLength = length;
  r.stream = [length, piece = std::max<std::size_t>(piece, 1), fill, made = std::move(made),
              sent = std::uint64_t(0)](std::string& out) mutable {
    if (sent >= length) return false;
    out.assign(static_cast<std::size_t>(std::min<std::uint64_t>(piece, length - sent)), fill);
    sent += out.size();
    if (made) made(sent);
    return true;
  };
  return r;
}

namespace {

constexpr std::size_t kServerThreads = 32;

// A certificate from the test authority for loopback and the names the server stands in for.
std::unique_ptr<TrackedHttpServer> makeTlsServer(const std::vector<std::string>& hostNames) {
  std::vector<std::string> names = hostNames;
  names.insert(names.end(), {"localhost", "127.0.0.1"});
  IssuedCertificate issued = TestCertificateAuthority::shared().issue(names);
  BIO* certBio = BIO_new_mem_buf(issued.certificatePEM.data(), static_cast<int>(issued.certificatePEM.size()));
  BIO* keyBio = BIO_new_mem_buf(issued.privateKeyPEM.data(), static_cast<int>(issued.privateKeyPEM.size()));
  X509* cert = PEM_read_bio_X509(certBio, nullptr, nullptr, nullptr);
  EVP_PKEY* key = PEM_read_bio_PrivateKey(keyBio, nullptr, nullptr, nullptr);
  BIO_free(certBio);
  BIO_free(keyBio);
  auto server = std::make_unique<TrackedHttpServer>(cert, key);  // takes references of its own
  X509_free(cert);
  EVP_PKEY_free(key);
  return server;
}

}  // namespace

HttpTestServer::HttpTestServer(bool tls, std::vector<std::string> hostNames)
    : server_(tls ? makeTlsServer(hostNames) : std::make_unique<TrackedHttpServer>()),
      tls_(tls),
      hostNames_(std::move(hostNames)) {
  auto dispatch = [this](const httplib::Request& req, httplib::Response& res) {
    RecordedRequest rec;
    rec.method = req.method;
    rec.path = req.path;
    rec.peerPort = req.remote_port;
    auto q = req.target.find('?');
    if (q != std::string::npos) rec.query = req.target.substr(q + 1);
    for (const auto& [name, value] : req.headers) rec.headers.add(name, value);
    rec.body = req.body;
    for (const auto& [name, file] : req.files)
      rec.parts.push_back(MultipartPart{file.name, file.filename, file.content_type, file.content});
    for (const auto& [name, value] : req.params) rec.queryParameters.emplace(name, value);

    Handler handler;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      log_.push_back(rec);
      auto it = routes_.find({rec.method, rec.path});
      if (it != routes_.end()) handler = it->second;
    }
    changed_.notify_all();
    CannedResponse answer = handler ? handler(rec) : CannedResponse::text("not found", 404);
    if (answer.delay > 0) sleepUnlessStopping(answer.delay);
    res.status = answer.status;
    for (const auto& [name, value] : answer.headers) res.set_header(name, value);
    if (answer.stream) {
      auto next = answer.stream;
      if (answer.streamLength) {
        res.set_content_provider(static_cast<size_t>(*answer.streamLength), answer.contentType,
                                 [next, piece = std::string()](size_t, size_t, httplib::DataSink& sink) mutable {
                                   if (!next(piece)) return false;
                                   return sink.write(piece.data(), piece.size());
                                 });
      } else {
        res.set_chunked_content_provider(answer.contentType, [next, piece = std::string()](
                                                                 size_t, httplib::DataSink& sink) mutable {
          if (!next(piece)) {
            sink.done();
            return true;
          }
          return piece.empty() || sink.write(piece.data(), piece.size());
        });
      }
    } else if (!answer.chunks.empty()) {
      auto chunks = std::make_shared<std::vector<std::string>>(answer.chunks);
      double pause = answer.chunkDelay;
      res.set_chunked_content_provider(answer.contentType, [this, chunks, pause, next = std::size_t(0)](
                                                               size_t, httplib::DataSink& sink) mutable {
        if (next > 0 && pause > 0) sleepUnlessStopping(pause);
        if (next < chunks->size()) {
          const std::string& c = (*chunks)[next++];
          sink.write(c.data(), c.size());
        }
        if (next >= chunks->size()) sink.done();
        return true;
      });
    } else if (!answer.body.empty() || answer.status != 204) {
      res.set_content(answer.body, answer.contentType);
    }
  };
  server_->set_payload_max_length(64u << 20);
  server_->Get(".*", dispatch);
  server_->Post(".*", dispatch);
  server_->Put(".*", dispatch);
  server_->Patch(".*", dispatch);
  server_->Delete(".*", dispatch);
  server_->Options(".*", dispatch);
  // A delayed answer holds a worker while it waits, and the clients of one process keep several
  // requests under way at once.
  server_->setWorkerCount(kServerThreads);
  port_ = server_->bind("127.0.0.1", 0).value_or(0);
  // Listening since the bind: connections wait in the queue until the loop takes them.
  thread_ = std::thread([this] { server_->serve(); });
  for (const auto& name : hostNames_) HostLookup::mapHost(name, 0, "127.0.0.1", port_);
}

HttpTestServer::~HttpTestServer() { stop(); }

void HttpTestServer::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!stopping_) {
      // Only routes that still lead here: another server may have taken a name over since.
      for (const auto& name : hostNames_) {
        auto route = HostLookup::routeFor(name, 0);
        if (route && route->port == 0 && route->toPort == port_) HostLookup::removeOverride(name);
      }
    }
    stopping_ = true;
  }
  changed_.notify_all();
  server_->stop();
  // A kept-alive connection holds a server thread for seconds, and the library's stop waits for
  // it. An answer under way is cut off, as a server going away would.
  server_->endConnections(true);
  if (thread_.joinable()) thread_.join();
}

void HttpTestServer::sleepUnlessStopping(double seconds) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait_for(lock, std::chrono::duration<double>(seconds), [this] { return stopping_; });
}

std::string HttpTestServer::url(const std::string& path) const {
  return std::string(tls_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_) + (path.empty() || path[0] != '/' ? "/" : "") + path;
}

std::string HttpTestServer::urlForHost(const std::string& host, const std::string& path) const {
  return std::string(tls_ ? "https" : "http") + "://" + host + (path.empty() || path[0] != '/' ? "/" : "") + path;
}

void HttpTestServer::route(const std::string& method, const std::string& path, CannedResponse response) {
  route(method, path, [response](const RecordedRequest&) { return response; });
}

void HttpTestServer::route(const std::string& method, const std::string& path, Handler handler) {
  std::lock_guard<std::mutex> lock(mutex_);
  routes_[{method, path}] = std::move(handler);
}

std::vector<RecordedRequest> HttpTestServer::requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return log_;
}

std::size_t HttpTestServer::requestCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return log_.size();
}

bool HttpTestServer::waitForRequests(std::size_t count, double timeoutSeconds) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::duration<double>(timeoutSeconds), [&] { return log_.size() >= count; });
}

int HttpTestServer::refusedPort() {
  // Bind without listening: the port stays ours, so nothing else can take it meanwhile, and a
  // connect to it is refused. The descriptor is kept for the life of the process.
  static int port = [] {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    return static_cast<int>(ntohs(a.sin_port));
  }();
  return port;
}

int HttpTestServer::portOutsideTheGivenRange(const std::vector<int>& besides) {
  int first = 32768;  // the system's usual start of that range
  if (int read = 0; std::ifstream("/proc/sys/net/ipv4/ip_local_port_range") >> read) first = read;
  constexpr int kLowest = 10000;  // above the ports services are known by
  if (first <= kLowest + 1000) return 0;
  std::minstd_rand pick(static_cast<unsigned>(::getpid()) * 7919u +
                        static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()));
  for (int tries = 0; tries < 1000; ++tries) {
    const int port = kLowest + static_cast<int>(pick() % static_cast<unsigned>(first - kLowest));
    if (std::find(besides.begin(), besides.end(), port) != besides.end()) continue;
    // Free when a socket that does not share its address can bind it.
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return 0;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool free = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    if (free) return port;
  }
  return 0;
}

AnswerQueue::AnswerQueue(CannedResponse fallback) { state_->fallback = std::move(fallback); }

void AnswerQueue::push(CannedResponse answer) {
  std::lock_guard lock(state_->mutex);
  state_->answers.push_back(std::move(answer));
}

void AnswerQueue::setFallback(CannedResponse answer) {
  std::lock_guard lock(state_->mutex);
  state_->fallback = std::move(answer);
}

HttpTestServer::Handler AnswerQueue::handler() const {
  return [state = state_](const RecordedRequest&) {
    std::lock_guard lock(state->mutex);
    if (state->answers.empty()) return state->fallback;
    CannedResponse next = std::move(state->answers.front());
    state->answers.pop_front();
    return next;
  };
}

}  // namespace os::testing
