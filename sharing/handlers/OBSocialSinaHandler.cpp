#include "sharing/handlers/OBSocialSinaHandler.h"

#include "foundation/ServiceCallLog.h"

void OBSocialSinaHandler::openSSOWithRedirectURL(const std::string& redirectURL) {
  ServiceCallLog::record("OBSocialSinaHandler", "openSSOWithRedirectURL",
                         os::Dictionary{{"redirectURL", os::Value(redirectURL)}});
}
