#include "sharing/handlers/OBSocialSinaHandler.h"

#include <cstdlib>
#include <utility>

#include "foundation/ServiceCallLog.h"
#include "os/core/String.h"
#include "os/views/Application.h"
#include "sharing/handlers/OBSocialSnsHandler.h"
#include "sharing/screens/OBSocialControllerService.h"
#include "sharing/service/OBSocialAccountEntity.h"
#include "sharing/service/OBSocialContext.h"
#include "sharing/service/OBSocialResponseEntity.h"
#include "sharing/service/OBSocialSnsPlatform.h"
#include "sharing/service/OBSocialSnsPlatformManager.h"
#include "sharing/service/OBSocialSnsPlatformNames.h"

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
  // Known to the dispatcher, so that the application's answer still finds a waiting login after
  // a share to another application has taken the dispatcher's wait.
  OBSocialSnsHandler::shareInstance()->registerSnsHandler({OBShareToSina}, handler);
}

bool OBSocialSinaHandler::isClientInstall(const std::string&) {
  return os::URLSchemeTable::applicationForScheme(kSinaClientScheme).has_value();
}

bool OBSocialSinaHandler::checkUrlSchema() { return OBSocialSnsHandler::shareInstance()->searchForURLSchemeWithPrefix("sina."); }

void OBSocialSinaHandler::loginWithController(const std::shared_ptr<os::ViewController>&, OBSocialCompletion completion,
                                              const std::string&) {
  auto app = os::Application::shared();
  auto scheme = OBSocialSnsHandler::shareInstance()->getUrlSchemeWithPrefix("sina.");
  // Each value escaped whole: a redirect address with a query of its own must not split this one.
  std::string request = std::string(kSinaClientScheme) + "://login?redirect_uri=" + os::percentEscape(redirectURL_.value_or("")) +
                        "&callback_uri=" + os::percentEscape(scheme.value_or(""));
  auto url = os::URL::parse(request);
  if (!app || !url || !app->openURL(*url)) {
    // The Sina Weibo application could not be reached: this login ends here, and is said to; a
    // login still waiting keeps its wait.
    if (completion)
      completion(OBSocialResponseEntity::failure(OBSocialResponseCodeNetworkError,
                                                 "the Sina Weibo application did not open", 9));
    return;
  }
  // The application answers the newest login only: one still waiting ends as cancelled, told
  // last, as its caller may start another login from its answer.
  auto replaced = std::exchange(completion_, std::move(completion));
  if (replaced)
    replaced(OBSocialResponseEntity::failure(OBSocialResponseCodeCancelled, kOBSocialReplacedLoginMessage, 9));
}

bool OBSocialSinaHandler::handleOpenURL(const os::URL& url) {
  if (url.absoluteString().rfind("sina.", 0) != 0) return false;
  auto done = std::move(completion_);
  completion_ = nullptr;
  // The application answers in the query, or in the fragment as a web page would.
  std::map<std::string, std::string> answer;
  for (const auto* part : {&url.fragment(), &url.query()})
    if (*part)
      for (auto& [key, value] : os::parseQuery(**part)) answer[key] = value;
  auto account = accountOf(answer);
  if (!account) {
    // Refused, cancelled or unreadable: nothing is signed in, and the caller hears that.
    if (done) done(OBSocialResponseEntity::failure(OBSocialResponseCodeCancelled, kOBSocialCancelMessage, 9));
    return true;
  }
  OBSocialSnsHandler::shareInstance()->upLoadSnsAccount(account, std::move(done));
  return true;
}

std::shared_ptr<OBSocialAccountEntity> OBSocialSinaHandler::accountOf(const std::map<std::string, std::string>& answer) {
  auto field = [&answer](const char* key) -> std::optional<std::string> {
    auto found = answer.find(key);
    if (found == answer.end() || found->second.empty()) return std::nullopt;
    return found->second;
  };
  auto token = field("access_token");
  auto uid = field("uid");
  if (!token || !uid || field("error") || field("error_code")) return nullptr;
  auto account = std::make_shared<OBSocialAccountEntity>(OBShareToSina);
  account->usid = uid;
  account->accessToken = token;
  account->userName = field("user_name");
  // A lifetime that is no positive number of seconds leaves the expiry unknown.
  if (auto lifetime = field("expires_in")) {
    char* end = nullptr;
    const double seconds = std::strtod(lifetime->c_str(), &end);
    if (end && *end == '\0' && seconds > 0 && seconds < 1e10)
      account->expirationDate = os::Date::now().addingTimeInterval(seconds);
  }
  return account;
}
