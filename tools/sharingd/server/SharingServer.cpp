#include "tools/sharingd/server/SharingServer.h"

#include <httplib.h>

#include <chrono>
#include <cstdio>

#include "os/core/DetachedValue.h"
#include "os/core/String.h"
#include "tools/common/HttpServer.h"
#include "tools/common/SignInPage.h"
#include "tools/sharingd/server/SharingWire.h"

namespace sharingd {

namespace {

struct Route {
  int action;
  const char* method;
  std::vector<std::string> literals;
  std::size_t arguments;  // segments after the application key
};

const std::vector<Route>& routes() {
  static const std::vector<Route> kRoutes{
      {0, "POST", {"comment", "add"}, 1},        {1, "POST", {"like", "update"}, 1},
      {2, "GET", {"comment", "get"}, 1},         {3, "GET", {"bar", "get"}, 0},
      {4, "POST", {"share", "add"}, 1},          {5, "POST", {"share", "multi_add"}, 1},
      {6, "POST", {"comment", "binding"}, 0},    {7, "POST", {"comment", "unbinding"}, 0},
      {8, "POST", {"share", "auth_delete"}, 0},  {9, "GET", {"share", "auth"}, 1},
      {10, "GET", {"user", "profile", "get"}, 1}, {11, "GET", {"share", "userinfo"}, 1},
      {12, "GET", {"share", "friends"}, 1},      {13, "POST", {"share", "follow"}, 1},
      {14, "POST", {"user", "custom_account"}, 1}, {15, "POST", {"share", "token"}, 0},
      {16, "GET", {"share", "keysecret"}, 0},    {17, "GET", {"share", "validate_token"}, 0},
      {18, "POST", {"app", "oper"}, 0},          {19, "POST", {"share", "keysecret"}, 0}};
  return kRoutes;
}

// The action a path names, with the application key and the arguments after it. The segments
// are as sent; those the client fills in (the application key and the arguments) arrive escaped
// and are taken only in that form. Absent when no action matches or a filled-in segment came in
// another form.
std::optional<LoggedRequest> route(const std::string& method, const std::vector<std::string>& segments) {
  for (const auto& r : routes()) {
    if (method != r.method) continue;
    std::size_t needed = r.literals.size() + 1 + r.arguments;
    if (segments.size() < needed) continue;
    std::size_t at = segments.size() - needed;
    bool match = true;
    for (std::size_t i = 0; i < r.literals.size() && match; ++i) match = segments[at + i] == r.literals[i];
    if (!match) continue;
    std::vector<std::string> filledIn;
    for (std::size_t i = at + r.literals.size(); i < segments.size(); ++i) {
      auto plain = readEscaped(segments[i]);
      if (!plain) return std::nullopt;
      filledIn.push_back(std::move(*plain));
    }
    LoggedRequest request;
    request.action = r.action;
    request.method = method;
    request.appKey = filledIn.front();
    request.pathArguments.assign(filledIn.begin() + 1, filledIn.end());
    return request;
  }
  return std::nullopt;
}

std::vector<std::string> segmentsOf(const std::string& path) {
  std::vector<std::string> segments;
  for (const auto& part : os::split(path, "/"))
    if (!part.empty()) segments.push_back(part);
  return segments;
}

// The enciphered query of a request whose query is "ud_get=" and the cipher escaped; absent for
// any other query.
std::optional<std::string> encipheredQueryOf(const std::string& target) {
  const auto mark = target.find('?');
  if (mark == std::string::npos) return std::nullopt;
  const std::string_view query = std::string_view(target).substr(mark + 1);
  if (!query.starts_with("ud_get=")) return std::nullopt;
  return readEscaped(query.substr(7));
}

// Where each web-authorised platform's authorisation ends.
std::string oauthCallbackPath(const std::string& platform) {
  static const std::map<std::string, std::string> kPaths{{"qzone", "/qzone/main"},   {"sina", "/sina2/main"},
                                                         {"velmora", "/tenc2/main"}, {"renren", "/renr2/main"},
                                                         {"douban", "/douban/main"}};
  auto found = kPaths.find(platform);
  return found == kPaths.end() ? "" : found->second;
}

void plain(httplib::Response& res, int status, const std::string& text) {
  res.status = status;
  res.set_content(text, "text/plain; charset=utf-8");
}

std::string platformTitle(const std::string& platform) {
  static const std::map<std::string, std::string> kTitles{
      {"qzone", "QQ空间"}, {"sina", "新浪微博"}, {"renren", "人人网"}, {"douban", "豆瓣"}};
  auto found = kTitles.find(platform);
  return found == kTitles.end() ? platform : found->second;
}

// The sign-in page of web authorisation: the form posts back to the page's own address, whose
// enciphered query names the platform.
std::string signInPage(const std::string& platform, const std::string& action, bool refused,
                       const std::string& account) {
  const std::string title = platformTitle(platform);
  return tools::signInPageHTML({title + " 授权登录", "登录" + title + "并授权分享", action, kTestAccount, kTestPassword,
                                account, refused});
}

}  // namespace

std::size_t heldBytes(const LoggedRequest& request) {
  std::size_t bytes = tools::heldBytes(request.method) + tools::heldBytes(request.path) + tools::heldBytes(request.appKey) +
                      tools::heldBytes(request.parameters);
  for (const auto& argument : request.pathArguments) bytes += sizeof(argument) + tools::heldBytes(argument);
  return bytes;
}

std::size_t SharingServer::requestBytes() const {
  std::lock_guard lock(mutex_);
  return requests_.bytes();
}

std::optional<Fault> parseFault(const std::string& text) {
  if (text == "none") return Fault{};
  if (text == "garbage") return Fault{Fault::Kind::Garbage, 0};
  if (text == "stall") return Fault{Fault::Kind::Stall, 0};
  if (text == "hold") return Fault{Fault::Kind::Hold, 0};
  if (text.rfind("st:", 0) == 0) {
    int code = os::intValue(text.substr(3));
    if (code == 0) return std::nullopt;
    return Fault{Fault::Kind::Status, code};
  }
  int status = os::intValue(text);
  if (status >= 400 && status <= 599 && std::to_string(status) == text) return Fault{Fault::Kind::HttpError, status};
  return std::nullopt;
}

SharingServer::SharingServer(ServerOptions options)
    : options_(std::move(options)), http_(std::make_unique<tools::HttpServer>()), faults_(options_.faults) {
  // Fields and plain bodies are held to kMaxPayload as they are read, below.
  http_->set_payload_max_length(kMaxPictureUpload);
  // One request a connection: stopping never waits on a client's idle connection.
  http_->set_keep_alive_max_count(1);
  http_->Get(".*", [this](const httplib::Request& req, httplib::Response& res) { handle(req, res, "", {}, false); });
  // Bodies are read here: the HTTP layer's own form reading refuses forms beyond a few kilobytes.
  http_->Post(".*", [this](const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& reader) {
    std::map<std::string, std::string> fields;
    std::string body;
    bool hasPicture = false;
    bool complete = true;
    bool exceeded = false;  // else a body that cannot be read as it says it is
    if (req.is_multipart_form_data()) {
      // The fields of the parts are held to the bound together, each part counted with what it
      // costs to keep (the picture is not kept): the HTTP layer checks a body against it only when
      // its length is given up front.
      std::string current;
      std::size_t held = 0;
      auto take = [&](std::size_t bytes) {
        if (bytes > kMaxPayload - held) return !(exceeded = true);
        held += bytes;
        return true;
      };
      complete = reader(
          [&](const httplib::MultipartFormData& part) {
            if (!take(tools::HttpServer::partCost(part))) return false;
            current = part.name;
            if (current == "pic") hasPicture = true;
            fields[current];
            return true;
          },
          [&](const char* data, std::size_t length) {
            if (current == "pic") return true;
            if (!take(length)) return false;
            fields[current].append(data, length);
            return true;
          });
    } else {
      complete = reader([&](const char* data, std::size_t length) {
        if (body.size() + length > kMaxPayload) return !(exceeded = true);
        body.append(data, length);
        return true;
      });
      if (complete && !tools::HttpServer::formFits(body, body.size(), kMaxPayload)) complete = !(exceeded = true);
      if (auto form = complete ? parseQuery(os::replaceAll(body, "+", "%20")) : std::nullopt)
        for (const auto& [name, value] : *form) fields[name] = value.stringOr();
    }
    if (!complete) return exceeded ? plain(res, 413, "request too large") : plain(res, 400, "request unreadable");
    handle(req, res, body, fields, hasPicture);
  });
  // Called once the answer to a request went out (or could not): a held one may now be cut.
  http_->set_logger([this](const httplib::Request& req, const httplib::Response&) {
    std::lock_guard lock(mutex_);
    if (heldUnwritten_.erase(&req) > 0) written_.notify_all();
  });
  http_->set_exception_handler([this](const httplib::Request& req, httplib::Response& res, std::exception_ptr) {
    log("internal error on " + req.path);
    plain(res, 500, "internal error");
  });
}

SharingServer::~SharingServer() { stop(); }

std::optional<int> SharingServer::bind() { return host_.bind(options_.host, options_.port, options_.freeIfTaken); }

void SharingServer::serve() { host_.serve(); }

std::optional<int> SharingServer::start() { return host_.start(options_.host, options_.port); }

void SharingServer::stop() {
  {
    // Stalled and held requests let go first: the HTTP layer waits for its handlers to return.
    // Held ones are answered, so their answers must be out before the connections are shut.
    std::unique_lock lock(mutex_);
    stopping_ = true;
    released_.notify_all();
    written_.wait(lock, [this] { return heldUnwritten_.empty(); });
  }
  host_.stop();
}

void SharingServer::setFault(int action, Fault fault) {
  std::lock_guard lock(mutex_);
  if (fault.kind == Fault::Kind::None)
    faults_.erase(action);
  else
    faults_[action] = fault;
  released_.notify_all();
}

void SharingServer::releaseHeld() {
  std::lock_guard lock(mutex_);
  ++releases_;
  released_.notify_all();
}

void SharingServer::clearFaults() {
  std::lock_guard lock(mutex_);
  faults_.clear();
  released_.notify_all();
}

Fault SharingServer::faultFor(int action) const {
  auto found = faults_.find(action);
  if (found != faults_.end()) return found->second;
  found = faults_.find(-1);
  return found != faults_.end() ? found->second : Fault{};
}

std::vector<LoggedRequest> SharingServer::requests() const {
  std::lock_guard lock(mutex_);
  return {requests_.begin(), requests_.end()};
}

void SharingServer::clearRequests() {
  std::lock_guard lock(mutex_);
  requests_.clear();
}

bool SharingServer::waitForRequests(std::size_t count, double timeoutSeconds) const {
  std::unique_lock lock(mutex_);
  return logged_.wait_for(lock, std::chrono::duration<double>(timeoutSeconds), [&] { return requests_.size() >= count; });
}

void SharingServer::log(const std::string& line) const {
  if (options_.verbose) std::fprintf(stderr, "sharingd: %s\n", line.c_str());
}

void SharingServer::handle(const httplib::Request& req, httplib::Response& res, const std::string&,
                           const std::map<std::string, std::string>& formFields, bool hasPicture) {
  std::string raw = req.target.empty() ? req.path : req.target;
  raw = raw.substr(0, raw.find('?'));
  const auto segments = segmentsOf(raw);
  // A HEAD is the GET whose body the HTTP layer leaves out: it is answered as that GET is.
  auto found = route(req.method == "HEAD" ? "GET" : req.method, segments);
  // The sign-in form of web authorisation posts to the page's own address.
  bool signingIn = false;
  if (!found && req.method == "POST" && options_.signInPage) {
    auto page = route("GET", segments);
    if (page && page->action == 9) {
      found = page;
      signingIn = true;
    }
  }
  if (!found) return plain(res, 404, "no such action, or a path segment not percent-escaped");
  LoggedRequest request = *found;
  request.path = raw;
  request.hasPicture = hasPicture;
  log(req.method + " " + raw + " (action " + std::to_string(request.action) + ")");

  // The parameters, deciphered with the key of the application key in the path. A client keeps
  // the key it made from the first application key it was given, so a client whose key changed
  // since writes with the key of an application the service already knows; the answer goes back
  // in the key the request came in.
  std::string cipherKey = request.appKey;
  auto readCipher = [&](const std::string& cipher) -> std::optional<std::string> {
    if (cipher.empty()) return std::nullopt;
    if (auto text = decipher(cipher, request.appKey)) return text;
    for (const auto& known : service_.appKeys())
      if (known != request.appKey)
        if (auto text = decipher(cipher, known)) {
          cipherKey = known;
          return text;
        }
    return std::nullopt;
  };
  std::optional<os::Dictionary> parameters;
  if (request.method == "GET" || request.action == 9) {
    // Read from the raw query, not the HTTP layer's reading of it (which would take a "+" for a
    // space): the query is "ud_get=" and the cipher, "+", "/" and "=" of its Base64 escaped.
    if (auto cipher = encipheredQueryOf(req.target.empty() ? req.path : req.target))
      if (auto text = readCipher(*cipher)) parameters = parseEncipheredQuery(*text);
  } else {
    auto field = formFields.find("ud_post");
    auto text = field == formFields.end() ? std::nullopt : readCipher(field->second);
    parameters = text ? parseJSONObject(*text) : std::nullopt;
  }

  Fault fault;
  std::uint64_t index = 0;
  std::uint64_t releases = 0;
  {
    std::lock_guard lock(mutex_);
    fault = faultFor(request.action);
    releases = releases_;
    // Its own copy: the parsed tree's blocks are not kept alive by the log.
    if (parameters) request.parameters = os::detached(*parameters);
    index = loggedCount_++;
    requests_.keep(request);
    // Counted held as it is logged: a stop that follows its logging waits for its answer.
    if (fault.kind == Fault::Kind::Hold) heldUnwritten_.insert(&req);
    logged_.notify_all();
  }
  auto record = [&](int st) {
    std::lock_guard lock(mutex_);
    const std::uint64_t first = loggedCount_ - requests_.size();
    if (index < first) return;  // cleared, or gone past the limit
    LoggedRequest& logged = requests_[static_cast<std::size_t>(index - first)];
    if (logged.path == request.path) logged.st = st;
  };

  switch (fault.kind) {
    case Fault::Kind::Stall: {
      os::TrackedHttpServer::HeldRequest held;
      std::unique_lock lock(mutex_);
      released_.wait(lock, [&] { return stopping_.load() || faultFor(request.action).kind != Fault::Kind::Stall; });
      res.status = 503;
      return;
    }
    case Fault::Kind::Hold: {
      os::TrackedHttpServer::HeldRequest held;
      std::unique_lock lock(mutex_);
      released_.wait(lock, [&] { return stopping_.load() || releases_ != releases; });
      if (stopping_) {
        res.status = 503;
        return;
      }
      log("let go: " + request.method + " (action " + std::to_string(request.action) + ")");
      break;
    }
    case Fault::Kind::HttpError:
      return plain(res, fault.code, "service unavailable");
    case Fault::Kind::Garbage:
      return plain(res, 200, "<html>not an answer</html>");
    default:
      break;
  }
  if (!parameters) {
    record(kStatusBadParameters);
    return plain(res, 200, answerBody(kStatusBadParameters, "the request does not decipher", {}, cipherKey));
  }
  ActionRequest action{request.action, request.method, request.appKey, request.pathArguments, *parameters, hasPicture};
  if (request.action == 9) {
    const std::string platform = (*parameters)["via"].stringOr();
    if (options_.signInPage) {
      const bool signedIn = signingIn && tools::signInAccepted(formFields, kTestAccount, kTestPassword);
      if (!signedIn) {
        log(signingIn ? "sign-in refused for " + platform : "sign-in page for " + platform);
        record(0);
        // A refused sign-in shows the form again with the account as it was typed.
        const std::string typed = formFields.count("username") ? formFields.at("username") : "";
        res.set_content(signInPage(platform, req.target.empty() ? req.path : req.target, signingIn, typed),
                        "text/html; charset=utf-8");
        return;
      }
      log("signed in to " + platform + " as " + kTestAccount);
    }
    // The authorisation grants and sends the browser to the platform's callback path with the
    // enciphered answer, which the reader's OAuth screen stops and reads.
    ActionAnswer granted = service_.answer(action);
    if (fault.kind == Fault::Kind::Status) {
      granted.st = fault.code;
      granted.message = "fault " + std::to_string(fault.code);
    }
    record(granted.st);
    const std::string callback = oauthCallbackPath(platform);
    if (callback.empty()) return plain(res, 404, "no such platform");
    std::string body = answerBody(granted.st, granted.message, granted.data, cipherKey);
    res.set_redirect(callback + "?ud_get=" + os::percentEscape(body), 302);
    return;
  }
  ActionAnswer answer = service_.answer(action);
  if (fault.kind == Fault::Kind::Status) {
    answer.st = fault.code;
    answer.message = "fault " + std::to_string(fault.code);
  }
  record(answer.st);
  plain(res, 200, answerBody(answer.st, answer.message, answer.data, cipherKey));
}

}  // namespace sharingd
