#pragma once
// Owns the sharing screens while they are up: the share data service, the caller's UI delegate
// and the state of the screen stack (which kind of screen is current, which comes next, which
// platform it serves, which navigation controller carries it). It builds each screen through the
// screen factory, wraps it in the component's navigation controller, sends the reader to the
// OAuth screen first when the platform is not authorised yet, and closes screens, telling the
// UI delegate about cancels and closes.
//
// Screens hold their service; the service holds its screens weakly, so a screen that is up
// keeps its service alive and nothing else has to.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "os/graphics/Color.h"
#include "os/views/NavigationController.h"

namespace os {
class Image;
class ViewController;
}  // namespace os
class OBSocialData;
class OBSocialDataService;
class OBSocialIconActionSheet;
class OBSocialResponseEntity;
class OBSocialUIDelegate;

// Kinds of sharing screens, as reported to the UI delegate and in response records.
enum OBSocialViewControllerType : int {
  OBSocialViewControllerTypeShareList = 2,
  OBSocialViewControllerTypeShareEdit = 3,
  OBSocialViewControllerTypeAccount = 4,
  OBSocialViewControllerTypeOauth = 7,
  OBSocialViewControllerTypeFriend = 9,
  OBSocialViewControllerTypeIconSheet = 10,
};

inline constexpr int kOBSocialIconActionSheetTag = 1013;
inline constexpr const char* kOBSocialCancelMessage = "user cancel the operation";

class OBSocialControllerService;

class OBSocialNavigationController : public os::NavigationController {
 public:
  using os::NavigationController::NavigationController;
  std::string className() const override { return "OBSocialNavigationController"; }
  bool shouldAutorotate() const override { return true; }
  unsigned supportedInterfaceOrientations() const override;
  // Whoever takes the screen down, the service that opened it hears that it is gone.
  void viewDidAppear(bool animated) override;
  void viewDidDisappear(bool animated) override;

  std::weak_ptr<OBSocialControllerService> socialControllerService;
};

class OBSocialControllerService : public std::enable_shared_from_this<OBSocialControllerService> {
 public:
  OBSocialControllerService();
  explicit OBSocialControllerService(std::shared_ptr<OBSocialData> socialData);
  static std::shared_ptr<OBSocialControllerService> defaultControllerService();

  const std::shared_ptr<OBSocialDataService>& socialDataService() const { return socialDataService_; }
  std::shared_ptr<OBSocialData> socialData() const;
  std::shared_ptr<OBSocialUIDelegate> socialUIDelegate() const { return socialUIDelegate_.lock(); }
  void setSocialUIDelegate(std::weak_ptr<OBSocialUIDelegate> delegate) { socialUIDelegate_ = std::move(delegate); }
  void setShareText(std::optional<std::string> text, std::shared_ptr<os::Image> image,
                    std::weak_ptr<OBSocialUIDelegate> delegate);

  std::weak_ptr<os::NavigationController> currentNavigationController;
  std::weak_ptr<os::ViewController> currentViewController;
  std::optional<std::string> currentSnsPlatformName;
  int nextViewController = -1;
  int currentViewControllerType = 0;
  std::vector<int> currentViewControllerArray;
  os::Color defaultColor;

  void setCurrentViewControllerType(int type) { currentViewControllerType = type; }
  std::shared_ptr<os::ViewController> getSocialViewController(int type,
                                                              const std::optional<std::string>& snsName = std::nullopt);
  int transformViewControllerType(int type, int platformType);
  std::shared_ptr<OBSocialNavigationController> makeNavigationControllerWithContorller(
      const std::shared_ptr<os::ViewController>& controller);

  std::shared_ptr<os::ViewController> getSocialShareListController();
  std::shared_ptr<os::ViewController> getSocialShareListControllerInternal();
  // A navigation controller around the editor, the bare editor for "email" and "sms", or null
  // (a platform the editor does not serve).
  std::shared_ptr<os::ViewController> getSocialShareEditController(const std::string& snsName);
  std::shared_ptr<os::ViewController> getSocialShareEditControllerInternal(const std::string& snsName,
                                                                           const std::optional<std::string>& sourceOpType);
  std::shared_ptr<os::ViewController> getSocialOauthController(const std::string& snsName);
  std::shared_ptr<os::ViewController> getSocialOauthControllerInternal(const std::string& snsName,
                                                                       const std::optional<std::string>& sourceOpType);
  std::shared_ptr<OBSocialIconActionSheet> getSocialIconActionSheetInController(
      const std::shared_ptr<os::ViewController>& controller);
  std::shared_ptr<OBSocialIconActionSheet> getSocialIconActionSheetInControllerInternal(
      const std::shared_ptr<os::ViewController>& controller);

  void addCloseButton(os::ViewController& screen);
  void closeWithCancelResponse();
  void closeWithResponse(const std::shared_ptr<OBSocialResponseEntity>& response);
  // The same for an answer that belongs to `caller`, who hears it and the close, whoever the UI
  // delegate is by now.
  void closeWithResponse(const std::shared_ptr<OBSocialResponseEntity>& response,
                         const std::weak_ptr<OBSocialUIDelegate>& caller);
  void close();
  void closeInternal();
  // Whom `screen` (or the screen carrying it) was opened for; `otherwise` when the service keeps
  // no record of it.
  std::weak_ptr<OBSocialUIDelegate> callerOfScreen(const os::ViewController& screen,
                                                   const std::weak_ptr<OBSocialUIDelegate>& otherwise) const;
  // `screen`'s own ending: the caller it was opened for hears `response` (when given) and the
  // close, and that screen goes, whichever screen is the newest. Screens shown over it go with
  // it, each telling its own caller of its cancel and close. For a screen the service keeps no
  // record of, `otherwise` hears the response and the newest screen closes.
  void closeScreen(const os::ViewController& screen, const std::shared_ptr<OBSocialResponseEntity>& response,
                   const std::weak_ptr<OBSocialUIDelegate>& otherwise);
  void didFinishedDismissViewController();
  // A screen a getter gave that its caller could not show: it leaves no record.
  void screenNotShown(const std::shared_ptr<os::ViewController>& carrier);
  // Lets go of the records of screens that are no longer up: taken down without this service's
  // close, or never shown and gone.
  void forgetScreensNoLongerUp();
  // The share straight to the service that a caller asking for direct shares gets from the sheet
  // and the share list: the platform's own text, picture and link where set, else the data's.
  void directShare(const std::string& platformName, const std::shared_ptr<os::ViewController>& controller);

 private:
  std::shared_ptr<os::ViewController> wrapScreen(int type, const std::optional<std::string>& snsName);
  // The screens the getters opened, newest last, each by a number of its own, with what carries
  // it on screen and where its codes begin in currentViewControllerArray.
  struct OpenScreen {
    std::uint64_t id = 0;
    std::weak_ptr<os::ViewController> carrier;
    std::weak_ptr<os::ViewController> screen;
    std::size_t at = 0;
    // Once seen on screen, a carrier that is neither presented nor contained has been taken down.
    bool seen = false;
    // Whom the screen was opened for: its cancel and close go there, whoever asks for screens since.
    std::weak_ptr<OBSocialUIDelegate> caller;
  };
  // A screen comes on the stack, or the newest goes; what the data service queues is for the
  // newest screen still up.
  void screenOpened(int type, const std::shared_ptr<os::ViewController>& carrier,
                    const std::shared_ptr<os::ViewController>& screen);
  void screenClosed();
  bool isUp(OpenScreen& record) const;
  std::optional<std::size_t> recordOf(const os::ViewController& screen) const;
  void makeCurrent(const OpenScreen& record);
  void forgetScreen(std::size_t index);
  void closeInternal(const std::weak_ptr<OBSocialUIDelegate>& caller);
  // Whom a close of the current screen is told to.
  std::weak_ptr<OBSocialUIDelegate> closingCaller() const;
  void didFinishedDismissViewController(const std::weak_ptr<OBSocialUIDelegate>& caller);
  void iconTapped(const std::string& platformName);

  std::shared_ptr<OBSocialDataService> socialDataService_;
  std::weak_ptr<OBSocialUIDelegate> socialUIDelegate_;
  std::vector<OpenScreen> openScreens_;
  std::uint64_t screensOpened_ = 0;
};
