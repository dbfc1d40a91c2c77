#include "sharing/screens/OBSocialControllerService.h"

#include <algorithm>

#include "os/store/Bundle.h"
#include "os/views/Application.h"
#include "os/views/BarButtonItem.h"
#include "os/views/Button.h"
#include "os/views/Device.h"
#include "os/views/NavigationBar.h"
#include "os/views/Window.h"
#include "sharing/screens/OBSViewControllerFactory.h"
#include "sharing/screens/OBSocialIconActionSheet.h"
#include "sharing/screens/OBSocialUIHelper.h"
#include "sharing/service/OBSBarEntity.h"
#include "sharing/service/OBSDataManager.h"
#include "sharing/service/OBSocialAccountManager.h"
#include "sharing/service/OBSocialConfig.h"
#include "sharing/service/OBSocialContext.h"
#include "sharing/service/OBSocialData.h"
#include "sharing/service/OBSocialDataService.h"
#include "sharing/service/OBSocialOpAnalytics.h"
#include "sharing/service/OBSocialResponseEntity.h"
#include "sharing/service/OBSocialSnsPlatform.h"
#include "sharing/service/OBSocialSnsPlatformManager.h"
#include "sharing/service/OBSocialSnsPlatformManagerInternal.h"
#include "sharing/service/OBSocialUIDelegate.h"
#include "sharing/service/OBUtils.h"

namespace {

struct DefaultControllerService {
  std::shared_ptr<OBSocialControllerService> service;
};

bool servedByEditor(int platformType) { return (platformType >= 10 && platformType <= 19) || platformType == 21; }

}  // namespace

unsigned OBSocialNavigationController::supportedInterfaceOrientations() const {
  return static_cast<unsigned>(OBSocialConfigInternal::shareInstance()->socialInterfaceOrientations);
}

void OBSocialNavigationController::viewDidAppear(bool animated) {
  os::NavigationController::viewDidAppear(animated);
  if (auto service = socialControllerService.lock()) service->forgetScreensNoLongerUp();
}

void OBSocialNavigationController::viewDidDisappear(bool animated) {
  os::NavigationController::viewDidDisappear(animated);
  if (auto service = socialControllerService.lock()) service->forgetScreensNoLongerUp();
}

OBSocialControllerService::OBSocialControllerService() : OBSocialControllerService(OBSocialData::defaultData()) {}

OBSocialControllerService::OBSocialControllerService(std::shared_ptr<OBSocialData> socialData)
    : defaultColor(OBSocialConfigInternal::shareInstance()->defaultColor()),
      socialDataService_(std::make_shared<OBSocialDataService>(std::move(socialData))) {}

std::shared_ptr<OBSocialControllerService> OBSocialControllerService::defaultControllerService() {
  return OBSocialContext::current()
      ->instance<DefaultControllerService>([] {
        return std::make_shared<DefaultControllerService>(
            DefaultControllerService{std::make_shared<OBSocialControllerService>(OBSocialData::defaultData())});
      })
      ->service;
}

std::shared_ptr<OBSocialData> OBSocialControllerService::socialData() const { return socialDataService_->socialData(); }

void OBSocialControllerService::setShareText(std::optional<std::string> text, std::shared_ptr<os::Image> image,
                                             std::weak_ptr<OBSocialUIDelegate> delegate) {
  socialData()->setShareText(std::move(text));
  socialData()->setShareImage(std::move(image));
  socialUIDelegate_ = std::move(delegate);
}

std::shared_ptr<os::ViewController> OBSocialControllerService::getSocialViewController(int type,
                                                                                      const std::optional<std::string>& snsName) {
  const int platformType = snsName ? OBSocialSnsPlatformManagerInternal::getSnsPlatformType(*snsName) : 0;
  if (type == OBSocialViewControllerTypeShareEdit) {
    currentViewControllerType = type;
    if (!servedByEditor(platformType)) return nullptr;
  }
  const int built = transformViewControllerType(type, platformType);
  return OBSViewControllerFactory::sharedInstance()->createSocialViewController(built, platformType, shared_from_this());
}

int OBSocialControllerService::transformViewControllerType(int type, int platformType) {
  if (platformType == 0 || (platformType > 17 && platformType != 21)) return type;
  if (auto name = OBSocialSnsPlatformManager::getSnsPlatformString(platformType))
    if (auto platform = OBSocialSnsPlatformManager::getSocialPlatformWithName(*name)) currentSnsPlatformName = platform->platformName;
  if (type != OBSocialViewControllerTypeShareEdit) return type;
  if (currentSnsPlatformName && OBSocialAccountManager::isOauthAndTokenNotExpired(*currentSnsPlatformName))
    return OBSocialViewControllerTypeShareEdit;
  nextViewController = OBSocialViewControllerTypeShareEdit;
  return OBSocialViewControllerTypeOauth;
}

std::shared_ptr<OBSocialNavigationController> OBSocialControllerService::makeNavigationControllerWithContorller(
    const std::shared_ptr<os::ViewController>& controller) {
  auto navigation = std::make_shared<OBSocialNavigationController>(controller);
  navigation->socialControllerService = weak_from_this();
  navigation->view()->setBackgroundColor(defaultColor);
  OBSocialUIHelper::customNavBar(*navigation->navigationBar());
  if (os::Device::current().userInterfaceIdiom() == os::UserInterfaceIdiom::Pad) {
    navigation->setModalPresentationStyle(os::ModalPresentationStyle::FormSheet);
    navigation->setModalTransitionStyle(os::ModalTransitionStyle::CoverVertical);
  }
  return navigation;
}

std::shared_ptr<os::ViewController> OBSocialControllerService::wrapScreen(int type, const std::optional<std::string>& snsName) {
  auto screen = getSocialViewController(type, snsName);
  // A kind of screen that is not built opens nothing, and leaves no code on the stack to pop.
  if (!screen) return nullptr;
  currentViewControllerType = type;
  auto navigation = makeNavigationControllerWithContorller(screen);
  screenOpened(type, navigation, screen);
  currentNavigationController = navigation;
  currentViewController = screen;
  return navigation;
}

std::shared_ptr<os::ViewController> OBSocialControllerService::getSocialShareListController() {
  OBSocialOpAnalytics::postSocialAnalytics("5");
  return getSocialShareListControllerInternal();
}

std::shared_ptr<os::ViewController> OBSocialControllerService::getSocialShareListControllerInternal() {
  return wrapScreen(OBSocialViewControllerTypeShareList, std::nullopt);
}

std::shared_ptr<os::ViewController> OBSocialControllerService::getSocialShareEditController(const std::string& snsName) {
  return getSocialShareEditControllerInternal(snsName, std::nullopt);
}

std::shared_ptr<os::ViewController> OBSocialControllerService::getSocialShareEditControllerInternal(
    const std::string& snsName, const std::optional<std::string>& sourceOpType) {
  OBSocialOpAnalytics::postSocialAnalytics("9", sourceOpType, snsName);
  currentViewControllerType = OBSocialViewControllerTypeShareEdit;
  auto screen = getSocialViewController(OBSocialViewControllerTypeShareEdit, snsName);
  if (!screen) return nullptr;
  // The composers of e-mail and text messages present themselves; the screen holds this
  // service while it is up.
  if (snsName == "email" || snsName == "sms") {
    screenOpened(OBSocialViewControllerTypeShareEdit, screen, screen);
    return screen;
  }
  auto navigation = makeNavigationControllerWithContorller(screen);
  screenOpened(OBSocialViewControllerTypeShareEdit, navigation, screen);
  currentNavigationController = navigation;
  currentViewController = screen;
  return navigation;
}

std::shared_ptr<os::ViewController> OBSocialControllerService::getSocialOauthController(const std::string& snsName) {
  return getSocialOauthControllerInternal(snsName, std::nullopt);
}

std::shared_ptr<os::ViewController> OBSocialControllerService::getSocialOauthControllerInternal(
    const std::string& snsName, const std::optional<std::string>& sourceOpType) {
  OBSocialOpAnalytics::postSocialAnalytics("7", sourceOpType, snsName);
  return wrapScreen(OBSocialViewControllerTypeOauth, snsName);
}

std::shared_ptr<OBSocialIconActionSheet> OBSocialControllerService::getSocialIconActionSheetInController(
    const std::shared_ptr<os::ViewController>& controller) {
  OBSocialOpAnalytics::postSocialAnalytics("6");
  return getSocialIconActionSheetInControllerInternal(controller);
}

std::shared_ptr<OBSocialIconActionSheet> OBSocialControllerService::getSocialIconActionSheetInControllerInternal(
    const std::shared_ptr<os::ViewController>& controller) {
  currentViewController = controller;
  os::Array items;
  for (const auto& name : OBSocialSnsPlatformManager::sharedInstance()->allSnsValuesArray()) items.emplace_back(name);
  std::weak_ptr<OBSocialControllerService> weak = weak_from_this();
  // The sheet's closing is told to the caller it was opened for, though another may have asked
  // for a sheet since.
  std::weak_ptr<OBSocialUIDelegate> caller = socialUIDelegate_;
  auto sheet = std::make_shared<OBSocialIconActionSheet>(items, [weak](const std::string& name) {
    if (auto self = weak.lock()) self->iconTapped(name);
  });
  sheet->setTag(kOBSocialIconActionSheetTag);
  sheet->presentingViewController = controller;
  sheet->socialControllerService = weak;
  sheet->dismissCompletion = [caller] {
    if (auto delegate = caller.lock()) delegate->didCloseUIViewController(OBSocialViewControllerTypeIconSheet);
  };
  return sheet;
}

void OBSocialControllerService::iconTapped(const std::string& name) {
  auto platform = OBSocialSnsPlatformManager::getSocialPlatformWithName(name);
  auto presenting = currentViewController.lock();
  auto delegate = socialUIDelegate();
  if (delegate && delegate->isDirectShareInIconActionSheet()) return directShare(name, presenting);
  if (platform && platform->snsClickHandler) platform->snsClickHandler(presenting, shared_from_this(), true);
}

void OBSocialControllerService::directShare(const std::string& name, const std::shared_ptr<os::ViewController>& controller) {
  auto delegate = socialUIDelegate();
  auto bar = OBSDataManager::currentDataManager()->barEntity();
  auto data = socialData();
  OBSocialShareRequest request;
  request.content = bar->shareTextFor(name);
  if (!request.content) request.content = data->shareText();
  request.image = bar->shareImageFor(name);
  if (!request.image) request.image = data->shareImage();
  request.snsType = name;
  request.controller = controller;
  auto resource = bar->urlResourceFor(name);
  if (!resource || resource->resourceType == 0) resource = data->urlResource();
  if (resource && resource->resourceType != 0) request.urlResource = resource;
  std::weak_ptr<OBSocialUIDelegate> weakDelegate = delegate;
  request.completion = [weakDelegate](const std::shared_ptr<OBSocialResponseEntity>& response) {
    if (auto target = weakDelegate.lock()) target->didFinishGetOBSocialDataInViewController(response);
  };
  OBSocialDataService::defaultDataService()->postSnsWithDictionary(std::move(request));
}

void OBSocialControllerService::addCloseButton(os::ViewController& screen) {
  auto button = os::Button::buttonWithType(os::ButtonType::Custom);
  auto bundle = os::Bundle::mainBundle();
  const std::string title =
      bundle ? bundle->localizedStringForKey("button_close", "", "OBSocialLocalizable") : std::string("button_close");
  OBSocialUIHelper::customNavButton(*button, title);
  // The styling leaves the text out; the button still says what it does.
  button->setTitle(title, os::kControlStateNormal);
  auto config = OBSocialConfigInternal::shareInstance();
  if (config->navigationbarConfig) {
    OBSNavigationBarViews views;
    views.closeButton = button.get();
    config->navigationbarConfig(views);
  }
  std::weak_ptr<OBSocialControllerService> weak = weak_from_this();
  button->addTarget(
      button.get(),
      [weak](os::Control&) {
        if (auto self = weak.lock()) self->closeWithCancelResponse();
      },
      os::kControlEventTouchUpInside);
  screen.navigationItem()->setLeftBarButtonItem(os::BarButtonItem::withCustomView(button));
}

void OBSocialControllerService::closeWithCancelResponse() {
  forgetScreensNoLongerUp();
  const auto caller = closingCaller();
  auto delegate = caller.lock();
  OBUtils::outLogf("closeWithCancelResponse delegate is %p", static_cast<const void*>(delegate.get()));
  // An account whose token has run out is no authorisation: its sign-in was opened to renew it,
  // and whoever waits for that sign-in hears its cancel.
  const bool beforeAuthorisation =
      currentViewControllerType == OBSocialViewControllerTypeOauth &&
      !(currentSnsPlatformName && OBSocialAccountManager::isOauthAndTokenNotExpired(*currentSnsPlatformName));
  if ((currentViewControllerType == OBSocialViewControllerTypeShareEdit || beforeAuthorisation) && delegate) {
    auto response = std::make_shared<OBSocialResponseEntity>();
    response->responseCode = OBSocialResponseCodeCancelled;
    response->message = kOBSocialCancelMessage;
    response->viewControllerType = currentViewControllerType;
    os::Dictionary data;
    if (currentSnsPlatformName) data.set(*currentSnsPlatformName, os::Value(""));
    response->data = std::move(data);
    delegate->didFinishGetOBSocialDataInViewController(response);
  }
  closeInternal(caller);
}

void OBSocialControllerService::closeWithResponse(const std::shared_ptr<OBSocialResponseEntity>& response) {
  if (!response) return closeWithCancelResponse();
  forgetScreensNoLongerUp();
  closeWithResponse(response, closingCaller());
}

void OBSocialControllerService::closeWithResponse(const std::shared_ptr<OBSocialResponseEntity>& response,
                                                  const std::weak_ptr<OBSocialUIDelegate>& caller) {
  if (auto delegate = caller.lock(); delegate && response) delegate->didFinishGetOBSocialDataInViewController(response);
  closeInternal(caller);
}

void OBSocialControllerService::close() { closeInternal(); }

void OBSocialControllerService::closeInternal() {
  forgetScreensNoLongerUp();
  closeInternal(closingCaller());
}

std::weak_ptr<OBSocialUIDelegate> OBSocialControllerService::closingCaller() const {
  // The UI delegate is whoever asked last; the screen that closes is the newest still up.
  return openScreens_.empty() ? socialUIDelegate_ : openScreens_.back().caller;
}

void OBSocialControllerService::closeInternal(const std::weak_ptr<OBSocialUIDelegate>& caller) {
  forgetScreensNoLongerUp();
  socialDataService_->setOBSocialDelegate({});
  // Only what the closing screen queued stops: the data's queue also carries other screens' and
  // callers' requests, a share posted from an editor that has closed among them.
  if (!(currentViewControllerType == OBSocialViewControllerTypeShareEdit &&
        !OBSocialConfigInternal::shareInstance()->shouldShareSynchronous))
    socialDataService_->cancelAllRequestInQueueInternal();
  auto navigation = currentNavigationController.lock();
  // Kept alive until the dismissal is over, whoever else lets go of it.
  auto self = shared_from_this();
  if (navigation && navigation->presentingViewController()) {
    navigation->dismissViewController(true, [self, caller] { self->didFinishedDismissViewController(caller); });
    screenClosed();
    return;
  }
  if (navigation && navigation->parentViewController()) {
    navigation->dismissViewController(true);
    didFinishedDismissViewController(caller);
    screenClosed();
    return;
  }
  auto app = os::Application::shared();
  std::shared_ptr<os::Window> window;
  if (app) window = app->keyWindow();
  if (window && window->rootViewController()) {
    window->rootViewController()->dismissViewController(true);
    didFinishedDismissViewController(caller);
  }
  screenClosed();
}

std::optional<std::size_t> OBSocialControllerService::recordOf(const os::ViewController& screen) const {
  for (std::size_t i = openScreens_.size(); i-- > 0;) {
    auto carrier = openScreens_[i].carrier.lock();
    auto opened = openScreens_[i].screen.lock();
    // A screen pushed inside a recorded one (the editor a sign-in page led to) is part of it.
    if (opened.get() == &screen || carrier.get() == &screen || (carrier && screen.navigationController() == carrier.get()))
      return i;
  }
  return std::nullopt;
}

std::weak_ptr<OBSocialUIDelegate> OBSocialControllerService::callerOfScreen(
    const os::ViewController& screen, const std::weak_ptr<OBSocialUIDelegate>& otherwise) const {
  const auto index = recordOf(screen);
  return index ? openScreens_[*index].caller : otherwise;
}

void OBSocialControllerService::closeScreen(const os::ViewController& screen,
                                            const std::shared_ptr<OBSocialResponseEntity>& response,
                                            const std::weak_ptr<OBSocialUIDelegate>& otherwise) {
  forgetScreensNoLongerUp();
  auto index = recordOf(screen);
  // A screen shown without the getters has no record: the newest screen is taken for it.
  if (!index) return closeWithResponse(response, otherwise);
  // Taking a screen down takes what was shown over it: those screens end as their close buttons
  // end them, newest first.
  while (index && *index + 1 < openScreens_.size()) {
    makeCurrent(openScreens_.back());
    closeWithCancelResponse();
    index = recordOf(screen);
  }
  if (!index) return;
  makeCurrent(openScreens_[*index]);
  const auto caller = openScreens_[*index].caller;
  closeWithResponse(response, caller);
}

void OBSocialControllerService::makeCurrent(const OpenScreen& record) {
  // A close takes down the current navigation controller: the one carrying this record's screen.
  if (auto carrier = std::dynamic_pointer_cast<os::NavigationController>(record.carrier.lock())) {
    currentNavigationController = carrier;
    currentViewController = record.screen;
  }
}

void OBSocialControllerService::screenOpened(int type, const std::shared_ptr<os::ViewController>& carrier,
                                             const std::shared_ptr<os::ViewController>& screen) {
  forgetScreensNoLongerUp();
  openScreens_.push_back(
      OpenScreen{++screensOpened_, carrier, screen, currentViewControllerArray.size(), false, socialUIDelegate_});
  currentViewControllerArray.push_back(type);
  socialDataService_->setRequestOwner(openScreens_.back().id);
}

void OBSocialControllerService::screenClosed() {
  if (!currentViewControllerArray.empty()) currentViewControllerArray.pop_back();
  if (!currentViewControllerArray.empty()) currentViewControllerType = currentViewControllerArray.back();
  if (!openScreens_.empty()) openScreens_.pop_back();
  socialDataService_->setRequestOwner(openScreens_.empty() ? 0 : openScreens_.back().id);
}

bool OBSocialControllerService::isUp(OpenScreen& record) const {
  auto carrier = record.carrier.lock();
  if (!carrier) return false;
  const bool shown = carrier->presentingViewController() || carrier->parentViewController();
  if (shown) record.seen = true;
  // Built and not shown yet: its getter's caller is about to show it.
  return shown || !record.seen;
}

void OBSocialControllerService::forgetScreensNoLongerUp() {
  for (std::size_t i = openScreens_.size(); i-- > 0;)
    if (!isUp(openScreens_[i])) forgetScreen(i);
}

void OBSocialControllerService::screenNotShown(const std::shared_ptr<os::ViewController>& carrier) {
  for (std::size_t i = openScreens_.size(); i-- > 0;)
    if (openScreens_[i].carrier.lock() == carrier) forgetScreen(i);
  forgetScreensNoLongerUp();
}

void OBSocialControllerService::forgetScreen(std::size_t index) {
  const OpenScreen gone = openScreens_[index];
  // Its codes are its own and those of the screens shown inside it (the editor the sign-in page
  // led to): all that was pushed while it was the newest.
  const std::size_t size = currentViewControllerArray.size();
  const std::size_t end = std::min(index + 1 < openScreens_.size() ? openScreens_[index + 1].at : size, size);
  const std::size_t removed = gone.at < end ? end - gone.at : 0;
  if (removed) {
    const auto first = currentViewControllerArray.begin() + static_cast<std::ptrdiff_t>(gone.at);
    currentViewControllerArray.erase(first, first + static_cast<std::ptrdiff_t>(removed));
    if (end == size && !currentViewControllerArray.empty()) currentViewControllerType = currentViewControllerArray.back();
  }
  openScreens_.erase(openScreens_.begin() + static_cast<std::ptrdiff_t>(index));
  for (std::size_t i = index; i < openScreens_.size(); ++i) openScreens_[i].at -= std::min(openScreens_[i].at, removed);
  // A close goes to what is still up.
  auto carrier = gone.carrier.lock();
  auto screen = gone.screen.lock();
  const bool wasCurrent = (carrier && currentNavigationController.lock() == carrier) ||
                          (screen && currentViewController.lock() == screen);
  if (wasCurrent) {
    currentNavigationController.reset();
    currentViewController.reset();
    if (!openScreens_.empty()) {
      currentNavigationController = std::dynamic_pointer_cast<os::NavigationController>(openScreens_.back().carrier.lock());
      currentViewController = openScreens_.back().screen;
    }
  }
  socialDataService_->setRequestOwner(openScreens_.empty() ? 0 : openScreens_.back().id);
}

void OBSocialControllerService::didFinishedDismissViewController() { didFinishedDismissViewController(socialUIDelegate_); }

void OBSocialControllerService::didFinishedDismissViewController(const std::weak_ptr<OBSocialUIDelegate>& caller) {
  if (auto delegate = caller.lock()) delegate->didCloseUIViewController(currentViewControllerType);
  currentNavigationController.reset();
  currentViewController.reset();
}
