#pragma once
// The system's text-message compose screen, headless: recipients, a body and (where the device
// sends them) attachments; the user's send or cancel, or the system's failure, reaches the
// delegate, which dismisses the screen. Sent messages land in the device's outbox.
#include <memory>
#include <string>
#include <vector>

#include "os/core/Data.h"
#include "os/views/ComposeScreen.h"

namespace os {

class MessageComposeViewController;

enum class MessageComposeResult { Cancelled = 0, Sent = 1, Failed = 2 };

struct MessageAttachment {
  Data data;
  std::string typeIdentifier;  // a uniform type identifier: "public.jpeg"
  std::string fileName;
  bool operator==(const MessageAttachment&) const = default;
};

struct TextMessage {
  std::vector<std::string> recipients;
  std::string body;
  std::vector<MessageAttachment> attachments;
};

class MessageComposeViewControllerDelegate {
 public:
  virtual ~MessageComposeViewControllerDelegate() = default;
  virtual void messageComposeViewControllerDidFinish(MessageComposeViewController& controller,
                                                     MessageComposeResult result) {}
};

class MessageComposeViewController : public ComposeScreen {
 public:
  MessageComposeViewController();
  std::string className() const override { return "MessageComposeViewController"; }

  // From the device profile: whether it sends text messages, and attachments with them.
  static bool canSendText();
  static bool canSendAttachments();

  void setMessageComposeDelegate(std::weak_ptr<MessageComposeViewControllerDelegate> d) { delegate_ = std::move(d); }
  std::shared_ptr<MessageComposeViewControllerDelegate> messageComposeDelegate() const { return delegate_.lock(); }

  void setRecipients(std::vector<std::string> recipients);
  void setBody(std::string body);
  // False (and nothing attached) where the device sends no attachments.
  bool addAttachmentData(Data data, std::string typeIdentifier, std::string fileName);
  const TextMessage& message() const { return message_; }

  // The user's choices on screen ("Send", "Cancel"), and the system's failure.
  void send();
  void cancel();
  void fail();

  static const std::vector<TextMessage>& outbox();
  static void clearOutbox();

 protected:
  std::vector<std::string> lines() const override;
  void cancelTapped() override { cancel(); }
  void sendTapped() override { send(); }

 private:
  void finish(MessageComposeResult result);

  TextMessage message_;
  std::weak_ptr<MessageComposeViewControllerDelegate> delegate_;
  bool finished_ = false;
};

}  // namespace os
