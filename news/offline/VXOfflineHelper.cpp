#include "news/offline/VXOfflineHelper.h"

#include <algorithm>
#include <cmath>

#include "news/api/VXGlobalHelper.h"
#include "news/api/VXNewsDetailRequest.h"
#include "news/api/VXNewsListRequest.h"
#include "news/api/VXReaderContext.h"
#include "news/article/VXDetailXMLParseHelper.h"
#include "news/article/VXOfflineArticleStore.h"
#include "news/store/VXGlobalDefine.h"
#include "news/store/VXNewsDBManager.h"
#include "os/core/Date.h"
#include "os/runtime/DispatchQueue.h"
#include "os/runtime/NotificationCenter.h"
#include "os/runtime/RunLoop.h"
#include "os/runtime/Semaphore.h"
#include "os/runtime/Thread.h"
#include "os/runtime/Timer.h"
#include "os/views/Application.h"
#include "ui/images/BNWebImageManager.h"

// What one run works with, fixed at its start, so that queue threads never read the helper's
// main-thread state.
struct VXOfflineHelper::Run {
  std::weak_ptr<VXReaderContext> context;
  std::vector<long long> categories;
  std::shared_ptr<VXNewsDBManager> db;
  std::shared_ptr<BNWebImageManager> images;
  double nctime = VXGlobalDefine::kDefaultNctime;
  // One permit: a category starts only once the one before it has ended. Each run has its own,
  // so a run never inherits permits (or their lack) from an earlier one.
  os::Semaphore gate{1};
  std::atomic<bool> cancelled{false};
  // Counted on queue threads, read on the main thread when the run ends.
  std::atomic<int> saved{0};
  std::atomic<int> failed{0};
};

namespace {

std::shared_ptr<os::DispatchQueue> workQueue() { return os::DispatchQueue::global(os::DispatchQueue::Priority::Default); }

bool isSuccess(const os::Dictionary& data) {
  const os::Value* result = data.find("result");
  return result && result->isNumber() && result->intValue() == VXOfflineHelper::kResultSuccess;
}

}  // namespace

std::shared_ptr<VXOfflineHelper> VXOfflineHelper::share() { return share(*VXReaderContext::current()); }

std::shared_ptr<VXOfflineHelper> VXOfflineHelper::share(VXReaderContext& context) {
  return context.offline.get([&] { return std::make_shared<VXOfflineHelper>(context.weak_from_this()); });
}

std::shared_ptr<VXOfflineHelper> VXOfflineHelper::setShared(std::shared_ptr<VXOfflineHelper> helper) {
  auto context = VXReaderContext::current();
  if (helper) helper->context_ = context;
  return context->offline.set(std::move(helper));
}

VXOfflineHelper::~VXOfflineHelper() {
  if (timer_) timer_->invalidate();
}

std::optional<int> VXOfflineHelper::percentOf(const os::Notification& notification) {
  if (!notification.value.isNumber()) return std::nullopt;
  return static_cast<int>(notification.value.intValue());
}

void VXOfflineHelper::setPercent(int percent) {
  percent = std::clamp(percent, -1, 100);
  if (percent == percent_) return;
  percent_ = percent;
  os::NotificationCenter::defaultCenter().postValue(kOfflineLoadingNotification, os::Value(percent));
}

bool VXOfflineHelper::startOffline() {
  auto context = context_.lock();
  if (run_ || selectedIDList_.empty() || !context) return false;
  auto run = std::make_shared<Run>();
  run->context = context;
  run->categories = selectedIDList_;
  run->db = db_ ? db_ : VXNewsDBManager::share(*context);
  run->images = imageManager_ ? imageManager_ : BNWebImageManager::sharedManager();
  run->nctime = VXGlobalDefine::share(*context)->nctime();
  count_ = 0;
  percent_ = -1;
  run_ = run;
  // The screen stays lit for the whole run: a locked device would stop the download.
  if (auto app = os::Application::shared()) app->setIdleTimerDisabled(true);

  std::weak_ptr<VXOfflineHelper> weak = weak_from_this();
  timer_ = os::Timer::scheduled(*os::RunLoop::main(), kTimerInterval, true, [weak](os::Timer&) {
    if (auto self = weak.lock()) self->timerFire();
  });
  thread_ = os::Thread::create("VXOfflineHelper", [weak, run] {
    if (auto self = weak.lock()) self->threadRun(run);
  });
  thread_->start();
  return true;
}

void VXOfflineHelper::killThread() {
  if (!run_) return;
  run_->cancelled = true;
  if (thread_) thread_->cancel();
  // A worker waiting for the gate wakes, sees the mark and ends.
  run_->gate.signal();
  finishOffline();
}

void VXOfflineHelper::timerFire() {
  if (!run_) return;
  const int n = static_cast<int>(run_->categories.size());
  // One point short of the next category's share, and never the 100 that only the end announces.
  const int target = std::min(99, (count_ + 1) * 100 / n - 1);
  if (percent_ < target) setPercent(percent_ + 1);
}

int VXOfflineHelper::pendingCategories() const { return inFlight_.load(); }

// --- worker ---

void VXOfflineHelper::threadRun(const std::shared_ptr<Run>& run) {
  for (long long category : run->categories) {
    if (run->cancelled) return;
    run->gate.wait();
    if (!enterCategory(run)) return;
    auto self = shared_from_this();
    workQueue()->async([self, run, category] { self->refreshCategory(run, category); });
  }
}

bool VXOfflineHelper::enterCategory(const std::shared_ptr<Run>& run) {
  // A cancelled run's last category may still be finishing its article; never run beside it.
  inFlightPermit_.wait();
  if (run->cancelled) {
    inFlightPermit_.signal();
    return false;
  }
  ++inFlight_;
  return true;
}

void VXOfflineHelper::leaveCategory() {
  --inFlight_;
  inFlightPermit_.signal();
}

// --- one category ---

void VXOfflineHelper::refreshCategory(const std::shared_ptr<Run>& run, long long category) {
  if (run->cancelled) {
    downloadImageEnd(run);
    return;
  }
  const double last = run->db->lastUpdateWithCategory(category);
  const double now = os::Date::now().timeIntervalSinceReferenceDate();
  if (std::fabs(now - last) > run->nctime) {
    auto stored = run->db->createNewsListWithDB(category);
    std::optional<long long> first;
    if (!stored.empty() && stored.front()) first = stored.front()->ID();
    requestNewsList(run, category, first);
  } else {
    offlineNewsList(run, category);
  }
}

void VXOfflineHelper::requestNewsList(const std::shared_ptr<Run>& run, long long category,
                                      std::optional<long long> firstID) {
  VXNewsListRequest request(os::Dictionary{{"id", os::Value(category)},
                                           {"flag", os::Value(1)},
                                           {"upid", os::Value(firstID.value_or(0))},
                                           {"uptime", os::Value(-1)},
                                           {"count", os::Value(kListCount)}});
  auto self = shared_from_this();
  auto context = run->context.lock();
  if (!context) {
    downloadImageEnd(run);
    return;
  }
  // Taken before the request goes out: the reader's list may store newer items of the category
  // while this answer is on its way (a pull after a cancel, a refresh already out), which the
  // answer must not wipe.
  const VXNewsDBManager::ArticleTurn asked = run->db->articleTurn();
  // Both outcomes arrive on the main thread, where the synchronous detail requests that follow
  // would be refused (and would freeze the screen): the category goes back to the queue.
  VXGlobalHelper::loadWithRequest(
      *context, request, 0,
      [self, run, category, asked](const std::optional<os::Dictionary>& data) {
        workQueue()->async([self, run, category, asked, data] {
          if (!storeNewsList(*run, category, asked, data)) ++run->failed;
          self->offlineNewsList(run, category);
        });
      },
      [self, run, category] {
        ++run->failed;
        workQueue()->async([self, run, category] { self->offlineNewsList(run, category); });
      });
}

bool VXOfflineHelper::storeNewsList(const Run& run, long long category, VXNewsDBManager::ArticleTurn asked,
                                    const std::optional<os::Dictionary>& data) {
  if (!data || !isSuccess(*data)) return false;
  // A successful answer without a list says nothing about the category: the stored items stay.
  const os::Array* list = (*data)["newslist"].array();
  if (!list) return true;
  // In one step: the list read meanwhile, or left by a refusal (a full disk) or an end part-way,
  // is the old one or the new one, never an empty one. A refused list is one not brought up to date;
  // one that items stored since the request outdate is left to them.
  return run.db->replaceArticles(*list, category, asked).has_value();
}

void VXOfflineHelper::offlineNewsList(const std::shared_ptr<Run>& run, long long category) {
  std::vector<std::string> urls;
  auto addImageUrl = [&urls](const os::Value& value) {
    const std::string* url = value.string();
    if (!url || url->empty()) return;
    // One download per picture, however often the category shows it.
    if (std::find(urls.begin(), urls.end(), *url) == urls.end()) urls.push_back(*url);
  };

  for (const os::Dictionary& item : run->db->getNewsIDWithDB(category)) {
    // A cancel stops the category between articles; the one already asked for is kept.
    if (run->cancelled) break;
    addImageUrl(item["icon1"]);
    addImageUrl(item["icon2"]);
    addImageUrl(item["icon3"]);

    const long long ID = item["id"].intValue();
    VXNewsDetailRequest request(ID);
    auto context = run->context.lock();
    if (!context) break;
    // Caches cleared while the article is on its way (after a cancel) stay cleared of it.
    const unsigned long long asked = VXOfflineArticleStore::clearings(*context);
    auto detail = VXGlobalHelper::synchWithRequest(*context, request);
    // A refusal ("result" 2) is no article: writing it would replace a good file with nothing.
    os::Error error;
    if (!detail || !isSuccess(*detail) ||
        !VXOfflineArticleStore::saveWithInfo(*context, *detail, os::Value(category), os::Value(ID), &error, asked)) {
      ++run->failed;
      continue;
    }
    ++run->saved;

    os::Array rows;
    const os::Value& body = (*detail)["body"];
    VXDetailXMLParseHelper::share(*context)->parseXML(
        body.isString() ? std::optional<std::string>(*body.string()) : std::nullopt, rows);
    for (const os::Value& row : rows) {
      const os::Value& type = row["type"];
      if (type.isNumber() && type.intValue() == 2) addImageUrl(row["content"]);
    }
  }
  downloadImage(run, std::move(urls));
}

void VXOfflineHelper::downloadImage(const std::shared_ptr<Run>& run, std::vector<std::string> urls) {
  if (urls.empty() || run->cancelled) {
    downloadImageEnd(run);
    return;
  }
  auto remaining = std::make_shared<std::atomic<std::size_t>>(urls.size());
  auto self = shared_from_this();
  for (const std::string& url : urls) {
    auto reported = std::make_shared<std::atomic<bool>>(false);
    run->images->downloadImageWithURL(
        std::string_view(url), 0, {},
        [self, run, remaining, reported](BNImagePtr, std::optional<os::Error> error, BNCacheSource, bool finished,
                                         std::optional<os::URL>) {
          // A partial picture is no completion; each download counts once, done or failed.
          if (!finished && !error) return;
          if (reported->exchange(true)) return;
          if (remaining->fetch_sub(1) == 1) self->downloadImageEnd(run);
        });
  }
}

void VXOfflineHelper::downloadImageEnd(const std::shared_ptr<Run>& run) {
  auto self = shared_from_this();
  os::DispatchQueue::main()->async([self, run] { self->categoryEnded(run); });
}

// --- main thread ---

void VXOfflineHelper::categoryEnded(const std::shared_ptr<Run>& run) {
  leaveCategory();
  // A category of a cancelled run ends after its run did: it announces nothing and opens no gate.
  if (run != run_) return;
  ++count_;
  const int n = static_cast<int>(run->categories.size());
  setPercent(std::min(100, count_ * 100 / n));
  if (count_ < n) {
    run->gate.signal();
  } else {
    finishOffline();
  }
}

std::string VXOfflineHelper::outcomeText(const Outcome& outcome) {
  if (outcome.cancelled) return "离线下载已取消";
  if (outcome.failed == 0) return "离线下载完成";
  if (outcome.saved == 0) return "离线下载失败";
  return "离线下载完成，部分文章未能下载";
}

void VXOfflineHelper::finishOffline() {
  if (!run_) return;
  lastOutcome_ = Outcome{run_->cancelled.load(), run_->saved.load(), run_->failed.load()};
  run_.reset();
  thread_.reset();
  if (timer_) timer_->invalidate();
  timer_.reset();
  count_ = 0;
  selectedIDList_.clear();
  // Exactly one -1 per run, whatever was announced before it.
  percent_ = -1;
  if (auto app = os::Application::shared()) app->setIdleTimerDisabled(false);
  os::NotificationCenter::defaultCenter().postValue(kOfflineLoadingNotification, os::Value(-1));
}
