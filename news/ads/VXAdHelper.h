#pragma once
// The one place an ad tap goes, from an article's ad row or the recommended-apps list: the click
// is reported to the promotion API, the advertiser's callback address is fired with the user
// agent the server names, and then the advertised application's store page opens, or the ad's
// web page is pushed on the tapping screen's navigation.
//
// The store page is the platform's store sheet, presented on the tapping screen, on systems 6.0
// and later (the status bar's network activity indicator on while it loads); older systems hand
// the store address to the platform.
//
// Addresses come from the promotion server and are never trusted: only web and store addresses
// are opened, fetched or loaded.
//
// Main thread only; the runner and the proxy deliver every outcome there.
#include <memory>
#include <optional>
#include <string>

#include "os/net/URLRequest.h"
#include "os/views/StoreProductViewController.h"

namespace os {
class ViewController;
}
class VXReaderContext;

class VXAdHelper : public os::StoreProductViewControllerDelegate, public std::enable_shared_from_this<VXAdHelper> {
 public:
  static constexpr long long kTypeAppStore = 1;
  static constexpr long long kTypeWebPage = 2;

  static VXAdHelper& share();
  // The helper of a given context, whose servers and HUD it uses.
  static VXAdHelper& share(VXReaderContext& context);

  // The tap: ad id, click kind (1 store application, 2 web page), the ad's address and the screen
  // it was tapped on. Other kinds, and addresses that are not web or store ones, do nothing.
  void request(long long adid, long long type, const std::string& url, os::ViewController& viewController);
  // Fires the callback address (when there is a usable one), then opens the store page whatever
  // the callback's outcome.
  void requestCallback(const std::string& callbackUrl, const std::string& agent, const std::string& appstoreUrl);
  // Opens the store page of a store application's address, on the screen of the last tap.
  void openAppstore(const std::string& url);
  // The store sheet's done button: dismisses it from the screen it was presented on.
  void productViewControllerDidFinish(os::StoreProductViewController& controller) override;

  // The screen of the last tap, while it is alive.
  std::shared_ptr<os::ViewController> viewController() const { return viewController_.lock(); }

  // Whether an address from the server may be opened: http, https and the store's schemes only.
  static bool isOpenableURL(const std::string& url);
  // The GET of an ad's callback address, with the user agent when there is one; nothing for an
  // empty or unusable address.
  static std::optional<os::URLRequest> callbackRequest(const std::string& callbackUrl, const std::string& agent);
  // A web address of the store turned into the store application's own scheme.
  static std::string appstoreAddress(const std::string& url);
  // The store item id in the last path component: the text after its first "id", up to "?".
  static std::optional<std::string> appstoreItemId(const std::string& url);

 private:
  explicit VXAdHelper(std::weak_ptr<VXReaderContext> context) : context_(std::move(context)) {}

  // The same for the screen a tap was made on: nothing once it has closed.
  void requestCallback(const std::string& callbackUrl, const std::string& agent, const std::string& appstoreUrl,
                       const std::weak_ptr<os::ViewController>& screen);
  void openAppstore(const std::string& url, const std::weak_ptr<os::ViewController>& screen);

  // Weak: the context keeps this helper.
  std::weak_ptr<VXReaderContext> context_;
  // Weak: the shared helper must not keep a closed screen alive until the next tap.
  std::weak_ptr<os::ViewController> viewController_;
};
