#pragma once
// The HTTP face of the sample news and promotion servers on one loopback port:
//   POST .../imobile[/]          news API (signed form "p", "v", "c")
//   POST .../imkt[/], .../imkt/mil[/]   promotion API (signed form "p", "v", "check")
//   GET  .../common[/]?cmd=verupdate&version=V   version check
//   GET  /img/<name>/<w>x<h>.<png|jpg|gif>  pictures drawn on request
//   GET  /news/<id>.html, /ad/<id>.html, /app/..., /adcb/<adid>   article, ad and store pages,
//        and the ad callback
//   GET  /products/<store item id>   the store's product of a sample store ad, as the device's
//        store sheet loads it (a property list: "id", "name", "summary")
// Any path prefix before the API parts is accepted (a reader's base URL may carry one, "/api").
// Operations, the version check and the pictures can be made slow or failing (Faults.h).
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "os/core/Data.h"
#include "tools/common/ServiceHost.h"
#include "tools/newsd/server/Faults.h"
#include "tools/newsd/server/NewsService.h"
#include "tools/newsd/server/Pictures.h"
#include "tools/newsd/server/RequestHold.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace newsd {

struct ServerOptions {
  std::string host = "127.0.0.1";
  int port = 0;  // 0: any free port
  bool freeIfTaken = false;  // a port that cannot be bound gives way to a free one
  std::uint64_t seed = 1;
  bool verbose = false;
  ServiceOptions service;
  std::map<FaultTarget, Fault> faults;  // in force from the start
};

class NewsServer {
 public:
  // Makes the sample content from the seed and the current time of os::Clock.
  explicit NewsServer(ServerOptions options);
  ~NewsServer();
  NewsServer(const NewsServer&) = delete;
  NewsServer& operator=(const NewsServer&) = delete;

  // Opens the listening socket; the port, or nothing when the address cannot be bound.
  std::optional<int> bind();
  // Serves until stop() (which may come from another thread); call after a successful bind().
  void serve();
  // bind() and serve() on a thread of its own; the port, or nothing.
  std::optional<int> start();
  // Returns promptly even with requests held by a delay or a stall: they are let go and their
  // connections cut without an answer.
  void stop();

  int port() const { return host_.port(); }
  // "http://<host>:<port>": where a reader on this machine finds the server.
  std::string base() const { return "http://" + options_.host + ":" + std::to_string(port()); }
  NewsService& service() { return *service_; }

  // Faults may change at any time from any thread; a request takes the fault in force when it
  // arrives. A fault with no failure and no delay clears the target. Misuse (a negative delay, an
  // envelope failure for the pictures) throws os::Exception.
  void setFault(long long opcode, Fault fault) { faults_.set(FaultTarget::operation(opcode), fault); }
  void setFault(FaultTarget target, Fault fault) { faults_.set(target, fault); }
  void clearFaults() { faults_.clear(); }
  FaultTable& faults() { return faults_; }

  // Requests now held by a delay or a stall, and a wait (in real seconds, at most `limitSeconds`)
  // until that many are: a test parks a request before it moves the virtual clock.
  std::size_t heldRequests() const { return hold_.held(); }
  bool awaitHeldRequests(std::size_t count, double limitSeconds = 30) const { return hold_.awaitHeld(count, limitSeconds); }

  // The most the drawn pictures kept for later requests hold together.
  static constexpr std::size_t kMaxCachedPictureBytes = std::size_t{8} << 20;
  std::size_t cachedPictureBytes() const;

 private:
  void routes();
  void handlePost(const httplib::Request& req, const std::string& body, httplib::Response& res);
  void handleGet(const httplib::Request& req, httplib::Response& res);
  std::string baseOf(const httplib::Request& req) const;
  // Shows the target's fault on the request: true when the request has been dealt with (answered
  // with the failure, or dropped unanswered), false when it is to be answered as usual.
  bool showFault(FaultTarget target, long long opcode, int failureResult, const httplib::Request& req,
                 httplib::Response& res);
  std::optional<os::Data> picture(const std::string& name, int width, int height, PictureFormat format);
  void log(const std::string& line) const;

  ServerOptions options_;
  std::unique_ptr<NewsService> service_;
  std::unique_ptr<tools::HttpServer> http_;
  tools::ServiceHost host_{*http_};
  FaultTable faults_;
  RequestHold hold_;

  mutable std::mutex picturesMutex_;
  std::map<std::string, os::Data> pictures_;  // drawn pictures by name and size
  std::size_t pictureBytes_ = 0;              // what pictures_ holds
};

}  // namespace newsd
