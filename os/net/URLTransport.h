#pragma once
// The seam between a URL connection and the wire: one HTTP exchange per task, no redirects
// followed, no cookies handled (the connection does both). The default transport is libcurl;
// unit tests replace it process-wide with a scripted one.
#include <cstdint>
#include <memory>

#include "os/core/Error.h"
#include "os/net/HTTPURLResponse.h"
#include "os/net/URLReceiveWindow.h"
#include "os/net/URLRequest.h"

namespace os {

class RunLoop;

struct URLTransportOptions {
  bool allowsAnyCertificate = false;  // TLS peer verification off for this exchange
  // The calling thread's loop when that thread does nothing but run it for as long as the
  // exchange may last: the transport may then run the exchange there and send its events from
  // it, sparing the hand-overs to a thread of its own. Null: the transport's own thread.
  std::shared_ptr<RunLoop> runLoop;
  // The caller sleeps until the exchange ends: the transport may run all of it inside start, on
  // the calling thread, its events sent from there before start returns.
  bool blocking = false;
  // Set when the client hands the data on to a thread that takes it in its own time: the
  // transport charges every data event to it and stops reading while it is full. The client
  // gives back what is taken. Null: the client takes each event as it comes.
  std::shared_ptr<URLReceiveWindow> receiveWindow;
};

// Receives the events of one exchange, in order, on a thread of the transport's choosing:
// any number of body-sent, then one response (the final head; informational heads are
// skipped), any number of data, then exactly one of finish or fail (fail may come at any point).
// A body past the request's maximumReplyLength is stopped and fails the exchange with
// kURLErrorDataLengthExceedsMaximum.
class URLTransportClient {
 public:
  virtual ~URLTransportClient() = default;
  virtual void transportDidSendBodyData(std::int64_t bytesWritten, std::int64_t totalWritten, std::int64_t totalExpected) = 0;
  virtual void transportDidReceiveResponse(const HTTPURLResponse& response) = 0;
  virtual void transportDidReceiveData(Data data) = 0;
  virtual void transportDidFinish() = 0;
  virtual void transportDidFail(const Error& error) = 0;
};

class URLTransportTask {
 public:
  // Destroying a task cancels it.
  virtual ~URLTransportTask() = default;
  // No event follows once cancel has returned.
  virtual void cancel() = 0;
};

class URLTransport {
 public:
  virtual ~URLTransport() = default;
  // Starts the exchange at once. The request's body stream, if any, is opened and read by the
  // transport.
  virtual std::unique_ptr<URLTransportTask> start(const URLRequest& request, const URLTransportOptions& options,
                                                  std::shared_ptr<URLTransportClient> client) = 0;

  // The process-wide transport (libcurl unless replaced). Passing nullptr restores libcurl.
  static std::shared_ptr<URLTransport> shared();
  static void setShared(std::shared_ptr<URLTransport> transport);
  static std::shared_ptr<URLTransport> makeCurlTransport();
};

}  // namespace os
