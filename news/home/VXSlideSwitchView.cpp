#include "news/home/VXSlideSwitchView.h"

#include "news/api/VXReaderContext.h"
#include "news/home/VXNewsView.h"
#include "os/core/String.h"

std::shared_ptr<VXSlideSwitchView> VXSlideSwitchView::create(const os::Rect& frame,
                                                             std::shared_ptr<VXReaderContext> context) {
  auto strip = std::make_shared<VXSlideSwitchView>(frame);
  strip->context_ = context;
  strip->observeLaunchEnd();
  return strip;
}

VXSlideSwitchView::VXSlideSwitchView(const os::Rect& frame) : os::View(frame) {
  setBackgroundColor(os::Color::rgba(230 / 255.0, 230 / 255.0, 230 / 255.0, 1));
  scrollView_ = std::make_shared<os::ScrollView>(bounds());
  scrollView_->setBackgroundColor(os::Color::clear());
  scrollView_->setShowsHorizontalScrollIndicator(false);
  addSubview(scrollView_);
}

VXSlideSwitchView::~VXSlideSwitchView() {
  if (launchEndToken_) os::NotificationCenter::defaultCenter().removeObserver(launchEndToken_);
}

void VXSlideSwitchView::observeLaunchEnd() {
  std::weak_ptr<VXSlideSwitchView> weak = std::static_pointer_cast<VXSlideSwitchView>(shared_from_this());
  launchEndToken_ = os::NotificationCenter::defaultCenter().addObserver(
      kLaunchEndNotification, nullptr, [weak](const os::Notification&) {
        if (auto self = weak.lock()) {
          self->addItemsToScrollView();
          self->clickButtonAtIndex(0);
        }
      });
}

double VXSlideSwitchView::widthOfButton(const std::string& title) {
  std::size_t length = os::utf16Length(title);
  if (length <= 2) return 70;
  if (length == 3) return 85;
  return 100;
}

void VXSlideSwitchView::addItemsToScrollView() {
  // A rebuild starts from nothing: right edges or offsets of the old tabs would place the new ones
  // wrongly (the strip would keep scrolling to tabs that are gone).
  for (auto& cell : cells_) cell->removeFromSuperview();
  cells_.clear();
  buttonItems_.clear();
  infoItems_.clear();
  totalWidth_ = 0;
  scrollView_->setContentOffset(os::Point{0, 0});

  const double height = bounds().size.height;
  double x = 0;
  int index = 0;
  auto context = context_.lock();
  const auto categories = context ? VXNewsView::categoryList(*context) : std::vector<VXNewsCategory>();
  for (const auto& category : categories) {
    double width = widthOfButton(category.name());
    auto cell = std::make_shared<VXSlideSwitchCell>(os::Rect{x, 0, width, height}, category.name(), index);
    std::weak_ptr<VXSlideSwitchView> weak = std::static_pointer_cast<VXSlideSwitchView>(shared_from_this());
    cell->button()->addTarget(
        this,
        [weak](os::Control& sender) {
          if (auto self = weak.lock()) self->buttonClick(static_cast<os::Button&>(sender));
        },
        os::kControlEventTouchUpInside);
    scrollView_->addSubview(cell);
    cells_.push_back(cell);
    buttonItems_.push_back(cell->button());
    x += width;
    infoItems_.push_back(os::Dictionary{{kSlideWidthKey, os::Value(static_cast<float>(x))}});
    ++index;
  }
  scrollView_->setContentSize(os::Size{x, height});
  totalWidth_ = x;
}

void VXSlideSwitchView::buttonClick(os::Button& button) {
  int tag = button.tag();
  changeButtonStateAtIndex(tag);
  if (auto d = delegate()) d->didSlideSwitchClick(tag);
}

void VXSlideSwitchView::clickButtonAtIndex(int index) {
  if (index < 0 || index >= static_cast<int>(buttonItems_.size())) return;
  buttonClick(*buttonItems_[static_cast<std::size_t>(index)]);
}

void VXSlideSwitchView::changeButtonStateAtIndex(int index) {
  if (index < 0 || index >= static_cast<int>(buttonItems_.size())) return;
  for (auto& button : buttonItems_) button->setSelected(false);
  auto& button = buttonItems_[static_cast<std::size_t>(index)];
  moveScrollViewWithIndex(button->tag());
  button->setSelected(true);
}

void VXSlideSwitchView::moveScrollViewWithIndex(int index) {
  if (index < 0 || index >= static_cast<int>(infoItems_.size())) return;
  const double width = bounds().size.width;
  if (totalWidth_ < width) return;
  double right = infoItems_[static_cast<std::size_t>(index)][kSlideWidthKey].doubleValue();
  double contentWidth = scrollView_->contentSize().width;
  double x;
  if (right < width - kEdgeMargin)
    x = 0;
  else if (right + kScrollTarget > contentWidth)
    x = contentWidth - width;
  else
    x = right - kScrollTarget;
  scrollView_->setContentOffset(os::Point{x, 0}, false);
}

int VXSlideSwitchView::selectedIndex() const {
  for (std::size_t i = 0; i < buttonItems_.size(); ++i)
    if (buttonItems_[i]->isSelected()) return static_cast<int>(i);
  return -1;
}
