#include "os/views/MessageComposeViewController.h"

#include "os/views/Device.h"

namespace os {

namespace {
std::vector<TextMessage>& outboxStore() {
  static std::vector<TextMessage> store;
  return store;
}
}  // namespace

MessageComposeViewController::MessageComposeViewController() : ComposeScreen("Send") { setTitle("New Message"); }

bool MessageComposeViewController::canSendText() { return Device::current().profile().canSendText; }

bool MessageComposeViewController::canSendAttachments() {
  const auto& p = Device::current().profile();
  return p.canSendText && p.canSendMessageAttachments;
}

void MessageComposeViewController::setRecipients(std::vector<std::string> recipients) {
  message_.recipients = std::move(recipients);
  refresh();
}

void MessageComposeViewController::setBody(std::string body) {
  message_.body = std::move(body);
  refresh();
}

bool MessageComposeViewController::addAttachmentData(Data data, std::string typeIdentifier, std::string fileName) {
  if (!canSendAttachments()) return false;
  message_.attachments.push_back({std::move(data), std::move(typeIdentifier), std::move(fileName)});
  refresh();
  return true;
}

std::vector<std::string> MessageComposeViewController::lines() const {
  std::string to;
  for (const auto& r : message_.recipients) to += (to.empty() ? "" : ", ") + r;
  std::vector<std::string> out{"To: " + to, message_.body};
  for (const auto& a : message_.attachments)
    out.push_back("[" + a.fileName + " " + a.typeIdentifier + " " + std::to_string(a.data.size()) + " bytes]");
  return out;
}

void MessageComposeViewController::send() {
  if (finished_) return;
  if (!canSendText()) return finish(MessageComposeResult::Failed);
  outboxStore().push_back(message_);
  finish(MessageComposeResult::Sent);
}

void MessageComposeViewController::cancel() { finish(MessageComposeResult::Cancelled); }

void MessageComposeViewController::fail() { finish(MessageComposeResult::Failed); }

void MessageComposeViewController::finish(MessageComposeResult result) {
  if (finished_) return;
  finished_ = true;
  auto self = shared_from_this();
  if (auto d = delegate_.lock()) d->messageComposeViewControllerDidFinish(*this, result);
}

const std::vector<TextMessage>& MessageComposeViewController::outbox() { return outboxStore(); }
void MessageComposeViewController::clearOutbox() { outboxStore().clear(); }

}  // namespace os
