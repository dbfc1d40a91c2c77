#pragma once
// The feedback form: a suggestion and an optional way to reach the reader, sent to the news
// server with the send button in the navigation bar. Main thread.
#include <memory>
#include <string>

#include "news/settings/UICommonTextView.h"
#include "news/shell/NQBaseViewController.h"
#include "os/views/AlertView.h"
#include "os/views/Button.h"
#include "os/views/Label.h"

class VXReaderContext;

class VXFeedbackViewController : public NQBaseViewController, public os::AlertViewDelegate {
 public:
  static constexpr int kSuccessAlertTag = 10;
  static constexpr long long kFeedbackSuccess = 1;

  // `context`: the reader context whose servers and HUD it uses.
  explicit VXFeedbackViewController(std::shared_ptr<VXReaderContext> context);
  std::string className() const override { return "VXFeedbackViewController"; }
  std::string navbarTitle() const override { return "反馈意见"; }

  void viewDidLoad() override;
  void createRightButton();
  void buttonClick();
  void feedbackSuccess();
  void clickedButtonAtIndex(os::AlertView& alert, long buttonIndex) override;

  const std::shared_ptr<UICommonTextView>& suggestionTextView() const { return suggestionTextView_; }
  const std::shared_ptr<UICommonTextView>& contactTextView() const { return contactTextView_; }
  const std::shared_ptr<os::Label>& noteLabel() const { return noteLabel_; }
  const std::shared_ptr<os::Button>& sendButton() const { return sendButton_; }

 private:
  void answered(const std::optional<os::Dictionary>& data);
  void failed();
  std::weak_ptr<VXFeedbackViewController> weakSelf();
  // The context's HUD over this screen (nothing once the context is gone).
  void showHud(const std::string& text);

  // Weak: the context holds the side menu, which holds the stack this screen is on.
  std::weak_ptr<VXReaderContext> context_;

  std::shared_ptr<UICommonTextView> suggestionTextView_;
  std::shared_ptr<UICommonTextView> contactTextView_;
  std::shared_ptr<os::Label> noteLabel_;
  std::shared_ptr<os::Button> sendButton_;
};
