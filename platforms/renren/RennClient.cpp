#include "platforms/renren/RennClient.h"

#include <algorithm>
#include <cmath>

#include "os/core/Date.h"
#include "os/store/Sandbox.h"
#include "os/store/UserDefaults.h"
#include "platforms/renren/RennLoginService.h"

namespace {

std::shared_ptr<os::UserDefaults> defaults() { return os::Sandbox::current()->standardUserDefaults(); }

}  // namespace

void RennClient::initWithAppId(std::string appId, std::string apiKey, std::string secretKey) {
  auto& login = RennLoginService::sharedRennLoginService();
  login.setAppId(std::move(appId));
  login.setApiKey(std::move(apiKey));
  login.setSecretKey(std::move(secretKey));
}

void RennClient::setTokenType(std::optional<std::string> type) {
  RennLoginService::sharedRennLoginService().setTokenType(std::move(type));
}

void RennClient::setScope(std::optional<std::string> scope) {
  RennLoginService::sharedRennLoginService().setScope(std::move(scope));
}

void RennClient::enableSSO(bool enable) { RennLoginService::sharedRennLoginService().setEnableSSO(enable); }

bool RennClient::handleOpenURL(const os::URL& url) {
  return RennLoginService::sharedRennLoginService().handleOpenURL(url);
}

namespace {

// The caller of a sign-on still waiting for the Renren application, which a new login, a
// registration or a logout gives up: it hears the login cancelled, once, after the new road has
// begun (it may start another login from the answer). A caller that cancels hears nothing.
std::shared_ptr<RennLoginDelegate> waitingSignOnCaller() {
  auto& login = RennLoginService::sharedRennLoginService();
  return login.isWaitingForSSO() ? login.delegate() : nullptr;
}

}  // namespace

void RennClient::loginWithDelegate(std::weak_ptr<RennLoginDelegate> delegate) {
  auto& login = RennLoginService::sharedRennLoginService();
  auto replaced = waitingSignOnCaller();
  login.setDelegate(std::move(delegate));
  login.login();
  if (replaced) replaced->rennLoginCancelded();
}

void RennClient::cancelLogin() { RennLoginService::sharedRennLoginService().setDelegate({}); }

void RennClient::logoutWithDelegate(std::weak_ptr<RennLoginDelegate> delegate) {
  auto& login = RennLoginService::sharedRennLoginService();
  auto replaced = waitingSignOnCaller();
  login.setDelegate(std::move(delegate));
  login.logout();
  if (replaced) replaced->rennLoginCancelded();
}

void RennClient::cancelLogout() { RennLoginService::sharedRennLoginService().setDelegate({}); }

void RennClient::quickRegister(std::weak_ptr<RennLoginDelegate> delegate) {
  auto& login = RennLoginService::sharedRennLoginService();
  auto replaced = waitingSignOnCaller();
  login.setDelegate(std::move(delegate));
  login.quickRegister();
  if (replaced) replaced->rennLoginCancelded();
}

std::optional<RennAccessToken> RennClient::accessToken() {
  auto record = defaults()->dictionaryForKey(kRennAccessTokenKey);
  if (!record) return std::nullopt;
  return RennAccessToken::fromDictionary(*record);
}

void RennClient::setAccessToken(const std::optional<RennAccessToken>& token) {
  auto store = defaults();
  store->removeObjectForKey(kRennAccessTokenKey);
  store->removeObjectForKey(kRennUidKey);
  store->synchronize();
  if (!token) return;
  store->setObject(os::Value(token->toDictionary()), kRennAccessTokenKey);
  // A token text without the piece that names the user stores no user id.
  if (auto uid = token->userId()) store->setObject(os::Value(*uid), kRennUidKey);
  store->synchronize();
}

std::optional<std::string> RennClient::uid() { return defaults()->stringForKey(kRennUidKey); }

bool RennClient::isLogin() {
  auto token = accessToken();
  return token && token->accessToken();
}

bool RennClient::isAuthorizeExpired() {
  auto token = accessToken();
  if (token && token->isMac()) return false;
  // Whole seconds in 64 bits: a 32-bit deadline wraps in 2038 and reads as long past.
  const double deadline = token ? std::trunc(token->requestTime() + static_cast<double>(token->expiresIn())) : 0;
  return os::Date::now().timeIntervalSince1970() > deadline;
}

bool RennClient::isAuthorizeValid() { return isLogin() && !isAuthorizeExpired(); }

std::shared_ptr<RennService> RennClient::sendAsynRequest(const RennParam& param,
                                                         std::weak_ptr<RennServiveDelegate> delegate) {
  auto service = RennService::initWithDelegate(std::move(delegate));
  service->setType(param.type());
  service->sendAsynRequest(param);
  return service;
}

void RennClient::cancelForDelegate(const RennServiveDelegate* delegate) {
  auto& services = serviceArray();
  for (std::size_t i = 0; i < services.size();) {
    if (services[i]->hasDelegate(delegate)) {
      auto service = services[i];
      services.erase(services.begin() + static_cast<std::ptrdiff_t>(i));
      service->clearDelegateAndCancel();
    } else {
      ++i;
    }
  }
}

std::vector<std::shared_ptr<RennService>>& RennClient::serviceArray() {
  static std::vector<std::shared_ptr<RennService>> services;
  return services;
}

void RennClient::removeService(const std::shared_ptr<RennService>& service) {
  auto& services = serviceArray();
  services.erase(std::remove(services.begin(), services.end(), service), services.end());
}
