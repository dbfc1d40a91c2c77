#include "sharing/screens/OBSOauthViewController.h"

#include "os/core/Date.h"
#include "os/core/String.h"
#include "os/runtime/DispatchQueue.h"
#include "os/views/NavigationController.h"
#include "sharing/screens/OBSocialControllerService.h"
#include "sharing/service/OBSUserManager.h"
#include "sharing/service/OBSocialAccountEntity.h"
#include "sharing/service/OBSocialAccountManager.h"
#include "sharing/service/OBSocialHttpClient.h"
#include "sharing/service/OBSocialJob.h"
#include "sharing/service/OBSocialJobFactory.h"
#include "sharing/service/OBSocialResponseEntity.h"
#include "sharing/service/OBSocialSnsPlatform.h"
#include "sharing/service/OBSocialSnsPlatformManager.h"
#include "sharing/service/OBSocialUIDelegate.h"

namespace {

std::shared_ptr<OBSocialResponseEntity> failure(const std::string& platform, const std::string& why) {
  auto response = std::make_shared<OBSocialResponseEntity>();
  response->responseCode = OBSocialResponseCodeNetworkError;
  response->responseType = 9;
  response->viewControllerType = OBSocialViewControllerTypeOauth;
  response->message = why;
  response->data = os::Dictionary{{platform, os::Value("")}};
  return response;
}

}  // namespace

void OBSOauthViewController::viewDidLoad() {
  auto service = socialControllerService;
  platformName_ = service ? service->currentSnsPlatformName : std::nullopt;
  if (service) caller_ = service->socialUIDelegate();
  auto root = view();
  webView_ = std::make_shared<os::WebView>(root->bounds());
  webView_->setAutoresizingMask(os::kViewAutoresizingFlexibleWidth | os::kViewAutoresizingFlexibleHeight);
  webView_->setScalesPageToFit(true);
  webView_->setDelegate(std::dynamic_pointer_cast<os::WebViewDelegate>(shared_from_this()));
  root->addSubview(webView_);
  if (service) service->addCloseButton(*this);
  if (!platformName_) return;
  if (auto platform = OBSocialSnsPlatformManager::getSocialPlatformWithName(*platformName_)) setTitle(platform->loginName);

  OBSocialJobParams params;
  params.values.set("displayName", os::Value(*platformName_));
  auto job = OBSocialJobFactory::sharedInstance()->createSocialJob(9, params);
  auto client = OBSocialHttpClient::sharedClient();
  std::optional<std::string> path = job && job->pathString ? OBSocialJob::encryPathString(*job->pathString) : std::nullopt;
  std::optional<os::URL> url = client && path ? os::URL::parse(*path, client->baseURL()) : std::nullopt;
  if (!url) {
    // Without an address there is nothing to authorise with: the caller hears it as soon as the
    // screen is up, and the screen goes.
    std::weak_ptr<os::Responder> weak = shared_from_this();
    auto response = failure(*platformName_, "the authorisation page could not be addressed");
    finished_ = true;
    os::DispatchQueue::main()->async([weak, response] {
      if (auto self = std::static_pointer_cast<OBSOauthViewController>(weak.lock())) self->closeWithResponse(response);
    });
    return;
  }
  authorisationURL_ = url->absoluteString();
  webView_->loadRequest(os::URLRequest(url->absoluteString()));
}

std::shared_ptr<OBSocialResponseEntity> OBSOauthViewController::responseForCallback(const os::URL& url) const {
  std::string answer;
  for (const auto& [name, value] : url.queryItems())
    if (name == "ud_get") answer = value;
  std::optional<os::Dictionary> body;
  auto response = OBSocialJob::responseForAnswer(os::Data(answer.begin(), answer.end()), 9, &body);
  response->viewControllerType = OBSocialViewControllerTypeOauth;
  response->responseType = 9;
  const std::string platform = *platformName_;
  const os::Dictionary* data = body ? (*body)["data"].dictionary() : nullptr;
  const std::string* usid = data ? (*data)["usid"].string() : nullptr;
  if (response->responseCode != OBSocialResponseCodeSuccess || !usid || usid->empty()) {
    if (response->responseCode == OBSocialResponseCodeSuccess) response->responseCode = OBSocialResponseCodeNetworkError;
    response->data = os::Dictionary{{platform, os::Value("")}};
    return response;
  }
  auto account = std::make_shared<OBSocialAccountEntity>(platform);
  account->usid = *usid;
  if (const std::string* token = (*data)["access_token"].string()) account->accessToken = *token;
  if (const std::string* user = (*data)["username"].string()) account->userName = *user;
  if (const std::string* lifetime = (*data)["expires_in"].string(); lifetime && os::doubleValue(*lifetime) > 0)
    account->expirationDate = os::Date::now().addingTimeInterval(os::doubleValue(*lifetime));
  if (const std::string* uid = (*data)["uid"].string(); uid && !uid->empty() && !OBSUserManager::shareInstance()->uid())
    OBSUserManager::shareInstance()->setUid(*uid);
  OBSocialAccountManager::setSnsAccount(account);
  os::Dictionary entry{{"usid", os::Value(*usid)}};
  if (account->accessToken) entry.set("accessToken", os::Value(*account->accessToken));
  if (account->userName) entry.set("username", os::Value(*account->userName));
  response->data = os::Dictionary{{platform, os::Value(std::move(entry))}};
  return response;
}

bool OBSOauthViewController::shouldStartLoadWithRequest(os::WebView&, const os::URLRequest& request, os::WebViewNavigationType) {
  if (finished_ || !platformName_) return !finished_;
  auto platform = OBSocialSnsPlatformManager::getSocialPlatformWithName(*platformName_);
  auto url = os::URL::parse(request.url());
  if (!platform || !url || platform->oauthCallBackPath.empty()) return true;
  const std::string path = url->path();
  const std::string& callback = platform->oauthCallBackPath;
  if (path.size() < callback.size() || path.compare(path.size() - callback.size(), callback.size(), callback) != 0) return true;
  finished_ = true;
  closeWithResponse(responseForCallback(*url));
  return false;
}

void OBSOauthViewController::didFailLoadWithError(os::WebView&, const os::Error& error) {
  // The stop at the callback, or a close, interrupts the page: not a failure of the login.
  if (finished_ || error.code == os::kWebViewErrorCancelled || error.code == os::kWebViewErrorFrameLoadInterrupted) return;
  finished_ = true;
  auto response = failure(platformName_.value_or(""), error.localizedDescription());
  response->error = error;
  closeWithResponse(response);
}

void OBSOauthViewController::closeWithResponse(const std::shared_ptr<OBSocialResponseEntity>& response) {
  auto service = socialControllerService;
  if (!service) return;
  // The sign-in is the caller's this screen was opened for, whoever asked for a screen since.
  auto delegate = service->callerOfScreen(*this, caller_).lock();
  if (delegate) delegate->didFinishGetOBSocialDataInViewController(response);
  auto navigation = std::dynamic_pointer_cast<os::NavigationController>(
      navigationController() ? navigationController()->shared_from_this() : nullptr);
  if (response->responseCode == OBSocialResponseCodeSuccess && delegate &&
      delegate->closeOauthWebViewController(navigation, service))
    return;
  showNextViewController(response);
}

void OBSOauthViewController::showNextViewController(const std::shared_ptr<OBSocialResponseEntity>& response) {
  auto service = socialControllerService;
  if (!service) return;
  auto navigation = navigationController();
  if (service->nextViewController != -1 && response->responseCode == OBSocialResponseCodeSuccess && navigation) {
    auto next = service->getSocialViewController(service->nextViewController, service->currentSnsPlatformName);
    service->nextViewController = -1;
    if (next) {
      navigation->pushViewController(next, true);
      service->currentNavigationController =
          std::dynamic_pointer_cast<os::NavigationController>(navigation->shared_from_this());
      service->currentViewController = next;
      service->currentViewControllerType = OBSocialViewControllerTypeShareEdit;
      service->currentViewControllerArray.push_back(OBSocialViewControllerTypeShareEdit);
      return;
    }
  }
  service->closeScreen(*this, nullptr, caller_);
}
