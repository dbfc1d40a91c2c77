#include "os/views/Application.h"

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "os/core/Log.h"
#include "os/core/String.h"
#include "os/runtime/NotificationCenter.h"
#include "os/runtime/RunLoop.h"
#include "os/store/Bundle.h"
#include "os/store/FileLock.h"
#include "os/store/FileManager.h"
#include "os/store/PropertyList.h"
#include "os/store/Sandbox.h"
#include "os/store/UserDefaults.h"
#include "os/views/Device.h"
#include "os/views/Screen.h"
#include "os/views/Window.h"

namespace os {

namespace {
struct Registry {
  std::vector<std::weak_ptr<Application>> live;
  std::weak_ptr<Application> shared;
};
Registry& registry() {
  static Registry r;
  return r;
}
bool gStatusBarHidden = false;

constexpr std::size_t kOpenedURLsKept = 1000;

// Schemes the device answers itself (a browser, the phone, the store).
bool isBuiltInScheme(const std::string& scheme) {
  static const char* const kBuiltIn[] = {"http", "https", "tel", "sms", "mailto", "itms", "itms-apps", "itms-services"};
  return std::any_of(std::begin(kBuiltIn), std::end(kBuiltIn), [&](const char* s) { return scheme == s; });
}
}  // namespace

// ----- the device's scheme table -----

namespace {
std::string schemeTablePath() { return appendingPathComponent(Sandbox::current()->deviceDirectory(), "URLSchemes.plist"); }
std::string schemeLockPath() { return appendingPathComponent(Sandbox::current()->deviceDirectory(), ".URLSchemes.lock"); }

// Every application of the device writes the table: one past the bound is not read (a peer's
// gigabyte would be held at every look-up) but counts as unreadable, as a corrupt one does.
Dictionary readSchemeTable() {
  const std::string path = schemeTablePath();
  Error error;
  std::optional<Value> value;
  if (auto bytes = FileManager::defaultManager().contentsAtPath(path, &error, URLSchemeTable::kMaxFileBytes))
    value = PropertyList::read(*bytes, nullptr, &error);
  if (value && value->dictionary()) return *value->dictionary();
  if (value)
    log("URL scheme table not read: not a dictionary");
  else if (error.domain != kFileErrorDomain || error.code != ENOENT)
    log("URL scheme table not read: " + error.localizedDescription());
  return {};
}
}  // namespace

void URLSchemeTable::registerScheme(const std::string& scheme, const std::string& bundleIdentifier) {
  std::string key = lowercaseASCII(scheme);
  if (key.empty()) return;
  FileLock lock(schemeLockPath(), FileLock::Mode::Exclusive);
  Dictionary table = readSchemeTable();
  table.set(key, Value(bundleIdentifier));
  Error error;
  auto bytes = PropertyList::write(Value(table), PropertyListFormat::XML, &error);
  // A table past the bound would be refused by every reader, losing every registration in it.
  if (bytes && bytes->size() > kMaxFileBytes) {
    log("URL scheme table not written: " + std::to_string(bytes->size()) + " bytes is too large");
    return;
  }
  // Under the table's lock no other registration is under way: what an earlier one cut short left goes.
  FileManager::defaultManager().removeAbandonedTemporaryFiles(schemeTablePath());
  if (!bytes || !FileManager::defaultManager().writeData(*bytes, schemeTablePath(), WriteOptions{}, &error)) {
    log("URL scheme table not written: " + error.localizedDescription());
  }
}

std::optional<std::string> URLSchemeTable::applicationForScheme(const std::string& scheme) {
  FileLock lock(schemeLockPath(), FileLock::Mode::Shared);
  Dictionary table = readSchemeTable();
  const Value* v = table.find(lowercaseASCII(scheme));
  if (!v || !v->string()) return std::nullopt;
  return *v->string();
}

Dictionary URLSchemeTable::all() {
  FileLock lock(schemeLockPath(), FileLock::Mode::Shared);
  return readSchemeTable();
}

// ----- application -----

Application::Application(PrivateTag, std::shared_ptr<ApplicationDelegate> delegate, std::string bundleIdentifier)
    : bundleIdentifier_(std::move(bundleIdentifier)), delegate_(std::move(delegate)), loop_(RunLoop::main()) {}

Application::~Application() = default;

std::shared_ptr<Application> Application::create(std::shared_ptr<ApplicationDelegate> delegate, std::string bundleIdentifier) {
  if (bundleIdentifier.empty()) {
    if (auto bundle = Sandbox::current()->mainBundle()) bundleIdentifier = bundle->bundleIdentifier().value_or("");
  }
  auto app = std::make_shared<Application>(PrivateTag{}, std::move(delegate), std::move(bundleIdentifier));
  auto& r = registry();
  r.live.erase(std::remove_if(r.live.begin(), r.live.end(), [](const auto& w) { return w.expired(); }), r.live.end());
  r.live.push_back(app);
  if (r.shared.expired()) r.shared = app;
  return app;
}

std::shared_ptr<Application> Application::createPeer(std::shared_ptr<ApplicationDelegate> delegate,
                                                     std::string bundleIdentifier) {
  auto app = std::make_shared<Application>(PrivateTag{}, std::move(delegate), std::move(bundleIdentifier));
  app->peer_ = true;
  auto& r = registry();
  r.live.erase(std::remove_if(r.live.begin(), r.live.end(), [](const auto& w) { return w.expired(); }), r.live.end());
  r.live.push_back(app);
  return app;
}

std::shared_ptr<Application> Application::shared() { return registry().shared.lock(); }

void Application::makeShared() { registry().shared = weak_from_this(); }

std::shared_ptr<Application> Application::withBundleIdentifier(const std::string& id) {
  for (auto& w : registry().live) {
    if (auto app = w.lock(); app && app->bundleIdentifier_ == id) return app;
  }
  return nullptr;
}

void Application::post(std::function<void()> task) {
  std::weak_ptr<Application> weak = weak_from_this();
  loop_->post([weak, task = std::move(task)] {
    if (auto self = weak.lock()) task();
  });
}

void Application::notify(const char* name) {
  if (!peer_) NotificationCenter::defaultCenter().post(name, this);
}

bool Application::launch(const Dictionary& options) {
  if (launched_) return true;
  launched_ = true;
  state_ = ApplicationState::Inactive;
  bool ok = true;
  if (delegate_) ok = delegate_->willFinishLaunchingWithOptions(*this, options) && ok;
  if (delegate_) ok = delegate_->didFinishLaunchingWithOptions(*this, options) && ok;
  notify(kApplicationDidFinishLaunchingNotification);
  // A launch that came with a URL hands it on when the delegate accepted the launch.
  if (ok) {
    if (const Value* v = options.find(kApplicationLaunchOptionsURLKey); v && v->string()) {
      if (auto url = URL::parse(*v->string())) {
        std::string source = options[kApplicationLaunchOptionsSourceApplicationKey].stringOr();
        if (delegate_) delegate_->openURL(*this, *url, source, options[kApplicationLaunchOptionsAnnotationKey]);
      }
    }
  }
  becomeActive();
  return ok;
}

void Application::becomeActive() {
  if (terminated_ || state_ == ApplicationState::Active) return;
  state_ = ApplicationState::Active;
  if (delegate_) delegate_->applicationDidBecomeActive(*this);
  notify(kApplicationDidBecomeActiveNotification);
}

void Application::resignActive() {
  if (state_ != ApplicationState::Active) return;
  if (delegate_) delegate_->applicationWillResignActive(*this);
  notify(kApplicationWillResignActiveNotification);
  state_ = ApplicationState::Inactive;
}

void Application::enterBackground() {
  if (terminated_ || state_ == ApplicationState::Background) return;
  resignActive();
  state_ = ApplicationState::Background;
  if (delegate_) delegate_->applicationDidEnterBackground(*this);
  notify(kApplicationDidEnterBackgroundNotification);
  keepPreferences();
}

void Application::enterForeground() {
  if (terminated_ || state_ != ApplicationState::Background) return;
  if (delegate_) delegate_->applicationWillEnterForeground(*this);
  notify(kApplicationWillEnterForegroundNotification);
  state_ = ApplicationState::Inactive;
  becomeActive();
}

void Application::terminate() {
  if (terminated_) return;
  if (delegate_) delegate_->applicationWillTerminate(*this);
  notify(kApplicationWillTerminateNotification);
  keepPreferences();
  terminated_ = true;
  state_ = ApplicationState::Background;
}

void Application::keepPreferences() {
  // A change the disk refused (full at the time) is written now that room may have been made,
  // as the application may not run again before the process ends.
  if (auto sandbox = Sandbox::current()) sandbox->standardUserDefaults()->synchronize();
}

bool Application::leave(double limit) {
  using Steady = std::chrono::steady_clock;
  const auto deadline = Steady::now() + std::chrono::duration_cast<Steady::duration>(std::chrono::duration<double>(limit));
  // Tasks end on this thread (their work elsewhere posts the end here), which wakes the loop.
  auto tasksEnded = [&] {
    double left = std::chrono::duration<double>(deadline - Steady::now()).count();
    return loop_->runUntilWoken([this] { return tasks_.empty(); }, std::max(0.0, left));
  };
  enterBackground();
  bool ended = tasksEnded();
  terminate();
  ended = tasksEnded() && ended;
  if (!tasks_.empty()) expireBackgroundTasks();
  return ended;
}

void Application::receiveMemoryWarning() {
  if (delegate_) delegate_->applicationDidReceiveMemoryWarning(*this);
  notify(kApplicationDidReceiveMemoryWarningNotification);
}

// ----- URLs -----

void Application::registerURLSchemes(const std::vector<std::string>& schemes) {
  for (auto& s : schemes) URLSchemeTable::registerScheme(s, bundleIdentifier_);
}

void Application::registerURLSchemesFromInfoDictionary(const Dictionary& info) {
  const Value* types = info.find("CFBundleURLTypes");
  if (!types || !types->array()) return;
  std::vector<std::string> schemes;
  for (auto& type : *types->array()) {
    const Value& list = type["CFBundleURLSchemes"];
    if (!list.array()) continue;
    for (auto& s : *list.array()) {
      if (s.string()) schemes.push_back(*s.string());
    }
  }
  registerURLSchemes(schemes);
}

bool Application::canOpenURL(const URL& url) const {
  std::string scheme = url.scheme();
  if (scheme.empty()) return false;
  return isBuiltInScheme(scheme) || URLSchemeTable::applicationForScheme(scheme).has_value();
}

bool Application::openURL(const URL& url, const Value& annotation) {
  std::string scheme = url.scheme();
  if (scheme.empty()) return false;
  auto target = URLSchemeTable::applicationForScheme(scheme);
  if (!target && !isBuiltInScheme(scheme)) return false;
  opened_.push_back(url);
  // A record for tests, not a history: a reader kept open for days opens a URL per share or ad tap.
  if (opened_.size() > kOpenedURLsKept) opened_.erase(opened_.begin());
  if (!target) return true;  // a built-in handler took it; nothing in this process answers
  std::string targetId = *target;
  std::string source = bundleIdentifier_;
  std::weak_ptr<Application> weakSelf = weak_from_this();
  auto deliver = [weakSelf, targetId, source, url, annotation] {
    auto app = Application::withBundleIdentifier(targetId);
    if (!app) return;  // registered by an application that is not running here
    auto self = weakSelf.lock();
    if (self && self != app) self->enterBackground();
    app->deliverOpenURL(url, source, annotation);
  };
  auto targetApp = Application::withBundleIdentifier(targetId);
  (targetApp ? targetApp->loop_ : loop_)->post(deliver);
  return true;
}

bool Application::deliverOpenURL(const URL& url, const std::string& sourceApplication, const Value& annotation) {
  if (terminated_) return false;
  // The platform brings the application forward, hands it the URL, then makes it active.
  if (state_ == ApplicationState::Background) {
    if (delegate_) delegate_->applicationWillEnterForeground(*this);
    notify(kApplicationWillEnterForegroundNotification);
    state_ = ApplicationState::Inactive;
  }
  bool handled = delegate_ ? delegate_->openURL(*this, url, sourceApplication, annotation) : false;
  becomeActive();
  return handled;
}

// ----- status bar -----

void Application::setStatusBarHidden(bool hidden, StatusBarAnimation) {
  statusBarHidden_ = hidden;
  if (registry().shared.lock().get() == this) gStatusBarHidden = hidden;
}

bool Application::isStatusBarHiddenNow() {
  auto app = shared();
  return app ? app->statusBarHidden_ : gStatusBarHidden;
}

Rect Application::statusBarFrame() const {
  if (statusBarHidden_) return Rect::zero();
  return Rect(0, 0, Screen::main().bounds().size.width, Screen::kStatusBarHeight);
}

std::shared_ptr<Window> Application::keyWindow() const { return Window::keyWindow(); }

std::vector<std::shared_ptr<Window>> Application::windows() const { return Window::windows(); }

// ----- remote and local notifications -----

void Application::registerForRemoteNotificationTypes(unsigned types) {
  remoteTypes_ = types;
  deliverDeviceToken();
}

void Application::requireSystem8(const char* operation) const {
  if (Device::current().systemVersionNumber() < 8.0)
    throw Exception(kInvalidArgumentException,
                    std::string("unrecognized selector sent to instance: ") + operation + " needs system 8.0");
}

void Application::registerForRemoteNotifications() {
  requireSystem8("registerForRemoteNotifications");
  registeredForRemote_ = true;
  deliverDeviceToken();
}

void Application::registerUserNotificationSettings(const UserNotificationSettings& settings) {
  requireSystem8("registerUserNotificationSettings");
  UserNotificationSettings granted = settings;
  granted.types &= Device::current().profile().userNotificationTypesAllowed;
  post([this, granted] {
    grantedSettings_ = granted;
    if (delegate_) delegate_->didRegisterUserNotificationSettings(*this, granted);
  });
}

void Application::deliverDeviceToken() {
  post([this] {
    auto& device = Device::current();
    if (!delegate_) return;
    if (!device.profile().remoteNotificationsAvailable) {
      delegate_->didFailToRegisterForRemoteNotificationsWithError(
          *this, Error::withDescription(kApplicationErrorDomain, kApplicationErrorRemoteNotificationsUnavailable,
                                        "remote notifications are not supported on this device"));
      return;
    }
    delegate_->didRegisterForRemoteNotificationsWithDeviceToken(*this, device.deviceToken());
  });
}

void Application::unregisterForRemoteNotifications() {
  remoteTypes_ = 0;
  registeredForRemote_ = false;
}

void Application::deliverRemoteNotification(const Dictionary& userInfo, std::function<void(BackgroundFetchResult)> handler) {
  if (!delegate_) {
    if (handler) handler(BackgroundFetchResult::NoData);
    return;
  }
  delegate_->didReceiveRemoteNotificationFetchCompletionHandler(*this, userInfo, std::move(handler));
}

void Application::presentLocalNotificationNow(const LocalNotification& n) {
  presented_.push_back(n);
  if (state_ == ApplicationState::Active && delegate_) {
    post([this, n] {
      if (delegate_) delegate_->didReceiveLocalNotification(*this, n);
    });
  }
}

void Application::cancelLocalNotification(const LocalNotification& n) {
  scheduled_.erase(std::remove(scheduled_.begin(), scheduled_.end(), n), scheduled_.end());
}

// ----- background tasks -----

BackgroundTaskIdentifier Application::beginBackgroundTask(std::function<void()> handler) {
  BackgroundTaskIdentifier id = nextTask_++;
  tasks_[id] = std::move(handler);
  return id;
}

void Application::endBackgroundTask(BackgroundTaskIdentifier id) { tasks_.erase(id); }

double Application::backgroundTimeRemaining() const {
  return state_ == ApplicationState::Background ? 600.0 : 1e300;
}

void Application::expireBackgroundTasks() {
  // A handler usually ends its own task; take a copy so that is safe.
  auto tasks = tasks_;
  for (auto& [id, handler] : tasks) {
    if (tasks_.count(id) && handler) handler();
  }
}

// ----- keyboard -----

Rect Application::keyboardFrame() const {
  Rect b = Screen::main().bounds();
  return Rect(0, b.size.height - 216, b.size.width, 216);
}

void Application::showKeyboard() {
  if (keyboardVisible_) return;
  Rect f = keyboardFrame();
  Dictionary info{{kKeyboardFrameUserInfoKey, Value(Array{Value(f.origin.x), Value(f.origin.y), Value(f.size.width), Value(f.size.height)})},
                  {kKeyboardAnimationDurationUserInfoKey, Value(0.25)}};
  NotificationCenter::defaultCenter().post(kKeyboardWillShowNotification, this, info);
  keyboardVisible_ = true;
  NotificationCenter::defaultCenter().post(kKeyboardDidShowNotification, this, info);
}

void Application::hideKeyboard() {
  if (!keyboardVisible_) return;
  Rect f = keyboardFrame();
  Dictionary info{{kKeyboardFrameUserInfoKey, Value(Array{Value(f.origin.x), Value(f.origin.y), Value(f.size.width), Value(f.size.height)})},
                  {kKeyboardAnimationDurationUserInfoKey, Value(0.25)}};
  NotificationCenter::defaultCenter().post(kKeyboardWillHideNotification, this, info);
  keyboardVisible_ = false;
  NotificationCenter::defaultCenter().post(kKeyboardDidHideNotification, this, info);
}

}  // namespace os
