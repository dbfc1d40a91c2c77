#include "sharing/handlers/OBSocialSnsHandler.h"

#include <algorithm>
#include <utility>

#include "os/graphics/Image.h"
#include "sharing/handlers/OBSocialFacebookSnsHandler.h"
#include "sharing/handlers/OBSocialMailHandler.h"
#include "os/graphics/ImageCodec.h"
#include "os/net/URLConnection.h"
#include "os/store/Bundle.h"
#include "os/views/AlertView.h"
#include "os/views/Application.h"
#include "os/views/Window.h"
#include "sharing/screens/OBSocialControllerService.h"
#include "sharing/service/OBSBarEntity.h"
#include "sharing/service/OBSCacheManager.h"
#include "sharing/service/OBSDataManager.h"
#include "sharing/service/OBSDataManagerSet.h"
#include "sharing/service/OBSUserManager.h"
#include "sharing/service/OBSocialAccountEntity.h"
#include "sharing/service/OBSocialAccountManager.h"
#include "sharing/service/OBSocialContext.h"
#include "sharing/service/OBSocialData.h"
#include "sharing/service/OBSocialDataService.h"
#include "sharing/widgets/OBSocialXToast.h"
#include "sharing/service/OBSocialOpAnalytics.h"
#include "sharing/service/OBSocialResponseEntity.h"
#include "sharing/service/OBSocialUIDelegate.h"
#include "sharing/service/OBUtils.h"
#include "sharing/widgets/OBImageLoader.h"
#include "sharing/widgets/OBSocialKHProgressHUD.h"

namespace {

constexpr const char* kAppInfoCacheName = "appInfo";

std::string localized(const std::string& key) {
  auto bundle = os::Bundle::mainBundle();
  return bundle ? bundle->localizedStringForKey(key, "", "OBSocialLocalizable") : key;
}

std::optional<os::Array> urlTypes() {
  auto bundle = os::Bundle::mainBundle();
  if (!bundle) return std::nullopt;
  const os::Value types = bundle->objectForInfoDictionaryKey("CFBundleURLTypes");
  if (const os::Array* array = types.array()) return *array;
  return std::nullopt;
}

}  // namespace

std::shared_ptr<OBSocialSnsHandler> OBSocialSnsHandler::shareInstance() { return OBSocialContext::shared<OBSocialSnsHandler>(); }

bool OBSocialSnsHandler::handleOpenURL(const os::URL& url, const std::weak_ptr<WXApiDelegate>&) {
  auto handler = currentSnsHandler_.lock();
  if (handler) {
    // One URL per wait: once the handler has taken one, the next one is not its.
    currentSnsHandler_.reset();
    const bool taken = handler->handleOpenURL(url);
    // A URL it does not take (another application's, a late answer nobody waits for) leaves it
    // waiting for its own answer, unless it set up another wait meanwhile.
    if (!taken && !currentSnsHandler_.lock()) currentSnsHandler_ = handler;
    if (taken) return true;
  }
  // The wait names the handler that sent last. One that sent earlier, to another application,
  // still waits for that application's answer: it is offered the URL too.
  std::vector<std::shared_ptr<OBSocialSnsHandlerDelegate>> others;
  for (const auto& [name, other] : handlers_)
    if (other != handler && other->awaitsAnswer() && std::find(others.begin(), others.end(), other) == others.end())
      others.push_back(other);
  for (const auto& other : others) {
    auto waiting = currentSnsHandler_.lock();
    const bool taken = other->handleOpenURL(url);
    // Its own wait set again does not take the place of the newer one.
    if (waiting && waiting->awaitsAnswer() && currentSnsHandler_.lock() == other) currentSnsHandler_ = waiting;
    if (taken) return true;
  }
  return false;
}

void OBSocialSnsHandler::registerSnsHandler(const std::vector<std::string>& platformNames,
                                            std::shared_ptr<OBSocialSnsHandlerDelegate> handler) {
  for (const auto& name : platformNames) handlers_[name] = handler;
}

std::shared_ptr<OBSocialSnsHandlerDelegate> OBSocialSnsHandler::getSocialSnsHandler(const std::string& platformName) const {
  static const char* const kHandled[] = {"wxsession", "wxtimeline", "email", "sms", "facebook", "twitter", "qq"};
  bool known = false;
  for (const char* name : kHandled) known = known || platformName == name;
  if (!known) return nullptr;
  if (platformName == "email" || platformName == "sms") return OBSocialMailHandler::shareInstance();
  if (platformName == "facebook" || platformName == "twitter") return OBSocialFacebookSnsHandler::shareInstance();
  auto found = handlers_.find(platformName);
  return found == handlers_.end() ? nullptr : found->second;
}

void OBSocialSnsHandler::requestAppInfo(OBSocialCompletion completion) {
  OBSUserManager::shareInstance()->requestAppInfo(std::move(completion));
}

void OBSocialSnsHandler::setAppInfo(const std::optional<os::Dictionary>& info) {
  if (!info) return;
  appInfo_ = *info;
  OBSDataManagerSet::shareInstance()->setAppInfo(*info);
  OBSCacheManager::shareInstance()->setCacheToVariable(os::ArchiveItem(os::Value(appInfo_)), kAppInfoCacheName);
}

os::Dictionary OBSocialSnsHandler::appInfo() {
  if (auto item = OBSCacheManager::shareInstance()->changeVariableFromCache(kAppInfoCacheName))
    if (auto value = item->toValue())
      if (const os::Dictionary* d = value->dictionary()) appInfo_ = *d;
  if (appInfo_.empty()) appInfo_ = OBSDataManagerSet::shareInstance()->appInfo();
  return appInfo_;
}

void OBSocialSnsHandler::clickHandlerWithSnsName(const std::string& platformName,
                                                 const std::shared_ptr<os::ViewController>& controller,
                                                 const std::shared_ptr<OBSocialControllerService>& service) {
  if (auto handler = getSocialSnsHandler(platformName)) handler->clickHandlerWithSnsName(platformName, controller, service);
}

void OBSocialSnsHandler::handleClickHandler(const std::shared_ptr<OBSocialControllerService>& service,
                                            const std::string& platformName) {
  if (!service) return;
  if (auto delegate = service->socialUIDelegate()) delegate->didSelectSocialPlatform(platformName, service->socialData());
}

void OBSocialSnsHandler::handleClickHandler(const std::shared_ptr<OBSocialControllerService>& service,
                                            const std::string& platformName, const std::optional<std::string>& sourceOpType) {
  handleClickHandler(service, platformName);
  OBSocialOpAnalytics::postSocialAnalytics("3", sourceOpType, platformName);
}

void OBSocialSnsHandler::postOpWithSnsName(const std::string& platformName) {
  OBSocialOpAnalytics::postSocialAnalytics("3", std::nullopt, platformName);
}

void OBSocialSnsHandler::postOpWithText(const std::optional<std::string>& text, const std::string& platformName) {
  OBSocialDataService::defaultDataService()->postSNSWithTypesInternal({platformName}, text.value_or(""), nullptr, std::nullopt,
                                                                      nullptr, nullptr, std::string("3"));
}

void OBSocialSnsHandler::handleUIDelegate(const std::shared_ptr<OBSocialUIDelegate>& delegate, const std::string& platformName,
                                          int responseCode, const std::optional<std::string>& errorString,
                                          const std::optional<os::Error>& error) {
  if (!delegate) return;
  auto response = std::make_shared<OBSocialResponseEntity>();
  response->responseCode = responseCode;
  response->message = errorString;
  response->viewControllerType = 3;
  response->responseType = 5;
  response->data = os::Dictionary{{platformName, os::Value("")}};
  response->error = error;
  delegate->didFinishGetOBSocialDataInViewController(response);
}

void OBSocialSnsHandler::upLoadSnsAccount(const std::shared_ptr<OBSocialAccountEntity>& account, OBSocialCompletion completion) {
  std::shared_ptr<KHProgressHUD> hud;
  auto app = os::Application::shared();
  auto windows = app ? app->windows() : std::vector<std::shared_ptr<os::Window>>{};
  if (!windows.empty()) {
    hud = OBSocialKHProgressHUD::initWithWindow(*windows.front());
    windows.front()->addSubview(hud);
    hud->show(true);
  }
  OBUtils::outLogf("snsAccount is %s", account && account->platformName ? account->platformName->c_str() : "(null)");
  OBSocialAccountManager::postSnsAccountInternal(
      account,
      [account, completion, hud](const std::shared_ptr<OBSocialResponseEntity>& uploaded) {
        if (uploaded->responseCode != OBSocialResponseCodeSuccess) {
          if (hud) hud->hide(true);
          if (completion) {
            auto failed = std::make_shared<OBSocialResponseEntity>();
            failed->responseType = 9;
            failed->viewControllerType = 7;
            failed->responseCode = OBSocialResponseCodeAccountUploadFailed;
            failed->message = "post sns info fail!";
            completion(failed);
          }
          auto alert = std::make_shared<os::AlertView>(localized("oauth_error_title"), localized("oauth_error_message"),
                                                       std::weak_ptr<os::AlertViewDelegate>{}, localized("button_ok"));
          alert->show();
          return;
        }
        uploaded->responseCode = OBSocialResponseCodeSuccess;
        uploaded->message = "no error";
        OBSocialAccountManager::setSnsAccount(account);
        // Not an operation of the application's: the login counts itself already.
        OBSocialDataService::defaultDataService()->requestSocialAccountWithCompletionInternal(
            [account, completion, hud, uploaded](const std::shared_ptr<OBSocialResponseEntity>&) {
              if (hud) hud->hide(true);
              if (!completion) return;
              uploaded->responseType = 9;
              uploaded->viewControllerType = 7;
              const std::string name = account && account->platformName ? *account->platformName : "";
              os::Dictionary entry;
              auto accounts = OBSocialAccountManager::socialAccountDictionary();
              auto stored = accounts.find(name);
              if (stored != accounts.end() && stored->second) {
                // The entry ends at the first value the account lacks.
                if (stored->second->usid) {
                  entry.set("usid", os::Value(*stored->second->usid));
                  if (stored->second->accessToken) {
                    entry.set("accessToken", os::Value(*stored->second->accessToken));
                    if (stored->second->userName) entry.set("username", os::Value(*stored->second->userName));
                  }
                }
              }
              uploaded->data = os::Dictionary{{name, os::Value(std::move(entry))}};
              completion(uploaded);
            });
      },
      std::string("4"));
}

void OBSocialSnsHandler::removeMaskView() {
  if (auto shown = std::exchange(toast, nullptr)) shown->removeToast();
}

std::optional<std::string> OBSocialSnsHandler::searchForURLSchemeWithPrefix(const std::string& prefix, const os::Array& types) {
  std::optional<std::string> result;
  for (const auto& type : types) {
    const os::Array* schemes = type["CFBundleURLSchemes"].array();
    if (!schemes) continue;
    for (const auto& scheme : *schemes) {
      const std::string* text = scheme.string();
      if (text && text->rfind(prefix, 0) == 0) {
        result = *text + "://";
        break;
      }
    }
  }
  return result;
}

bool OBSocialSnsHandler::searchForURLSchemeWithURLName(const std::string& urlName) const {
  auto types = urlTypes();
  if (!types) return false;
  for (const auto& type : *types)
    if (type["CFBundleURLName"].stringOr() == urlName) return true;
  OBUtils::outLog(kOBSocialUrlSchemeMissing);
  return false;
}

std::optional<std::string> OBSocialSnsHandler::getUrlSchemeWithPrefix(const std::string& prefix) const {
  auto types = urlTypes();
  std::optional<std::string> scheme = types ? searchForURLSchemeWithPrefix(prefix, *types) : std::nullopt;
  if (!scheme) OBUtils::outLog(kOBSocialUrlSchemeMissing);
  return scheme;
}

bool OBSocialSnsHandler::searchForURLSchemeWithPrefix(const std::string& prefix) const {
  return getUrlSchemeWithPrefix(prefix).has_value();
}

std::shared_ptr<os::Image> OBSocialSnsHandler::scaleImage(const std::shared_ptr<os::Image>& image, os::Size size) {
  if (!image) return nullptr;
  const double w = image->pixelWidth(), h = image->pixelHeight();
  if (w < size.width && h < size.height) return image;
  const double s = std::min(size.width / w, size.height / h);
  return image->scaledToPixelSize(std::max(1, static_cast<int>(w * s)), std::max(1, static_cast<int>(h * s)));
}

std::optional<os::Data> OBSocialSnsHandler::scaleAndComplessImage(const std::shared_ptr<os::Image>& image, os::Size size) {
  auto scaled = scaleImage(image, size);
  if (!scaled) return std::nullopt;
  return os::encodeJPEG(*scaled, 0.8);
}

std::optional<std::string> OBSocialSnsHandler::subString(const std::string& text, os::StringEncoding encoding,
                                                         std::size_t bytesLength) {
  if (text.empty()) return std::nullopt;
  auto bytes = os::encodeText(text, encoding);
  if (!bytes) return text;
  if (bytesLength == 0 || bytes->size() == 0 || bytes->size() <= bytesLength) return text;
  std::string kept;
  for (std::size_t i = 0; i < text.size();) {
    std::size_t length = 1;
    os::decodeUTF8At(text, i, &length);
    std::string longer = kept + text.substr(i, length);
    auto encoded = os::encodeText(longer, encoding);
    if (!encoded) return text;
    if (encoded->size() > bytesLength) break;
    kept = std::move(longer);
    i += length;
  }
  return kept;
}

std::shared_ptr<os::Image> OBSocialSnsHandler::getShareImage(const std::shared_ptr<OBSocialData>& socialData,
                                                             const std::string& platformName) {
  auto bar = OBSDataManager::currentDataManager()->barEntity();
  auto content = bar->getSnsData(platformName);
  std::shared_ptr<OBSocialUrlResource> resource = content ? content->urlResource : nullptr;
  if ((!resource || resource->resourceType == 0) && socialData) resource = socialData->urlResource();
  if (resource && resource->resourceType == 1 && resource->url) {
    if (const std::string& url = *resource->url; !url.empty()) {
      if (auto cached = OBImageLoader::sharedImageLoader()->imageForURL(url, {})) return cached;
      // Not in the cache: read at once, as the handler needs the picture now.
      os::Error error;
      if (auto body = os::URLConnection::sendSynchronousRequest(os::URLRequest(*resource->url), nullptr, &error))
        if (auto image = os::decodeImage(*body)) return image;
    }
  }
  if (content && content->shareImage) return content->shareImage;
  return socialData ? socialData->shareImage() : nullptr;
}
