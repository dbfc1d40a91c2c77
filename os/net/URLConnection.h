#pragma once
// An asynchronous URL load whose delegate callbacks all arrive on one run loop (the one it is
// scheduled on), in this order: server-trust questions (https only, before sending),
// connectionShouldUseCredentialStorage, then per redirect needNewBodyStream (a streamed body
// sent again) and willSendRequest, didSendBodyData while the body goes out, didReceiveResponse
// (the final head only), didReceiveData (any number), then willCacheResponse and
// didFinishLoading, or didFailWithError. After cancel no callback follows.
//
// Redirects are the delegate's decision: willSendRequest may return the proposed request, a
// changed one, or nothing to stop following (the redirect answer then becomes the final
// response). Cookies of the process-wide HTTPCookieStorage are sent and stored when the
// request's cookie flag is on. A started connection keeps itself alive until it ends.
//
// No more of a reply's body is read than the request's maximumReplyLength: past it the transfer
// is stopped and the load fails with kURLErrorDataLengthExceedsMaximum. The transfer runs at most
// a window (URLReceiveWindow) ahead of the data callbacks the scheduling thread has taken: while
// that thread is busy, the peer waits in its socket rather than the reply piling up for it.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "os/core/Error.h"
#include "os/net/HTTPURLResponse.h"
#include "os/net/URLError.h"
#include "os/net/URLRequest.h"
#include "os/net/URLTransport.h"

namespace os {

class RunLoop;
class URLConnection;

inline constexpr const char* kAuthenticationMethodServerTrust = "AuthenticationMethodServerTrust";
inline constexpr const char* kAuthenticationMethodClientCertificate = "AuthenticationMethodClientCertificate";
inline constexpr const char* kAuthenticationMethodHTTPBasic = "AuthenticationMethodHTTPBasic";
inline constexpr const char* kAuthenticationMethodHTTPDigest = "AuthenticationMethodHTTPDigest";
inline constexpr const char* kAuthenticationMethodDefault = "AuthenticationMethodDefault";

struct URLProtectionSpace {
  std::string host;
  int port = 0;
  std::string protocol;  // "http" or "https"
  std::string realm;
  std::string authenticationMethod;
};

struct URLCredential {
  enum class Persistence { None, ForSession, Permanent };
  std::string user, password;
  Persistence persistence = Persistence::None;
  bool serverTrust = false;  // a credential made from the server's trust: accept its certificate

  static URLCredential forTrust() { URLCredential c; c.serverTrust = true; return c; }
  static URLCredential withUser(std::string user, std::string password, Persistence p) {
    URLCredential c; c.user = std::move(user); c.password = std::move(password); c.persistence = p; return c;
  }
};

// A question the connection puts to its delegate: server trust before an https load, or a 401
// answer naming "WWW-Authenticate". Answer it inside the callback; without an answer the
// connection goes on with default handling (certificates verified as usual, the 401 delivered
// as the response). A user credential is sent as Basic authorization and the request repeated;
// previousFailureCount counts the credentials already refused.
class URLAuthenticationChallenge {
 public:
  enum class Answer { None, UseCredential, ContinueWithoutCredential, Cancel };
  URLAuthenticationChallenge(URLProtectionSpace space, int previousFailureCount)
      : space_(std::move(space)), previousFailureCount_(previousFailureCount) {}

  const URLProtectionSpace& protectionSpace() const { return space_; }
  int previousFailureCount() const { return previousFailureCount_; }
  const std::optional<URLCredential>& proposedCredential() const { return proposed_; }

  void useCredential(URLCredential credential) { answer_ = Answer::UseCredential; credential_ = std::move(credential); }
  void continueWithoutCredential() { answer_ = Answer::ContinueWithoutCredential; }
  void cancel() { answer_ = Answer::Cancel; }

  Answer answer() const { return answer_; }
  const std::optional<URLCredential>& credential() const { return credential_; }

 private:
  URLProtectionSpace space_;
  int previousFailureCount_;
  std::optional<URLCredential> proposed_, credential_;
  Answer answer_ = Answer::None;
};

struct CachedURLResponse {
  HTTPURLResponse response;
  Data data;
};

// Every operation is optional. Held weakly by the connection.
class URLConnectionDelegate {
 public:
  virtual ~URLConnectionDelegate() = default;
  // Default: every method but server trust and client certificates.
  virtual bool canAuthenticateAgainstProtectionSpace(URLConnection& connection, const URLProtectionSpace& space);
  virtual void didReceiveAuthenticationChallenge(URLConnection& connection, URLAuthenticationChallenge& challenge) {}
  virtual bool connectionShouldUseCredentialStorage(URLConnection& connection) { return true; }
  // The body stream for sending the request again; default: a copy of the current one if it can
  // be copied. Nothing fails the load with kURLErrorRequestBodyStreamExhausted.
  virtual std::shared_ptr<InputStream> needNewBodyStream(URLConnection& connection, const URLRequest& request);
  virtual std::optional<URLRequest> willSendRequest(URLConnection& connection, const URLRequest& request,
                                                    const HTTPURLResponse& redirectResponse) {
    return request;
  }
  virtual void didSendBodyData(URLConnection& connection, std::int64_t bytesWritten, std::int64_t totalBytesWritten,
                               std::int64_t totalBytesExpectedToWrite) {}
  virtual void didReceiveResponse(URLConnection& connection, const HTTPURLResponse& response) {}
  virtual void didReceiveData(URLConnection& connection, const Data& data) {}
  // There is no response cache here: the answer is taken and dropped.
  virtual std::optional<CachedURLResponse> willCacheResponse(URLConnection& connection, const CachedURLResponse& cached) {
    return cached;
  }
  virtual void didFinishLoading(URLConnection& connection) {}
  virtual void didFailWithError(URLConnection& connection, const Error& error) {}
};

class URLConnection : public std::enable_shared_from_this<URLConnection> {
 public:
  using Task = std::function<void()>;
  using CallbackTarget = std::function<void(Task)>;

  // With startImmediately the connection is scheduled on the calling thread's run loop and
  // started; otherwise schedule it (or it goes to the calling thread's loop) and call start.
  static std::shared_ptr<URLConnection> create(URLRequest request, std::weak_ptr<URLConnectionDelegate> delegate,
                                               bool startImmediately = true);
  ~URLConnection();

  // With `dedicated` (the loop's thread does nothing but run it, for as long as the load may
  // last) the exchanges themselves may run on that loop too, sparing each request two hand-overs
  // between threads.
  void scheduleInRunLoop(const std::shared_ptr<RunLoop>& loop, bool dedicated = false);
  // Callbacks go through `target` (a dispatch queue's async, a test's queue) instead of a loop.
  void setCallbackTarget(CallbackTarget target);

  // Any thread. A second start does nothing.
  void start();
  // As start, but on the thread of the loop the connection is scheduled in (dedicated) the load
  // begins before this returns, rather than on the loop's next pass: a network thread starting
  // the load it was handed spares a pass and its wait. Its first callbacks (and a failure to
  // begin) may so come before this returns; elsewhere it is start().
  void startNow();
  // On the scheduling thread no callback follows once this returns; from another thread a
  // callback already running finishes first.
  void cancel();

  const URLRequest& originalRequest() const { return original_; }
  // The request being loaded (after redirects). Read on the scheduling thread.
  const URLRequest& currentRequest() const { return current_; }

  // Accept any server certificate for this connection (off by default).
  void setAllowsAnyCertificate(bool allow) { allowsAnyCertificate_ = allow; }
  bool allowsAnyCertificate() const { return allowsAnyCertificate_; }

  // A load started and not yet ended, as whoever waits for the screen to rest names it.
  struct LoadInFlight {
    std::uint64_t serial;  // counts up from 1 in the order loads start
    std::string url;
    double startedAt;      // os::Clock::monotonic()
    std::string accept;    // the request's Accept header ("" when none): what it asks for
  };
  // Every load in flight in the process, oldest first. A load leaves only once its delegate has
  // heard how it ended, so whatever the delegate hands on is already under way.
  static std::vector<LoadInFlight> loadsInFlight();
  // The serial of the newest load started so far (0 before any).
  static std::uint64_t lastLoadSerial();
  // When the first load of `url` after serial `afterSerial` started (os::Clock::monotonic()),
  // ended ones among them, so a load tried again or started anew counts from its first try; the
  // latest 1024 starts are remembered. Nothing when none of them was of `url`.
  static std::optional<double> firstStartOf(const std::string& url, std::uint64_t afterSerial);

  // Loads on the calling thread, blocking it, following redirects. The body, or absent with
  // *error set; *response is set whenever a response arrived.
  static std::optional<Data> sendSynchronousRequest(const URLRequest& request, HTTPURLResponse* response, Error* error);

  URLConnection(URLRequest request, std::weak_ptr<URLConnectionDelegate> delegate);

 private:
  class Client;
  friend class Client;

  void post(Task task);
  void startLoad(bool beginHere);
  void beginLoad();
  void sendExchange();
  void handleBodySent(std::uint64_t generation, std::int64_t written, std::int64_t total, std::int64_t expected);
  void handleResponse(std::uint64_t generation, const HTTPURLResponse& response);
  void handleData(std::uint64_t generation, const Data& data);
  void handleFinish(std::uint64_t generation);
  void handleFail(std::uint64_t generation, const Error& error);
  bool followRedirect(const HTTPURLResponse& response);
  bool answerAuthentication(const HTTPURLResponse& response);
  bool renewBodyStream(URLRequest& request);
  void failWith(const Error& error);
  void end();
  void leaveLoadsInFlight();
  bool live(std::uint64_t generation) const;
  std::shared_ptr<URLConnectionDelegate> delegate() const { return delegate_.lock(); }

  URLRequest original_, current_;
  std::weak_ptr<URLConnectionDelegate> delegate_;
  // Shared, not copied, by the posts and the exchanges: a copy of the function would be made on
  // the heap every time.
  std::shared_ptr<const CallbackTarget> target_;
  std::weak_ptr<RunLoop> exchangeLoop_;  // set by a dedicated schedule
  bool allowsAnyCertificate_ = false;
  bool blockingExchanges_ = false;  // a synchronous load: the exchanges may run on its thread

  mutable std::mutex mutex_;  // guards started_, cancelled_, ended_, target_, exchangeLoop_, task_
  bool started_ = false, cancelled_ = false, ended_ = false;
  std::unique_ptr<URLTransportTask> task_;
  std::shared_ptr<URLConnection> keepAlive_;
  std::uint64_t serial_ = 0;  // in the list of loads in flight while nonzero

  // On the scheduling thread only.
  std::uint64_t generation_ = 0;
  bool finalResponse_ = false;
  int redirects_ = 0;
  int credentialsSent_ = 0;
  std::optional<URLCredential> credential_;
  // The origin (scheme://host:port) the credential was given for: it goes nowhere else.
  std::string credentialOrigin_;
  std::optional<HTTPURLResponse> response_;
  Data cacheData_;
};

}  // namespace os
