#pragma once
// The application-wide state several screens consult: the server's "pass" switch (set: no ads,
// and the push-message setting works), whether the splash has ended, whether a full-screen state
// is up, the list refresh interval, the ads for article pages with their refresh clock, and the
// ids of the articles the reader opened.
//
// Main thread only, except nctime(), which the offline download reads from its worker.
#include <atomic>
#include <memory>
#include <optional>
#include <vector>

#include "news/store/VXAdDO.h"

class VXReaderContext;

namespace os {
class Timer;
}
class VXNewsDBManager;

// Posted (no object) when a full-screen state ends, so a held-back pushed headline can show.
inline constexpr const char* kScreenStatusNotification = "fScreenStatus";

class VXGlobalDefine : public std::enable_shared_from_this<VXGlobalDefine> {
 public:
  // How often the ad timer looks, and how old the last ad-list request must be before another.
  static constexpr double kAdTimerInterval = 10.0;
  static constexpr double kAdRefreshInterval = 300.0;
  static constexpr double kDefaultNctime = 3600.0;
  // "result" of a successful promotion answer.
  static constexpr long long kAdListSuccess = 0;

  // The shared instance, made on first use with its ad timer on the main run loop.
  static std::shared_ptr<VXGlobalDefine> share();
  // The state of a given context (share() asks the current one).
  static std::shared_ptr<VXGlobalDefine> share(VXReaderContext& context);
  // Replaces the shared instance (null: a fresh one on the next share()); returns the previous one.
  static std::shared_ptr<VXGlobalDefine> setShared(std::shared_ptr<VXGlobalDefine> state);
  // A new state with the initial values and its repeating ad timer scheduled on the main run loop.
  static std::shared_ptr<VXGlobalDefine> create();

  VXGlobalDefine() = default;  // use create(): this one has no timer
  ~VXGlobalDefine();
  VXGlobalDefine(const VXGlobalDefine&) = delete;
  VXGlobalDefine& operator=(const VXGlobalDefine&) = delete;

  // --- switches ---
  bool pass() const { return pass_; }
  void setPass(bool pass) { pass_ = pass; }
  bool splashEnd() const { return splashEnd_; }
  void setSplashEnd(bool ended) { splashEnd_ = ended; }
  int screenStatus() const { return screenStatus_; }
  // Stores a changed value; a change to 0 posts "fScreenStatus".
  void setScreenStatus(int status);
  // Seconds a category's stored list stays fresh.
  double nctime() const { return nctime_.load(); }
  void setNctime(double seconds) { nctime_.store(seconds); }

  // --- ads ---
  const std::vector<VXAdDO>& adArray() const { return adArray_; }
  void setAdArray(std::vector<VXAdDO> ads) { adArray_ = std::move(ads); }
  // Seconds since 1970 of the last ad-list request; 0 before the first.
  double adLastUpdateTime() const { return adLastUpdateTime_; }
  // The refresh rule: with the pass switch clear and t more than kAdRefreshInterval away from the
  // last request, requests the ad list and stores t; otherwise changes nothing.
  void setAdLastUpdateTime(double t);
  // The refresh rule at the current time; the timer calls it.
  void updateAdList();
  void timerFire();
  // Asks for the article ads; an answer with "result" 0 replaces adArray(), any other answer or a
  // failure keeps it.
  void adListRequest();
  // The ads of an ad-list answer whose "result" is 0, in order (items that are not objects left
  // out); nothing for a missing answer or any other result.
  static std::optional<std::vector<VXAdDO>> adsFromAnswer(const std::optional<os::Dictionary>& data);
  // An index into adArray() chosen uniformly at random, or -1 with the pass switch set or no ads.
  long randAdIndex() const;
  // The ad at randAdIndex(), or nothing.
  std::optional<VXAdDO> randAd() const;

  // --- read history ---
  const std::vector<long long>& newsHistoryArray() const { return newsHistoryArray_; }
  // Replaces the in-memory history with the stored one (trimmed first by the database).
  void initNewsHistoryArray();
  bool isNewsHistory(long long articleID) const;
  // Stores an id not yet in the history; true when it was added.
  bool addNewsHistory(long long articleID);

 private:
  // Follows the database's read history when its caches are cleared.
  void watch(const std::shared_ptr<VXNewsDBManager>& db);
  void historyCleared();

  bool pass_ = true;
  bool splashEnd_ = false;
  int screenStatus_ = 0;
  std::atomic<double> nctime_{kDefaultNctime};
  std::vector<VXAdDO> adArray_;
  double adLastUpdateTime_ = 0;
  std::vector<long long> newsHistoryArray_;
  std::shared_ptr<os::Timer> timer_;
  std::weak_ptr<VXNewsDBManager> watched_;
};
