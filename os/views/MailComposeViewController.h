#pragma once
// The system's mail compose screen, headless: the caller fills in recipients, subject, body (text
// or HTML) and attachments and presents it; the user's choice (send, save a draft, delete it) or
// the system's failure reaches the delegate, which dismisses the screen. Whether the device can
// send mail at all comes from its profile. Sent mail lands in the device's outbox, where tests
// read it.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "os/core/Data.h"
#include "os/core/Error.h"
#include "os/views/ComposeScreen.h"

namespace os {

class ActionSheet;
class ActionSheetDelegate;
class MailComposeViewController;

enum class MailComposeResult { Cancelled = 0, Saved = 1, Sent = 2, Failed = 3 };

struct MailAttachment {
  Data data;
  std::string mimeType;
  std::string fileName;
  bool operator==(const MailAttachment&) const = default;
};

struct MailMessage {
  std::vector<std::string> toRecipients, ccRecipients, bccRecipients;
  std::string subject;
  std::string body;
  bool bodyIsHTML = false;
  std::vector<MailAttachment> attachments;
};

class MailComposeViewControllerDelegate {
 public:
  virtual ~MailComposeViewControllerDelegate() = default;
  // `error` is set for Failed.
  virtual void mailComposeControllerDidFinish(MailComposeViewController& controller, MailComposeResult result,
                                              const Error* error) {}
};

inline constexpr const char* kMailComposeErrorDomain = "os.mailcompose";
enum MailComposeErrorCode : long { kMailComposeErrorSendFailed = 1 };

class MailComposeViewController : public ComposeScreen {
 public:
  MailComposeViewController();
  ~MailComposeViewController() override;
  std::string className() const override { return "MailComposeViewController"; }

  // Whether the device has a mail account to send from (the device profile).
  static bool canSendMail();

  void setMailComposeDelegate(std::weak_ptr<MailComposeViewControllerDelegate> delegate) { delegate_ = std::move(delegate); }
  std::shared_ptr<MailComposeViewControllerDelegate> mailComposeDelegate() const { return delegate_.lock(); }

  void setSubject(std::string subject);
  void setToRecipients(std::vector<std::string> recipients);
  void setCcRecipients(std::vector<std::string> recipients);
  void setBccRecipients(std::vector<std::string> recipients);
  void setMessageBody(std::string body, bool isHTML);
  void addAttachmentData(Data data, std::string mimeType, std::string fileName);
  const MailMessage& message() const { return message_; }

  // The user's choices on screen: "Send"; "Cancel", then "Delete Draft" or "Save Draft" on the sheet
  // it opens. Here for the drivers of the screen; taps reach them too.
  void send();
  void cancel(bool saveDraft);
  // The system could not take the mail (tests stand in for the system here).
  void fail(Error error);

  // Mail sent from this device, oldest first, and the drafts saved.
  static const std::vector<MailMessage>& outbox();
  static const std::vector<MailMessage>& drafts();
  static void clearMailboxes();

 protected:
  std::vector<std::string> lines() const override;
  void cancelTapped() override;
  void sendTapped() override { send(); }

 private:
  void finish(MailComposeResult result, const Error* error);

  MailMessage message_;
  std::weak_ptr<MailComposeViewControllerDelegate> delegate_;
  std::shared_ptr<ActionSheet> draftSheet_;
  std::shared_ptr<ActionSheetDelegate> sheetDelegate_;
  bool finished_ = false;
};

}  // namespace os
