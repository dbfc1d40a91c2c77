#pragma once
// The hub between the sharing component and its platform handlers: the one handler waiting for
// another application's answering URL, the handler of each platform, the application's
// per-platform key information, the URL schemes of the application's own property list, the
// upload of a freshly logged-in account, and the steps every handler shares (telling the UI
// delegate, counting, reporting results, preparing share pictures and texts).
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "os/core/TextEncoding.h"
#include "os/core/URL.h"
#include "os/core/Value.h"
#include "os/graphics/Geometry.h"
#include "sharing/handlers/OBSocialSnsHandlerDelegate.h"

namespace os {
class Image;
class ViewController;
}  // namespace os
class OBSocialAccountEntity;
class OBSocialControllerService;
class OBSocialData;
class OBSocialUIDelegate;
class OBSocialXToast;
class WXApiDelegate;

inline constexpr const char* kOBSocialUrlSchemeMissing =
    "\n------------------------------------------\n------------------------------------------\n"
    "注意，使用Ombra社会化组件的微博SSO功能，需要按照文档要求在xcode设置url scheme！\n"
    "------------------------------------------\n------------------------------------------\n";

// The message of the cancel a share hears when a later share took its place in the platform's
// application before that application answered.
inline constexpr const char* kOBSocialReplacedShareMessage = "another share took its place";
// The message of the cancel a login hears when a later login took its place before the
// platform's application answered.
inline constexpr const char* kOBSocialReplacedLoginMessage = "another login took its place";

class OBSocialSnsHandler {
 public:
  virtual ~OBSocialSnsHandler() = default;
  static std::shared_ptr<OBSocialSnsHandler> shareInstance();

  // Hands the URL to the waiting handler, which stops waiting; false when none waits.
  bool handleOpenURL(const os::URL& url, const std::weak_ptr<WXApiDelegate>& wxApiDelegate = {});
  std::shared_ptr<OBSocialSnsHandlerDelegate> currentSnsHandler() const { return currentSnsHandler_.lock(); }
  void setCurrentSnsHandler(std::weak_ptr<OBSocialSnsHandlerDelegate> handler) { currentSnsHandler_ = std::move(handler); }

  // Platform handlers make themselves known for their platform names when they are set up.
  void registerSnsHandler(const std::vector<std::string>& platformNames, std::shared_ptr<OBSocialSnsHandlerDelegate> handler);
  std::shared_ptr<OBSocialSnsHandlerDelegate> getSocialSnsHandler(const std::string& platformName) const;

  void requestAppInfo(OBSocialCompletion completion);
  void setAppInfo(const std::optional<os::Dictionary>& info);
  os::Dictionary appInfo();
  std::optional<std::string> qqAppId;
  // The sharing service's application key, as the application last gave it.
  const std::optional<std::string>& appkey() const { return appkey_; }
  void setAppkey(std::string appkey) { appkey_ = std::move(appkey); }

  void clickHandlerWithSnsName(const std::string& platformName, const std::shared_ptr<os::ViewController>& controller,
                               const std::shared_ptr<OBSocialControllerService>& service);
  void handleClickHandler(const std::shared_ptr<OBSocialControllerService>& service, const std::string& platformName);
  void handleClickHandler(const std::shared_ptr<OBSocialControllerService>& service, const std::string& platformName,
                          const std::optional<std::string>& sourceOpType);
  void postOpWithSnsName(const std::string& platformName);
  // Records with the service a share made through a platform's own application.
  void postOpWithText(const std::optional<std::string>& text, const std::string& platformName);
  void handleUIDelegate(const std::shared_ptr<OBSocialUIDelegate>& delegate, const std::string& platformName,
                        int responseCode, const std::optional<std::string>& errorString,
                        const std::optional<os::Error>& error);
  // Uploads a freshly logged-in account under a progress panel; the completion hears the stored
  // account (code 200) or 5051 "post sns info fail!".
  void upLoadSnsAccount(const std::shared_ptr<OBSocialAccountEntity>& account, OBSocialCompletion completion);

  // A message a handler keeps on screen; `removeMaskView` takes it off.
  std::shared_ptr<OBSocialXToast> toast;
  void removeMaskView();

  // URL schemes of the application's Info.plist.
  bool searchForURLSchemeWithURLName(const std::string& urlName) const;
  bool searchForURLSchemeWithPrefix(const std::string& prefix) const;
  std::optional<std::string> getUrlSchemeWithPrefix(const std::string& prefix) const;
  static std::optional<std::string> searchForURLSchemeWithPrefix(const std::string& prefix, const os::Array& urlTypes);

  // Only ever shrinks, keeping the proportions.
  static std::shared_ptr<os::Image> scaleImage(const std::shared_ptr<os::Image>& image, os::Size size);
  static std::optional<os::Data> scaleAndComplessImage(const std::shared_ptr<os::Image>& image, os::Size size);
  // The longest leading part whose bytes in the encoding fit the limit, cut between characters.
  static std::optional<std::string> subString(const std::string& text, os::StringEncoding encoding, std::size_t bytesLength);
  // The platform's picture: its image link loaded (from the cache when there), else its picture.
  static std::shared_ptr<os::Image> getShareImage(const std::shared_ptr<OBSocialData>& socialData,
                                                  const std::string& platformName);

 private:
  std::weak_ptr<OBSocialSnsHandlerDelegate> currentSnsHandler_;
  std::map<std::string, std::shared_ptr<OBSocialSnsHandlerDelegate>> handlers_;
  os::Dictionary appInfo_;
  std::optional<std::string> appkey_;
};
