#pragma once
// The sharing component's messenger handler. The application gives it its messenger identity
// and the link of what it shares before each share.
//
// For now the handler is not built: configuring it writes what it was given to the process's
// ServiceCallLog under "OBSocialWechatHandler" and does nothing else.
#include <optional>
#include <string>

class OBSocialWechatHandler {
 public:
  // The messenger application id and secret, and the link shared messages open (a default link
  // when none is given); adds the messenger session, timeline and favourite platforms.
  static void setWXAppId(const std::string& appId, const std::string& appSecret, const std::optional<std::string>& url);
};
