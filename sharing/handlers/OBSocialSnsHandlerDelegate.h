#pragma once
// What a platform handler offers the sharing component; every operation is optional, and the
// defaults behave as a handler that does not answer.
#include <memory>
#include <string>

#include "os/core/URL.h"
#include "sharing/service/OBSocialJob.h"

namespace os {
class ViewController;
}
class OBSocialControllerService;

class OBSocialSnsHandlerDelegate {
 public:
  virtual ~OBSocialSnsHandlerDelegate() = default;
  // The URL another application reopened this one with; true when the handler took it.
  virtual bool handleOpenURL(const os::URL& url) { return false; }
  // Whether a request it handed another application still waits for that application's answer.
  virtual bool awaitsAnswer() const { return false; }
  virtual bool isClientInstall(const std::string& platformName) { return false; }
  virtual bool checkUrlSchema() { return false; }
  // Single sign-on through the platform's application.
  virtual void loginWithController(const std::shared_ptr<os::ViewController>& controller, OBSocialCompletion completion,
                                   const std::string& platformName) {}
  virtual bool needAuthorize() { return false; }
  // The reader picked the platform: the handler shares by itself.
  virtual void clickHandlerWithSnsName(const std::string& platformName, const std::shared_ptr<os::ViewController>& controller,
                                       const std::shared_ptr<OBSocialControllerService>& service) {}
};
