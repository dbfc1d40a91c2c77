#pragma once
// One URL request run as a cancellable, pausable operation. Start it directly or put it on an
// operation queue; either way its connection lives on the edition's one network thread, where
// every connection callback arrives. The body goes into an output stream (memory unless set), and
// progress closures and the start and finish broadcasts are moved to the main queue.
//
// States: paused -1, ready 1, executing 2, finished 3. Cancelling before start leaves the
// operation ready with the cancelled error; start then finishes it at once. Cancel and pause do
// nothing once the operation finished. The completion closure runs once, on the network thread,
// after the state became finished.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "foundation/http/TLNetworkingEdition.h"
#include "os/core/Error.h"
#include "os/core/TextEncoding.h"
#include "os/core/Value.h"
#include "os/net/HTTPURLResponse.h"
#include "os/net/Stream.h"
#include "os/net/URLConnection.h"
#include "os/net/URLRequest.h"
#include "os/runtime/Operation.h"
#include "os/store/KeyedArchive.h"

namespace os {
class Thread;
}

class TLURLConnectionOperation : public os::Operation, public os::Archivable {
 public:
  enum class State : std::int16_t { Paused = -1, Ready = 1, Executing = 2, Finished = 3 };

  using ProgressBlock = std::function<void(std::uint64_t bytes, std::int64_t totalBytes, std::int64_t totalBytesExpected)>;
  using AuthenticationAgainstProtectionSpaceBlock =
      std::function<bool(os::URLConnection& connection, const os::URLProtectionSpace& space)>;
  using AuthenticationChallengeBlock =
      std::function<void(os::URLConnection& connection, os::URLAuthenticationChallenge& challenge)>;
  using CacheResponseBlock = std::function<std::optional<os::CachedURLResponse>(
      os::URLConnection& connection, const os::CachedURLResponse& cachedResponse)>;
  using RedirectResponseBlock = std::function<std::optional<os::URLRequest>(
      os::URLConnection& connection, const os::URLRequest& request, const os::HTTPURLResponse& redirectResponse)>;

  explicit TLURLConnectionOperation(os::URLRequest request,
                                    const TLNetworkingEdition& edition = TLNetworkingEdition::standard());
  static std::shared_ptr<TLURLConnectionOperation> create(os::URLRequest request);
  ~TLURLConnectionOperation() override;

  // The edition's network thread: made on first use, runs its run loop for the life of the process.
  static std::shared_ptr<os::Thread> networkRequestThread(const TLNetworkingEdition& edition = TLNetworkingEdition::standard());

  // os::Operation
  void start() override;
  void cancel() override;
  bool isCancelled() const override { return cancelled_.load(); }
  bool isReady() const override;
  bool isExecuting() const override { return state() == State::Executing; }
  bool isFinished() const override { return state() == State::Finished; }
  bool isAsynchronous() const override { return true; }
  // start() only hands the load to the network thread.
  bool startsWithoutWaiting() const override { return true; }

  virtual void pause();
  bool isPaused() const { return state() == State::Paused; }
  void resume();
  State state() const { return static_cast<State>(state_.load()); }

  os::URLRequest request() const;
  std::optional<os::HTTPURLResponse> response() const;
  // Set on failure or cancellation.
  std::optional<os::Error> connectionError() const;
  // Virtual: the HTTP operation adds its acceptance error.
  virtual std::optional<os::Error> error();
  // The whole body once the load finished into a memory stream; empty otherwise.
  os::Data responseData() const;
  std::optional<std::string> responseString();
  virtual os::StringEncoding responseStringEncoding();
  std::int64_t totalBytesRead() const { return totalBytesRead_.load(); }

  // The request's body stream; setting one replaces the request by a copy carrying it.
  std::shared_ptr<os::InputStream> inputStream() const;
  void setInputStream(std::shared_ptr<os::InputStream> stream);
  // Where received bytes go; a memory stream is made on first use.
  std::shared_ptr<os::OutputStream> outputStream();
  void setOutputStream(std::shared_ptr<os::OutputStream> stream);

  bool allowsInvalidSSLCertificate() const { return allowsInvalidSSLCertificate_.load(); }
  void setAllowsInvalidSSLCertificate(bool allow) { allowsInvalidSSLCertificate_ = allow; }
  bool shouldUseCredentialStorage() const { return shouldUseCredentialStorage_.load(); }
  void setShouldUseCredentialStorage(bool use) { shouldUseCredentialStorage_ = use; }
  std::optional<os::URLCredential> credential() const;
  void setCredential(std::optional<os::URLCredential> credential);
  os::Dictionary userInfo() const;
  void setUserInfo(os::Dictionary userInfo);

  void setUploadProgressBlock(ProgressBlock block);
  void setDownloadProgressBlock(ProgressBlock block);
  void setAuthenticationAgainstProtectionSpaceBlock(AuthenticationAgainstProtectionSpaceBlock block);
  void setAuthenticationChallengeBlock(AuthenticationChallengeBlock block);
  void setCacheResponseBlock(CacheResponseBlock block);
  void setRedirectResponseBlock(RedirectResponseBlock block);

  // A new, ready operation of the same class for the same request (its body stream a fresh copy
  // when the stream can be copied), with the same six closures and certificate setting; no
  // completion closure, credential, state or results.
  std::shared_ptr<TLURLConnectionOperation> copy() const;

  // Keyed archiving. Writing pauses the operation first, and an executing or paused one is written
  // as ready, so it comes back ready to run again; decoding makes the classes that
  // TLNetworkingArchiveClasses lists.
  std::vector<std::string> archiveClassNames() const override;
  void encodeWithCoder(os::KeyedArchiver& coder) const override;
  // The archived request, absent (with the coder's error) when there is none.
  static std::optional<os::URLRequest> archivedRequest(os::KeyedUnarchiver& coder);
  // The rest of the archive: the state (through the transition rules, so a finished operation
  // that was not cancelled comes back ready), then the cancelled flag, response, error, body,
  // byte count and certificate setting.
  void restoreFromCoder(os::KeyedUnarchiver& coder);

  // Asks the shared application for a background task (once); when it expires the handler runs,
  // then the operation is cancelled and the task ended.
  void setShouldExecuteAsBackgroundTaskWithExpirationHandler(std::function<void()> handler);
  unsigned long backgroundTaskIdentifier() const;

  const TLNetworkingEdition& edition() const { return edition_; }
  // "<Class: 0x..., state: isReady, cancelled: NO request: ..., response: ...>"
  std::string description() const;
  virtual std::string className() const { return "TLURLConnectionOperation"; }
  static const char* keyForState(State state);

 protected:
  // Accepted transitions only (see the table in the implementation); false when refused.
  bool setState(State state);
  // Replaces the request (pausing makes the next one ask for the rest of the body).
  void setRequest(os::URLRequest request);
  // Guards state changes and the lazily made fields. Recursive: closures and overrides re-enter.
  std::recursive_mutex& lock() const { return lock_; }
  // Called on the network thread under the lock when the response head arrived, after it was
  // stored and the output stream opened. An error fails the load.
  virtual std::optional<os::Error> prepareOutputForResponse(const os::HTTPURLResponse& response) { return std::nullopt; }
  // An operation of this class for the request (copy() fills in the rest).
  virtual std::shared_ptr<TLURLConnectionOperation> makeOperation(os::URLRequest request) const;
  // Bytes received into the output stream so far.
  std::uint64_t bytesInOutputStream();

 private:
  class ConnectionDelegate;
  friend class ConnectionDelegate;

  std::shared_ptr<TLURLConnectionOperation> self();
  void performOnNetworkThread(std::function<void()> task);
  void postOnMainQueue(std::function<void()> task);
  void operationDidStart();
  void cancelConnection();
  void finish();
  void failLoad(const os::Error& error);
  void postBroadcast(const char* name);

  // Connection callbacks (network thread).
  bool isCurrent(const os::URLConnection& connection) const;
  bool canAuthenticateAgainstProtectionSpace(os::URLConnection& c, const os::URLProtectionSpace& space);
  void didReceiveAuthenticationChallenge(os::URLConnection& c, os::URLAuthenticationChallenge& challenge);
  std::shared_ptr<os::InputStream> needNewBodyStream(os::URLConnection& c, const os::URLRequest& request);
  std::optional<os::URLRequest> willSendRequest(os::URLConnection& c, const os::URLRequest& request,
                                                const os::HTTPURLResponse& redirect);
  void didSendBodyData(os::URLConnection& c, std::int64_t written, std::int64_t total, std::int64_t expected);
  void didReceiveResponse(os::URLConnection& c, const os::HTTPURLResponse& response);
  void didReceiveData(os::URLConnection& c, const os::Data& data);
  std::optional<os::CachedURLResponse> willCacheResponse(os::URLConnection& c, const os::CachedURLResponse& cached);
  void didFinishLoading(os::URLConnection& c);
  void didFailWithError(os::URLConnection& c, const os::Error& error);

  const TLNetworkingEdition& edition_;
  mutable std::recursive_mutex lock_;
  std::atomic<bool> cancelled_{false};
  std::atomic<bool> allowsInvalidSSLCertificate_{false};
  std::atomic<bool> shouldUseCredentialStorage_{true};
  std::atomic<std::int16_t> state_{static_cast<std::int16_t>(State::Ready)};
  std::atomic<std::int64_t> totalBytesRead_{0};

  // Guarded by lock_.
  std::shared_ptr<ConnectionDelegate> delegate_;
  std::shared_ptr<os::URLConnection> connection_;
  os::URLRequest request_;
  std::optional<os::HTTPURLResponse> response_;
  std::optional<os::Error> error_;
  os::Data responseData_;
  std::optional<std::string> responseString_;
  std::optional<os::StringEncoding> responseStringEncoding_;
  std::shared_ptr<os::OutputStream> outputStream_;
  std::optional<os::URLCredential> credential_;
  os::Dictionary userInfo_;
  ProgressBlock uploadProgress_, downloadProgress_;
  AuthenticationAgainstProtectionSpaceBlock authenticationAgainstProtectionSpace_;
  AuthenticationChallengeBlock authenticationChallenge_;
  CacheResponseBlock cacheResponse_;
  RedirectResponseBlock redirectResponse_;
  unsigned long backgroundTaskIdentifier_ = 0;
  // The body stream the last connection was given to read: a load after a pause needs a fresh one.
  std::shared_ptr<os::InputStream> bodyStreamSent_;
  // The start broadcast went out and no finish broadcast answered it yet.
  bool startAnnounced_ = false;
  // Holds the operation while its load runs, as a connection holds its delegate.
  std::shared_ptr<TLURLConnectionOperation> keepAlive_;
};
