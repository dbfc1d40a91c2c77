#pragma once
// The HTTP face of the sample news and promotion servers on one loopback port:
//   POST .../imobile[/]          news API (signed form "p", "v", "c")
//   POST .../imkt[/], .../imkt/mil[/]   promotion API (signed form "p", "v", "check")
//   GET  .../common[/]?cmd=verupdate&version=V   version check
//   GET  /img/<name>/<w>x<h>.png  pictures drawn on request
//   GET  /news/<id>.html, /ad/<id>.html, /app/..., /adcb/<adid>   article, ad and store pages,
//        and the ad callback
// Any path prefix before the API parts is accepted (a reader's base URL may carry one, "/api").
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "os/core/Data.h"
#include "tools/newsd/server/NewsService.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace newsd {

struct ServerOptions {
  std::string host = "127.0.0.1";
  int port = 0;  // 0: any free port
  std::uint64_t seed = 1;
  bool verbose = false;
  ServiceOptions service;
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
  void stop();

  int port() const { return port_; }
  NewsService& service() { return *service_; }

 private:
  void routes();
  void handlePost(const httplib::Request& req, const std::string& body, httplib::Response& res);
  void handleGet(const httplib::Request& req, httplib::Response& res);
  std::string baseOf(const httplib::Request& req) const;
  std::optional<os::Data> picture(const std::string& name, int width, int height);
  void log(const std::string& line) const;

  ServerOptions options_;
  std::unique_ptr<NewsService> service_;
  std::unique_ptr<httplib::Server> http_;
  std::thread thread_;
  int port_ = 0;
  std::atomic<bool> serving_{false};
  std::atomic<bool> stopping_{false};

  std::mutex picturesMutex_;
  std::map<std::string, os::Data> pictures_;  // drawn pictures by name and size
};

}  // namespace newsd
