#pragma once
// The push client's report scheduler: keeps the usage session (when the application became
// active and when it went inactive), makes and sends the report records, runs the periodic device,
// crash and location checks while the application is active, saves its state in the shared file
// cache when the application goes inactive and restores it at start, and gives every report its
// flag and its two addresses. All on the client thread.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "push/model/DUVPageFlowSession.h"
#include "push/network/address/DUVAddress.h"
#include "push/report/DUVBadgeNumber.h"
#include "push/report/DUVHttpRequest.h"
#include "push/report/DUVReportCache.h"
#include "push/report/DUVReportRecords.h"

namespace os {
class Timer;
}
class DUVFileCache;
class DUVUserDefaults;
struct DUVServiceEndpoints;

class DUVHttpSession : public DUVHttpRequestDelegate, public std::enable_shared_from_this<DUVHttpSession> {
 public:
  struct Environment {
    std::shared_ptr<DUVUserDefaults> identity;
    // The default report and user-service hosts; must outlive the scheduler.
    DUVServiceEndpoints* endpoints = nullptr;
    std::function<long()> networkStatus;
    // The lookup's latest report and user-service addresses (the backups).
    std::function<std::optional<DUVAddress>()> reportAddress;
    std::function<std::optional<DUVAddress>()> attributeReportAddress;
    std::string channel;
    // The shared file cache "ZURAR" when none is given.
    std::shared_ptr<DUVFileCache> fileCache;
  };
  static constexpr double kSessionGap = 30.0;
  static constexpr double kDeviceInterval = 86400.0;
  static constexpr double kCrashInterval = 86400.0;
  static constexpr double kLocationInterval = 7200.0;
  // Uploads on the wire at once. Reports made while that many are out wait in the report cache,
  // and go out in runs as uploads end.
  static constexpr std::size_t kMaximumUploads = 6;
  // The kind of a request that only carries waiting records out (the report service's).
  static constexpr std::uint32_t kCarrierType = 0;
  // The file-cache entry that marks the crash records the crash set took while the crash hook's
  // file may still hold them, stored with the set so that none is counted twice.
  static constexpr const char* kCrashTakenKey = "__DUVCrashTaken";
  // The waiting reports reach the file once their changes have been quiet this long, and under a
  // steady stream of changes no later than kReportSaveLongest after the first one not saved: each
  // save archives the whole cache, which a flood must not pay for every few seconds.
  static constexpr double kReportSaveQuiet = 1.0;
  static constexpr double kReportSaveLongest = 30.0;

  static std::shared_ptr<DUVHttpSession> create(Environment environment);
  ~DUVHttpSession() override;

  void trySetupSession();
  void prepareActive(double now);
  void reportInactive(double seconds);
  void reportLaunch();
  void reportDeviceInfo();
  void reportCrashLog();
  void reportLocation();
  void reportMsgStatus(int result, long long messageId);
  void reportActive(const DUVPageFlow& actives, double start, double close);
  void locationInfoChangeViaNetworkState(long status);
  // With crash capture on, what going inactive would save is kept prepared in the file cache's
  // crash snapshot, renewed soon after each change, for the crash handler to write out.
  void setCrashSnapshots(bool on);
  // Something the snapshot holds changed (the client calls it for pages, badge and positions).
  void noteChanged();
  void sendHttpReport(const std::shared_ptr<DUVReportRequest>& request);
  // Crashes that earlier runs recorded in `directory` join the crash set, which is written to the
  // file cache's file before the records leave the crash hook's file. `deviceInfo` and
  // `networkType` stand for records that carry none.
  std::size_t collectCrashRecords(const std::string& directory, const os::Dictionary& deviceInfo,
                                  const std::string& networkType);

  const std::shared_ptr<DUVReportCache>& reportCache() const { return reportCache_; }
  DUVLocationInfo& locationInfo() { return locationInfo_; }
  os::Array& logSet() { return logSet_; }
  bool isSetup() const { return isSetup_; }
  double startTime() const { return startTime_; }
  double closeTime() const { return closeTime_; }
  const std::shared_ptr<DUVPageFlowSession>& pageFlowController() const { return pageFlows_; }
  const std::shared_ptr<DUVBadgeNumberManager>& badgeNumberManager() const { return badgeNumberManager_; }

  void didReceivedHttpFeedback(DUVReportRequest& request, int statusCode) override;
  void didNotReceivedFromRequest(DUVReportRequest& request, bool resent, const os::Error& error) override;

  struct PrivateTag {};
  DUVHttpSession(PrivateTag, Environment environment);

 private:
  struct Check {
    const char* name;  // "device", "crash" or "location", as its early-firing log says
    const char* key;
    double interval;
    bool sendWhenUnknown;
    void (DUVHttpSession::*report)();
    std::shared_ptr<os::Timer> timer;
    double last = 0;
  };
  void setupSession(double t);
  void closeSession();
  void resumeSession();
  void startCheck(Check& check);
  void fireCheck(Check& check);
  void closeTimers();
  // The file-cache entries going inactive at `seconds` writes: the session's own, then with the
  // page flow's and the badge manager's.
  os::Dictionary sessionEntries(double seconds) const;
  os::Dictionary inactiveEntries(double seconds) const;
  void prepareCrashSnapshot();
  // The application key and uid a report needs are known.
  bool canSend() const;
  std::string defaultAddress(std::uint32_t type) const;
  std::string backUpAddress(std::uint32_t type) const;
  std::shared_ptr<DUVReportRequest> prepare(std::shared_ptr<DUVReportRequest> request);
  // A report's flag: unique among the pending records' keys.
  std::uint64_t takeFlag();
  // Uploads whose connection is still open.
  std::size_t uploading();
  void post(const std::shared_ptr<DUVReportRequest>& request);
  // While reports wait for a connection: carriers of the oldest records, as many as may go out.
  void carryWaiting();
  // Soon, once the upload that just ended has let go of its connection.
  void carryWaitingSoon();
  // The report cache changed: it is saved to the file cache's file soon (kReportSaveQuiet).
  void reportsChanged();
  void saveReports();

  Environment environment_;
  // Requests still on the wire: a session that ends (the client closing at exit) drops them, since
  // each keeps itself alive until its connection answers.
  std::vector<std::weak_ptr<DUVHttpRequest>> inFlight_;
  // Reports were kept back for want of a connection, and carriers take them out as uploads end.
  bool waiting_ = false;
  bool carryQueued_ = false;
  std::shared_ptr<os::Timer> saveTimer_;
  double firstUnsaved_ = 0;
  std::shared_ptr<DUVReportCache> reportCache_;
  std::shared_ptr<DUVFileCache> fileCache_;
  DUVLocationInfo locationInfo_;
  os::Array logSet_;
  os::Array crashTaken_;
  std::string crashDirectory_;
  bool isSetup_ = false;
  double closeTime_ = 0, startTime_ = 0;
  Check device_{"device", "__DUVCheckTime", kDeviceInterval, true, &DUVHttpSession::reportDeviceInfo, nullptr, 0};
  Check crash_{"crash", "__DUVCrashTimer", kCrashInterval, false, &DUVHttpSession::reportCrashLog, nullptr, 0};
  Check location_{"location", "__DUVLocationTimer", kLocationInterval, true, &DUVHttpSession::reportLocation, nullptr, 0};
  std::uint64_t reportFlag_ = 0;
  bool crashSnapshots_ = false;
  bool snapshotQueued_ = false;
  std::shared_ptr<DUVPageFlowSession> pageFlows_;
  std::shared_ptr<DUVBadgeNumberManager> badgeNumberManager_;
};
