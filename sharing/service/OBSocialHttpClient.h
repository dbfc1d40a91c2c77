#pragma once
// The sharing service's one HTTP client: the component's edition of the client on the base URL
// that the bundle resource "SocialSDK-config" names under "baseURL", two requests at a time.
#include <memory>

#include "sharing/net/OBSocialTLHTTPClient.h"

class OBSocialHttpClient {
 public:
  // Null when the bundle names no usable base URL.
  static std::shared_ptr<OBSocialTLHTTPClient> sharedClient();
};
