#include "news/ads/VXAdHelper.h"

#include "news/ads/VXAdWebViewController.h"
#include "news/api/NQProxy.h"
#include "news/api/OpenableURL.h"
#include "news/api/VXAdClickRequest.h"
#include "news/api/VXGlobalHelper.h"
#include "news/api/VXReaderContext.h"
#include "os/core/Log.h"
#include "os/core/String.h"
#include "os/core/URL.h"
#include "os/views/Application.h"
#include "os/views/Device.h"
#include "os/views/NavigationController.h"
#include "os/views/ViewController.h"

namespace {

constexpr const char* kNetworkErrorText = "网络异常";
constexpr const char* kStoreScheme = "itms-apps://";

// "result" 0 is the promotion API's success; a missing or non-number result is not.
bool succeeded(const std::optional<os::Dictionary>& data) {
  if (!data) return false;
  const os::Value* result = data->find("result");
  return result && result->isNumber() && result->intValue() == 0;
}

std::string text(const os::Dictionary& data, std::string_view key) {
  const os::Value* value = data.find(key);
  const std::string* s = value ? value->string() : nullptr;
  return s ? *s : std::string();
}

}  // namespace

VXAdHelper& VXAdHelper::share() { return share(*VXReaderContext::current()); }

VXAdHelper& VXAdHelper::share(VXReaderContext& context) {
  // The context keeps it, so a reference stays good while the context lives.
  return *context.adHelper.get([&] { return std::shared_ptr<VXAdHelper>(new VXAdHelper(context.weak_from_this())); });
}

bool VXAdHelper::isOpenableURL(const std::string& url) { return ::isOpenableURL(url); }

std::optional<os::URLRequest> VXAdHelper::callbackRequest(const std::string& callbackUrl, const std::string& agent) {
  if (callbackUrl.empty()) return std::nullopt;
  if (!isOpenableURL(callbackUrl)) {
    VXGlobalHelper::writeLog("ad callback refused: " + callbackUrl);
    return std::nullopt;
  }
  os::URLRequest request(callbackUrl);
  request.setHTTPMethod("GET");
  if (!agent.empty()) request.setValueForHTTPHeaderField(agent, "User-Agent");
  return request;
}

void VXAdHelper::request(long long adid, long long type, const std::string& url, os::ViewController& viewController) {
  viewController_ = std::static_pointer_cast<os::ViewController>(viewController.weak_from_this().lock());
  if (type != kTypeAppStore && type != kTypeWebPage) return;
  if (!isOpenableURL(url)) {
    VXGlobalHelper::writeLog("ad url refused: " + url);
    return;
  }
  auto context = context_.lock();
  if (!context) return;
  std::weak_ptr<os::ViewController> screen = viewController_;
  std::weak_ptr<VXReaderContext> weakContext = context_;
  auto networkError = [screen, weakContext] {
    auto context = weakContext.lock();
    if (!context) return;
    if (auto vc = screen.lock()) VXGlobalHelper::share(*context).showHud(kNetworkErrorText, vc->view(), true);
    else VXGlobalHelper::share(*context).hideHud(true);  // the spinner must not outlive its screen
  };
  VXAdClickRequest click{os::Value(adid)};

  if (type == kTypeAppStore) {
    VXGlobalHelper::share(*context).showActivityHud("", viewController.view(), false);
    // The sheet goes on the screen tapped now: by the answer, the last tap may be another screen's.
    std::weak_ptr<VXAdHelper> weakSelf = weak_from_this();
    VXGlobalHelper::loadWithRequest(
        *context, click, 0,
        [weakSelf, screen, url, networkError](const std::optional<os::Dictionary>& data) {
          if (!succeeded(data)) return networkError();
          if (auto self = weakSelf.lock())
            self->requestCallback(text(*data, "callbackurl"), text(*data, "useragent"), url, screen);
        },
        networkError);
    return;
  }

  VXGlobalHelper::loadWithRequest(
      *context, click, 0,
      [screen, url, networkError](const std::optional<os::Dictionary>& data) {
        if (!succeeded(data)) return networkError();
        auto vc = screen.lock();
        os::NavigationController* nav = vc ? vc->navigationController() : nullptr;
        if (!nav) return;
        nav->pushViewController(
            VXAdWebViewController::initWithUrl(url, text(*data, "callbackurl"), text(*data, "useragent")), true);
      },
      networkError);
}

void VXAdHelper::requestCallback(const std::string& callbackUrl, const std::string& agent,
                                 const std::string& appstoreUrl) {
  requestCallback(callbackUrl, agent, appstoreUrl, viewController_);
}

void VXAdHelper::requestCallback(const std::string& callbackUrl, const std::string& agent,
                                 const std::string& appstoreUrl, const std::weak_ptr<os::ViewController>& screen) {
  auto request = callbackRequest(callbackUrl, agent);
  if (!request) {
    openAppstore(appstoreUrl, screen);
    return;
  }
  // The answer is not read: the store page opens whether the advertiser heard of the click or not.
  std::weak_ptr<VXAdHelper> weakSelf = weak_from_this();
  auto open = [weakSelf, appstoreUrl, screen] {
    if (auto self = weakSelf.lock()) self->openAppstore(appstoreUrl, screen);
  };
  NQProxy::loadCommonRequest(
      *request, [open](const std::string&, os::StringEncoding) { open(); }, [open](const os::Error&) { open(); });
}

std::string VXAdHelper::appstoreAddress(const std::string& url) {
  if (os::hasPrefix(url, "http://")) return os::replaceAll(url, "http://", kStoreScheme);
  if (os::hasPrefix(url, "https://")) return os::replaceAll(url, "https://", kStoreScheme);
  return url;
}

std::optional<std::string> VXAdHelper::appstoreItemId(const std::string& url) {
  std::size_t slash = url.rfind('/');
  std::string last = slash == std::string::npos ? url : url.substr(slash + 1);
  std::size_t id = last.find("id");
  if (id == std::string::npos) return std::nullopt;
  std::string rest = last.substr(id + 2);
  std::size_t query = rest.find('?');
  return query == std::string::npos ? rest : rest.substr(0, query);
}

void VXAdHelper::openAppstore(const std::string& url) { openAppstore(url, viewController_); }

void VXAdHelper::openAppstore(const std::string& url, const std::weak_ptr<os::ViewController>& screen) {
  if (auto context = context_.lock()) VXGlobalHelper::share(*context).hideHud(true);
  std::string address = appstoreAddress(url);
  auto app = os::Application::shared();
  // Only the store's own address opens anything; the rest has no business in the store.
  if (!app || !os::URL::parse(address) || !os::hasPrefix(address, kStoreScheme)) {
    VXGlobalHelper::writeLog("store address refused: " + url);
    return;
  }
  if (os::Device::current().systemVersionNumber() < 6.0) {
    app->openURL(*os::URL::parse(address));
    return;
  }
  auto item = appstoreItemId(address);
  if (!item || item->empty()) return;
  auto tapped = screen.lock();
  if (!tapped) {
    // The tapped screen is gone: nothing to show the sheet on.
    os::log("store sheet not shown: the tapped screen has closed");
    return;
  }
  auto sheet = std::make_shared<os::StoreProductViewController>();
  tapped->presentViewController(sheet, true);
  sheet->setDelegate(weak_from_this());
  app->setNetworkActivityIndicatorVisible(true);
  sheet->loadProductWithParameters(
      os::Dictionary{{os::kStoreProductParameterItemIdentifier, os::Value(*item)}}, [](bool, const os::Error* error) {
        if (error) os::log("store product not loaded: " + error->localizedDescription());
        if (auto app = os::Application::shared()) app->setNetworkActivityIndicatorVisible(false);
      });
}

void VXAdHelper::productViewControllerDidFinish(os::StoreProductViewController& controller) {
  // Through the sheet: the screen kept as the last tap's may be another one by now.
  if (os::ViewController* presenter = controller.presentingViewController()) presenter->dismissViewController(true);
}
