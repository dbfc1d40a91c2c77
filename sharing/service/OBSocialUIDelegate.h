#pragma once
// What the sharing screens tell their caller. Every operation is optional: the empty defaults
// behave as if the caller did not answer (no direct share, the OAuth screen closes itself).
#include <memory>
#include <string>

namespace os {
class NavigationController;
}
class OBSocialControllerService;
class OBSocialData;
class OBSocialResponseEntity;

class OBSocialUIDelegate {
 public:
  virtual ~OBSocialUIDelegate() = default;

  // A sharing screen closed; the code of its kind (2 share list, 3 share editor, 7 OAuth web
  // screen, 9 friend picker, 10 icon sheet).
  virtual void didCloseUIViewController(int fromViewControllerType) {}
  // A share, login or other request of the sharing screens ended with this response.
  virtual void didFinishGetOBSocialDataInViewController(const std::shared_ptr<OBSocialResponseEntity>& response) {}
  // The user picked a platform; the share data about to go there.
  virtual void didSelectSocialPlatform(const std::string& platformName, const std::shared_ptr<OBSocialData>& socialData) {}
  // True to post a share at once from the icon sheet instead of opening the share editor.
  virtual bool isDirectShareInIconActionSheet() { return false; }
  // After a successful web login: true when the caller takes over the OAuth screen's navigation
  // controller, false to let the screen close itself.
  virtual bool closeOauthWebViewController(const std::shared_ptr<os::NavigationController>& navigationController,
                                           const std::shared_ptr<OBSocialControllerService>& socialControllerService) {
    return false;
  }
};
