#include "sharing/handlers/OBSocialSinaHandler.h"

#include "foundation/ServiceCallLog.h"
#include "os/views/Application.h"
#include "sharing/handlers/OBSocialSnsHandler.h"
#include "sharing/service/OBSocialContext.h"
#include "sharing/service/OBSocialResponseEntity.h"
#include "sharing/service/OBSocialSnsPlatform.h"
#include "sharing/service/OBSocialSnsPlatformManager.h"

namespace {
constexpr const char* kSinaClientScheme = "sinaweibosso";
}

std::shared_ptr<OBSocialSinaHandler> OBSocialSinaHandler::shareInstance() { return OBSocialContext::shared<OBSocialSinaHandler>(); }

void OBSocialSinaHandler::openSSOWithRedirectURL(const std::string& redirectURL) {
  ServiceCallLog::record("OBSocialSinaHandler", "openSSOWithRedirectURL",
                         os::Dictionary{{"redirectURL", os::Value(redirectURL)}});
  auto handler = shareInstance();
  handler->redirectURL_ = redirectURL;
  if (auto sina = OBSocialSnsPlatformManager::sharedInstance()->getSnsPlatformWithName("sina", false))
    sina->platformInternal()->socialLoginDelegate = handler;
}

bool OBSocialSinaHandler::isClientInstall(const std::string&) {
  return os::URLSchemeTable::applicationForScheme(kSinaClientScheme).has_value();
}

bool OBSocialSinaHandler::checkUrlSchema() { return OBSocialSnsHandler::shareInstance()->searchForURLSchemeWithPrefix("sina."); }

void OBSocialSinaHandler::loginWithController(const std::shared_ptr<os::ViewController>&, OBSocialCompletion completion,
                                              const std::string&) {
  completion_ = std::move(completion);
  auto app = os::Application::shared();
  auto scheme = OBSocialSnsHandler::shareInstance()->getUrlSchemeWithPrefix("sina.");
  std::string request = std::string(kSinaClientScheme) + "://login?redirect_uri=" + redirectURL_.value_or("") +
                        "&callback_uri=" + scheme.value_or("");
  auto url = os::URL::parse(request);
  if (!app || !url || !app->openURL(*url)) {
    // The Sina Weibo application could not be reached: the login ends here, and is said to.
    auto done = std::move(completion_);
    completion_ = nullptr;
    if (done) done(OBSocialResponseEntity::failure(OBSocialResponseCodeNetworkError, "the Sina Weibo application did not open", 9));
  }
}

bool OBSocialSinaHandler::handleOpenURL(const os::URL& url) {
  if (url.absoluteString().rfind("sina.", 0) != 0) return false;
  auto done = std::move(completion_);
  completion_ = nullptr;
  // The application's answer carries no account the sharing service knows: the login is not
  // taken, and the caller hears that.
  if (done) done(OBSocialResponseEntity::failure(OBSocialResponseCodeCancelled, "single sign-on answer not accepted", 9));
  return true;
}
