#pragma once
// The OAuth web screen: loads the sharing service's authorisation page for the controller
// service's current platform (action 9, its query enciphered). The service ends the
// authorisation by sending the page to the platform's callback path with the enciphered answer;
// the screen stops that navigation, keeps the account it carries and reports the login.
#include <memory>
#include <optional>
#include <string>

#include "os/views/WebView.h"
#include "sharing/screens/OBSocialViewController.h"

class OBSocialResponseEntity;
class OBSocialUIDelegate;

class OBSOauthViewController : public OBSocialViewController, public os::WebViewDelegate {
 public:
  using OBSocialViewController::OBSocialViewController;
  std::string className() const override { return "OBSOauthViewController"; }

  void viewDidLoad() override;

  const std::shared_ptr<os::WebView>& webView() const { return webView_; }
  // The address the screen loaded (absent when the request could not be built).
  const std::optional<std::string>& authorisationURL() const { return authorisationURL_; }

  // The login ended with this response: the caller may take the navigation over; else the
  // screen continues or closes.
  void closeWithResponse(const std::shared_ptr<OBSocialResponseEntity>& response);
  void showNextViewController(const std::shared_ptr<OBSocialResponseEntity>& response);

  bool shouldStartLoadWithRequest(os::WebView& webView, const os::URLRequest& request,
                                  os::WebViewNavigationType type) override;
  void didFailLoadWithError(os::WebView& webView, const os::Error& error) override;

 private:
  std::shared_ptr<OBSocialResponseEntity> responseForCallback(const os::URL& url) const;

  std::optional<std::string> platformName_;
  // Whom the screen serves when the service keeps no record of it.
  std::weak_ptr<OBSocialUIDelegate> caller_;
  std::shared_ptr<os::WebView> webView_;
  std::optional<std::string> authorisationURL_;
  bool finished_ = false;
};
