#include "push/network/DUVHttpSession.h"

#include <algorithm>

#include "os/crypto/Random.h"
#include "os/runtime/Clock.h"
#include "os/runtime/RunLoop.h"
#include "os/runtime/Timer.h"
#include "push/network/address/DUVServiceEndpoints.h"
#include "push/report/DUVCrashCapture.h"
#include "push/utilities/DUVFileCache.h"
#include "push/utilities/DUVLogger.h"
#include "push/utilities/DUVUserDefaults.h"
#include "push/utilities/DUVUtilities.h"

namespace {
std::shared_ptr<DUVLogger> logger() { return DUVClassLogger("DUVHttpSession"); }
// Whole seconds of a time this process made; an impossible one counts as 0 (unknown).
double wholeSeconds(double t) { return DUVPlausibleTime(t).value_or(0); }
}  // namespace

std::shared_ptr<DUVHttpSession> DUVHttpSession::create(Environment environment) {
  auto session = std::make_shared<DUVHttpSession>(PrivateTag{}, std::move(environment));
  std::weak_ptr<DUVHttpSession> weak = session;
  session->pageFlows_ = std::make_shared<DUVPageFlowSession>(
      session->fileCache_, DUVPageFlowSession::Reporter{[weak] {
                                                          if (auto self = weak.lock()) self->reportLaunch();
                                                        },
                                                        [weak](const DUVPageFlow& pages) {
                                                          auto self = weak.lock();
                                                          if (!self) return;
                                                          double close = self->closeTime_ > 0 ? self->closeTime_
                                                                                              : DUVGetCurrentTimestamp();
                                                          self->reportActive(pages, self->startTime_, close);
                                                        }});
  session->badgeNumberManager_ = std::make_shared<DUVBadgeNumberManager>(
      session->fileCache_, [weak](const std::shared_ptr<DUVReportRequest>& request) {
        if (auto self = weak.lock()) self->prepare(request);
      });
  session->resumeSession();
  session->isSetup_ = true;
  return session;
}

DUVHttpSession::DUVHttpSession(PrivateTag, Environment environment) : environment_(std::move(environment)) {
  fileCache_ = environment_.fileCache ? environment_.fileCache : DUVFileCache::startShareInstance("ZURAR");
  reportFlag_ = (std::uint64_t{os::random32()} << 32) | os::random32();
}

DUVHttpSession::~DUVHttpSession() {
  closeTimers();
  if (saveTimer_) saveTimer_->invalidate();
  for (auto& weak : inFlight_)
    if (auto request = weak.lock()) request->cancel();
}

void DUVHttpSession::resumeSession() {
  reportCache_ = DUVReportCache::fromArchivedValue(fileCache_->objectForKey("__DUVHistroyCache"));
  locationInfo_ = DUVLocationInfo::fromArchivedValue(fileCache_->objectForKey("__DUVLocationLog"));
  if (const os::Array* logs = fileCache_->objectForKey("__DUVCrashLog").array()) logSet_ = *logs;
  if (const os::Array* taken = fileCache_->objectForKey(kCrashTakenKey).array()) crashTaken_ = *taken;
  // Times from the file that no clock could have given read as absent.
  startTime_ = DUVPlausibleTime(fileCache_->objectForKey("__DUVStart_time")).value_or(0);
  if (startTime_ <= 0)
    startTime_ = DUVGetCurrentTimestamp();
  else
    closeTime_ = DUVPlausibleTime(fileCache_->objectForKey("__DUVLeft_time")).value_or(0);
  for (Check* check : {&device_, &crash_, &location_})
    check->last = DUVPlausibleTime(fileCache_->objectForKey(check->key)).value_or(0);
}

void DUVHttpSession::trySetupSession() { setupSession(DUVGetCurrentTimestamp()); }

void DUVHttpSession::setupSession(double t) {
  if (isSetup_) return;
  isSetup_ = true;
  startTime_ = t;
  pageFlows_->setupSession();
}

void DUVHttpSession::closeSession() {
  if (!isSetup_) return;
  // The page flows report the next launch and this session's pages.
  pageFlows_->closeSession();
  isSetup_ = false;
  closeTime_ = startTime_ = 0;
}

void DUVHttpSession::prepareActive(double now) {
  reportCache_->resetCache();
  // Records still waiting (from the last run, or from uploads that never ended) go out through
  // the carriers a packet at a time, through the bound; taken into the next report they would be
  // cut to the newest that fit its content.
  if (reportCache_->count() > 0) waiting_ = true;
  pageFlows_->resetCurrentPage(now);
  badgeNumberManager_->becomeActive();
  if (closeTime_ > 0) {
    double gap = now - closeTime_;
    if (gap > kSessionGap || gap < 0) {
      closeSession();
      setupSession(now);
    }
    closeTime_ = 0;
  } else {
    reportLaunch();
  }
  for (Check* check : {&crash_, &device_, &location_}) startCheck(*check);
  carryWaiting();
  reportsChanged();
}

void DUVHttpSession::reportInactive(double seconds) {
  pageFlows_->savePageFlowWithTime(wholeSeconds(seconds));
  badgeNumberManager_->willInactive();
  closeTime_ = wholeSeconds(seconds);
  for (const auto& [key, value] : sessionEntries(seconds)) fileCache_->setObject(value, key);
  closeTimers();
  // Everything is saved here: a save still to come has nothing to add.
  if (saveTimer_) saveTimer_->invalidate();
  saveTimer_.reset();
  // Once the crash set is stored, the crash records it took leave the hook's file. Marks restored
  // before this run read the records wait for that reading: until then the folder is unknown.
  if (fileCache_->synchronize() && !crashTaken_.empty() && !crashDirectory_.empty())
    DUVCrashCapture::release(crashDirectory_, crashTaken_);
  noteChanged();
}

os::Dictionary DUVHttpSession::sessionEntries(double seconds) const {
  os::Dictionary entries{{"__DUVLeft_time", os::Value(seconds)},
                         {"__DUVStart_time", os::Value(static_cast<long long>(wholeSeconds(startTime_)))}};
  for (const Check* check : {&device_, &crash_, &location_})
    entries.set(check->key, os::Value(static_cast<long long>(wholeSeconds(check->last))));
  entries.set("__DUVHistroyCache", reportCache_->archivedValue());
  entries.set("__DUVLocationLog", locationInfo_.archivedValue());
  entries.set("__DUVCrashLog", os::Value(logSet_));
  entries.set(kCrashTakenKey, os::Value(crashTaken_));
  return entries;
}

os::Dictionary DUVHttpSession::inactiveEntries(double seconds) const {
  os::Dictionary entries = sessionEntries(seconds);
  entries.set(DUVPageFlowSession::kLastFlowKey, os::Value(pageFlows_->flowSavedAt(wholeSeconds(seconds))));
  const auto& badge = badgeNumberManager_->badgeValue();
  entries.set(DUVBadgeNumberManager::kBadgeKey, badge ? os::Value(*badge) : os::Value());
  return entries;
}

void DUVHttpSession::setCrashSnapshots(bool on) {
  crashSnapshots_ = on;
  noteChanged();
}

void DUVHttpSession::noteChanged() {
  if (!crashSnapshots_ || snapshotQueued_) return;
  // Changes come in bursts (a packet and its answer, a page and the next): one snapshot for each.
  snapshotQueued_ = true;
  std::weak_ptr<DUVHttpSession> weak = weak_from_this();
  os::RunLoop::current()->post([weak] {
    if (auto self = weak.lock()) self->prepareCrashSnapshot();
  });
}

void DUVHttpSession::prepareCrashSnapshot() {
  snapshotQueued_ = false;
  if (crashSnapshots_) fileCache_->prepareCrashSnapshot(inactiveEntries(DUVGetCurrentTimestamp()));
}

void DUVHttpSession::closeTimers() {
  for (Check* check : {&crash_, &device_, &location_}) {
    if (check->timer) check->timer->invalidate();
    check->timer.reset();
  }
}

void DUVHttpSession::startCheck(Check& check) {
  if (check.timer) check.timer->invalidate();
  check.timer.reset();
  double now = DUVGetCurrentTimestamp();
  if (check.last == 0) check.last = DUVPlausibleTime(fileCache_->objectForKey(check.key)).value_or(0);
  if (check.last == 0) {
    if (check.sendWhenUnknown) (this->*check.report)();
    check.last = now;
  }
  long long elapsed = static_cast<long long>(now - check.last);
  if (elapsed < 0 || static_cast<double>(elapsed) >= check.interval) {
    (this->*check.report)();
    elapsed = 0;
  }
  std::weak_ptr<DUVHttpSession> weak = weak_from_this();
  Check* which = &check;
  check.timer = os::Timer::scheduled(check.interval - static_cast<double>(elapsed), false, [weak, which](os::Timer&) {
    if (auto self = weak.lock()) self->fireCheck(*which);
  });
}

void DUVHttpSession::fireCheck(Check& check) {
  double now = DUVGetCurrentTimestamp();
  if (&check != &device_) fileCache_->removeObjectForKey(check.key);
  if (now - check.last >= check.interval || (&check == &device_ && !fileCache_->hasObjectForKey("__DUVLastDeviceInfo"))) {
    check.last = now;
    startCheck(check);
    (this->*check.report)();
    noteChanged();
    return;
  }
  logger()->logMessage(std::nullopt, std::string("time interval between last check ") + check.name +
                                         " log and current do not last more than " +
                                         std::to_string(static_cast<long>(check.interval)) + " second",
                       &DUVLevel::error());
}

std::shared_ptr<DUVReportRequest> DUVHttpSession::prepare(std::shared_ptr<DUVReportRequest> request) {
  if (const auto& identity = environment_.identity)
    request->setIdentity({identity->uid(), identity->password(), identity->appkey()});
  std::weak_ptr<DUVHttpSession> weak = weak_from_this();
  request->setSender([weak](const std::shared_ptr<DUVReportRequest>& r) {
    if (auto self = weak.lock()) self->sendHttpReport(r);
  });
  return request;
}

void DUVHttpSession::reportLaunch() { prepare(std::make_shared<DUVUserLoginReportRequest>(reportCache_))->send(); }

void DUVHttpSession::reportDeviceInfo() {
  prepare(std::make_shared<DUVUserDeviceReportRequest>(reportCache_, fileCache_, environment_.channel))->send();
}

bool DUVHttpSession::canSend() const {
  const auto& identity = environment_.identity;
  return identity && !identity->appkey().empty() && identity->uid() != 0;
}

void DUVHttpSession::reportCrashLog() {
  // Kept until a request can take them: cleared only once one is sent.
  if (logSet_.empty() || !canSend()) return;
  prepare(std::make_shared<DUVCrashHandlerReportRequest>(reportCache_, logSet_))->send();
  logSet_.clear();
}

std::size_t DUVHttpSession::collectCrashRecords(const std::string& directory, const os::Dictionary& deviceInfo,
                                                const std::string& networkType) {
  crashDirectory_ = directory;
  std::size_t count = DUVCrashCapture::collect(directory, logSet_, crashTaken_, deviceInfo, networkType, [this] {
    fileCache_->setObject(os::Value(logSet_), "__DUVCrashLog");
    fileCache_->setObject(os::Value(crashTaken_), kCrashTakenKey);
    return fileCache_->synchronize();
  });
  if (count > 0) noteChanged();
  return count;
}

void DUVHttpSession::reportLocation() {
  if (locationInfo_.count() == 0 || !canSend()) return;
  prepare(std::make_shared<DUVLocationReportRequest>(reportCache_, fileCache_, locationInfo_))->send();
  locationInfo_.clearAllInfo();
}

void DUVHttpSession::reportMsgStatus(int result, long long messageId) {
  prepare(std::make_shared<DUVMessageReportRequest>(reportCache_, result, messageId))->send();
}

void DUVHttpSession::reportActive(const DUVPageFlow& actives, double start, double close) {
  prepare(std::make_shared<DUVUserActiveReportRequest>(reportCache_, actives, start, close))->send();
}

void DUVHttpSession::locationInfoChangeViaNetworkState(long status) {
  noteChanged();
  if (status == 2)
    DUVLocationInfo::addTo(locationInfo_.wifiInfo, os::Value(os::Dictionary{{"mac_address", os::Value(ZRFMACAddress())},
                                                                             {"ssid", os::Value(ZRFSSID())}}));
  if (status == 3)
    DUVLocationInfo::addTo(locationInfo_.cellInfo,
                           os::Value(os::Dictionary{{"mobile_network_code", os::Value(CTMobileNetworkCode().value_or(""))},
                                                    {"mobile_country_code", os::Value(CTCountryCode().value_or(""))}}));
}

std::string DUVHttpSession::defaultAddress(std::uint32_t type) const {
  if (type >= 20) return "";
  const std::string host = !environment_.endpoints ? "" : type < 10 ? environment_.endpoints->reportHost
                                                                     : environment_.endpoints->userHost;
  // No service host configured: the looked-up address is the only one there is.
  if (host.empty()) return backUpAddress(type);
  return "http://" + host + (type < 10 ? "/v2/report" : "/v1/user/");
}

std::string DUVHttpSession::backUpAddress(std::uint32_t type) const {
  if (type >= 20) return "";
  bool report = type < 10;
  auto address = report ? (environment_.reportAddress ? environment_.reportAddress() : std::nullopt)
                        : (environment_.attributeReportAddress ? environment_.attributeReportAddress() : std::nullopt);
  if (address && address->httpWrapAddress) return *address->httpWrapAddress;
  const auto& identity = environment_.identity;
  if (!identity) return "";
  return (report ? identity->backupReportAddress() : identity->attributeReportAddress()).value_or("");
}

void DUVHttpSession::sendHttpReport(const std::shared_ptr<DUVReportRequest>& request) {
  if (!canSend()) {
    logger()->logMessage("appkey or uid missing", "appkey or uid missing", &DUVLevel::warn());
    return;
  }
  request->setReportFlag(takeFlag());
  // Every connection taken, or older reports still waiting: this one waits behind them, in the
  // report cache, rather than opening one more connection (a flood of notifications would open
  // one each). The next packets of a request already under way go on while connections are free.
  if (request->cacheRequestRequired() &&
      (uploading() >= kMaximumUploads || (waiting_ && !request->isSubpackage()))) {
    request->keepForLater();
    waiting_ = true;
    carryWaiting();
    reportsChanged();
    return;
  }
  post(request);
}

std::uint64_t DUVHttpSession::takeFlag() {
  // The first value whose text no pending record holds.
  while (reportCache_->checkReportFlag(std::to_string(reportFlag_))) ++reportFlag_;
  return reportFlag_++;
}

std::size_t DUVHttpSession::uploading() {
  std::erase_if(inFlight_, [](const auto& weak) { return weak.expired(); });
  return inFlight_.size();
}

void DUVHttpSession::post(const std::shared_ptr<DUVReportRequest>& request) {
  long status = environment_.networkStatus ? environment_.networkStatus() : 2;
  std::shared_ptr<DUVHttpRequest> made;
  bool sent = DUVHttpRequest::send(request, reportCache_, defaultAddress(request->reportType()),
                                   backUpAddress(request->reportType()), weak_from_this(), status != 0, &made);
  // A request keeps itself alive while its connection is open, and only then.
  std::erase_if(inFlight_, [](const auto& weak) { return weak.expired(); });
  if (made && status != 0) inFlight_.push_back(made);
  made.reset();
  if (sent && request->isSubpackage()) request->send();
  reportsChanged();
}

void DUVHttpSession::carryWaiting() {
  while (waiting_ && uploading() < kMaximumUploads) {
    if (reportCache_->count() == 0) {
      waiting_ = false;
      return;
    }
    if (!canSend()) return;
    auto carrier = prepare(std::make_shared<DUVReportRequest>(kCarrierType, reportCache_));
    carrier->setTakesInOnePacketOnly(true);
    carrier->setReportFlag(takeFlag());
    const std::size_t before = reportCache_->count();
    post(carrier);
    // Nothing left the cache (nothing could be packed): the records wait for the next report.
    if (reportCache_->count() >= before) return;
    // No connection for it (the network is down): its records wait in flight, as any report's do.
    if (environment_.networkStatus && environment_.networkStatus() == 0) return;
  }
}

void DUVHttpSession::carryWaitingSoon() {
  if (!waiting_ || carryQueued_) return;
  carryQueued_ = true;
  std::weak_ptr<DUVHttpSession> weak = weak_from_this();
  os::RunLoop::current()->post([weak] {
    if (auto self = weak.lock()) {
      self->carryQueued_ = false;
      self->carryWaiting();
    }
  });
}

void DUVHttpSession::didReceivedHttpFeedback(DUVReportRequest& request, int statusCode) {
  request.handleReceipt(statusCode);
  // An answer that settled its records frees its connection for waiting ones. After a refusal
  // for now (403, 5xx) they wait as its records do, for the next report, rather than being sent
  // straight back to a service that is refusing them.
  if (statusCode == 200 || statusCode == 400 || statusCode == 401) carryWaitingSoon();
  reportsChanged();
}

void DUVHttpSession::reportsChanged() {
  const double now = os::Clock::now();
  if (saveTimer_ && saveTimer_->isValid()) {
    double due = std::min(now + kReportSaveQuiet, firstUnsaved_ + kReportSaveLongest);
    saveTimer_->setFireDate(os::Date::fromTimeIntervalSince1970(due));
  } else {
    firstUnsaved_ = now;
    std::weak_ptr<DUVHttpSession> weak = weak_from_this();
    saveTimer_ = os::Timer::scheduled(kReportSaveQuiet, false, [weak](os::Timer&) {
      if (auto self = weak.lock()) self->saveReports();
    });
  }
  noteChanged();
}

void DUVHttpSession::saveReports() {
  saveTimer_.reset();
  fileCache_->setObject(reportCache_->archivedValue(), "__DUVHistroyCache");
  fileCache_->synchronize();
}

void DUVHttpSession::didNotReceivedFromRequest(DUVReportRequest& request, bool, const os::Error& error) {
  reportsChanged();
  if (request.reportType() <= 10) {
    logger()->logMessage(std::nullopt, "reportRequest error:" + std::to_string(error.code), &DUVLevel::error());
  } else if (auto* badge = dynamic_cast<DUVBadgeNumberReportRequest*>(&request)) {
    std::string text = "send badge:" + std::to_string(badge->badgeCount()) + " error:" + std::to_string(error.code);
    logger()->logMessage(text, text, &DUVLevel::error());
    logger()->logMessage(text, std::nullopt, &DUVLevel::force());
  }
}
