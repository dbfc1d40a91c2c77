#pragma once
// The web share: when QQ itself cannot take a link (missing, too old, no QZone), the share page
// opens in a browser and its answer comes back as a URL on the "velmora" + app id scheme.
#include <memory>
#include <optional>
#include <string>

#include "platforms/qq/QQApiObject.h"
#include "os/core/Value.h"

class QQWebViewKit {
 public:
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
};
