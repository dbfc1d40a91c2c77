#include "qqconnect/analytics/VMA4QC.h"

#include "foundation/formats/DateCalendar.h"
#include "os/crypto/Random.h"
#include "os/runtime/Clock.h"
#include "os/runtime/NotificationCenter.h"
#include "os/store/Sandbox.h"
#include "os/store/UserDefaults.h"
#include "os/views/Application.h"
#include "qqconnect/analytics/VMA4QCHelper.h"
#include "qqconnect/analytics/VMA4QCNetwork.h"

namespace {
std::uint32_t nowSeconds() { return static_cast<std::uint32_t>(os::Clock::now()); }

// A fixed prefix spelled at run time, so the key never appears whole in the binary.
std::string analyticsKey(const std::string& appid) {
  const char prefix[] = {'I', 'Q', 'C', 0};
  return std::string(prefix) + appid;
}

void appendElement(std::string& key, const os::Value& v) {
  std::string text = v.isString() ? *v.string() : v.description();
  key += std::to_string(text.size()) + ":" + text;
}
}  // namespace

VMA4QC::Options VMA4QC::Options::standard() {
  auto sandbox = os::Sandbox::current();
  return {sandbox->documentsDirectory(), kDefaultReportURL, sandbox->standardUserDefaults(), true};
}

VMA4QC::VMA4QC(Options options) : options_(std::move(options)), generator_(os::random32()) {
  env_ = VMA4QCEnv::gather();
  dispatcher_ = std::make_unique<VMA4QCDispatcher>(options_.reportURL,
                                                   [this](const os::Value& answer) { holder_.updateOnlineConfig(answer); });
  store_ = std::make_unique<VMA4QCStore>(
      config_, options_.documentsDirectory + "/" + VMA4QCStore::kDatabaseName,
      [this](std::vector<std::string> batch, VMA4QCStore::Callback done) { dispatcher_->send(std::move(batch), std::move(done)); });
  holder_.setStore(store_.get());
  if (options_.defaults && options_.defaults->integerForKey("VMA4QC_SDK_DB_VER") == 0)
    options_.defaults->setInteger(1, "VMA4QC_SDK_DB_VER");
  queue_.async([this] {
    holder_.loadStored();
    if (config_.get().reportStrategy == 3) store_->sendCachedEvents(-1);
  });
  if (!options_.observeLifeCycle) return;
  auto& center = os::NotificationCenter::defaultCenter();
  auto observe = [&](const char* name, std::optional<bool> timeoutTest) {
    observers_.push_back(center.addObserver(name, nullptr, [this, timeoutTest](const os::Notification&) {
      if (!timeoutTest) {
        // Events reported before the end are stored first: the process may be gone right after.
        // One pass, local work only; an answer still coming from the network is not waited for.
        queue_.drain();
        store_->queue().drain();
        store_->close();
        return;
      }
      if (enabled()) sessionCheck(*timeoutTest);
    }));
  };
  observe(os::kApplicationWillResignActiveNotification, false);
  observe(os::kApplicationDidEnterBackgroundNotification, false);
  observe(os::kApplicationDidBecomeActiveNotification, true);
  observe(os::kApplicationWillEnterForegroundNotification, true);
  observe(os::kApplicationWillTerminateNotification, std::nullopt);
}

VMA4QC::~VMA4QC() {
  for (auto token : observers_) os::NotificationCenter::defaultCenter().removeObserver(token);
  flush();
}

VMA4QC& VMA4QC::getInstance() {
  // Made once, whichever thread asks first; it lives for the process.
  static VMA4QC* shared = new VMA4QC(Options::standard());
  return *shared;
}

void VMA4QC::flush() {
  while (!queue_.idle() || !store_->queue().idle() || !dispatcher_->queue().idle()) {
    queue_.drain();
    store_->queue().drain();
    dispatcher_->queue().drain();
  }
}

void VMA4QC::setStatEnable(bool enable) {
  config_.edit([enable](VMA4QCSettings& s) { s.statEnable = enable; });
}

void VMA4QC::startWithAppkey(const std::string& appkey) {
  if (!enabled() || appkey.empty()) return;
  config_.edit([&](VMA4QCSettings& s) { s.appkey = appkey; });
  sessionCheck(false);
}

void VMA4QC::start4QQConnect(const std::string& appid) {
  config_.edit([](VMA4QCSettings& s) {
    s.sendPeriodMinutes = 1440;
    s.reportStrategy = 5;
    s.channel = "QQConnect";
  });
  startWithAppkey(analyticsKey(appid));
}

std::uint32_t VMA4QC::sessionCheck(bool timeoutTest) {
  const std::uint32_t now = nowSeconds();
  const std::uint32_t timeout = config_.get().sessionTimeoutSecs;
  std::unique_lock lock(mutex_);
  if (timeoutTest && now - lastActivity_ >= timeout) startSession(now);
  if (now >= nextDay_) startSession(now);
  lastActivity_ = now;
  while (sessionId_ == 0) startSession(now);
  return sessionId_;
}

// Called with the session state locked.
void VMA4QC::startSession(std::uint32_t now) {
  DateComponents local = DateCalendar::currentCalendar().components(os::Date::fromTimeIntervalSince1970(now));
  nextDay_ = now - static_cast<std::uint32_t>(local.hour * 3600 + local.minute * 60 + local.second) + 86400;
  sessionId_ = generator_() & 0x7fffffffu;
  report(std::make_shared<VMA4QCSessionEnv>(sessionId_));
  // The forced addition check, inline: the state is already ours.
  if (!enabled()) return;
  if (auto qq = config_.get().qq) report(std::make_shared<VMA4QCAdditionEvent>(sessionId_));
  additionSent_ = true;
}

void VMA4QC::additionCheck(bool forced) {
  if (!enabled()) return;
  std::lock_guard lock(mutex_);
  if (!forced && additionSent_) return;
  if (config_.get().qq) report(std::make_shared<VMA4QCAdditionEvent>(sessionId_));
  additionSent_ = true;
}

void VMA4QC::trackCustomEvent(const std::string& eventID, const os::Array& args) {
  if (!enabled()) return;
  additionCheck(false);
  report(std::make_shared<VMA4QCCustomEvent>(sessionCheck(false), eventID, args, std::nullopt, 0));
}

void VMA4QC::trackCustomKeyValueEvent(const std::string& eventID, const os::Dictionary& props) {
  if (!enabled() || eventID.empty()) return;
  additionCheck(false);
  report(std::make_shared<VMA4QCCustomEvent>(sessionCheck(false), eventID, std::nullopt, props, 0));
}

std::string VMA4QC::timerKey(const std::string& eventID, const os::Array& args) {
  std::string key = eventID + "[";
  for (const auto& v : args) appendElement(key, v);
  return key;
}

std::string VMA4QC::timerKey(const std::string& eventID, const os::Dictionary& props) {
  std::string key = eventID + "{";
  for (const auto& [k, v] : props) {
    appendElement(key, os::Value(k));
    appendElement(key, v);
  }
  return key;
}

void VMA4QC::startTimer(const std::string& eventID, const std::string& key) {
  if (!enabled() || eventID.empty()) return;
  additionCheck(false);
  const std::uint32_t limit = config_.get().maxParallelTimingEvents;
  std::lock_guard lock(mutex_);
  if (!openTimers_) openTimers_.emplace();
  if (!openTimers_->contains(key) && openTimers_->size() < limit) (*openTimers_)[key] = nowSeconds();
}

std::optional<std::uint32_t> VMA4QC::stopTimer(const std::string& eventID, const std::string& key) {
  if (!enabled() || eventID.empty()) return std::nullopt;
  std::lock_guard lock(mutex_);
  if (!openTimers_) return std::nullopt;
  auto found = openTimers_->find(key);
  if (found == openTimers_->end()) return std::nullopt;
  std::uint32_t duration = nowSeconds() - found->second;
  openTimers_->erase(found);
  return duration == 0 ? 1 : duration;
}

void VMA4QC::trackCustomEventBegin(const std::string& eventID, const os::Array& args) {
  startTimer(eventID, timerKey(eventID, args));
}

void VMA4QC::trackCustomEventEnd(const std::string& eventID, const os::Array& args) {
  if (auto duration = stopTimer(eventID, timerKey(eventID, args)))
    report(std::make_shared<VMA4QCCustomEvent>(sessionCheck(false), eventID, args, std::nullopt, *duration));
}

void VMA4QC::trackCustomKeyValueEventBegin(const std::string& eventID, const os::Dictionary& props) {
  startTimer(eventID, timerKey(eventID, props));
}

void VMA4QC::trackCustomKeyValueEventEnd(const std::string& eventID, const os::Dictionary& props) {
  if (auto duration = stopTimer(eventID, timerKey(eventID, props)))
    report(std::make_shared<VMA4QCCustomEvent>(sessionCheck(false), eventID, std::nullopt, props, *duration));
}

void VMA4QC::startNewSession() {
  if (enabled()) sessionCheck(true);
}

void VMA4QC::stopSession() {
  std::lock_guard lock(mutex_);
  lastActivity_ = 0;
}

void VMA4QC::reportQQ(const std::string& qq) {
  if (!enabled()) return;
  config_.edit([&](VMA4QCSettings& s) { s.qq = qq; });
  sessionCheck(false);
  additionCheck(true);
}

void VMA4QC::report(std::shared_ptr<VMA4QCEvent> event) {
  if (!event) return;
  queue_.async([this, event = std::move(event)] { applyStrategy(event); });
}

std::optional<VMA4QCUser> VMA4QC::user() {
  if (!user_) user_ = store_->loadUser(env_.deviceid, env_.app_version, nowSeconds());
  if (!user_) return std::nullopt;
  if (VMA4QCRefreshUser(*user_, env_.app_version, static_cast<std::int64_t>(os::Clock::now()))) store_->storeUser(*user_);
  return user_;
}

std::string VMA4QC::jsonOf(const VMA4QCEvent& event) {
  VMA4QCEncodeContext context;
  context.settings = config_.get();
  context.env = &env_;
  context.holder = &holder_;
  context.mac = VMA4QCHelper::getMacAddress();
  if (auto reach = VMA4QCReachability::reachabilityForInternetConnection()) {
    if (reach->isReachableViaWiFi())
      context.networkKind = "WIFI";
    else if (reach->isReachableViaWWAN())
      context.networkKind = "CellNetwork";
  }
  context.user = [this] { return user(); };
  return event.toJsonString(context);
}

// On the client's queue, once per event.
void VMA4QC::applyStrategy(const std::shared_ptr<VMA4QCEvent>& event) {
  holder_.loadStored();
  const VMA4QCSettings settings = config_.get();
  if (!settings.statEnable) return;
  const std::string text = jsonOf(*event);
  const std::uint32_t ts = event->ts();
  auto reach = VMA4QCReachability::reachabilityForInternetConnection();
  if (!reach || !reach->isReachable()) {
    store_->storeEvent(text, ts);
    return;
  }
  const bool wifi = reach->isReachableViaWiFi();
  int strategy = settings.reportStrategy;
  if (settings.smartReporting && wifi) strategy = 1;
  auto sendNow = [&] {
    // Kept in the store as being sent while the upload runs: an application that ends before the
    // answer leaves it waiting for the next start, and no batch of this run takes it meanwhile.
    store_->storeSendingEvent(text, ts, [this, text, ts](std::optional<long long> row) {
      dispatcher_->sendEvent(text, [this, text, ts, row](bool success) {
        if (row)
          store_->settleSendingEvent(*row, success, text, ts);
        else if (!success)
          store_->storeEvent(text, ts);
        if (success) store_->sendCachedEvents(-1);
      });
    });
  };
  switch (strategy) {
    case 1:
      sendNow();
      break;
    case 2: {
      const std::uint32_t threshold = settings.minBatchReportCount;
      store_->storeEvent(text, ts, [this, threshold] {
        if (store_->storedEventCount() >= threshold) store_->sendCachedEvents(static_cast<int>(threshold));
      });
      break;
    }
    case 4:
      if (wifi)
        sendNow();
      else
        store_->storeEvent(text, ts);
      break;
    case 5:
      store_->storeEvent(text, ts);
      periodicCheck();
      break;
    case 3:
    case 6:
      store_->storeEvent(text, ts);
      break;
    default:
      break;
  }
}

void VMA4QC::periodicCheck() {
  auto& defaults = options_.defaults;
  if (!defaults) return;
  const std::uint32_t now = nowSeconds();
  const auto last = static_cast<std::uint32_t>(defaults->integerForKey(kSentTimestampKey));
  if (last != 0) {
    if (now - last < config_.get().sendPeriodMinutes * 60u) return;
    store_->sendCachedEvents(-1);
  }
  defaults->setInteger(now, kSentTimestampKey);
  defaults->synchronize();
}
