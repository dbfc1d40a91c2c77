#pragma once
// Shares the current content by e-mail ("email") and by text message ("sms") through the
// system's compose screens: builds the two platform descriptors, opens the right composer when
// the reader picks one, and reports the composer's outcome to the share screens' UI delegate.
// Each composer carries its own share (controller service and text): an outcome goes to the
// caller whose composer it is, never to one whose composer was built later.
#include <memory>
#include <optional>
#include <string>

#include "os/views/MailComposeViewController.h"
#include "os/views/MessageComposeViewController.h"
#include "sharing/handlers/OBSocialSnsHandler.h"

class OBSocialSnsPlatform;

class OBSocialMailHandler : public OBSocialSnsHandler,
                            public OBSocialSnsHandlerDelegate,
                            public os::MailComposeViewControllerDelegate,
                            public os::MessageComposeViewControllerDelegate,
                            public std::enable_shared_from_this<OBSocialMailHandler> {
 public:
  static std::shared_ptr<OBSocialMailHandler> shareInstance();

  // The descriptor of "email" or "sms"; any other name gets a bare descriptor of that name.
  std::shared_ptr<OBSocialSnsPlatform> getEmailSmsPlatform(const std::string& platformName);

  void clickHandlerWithSnsName(const std::string& platformName, const std::shared_ptr<os::ViewController>& controller,
                               const std::shared_ptr<OBSocialControllerService>& service) override;
  // Null when the device cannot send mail / text messages.
  std::shared_ptr<os::MailComposeViewController> getEditEmailController(const std::shared_ptr<OBSocialControllerService>& service);
  std::shared_ptr<os::MessageComposeViewController> getEditSMSController(
      const std::shared_ptr<OBSocialControllerService>& service);
  void closeFromMessageOrMail(os::ViewController& composer);
  // The controller service and text of the share a composer this handler built is for.
  static std::shared_ptr<OBSocialControllerService> socialControllerService(const os::ViewController& composer);
  static std::optional<std::string> shareText(const os::ViewController& composer);

  void mailComposeControllerDidFinish(os::MailComposeViewController& controller, os::MailComposeResult result,
                                      const os::Error* error) override;
  void messageComposeViewControllerDidFinish(os::MessageComposeViewController& controller,
                                             os::MessageComposeResult result) override;

 private:
  void report(const std::string& platformName, os::ViewController& composer, int code,
              const std::optional<std::string>& text, const std::optional<os::Error>& error);
};
