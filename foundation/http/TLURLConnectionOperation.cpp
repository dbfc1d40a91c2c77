#include "foundation/http/TLURLConnectionOperation.h"

#include <cstdio>
#include <map>
#include <utility>

#include "os/net/URLArchiving.h"
#include "os/net/URLError.h"
#include "os/runtime/DispatchQueue.h"
#include "os/runtime/NotificationCenter.h"
#include "os/runtime/RunLoop.h"
#include "os/runtime/Thread.h"
#include "os/views/Application.h"

namespace {

// The platform's number for a write to an output stream that failed.
constexpr long kURLErrorCannotWriteToFile = -3003;

bool transitionAllowed(TLURLConnectionOperation::State from, TLURLConnectionOperation::State to, bool cancelled) {
  using S = TLURLConnectionOperation::State;
  switch (from) {
    // A cancelled pause has no load left to finish it: it finishes at once.
    case S::Paused: return to == S::Ready || (to == S::Finished && cancelled);
    case S::Ready: return to == S::Paused || to == S::Executing || (to == S::Finished && cancelled);
    case S::Executing: return to == S::Paused || to == S::Finished;
    case S::Finished: return false;
  }
  return true;
}

}  // namespace

// Forwards the connection's callbacks to the operation while it exists; the connection holds its
// delegate weakly and the operation owns this object.
class TLURLConnectionOperation::ConnectionDelegate : public os::URLConnectionDelegate {
 public:
  explicit ConnectionDelegate(std::weak_ptr<TLURLConnectionOperation> operation) : operation_(std::move(operation)) {}

  bool canAuthenticateAgainstProtectionSpace(os::URLConnection& c, const os::URLProtectionSpace& space) override {
    if (auto op = operation_.lock()) return op->canAuthenticateAgainstProtectionSpace(c, space);
    return URLConnectionDelegate::canAuthenticateAgainstProtectionSpace(c, space);
  }
  void didReceiveAuthenticationChallenge(os::URLConnection& c, os::URLAuthenticationChallenge& challenge) override {
    if (auto op = operation_.lock()) op->didReceiveAuthenticationChallenge(c, challenge);
  }
  bool connectionShouldUseCredentialStorage(os::URLConnection&) override {
    auto op = operation_.lock();
    return op ? op->shouldUseCredentialStorage() : true;
  }
  std::shared_ptr<os::InputStream> needNewBodyStream(os::URLConnection& c, const os::URLRequest& request) override {
    if (auto op = operation_.lock()) return op->needNewBodyStream(c, request);
    return nullptr;
  }
  std::optional<os::URLRequest> willSendRequest(os::URLConnection& c, const os::URLRequest& request,
                                                const os::HTTPURLResponse& redirect) override {
    if (auto op = operation_.lock()) return op->willSendRequest(c, request, redirect);
    return request;
  }
  void didSendBodyData(os::URLConnection& c, std::int64_t written, std::int64_t total, std::int64_t expected) override {
    if (auto op = operation_.lock()) op->didSendBodyData(c, written, total, expected);
  }
  void didReceiveResponse(os::URLConnection& c, const os::HTTPURLResponse& response) override {
    if (auto op = operation_.lock()) op->didReceiveResponse(c, response);
  }
  void didReceiveData(os::URLConnection& c, const os::Data& data) override {
    if (auto op = operation_.lock()) op->didReceiveData(c, data);
  }
  std::optional<os::CachedURLResponse> willCacheResponse(os::URLConnection& c, const os::CachedURLResponse& cached) override {
    if (auto op = operation_.lock()) return op->willCacheResponse(c, cached);
    return std::nullopt;
  }
  void didFinishLoading(os::URLConnection& c) override {
    if (auto op = operation_.lock()) op->didFinishLoading(c);
  }
  void didFailWithError(os::URLConnection& c, const os::Error& error) override {
    if (auto op = operation_.lock()) op->didFailWithError(c, error);
  }

 private:
  std::weak_ptr<TLURLConnectionOperation> operation_;
};

TLURLConnectionOperation::TLURLConnectionOperation(os::URLRequest request, const TLNetworkingEdition& edition)
    : edition_(edition), request_(std::move(request)) {}

std::shared_ptr<TLURLConnectionOperation> TLURLConnectionOperation::create(os::URLRequest request) {
  return std::make_shared<TLURLConnectionOperation>(std::move(request));
}

TLURLConnectionOperation::~TLURLConnectionOperation() {
  if (outputStream_) outputStream_->close();
  if (backgroundTaskIdentifier_ != os::kInvalidBackgroundTask)
    if (auto app = os::Application::shared()) app->endBackgroundTask(backgroundTaskIdentifier_);
}

void TLURLConnectionOperation::setShouldExecuteAsBackgroundTaskWithExpirationHandler(std::function<void()> handler) {
  std::lock_guard guard(lock_);
  if (backgroundTaskIdentifier_ != os::kInvalidBackgroundTask) return;
  auto app = os::Application::shared();
  if (!app) return;
  std::weak_ptr<os::Operation> weak = weak_from_this();
  backgroundTaskIdentifier_ = app->beginBackgroundTask([weak, handler = std::move(handler)] {
    if (handler) handler();
    auto op = std::static_pointer_cast<TLURLConnectionOperation>(weak.lock());
    if (!op) return;
    op->cancel();
    unsigned long task;
    {
      std::lock_guard inner(op->lock_);
      task = op->backgroundTaskIdentifier_;
      op->backgroundTaskIdentifier_ = os::kInvalidBackgroundTask;
    }
    if (auto application = os::Application::shared()) application->endBackgroundTask(task);
  });
}

unsigned long TLURLConnectionOperation::backgroundTaskIdentifier() const {
  std::lock_guard guard(lock_);
  return backgroundTaskIdentifier_;
}

std::shared_ptr<TLURLConnectionOperation> TLURLConnectionOperation::makeOperation(os::URLRequest request) const {
  return std::make_shared<TLURLConnectionOperation>(std::move(request), edition_);
}

std::shared_ptr<TLURLConnectionOperation> TLURLConnectionOperation::copy() const {
  if (!edition_.copiesAndArchives) TLNetworkingRefuse(className(), "copyWithZone:");
  std::lock_guard guard(lock_);
  // The copy reads its body afresh: the original may have read its stream, or read it still.
  os::URLRequest request = request_;
  if (auto body = request.HTTPBodyStream())
    if (auto fresh = body->copyStream()) request.setHTTPBodyStream(std::move(fresh));
  auto op = makeOperation(std::move(request));
  op->uploadProgress_ = uploadProgress_;
  op->downloadProgress_ = downloadProgress_;
  op->authenticationAgainstProtectionSpace_ = authenticationAgainstProtectionSpace_;
  op->authenticationChallenge_ = authenticationChallenge_;
  op->cacheResponse_ = cacheResponse_;
  op->redirectResponse_ = redirectResponse_;
  op->setAllowsInvalidSSLCertificate(allowsInvalidSSLCertificate());
  return op;
}

std::vector<std::string> TLURLConnectionOperation::archiveClassNames() const {
  std::vector<std::string> names{className()};
  if (names.front() != "TLURLConnectionOperation") names.push_back("TLURLConnectionOperation");
  return names;
}

void TLURLConnectionOperation::encodeWithCoder(os::KeyedArchiver& coder) const {
  if (!edition_.copiesAndArchives) TLNetworkingRefuse(className(), "encodeWithCoder:");
  // Archiving stops a running load so that what is written is what a resumed load starts from.
  const_cast<TLURLConnectionOperation*>(this)->pause();
  std::lock_guard guard(lock_);
  State s = state();
  if (s == State::Paused || s == State::Executing) s = State::Ready;
  coder.encodeObject(os::archiveItem(request_), "request");
  coder.encodeInt(static_cast<std::int32_t>(s), "state");
  coder.encodeBool(isCancelled(), "isCancelled");
  if (response_) coder.encodeObject(os::archiveItem(*response_), "response");
  if (error_) coder.encodeObject(os::archiveItem(*error_), "error");
  coder.encodeObject(os::Value(responseData_), "responseData");
  coder.encodeObject(os::Value(static_cast<long long>(totalBytesRead())), "totalBytesRead");
  coder.encodeObject(os::Value(allowsInvalidSSLCertificate()), "allowsInvalidSSLCertificate");
}

std::optional<os::URLRequest> TLURLConnectionOperation::archivedRequest(os::KeyedUnarchiver& coder) {
  auto request = os::URLRequestFromArchiveItem(coder.decodeObject("request"));
  if (!request && !coder.error())
    coder.failWithError(os::Error::withDescription(os::kKeyedArchiveErrorDomain, os::kKeyedArchiveReadCorruptError,
                                                   "the archived operation has no request"));
  return request;
}

void TLURLConnectionOperation::restoreFromCoder(os::KeyedUnarchiver& coder) {
  std::int32_t archived = coder.decodeInt("state");
  if (archived == -1 || (archived >= 1 && archived <= 3)) setState(static_cast<State>(archived));
  cancelled_ = coder.decodeBool("isCancelled");
  std::lock_guard guard(lock_);
  response_ = os::HTTPURLResponseFromArchiveItem(coder.decodeObject("response"));
  error_ = os::ErrorFromArchiveItem(coder.decodeObject("error"));
  responseData_ = coder.decodeData("responseData").value_or(os::Data{});
  if (auto total = coder.decodeValue("totalBytesRead"); total && total->isNumber() && total->intValue() >= 0)
    totalBytesRead_ = total->intValue();
  if (auto allow = coder.decodeValue("allowsInvalidSSLCertificate"); allow && (allow->isNumber() || allow->isBool()))
    allowsInvalidSSLCertificate_ = allow->boolValue();
}

std::shared_ptr<os::Thread> TLURLConnectionOperation::networkRequestThread(const TLNetworkingEdition& edition) {
  static std::mutex mutex;
  // Never destroyed: the threads run for the life of the process.
  static auto* threads = new std::map<std::string, std::shared_ptr<os::Thread>>();
  std::lock_guard guard(mutex);
  auto& thread = (*threads)[edition.networkThreadName];
  if (!thread) {
    thread = os::Thread::create(edition.networkThreadName);
    thread->start();
  }
  return thread;
}

std::shared_ptr<TLURLConnectionOperation> TLURLConnectionOperation::self() {
  return std::static_pointer_cast<TLURLConnectionOperation>(shared_from_this());
}

void TLURLConnectionOperation::performOnNetworkThread(std::function<void()> task) {
  // Counted as work under way until it has run: between the hand-over and the connection's start
  // nothing else shows that a load is coming.
  networkRequestThread(edition_)->runLoop()->post(
      [task = std::move(task), held = os::DispatchQueue::holdBackgroundWork()] { task(); });
}

void TLURLConnectionOperation::postOnMainQueue(std::function<void()> task) { os::DispatchQueue::main()->async(std::move(task)); }

void TLURLConnectionOperation::postBroadcast(const char* name) {
  auto op = self();
  // The names are the library's constants: the text is made only where it is posted.
  if (!edition_.broadcastsOnMainQueue) return os::NotificationCenter::defaultCenter().post(name, op.get());
  postOnMainQueue([op, name] { os::NotificationCenter::defaultCenter().post(name, op.get()); });
}

const char* TLURLConnectionOperation::keyForState(State state) {
  switch (state) {
    case State::Paused: return "isPaused";
    case State::Ready: return "isReady";
    case State::Executing: return "isExecuting";
    case State::Finished: return "isFinished";
  }
  return "state";
}

bool TLURLConnectionOperation::setState(State state) {
  State old;
  {
    std::lock_guard guard(lock_);
    old = this->state();
    if (!transitionAllowed(old, state, isCancelled())) return false;
    state_ = static_cast<std::int16_t>(state);
  }
  // Announced after the lock is released: observers (queues) ask other operations questions, and
  // the finished announcement runs the completion closure.
  didChangeValueForKey(keyForState(old));
  didChangeValueForKey(keyForState(state));
  return true;
}

bool TLURLConnectionOperation::isReady() const { return state() == State::Ready && os::Operation::isReady(); }

void TLURLConnectionOperation::start() {
  {
    std::lock_guard guard(lock_);
    if (!isReady()) return;
    keepAlive_ = self();
  }
  if (!setState(State::Executing)) return;
  auto op = self();
  performOnNetworkThread([op] { op->operationDidStart(); });
}

void TLURLConnectionOperation::operationDidStart() {
  std::optional<os::Error> unsendable;
  std::shared_ptr<os::URLConnection> starting;
  {
    std::lock_guard guard(lock_);
    // A pause that came first stopped this start before it ran; a start that came after a pause
    // and resume finds the load the earlier one began, which must not be sent a second time.
    if (!isExecuting()) return;
    // A body stream an earlier load of this operation read (before a pause) goes out again from a
    // fresh copy: read on, it would send the body cut short.
    if (auto body = request_.HTTPBodyStream(); body && body == bodyStreamSent_ && !isCancelled() && !connection_) {
      if (auto fresh = body->copyStream()) {
        request_.setHTTPBodyStream(std::move(fresh));
      } else {
        unsendable = os::makeURLError(os::kURLErrorRequestBodyStreamExhausted, request_.url(),
                                      "The request's body was read by an earlier load and cannot be read again.");
      }
    }
    if (!isCancelled() && !connection_ && !unsendable) {
      delegate_ = std::make_shared<ConnectionDelegate>(self());
      connection_ = os::URLConnection::create(request_, delegate_, false);
      // The network thread only runs its loop: the exchange runs there too.
      connection_->scheduleInRunLoop(os::RunLoop::current(), true);
      outputStream();
      starting = connection_;
      bodyStreamSent_ = request_.HTTPBodyStream();
    }
    // Under the lock, so a pause on another thread announces its end only after this start.
    if (!std::exchange(startAnnounced_, true)) postBroadcast(kTLNetworkingOperationDidStartNotification);
  }
  if (unsendable) return failLoad(*unsendable);
  // Begun here and now, outside the lock: its first callbacks (a failure to begin among them) may
  // run inside, and they announce to observers. A cancel that came meanwhile sends nothing.
  if (starting && !isCancelled()) starting->startNow();
  if (isCancelled()) finish();
}

void TLURLConnectionOperation::finish() {
  if (!setState(State::Finished)) return;
  std::shared_ptr<TLURLConnectionOperation> keep;
  bool announced;
  {
    std::lock_guard guard(lock_);
    keep = std::move(keepAlive_);
    announced = std::exchange(startAnnounced_, false);
  }
  // Each start announced is followed by one end: a pause announced it already.
  if (announced) postBroadcast(kTLNetworkingOperationDidFinishNotification);
}

void TLURLConnectionOperation::cancel() {
  {
    std::lock_guard guard(lock_);
    if (isFinished() || isCancelled()) return;
    cancelled_ = true;
    // Set here rather than on the network thread, so that a start already on its way there
    // finishes with it too.
    error_ = os::makeURLError(os::kURLErrorCancelled, request_.url(), "cancelled");
  }
  os::Operation::cancel();
  auto op = self();
  performOnNetworkThread([op] { op->cancelConnection(); });
}

void TLURLConnectionOperation::cancelConnection() {
  std::shared_ptr<os::URLConnection> connection;
  bool paused = false;
  {
    std::lock_guard guard(lock_);
    // A load that finished meanwhile keeps its outcome.
    if (isFinished()) return;
    if (!error_) error_ = os::makeURLError(os::kURLErrorCancelled, request_.url(), "cancelled");
    connection = connection_;
    paused = isPaused();
  }
  if (connection) {
    connection->cancel();
    failLoad(*connectionError());
  } else if (paused) {
    failLoad(*connectionError());
  }
}

void TLURLConnectionOperation::pause() {
  std::shared_ptr<os::URLConnection> connection;
  {
    std::lock_guard guard(lock_);
    if (isPaused() || isFinished() || isCancelled()) return;
    bool wasExecuting = isExecuting();
    if (!setState(State::Paused)) return;
    if (wasExecuting) {
      connection = std::move(connection_);
      if (std::exchange(startAnnounced_, false)) postBroadcast(kTLNetworkingOperationDidFinishNotification);
    }
  }
  if (connection) performOnNetworkThread([connection] { connection->cancel(); });
  std::shared_ptr<TLURLConnectionOperation> keep;
  {
    std::lock_guard guard(lock_);
    keep = std::move(keepAlive_);
  }
}

void TLURLConnectionOperation::resume() {
  {
    std::lock_guard guard(lock_);
    if (!isPaused()) return;
  }
  if (setState(State::Ready)) start();
}

os::URLRequest TLURLConnectionOperation::request() const {
  std::lock_guard guard(lock_);
  return request_;
}

void TLURLConnectionOperation::setRequest(os::URLRequest request) {
  std::lock_guard guard(lock_);
  request_ = std::move(request);
}

std::optional<os::HTTPURLResponse> TLURLConnectionOperation::response() const {
  std::lock_guard guard(lock_);
  return response_;
}

std::optional<os::Error> TLURLConnectionOperation::connectionError() const {
  std::lock_guard guard(lock_);
  return error_;
}

std::optional<os::Error> TLURLConnectionOperation::error() { return connectionError(); }

os::Data TLURLConnectionOperation::responseData() const {
  std::lock_guard guard(lock_);
  return responseData_;
}

os::StringEncoding TLURLConnectionOperation::responseStringEncoding() {
  std::lock_guard guard(lock_);
  if (!responseStringEncoding_ && response_) {
    os::StringEncoding encoding = os::StringEncoding::UTF8;
    if (!response_->textEncodingName().empty())
      if (auto named = os::encodingForCharsetName(response_->textEncodingName())) encoding = *named;
    responseStringEncoding_ = encoding;
  }
  return responseStringEncoding_.value_or(os::StringEncoding::UTF8);
}

std::optional<std::string> TLURLConnectionOperation::responseString() {
  std::lock_guard guard(lock_);
  if (!responseString_ && response_ && !responseData_.empty())
    responseString_ = os::decodeText(responseData_, responseStringEncoding());
  return responseString_;
}

std::shared_ptr<os::InputStream> TLURLConnectionOperation::inputStream() const {
  std::lock_guard guard(lock_);
  return request_.HTTPBodyStream();
}

void TLURLConnectionOperation::setInputStream(std::shared_ptr<os::InputStream> stream) {
  {
    std::lock_guard guard(lock_);
    request_.setHTTPBodyStream(std::move(stream));
  }
  didChangeValueForKey("inputStream");
}

std::shared_ptr<os::OutputStream> TLURLConnectionOperation::outputStream() {
  std::lock_guard guard(lock_);
  if (!outputStream_) outputStream_ = os::OutputStream::toMemory();
  return outputStream_;
}

void TLURLConnectionOperation::setOutputStream(std::shared_ptr<os::OutputStream> stream) {
  {
    std::lock_guard guard(lock_);
    if (stream == outputStream_) return;
    if (outputStream_) outputStream_->close();
    outputStream_ = std::move(stream);
  }
  didChangeValueForKey("outputStream");
}

std::uint64_t TLURLConnectionOperation::bytesInOutputStream() {
  auto stream = outputStream();
  if (auto offset = stream->fileCurrentOffset()) return *offset;
  if (auto data = stream->dataWritten()) return data->size();
  return 0;
}

std::optional<os::URLCredential> TLURLConnectionOperation::credential() const {
  std::lock_guard guard(lock_);
  return credential_;
}
void TLURLConnectionOperation::setCredential(std::optional<os::URLCredential> credential) {
  std::lock_guard guard(lock_);
  credential_ = std::move(credential);
}
os::Dictionary TLURLConnectionOperation::userInfo() const {
  std::lock_guard guard(lock_);
  return userInfo_;
}
void TLURLConnectionOperation::setUserInfo(os::Dictionary userInfo) {
  std::lock_guard guard(lock_);
  userInfo_ = std::move(userInfo);
}

void TLURLConnectionOperation::setUploadProgressBlock(ProgressBlock block) {
  std::lock_guard guard(lock_);
  uploadProgress_ = std::move(block);
}
void TLURLConnectionOperation::setDownloadProgressBlock(ProgressBlock block) {
  std::lock_guard guard(lock_);
  downloadProgress_ = std::move(block);
}
void TLURLConnectionOperation::setAuthenticationAgainstProtectionSpaceBlock(AuthenticationAgainstProtectionSpaceBlock block) {
  std::lock_guard guard(lock_);
  authenticationAgainstProtectionSpace_ = std::move(block);
}
void TLURLConnectionOperation::setAuthenticationChallengeBlock(AuthenticationChallengeBlock block) {
  std::lock_guard guard(lock_);
  authenticationChallenge_ = std::move(block);
}
void TLURLConnectionOperation::setCacheResponseBlock(CacheResponseBlock block) {
  std::lock_guard guard(lock_);
  cacheResponse_ = std::move(block);
}
void TLURLConnectionOperation::setRedirectResponseBlock(RedirectResponseBlock block) {
  std::lock_guard guard(lock_);
  redirectResponse_ = std::move(block);
}

std::string TLURLConnectionOperation::description() const {
  std::lock_guard guard(lock_);
  char address[32];
  std::snprintf(address, sizeof address, "%p", static_cast<const void*>(this));
  std::string responseText = "(null)";
  if (response_) responseText = "<HTTPURLResponse: " + response_->url() + ", status " + std::to_string(response_->statusCode()) + ">";
  // Appended piece by piece: a chain of "+" on temporaries trips a false alarm of the compiler.
  std::string out = "<";
  out += className();
  out += ": ";
  out += address;
  out += ", state: ";
  out += keyForState(state());
  out += ", cancelled: ";
  out += isCancelled() ? "YES" : "NO";
  out += " request: <URLRequest: ";
  out += request_.url();
  out += ">, response: ";
  out += responseText;
  out += ">";
  return out;
}

// ---- connection callbacks, all on the network thread ----

bool TLURLConnectionOperation::isCurrent(const os::URLConnection& connection) const {
  return connection_.get() == &connection && state() == State::Executing;
}

bool TLURLConnectionOperation::canAuthenticateAgainstProtectionSpace(os::URLConnection& c,
                                                                     const os::URLProtectionSpace& space) {
  if (allowsInvalidSSLCertificate() && space.authenticationMethod == os::kAuthenticationMethodServerTrust) return true;
  AuthenticationAgainstProtectionSpaceBlock block;
  {
    std::lock_guard guard(lock_);
    block = authenticationAgainstProtectionSpace_;
  }
  if (block) return block(c, space);
  return space.authenticationMethod != os::kAuthenticationMethodServerTrust &&
         space.authenticationMethod != os::kAuthenticationMethodClientCertificate;
}

void TLURLConnectionOperation::didReceiveAuthenticationChallenge(os::URLConnection& c,
                                                                 os::URLAuthenticationChallenge& challenge) {
  if (allowsInvalidSSLCertificate() &&
      challenge.protectionSpace().authenticationMethod == os::kAuthenticationMethodServerTrust) {
    challenge.useCredential(os::URLCredential::forTrust());
    return;
  }
  AuthenticationChallengeBlock block;
  std::optional<os::URLCredential> credential;
  {
    std::lock_guard guard(lock_);
    block = authenticationChallenge_;
    credential = credential_;
  }
  if (block) return block(c, challenge);
  if (challenge.previousFailureCount() > 0) return challenge.continueWithoutCredential();
  if (credential) return challenge.useCredential(*credential);
  challenge.continueWithoutCredential();
}

std::shared_ptr<os::InputStream> TLURLConnectionOperation::needNewBodyStream(os::URLConnection& c,
                                                                           const os::URLRequest& request) {
  auto body = inputStream();
  if (body)
    if (auto copy = body->copyStream()) return copy;
  // The body cannot be sent again: the load ends as if cancelled.
  auto op = self();
  performOnNetworkThread([op] { op->cancelConnection(); });
  return nullptr;
}

std::optional<os::URLRequest> TLURLConnectionOperation::willSendRequest(os::URLConnection& c, const os::URLRequest& request,
                                                                      const os::HTTPURLResponse& redirect) {
  RedirectResponseBlock block;
  {
    std::lock_guard guard(lock_);
    block = redirectResponse_;
  }
  return block ? block(c, request, redirect) : std::optional<os::URLRequest>(request);
}

void TLURLConnectionOperation::didSendBodyData(os::URLConnection& c, std::int64_t written, std::int64_t total,
                                               std::int64_t expected) {
  ProgressBlock block;
  {
    std::lock_guard guard(lock_);
    block = uploadProgress_;
  }
  if (block)
    postOnMainQueue([block, written, total, expected] { block(static_cast<std::uint64_t>(written), total, expected); });
}

void TLURLConnectionOperation::didReceiveResponse(os::URLConnection& c, const os::HTTPURLResponse& response) {
  std::optional<os::Error> failure;
  {
    std::lock_guard guard(lock_);
    if (!isCurrent(c)) return;
    response_ = response;
    outputStream()->open();
    failure = prepareOutputForResponse(response);
  }
  if (failure) {
    c.cancel();
    failLoad(*failure);
  }
}

void TLURLConnectionOperation::didReceiveData(os::URLConnection& c, const os::Data& data) {
  std::optional<os::Error> failure;
  ProgressBlock block;
  std::int64_t total = 0, expected = -1;
  {
    std::lock_guard guard(lock_);
    if (!isCurrent(c)) return;
    // Every byte goes out, however many writes that takes; a stream that takes none fails the load
    // rather than losing part of the body.
    auto stream = outputStream();
    std::size_t done = 0;
    while (done < data.size()) {
      long n = stream->write(data.data() + done, data.size() - done);
      if (n <= 0) {
        os::Dictionary info{{os::kErrorDescriptionKey, os::Value("The received data could not be written to the output stream.")},
                            {os::kErrorFailingURLStringKey, os::Value(request_.url())}};
        if (auto streamError = stream->streamError())
          info.set(os::kErrorUnderlyingErrorKey, os::Value(streamError->localizedDescription()));
        failure = os::Error(os::kURLErrorDomain, kURLErrorCannotWriteToFile, std::move(info));
        break;
      }
      done += static_cast<std::size_t>(n);
    }
    total = totalBytesRead_ += static_cast<std::int64_t>(done);
    block = downloadProgress_;
    if (response_) expected = response_->expectedContentLength();
  }
  if (failure) {
    c.cancel();
    failLoad(*failure);
    return;
  }
  if (block) {
    std::uint64_t length = data.size();
    postOnMainQueue([block, length, total, expected] { block(length, total, expected); });
  }
}

std::optional<os::CachedURLResponse> TLURLConnectionOperation::willCacheResponse(os::URLConnection& c,
                                                                               const os::CachedURLResponse& cached) {
  CacheResponseBlock block;
  {
    std::lock_guard guard(lock_);
    block = cacheResponse_;
  }
  if (block) return block(c, cached);
  if (isCancelled()) return std::nullopt;
  return cached;
}

void TLURLConnectionOperation::didFinishLoading(os::URLConnection& c) {
  std::shared_ptr<os::URLConnection> connection;
  {
    std::lock_guard guard(lock_);
    if (!isCurrent(c)) return;
    auto stream = outputStream();
    responseData_ = stream->dataWritten().value_or(os::Data{});
    stream->close();
    connection = std::move(connection_);
  }
  finish();
}

void TLURLConnectionOperation::didFailWithError(os::URLConnection& c, const os::Error& error) {
  {
    std::lock_guard guard(lock_);
    if (!isCurrent(c)) return;
  }
  // A body stream that broke says why better than the transfer's abort does.
  os::Error reported = error;
  if (auto body = inputStream())
    if (auto bodyError = body->streamError()) reported = *bodyError;
  failLoad(reported);
}

void TLURLConnectionOperation::failLoad(const os::Error& error) {
  std::shared_ptr<os::URLConnection> connection;
  {
    std::lock_guard guard(lock_);
    if (isFinished()) return;
    error_ = error;
    outputStream()->close();
    connection = std::move(connection_);
  }
  finish();
}
