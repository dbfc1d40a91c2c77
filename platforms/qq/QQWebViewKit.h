#pragma once
// The web share: when QQ itself cannot take a link (missing, too old, no QZone), the share page
// opens in a browser and its answer comes back as a URL on the "velmora" + app id scheme.
#include <memory>
#include <optional>
#include <string>

#include "platforms/qq/QQApiObject.h"
#include "qqconnect_core/web/TCWebViewKit.h"
#include "os/core/Value.h"

namespace os {
class Timer;
}

// Also the delegate of a web kit showing the share page inside the application: the page's
// answer on the own scheme closes it. Nothing in the application sets that kit or its timer.
class QQWebViewKit : public TCWebViewKitDelegate, public std::enable_shared_from_this<QQWebViewKit> {
 public:
  // The process's one, made on first use.
  static const std::shared_ptr<QQWebViewKit>& instance();

  const std::shared_ptr<TCWebViewKit>& webViewKit() const { return webViewKit_; }
  void setWebViewKit(std::shared_ptr<TCWebViewKit> kit) { webViewKit_ = std::move(kit); }
  const std::shared_ptr<os::Timer>& timer() const { return timer_; }
  void setTimer(std::shared_ptr<os::Timer> timer) { timer_ = std::move(timer); }
  // Stops the timer and opens the web kit.
  void openWebKit();

  // Every load goes ahead; the share page's "complete" answer closes the kit.
  bool webViewKitShouldStartLoadWithRequest(TCWebViewKit& kit, const os::URLRequest& request,
                                            os::WebViewNavigationType type) override;

  // 0 opened, 1 not possible, 5 no title or no URL, -1 no app id.
  static int openWebQQShare(const std::shared_ptr<QQApiMessage>& message);
  // The share parameters of a link message, or the code that stops the share.
  static int setShareParam(const QQApiMessage& message, os::Dictionary& param);

  // A URL that holds "velmora" + the app id and the web-authorisation host.
  static bool canHanleOpenUrlFromSafari(const std::string& url);
  // The page's answer as a message of type 6; nothing for another action.
  static std::shared_ptr<QQApiMessage> messageWithSafariUrl(const std::string& url);
  // Logs the parser's trace when the text is no JSON.
  static std::optional<os::Value> JSONValue(const std::optional<std::string>& text);

  static bool isNewQQBrowserInstall();
  static bool isOldQQBrowserInstall();

 private:
  std::shared_ptr<TCWebViewKit> webViewKit_;
  std::shared_ptr<os::Timer> timer_;
};
