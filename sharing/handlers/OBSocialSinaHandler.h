#pragma once
// The sharing component's Sina Weibo handler. The application turns on single sign-on with its
// redirect URL before each share.
//
// For now the handler is not built: the call is written to the process's ServiceCallLog under
// "OBSocialSinaHandler" and does nothing else.
#include <string>

class OBSocialSinaHandler {
 public:
  // Keeps the redirect URL and makes Sina Weibo logins go through single sign-on.
  static void openSSOWithRedirectURL(const std::string& redirectURL);
};
