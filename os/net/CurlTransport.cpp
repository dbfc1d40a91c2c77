// The libcurl transport: every exchange runs a multi handle with one easy handle on a worker
// thread of its own, so a cancel wakes it at once (curl_multi_wakeup) and the task can join it.
//
// The request's time-out is an inactivity time-out measured here in real (steady) time: libcurl
// works on the real clock, and its own low-speed limit counts whole seconds only. Any header,
// body byte received or body byte sent restarts the count; connecting counts as inactivity.
#include <curl/curl.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

#include "os/net/URLError.h"
#include "os/net/URLParts.h"
#include "os/net/URLTransport.h"

namespace os {

namespace {

using SteadyClock = std::chrono::steady_clock;

void globalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

long urlErrorForCurl(CURLcode code, long osErrno) {
  switch (code) {
    case CURLE_UNSUPPORTED_PROTOCOL: return kURLErrorUnsupportedURL;
    case CURLE_URL_MALFORMAT: return kURLErrorBadURL;
    case CURLE_COULDNT_RESOLVE_HOST: return kURLErrorCannotFindHost;
    case CURLE_COULDNT_CONNECT:
      return (osErrno == ENETUNREACH || osErrno == ENETDOWN) ? kURLErrorNotConnectedToInternet
                                                             : kURLErrorCannotConnectToHost;
    case CURLE_OPERATION_TIMEDOUT: return kURLErrorTimedOut;
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_PARTIAL_FILE: return kURLErrorNetworkConnectionLost;
    case CURLE_WEIRD_SERVER_REPLY: return kURLErrorBadServerResponse;
    case CURLE_BAD_CONTENT_ENCODING: return kURLErrorCannotDecodeContentData;
    case CURLE_READ_ERROR: return kURLErrorRequestBodyStreamExhausted;
    case CURLE_ABORTED_BY_CALLBACK: return kURLErrorCancelled;
    case CURLE_SSL_CONNECT_ERROR: return kURLErrorSecureConnectionFailed;
    case CURLE_PEER_FAILED_VERIFICATION: return kURLErrorServerCertificateUntrusted;
    case CURLE_SSL_CERTPROBLEM: return kURLErrorClientCertificateRejected;
    case CURLE_SSL_CACERT_BADFILE: return kURLErrorSecureConnectionFailed;
    default: return kURLErrorUnknown;
  }
}

class CurlTask : public URLTransportTask {
 public:
  CurlTask(const URLRequest& request, const URLTransportOptions& options, std::shared_ptr<URLTransportClient> client)
      : request_(request), options_(options), client_(std::move(client)) {
    globalInit();
    multi_ = curl_multi_init();
    easy_ = curl_easy_init();
    thread_ = std::thread([this] { run(); });
  }

  ~CurlTask() override {
    cancel();
    if (thread_.joinable()) thread_.join();
    if (easy_) {
      curl_multi_remove_handle(multi_, easy_);
      curl_easy_cleanup(easy_);
    }
    curl_multi_cleanup(multi_);
    curl_slist_free_all(headerList_);
  }

  void cancel() override {
    {
      std::lock_guard<std::mutex> lock(eventMutex_);
      cancelled_ = true;
    }
    curl_multi_wakeup(multi_);
  }

 private:
  // Events go out under a lock that cancel also takes, so once cancel has returned none follows.
  template <class F>
  void emit(F&& f) {
    std::lock_guard<std::mutex> lock(eventMutex_);
    if (!cancelled_) f(*client_);
  }

  void touch() { lastActivity_ = SteadyClock::now(); }

  static size_t onHeader(char* data, size_t size, size_t n, void* self) {
    auto* t = static_cast<CurlTask*>(self);
    std::string_view line(data, size * n);
    t->touch();
    if (line.rfind("HTTP/", 0) == 0) {
      t->headers_.clear();
      t->status_ = 0;
      std::size_t sp = line.find(' ');
      if (sp != std::string_view::npos) t->status_ = std::atoi(std::string(line.substr(sp + 1, 3)).c_str());
      return size * n;
    }
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    if (line.empty()) {
      if (t->status_ >= 200 || t->status_ == 0) {
        if (t->status_ == 0) return 0;  // no status line: not HTTP we can read
        char* effective = nullptr;
        curl_easy_getinfo(t->easy_, CURLINFO_EFFECTIVE_URL, &effective);
        HTTPURLResponse response(effective ? effective : t->request_.url(), static_cast<int>(t->status_), t->headers_);
        t->gotResponse_ = true;
        // The last body bytes may have gone out since the progress callback last ran; their
        // report comes before the answer.
        curl_off_t sent = 0;
        if (curl_easy_getinfo(t->easy_, CURLINFO_SIZE_UPLOAD_T, &sent) == CURLE_OK) t->reportUpload(sent);
        t->emit([&](URLTransportClient& c) { c.transportDidReceiveResponse(response); });
      }
      return size * n;
    }
    std::size_t colon = line.find(':');
    if (colon != std::string_view::npos) {
      std::string_view value = line.substr(colon + 1);
      while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
      t->headers_.add(line.substr(0, colon), value);
    }
    return size * n;
  }

  static size_t onWrite(char* data, size_t size, size_t n, void* self) {
    auto* t = static_cast<CurlTask*>(self);
    t->touch();
    Data chunk(reinterpret_cast<std::uint8_t*>(data), reinterpret_cast<std::uint8_t*>(data) + size * n);
    t->emit([&](URLTransportClient& c) { c.transportDidReceiveData(std::move(chunk)); });
    return size * n;
  }

  static size_t onRead(char* buffer, size_t size, size_t n, void* self) {
    auto* t = static_cast<CurlTask*>(self);
    t->touch();
    std::size_t max = size * n;
    if (t->bodyStream_) {
      long got = t->bodyStream_->read(reinterpret_cast<std::uint8_t*>(buffer), max);
      if (got < 0) return CURL_READFUNC_ABORT;
      return static_cast<size_t>(got);
    }
    const Data& body = t->request_.HTTPBody();
    std::size_t count = std::min(max, body.size() - t->bodyOffset_);
    if (count) std::memcpy(buffer, body.data() + t->bodyOffset_, count);
    t->bodyOffset_ += count;
    return count;
  }

  static int onProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t ulnow) {
    static_cast<CurlTask*>(self)->reportUpload(ulnow);
    return 0;
  }

  void reportUpload(curl_off_t now) {
    if (now <= uploaded_) return;
    std::int64_t delta = now - uploaded_;
    uploaded_ = now;
    touch();
    emit([&](URLTransportClient& c) { c.transportDidSendBodyData(delta, now, expectedUpload_); });
  }

  void configure() {
    const URLRequest& r = request_;
    curl_easy_setopt(easy_, CURLOPT_URL, r.url().c_str());
    curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy_, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
    curl_easy_setopt(easy_, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(easy_, CURLOPT_NOPROXY, "127.0.0.1,localhost,::1");
    curl_easy_setopt(easy_, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &CurlTask::onHeader);
    curl_easy_setopt(easy_, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &CurlTask::onWrite);
    curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(easy_, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy_, CURLOPT_XFERINFOFUNCTION, &CurlTask::onProgress);
    curl_easy_setopt(easy_, CURLOPT_XFERINFODATA, this);
    if (options_.allowsAnyCertificate) {
      curl_easy_setopt(easy_, CURLOPT_SSL_VERIFYPEER, 0L);
      curl_easy_setopt(easy_, CURLOPT_SSL_VERIFYHOST, 0L);
    }

    const std::string& method = r.HTTPMethod();
    bool hasBody = r.HTTPBodyStream() || !r.HTTPBody().empty();
    if (method == "GET") {
      curl_easy_setopt(easy_, CURLOPT_HTTPGET, 1L);
    } else if (method == "HEAD") {
      curl_easy_setopt(easy_, CURLOPT_NOBODY, 1L);
    } else if (hasBody || method == "POST") {
      curl_easy_setopt(easy_, CURLOPT_POST, 1L);
      curl_easy_setopt(easy_, CURLOPT_READFUNCTION, &CurlTask::onRead);
      curl_easy_setopt(easy_, CURLOPT_READDATA, this);
      if (r.HTTPBodyStream()) {
        bodyStream_ = r.HTTPBodyStream();
        if (bodyStream_->streamStatus() == StreamStatus::NotOpen) bodyStream_->open();
        expectedUpload_ = -1;
        if (auto length = r.valueForHTTPHeaderField("Content-Length")) {
          char* end = nullptr;
          long long n = std::strtoll(length->c_str(), &end, 10);
          if (end && *end == 0 && n >= 0) expectedUpload_ = n;
        }
      } else {
        expectedUpload_ = static_cast<std::int64_t>(r.HTTPBody().size());
      }
      // -1 makes libcurl send the body chunked.
      curl_easy_setopt(easy_, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(expectedUpload_));
      if (method != "POST") curl_easy_setopt(easy_, CURLOPT_CUSTOMREQUEST, method.c_str());
    } else {
      curl_easy_setopt(easy_, CURLOPT_CUSTOMREQUEST, method.c_str());
    }

    bool hasExpect = false;
    for (const auto& [name, value] : r.allHTTPHeaderFields()) {
      // The length of a body is libcurl's to write; a stale one would corrupt the exchange.
      if (HTTPHeaderFields::namesEqual(name, "Content-Length")) continue;
      if (HTTPHeaderFields::namesEqual(name, "Expect")) hasExpect = true;
      std::string line = value.empty() ? name + ";" : name + ": " + value;
      headerList_ = curl_slist_append(headerList_, line.c_str());
    }
    if (!hasExpect) headerList_ = curl_slist_append(headerList_, "Expect:");
    curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, headerList_);
  }

  bool isCancelled() {
    std::lock_guard<std::mutex> lock(eventMutex_);
    return cancelled_;
  }

  void fail(long code, const std::string& description) {
    Error error = makeURLError(code, request_.url(), description);
    emit([&](URLTransportClient& c) { c.transportDidFail(error); });
  }

  void run() {
    if (!multi_ || !easy_) return fail(kURLErrorUnknown, "The transfer could not be set up.");
    configure();
    curl_multi_add_handle(multi_, easy_);
    touch();
    double timeout = request_.timeoutInterval();
    auto limit = std::chrono::duration_cast<SteadyClock::duration>(std::chrono::duration<double>(timeout));
    while (!isCancelled()) {
      int running = 0;
      curl_multi_perform(multi_, &running);
      int queued = 0;
      while (CURLMsg* msg = curl_multi_info_read(multi_, &queued)) {
        if (msg->msg != CURLMSG_DONE) continue;
        CURLcode result = msg->data.result;
        if (result == CURLE_OK && gotResponse_) {
          emit([](URLTransportClient& c) { c.transportDidFinish(); });
        } else if (result == CURLE_OK || result == CURLE_WRITE_ERROR) {
          fail(kURLErrorBadServerResponse, "The server's answer could not be read.");
        } else {
          long osErrno = 0;
          curl_easy_getinfo(easy_, CURLINFO_OS_ERRNO, &osErrno);
          fail(urlErrorForCurl(result, osErrno), curl_easy_strerror(result));
        }
        return;
      }
      if (timeout > 0 && SteadyClock::now() - lastActivity_.load() >= limit)
        return fail(kURLErrorTimedOut, "The request timed out.");
      long curlWait = -1;
      curl_multi_timeout(multi_, &curlWait);
      long waitMs = curlWait < 0 || curlWait > 200 ? 200 : curlWait;
      if (timeout > 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(limit - (SteadyClock::now() - lastActivity_.load()));
        waitMs = std::max<long>(0, std::min<long>(waitMs, left.count() + 1));
      }
      curl_multi_poll(multi_, nullptr, 0, static_cast<int>(waitMs), nullptr);
    }
  }

  URLRequest request_;
  URLTransportOptions options_;
  std::shared_ptr<URLTransportClient> client_;
  CURLM* multi_ = nullptr;
  CURL* easy_ = nullptr;
  curl_slist* headerList_ = nullptr;
  std::shared_ptr<InputStream> bodyStream_;
  std::size_t bodyOffset_ = 0;
  std::int64_t expectedUpload_ = -1;
  curl_off_t uploaded_ = 0;
  long status_ = 0;
  HTTPHeaderFields headers_;
  bool gotResponse_ = false;
  std::atomic<SteadyClock::time_point> lastActivity_{SteadyClock::now()};
  std::mutex eventMutex_;
  bool cancelled_ = false;
  std::thread thread_;
};

class CurlTransport : public URLTransport {
 public:
  std::unique_ptr<URLTransportTask> start(const URLRequest& request, const URLTransportOptions& options,
                                          std::shared_ptr<URLTransportClient> client) override {
    return std::make_unique<CurlTask>(request, options, std::move(client));
  }
};

std::mutex gTransportMutex;
std::shared_ptr<URLTransport> gTransport;

}  // namespace

std::shared_ptr<URLTransport> URLTransport::makeCurlTransport() { return std::make_shared<CurlTransport>(); }

std::shared_ptr<URLTransport> URLTransport::shared() {
  std::lock_guard<std::mutex> lock(gTransportMutex);
  if (!gTransport) gTransport = makeCurlTransport();
  return gTransport;
}

void URLTransport::setShared(std::shared_ptr<URLTransport> transport) {
  std::lock_guard<std::mutex> lock(gTransportMutex);
  gTransport = std::move(transport);
}

}  // namespace os
