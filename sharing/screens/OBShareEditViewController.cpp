#include "sharing/screens/OBShareEditViewController.h"

#include "os/core/String.h"
#include "os/graphics/Image.h"
#include "os/store/Bundle.h"
#include "os/views/BarButtonItem.h"
#include "os/views/Button.h"
#include "os/views/ImageView.h"
#include "os/views/Label.h"
#include "os/views/NavigationBar.h"
#include "os/views/NavigationController.h"
#include "os/views/TextView.h"
#include "sharing/screens/OBSocialControllerService.h"
#include "sharing/screens/OBSocialUIHelper.h"
#include "sharing/service/OBSUserManager.h"
#include "sharing/service/OBSocialConfig.h"
#include "sharing/service/OBSocialData.h"
#include "sharing/service/OBSocialDataService.h"
#include "sharing/service/OBSocialResponseEntity.h"
#include "sharing/service/OBSocialSnsPlatform.h"
#include "sharing/service/OBSocialSnsPlatformManager.h"
#include "sharing/service/OBSocialUIDelegate.h"
#include "sharing/widgets/OBSocialXToast.h"

namespace {

constexpr int kMaximumCharacters = 140;

std::string localized(const std::string& key) {
  auto bundle = os::Bundle::mainBundle();
  return bundle ? bundle->localizedStringForKey(key, "", "OBSocialLocalizable") : key;
}

std::string localizedOr(const std::string& key, const std::string& fallback) {
  auto bundle = os::Bundle::mainBundle();
  return bundle ? bundle->localizedStringForKey(key, fallback, "OBSocialLocalizable") : fallback;
}

}  // namespace

void OBShareEditViewController::viewDidLoad() {
  auto service = socialControllerService;
  platformName_ = service ? service->currentSnsPlatformName : std::nullopt;
  auto root = view();
  root->setBackgroundColor(service ? service->defaultColor : os::Color::white());
  const double width = root->bounds().size.width > 0 ? root->bounds().size.width : 320;
  if (platformName_)
    if (auto platform = OBSocialSnsPlatformManager::getSocialPlatformWithName(*platformName_))
      setTitle(localized(platform->displayName));

  textView_ = std::make_shared<os::TextView>(os::Rect(10, 10, width - 20, 120));
  auto data = service ? service->socialData() : nullptr;
  textView_->setText(data ? data->shareText().value_or("") : "");
  auto self = std::static_pointer_cast<OBShareEditViewController>(shared_from_this());
  textView_->setDelegate(std::shared_ptr<os::TextViewDelegate>(self, static_cast<os::TextViewDelegate*>(this)));
  root->addSubview(textView_);
  counter_ = std::make_shared<os::Label>(os::Rect(width - 60, 134, 50, 20));
  counter_->setTextAlignment(os::TextAlignment::Right);
  counter_->setFont(os::Font::systemFont(12));
  root->addSubview(counter_);
  if (data && data->shareImage()) {
    imageView_ = std::make_shared<os::ImageView>(data->shareImage());
    imageView_->setFrame(os::Rect(10, 160, 60, 60));
    root->addSubview(imageView_);
  }
  updateCounter();
  std::weak_ptr<os::Responder> weak = shared_from_this();
  if (platformName_ && OBSUserManager::isPlatformTypeValid(*platformName_)) {
    friendsButton_ = os::Button::buttonWithType(os::ButtonType::Custom);
    friendsButton_->setFrame(os::Rect(10, 134, 40, 20));
    friendsButton_->setTitle("@", os::kControlStateNormal);
    friendsButton_->addTarget(
        friendsButton_.get(),
        [weak](os::Control&) {
          if (auto self = std::static_pointer_cast<OBShareEditViewController>(weak.lock())) self->showFriends();
        },
        os::kControlEventTouchUpInside);
    root->addSubview(friendsButton_);
  }

  if (service) service->addCloseButton(*this);
  auto post = os::Button::buttonWithType(os::ButtonType::Custom);
  OBSocialUIHelper::customNavPostButton(*post);
  if (!post->titleForState(os::kControlStateNormal) || post->titleForState(os::kControlStateNormal)->empty())
    post->setTitle(localized("button_send"), os::kControlStateNormal);
  post->addTarget(
      post.get(),
      [weak](os::Control&) {
        if (auto self = std::static_pointer_cast<OBShareEditViewController>(weak.lock())) self->postShare();
      },
      os::kControlEventTouchUpInside);
  navigationItem()->setRightBarButtonItem(os::BarButtonItem::withCustomView(post));
  OBSocialUIHelper::customNavigationItem(*navigationItem());
}

bool OBShareEditViewController::isUp() const {
  auto navigation = navigationController();
  return navigation && (navigation->presentingViewController() || navigation->parentViewController());
}

std::string OBShareEditViewController::text() const { return textView_ ? textView_->text() : ""; }

void OBShareEditViewController::setText(const std::string& text) {
  if (!textView_) view();
  textView_->setText(text);
  updateCounter();
}

int OBShareEditViewController::remainingCharacters() const {
  // The view keeps its length: the counter follows every typed character without counting the text.
  return kMaximumCharacters - static_cast<int>(textView_ ? textView_->textLength() : 0);
}

void OBShareEditViewController::updateCounter() {
  if (counter_) counter_->setText(std::to_string(remainingCharacters()));
}

void OBShareEditViewController::textViewDidChange(os::TextView&) { updateCounter(); }

void OBShareEditViewController::itemClicked(const std::string& name) { setText(text() + " " + name + " "); }

void OBShareEditViewController::showFriends() {
  auto service = socialControllerService;
  if (!service || !navigationController()) return;
  auto picker = std::dynamic_pointer_cast<OBSocialFriendViewController>(
      service->getSocialViewController(OBSocialViewControllerTypeFriend, platformName_));
  if (!picker) return;
  picker->umsDelegate = std::dynamic_pointer_cast<OBShareEditViewController>(shared_from_this());
  navigationController()->pushViewController(picker, true);
}

bool OBShareEditViewController::postShare() {
  auto service = socialControllerService;
  if (posting_ || !service || !platformName_) return false;
  if (remainingCharacters() < 0) {
    // The counter reads below zero: the text is longer than the platform takes. Nothing is sent;
    // the reader shortens it first.
    OBSocialXToast::makeText(localizedOr("shareEdit_error_text_too_long", "字数超出限制"))->show();
    return false;
  }
  posting_ = true;
  const bool synchronous = OBSocialConfigInternal::shareInstance()->shouldShareSynchronous;
  const std::string name = *platformName_;
  auto data = service->socialData();
  std::weak_ptr<OBSocialControllerService> weakService = service;
  std::weak_ptr<os::Responder> weakSelf = shared_from_this();
  // The answer is the caller's this editor was opened for: the service's UI delegate may be
  // another's by now, or by the time the answer comes.
  std::weak_ptr<OBSocialUIDelegate> caller = service->callerOfScreen(*this, service->socialUIDelegate());
  OBSocialCompletion done = [weakService, weakSelf, synchronous, name,
                             caller](const std::shared_ptr<OBSocialResponseEntity>& response) {
    response->viewControllerType = OBSocialViewControllerTypeShareEdit;
    auto service = weakService.lock();
    auto self = std::static_pointer_cast<OBShareEditViewController>(weakSelf.lock());
    if (self) self->posting_ = false;
    if (service && synchronous && self && self->isUp()) {
      // Closing cancels this data's queue, so the result's own requests (the bar refresh) are
      // queued after the close, not before it.
      // This editor closes, though another screen may have opened over it since.
      service->closeScreen(*self, response, caller);
      return OBSocialDataService::handleShareResult(name, response);
    }
    // An editor already gone (or one that did not wait) has nothing left to close.
    OBSocialDataService::handleShareResult(name, response);
    if (auto delegate = caller.lock()) delegate->didFinishGetOBSocialDataInViewController(response);
  };
  service->socialDataService()->postSNSWithTypesInternal({name}, text(), data ? data->shareImage() : nullptr, std::nullopt,
                                                         data ? data->urlResource() : nullptr, std::move(done), std::nullopt);
  if (!synchronous) service->close();
  return true;
}
