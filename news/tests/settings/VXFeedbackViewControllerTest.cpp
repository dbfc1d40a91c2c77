// The feedback form against the local news server: refused when empty, sent as typed, and what
// each outcome shows.
#include <gtest/gtest.h>

#include "news/settings/VXFeedbackViewController.h"
#include "news/tests/support/ReaderFixture.h"
#include "os/testing/ScreenHelpers.h"

namespace {

using newstest::runUntil;
using os::testing::frontAlert;

class VXFeedbackViewControllerTest : public newstest::SettingsFixture {
 protected:
  void openFeedback() {
    startServer(1);
    open();
    tapRow(VXSettingViewController::kRowFeedback);
    os::TouchDriver::advance(1);
    feedback_ = std::dynamic_pointer_cast<VXFeedbackViewController>(nav_->viewControllers().back());
    ASSERT_TRUE(feedback_);
  }
  void type(const std::string& suggestion, const std::string& contact) {
    feedback_->suggestionTextView()->setText(suggestion);
    feedback_->contactTextView()->setText(contact);
  }
  void send() {
    ASSERT_TRUE(os::TouchDriver::tap(*feedback_->sendButton()));
    os::TouchDriver::settle();
  }
  std::vector<std::string> received() const { return server_->service().received().feedback; }

  std::shared_ptr<VXFeedbackViewController> feedback_;
};

TEST_F(VXFeedbackViewControllerTest, AnEmptySuggestionIsRefusedAndNothingIsSent) {
  openFeedback();
  type("", "me@example.com");
  send();
  ASSERT_TRUE(frontAlert());
  EXPECT_EQ(frontAlert()->title(), "意见内容不能为空");
  os::RunLoop::main()->runUntil([] { return false; }, 0.3);
  EXPECT_TRUE(received().empty());
  // What was typed stays for the reader to complete.
  EXPECT_EQ(feedback_->contactTextView()->text(), "me@example.com");
}

TEST_F(VXFeedbackViewControllerTest, ASuggestionIsSentAsTypedAndSuccessLeadsBackToSettings) {
  openFeedback();
  type("   ", "");
  send();
  ASSERT_TRUE(runUntil([] { return frontAlert() && frontAlert()->title() == "反馈成功"; }));
  EXPECT_EQ(received(), std::vector<std::string>{"   "});
  EXPECT_EQ(feedback_->suggestionTextView()->text(), "");
  ASSERT_TRUE(os::TouchDriver::pressAlertButton("确定"));
  os::TouchDriver::advance(1);
  EXPECT_EQ(topScreen(), "VXSettingViewController");
}

TEST_F(VXFeedbackViewControllerTest, TheSuccessAlertLeftUpUnderANewerScreenClosesTheFormOnly) {
  openFeedback();
  type("more maps", "");
  send();
  ASSERT_TRUE(runUntil([] { return frontAlert() && frontAlert()->title() == "反馈成功"; }));
  // A pushed headline's screen comes over the form while its alert is still up.
  auto newer = std::make_shared<os::ViewController>();
  nav_->pushViewController(newer, false);
  os::TouchDriver::settle();
  ASSERT_TRUE(os::TouchDriver::pressAlertButton("确定"));
  os::TouchDriver::advance(1);
  ASSERT_FALSE(nav_->viewControllers().empty());
  EXPECT_EQ(nav_->viewControllers().back(), newer);
  for (const auto& screen : nav_->viewControllers()) EXPECT_NE(screen, feedback_);
  // Back from it goes to the settings, not to a form already sent.
  nav_->popViewController(false);
  os::TouchDriver::settle();
  EXPECT_EQ(topScreen(), "VXSettingViewController");
}

TEST_F(VXFeedbackViewControllerTest, ARefusedOrFailedSendSaysSoAndEmptiesTheForm) {
  openFeedback();
  server_->setFault(1110, {newsd::FailureMode::ErrorCode, 0});
  type("more pictures", "qq 12345");
  send();
  EXPECT_TRUE(waitHud("反馈失败，请重试"));
  EXPECT_EQ(feedback_->suggestionTextView()->text(), "");
  EXPECT_EQ(feedback_->contactTextView()->text(), "");
  EXPECT_EQ(topScreen(), "VXFeedbackViewController");

  os::TouchDriver::advance(2);
  server_->setFault(1110, {newsd::FailureMode::HttpError, 0});
  type("again", "");
  send();
  EXPECT_TRUE(waitHud("反馈失败，检查网络"));
  EXPECT_EQ(feedback_->suggestionTextView()->text(), "");
  EXPECT_TRUE(os::AlertView::visibleAlertViews().empty());
}

}  // namespace
