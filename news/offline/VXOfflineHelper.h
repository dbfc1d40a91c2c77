#pragma once
// The offline download: brings the chosen categories' stored lists up to date when stale, fetches
// every stored article, keeps each as an offline file (VXOfflineArticleStore) and loads list icons
// and body pictures into the image cache. Categories go one at a time: a worker thread hands each
// to the global queue once the previous one has ended. Progress goes out as "fOfflineLoading"
// with 0..100, and -1 once when the run is over (finished or cancelled).
//
// Threads: start, cancel, the progress timer and every change of the run's counters happen on the
// main thread, which is also where "fOfflineLoading" is posted, so listeners see the values in the
// order they were set. Category work (database, detail requests, files, parsing) runs on global
// queue threads; the synchronous detail requests never run on the main thread.
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "news/store/VXNewsDBManager.h"
#include "os/core/Value.h"
#include "os/runtime/Semaphore.h"

namespace os {
class Thread;
class Timer;
struct Notification;
}  // namespace os
class BNWebImageManager;
class VXReaderContext;

// Its object is the progress as an integer number (no sender, no user info).
inline constexpr const char* kOfflineLoadingNotification = "fOfflineLoading";

class VXOfflineHelper : public std::enable_shared_from_this<VXOfflineHelper> {
 public:
  static constexpr double kTimerInterval = 0.5;
  static constexpr long long kListCount = 20;
  static constexpr long long kResultSuccess = 1;

  static std::shared_ptr<VXOfflineHelper> share();
  // The download of a given context, whose servers, database and state it uses (share() asks the
  // current one).
  static std::shared_ptr<VXOfflineHelper> share(VXReaderContext& context);
  // Replaces the shared instance (null: a fresh one on the next share()), which then downloads
  // for the current context; returns the previous one.
  static std::shared_ptr<VXOfflineHelper> setShared(std::shared_ptr<VXOfflineHelper> helper);

  VXOfflineHelper() = default;
  explicit VXOfflineHelper(std::weak_ptr<VXReaderContext> context) : context_(std::move(context)) {}
  ~VXOfflineHelper();
  VXOfflineHelper(const VXOfflineHelper&) = delete;
  VXOfflineHelper& operator=(const VXOfflineHelper&) = delete;

  // The progress number of an "fOfflineLoading" notification; nothing when it carries none.
  static std::optional<int> percentOf(const os::Notification& notification);

  // --- main thread ---
  // The categories of the next run, in the order the reader's list shows them; a run takes its
  // own copy at the start, and the list is emptied when the run ends.
  std::vector<long long>& selectedIDList() { return selectedIDList_; }
  void setSelectedIDList(std::vector<long long> list) { selectedIDList_ = std::move(list); }
  // Last percentage announced; -1 while no run is under way.
  int percent() const { return percent_; }
  // Stores a changed value (kept within -1..100) and posts it.
  void setPercent(int percent);
  // Categories of the current run that have ended.
  int count() const { return count_; }
  bool isRunning() const { return run_ != nullptr; }

  // Starts a run over selectedIDList(). False, starting nothing, while a run is under way, when
  // nothing is selected, or without a context to download for.
  bool startOffline();
  // Ends the run at once: -1 is posted, nothing more of this run is announced, no further
  // category or article of it starts, and pictures it has not asked for yet are not fetched.
  void killThread();
  // Every 0.5 s while running: creeps one point towards, but stops short of, the next category's
  // share.
  void timerFire();

  // Where the pictures go (default: the shared image manager) and where the lists come from
  // (default: the shared news database); both are taken when a run starts.
  void setImageManager(std::shared_ptr<BNWebImageManager> manager) { imageManager_ = std::move(manager); }
  void setDatabase(std::shared_ptr<VXNewsDBManager> db) { db_ = std::move(db); }

  // How a run ended, for the words said when its cover goes.
  struct Outcome {
    bool cancelled = false;
    int saved = 0;   // articles kept for reading
    int failed = 0;  // lists not brought up to date, and articles not kept
  };
  // The last run's, once it has ended (main thread).
  const std::optional<Outcome>& lastOutcome() const { return lastOutcome_; }
  // "离线下载完成", or what kept it from being whole.
  static std::string outcomeText(const Outcome& outcome);

  // Categories handed out and not ended yet, of any run (a cancelled run's category goes on to
  // the end of its current article). Any thread.
  int pendingCategories() const;

 private:
  struct Run;
  void threadRun(const std::shared_ptr<Run>& run);
  // Waits until no category of any run is in flight, then counts this run's next one; false
  // when the run was cancelled meanwhile.
  bool enterCategory(const std::shared_ptr<Run>& run);
  void leaveCategory();

  // --- steps of a category, on a global queue thread ---
  void refreshCategory(const std::shared_ptr<Run>& run, long long category);
  void requestNewsList(const std::shared_ptr<Run>& run, long long category, std::optional<long long> firstID);
  // Stores a list answer of result 1, asked for at `asked`, in place of the category's stored items,
  // unless the category stored items since. False when the list was not brought up to date: no
  // such answer, or the database refused it.
  static bool storeNewsList(const Run& run, long long category, VXNewsDBManager::ArticleTurn asked,
                            const std::optional<os::Dictionary>& data);
  void offlineNewsList(const std::shared_ptr<Run>& run, long long category);
  void downloadImage(const std::shared_ptr<Run>& run, std::vector<std::string> urls);
  // Hands the end of a category to the main thread.
  void downloadImageEnd(const std::shared_ptr<Run>& run);

  // Main thread: the category ended; counted when its run is still the current one.
  void categoryEnded(const std::shared_ptr<Run>& run);
  // Main thread: ends the current run and posts -1.
  void finishOffline();

  // Weak: the context keeps this helper.
  std::weak_ptr<VXReaderContext> context_;
  std::vector<long long> selectedIDList_;
  int percent_ = -1;
  int count_ = 0;
  std::shared_ptr<Run> run_;
  std::optional<Outcome> lastOutcome_;
  std::shared_ptr<os::Thread> thread_;
  std::shared_ptr<os::Timer> timer_;
  std::shared_ptr<BNWebImageManager> imageManager_;
  std::shared_ptr<VXNewsDBManager> db_;

  // One category in flight at a time, so that a new run never overlaps the tail of a cancelled one.
  os::Semaphore inFlightPermit_{1};
  std::atomic<int> inFlight_{0};
};
