// The system's compose screens as the sharing handlers use them: presented over a screen, filled
// in, and finished by the user's taps.
#include <gtest/gtest.h>

#include "os/graphics/Image.h"
#include "os/console/ScreenDump.h"
#include "os/views/MailComposeViewController.h"
#include "os/views/MessageComposeViewController.h"
#include "os/views/SocialComposeViewController.h"
#include "ViewsTestSupport.h"

namespace os::test {
namespace {

struct Outcomes : MailComposeViewControllerDelegate, MessageComposeViewControllerDelegate {
  Trace trace;
  void mailComposeControllerDidFinish(MailComposeViewController& c, MailComposeResult r, const Error* e) override {
    trace.add("mail " + std::to_string(static_cast<int>(r)) + (e ? " error" : ""));
    c.dismissViewController(false);
  }
  void messageComposeViewControllerDidFinish(MessageComposeViewController& c, MessageComposeResult r) override {
    trace.add("sms " + std::to_string(static_cast<int>(r)));
    c.dismissViewController(false);
  }
};

class ComposeTest : public ScreenTest {
 protected:
  void SetUp() override {
    ScreenTest::SetUp();
    window->setRootViewController(root);
    MailComposeViewController::clearMailboxes();
    MessageComposeViewController::clearOutbox();
    SocialComposeViewController::clearPosted();
  }
  void TearDown() override {
    window->setRootViewController(nullptr);
    ScreenTest::TearDown();
  }
  std::shared_ptr<ViewController> root = std::make_shared<ViewController>();
  std::shared_ptr<Outcomes> outcomes = std::make_shared<Outcomes>();
};

TEST_F(ComposeTest, MailIsSentSavedOrDeletedByTheUsersTaps) {
  auto mail = std::make_shared<MailComposeViewController>();
  mail->setMailComposeDelegate(outcomes);
  mail->setSubject("分享给你");
  mail->setToRecipients({"reader@example.com"});
  mail->setMessageBody("headline<br>", true);
  mail->addAttachmentData(Data{0xFF, 0xD8, 0xFF}, "png", "Image.png");
  root->presentViewController(mail, false);
  EXPECT_NE(dumpScreen().find("[Image.png png 3 bytes]"), std::string::npos);
  ASSERT_TRUE(TouchDriver::tapText("Send"));
  EXPECT_EQ(outcomes->trace.events, std::vector<std::string>{"mail 2"});
  EXPECT_FALSE(root->presentedViewController());
  ASSERT_EQ(MailComposeViewController::outbox().size(), 1u);
  const MailMessage& sent = MailComposeViewController::outbox()[0];
  EXPECT_EQ(sent.subject, "分享给你");
  EXPECT_TRUE(sent.bodyIsHTML);
  EXPECT_EQ(sent.attachments, (std::vector<MailAttachment>{{Data{0xFF, 0xD8, 0xFF}, "png", "Image.png"}}));

  // Cancel opens the draft sheet: saving reports 1 and keeps a draft; deleting reports 0.
  for (const char* choice : {"Save Draft", "Delete Draft"}) {
    auto draft = std::make_shared<MailComposeViewController>();
    draft->setMailComposeDelegate(outcomes);
    root->presentViewController(draft, false);
    ASSERT_TRUE(TouchDriver::tapText("Cancel"));
    ASSERT_TRUE(TouchDriver::pressAlertButton(choice));
    TouchDriver::advance(1);
  }
  EXPECT_EQ(outcomes->trace.events, (std::vector<std::string>{"mail 2", "mail 1", "mail 0"}));
  EXPECT_EQ(MailComposeViewController::drafts().size(), 1u);
  EXPECT_EQ(MailComposeViewController::outbox().size(), 1u);
}

TEST_F(ComposeTest, WithoutAMailAccountOrTextMessagesNothingGoes) {
  DeviceProfile noAccounts;
  noAccounts.canSendMail = false;
  noAccounts.canSendText = false;
  DeviceProfileScope scope(noAccounts);
  EXPECT_FALSE(MailComposeViewController::canSendMail());
  EXPECT_FALSE(MessageComposeViewController::canSendText());
  EXPECT_FALSE(MessageComposeViewController::canSendAttachments());
  // A screen made all the same cannot deliver: the send fails.
  auto mail = std::make_shared<MailComposeViewController>();
  mail->setMailComposeDelegate(outcomes);
  mail->send();
  auto sms = std::make_shared<MessageComposeViewController>();
  sms->setMessageComposeDelegate(outcomes);
  EXPECT_FALSE(sms->addAttachmentData(Data{1}, "public.jpeg", "picture.jpg"));
  sms->send();
  sms->cancel();  // one outcome per screen
  EXPECT_EQ(outcomes->trace.events, (std::vector<std::string>{"mail 3 error", "sms 2"}));
  EXPECT_TRUE(MailComposeViewController::outbox().empty());
  EXPECT_TRUE(MessageComposeViewController::outbox().empty());
}

TEST_F(ComposeTest, TextMessageCarriesItsPictureOnlyWhereAttachmentsGo) {
  auto sms = std::make_shared<MessageComposeViewController>();
  sms->setMessageComposeDelegate(outcomes);
  sms->setBody("看看这条新闻");
  EXPECT_TRUE(sms->addAttachmentData(Data{0xFF, 0xD8}, "public.jpeg", "picture.jpg"));
  root->presentViewController(sms, false);
  ASSERT_TRUE(TouchDriver::tapText("Send"));
  ASSERT_EQ(MessageComposeViewController::outbox().size(), 1u);
  EXPECT_EQ(MessageComposeViewController::outbox()[0].body, "看看这条新闻");
  EXPECT_EQ(MessageComposeViewController::outbox()[0].attachments[0].typeIdentifier, "public.jpeg");

  DeviceProfile textOnly;
  textOnly.canSendMessageAttachments = false;
  DeviceProfileScope scope(textOnly);
  auto plain = std::make_shared<MessageComposeViewController>();
  plain->setMessageComposeDelegate(outcomes);
  EXPECT_FALSE(plain->addAttachmentData(Data{1}, "public.jpeg", "picture.jpg"));
  root->presentViewController(plain, false);
  ASSERT_TRUE(TouchDriver::tapText("Cancel"));
  EXPECT_EQ(outcomes->trace.events, (std::vector<std::string>{"sms 1", "sms 0"}));
}

TEST_F(ComposeTest, SocialScreenNeedsTheFrameworkAndAnAccountPerService) {
  DeviceProfile withAccount;
  withAccount.socialAccounts = {"social.example.one"};
  DeviceProfileScope scope(withAccount);
  EXPECT_TRUE(SocialComposeViewController::isAvailableForServiceType("social.example.one"));
  EXPECT_FALSE(SocialComposeViewController::isAvailableForServiceType("social.example.two"));

  std::vector<SocialComposeResult> results;
  auto compose = SocialComposeViewController::composeViewControllerForServiceType("social.example.one");
  ASSERT_TRUE(compose);
  EXPECT_TRUE(compose->setInitialText("headline"));
  EXPECT_TRUE(compose->addImage(Image::create(Bitmap(4, 4))));
  compose->setCompletionHandler([&](SocialComposeResult r) {
    results.push_back(r);
    root->dismissViewController(false);
  });
  root->presentViewController(compose, false);
  EXPECT_FALSE(compose->setInitialText("changed"));  // too late once it shows
  ASSERT_TRUE(TouchDriver::tapText("Post"));
  ASSERT_EQ(SocialComposeViewController::posted().size(), 1u);
  EXPECT_EQ(SocialComposeViewController::posted()[0].text, "headline");
  EXPECT_EQ(SocialComposeViewController::posted()[0].images.size(), 1u);

  auto other = SocialComposeViewController::composeViewControllerForServiceType("social.example.one");
  other->setCompletionHandler([&](SocialComposeResult r) { results.push_back(r); });
  other->cancel();
  EXPECT_EQ(results, (std::vector<SocialComposeResult>{SocialComposeResult::Done, SocialComposeResult::Cancelled}));

  // An older system without the social framework has no such screen at all.
  DeviceProfile older;
  std::erase(older.frameworks, std::string(kSocialFrameworkPath));
  DeviceProfileScope olderScope(older);
  EXPECT_FALSE(SocialComposeViewController::isAvailable());
  EXPECT_FALSE(SocialComposeViewController::composeViewControllerForServiceType("social.example.one"));
}

}  // namespace
}  // namespace os::test
