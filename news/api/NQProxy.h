#pragma once
// Runs one request object as an HTTP request operation and hands back the raw answer text. The
// parsed runs of VXGlobalHelper sit on top of it.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "os/core/Error.h"
#include "os/core/TextEncoding.h"
#include "os/net/URLRequest.h"

class NQBaseRequest;
class VXRequestConfig;
class TLHTTPRequestOperation;

class NQProxy {
 public:
  using CompletedBlock = std::function<void(const std::string& responseText, os::StringEncoding encoding)>;
  using FailedBlock = std::function<void(const os::Error& error)>;

  // The time-out of a run given 0, and the fixed time-out of the synchronous run, in seconds.
  static constexpr double kDefaultTimeout = 10.0;
  static constexpr double kSynchronousTimeout = 5.0;

  // A proxy that is not started yet (call start()). `completed` runs on the global queue,
  // `failed` on the main queue after the failure lines were written to the console. A request
  // that cannot be built fails at start() with its error.
  static std::shared_ptr<NQProxy> loadWithRequest(NQBaseRequest& request, const VXRequestConfig& config,
                                                  double timeout, CompletedBlock completed, FailedBlock failed);
  // The same against the current reader context's servers.
  static std::shared_ptr<NQProxy> loadWithRequest(NQBaseRequest& request, double timeout, CompletedBlock completed,
                                                  FailedBlock failed);
  // A plain request that needs no envelope (the version check, an ad's callback address), with
  // its own time-out; started at once, both closures on the main queue.
  static void loadCommonRequest(const os::URLRequest& request, CompletedBlock completed, FailedBlock failed);
  // Runs the request with a 5 s time-out and blocks until it finished; the answer text, or
  // nothing when no answer came. Refused on the main thread, which it would freeze.
  static std::optional<std::string> synchWithRequest(NQBaseRequest& request, const VXRequestConfig& config);

  // The time-out a run uses for the given one: 0 means the default.
  static double effectiveTimeout(double timeout) { return timeout == 0 ? kDefaultTimeout : timeout; }

  void start();
  bool isLoading();
  bool isLoaded();
  bool loading() const { return loading_; }
  bool loaded() const { return loaded_; }
  const std::shared_ptr<TLHTTPRequestOperation>& oper() const { return oper_; }

  NQProxy() = default;

 private:
  std::shared_ptr<TLHTTPRequestOperation> oper_;
  std::optional<os::Error> buildError_;
  FailedBlock failed_;  // only for a request that could not be built
  std::string className_;
  bool loading_ = false;
  bool loaded_ = false;
};
