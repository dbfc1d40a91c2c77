// The libcurl transport: every exchange is one easy handle on a multi handle driven by a run
// loop: the transport's own thread's, or the caller's when that thread only runs its loop (see
// Driver below); or, for a caller that sleeps until the exchange ends, by the calling thread
// itself inside start (see BlockingRuns).
//
// The request's time-out is an inactivity time-out measured here in real (steady) time: libcurl
// works on the real clock, and its own low-speed limit counts whole seconds only. Any header,
// body byte received or body byte sent restarts the count; connecting (or waiting for a
// connection) counts as inactivity.
#include <curl/curl.h>
#include <pthread.h>
#include <sys/timerfd.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <charconv>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <future>
#include <mutex>
#include <memory>
#include <optional>
#include <shared_mutex>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include <openssl/x509_vfy.h>

#include "os/crypto/CryptoLibrary.h"
#include "os/net/CertificateTrust.h"
#include "os/net/HostLookup.h"
#include "os/net/URLError.h"
#include "os/net/URLParts.h"
#include "os/net/URLTransport.h"
#include "os/runtime/RunLoop.h"

namespace os {

namespace {

using SteadyClock = std::chrono::steady_clock;

void globalInit() {
  static std::once_flag once;
  std::call_once(once, [] {
    prepareCryptoLibrary();
    curl_global_init(CURL_GLOBAL_DEFAULT);
  });
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
    case CURLE_PARTIAL_FILE:
    // The connection died after a request that may not be sent twice went out on it.
    case CURLE_SEND_FAIL_REWIND: return kURLErrorNetworkConnectionLost;
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

// Inflate streams let go by decoded bodies, kept for the next ones on the same thread: one set up
// afresh allocates its state and, at its first bytes, a window of 32 KiB, most of what a small
// coded answer costs, and large blocks that make the allocator sort its free lists every time.
class KeptInflaters {
 public:
  KeptInflaters() = default;
  KeptInflaters(const KeptInflaters&) = delete;
  KeptInflaters& operator=(const KeptInflaters&) = delete;
  ~KeptInflaters() {
    for (auto& stream : kept_) inflateEnd(stream.get());
    gone() = true;
  }

  static KeptInflaters& ofThisThread() {
    thread_local KeptInflaters kept;
    return kept;
  }
  // Whether this thread's streams went with it: a decoder ended later in the thread's exit ends
  // its stream itself.
  static bool& gone() {
    thread_local bool ended = false;
    return ended;
  }

  // A stream ready for a new body of these window bits (their sign and size say the wrapping);
  // nothing when zlib cannot set one up.
  std::unique_ptr<z_stream> take(int windowBits) {
    while (!kept_.empty()) {
      auto stream = std::move(kept_.back());
      kept_.pop_back();
      if (inflateReset2(stream.get(), windowBits) == Z_OK) return stream;
      inflateEnd(stream.get());
    }
    auto stream = std::make_unique<z_stream>();
    if (inflateInit2(stream.get(), windowBits) != Z_OK) return nullptr;
    return stream;
  }

  // Whatever state it was left in: the next take resets it.
  void give(std::unique_ptr<z_stream> stream) {
    if (kept_.size() < kKept) {
      kept_.push_back(std::move(stream));
    } else {
      inflateEnd(stream.get());
    }
  }

 private:
  // As many as one thread's exchanges decode at once, about.
  static constexpr std::size_t kKept = 8;
  std::vector<std::unique_ptr<z_stream>> kept_;
};

// Inflates one gzip or deflate layer of a body as it arrives and knows whether the coded stream
// ended whole.
class BodyDecoder {
 public:
  enum class Kind { Gzip, Deflate };
  using Sink = std::function<bool(const std::uint8_t* bytes, std::size_t size)>;
  explicit BodyDecoder(Kind kind) : kind_(kind) {
    stream_ = KeptInflaters::ofThisThread().take(kind == Kind::Gzip ? 16 + MAX_WBITS : MAX_WBITS);
    if (!stream_) failed_ = true;
  }
  ~BodyDecoder() {
    if (!stream_) return;
    if (KeptInflaters::gone()) {
      inflateEnd(stream_.get());
    } else {
      KeptInflaters::ofThisThread().give(std::move(stream_));
    }
  }
  BodyDecoder(const BodyDecoder&) = delete;
  BodyDecoder& operator=(const BodyDecoder&) = delete;

  // Hands the decoded bytes to the sink a buffer at a time. False on a damaged stream (a wrong
  // check sum included) or when the sink refuses.
  bool feed(const std::uint8_t* bytes, std::size_t size, const Sink& sink) {
    if (failed_) return false;
    if (size) sawInput_ = true;
    if (kind_ == Kind::Deflate && !started_ && head_.size() + size < 2) {
      // Whether a deflate body has the zlib wrapper shows only in its first two bytes: a body
      // that arrives a byte at a time waits for the second before the choice.
      head_.insert(head_.end(), bytes, bytes + size);
      return true;
    }
    if (!head_.empty()) {
      head_.insert(head_.end(), bytes, bytes + size);
      std::vector<std::uint8_t> joined = std::move(head_);
      head_.clear();
      return feed(joined.data(), joined.size(), sink);
    }
    z_stream& stream = *stream_;
    stream.next_in = const_cast<Bytef*>(bytes);
    stream.avail_in = static_cast<uInt>(size);
    std::uint8_t buffer[16384];
    // Inflate may hold decoded bytes back when the buffer fills, even after it took the last
    // input byte: it is asked again until it leaves room in the buffer, so none stays behind.
    bool full = false;
    while (stream.avail_in > 0 || full) {
      if (ended_) {
        if (stream.avail_in == 0) break;
        // gzip allows several members one after another; anything else after the end is junk.
        if (kind_ != Kind::Gzip || inflateReset(&stream) != Z_OK) return fail();
        ended_ = false;
      }
      stream.next_out = buffer;
      stream.avail_out = sizeof buffer;
      int rc = inflate(&stream, Z_NO_FLUSH);
      if (rc == Z_DATA_ERROR && kind_ == Kind::Deflate && !started_) {
        // Many servers send "deflate" as a raw stream without the zlib wrapper.
        if (inflateReset2(&stream, -MAX_WBITS) != Z_OK) return fail();
        stream.next_in = const_cast<Bytef*>(bytes);
        stream.avail_in = static_cast<uInt>(size);
        started_ = true;
        continue;
      }
      if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) return fail();
      started_ = true;
      std::size_t produced = sizeof buffer - stream.avail_out;
      if (produced && !sink(buffer, produced)) return fail();
      if (rc == Z_STREAM_END) ended_ = true;
      if (rc == Z_BUF_ERROR && produced == 0) break;
      full = stream.avail_out == 0;
    }
    return true;
  }

  // Whole when it ended, or when no body came at all (a HEAD, a 304).
  bool complete() const { return ended_ || !sawInput_; }
  bool failed() const { return failed_; }

 private:
  bool fail() {
    failed_ = true;
    return false;
  }
  Kind kind_;
  std::unique_ptr<z_stream> stream_;  // null when zlib could not set one up
  bool failed_ = false;
  bool ended_ = false;
  bool sawInput_ = false;
  bool started_ = false;
  std::vector<std::uint8_t> head_;  // a deflate body's first byte, until the second comes
};

// The codings every request offers unless it names its own. Offering every coding libcurl knows
// would let a server pick one whose setting up costs more than a small answer saves.
constexpr const char* kAcceptedCodings = "Accept-Encoding: gzip, deflate";

// Kept-alive connections a multi handle keeps across all hosts once their exchanges are done: at
// least as many as a client's queue runs at once (one per core) with picture loads beside them,
// so that no round of requests closes the connections the last one used and connects anew.
const long kCachedConnections = std::max(16L, 2L * static_cast<long>(std::thread::hardware_concurrency()));

// Easy handles of finished exchanges, kept for the next ones: making one is a good part of what a
// small request costs the thread that starts it. Connections stay with the multi handle, so a
// reused handle carries nothing of its last exchange but the options set on it. A handle goes
// back reset, unless its exchange was a plain one (see Transfer::isPlain): then it keeps the
// options every plain exchange sets alike, and its header lines, and the next plain exchange sets
// only its own (the URL, the method, where the events go; the header lines when they differ). A
// reset would throw away the handle's receive buffer too, and a plain exchange would pay for a new
// one as well as for setting every option again.
class HandlePool {
 public:
  struct Handle {
    CURL* easy = nullptr;
    bool plain = false;             // set up for a plain exchange, not reset since
    curl_slist* lines = nullptr;    // of a plain handle: the header lines it was last given
  };

  static Handle take() {
    {
      std::lock_guard<std::mutex> lock(mutex());
      auto& free = handles();
      if (!free.empty()) {
        Handle handle = free.back();
        free.pop_back();
        return handle;
      }
    }
    return {curl_easy_init(), false, nullptr};
  }

  // `plain`: the handle's last exchange was a plain one and it keeps that exchange's options and
  // its header lines `lines` (which the pool takes). Otherwise there are no lines to keep.
  static void give(CURL* easy, bool plain = false, curl_slist* lines = nullptr) {
    if (!easy) return;
    if (plain) {
      // Nothing of the exchange that is gone stays reachable from the handle.
      curl_easy_setopt(easy, CURLOPT_HEADERDATA, nullptr);
      curl_easy_setopt(easy, CURLOPT_WRITEDATA, nullptr);
    } else {
      curl_easy_reset(easy);
    }
    {
      std::lock_guard<std::mutex> lock(mutex());
      if (handles().size() < kKept) {
        handles().push_back({easy, plain, lines});
        return;
      }
    }
    curl_easy_cleanup(easy);
    curl_slist_free_all(lines);
  }

 private:
  static constexpr std::size_t kKept = 32;
  static std::mutex& mutex() {
    static auto* m = new std::mutex;
    return *m;
  }
  // Never destroyed, as the worker is not: exchanges may end during exit.
  static std::vector<Handle>& handles() {
    static auto* v = new std::vector<Handle>;
    return *v;
  }
};

// One exchange. Set up on the starting thread, then driven by the worker only.
class Transfer {
 public:
  Transfer(const URLRequest& request, const URLTransportOptions& options, std::shared_ptr<URLTransportClient> client)
      : request_(request),
        options_(options),
        client_(std::move(client)),
        // A client that sleeps until the end takes nothing before it: only the bound holds there.
        window_(options.blocking ? nullptr : options.receiveWindow) {}

  ~Transfer() {
    HandlePool::give(easy_);  // never added, or already out of the multi handle
    curl_slist_free_all(headerList_);
    curl_slist_free_all(keptLines_);
    curl_slist_free_all(connectTo_);
  }

  // False after reporting the failure.
  bool setUp() {
    HandlePool::Handle handle = HandlePool::take();
    easy_ = handle.easy;
    // The kept lines are this exchange's from here, freed with it however its setting up ends.
    keptLines_ = handle.lines;
    if (!easy_) {
      fail(kURLErrorUnknown, "The transfer could not be set up.");
      return false;
    }
    // Read beside the system's authorities. A connection made while they were trusted carries
    // them in its settings, so an exchange started without them never rides on it.
    authorities_ = CertificateTrust::trustedAuthorities();
    std::optional<std::string> connectTo;
    if (!route(connectTo)) return false;
    plain_ = isPlain() && !connectTo;
    // A handle kept from a plain exchange has only to be told this one's own settings; any other
    // exchange starts from a reset one.
    const bool primed = handle.plain && plain_;
    if (!primed) {
      if (handle.plain) curl_easy_reset(easy_);
      curl_slist_free_all(std::exchange(keptLines_, nullptr));
    }
    if (connectTo) {
      connectTo_ = curl_slist_append(connectTo_, connectTo->c_str());
      curl_easy_setopt(easy_, CURLOPT_CONNECT_TO, connectTo_);
      // A proxy from the environment would be asked for the real host instead.
      curl_easy_setopt(easy_, CURLOPT_PROXY, "");
    }
    configure(primed);
    return true;
  }

  CURL* easy() const { return easy_; }

  // True for the first cancel of an exchange still under way: the worker must then drop it. Takes
  // the event lock, so once it returns no event follows; the lock is recursive so a client may
  // cancel from inside one of its own events.
  bool cancel() {
    std::lock_guard<std::recursive_mutex> lock(eventMutex_);
    if (cancelled_) return false;
    cancelled_ = true;
    // After its last event the worker takes the exchange out by itself: waking it for that costs
    // every request a round on the worker.
    return !ended_;
  }

  bool isCancelled() {
    std::lock_guard<std::recursive_mutex> lock(eventMutex_);
    return cancelled_;
  }

  void touch() { lastActivity_ = SteadyClock::now(); }

  // Time left before the inactivity limit; absent without a limit, and while the exchange waits
  // for its caller to take what it was handed (the peer is not what is slow then).
  std::optional<SteadyClock::duration> timeLeft() const {
    double timeout = request_.timeoutInterval();
    if (timeout <= 0 || (window_ && window_->waiting())) return std::nullopt;
    auto limit = std::chrono::duration_cast<SteadyClock::duration>(std::chrono::duration<double>(timeout));
    return limit - (SteadyClock::now() - lastActivity_.load());
  }

  void finish(CURLcode result) {
    clean_ = result == CURLE_OK;
    if (!tooLarge_) flushReply();
    if (tooLarge_) {
      fail(kURLErrorDataLengthExceedsMaximum, "The reply is larger than " + std::to_string(request_.maximumReplyLength()) +
                                                  " bytes, the most this load takes.");
    } else if (badResponse_) {
      fail(kURLErrorBadServerResponse, badResponse_);
    } else if (decodersFailed() || (result == CURLE_OK && !decodersComplete())) {
      // A coded body whose end (and check sum) never came, or whose check sum is wrong, is no
      // body, however many bytes its Content-Length promised.
      fail(kURLErrorCannotDecodeContentData, "The coded body of the answer is damaged or cut short.");
    } else if (result == CURLE_OK && gotResponse_) {
      emitLast([](URLTransportClient& c) { c.transportDidFinish(); });
    } else if (result == CURLE_ABORTED_BY_CALLBACK && bodyStreamFailed_) {
      // The caller's body broke off: no cancel of anyone's, and the load did not go through.
      std::string why = "The request's body stream could not be read.";
      if (auto streamError = bodyStream_->streamError()) why += " " + streamError->localizedDescription();
      fail(kURLErrorRequestBodyStreamExhausted, why);
    } else if (result == CURLE_UNSUPPORTED_PROTOCOL && connected()) {
      // The URL was fine (its scheme was checked before); what came back was no HTTP answer.
      fail(kURLErrorBadServerResponse, "The server's answer could not be read.");
    } else if (result == CURLE_OK || result == CURLE_WRITE_ERROR) {
      fail(kURLErrorBadServerResponse, "The server's answer could not be read.");
    } else {
      long osErrno = 0;
      curl_easy_getinfo(easy_, CURLINFO_OS_ERRNO, &osErrno);
      long code = urlErrorForCurl(result, osErrno);
      if (result == CURLE_PEER_FAILED_VERIFICATION) {
        long verify = X509_V_OK;
        curl_easy_getinfo(easy_, CURLINFO_SSL_VERIFYRESULT, &verify);
        if (verify == X509_V_ERR_CERT_HAS_EXPIRED || verify == X509_V_ERR_CERT_NOT_YET_VALID)
          code = kURLErrorServerCertificateHasBadDate;
      }
      fail(code, curl_easy_strerror(result));
    }
  }

  void fail(long code, const std::string& description) {
    Error error = makeURLError(code, request_.url(), description);
    emitLast([&](URLTransportClient& c) { c.transportDidFail(error); });
  }

  // Called by the worker once the easy handle is out of the multi handle. Only a handle whose
  // exchange ran to its end goes back to the pool: one that failed or was dropped midway may keep
  // state of it past the reset (under load a POST on such a handle was failed as lost, unsent,
  // right after connecting).
  void releaseHandle() {
    if (clean_) HandlePool::give(easy_, plain_, plain_ ? std::exchange(headerList_, nullptr) : nullptr);
    else curl_easy_cleanup(easy_);
    easy_ = nullptr;
  }

  // Left to libcurl as it is, never reused: the process is exiting with the exchange under way.
  void abandonHandle() { easy_ = nullptr; }

 private:
  // Events go out under a lock that cancel also takes, so once cancel has returned none follows.
  template <class F>
  void emit(F&& f) {
    std::lock_guard<std::recursive_mutex> lock(eventMutex_);
    if (!cancelled_) f(*client_);
  }

  // The finish or failure, the exchange's last event.
  template <class F>
  void emitLast(F&& f) {
    std::lock_guard<std::recursive_mutex> lock(eventMutex_);
    ended_ = true;
    if (!cancelled_) f(*client_);
  }

  static size_t onHeader(char* data, size_t size, size_t n, void* self) {
    auto* t = static_cast<Transfer*>(self);
    std::string_view line(data, size * n);
    t->touch();
    if (line.rfind("HTTP/", 0) == 0) {
      t->headers_.clear();
      t->receivedFields_.clear();
      t->repeatedField_ = false;
      t->contentLength_.reset();
      t->status_ = readStatus(line);
      if (t->status_ == 0) {
        t->badResponse_ = "The server's status line could not be read.";
        return 0;
      }
      return size * n;
    }
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    if (line.empty()) {
      if (t->status_ >= 200 || t->status_ == 0) {
        if (t->status_ == 0) return 0;  // no status line: not HTTP we can read
        t->startDecoders();
        char* effective = nullptr;
        curl_easy_getinfo(t->easy_, CURLINFO_EFFECTIVE_URL, &effective);
        // The exchange has no further use for the head's fields: they go to the answer.
        HTTPURLResponse response(effective ? effective : t->request_.url(), static_cast<int>(t->status_),
                                 std::exchange(t->headers_, {}));
        if (t->repeatedField_) {
          response.setReceivedFields(std::exchange(t->receivedFields_, {}));
        } else {
          response.setReceivedFieldsAsListed();
        }
        t->gotResponse_ = true;
        // The last body bytes may have gone out since the progress callback last ran; their
        // report comes before the answer.
        curl_off_t sent = 0;
        if (curl_easy_getinfo(t->easy_, CURLINFO_SIZE_UPLOAD_T, &sent) == CURLE_OK) t->reportUpload(sent);
        t->emit([&](URLTransportClient& c) { c.transportDidReceiveResponse(response); });
        if (t->announcedTooLarge()) {
          t->tooLarge_ = true;
          return 0;
        }
      }
      return size * n;
    }
    if (auto field = HTTPHeaderFields::parseLine(line)) {
      auto& [name, value] = *field;
      if (HTTPHeaderFields::namesEqual(name, "Content-Length") && !t->agreeOnLength(value)) {
        // Two lengths for one body: which bytes belong to it is anyone's guess.
        t->badResponse_ = "The server's answer gives conflicting lengths.";
        return 0;
      }
      // Each line is kept apart only once a name comes twice: until then the fields are the lines.
      if (!t->repeatedField_ && t->headers_.contains(name)) {
        t->repeatedField_ = true;
        t->receivedFields_ = t->headers_.fields();
      }
      if (t->repeatedField_) {
        t->headers_.add(name, value);
        t->receivedFields_.push_back(std::move(*field));
      } else {
        t->headers_.add(std::move(*field));
      }
    }
    return size * n;
  }

  // A body whose stated length is past the bound need not be read to know it is too large. A coded
  // one's length says nothing of what it decodes to; HEAD, 204 and 304 answers carry no body.
  bool announcedTooLarge() const {
    if (!contentLength_ || !decoders_.empty() || status_ == 204 || status_ == 304 || request_.HTTPMethod() == "HEAD")
      return false;
    return *contentLength_ > request_.maximumReplyLength();
  }

  // The status code of "HTTP/x.y NNN reason": three digits from 100 to 599, else 0.
  static long readStatus(std::string_view line) {
    std::size_t sp = line.find(' ');
    if (sp == std::string_view::npos || line.size() < sp + 4) return 0;
    std::string_view digits = line.substr(sp + 1, 3);
    if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) return 0;
    if (line.size() > sp + 4 && line[sp + 4] != ' ' && line[sp + 4] != '\r' && line[sp + 4] != '\n') return 0;
    long status = (digits[0] - '0') * 100 + (digits[1] - '0') * 10 + (digits[2] - '0');
    return status >= 100 && status <= 599 ? status : 0;
  }

  // False when a Content-Length value (or one of a comma-separated list) is unreadable or differs
  // from one seen before in the same answer.
  bool agreeOnLength(std::string_view value) {
    std::size_t start = 0;
    while (start <= value.size()) {
      std::size_t comma = value.find(',', start);
      std::string_view piece = value.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
      while (!piece.empty() && piece.front() == ' ') piece.remove_prefix(1);
      while (!piece.empty() && piece.back() == ' ') piece.remove_suffix(1);
      unsigned long long length = 0;
      auto [end, ec] = std::from_chars(piece.data(), piece.data() + piece.size(), length);
      if (piece.empty() || ec != std::errc() || end != piece.data() + piece.size()) return false;
      if (contentLength_ && *contentLength_ != length) return false;
      contentLength_ = length;
      if (comma == std::string_view::npos) break;
      start = comma + 1;
    }
    return true;
  }

  // libcurl's own decoding takes a gzip body cut short at its trailer for a whole one, so the body
  // is decoded here, where the end of each coded stream and its check sum are seen. Codings apply
  // in the order listed, so they come off last first. A coding this side does not know leaves the
  // whole body as it came, as the platform does: the caller's own format (an enciphered upload
  // answer, say) undoes it, where failing the load would make every such answer a lost one.
  void startDecoders() {
    decoders_.clear();
    std::string list = headers_.value("Content-Encoding").value_or("");
    std::size_t start = 0;
    while (start <= list.size()) {
      std::size_t comma = list.find(',', start);
      std::string name;
      for (char c : list.substr(start, comma == std::string::npos ? std::string::npos : comma - start))
        if (c != ' ' && c != '\t') name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (name == "gzip" || name == "x-gzip")
        decoders_.insert(decoders_.begin(), std::make_unique<BodyDecoder>(BodyDecoder::Kind::Gzip));
      else if (name == "deflate")
        decoders_.insert(decoders_.begin(), std::make_unique<BodyDecoder>(BodyDecoder::Kind::Deflate));
      else if (!name.empty() && name != "identity") {
        decoders_.clear();
        return;
      }
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
  }

  // Passes bytes through the decoders from layer `layer` on; the last hands them to the client.
  bool decode(std::size_t layer, const std::uint8_t* bytes, std::size_t size) {
    if (layer == decoders_.size()) return keep(bytes, size);
    if (tooLarge_) return false;
    return decoders_[layer]->feed(bytes, size,
                                  [&](const std::uint8_t* out, std::size_t n) { return decode(layer + 1, out, n); });
  }

  // Decoded body bytes, counted against the request's bound and gathered into one hand-over per
  // pass over the sockets (or per kCoalesce bytes): a reply sent in tiny pieces is not handed
  // over piece by piece. False once past the bound.
  bool keep(const std::uint8_t* bytes, std::size_t size) {
    if (size > request_.maximumReplyLength() - bodyBytes_) {
      tooLarge_ = true;
      return false;
    }
    bodyBytes_ += size;
    outbox_.insert(outbox_.end(), bytes, bytes + size);
    if (outbox_.size() >= kCoalesce) flushReply();
    return true;
  }

 public:
  // Hands what was gathered to the client, charged to the window.
  void flushReply() {
    if (outbox_.empty()) return;
    Data chunk = std::exchange(outbox_, {});
    emit([&](URLTransportClient& c) {
      if (window_) window_->handedOver(URLReceiveWindow::charge(chunk.size()));
      c.transportDidReceiveData(std::move(chunk));
    });
  }

  bool hasReplyToFlush() const { return !outbox_.empty(); }

  // The caller took enough of what it was handed: the exchange reads on, from what was left
  // undecoded first. On the driving thread, with the handle in its multi handle. False when the
  // exchange ended on it.
  bool resumeReading() {
    touch();
    if (!undecoded_.empty()) {
      Data rest = std::exchange(undecoded_, {});
      if (!decodeInSlices(rest.data(), rest.size())) return false;
      if (!undecoded_.empty()) return true;  // the window filled again: libcurl stays paused
    }
    CURLcode rc = curl_easy_pause(easy_, CURLPAUSE_CONT);
    return rc == CURLE_OK;
  }

 private:
  // libcurl's own read size: a body read in full buffers is handed over as before, one per read.
  static constexpr std::size_t kCoalesce = CURL_MAX_WRITE_SIZE;
  // A coded body's bytes decoded at a time when a window is kept: inflating may multiply them a
  // thousandfold, so a whole read at once could hand over many times the window before it waits.
  // Slices are cut in the outer coding only: a body coded twice over may run ahead by what one
  // slice inflates to through both, which the reply bound still caps.
  static constexpr std::size_t kCodedSlice = 1024;

  // Decodes a slice at a time; once the window is full the rest waits in undecoded_, libcurl
  // paused, until the caller took enough. False when the body is refused (past the bound, damaged).
  bool decodeInSlices(const std::uint8_t* bytes, std::size_t size) {
    for (std::size_t at = 0; at < size;) {
      std::size_t slice = std::min(kCodedSlice, size - at);
      if (!decode(0, bytes + at, slice)) return false;
      at += slice;
      if (at < size && window_->full()) {
        undecoded_.assign(bytes + at, bytes + size);
        curl_easy_pause(easy_, CURLPAUSE_RECV);
        return true;
      }
    }
    return true;
  }

  bool decodersFailed() const {
    return std::any_of(decoders_.begin(), decoders_.end(), [](const auto& d) { return d->failed(); });
  }
  bool decodersComplete() const {
    return std::all_of(decoders_.begin(), decoders_.end(), [](const auto& d) { return d->complete(); });
  }

  // Whether a connection to the server was made at all.
  bool connected() {
    char* ip = nullptr;
    return curl_easy_getinfo(easy_, CURLINFO_PRIMARY_IP, &ip) == CURLE_OK && ip && *ip;
  }

  static size_t onWrite(char* data, size_t size, size_t n, void* self) {
    auto* t = static_cast<Transfer*>(self);
    // The caller has yet to take what it was handed: these bytes stay with libcurl, which reads
    // no more of the socket (the peer waits in it), until the window opens again.
    if (t->window_ && (!t->undecoded_.empty() || t->window_->full())) return CURL_WRITEFUNC_PAUSE;
    t->touch();
    const auto* bytes = reinterpret_cast<std::uint8_t*>(data);
    if (t->window_ && !t->decoders_.empty()) return t->decodeInSlices(bytes, size * n) ? size * n : 0;
    return t->decode(0, bytes, size * n) ? size * n : 0;
  }

  static size_t onRead(char* buffer, size_t size, size_t n, void* self) {
    auto* t = static_cast<Transfer*>(self);
    t->touch();
    std::size_t max = size * n;
    if (t->bodyStream_) {
      long got = t->bodyStream_->read(reinterpret_cast<std::uint8_t*>(buffer), max);
      if (got < 0) {
        t->bodyStreamFailed_ = true;
        return CURL_READFUNC_ABORT;
      }
      t->bodyStreamRead_ = t->bodyStreamRead_ || got > 0;
      return static_cast<size_t>(got);
    }
    const Data& body = t->request_.HTTPBody();
    std::size_t count = std::min(max, body.size() - t->bodyOffset_);
    if (count) std::memcpy(buffer, body.data() + t->bodyOffset_, count);
    t->bodyOffset_ += count;
    return count;
  }

  // A request sent on a kept-alive connection the server had meanwhile closed goes again on a
  // fresh one, its body from the start (a stream from a copy, when it was already read). Only an
  // idempotent one: the server may have read and acted on the request before the connection died,
  // so a second POST could post a share or count a report twice. That one fails, and its caller
  // decides.
  static int onSeek(void* self, curl_off_t offset, int origin) {
    auto* t = static_cast<Transfer*>(self);
    if (offset != 0 || origin != SEEK_SET || !t->resendable_) return CURL_SEEKFUNC_CANTSEEK;
    if (t->bodyStream_ && t->bodyStreamRead_) {
      std::shared_ptr<InputStream> fresh = t->bodyStream_->copyStream();
      if (!fresh) return CURL_SEEKFUNC_CANTSEEK;
      if (fresh->streamStatus() == StreamStatus::NotOpen) fresh->open();
      t->bodyStream_ = std::move(fresh);
      t->bodyStreamRead_ = false;
    }
    t->bodyOffset_ = 0;
    return CURL_SEEKFUNC_OK;
  }

  static int onProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t ulnow) {
    static_cast<Transfer*>(self)->reportUpload(ulnow);
    return 0;
  }

  void reportUpload(curl_off_t now) {
    if (now <= uploaded_) return;
    std::int64_t delta = now - uploaded_;
    uploaded_ = now;
    touch();
    emit([&](URLTransportClient& c) { c.transportDidSendBodyData(delta, now, expectedUpload_); });
  }

  // The host lookup's table decides where a named host's connection goes; the request keeps its
  // URL, so the Host header, the TLS server name and the certificate check still name the host.
  // `connectTo` is set to the handle's entry for that when the host has a route. False after
  // reporting a host the table knows has no address.
  bool route(std::optional<std::string>& connectTo) {
    if (!HostLookup::hasRoutes()) return true;
    auto parts = net::parseURL(request_.url());
    if (!parts) return true;  // libcurl reports the bad URL
    auto target = HostLookup::routeFor(parts->host, parts->port);
    if (!target) return true;
    if (!target->address) {
      fail(kURLErrorCannotFindHost, "A server with the specified hostname could not be found.");
      return false;
    }
    connectTo = parts->host + ":" + std::to_string(parts->port) + ":" + *target->address + ":" +
                std::to_string(target->toPort ? target->toPort : parts->port);
    return true;
  }

  // A GET or HEAD without a body, certificates checked as usual against the system's authorities
  // alone, to a host without a route: what most exchanges are, and all that set the same options
  // but for the URL, the method and the header lines.
  bool isPlain() const {
    const std::string& method = request_.HTTPMethod();
    return (method == "GET" || method == "HEAD") && !request_.HTTPBodyStream() && request_.HTTPBody().empty() &&
           !options_.allowsAnyCertificate && authorities_.empty();
  }

  // `primed`: the handle keeps the options of an earlier plain exchange, and this one is plain.
  void configure(bool primed) {
    const URLRequest& r = request_;
    curl_easy_setopt(easy_, CURLOPT_URL, r.url().c_str());
    curl_easy_setopt(easy_, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this);
    if (!primed) configureCommon();
    const std::string& method = r.HTTPMethod();
    bool hasBody = r.HTTPBodyStream() || !r.HTTPBody().empty();
    if (method == "GET") {
      curl_easy_setopt(easy_, CURLOPT_HTTPGET, 1L);
    } else if (method == "HEAD") {
      curl_easy_setopt(easy_, CURLOPT_NOBODY, 1L);
    } else {
      configureUpload(hasBody);
    }
    configureHeaderLines(hasBody);
  }

  // What every exchange sets alike, and what only an exchange that is not plain sets.
  void configureCommon() {
    curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
    // Head and body of a small request go out without waiting for the previous segment's ACK.
    curl_easy_setopt(easy_, CURLOPT_TCP_NODELAY, 1L);
#if LIBCURL_VERSION_NUM >= 0x075700
    // A cancel during name resolution must not hold the worker until the lookup returns.
    curl_easy_setopt(easy_, CURLOPT_QUICK_EXIT, 1L);
#endif
    curl_easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy_, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
    // The codings offered (see kAcceptedCodings) are decoded by BodyDecoder, which checks the end
    // of the stream; libcurl is told of none, or it would set up a decoder of its own for every
    // coded answer only to leave it unused.
    curl_easy_setopt(easy_, CURLOPT_HTTP_CONTENT_DECODING, 0L);
    curl_easy_setopt(easy_, CURLOPT_NOPROXY, "127.0.0.1,localhost,::1");
    curl_easy_setopt(easy_, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &Transfer::onHeader);
    curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &Transfer::onWrite);
    if (options_.allowsAnyCertificate) {
      curl_easy_setopt(easy_, CURLOPT_SSL_VERIFYPEER, 0L);
      curl_easy_setopt(easy_, CURLOPT_SSL_VERIFYHOST, 0L);
    }
    if (!authorities_.empty()) {
      curl_blob blob{authorities_.data(), authorities_.size(), CURL_BLOB_NOCOPY};
      curl_easy_setopt(easy_, CURLOPT_CAINFO_BLOB, &blob);
    }
  }

  // A method other than GET and HEAD, with or without a body.
  void configureUpload(bool hasBody) {
    const URLRequest& r = request_;
    const std::string& method = r.HTTPMethod();
    if (!hasBody && method != "POST") {
      curl_easy_setopt(easy_, CURLOPT_CUSTOMREQUEST, method.c_str());
      return;
    }
    resendable_ = method == "PUT" || method == "DELETE" || method == "OPTIONS";
    curl_easy_setopt(easy_, CURLOPT_POST, 1L);
    curl_easy_setopt(easy_, CURLOPT_READFUNCTION, &Transfer::onRead);
    curl_easy_setopt(easy_, CURLOPT_READDATA, this);
    curl_easy_setopt(easy_, CURLOPT_SEEKFUNCTION, &Transfer::onSeek);
    curl_easy_setopt(easy_, CURLOPT_SEEKDATA, this);
    // Progress is only asked for where there is a body to report on: libcurl calls it many times
    // in every exchange.
    curl_easy_setopt(easy_, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy_, CURLOPT_XFERINFOFUNCTION, &Transfer::onProgress);
    curl_easy_setopt(easy_, CURLOPT_XFERINFODATA, this);
    if (r.HTTPBodyStream()) {
      bodyStream_ = r.HTTPBodyStream();
      if (bodyStream_->streamStatus() == StreamStatus::NotOpen) bodyStream_->open();
      // A request that died on a reused connection goes again from the start of its body, and a
      // stream may not be readable twice: it goes on a connection of its own, never retried.
      curl_easy_setopt(easy_, CURLOPT_FRESH_CONNECT, 1L);
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
  }

  // The request's header lines as libcurl takes them, each as `line(name, separator, value)`.
  template <class F>
  void forEachHeaderLine(bool hasBody, F&& line) const {
    bool hasExpect = false, hasCodings = false;
    for (const auto& [name, value] : request_.allHTTPHeaderFields()) {
      // The length of a body is libcurl's to write; a stale one would corrupt the exchange.
      if (HTTPHeaderFields::namesEqual(name, "Content-Length")) continue;
      if (HTTPHeaderFields::namesEqual(name, "Expect")) hasExpect = true;
      if (HTTPHeaderFields::namesEqual(name, "Accept-Encoding")) hasCodings = true;
      if (value.empty()) {
        line(name, ";", "");
      } else {
        line(name, ": ", value);
      }
    }
    // What the platform's loader accepts, unless the request names its own.
    if (!hasCodings) line(kAcceptedCodings, "", "");
    // No waiting for a "100 Continue" before the body (libcurl asks for one only when there is a
    // body to send).
    if (!hasExpect && hasBody) line("Expect:", "", "");
  }

  void configureHeaderLines(bool hasBody) {
    // A kept handle's lines serve again when they are this request's: a client's requests mostly
    // carry the same few.
    if (keptLines_) {
      const curl_slist* kept = keptLines_;
      bool same = true;
      forEachHeaderLine(hasBody, [&](std::string_view name, std::string_view separator, std::string_view value) {
        if (!same) return;
        if (!kept) {
          same = false;
          return;
        }
        std::string_view line(kept->data);
        same = line.size() == name.size() + separator.size() + value.size() && line.substr(0, name.size()) == name &&
               line.substr(name.size(), separator.size()) == separator && line.substr(name.size() + separator.size()) == value;
        kept = kept->next;
      });
      if (same && !kept) {
        // Still the handle's lines (a plain handle keeps them set).
        headerList_ = std::exchange(keptLines_, nullptr);
        return;
      }
      curl_slist_free_all(std::exchange(keptLines_, nullptr));
    }
    std::string text;
    forEachHeaderLine(hasBody, [&](std::string_view name, std::string_view separator, std::string_view value) {
      text.assign(name).append(separator).append(value);
      headerList_ = curl_slist_append(headerList_, text.c_str());
    });
    curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, headerList_);
  }

  URLRequest request_;
  URLTransportOptions options_;
  std::shared_ptr<URLTransportClient> client_;
  CURL* easy_ = nullptr;
  curl_slist* headerList_ = nullptr;
  curl_slist* keptLines_ = nullptr;  // the lines a kept handle came with, until this one's are known
  curl_slist* connectTo_ = nullptr;
  std::string authorities_;
  std::shared_ptr<InputStream> bodyStream_;
  bool bodyStreamRead_ = false;
  bool bodyStreamFailed_ = false;  // a read of the body stream failed, which aborted the exchange
  bool resendable_ = false;  // the method may be sent again when its connection dies unanswered
  bool plain_ = false;       // see isPlain; its handle goes back to the pool without a reset
  std::size_t bodyOffset_ = 0;
  std::int64_t expectedUpload_ = -1;
  curl_off_t uploaded_ = 0;
  long status_ = 0;
  HTTPHeaderFields headers_;
  std::vector<HTTPHeaderFields::Field> receivedFields_;  // once a name came twice: every line apart
  bool repeatedField_ = false;
  std::optional<unsigned long long> contentLength_;
  const char* badResponse_ = nullptr;
  std::vector<std::unique_ptr<BodyDecoder>> decoders_;
  bool gotResponse_ = false;
  std::shared_ptr<URLReceiveWindow> window_;
  Data outbox_;              // decoded, not yet handed over
  Data undecoded_;           // of a coded body, taken from libcurl while the window filled
  std::size_t bodyBytes_ = 0;  // decoded body bytes so far
  bool tooLarge_ = false;      // the body went past the request's bound
  bool clean_ = false;  // libcurl ended the exchange without an error
  std::atomic<SteadyClock::time_point> lastActivity_{SteadyClock::now()};
  std::recursive_mutex eventMutex_;
  bool cancelled_ = false;
  bool ended_ = false;  // the last event went out (or would have, but for a cancel)
};

// Runs exchanges on one run loop, whose thread alone touches its multi handle and the easy
// handles added to it: their sockets are sources of the loop, and libcurl's timer and the
// exchanges' inactivity limits share one timer descriptor among them. Connections and resolved
// names stay in the multi handle's cache between exchanges, so requests to the same host reuse a
// kept-alive connection and no thread is made per request. start and cancel from other threads
// only queue a command and post to the loop, so a cancel never waits for it.
//
// The process has one driver on a thread of its own; a connection whose thread does nothing but
// run its loop may have its exchanges driven there instead, which spares each request the
// hand-overs to that thread and back. At process exit every driver is stopped (its exchanges
// dropped without events) so none is inside the TLS library while that cleans up.
class Driver {
 public:
  // On the loop's thread. Never destroyed while the loop lives.
  static std::shared_ptr<Driver> make(const std::shared_ptr<RunLoop>& loop) {
    auto driver = std::shared_ptr<Driver>(new Driver(loop));
    registerForExit(driver);
    return driver;
  }

  ~Driver() {
    // Only a driver whose loop is gone is destroyed: nothing can run it any more.
    std::lock_guard<std::recursive_timed_mutex> lock(curlMutex_);
    if (stopping_) return;
    // The loop's sources went with it.
    curl_multi_setopt(multi_, CURLMOPT_SOCKETFUNCTION, nullptr);
    curl_multi_setopt(multi_, CURLMOPT_TIMERFUNCTION, nullptr);
    while (!active_.empty()) detach(active_.begin());
    curl_multi_cleanup(multi_);
    ::close(timerFd_);
  }

  // False once the process is exiting.
  bool add(std::shared_ptr<Transfer> transfer) { return command(Command{std::move(transfer), Command::Add}); }
  void remove(std::shared_ptr<Transfer> transfer) { command(Command{std::move(transfer), Command::Remove}); }
  // Its caller took what it was handed: the exchange reads on.
  void resume(std::shared_ptr<Transfer> transfer) { command(Command{std::move(transfer), Command::Resume}); }

  // After this no libcurl call is made here. A loop stuck in a client's event is left behind
  // rather than hanging the exit.
  void stop() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    bool out = curlMutex_.try_lock_for(std::chrono::seconds(2));
    stopped_ = true;
    if (out) curlMutex_.unlock();
  }

  bool isFor(const RunLoop* loop) const { return loop_ == loop; }

 private:
  struct Command {
    std::shared_ptr<Transfer> transfer;
    enum Kind { Add, Remove, Resume } kind;
  };

  explicit Driver(const std::shared_ptr<RunLoop>& loop)
      : loop_(loop.get()), weakLoop_(loop), thread_(std::this_thread::get_id()) {
    globalInit();
    multi_ = curl_multi_init();
    curl_multi_setopt(multi_, CURLMOPT_MAXCONNECTS, kCachedConnections);
    curl_multi_setopt(multi_, CURLMOPT_SOCKETFUNCTION, &Driver::onSocket);
    curl_multi_setopt(multi_, CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(multi_, CURLMOPT_TIMERFUNCTION, &Driver::onTimer);
    curl_multi_setopt(multi_, CURLMOPT_TIMERDATA, this);
    timerFd_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    loop->addSource(timerFd_, RunLoop::kReadable, [this](int, unsigned) {
      std::uint64_t expirations;
      [[maybe_unused]] auto n = ::read(timerFd_, &expirations, sizeof expirations);
      armed_.reset();
      // On the next pass, after the sockets found ready with the timer: an answer that waited in
      // a socket while the loop was busy is no inactivity.
      loop_->post([this] { enter([this] { serviceTimers(); }); });
    });
  }

  // Registered after the TLS library's own exit handler (curl_global_init ran first), so it runs
  // before that one.
  static void registerForExit(std::shared_ptr<Driver> driver) {
    static std::once_flag once;
    std::call_once(once, [] {
      std::atexit([] {
        std::vector<std::shared_ptr<Driver>> all;
        {
          std::lock_guard<std::mutex> lock(registryMutex());
          all = registry();
        }
        for (auto& d : all) d->stop();
      });
    });
    std::lock_guard<std::mutex> lock(registryMutex());
    registry().push_back(std::move(driver));
  }

  bool command(Command c) {
    bool post;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_) return false;
      commands_.push_back(std::move(c));
      // On the loop's thread, outside libcurl and our own handling, the command is applied at
      // once; otherwise commands that find others waiting ride on the post those made.
      if (std::this_thread::get_id() == thread_ && !busy_) {
        post = false;
      } else {
        post = commands_.size() == 1;
        if (!post) return true;
      }
    }
    if (!post) {
      enter([this] { applyCommands(); });
      return true;
    }
    if (auto loop = weakLoop_.lock()) loop->post([this] { enter([this] { applyCommands(); }); });
    return true;
  }

  // Every entry from the loop: under the lock that exit takes, never after the stop, then libcurl's
  // requests to run its timeouts at once and the timer descriptor set for what is left.
  template <class F>
  void enter(F&& f) {
    std::lock_guard<std::recursive_timed_mutex> lock(curlMutex_);
    if (stopped_) return;
    busy_ = true;
    f();
    while (kick_) {
      kick_ = false;
      socketAction(CURL_SOCKET_TIMEOUT, 0);
    }
    // What the pass read goes to the callers, one hand-over per exchange.
    for (auto& [easy, transfer] : active_)
      if (transfer->hasReplyToFlush()) transfer->flushReply();
    rearm();
    busy_ = false;
  }

  void applyCommands() {
    std::vector<Command> commands;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      commands.swap(commands_);
    }
    for (auto& c : commands) {
      if (c.kind == Command::Remove) {
        auto it = active_.find(c.transfer->easy());
        if (it != active_.end() && it->second == c.transfer) detach(it);
        continue;
      }
      if (c.kind == Command::Resume) {
        auto it = active_.find(c.transfer->easy());
        if (it == active_.end() || it->second != c.transfer) continue;
        c.transfer->touch();
        if (auto left = c.transfer->timeLeft()) earliest(inactivityDue_, SteadyClock::now() + *left);
        // The bytes libcurl kept may be refused on the way (the bound): the exchange ends here.
        if (!c.transfer->resumeReading()) {
          c.transfer->finish(CURLE_WRITE_ERROR);
          if ((it = active_.find(c.transfer->easy())) != active_.end()) detach(it);
        }
        continue;
      }
      if (c.transfer->isCancelled()) continue;
      if (curl_multi_add_handle(multi_, c.transfer->easy()) != CURLM_OK) {
        c.transfer->fail(kURLErrorUnknown, "The transfer could not be set up.");
        continue;
      }
      c.transfer->touch();
      if (auto left = c.transfer->timeLeft()) earliest(inactivityDue_, SteadyClock::now() + *left);
      active_.emplace(c.transfer->easy(), std::move(c.transfer));
    }
  }

  void socketAction(curl_socket_t socket, int events) {
    int running = 0;
    curl_multi_socket_action(multi_, socket, events, &running);
    int queued = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi_, &queued)) {
      if (msg->msg != CURLMSG_DONE) continue;
      CURL* easy = msg->easy_handle;
      CURLcode result = msg->data.result;
      auto it = active_.find(easy);
      if (it == active_.end()) continue;
      auto transfer = it->second;
      transfer->finish(result);
      if ((it = active_.find(easy)) != active_.end()) detach(it);
    }
  }

  void serviceTimers() {
    auto now = SteadyClock::now();
    if (curlDue_ && *curlDue_ <= now) {
      curlDue_.reset();
      socketAction(CURL_SOCKET_TIMEOUT, 0);
    }
    if (inactivityDue_ && *inactivityDue_ <= now) enforceTimeouts();
  }

  // Ends exchanges past their inactivity limit and notes when the next one may be due. Activity
  // only moves a limit later, so between checks the noted time is early, never late.
  void enforceTimeouts() {
    inactivityDue_.reset();
    for (auto it = active_.begin(); it != active_.end();) {
      auto left = it->second->timeLeft();
      if (left && *left <= SteadyClock::duration::zero()) {
        auto transfer = it->second;
        ++it;
        transfer->fail(kURLErrorTimedOut, "The request timed out.");
        auto at = active_.find(transfer->easy());
        if (at != active_.end()) detach(at);
        continue;
      }
      if (left) earliest(inactivityDue_, SteadyClock::now() + *left);
      ++it;
    }
  }

  static void earliest(std::optional<SteadyClock::time_point>& due, SteadyClock::time_point at) {
    if (!due || at < *due) due = at;
  }

  // The timer descriptor set for the earlier of libcurl's timeout and the next inactivity limit;
  // left alone when that did not change.
  void rearm() {
    std::optional<SteadyClock::time_point> due = curlDue_;
    if (inactivityDue_) earliest(due, *inactivityDue_);
    if (due == armed_) return;
    armed_ = due;
    itimerspec setting{};
    if (due) {
      auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(due->time_since_epoch()).count();
      // Zero would disarm it.
      if (ns <= 0) ns = 1;
      setting.it_value.tv_sec = static_cast<time_t>(ns / 1000000000);
      setting.it_value.tv_nsec = static_cast<long>(ns % 1000000000);
    }
    ::timerfd_settime(timerFd_, TFD_TIMER_ABSTIME, &setting, nullptr);
  }

  static int onSocket(CURL*, curl_socket_t socket, int what, void* self, void*) {
    auto* d = static_cast<Driver*>(self);
    auto it = d->sockets_.find(socket);
    if (what == CURL_POLL_REMOVE) {
      if (it != d->sockets_.end()) {
        d->loop_->removeSource(it->second);
        d->sockets_.erase(it);
      }
      return 0;
    }
    unsigned events = ((what & CURL_POLL_IN) ? RunLoop::kReadable : 0) | ((what & CURL_POLL_OUT) ? RunLoop::kWritable : 0);
    if (it != d->sockets_.end()) {
      d->loop_->setSourceEvents(it->second, events);
    } else {
      d->sockets_[socket] = d->loop_->addSource(socket, events, [d](int fd, unsigned ready) {
        int mask = ((ready & RunLoop::kReadable) ? CURL_CSELECT_IN : 0) | ((ready & RunLoop::kWritable) ? CURL_CSELECT_OUT : 0);
        d->enter([d, fd, mask] { d->socketAction(fd, mask); });
      });
    }
    return 0;
  }

  static int onTimer(CURLM*, long ms, void* self) {
    auto* d = static_cast<Driver*>(self);
    if (ms < 0) {
      d->curlDue_.reset();
    } else if (ms == 0) {
      // Run by the entry that made libcurl ask, once it is out of libcurl.
      d->curlDue_.reset();
      d->kick_ = true;
    } else {
      d->curlDue_ = SteadyClock::now() + std::chrono::milliseconds(ms);
    }
    return 0;
  }

  void detach(std::unordered_map<CURL*, std::shared_ptr<Transfer>>::iterator it) {
    curl_multi_remove_handle(multi_, it->first);
    it->second->releaseHandle();
    active_.erase(it);
  }

  static std::mutex& registryMutex() {
    static auto* m = new std::mutex;
    return *m;
  }
  // Never destroyed: exchanges may end during exit.
  static std::vector<std::shared_ptr<Driver>>& registry() {
    static auto* v = new std::vector<std::shared_ptr<Driver>>;
    return *v;
  }

  RunLoop* const loop_;  // used on its own thread only, where it is alive
  const std::weak_ptr<RunLoop> weakLoop_;
  const std::thread::id thread_;
  CURLM* multi_ = nullptr;
  int timerFd_ = -1;

  std::mutex mutex_;  // guards commands_, stopping_ and busy_ as seen by other threads
  std::vector<Command> commands_;
  bool stopping_ = false;

  // Held around everything done on the loop, so exit can wait for it to be out of libcurl.
  std::recursive_timed_mutex curlMutex_;
  std::atomic<bool> stopped_{false};
  // The loop's thread only.
  std::atomic<bool> busy_{false};
  bool kick_ = false;
  std::optional<SteadyClock::time_point> curlDue_, inactivityDue_, armed_;
  std::unordered_map<curl_socket_t, int> sockets_;
  std::unordered_map<CURL*, std::shared_ptr<Transfer>> active_;

 public:
  // The process's own driver, on a thread that only runs its loop.
  static Driver& shared() {
    static Driver* driver = [] {
      auto made = std::make_shared<std::promise<Driver*>>();
      auto ready = made->get_future();
      std::thread([made] {
        pthread_setname_np(pthread_self(), "url-transport");
        auto loop = RunLoop::current();
        made->set_value(make(loop).get());
        loop->run();
      }).detach();
      return ready.get();
    }();
    return *driver;
  }

  // The driver of the calling thread's loop, made on first use.
  static std::shared_ptr<Driver> forLoop(const std::shared_ptr<RunLoop>& loop) {
    {
      std::lock_guard<std::mutex> lock(registryMutex());
      for (auto& d : registry())
        if (d->isFor(loop.get()) && !d->weakLoop_.expired()) return d;
      // Drivers of loops that ended go; a new loop may reuse their address.
      std::erase_if(registry(), [](const auto& d) { return d->weakLoop_.expired(); });
    }
    return make(loop);
  }
};

// Exchanges run to their end inside start, on the calling thread, for a caller that would only
// sleep until they ended: no thread hand-over on either side. Their multi handles are pooled, so
// a later synchronous load (from any thread) finds the kept-alive connection of an earlier one.
class BlockingRuns {
 public:
  // Runs `transfer` (set up, not yet added anywhere) until it finished or failed.
  static void run(const std::shared_ptr<Transfer>& transfer) {
    auto& self = instance();
    CURLM* multi = self.take();
    if (!multi) return transfer->fail(kURLErrorUnknown, "The transfer could not be set up.");
    {
      std::shared_lock lock(self.curlMutex_);
      // The process is exiting: nobody waits for an answer any more.
      if (self.stopped_) return self.abandon(multi, *transfer);
      if (curl_multi_add_handle(multi, transfer->easy()) != CURLM_OK) {
        lock.unlock();
        self.give(multi);
        return transfer->fail(kURLErrorUnknown, "The transfer could not be set up.");
      }
    }
    transfer->touch();
    for (;;) {
      std::optional<CURLcode> result;
      {
        std::shared_lock lock(self.curlMutex_);
        if (self.stopped_) return self.abandon(multi, *transfer);
        int running = 0;
        curl_multi_perform(multi, &running);
        transfer->flushReply();
        int queued = 0;
        while (CURLMsg* msg = curl_multi_info_read(multi, &queued))
          if (msg->msg == CURLMSG_DONE && msg->easy_handle == transfer->easy()) result = msg->data.result;
        if (result) {
          transfer->finish(*result);
          curl_multi_remove_handle(multi, transfer->easy());
          transfer->releaseHandle();
          break;
        }
      }
      // Sleeps until a socket of the exchange is ready, libcurl's own timeout or the request's
      // inactivity limit, whichever comes first.
      int waitMs = 60000;
      if (auto left = transfer->timeLeft()) {
        if (*left <= SteadyClock::duration::zero()) {
          std::shared_lock lock(self.curlMutex_);
          if (self.stopped_) return self.abandon(multi, *transfer);
          transfer->fail(kURLErrorTimedOut, "The request timed out.");
          curl_multi_remove_handle(multi, transfer->easy());
          transfer->releaseHandle();
          break;
        }
        auto ms = std::chrono::ceil<std::chrono::milliseconds>(*left).count();
        waitMs = static_cast<int>(std::min<long long>(waitMs, ms));
      }
      curl_multi_poll(multi, nullptr, 0, waitMs, nullptr);
    }
    self.give(multi);
  }

 private:
  static BlockingRuns& instance() {
    // Never destroyed: a synchronous load may still run on another thread while the process exits.
    static BlockingRuns* runs = [] {
      globalInit();
      auto* made = new BlockingRuns;
      // Registered after the TLS library's exit handler, so it runs first: no load may be inside
      // libcurl while that library cleans up.
      std::atexit([] { instance().stop(); });
      return made;
    }();
    return *runs;
  }

  CURLM* take() {
    {
      std::lock_guard<std::mutex> lock(poolMutex_);
      if (!pool_.empty()) {
        CURLM* multi = pool_.back();
        pool_.pop_back();
        return multi;
      }
    }
    CURLM* multi = curl_multi_init();
    if (multi) curl_multi_setopt(multi, CURLMOPT_MAXCONNECTS, kCachedConnections);
    return multi;
  }

  void give(CURLM* multi) {
    std::lock_guard<std::mutex> lock(poolMutex_);
    // The most recently used comes out first: its connection is the likeliest to be alive.
    pool_.push_back(multi);
  }

  // The process is exiting with the exchange on `multi` under way: both are left to libcurl as they
  // are, never used again, but kept where the exit still finds them, as everything else the
  // process holds at exit is; dropped here they would be memory lost while the process ends.
  void abandon(CURLM* multi, Transfer& transfer) {
    CURL* easy = transfer.easy();
    transfer.abandonHandle();
    std::lock_guard<std::mutex> lock(poolMutex_);
    abandoned_.emplace_back(multi, easy);
  }

  // A load stuck in a client's event is left behind rather than hanging the exit.
  void stop() {
    bool out = curlMutex_.try_lock_for(std::chrono::seconds(2));
    stopped_ = true;
    if (out) curlMutex_.unlock();
  }

  std::mutex poolMutex_;
  std::vector<CURLM*> pool_;
  std::vector<std::pair<CURLM*, CURL*>> abandoned_;  // see abandon
  std::shared_timed_mutex curlMutex_;  // shared by the loads, taken whole by the exit
  std::atomic<bool> stopped_{false};
};

class CurlTask : public URLTransportTask {
 public:
  CurlTask(std::shared_ptr<Transfer> transfer, std::shared_ptr<Driver> driver, bool inDriver = true)
      : transfer_(std::move(transfer)), driver_(std::move(driver)), inDriver_(inDriver) {}
  ~CurlTask() override { cancel(); }
  void cancel() override {
    if (transfer_->cancel() && inDriver_) (driver_ ? *driver_ : Driver::shared()).remove(transfer_);
  }

 private:
  std::shared_ptr<Transfer> transfer_;
  std::shared_ptr<Driver> driver_;  // null: the process's own
  bool inDriver_;                   // false: it ran on the caller's thread, or never started
};

class CurlTransport : public URLTransport {
 public:
  std::unique_ptr<URLTransportTask> start(const URLRequest& request, const URLTransportOptions& options,
                                          std::shared_ptr<URLTransportClient> client) override {
    auto transfer = std::make_shared<Transfer>(request, options, std::move(client));
    if (!transfer->setUp()) return std::make_unique<CurlTask>(std::move(transfer), nullptr, false);
    if (options.blocking) {
      BlockingRuns::run(transfer);
      return std::make_unique<CurlTask>(std::move(transfer), nullptr, false);
    }
    std::shared_ptr<Driver> driver;
    if (options.runLoop && options.runLoop->isCurrent()) driver = Driver::forLoop(options.runLoop);
    if (options.receiveWindow) {
      // Set before the exchange can first wait on it.
      options.receiveWindow->setOnOpen(
          [weak = std::weak_ptr<Transfer>(transfer), weakDriver = std::weak_ptr<Driver>(driver), own = !driver] {
            auto t = weak.lock();
            if (!t) return;
            if (own) Driver::shared().resume(std::move(t));
            else if (auto d = weakDriver.lock()) d->resume(std::move(t));
          });
    }
    // Refused only while the process exits, when nobody waits for an answer any more.
    (driver ? *driver : Driver::shared()).add(transfer);
    return std::make_unique<CurlTask>(std::move(transfer), std::move(driver));
  }
};

// Never destroyed: work on other threads may still reach it while the process exits.
std::mutex& gTransportMutex = *new std::mutex;
std::shared_ptr<URLTransport>& gTransport = *new std::shared_ptr<URLTransport>;

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
