#include "tools/newsd/server/NewsServer.h"

#include <httplib.h>


#include <cstdio>
#include <regex>

#include "os/core/String.h"
#include "os/core/URL.h"
#include "os/net/Socket.h"
#include "os/runtime/Clock.h"
#include "os/store/PropertyList.h"
#include "tools/common/HttpServer.h"
#include "tools/newsd/server/Pictures.h"
#include "tools/newsd/server/Wire.h"

namespace newsd {

namespace {

constexpr std::size_t kMaxPayload = 16u << 20;  // crash dumps travel with the whole log file
constexpr std::size_t kMaxCachedPictures = 512;

bool endsWith(const std::string& s, std::string_view tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

std::string withoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// A Host header is echoed into every address the answers carry; anything but a plain host and
// port is ignored.
bool plausibleHost(const std::string& host) {
  if (host.empty() || host.size() > 255) return false;
  for (char c : host)
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == ':' || c == '[' || c == ']'))
      return false;
  return true;
}

// Body text back to what a reader sees: the markers and the entity the body format uses.
std::string plainText(std::string text) {
  auto replace = [&](std::string_view from, std::string_view to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
      text.replace(at, from.size(), to);
  };
  replace("&amp;", "&");
  replace("#lt#", "<");
  replace("#rt#", ">");
  return text;
}

std::string page(const std::string& title, const std::string& body) {
  return "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>" + os::escapeMarkup(title) + "</title></head><body>" + body +
         "</body></html>";
}

void setJSON(httplib::Response& res, const os::Value& answer) {
  res.set_content(writeJSON(answer), "application/json; charset=utf-8");
}

}  // namespace

NewsServer::NewsServer(ServerOptions options)
    : options_(std::move(options)),
      service_(std::make_unique<NewsService>(SampleContent::generate(options_.seed, os::Clock::now()), options_.service)),
      http_(std::make_unique<tools::HttpServer>()) {
  if (options_.verbose) service_->setLog([this](const std::string& line) { log(line); });
  for (const auto& [target, fault] : options_.faults) faults_.set(target, fault);
  routes();
}

NewsServer::~NewsServer() { stop(); }

void NewsServer::routes() {
  http_->set_payload_max_length(kMaxPayload);
  // Head and body go out in separate writes: without this every answer on a kept-alive
  // connection waits for the reader's delayed ACK (40 ms on Linux) before its body.
  http_->set_tcp_nodelay(true);
  // Bodies are read through a content reader: the HTTP layer's own form reading refuses forms
  // beyond a few kilobytes, and a crash dump travels with the whole log file.
  http_->Post(".*", [this](const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& reader) {
    // Parts are no form of this API; the HTTP layer would fail reading them into one body.
    if (req.is_multipart_form_data()) {
      res.status = 415;
      res.set_content("request unreadable", "text/plain; charset=utf-8");
      return;
    }
    std::string body;
    bool exceeded = false;  // else a body that cannot be read as it says it is
    bool complete = reader([&](const char* data, std::size_t length) {
      if (body.size() + length > kMaxPayload) return !(exceeded = true);
      body.append(data, length);
      return true;
    });
    // Every body here is read as a form: its fields are counted with what each costs to keep.
    if (complete && !tools::HttpServer::formFits(body, body.size(), kMaxPayload)) complete = !(exceeded = true);
    if (!complete) {
      res.status = exceeded ? 413 : 400;
      res.set_content(exceeded ? "request too large" : "request unreadable", "text/plain; charset=utf-8");
      return;
    }
    handlePost(req, body, res);
  });
  http_->Get(".*", [this](const httplib::Request& req, httplib::Response& res) { handleGet(req, res); });
  http_->set_exception_handler([this](const httplib::Request& req, httplib::Response& res, std::exception_ptr) {
    log("internal error on " + req.path);
    res.status = 500;
    res.set_content("internal error", "text/plain; charset=utf-8");
  });
}

std::optional<int> NewsServer::bind() { return host_.bind(options_.host, options_.port, options_.freeIfTaken); }

void NewsServer::serve() { host_.serve(); }

std::optional<int> NewsServer::start() { return host_.start(options_.host, options_.port); }

void NewsServer::stop() {
  // Delayed and stalled requests let go first: the HTTP layer waits for its handlers to return.
  hold_.release();
  host_.stop();
}

std::string NewsServer::baseOf(const httplib::Request& req) const {
  std::string host = req.get_header_value("Host");
  if (!plausibleHost(host)) host = options_.host + ":" + std::to_string(host_.port());
  return "http://" + host;
}

std::size_t NewsServer::cachedPictureBytes() const {
  std::lock_guard lock(picturesMutex_);
  return pictureBytes_;
}

void NewsServer::log(const std::string& line) const {
  if (options_.verbose) std::fprintf(stderr, "newsd: %s\n", line.c_str());
}

void NewsServer::handlePost(const httplib::Request& req, const std::string& body, httplib::Response& res) {
  std::string path = withoutTrailingSlash(req.path);
  log("POST " + req.path);
  Api api;
  if (endsWith(path, "/imkt/mil")) {
    api = Api::PromotionList;
  } else if (endsWith(path, "/imkt")) {
    api = Api::Promotion;
  } else if (endsWith(path, "/imobile")) {
    api = Api::News;
  } else {
    res.status = 404;
    res.set_content("no such service", "text/plain; charset=utf-8");
    return;
  }
  // The form is read here rather than by the HTTP layer: a "+" must stay a "+", because "p" is
  // Base64 and the check code signs it letter for letter.
  std::vector<os::QueryItem> form = os::parseQuery(body, false);
  // A fault goes by the opcode that "p" names, whether or not the form is signed well.
  if (auto opcode = NewsService::opcodeOf(form)) {
    int failure = api == Api::News ? kNewsFailure : kPromotionFailure;
    if (showFault(FaultTarget::operation(*opcode), *opcode, failure, req, res)) return;
  }
  setJSON(res, service_->answerForm(api, form, baseOf(req), os::Clock::now()));
}

void NewsServer::handleGet(const httplib::Request& req, httplib::Response& res) {
  static const std::regex picturePath(R"(/img/([A-Za-z0-9_]{1,64})/([0-9]{1,5})x([0-9]{1,5})\.(png|jpg|gif))");
  static const std::regex articlePath(R"(/news/([0-9]{1,12})\.html)");
  static const std::regex adPath(R"(/ad/([0-9]{1,12})\.html)");
  static const std::regex callbackPath(R"(/adcb/([0-9]{1,12}))");
  static const std::regex productPath(R"(/products/([0-9]{1,12}))");
  std::string path = withoutTrailingSlash(req.path);
  log("GET " + req.path);
  std::smatch m;
  std::string base = baseOf(req);

  if (endsWith(path, "/common")) {
    if (showFault(FaultTarget::versionCheck(), 0, 0, req, res)) return;
    setJSON(res, service_->answerVersionCheck(req.get_param_value("cmd"), req.get_param_value("version"), base));
    return;
  }
  if (std::regex_match(path, m, picturePath)) {
    if (showFault(FaultTarget::pictures(), 0, 0, req, res)) return;
    PictureFormat format = pictureFormatForExtension(m[4].str()).value_or(PictureFormat::PNG);
    auto bytes = picture(m[1], std::stoi(m[2]), std::stoi(m[3]), format);
    if (bytes) {
      res.set_content(reinterpret_cast<const char*>(bytes->data()), bytes->size(), std::string(mimeTypeOf(format)));
      res.set_header("Cache-Control", "max-age=604800");
      return;
    }
  } else if (std::regex_match(path, m, articlePath)) {
    const Article* a = service_->content().article(std::stoll(m[1]));
    if (a && static_cast<double>(a->publishTime) <= os::Clock::now()) {
      std::string body = "<h1>" + os::escapeMarkup(a->title) + "</h1><p>" + os::escapeMarkup(a->source) + " " + displayTime(a->publishTime) + "</p>";
      for (const BodyBlock& b : a->body) {
        if (b.kind == BodyBlock::Kind::Text) body += "<p>" + os::escapeMarkup(plainText(b.text)) + "</p>";
        if (b.kind == BodyBlock::Kind::Picture)
          body += "<p><img src=\"" + os::escapeMarkup(pictureURL(base, b.picture)) + "\" alt=\"" + os::escapeMarkup(b.picture.alt) + "\"></p>";
      }
      res.set_content(page(a->title, body), "text/html; charset=utf-8");
      return;
    }
  } else if (std::regex_match(path, m, adPath)) {
    if (const Ad* ad = service_->content().ad(std::stoll(m[1]))) {
      res.set_content(page(ad->name, "<h1>" + os::escapeMarkup(ad->name) + "</h1><p>" + os::escapeMarkup(ad->summary) + "</p>"), "text/html; charset=utf-8");
      return;
    }
  } else if (std::regex_match(path, m, callbackPath)) {
    if (service_->recordAdCallback(std::stoll(m[1]), req.get_header_value("User-Agent"))) {
      res.set_content("ok", "text/plain; charset=utf-8");
      return;
    }
  } else if (std::regex_match(path, m, productPath)) {
    if (const Ad* ad = service_->content().storeItem(std::stoll(m[1]))) {
      os::Dictionary product{{"id", os::Value(m[1].str())}, {"name", os::Value(ad->name)}, {"summary", os::Value(ad->summary)}};
      if (auto plist = os::PropertyList::write(os::Value(std::move(product)), os::PropertyListFormat::XML)) {
        res.set_content(reinterpret_cast<const char*>(plist->data()), plist->size(), "application/x-plist");
        return;
      }
    }
  } else if (path.rfind("/app/", 0) == 0) {
    // Stands in for the store's page of an advertised application or of a reader update.
    res.set_content(page("应用下载", "<h1>应用下载</h1><p>" + os::escapeMarkup(path) + "</p>"), "text/html; charset=utf-8");
    return;
  }
  res.status = 404;
  res.set_content("not found", "text/plain; charset=utf-8");
}

std::optional<os::Data> NewsServer::picture(const std::string& name, int width, int height, PictureFormat format) {
  std::string key = name + "/" + std::to_string(width) + "x" + std::to_string(height) + "." + std::string(extensionOf(format));
  {
    std::lock_guard lock(picturesMutex_);
    if (auto it = pictures_.find(key); it != pictures_.end()) return it->second;
  }
  auto bytes = drawPicture(name, width, height, format);
  if (!bytes) return std::nullopt;
  std::lock_guard lock(picturesMutex_);
  // The cache starts over when full: by count, and by bytes, as a large picture may weigh a few
  // hundred kilobytes.
  if (bytes->size() > kMaxCachedPictureBytes) return bytes;
  if (pictures_.size() >= kMaxCachedPictures || pictureBytes_ + bytes->size() > kMaxCachedPictureBytes) {
    pictures_.clear();
    pictureBytes_ = 0;
  }
  if (pictures_.emplace(key, *bytes).second) pictureBytes_ += bytes->size();
  return bytes;
}

bool NewsServer::showFault(FaultTarget target, long long opcode, int failureResult, const httplib::Request& req,
                           httplib::Response& res) {
  Fault fault = faults_.at(target);
  if (fault == Fault{}) return false;
  // A request let go by a stopping server gets no answer at all: its line is cut, and should the
  // connection not be found, the answer is at least not a success.
  auto drop = [&](const std::shared_ptr<os::TcpSocket>& connection) {
    if (connection) connection->shutdown();
    res.status = 503;
    res.set_header("Connection", "close");
    res.set_content("server stopping", "text/plain; charset=utf-8");
    return true;
  };
  if (fault.delay > 0) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%g", fault.delay);
    log("holding " + req.path + " for " + seconds + " s");
    os::TrackedHttpServer::HeldRequest held;
    if (!hold_.wait(fault.delay)) return drop(http_->connectionServed());
  }
  switch (fault.failure) {
    case FailureMode::None:
      return false;
    case FailureMode::ErrorCode:
      log("failing " + req.path + " with errorcode -1");
      setJSON(res, envelope(-1, opcode, os::Dictionary{{"result", failureResult}, {"msg", "simulated failure"}}));
      return true;
    case FailureMode::MissingResult:
      log("answering " + req.path + " without a result");
      setJSON(res, envelope(0, opcode, os::Dictionary{{"msg", "no result"}}));
      return true;
    case FailureMode::HttpError:
      log("failing " + req.path + " with HTTP 500");
      res.status = 500;
      res.set_content("internal error", "text/plain; charset=utf-8");
      return true;
    case FailureMode::Stall: {
      log("stalling " + req.path);
      // The connection stays open while this handler runs on its thread.
      const auto connection = http_->connectionServed();
      {
        os::TrackedHttpServer::HeldRequest held;
        hold_.stall(connection ? connection->nativeHandle() : -1);
      }
      // The client left or the server stops: either way nothing is sent.
      return drop(connection);
    }
  }
  return false;
}

}  // namespace newsd
