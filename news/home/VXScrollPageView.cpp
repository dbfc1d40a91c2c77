#include "news/home/VXScrollPageView.h"

#include <cmath>

#include "news/api/NQBaseRequest.h"
#include "news/api/VXGlobalHelper.h"
#include "news/api/VXReaderContext.h"
#include "news/home/VXNewsView.h"
#include "news/home/VXSlideSwitchView.h"
#include "news/shell/NQSideViewController.h"
#include "news/store/VXNewsCategory.h"
#include "news/store/VXNewsCategoryManager.h"
#include "news/store/VXNewsDBManager.h"
#include "os/graphics/Font.h"
#include "os/graphics/Image.h"
#include "os/runtime/DispatchQueue.h"
#include "os/views/Button.h"
#include "os/views/ImageView.h"
#include "os/views/Label.h"
#include "os/views/NamedImage.h"

namespace {
constexpr long long kCategoryListOpcode = 1040;
}  // namespace

std::shared_ptr<VXScrollPageView> VXScrollPageView::create(const os::Rect& frame,
                                                           std::shared_ptr<VXReaderContext> context) {
  auto pages = std::make_shared<VXScrollPageView>(frame);
  pages->context_ = context;
  pages->scrollView_->setDelegate(std::shared_ptr<os::ScrollViewDelegate>(pages, static_cast<os::ScrollViewDelegate*>(pages.get())));
  pages->observeLaunchEnd();
  return pages;
}

VXScrollPageView::VXScrollPageView(const os::Rect& frame) : os::View(frame) {
  const os::Size size = frame.size;
  scrollView_ = std::make_shared<os::ScrollView>(os::Rect{0, 0, size.width, size.height});
  scrollView_->setPagingEnabled(true);
  scrollView_->setAlwaysBounceHorizontal(true);
  scrollView_->setShowsHorizontalScrollIndicator(false);
  addSubview(scrollView_);
}

VXScrollPageView::~VXScrollPageView() {
  if (launchEndToken_) os::NotificationCenter::defaultCenter().removeObserver(launchEndToken_);
  if (sideMenuPanAttached_) scrollView_->panGestureRecognizer()->removeTarget(this);
}

void VXScrollPageView::observeLaunchEnd() {
  std::weak_ptr<VXScrollPageView> weak = std::static_pointer_cast<VXScrollPageView>(shared_from_this());
  launchEndToken_ = os::NotificationCenter::defaultCenter().addObserver(
      kLaunchEndNotification, nullptr, [weak](const os::Notification&) {
        if (auto self = weak.lock()) {
          self->addItemsToScrollView();
          self->loadData();
        }
      });
}

void VXScrollPageView::addItemsToScrollView() {
  for (auto& subview : std::vector<std::shared_ptr<os::View>>(scrollView_->subviews())) subview->removeFromSuperview();
  viewItems_.clear();
  // New pages start unloaded on the first page: the page last told to load is gone, and a
  // remembered index would keep the new first page from ever loading.
  lastUpdate_ = -1;
  currentPage_ = 0;
  scrollView_->setContentOffset(os::Point{0, 0});

  const os::Size size = bounds().size;
  long count = 0;
  auto context = context_.lock();
  const auto categories = context ? VXNewsView::categoryList(*context) : std::vector<VXNewsCategory>();
  for (const auto& category : categories) {
    auto page = VXNewsTableView::create(os::Rect{static_cast<double>(count) * size.width, 0, size.width, size.height},
                                        category.ID(), context);
    scrollView_->addSubview(page);
    viewItems_.push_back(page);
    ++count;
  }
  scrollView_->setContentSize(os::Size{static_cast<double>(count) * size.width, size.height});
}

void VXScrollPageView::moveScrollViewWithIndex(int index) {
  if (index == currentPage_) return;
  scrollByClick_ = true;
  currentPage_ = index;
  const os::Size size = bounds().size;
  scrollView_->scrollRectToVisible(os::Rect{index * size.width, 0, size.width, size.height}, true);
}

void VXScrollPageView::scrollViewDidEndScrollingAnimation(os::ScrollView&) {
  scrollByClick_ = false;
  loadData();
}

void VXScrollPageView::scrollViewDidScroll(os::ScrollView& scrollView) {
  if (scrollByClick_) return;
  const double width = bounds().size.width;
  if (width <= 0) return;
  int page = static_cast<int>(std::trunc((scrollView.contentOffset().x + width / 2) / width));
  if (page != currentPage_) {
    currentPage_ = page;
    if (auto d = delegate()) d->didScollPageViewChanged(page);
  }
}

void VXScrollPageView::scrollViewDidEndDecelerating(os::ScrollView&) { loadData(); }

void VXScrollPageView::loadData() {
  if (viewItems_.empty()) addSubview(errorView());
  if (currentPage_ >= 0 && currentPage_ < static_cast<int>(viewItems_.size()) && currentPage_ != lastUpdate_) {
    lastUpdate_ = currentPage_;
    viewItems_[static_cast<std::size_t>(currentPage_)]->load();
  }
}

void VXScrollPageView::scrollViewWillBeginDragging(os::ScrollView& scrollView) {
  auto& pan = scrollView.panGestureRecognizer();
  if (currentPage_ == 0) {
    scrollView.setBounces(false);
    if (!sideMenuPanAttached_) {
      std::weak_ptr<VXScrollPageView> weak = std::static_pointer_cast<VXScrollPageView>(shared_from_this());
      pan->addTarget(this, [weak](os::GestureRecognizer& gesture) {
        if (auto self = weak.lock()) self->panGestureRecognizeran(gesture);
      });
      sideMenuPanAttached_ = true;
    }
  } else {
    if (sideMenuPanAttached_) pan->removeTarget(this);
    sideMenuPanAttached_ = false;
    scrollView.setBounces(true);
  }
}

void VXScrollPageView::panGestureRecognizeran(os::GestureRecognizer& gesture) {
  auto* pan = dynamic_cast<os::PanGestureRecognizer*>(&gesture);
  if (!pan || scrollView_->contentOffset().x > 0) return;
  if (auto context = context_.lock()) NQSideViewController::share(*context)->pan(*pan);
}

std::shared_ptr<os::View> VXScrollPageView::errorView() {
  if (errorView_) return errorView_;
  const os::Size size = bounds().size;
  errorView_ = os::makeView<os::View>(os::Rect{0, 0, size.width, size.height});
  errorView_->setBackgroundColor(os::Color::clear());

  std::shared_ptr<os::Image> logo = os::imageNamed("logo_placeholder");
  auto logoView = std::make_shared<os::ImageView>(logo);
  if (logo) logoView->setFrame(os::Rect{0, 0, logo->size().width, logo->size().height});
  logoView->setCenter(os::Point{size.width / 2, size.height / 2 - 80});
  errorView_->addSubview(logoView);

  auto label = std::make_shared<os::Label>();
  label->setText("网络错误，点击重试");
  label->setFont(os::Font::boldSystemFont(15));
  label->setTextColor(os::Color::rgba(200 / 255.0, 200 / 255.0, 200 / 255.0, 1));
  label->sizeToFit();
  os::Rect labelFrame = label->frame();
  labelFrame.origin.x = (size.width - labelFrame.size.width) / 2;
  labelFrame.origin.y = logoView->frame().origin.y + logoView->frame().size.height + 12;
  label->setFrame(labelFrame);
  errorView_->addSubview(label);

  auto retry = os::makeView<os::Button>(os::Rect{0, 0, size.width, size.height}, os::ButtonType::Custom);
  std::weak_ptr<VXScrollPageView> weak = std::static_pointer_cast<VXScrollPageView>(shared_from_this());
  retry->addTarget(
      this,
      [weak](os::Control&) {
        if (auto self = weak.lock()) self->loadAgain();
      },
      os::kControlEventTouchUpInside);
  errorView_->addSubview(retry);
  return errorView_;
}

void VXScrollPageView::loadAgain() {
  auto context = context_.lock();
  if (!context) return;
  auto self = std::static_pointer_cast<VXScrollPageView>(shared_from_this());
  VXGlobalHelper::share(*context).showActivityHud("", self, true);
  std::weak_ptr<VXScrollPageView> weak = self;
  NQBaseRequest request = NQBaseRequest::initWithOpcode(kCategoryListOpcode);
  VXGlobalHelper::loadWithRequest(
      *context, request, kCategoryTimeout,
      [weak](const std::optional<os::Dictionary>& data) {
        if (auto s = weak.lock()) s->categoriesAnswered(data);
      },
      [weak] {
        if (auto s = weak.lock()) s->categoriesFailed();
      });
}

void VXScrollPageView::categoriesAnswered(const std::optional<os::Dictionary>& data) {
  if (!data || (*data)["result"].intValue() != 1) {
    categoriesFailed();
    return;
  }
  auto context = context_.lock();
  if (!context) return;
  auto categories = VXNewsCategoryManager::categoriesFromAnswer(*data);
  auto db = VXNewsDBManager::share(*context);
  // One transaction: an empty or failed rewrite keeps the stored tabs. Categories the database
  // refuses (a full disk) still make this run's tabs: the retry shows only while none are stored,
  // and asking again would end the same way. Nothing stored, the next launch asks again.
  const bool refused = !categories.empty() && !db->replaceCategories(categories);
  if (errorView_) errorView_->removeFromSuperview();
  VXNewsCategoryManager::share(*context)->setCategoryList(refused ? std::move(categories)
                                                                  : db->createCategoryListWithDB());
  // The manager stores the list through the main queue: the rebuild is posted after it there, so
  // it sees the new categories.
  os::DispatchQueue::main()->async([] { os::NotificationCenter::defaultCenter().post(kLaunchEndNotification); });
  VXGlobalHelper::share(*context).hideHud(true);
}

void VXScrollPageView::categoriesFailed() {
  auto context = context_.lock();
  if (!context) return;
  VXGlobalHelper::share(*context).showHud("网络异常", std::static_pointer_cast<VXScrollPageView>(shared_from_this()),
                                          true);
}
