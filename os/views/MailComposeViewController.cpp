#include "os/views/MailComposeViewController.h"

#include "os/views/AlertView.h"
#include "os/views/Device.h"

namespace os {

namespace {
std::vector<MailMessage>& outboxStore() {
  static std::vector<MailMessage> store;
  return store;
}
std::vector<MailMessage>& draftStore() {
  static std::vector<MailMessage> store;
  return store;
}

std::string joined(const std::vector<std::string>& items) {
  std::string out;
  for (const auto& s : items) out += (out.empty() ? "" : ", ") + s;
  return out;
}

// The sheet that "Cancel" opens: delete the draft, save it, or go on writing.
struct DraftSheetDelegate : ActionSheetDelegate {
  std::weak_ptr<MailComposeViewController> screen;
  void clickedButtonAtIndex(ActionSheet& sheet, long index) override {
    auto s = screen.lock();
    if (!s || index == sheet.cancelButtonIndex()) return;
    s->cancel(index != sheet.destructiveButtonIndex());
  }
};
}  // namespace

MailComposeViewController::MailComposeViewController() : ComposeScreen("Send") { setTitle("New Message"); }

MailComposeViewController::~MailComposeViewController() = default;

bool MailComposeViewController::canSendMail() { return Device::current().profile().canSendMail; }

void MailComposeViewController::setSubject(std::string subject) {
  message_.subject = std::move(subject);
  setTitle(message_.subject.empty() ? "New Message" : message_.subject);
  refresh();
}

void MailComposeViewController::setToRecipients(std::vector<std::string> r) {
  message_.toRecipients = std::move(r);
  refresh();
}

void MailComposeViewController::setCcRecipients(std::vector<std::string> r) {
  message_.ccRecipients = std::move(r);
  refresh();
}

void MailComposeViewController::setBccRecipients(std::vector<std::string> r) {
  message_.bccRecipients = std::move(r);
  refresh();
}

void MailComposeViewController::setMessageBody(std::string body, bool isHTML) {
  message_.body = std::move(body);
  message_.bodyIsHTML = isHTML;
  refresh();
}

void MailComposeViewController::addAttachmentData(Data data, std::string mimeType, std::string fileName) {
  message_.attachments.push_back({std::move(data), std::move(mimeType), std::move(fileName)});
  refresh();
}

std::vector<std::string> MailComposeViewController::lines() const {
  std::vector<std::string> out{"To: " + joined(message_.toRecipients)};
  if (!message_.ccRecipients.empty()) out.push_back("Cc: " + joined(message_.ccRecipients));
  if (!message_.bccRecipients.empty()) out.push_back("Bcc: " + joined(message_.bccRecipients));
  out.push_back("Subject: " + message_.subject);
  out.push_back(message_.body);
  for (const auto& a : message_.attachments)
    out.push_back("[" + a.fileName + " " + a.mimeType + " " + std::to_string(a.data.size()) + " bytes]");
  return out;
}

void MailComposeViewController::cancelTapped() {
  auto delegate = std::make_shared<DraftSheetDelegate>();
  delegate->screen = std::static_pointer_cast<MailComposeViewController>(shared_from_this());
  sheetDelegate_ = delegate;
  draftSheet_ = std::make_shared<ActionSheet>("", delegate, "Cancel", "Delete Draft", std::vector<std::string>{"Save Draft"});
  draftSheet_->showInView(*view());
}

void MailComposeViewController::send() {
  if (finished_) return;
  // Without an account the mail has nowhere to go.
  if (!canSendMail()) {
    Error error = Error::withDescription(kMailComposeErrorDomain, kMailComposeErrorSendFailed, "no mail account");
    return finish(MailComposeResult::Failed, &error);
  }
  outboxStore().push_back(message_);
  finish(MailComposeResult::Sent, nullptr);
}

void MailComposeViewController::cancel(bool saveDraft) {
  if (saveDraft && !finished_) draftStore().push_back(message_);
  finish(saveDraft ? MailComposeResult::Saved : MailComposeResult::Cancelled, nullptr);
}

void MailComposeViewController::fail(Error error) { finish(MailComposeResult::Failed, &error); }

void MailComposeViewController::finish(MailComposeResult result, const Error* error) {
  // One outcome per screen: a second tap while the screen goes away changes nothing.
  if (finished_) return;
  finished_ = true;
  auto self = shared_from_this();  // the delegate usually dismisses, dropping the last owner
  if (auto d = delegate_.lock()) d->mailComposeControllerDidFinish(*this, result, error);
}

const std::vector<MailMessage>& MailComposeViewController::outbox() { return outboxStore(); }
const std::vector<MailMessage>& MailComposeViewController::drafts() { return draftStore(); }
void MailComposeViewController::clearMailboxes() {
  outboxStore().clear();
  draftStore().clear();
}

}  // namespace os
