#include "news/offline/VXOfflineMaskViewController.h"

#include "news/api/VXGlobalHelper.h"
#include "news/api/VXReaderContext.h"
#include "news/offline/VXOfflineHelper.h"
#include "news/store/VXGlobalDefine.h"
#include "os/core/String.h"
#include "os/graphics/Image.h"
#include "os/runtime/DispatchQueue.h"
#include "os/views/Button.h"
#include "os/views/ImageView.h"
#include "os/views/Label.h"
#include "os/views/NamedImage.h"
#include "os/views/Screen.h"
#include "os/views/Switch.h"

VXOfflineMaskViewController::VXOfflineMaskViewController(std::shared_ptr<os::Image> image,
                                                         std::shared_ptr<VXReaderContext> context)
    : context_(std::move(context)), backgroudImage_(std::move(image)) {
  if (auto given = context_.lock()) VXGlobalDefine::share(*given)->setScreenStatus(1);
}

VXOfflineMaskViewController::~VXOfflineMaskViewController() {
  if (observer_) os::NotificationCenter::defaultCenter().removeObserver(observer_);
}

std::string VXOfflineMaskViewController::percentText(int percent) { return os::format("正在下载%d%%", percent); }

void VXOfflineMaskViewController::viewDidLoad() {
  NQBaseViewController::viewDidLoad();
  auto root = view();
  root->setTag(kViewTag);
  const os::Rect bounds = root->bounds();
  const double width = bounds.size.width;
  const double centreY = bounds.size.height / 2;

  auto picture = std::make_shared<os::ImageView>(backgroudImage_);
  picture->setFrame(bounds);
  root->addSubview(picture);

  auto dim = os::makeView<os::View>(bounds);
  dim->setBackgroundColor(os::Color::black());
  dim->setAlpha(0.5);
  root->addSubview(dim);

  auto spinner = std::make_shared<os::ActivityIndicatorView>(os::ActivityIndicatorViewStyle::WhiteLarge);
  spinner->setCenter(os::Point{width / 2, centreY - 50});
  spinner->startAnimating();
  root->addSubview(spinner);

  labelPercent_ = os::makeView<os::Label>(os::Rect{0, centreY, width, 20});
  labelPercent_->setText(percentText(0));
  labelPercent_->setTextAlignment(os::TextAlignment::Center);
  labelPercent_->setBackgroundColor(os::Color::clear());
  root->addSubview(labelPercent_);

  cancelButton_ = os::makeView<os::Button>(os::Rect{(width - 130) / 2, centreY + 50, 130, 40});
  cancelButton_->setImage(os::imageNamed("detail_cancel_dowanload"), os::kControlStateNormal);
  cancelButton_->setAccessibilityLabel("取消下载");
  std::weak_ptr<os::Responder> weak = weak_from_this();
  auto self = [weak] { return std::dynamic_pointer_cast<VXOfflineMaskViewController>(weak.lock()); };
  cancelButton_->addTarget(
      this,
      [self](os::Control&) {
        if (auto me = self()) me->buttonClick();
      },
      os::kControlEventTouchUpInside);
  root->addSubview(cancelButton_);

  observer_ = os::NotificationCenter::defaultCenter().addObserver(
      kOfflineLoadingNotification, nullptr, [self](const os::Notification& notification) {
        if (auto me = self()) me->msgNotification(notification);
      });
}

void VXOfflineMaskViewController::buttonClick() {
  if (auto context = context_.lock()) VXOfflineHelper::share(*context)->killThread();
}

void VXOfflineMaskViewController::msgNotification(const os::Notification& notification) {
  auto percent = VXOfflineHelper::percentOf(notification);
  if (!percent) return;
  if (os::DispatchQueue::isMainThread()) {
    show(*percent);
    return;
  }
  // Views change on the main thread only.
  std::weak_ptr<os::Responder> weak = weak_from_this();
  const int value = *percent;
  os::DispatchQueue::main()->async([weak, value] {
    if (auto me = std::dynamic_pointer_cast<VXOfflineMaskViewController>(weak.lock())) me->show(value);
  });
}

void VXOfflineMaskViewController::show(int percent) {
  if (closed_) return;
  if (percent == -1) {
    closed_ = true;
    // The screen beneath says how the download ended: the cover alone going says nothing.
    os::ViewController* beneath = presentingViewController();
    std::shared_ptr<os::View> shown = beneath ? beneath->view() : nullptr;
    dismissViewController(false);
    auto context = context_.lock();
    if (!context) return;
    VXGlobalDefine::share(*context)->setScreenStatus(0);
    auto outcome = VXOfflineHelper::share(*context)->lastOutcome();
    if (outcome && shown) VXGlobalHelper::share(*context).showHud(VXOfflineHelper::outcomeText(*outcome), shown, true);
    return;
  }
  if (labelPercent_) labelPercent_->setText(percentText(percent));
}
