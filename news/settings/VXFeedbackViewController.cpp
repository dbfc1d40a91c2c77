#include "news/settings/VXFeedbackViewController.h"

#include "news/api/VXFeedbackRequest.h"
#include "news/api/VXGlobalHelper.h"
#include "news/api/VXReaderContext.h"
#include "os/graphics/Font.h"
#include "os/graphics/Image.h"
#include "os/views/BarButtonItem.h"
#include "os/views/NamedImage.h"
#include "os/views/NavigationBar.h"
#include "os/views/NavigationController.h"

VXFeedbackViewController::VXFeedbackViewController(std::shared_ptr<VXReaderContext> context)
    : context_(std::move(context)) {}

void VXFeedbackViewController::showHud(const std::string& text) {
  if (auto context = context_.lock()) VXGlobalHelper::share(*context).showHud(text, view(), true);
}

std::weak_ptr<VXFeedbackViewController> VXFeedbackViewController::weakSelf() {
  auto self = weak_from_this().lock();
  if (!self) return {};
  return std::static_pointer_cast<VXFeedbackViewController>(self);
}

void VXFeedbackViewController::viewDidLoad() {
  NQBaseViewController::viewDidLoad();
  auto root = view();
  const double width = root->bounds().size.width - 20;

  suggestionTextView_ = std::make_shared<UICommonTextView>(os::Rect{10, 10, width, 100});
  suggestionTextView_->setPlaceholder("期待您的意见反馈");
  root->addSubview(suggestionTextView_);

  contactTextView_ = std::make_shared<UICommonTextView>(os::Rect{10, 120, width, 30});
  contactTextView_->setPlaceholder("QQ、邮箱或手机等联系方式");
  root->addSubview(contactTextView_);

  noteLabel_ = std::make_shared<os::Label>(os::Rect{10, 155, width, 20});
  noteLabel_->setText("您的联系方式有助于我们沟通和解决问题，仅工作人员可见");
  noteLabel_->setFont(os::Font::systemFont(10));
  if (const auto& color = contactTextView_->placeholderColor()) noteLabel_->setTextColor(*color);
  root->addSubview(noteLabel_);

  createRightButton();
}

void VXFeedbackViewController::createRightButton() {
  sendButton_ = os::makeView<os::Button>(os::Rect(0, 0, 36, 25), os::ButtonType::Custom);
  sendButton_->setImage(os::imageNamed("setting_send"), os::kControlStateNormal);
  sendButton_->setAccessibilityLabel("发送");
  auto weak = weakSelf();
  sendButton_->addTarget(
      this,
      [weak](os::Control&) {
        if (auto self = weak.lock()) self->buttonClick();
      },
      os::kControlEventTouchUpInside);
  navigationItem()->setRightBarButtonItems({os::BarButtonItem::withCustomView(sendButton_)});
}

void VXFeedbackViewController::buttonClick() {
  if (suggestionTextView_->text().empty()) {
    auto alert = std::make_shared<os::AlertView>("意见内容不能为空", "", std::weak_ptr<os::AlertViewDelegate>(), "确定");
    alert->show();
    return;
  }
  auto context = context_.lock();
  if (!context) return;
  suggestionTextView_->resignFirstResponder();
  contactTextView_->resignFirstResponder();
  VXGlobalHelper::share(*context).showActivityHud("", view(), false);
  VXFeedbackRequest request(suggestionTextView_->text(), contactTextView_->text());
  auto weak = weakSelf();
  VXGlobalHelper::loadWithRequest(
      *context, request, 0,
      [weak](const std::optional<os::Dictionary>& data) {
        if (auto self = weak.lock()) self->answered(data);
      },
      [weak] {
        if (auto self = weak.lock()) self->failed();
      });
}

void VXFeedbackViewController::answered(const std::optional<os::Dictionary>& data) {
  if (data && (*data)["result"].intValue() == kFeedbackSuccess)
    feedbackSuccess();
  else
    showHud("反馈失败，请重试");
  suggestionTextView_->setText("");
  contactTextView_->setText("");
}

void VXFeedbackViewController::failed() {
  showHud("反馈失败，检查网络");
  suggestionTextView_->setText("");
  contactTextView_->setText("");
}

void VXFeedbackViewController::feedbackSuccess() {
  if (auto context = context_.lock()) VXGlobalHelper::share(*context).hideHud(false);
  std::weak_ptr<os::AlertViewDelegate> delegate;
  if (auto self = weakSelf().lock()) delegate = std::shared_ptr<os::AlertViewDelegate>(self, static_cast<os::AlertViewDelegate*>(this));
  auto alert = std::make_shared<os::AlertView>("反馈成功", "", delegate, "确定");
  alert->setTag(kSuccessAlertTag);
  alert->show();
}

void VXFeedbackViewController::clickedButtonAtIndex(os::AlertView& alert, long) {
  if (alert.tag() != kSuccessAlertTag) return;
  auto* nav = navigationController();
  if (!nav) return;
  // The alert may have stayed up while another screen (a pushed headline's article) came over
  // this one: its button closes this screen only, never the one on top.
  auto self = weakSelf().lock();
  auto stack = nav->viewControllers();
  if (!stack.empty() && stack.back() == self) {
    nav->popViewController(true);
    return;
  }
  std::erase(stack, self);
  nav->setViewControllers(std::move(stack), false);
}
