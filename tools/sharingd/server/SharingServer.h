#pragma once
// The HTTP face of the local sharing service on one loopback port. Every numbered action of the
// service has its path (any prefix before it is accepted, as a base URL may carry one); queries
// arrive enciphered under "ud_get", bodies under "ud_post" (a form or a multipart form with a
// "pic" part), and answers go back enciphered with the key of the application key in the path.
// Each action can be told to fail: a status code, text that does not decipher, an HTTP error,
// or no answer at all. Web authorisation (action 9) is a page the reader's web view loads: it
// grants the platform and sends the browser on to the platform's callback path with the
// enciphered answer, at once or once its sign-in form took the test account.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tools/common/NewestKept.h"
#include "tools/common/ServiceHost.h"
#include "tools/sharingd/server/SharingService.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace sharingd {

struct Fault {
  // Hold: the request waits until held requests are let go (releaseHeld), then is answered as
  // usual.
  enum class Kind { None, Status, Garbage, HttpError, Stall, Hold };
  Kind kind = Kind::None;
  int code = 0;  // the "st" of Status, the HTTP status of HttpError
  bool operator==(const Fault&) const = default;
};

// "st:5027", "garbage", "500" (any 4xx or 5xx), "stall", "hold", "none".
std::optional<Fault> parseFault(const std::string& text);

// A request as the service read it.
struct LoggedRequest {
  int action = -1;
  std::string method;
  std::string path;  // as sent, before the query
  std::string appKey;
  std::vector<std::string> pathArguments;
  os::Dictionary parameters;
  bool hasPicture = false;
  int st = 0;  // the answer's status (0 when none was given)
};
std::size_t heldBytes(const LoggedRequest& request);

// The account the sign-in page of web authorisation takes.
inline constexpr const char* kTestAccount = "reader";
inline constexpr const char* kTestPassword = "reader123";

struct ServerOptions {
  std::string host = "127.0.0.1";
  int port = 0;
  bool freeIfTaken = false;  // a port that cannot be bound gives way to a free one
  bool verbose = false;
  // Web authorisation (action 9) shows a sign-in page that takes the test account before it
  // grants; without it the page grants at once.
  bool signInPage = false;
  std::map<int, Fault> faults;  // by action; -1 for every action
};

class SharingServer {
 public:
  explicit SharingServer(ServerOptions options = {});
  ~SharingServer();
  SharingServer(const SharingServer&) = delete;
  SharingServer& operator=(const SharingServer&) = delete;

  std::optional<int> bind();
  void serve();
  // bind() and serve() on a thread of its own.
  std::optional<int> start();
  // Lets stalled requests go (unanswered), answers held ones with 503 and stops.
  void stop();
  int port() const { return host_.port(); }
  std::string baseURL() const { return "http://" + options_.host + ":" + std::to_string(host_.port()); }

  // The most one request's body may hold, as sent, once inflated, and in the fields of its parts.
  static constexpr std::size_t kMaxPayload = std::size_t{8} << 20;
  // The most a body may hold as sent when a picture travels beside its fields: the picture is read
  // through and never kept, and the reader bounds the photo it encodes by its pixels only.
  static constexpr std::size_t kMaxPictureUpload = std::size_t{64} << 20;

  SharingService& service() { return service_; }

  void setFault(int action, Fault fault);
  void clearFaults();
  // Answers every request a hold fault keeps waiting; later ones are held again.
  void releaseHeld();

  // The newest requests heard, at most kRequestLimit of them holding at most tools::kRecordByteLimit
  // bytes (the newest whatever its size), oldest first.
  static constexpr std::size_t kRequestLimit = tools::kRecordLimit;
  std::vector<LoggedRequest> requests() const;
  // What the kept requests hold, by the measure the byte bound uses.
  std::size_t requestBytes() const;
  void clearRequests();
  // Blocks until `count` requests are logged; false when the time-out (a bound against a hang,
  // not a measure) runs out first.
  bool waitForRequests(std::size_t count, double timeoutSeconds) const;

 private:
  void handle(const httplib::Request& req, httplib::Response& res, const std::string& body,
              const std::map<std::string, std::string>& formFields, bool hasPicture);
  Fault faultFor(int action) const;
  void log(const std::string& line) const;

  ServerOptions options_;
  SharingService service_;
  std::unique_ptr<tools::HttpServer> http_;
  tools::ServiceHost host_{*http_};
  std::atomic<bool> stopping_{false};

  mutable std::mutex mutex_;
  std::condition_variable released_;
  mutable std::condition_variable logged_;
  std::map<int, Fault> faults_;
  std::uint64_t releases_ = 0;  // how many times held requests were let go
  // Requests a hold kept waiting whose answer has not yet been written: stop lets them finish
  // before the connections are shut, as the HTTP layer writes an answer only after its handler
  // returned.
  std::set<const httplib::Request*> heldUnwritten_;
  std::condition_variable written_;
  // The newest requests only: a service that runs for weeks would otherwise keep every one it
  // heard, each with the parameters of a body of up to 8 MiB. loggedCount_ counts every request
  // ever logged, so a handler finds its own entry (or knows it is gone) by its number.
  tools::NewestKept<LoggedRequest> requests_;
  std::uint64_t loggedCount_ = 0;
};

}  // namespace sharingd
