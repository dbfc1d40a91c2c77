#pragma once
// The news client's request runner and its small shared services: runs request objects against
// the server configuration of its reader context, reduces the JSON answer to its "data" member,
// owns the caches folder, the "offline/" folder, the log file "log.txt" and the one shared
// progress HUD. One per reader context; the class operations use the current context's.
#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "os/core/Value.h"

#include "news/api/VXRequestConfig.h"

class KHProgressHUD;
class NQBaseRequest;
class VXReaderContext;
namespace os {
class View;
}

class VXGlobalHelper : public std::enable_shared_from_this<VXGlobalHelper> {
 public:
  // The "data" member of a usable answer, or nothing (the request failed).
  using CompletedBlock = std::function<void(const std::optional<os::Dictionary>& data)>;
  using FailedBlock = std::function<void()>;

  // The current reader context's runner.
  static VXGlobalHelper& share();
  // The runner of a given context.
  static VXGlobalHelper& share(VXReaderContext& context);
  // A runner for the context, which holds it.
  explicit VXGlobalHelper(std::weak_ptr<const VXReaderContext> context) : context_(std::move(context)) {}
  // Where this runner's requests go: its context's configuration.
  VXRequestConfig requestConfig() const;

  // "data" of an answer whose "errorcode" is not negative and whose "data" is an object holding
  // a number "result"; nothing otherwise, with one line in the log file saying why. The status in
  // "result" is not judged: each caller reads it. Members of the wrong type count as absent.
  static std::optional<os::Dictionary> praseRespString(const std::optional<std::string>& text);

  // Runs with the default 10 s time-out; the closure gets the parsed answer on the main queue.
  // A failed exchange only writes a console line: the closure is not called.
  static void loadWithRequest(NQBaseRequest& request, CompletedBlock completed);
  static void loadWithRequest(VXReaderContext& context, NQBaseRequest& request, CompletedBlock completed);
  // The same with a time-out (0: 10 s); a failed exchange calls `failed` on the main queue.
  static void loadWithRequest(NQBaseRequest& request, double timeout, CompletedBlock completed, FailedBlock failed);
  // The same against the servers of a given context.
  static void loadWithRequest(VXReaderContext& context, NQBaseRequest& request, double timeout,
                              CompletedBlock completed, FailedBlock failed);
  // Runs on the calling thread with a 5 s time-out and parses the answer. Never on the main
  // thread: there it is refused and answers nothing.
  static std::optional<os::Dictionary> synchWithRequest(NQBaseRequest& request);
  static std::optional<os::Dictionary> synchWithRequest(VXReaderContext& context, NQBaseRequest& request);

  // The Library's "Caches/" folder, with the trailing "/".
  static std::string cachesDirectory();
  // cachesDirectory() + "offline/", made when missing.
  static std::string offlineDirectory();
  // cachesDirectory() + "log.txt", an empty file made when missing.
  static std::string pathLog();
  // Appends the text and "\n". Safe from any thread; the file is kept below logLimit() by
  // dropping its oldest lines.
  static void writeLog(std::string_view text);
  // The log file's whole content, when it can be read as UTF-8 text.
  static std::optional<std::string> readLog();
  // Rewrites the log with what `edit` makes of its content (UTF-8 text), under the same lock as
  // writeLog, so no line written meanwhile is lost; nothing from `edit` leaves the log as it is,
  // and an empty text removes the file.
  static void editLog(const std::function<std::optional<std::string>(const std::string&)>& edit);
  static std::size_t logLimit();
  static void setLogLimit(std::size_t bytes);
  static constexpr std::size_t kDefaultLogLimit = 256 * 1024;

  // The one shared HUD, moved to whichever view asked last. Both show operations do their work
  // on the main queue: text alone (mode 5) or a spinner (mode 0) with the text as details, and
  // hide themselves after kAutoHideDelay when asked to.
  void showHud(const std::string& text, const std::shared_ptr<os::View>& view, bool autoHide);
  void showActivityHud(const std::string& text, const std::shared_ptr<os::View>& view, bool autoHide);
  void hideHud(bool animated);
  // Null until first shown.
  std::shared_ptr<KHProgressHUD> hud() const { return hud_; }
  static constexpr double kAutoHideDelay = 1.0;

 private:
  void showHud(int mode, const std::string& text, const std::shared_ptr<os::View>& view, bool autoHide);
  void placeHud(int mode, const std::string& text, const std::shared_ptr<os::View>& view, bool autoHide);

  std::weak_ptr<const VXReaderContext> context_;
  // The log is written from the main thread and from the parsing queue at once.
  std::mutex logMutex_;
  std::atomic<std::size_t> logLimit_{kDefaultLogLimit};

  std::shared_ptr<KHProgressHUD> hud_;  // main thread only
  unsigned hudGeneration_ = 0;          // which show an auto-hide belongs to
};
