#include "news/album/VXImageViewerViewController.h"

#include <algorithm>
#include <string>

#include "news/api/VXGlobalHelper.h"
#include "news/article/VXNewsDetailBaseCell.h"
#include "news/store/VXGlobalDefine.h"
#include "os/views/Application.h"
#include "os/views/Button.h"
#include "os/views/Device.h"
#include "os/views/Label.h"
#include "os/views/NamedImage.h"
#include "os/views/PhotoAlbum.h"

namespace {
bool systemAtLeast7() { return os::Device::current().systemVersionNumber() >= 7; }
}  // namespace

std::shared_ptr<VXImageViewerViewController> VXImageViewerViewController::initWithIndex(
    long index, const std::vector<VXNewsDetailDOPtr>& imageArray, const std::shared_ptr<os::TableView>& tableView,
    std::shared_ptr<VXReaderContext> context) {
  if (context) VXGlobalDefine::share(*context)->setScreenStatus(1);
  auto controller = std::make_shared<VXImageViewerViewController>(std::move(context));
  controller->setModalTransitionStyle(os::ModalTransitionStyle::CrossDissolve);
  for (const auto& row : imageArray) {
    if (auto image = std::dynamic_pointer_cast<VXNewsDetailImageDO>(row)) controller->imageArray_.push_back(image);
  }
  // An index that names no picture opens on the nearest one, so the counter and the page agree.
  long count = static_cast<long>(controller->imageArray_.size());
  controller->currentIndex_ = count > 0 ? std::clamp(index, 0L, count - 1) : 0;
  controller->detailTabelView_ = tableView;
  return controller;
}

VXImageViewerViewController::~VXImageViewerViewController() {
  if (pageFlowView_) {
    pageFlowView_->setDataSource(std::weak_ptr<PageFlowViewDataSource>{});
    pageFlowView_->setDelegate(std::weak_ptr<PageFlowViewDelegate>{});
  }
}

std::shared_ptr<VXImageViewerViewController> VXImageViewerViewController::self() {
  return std::static_pointer_cast<VXImageViewerViewController>(
      std::static_pointer_cast<os::ViewController>(shared_from_this()));
}

void VXImageViewerViewController::viewDidLoad() {
  NQBaseViewController::viewDidLoad();
  auto me = self();
  auto root = view();
  root->setBackgroundColor(os::Color::black());
  double width = root->frame().size.width, height = root->frame().size.height;

  pageFlowView_ = std::make_shared<PageFlowView>(root->bounds());
  pageFlowView_->setBackgroundColor(os::Color::clear());
  pageFlowView_->setDataSource(std::shared_ptr<PageFlowViewDataSource>(me, static_cast<PageFlowViewDataSource*>(this)));
  pageFlowView_->setDelegate(std::shared_ptr<PageFlowViewDelegate>(me, static_cast<PageFlowViewDelegate*>(this)));
  root->addSubview(pageFlowView_);

  toolView_ = std::make_shared<os::View>(os::Rect{0, height - 40, width, 40});
  toolView_->setBackgroundColor(os::Color::withWhite(1, 0.1));
  root->addSubview(toolView_);

  auto label = std::make_shared<os::Label>(os::Rect{10, 10, 100, 20});
  label->setFont(os::Font::systemFont(16));
  label->setBackgroundColor(os::Color::clear());
  label->setTextColor(os::Color::white());
  label->setTag(kPageLabelTag);
  toolView_->addSubview(label);
  showCount(currentIndex_);

  auto button = os::Button::buttonWithType(os::ButtonType::Custom);
  button->setFrame(os::Rect{width - 60, 8, 50, 25});
  button->setImage(os::imageNamed("detail_imageviewer_download"), os::kControlStateNormal);
  button->setAccessibilityLabel("保存");
  auto pressed = os::imageNamed("detail_imageviewer_download_press");
  button->setImage(pressed, os::kControlStateSelected);
  button->setImage(pressed, os::kControlStateHighlighted);
  std::weak_ptr<VXImageViewerViewController> weak = me;
  button->addTarget(
      this,
      [weak](os::Control&) {
        if (auto screen = weak.lock()) screen->clickButton();
      },
      os::kControlEventTouchUpInside);
  toolView_->addSubview(button);

  hideStatusBar();
}

void VXImageViewerViewController::viewDidAppear(bool animated) {
  NQBaseViewController::viewDidAppear(animated);
  if (!pageFlowView_) return;
  // The strip must know its pages before it can move to one.
  pageFlowView_->layoutIfNeeded();
  pageFlowView_->scrollToPage(static_cast<std::size_t>(currentIndex_));
  // Moving the strip does not make the page current, and the save button and the next swipe
  // read the current page: without this the viewer would save the first picture.
  pageFlowView_->setCurrentPageIndex(static_cast<int>(currentIndex_));
}

std::shared_ptr<os::Label> VXImageViewerViewController::pageLabel() const {
  return toolView_ ? std::dynamic_pointer_cast<os::Label>(toolView_->viewWithTag(kPageLabelTag)) : nullptr;
}

void VXImageViewerViewController::showCount(long index) {
  auto label = pageLabel();
  if (!label) return;
  label->setText(std::to_string(index + 1) + "/" + std::to_string(imageArray_.size()));
}

// ---- pages ----

std::optional<os::Size> VXImageViewerViewController::sizeForPageInFlowView(PageFlowView&) {
  return view()->frame().size;
}

std::optional<int> VXImageViewerViewController::numberOfPagesInFlowView(PageFlowView&) {
  return static_cast<int>(imageArray_.size());
}

std::shared_ptr<os::View> VXImageViewerViewController::cellForPageAtIndex(PageFlowView& flowView, int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= imageArray_.size()) return nullptr;
  auto page = std::dynamic_pointer_cast<VXImageViewer>(flowView.dequeueReusableCell());
  if (!page) {
    page = std::make_shared<VXImageViewer>(flowView.bounds(), 0);
    // A double tap zooms; only a tap that is not the start of one closes the viewer.
    flowView.tapGestureRecognizer()->requireGestureRecognizerToFail(page->doubleTap());
  }
  page->setContent(imageArray_[static_cast<std::size_t>(index)]);
  return page;
}

void VXImageViewerViewController::didScrollToPageAtIndex(PageFlowView&, int index) { showCount(index); }

void VXImageViewerViewController::didTapPageAtIndex(PageFlowView&, int) {
  dismissViewController(true);
  if (systemAtLeast7()) {
    if (auto app = os::Application::shared()) app->setStatusBarHidden(false);
  }
  if (auto context = context_.lock()) VXGlobalDefine::share(*context)->setScreenStatus(0);
  if (auto table = detailTabelView_.lock()) table->reloadData();
}

// ---- saving ----

void VXImageViewerViewController::clickButton() {
  auto page = pageFlowView_ ? std::dynamic_pointer_cast<VXImageViewer>(
                                  pageFlowView_->cellAtIndex(pageFlowView_->currentPageIndex()))
                            : nullptr;
  if (!page) {
    VXGlobalHelper::writeLog("imageviewer is nil");
    return;
  }
  auto image = page->imageView()->image();
  if (!image) {
    showHud(kNotLoadedText);
    return;
  }
  std::weak_ptr<VXImageViewerViewController> weak = self();
  os::PhotoAlbum::saveImage(image, [weak](const os::Error* error) {
    if (auto screen = weak.lock()) screen->imageDidFinishSavingWithError(error);
  });
}

void VXImageViewerViewController::imageDidFinishSavingWithError(const os::Error* error) {
  showHud(error ? kSaveFailedText : kSavedText);
}

void VXImageViewerViewController::showHud(const std::string& text) {
  if (auto context = context_.lock()) VXGlobalHelper::share(*context).showHud(text, view(), true);
}
