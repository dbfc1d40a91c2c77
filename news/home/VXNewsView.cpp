#include "news/home/VXNewsView.h"

#include "news/api/VXReaderContext.h"
#include "news/store/VXNewsCategoryManager.h"

std::vector<VXNewsCategory> VXNewsView::categoryList() { return categoryList(*VXReaderContext::current()); }

std::vector<VXNewsCategory> VXNewsView::categoryList(VXReaderContext& context) {
  return VXNewsCategoryManager::share(context)->categoryList();
}

std::shared_ptr<VXNewsView> VXNewsView::create(const os::Rect& frame, std::shared_ptr<VXReaderContext> context) {
  auto view = std::make_shared<VXNewsView>(frame);
  const double w = frame.size.width, h = frame.size.height;
  // The strip first: it hears "fLaunchEnd" before the pages and so selects its first tab
  // while the old pages are still in place; the pages then rebuild on their first page.
  view->switchView_ = VXSlideSwitchView::create(os::Rect{0, 0, w, VXSlideSwitchView::kStripHeight}, context);
  view->switchView_->setDelegate(std::shared_ptr<VXSlideSwitchDelegate>(view, static_cast<VXSlideSwitchDelegate*>(view.get())));
  view->pageView_ =
      VXScrollPageView::create(os::Rect{0, VXSlideSwitchView::kStripHeight, w, h - VXSlideSwitchView::kStripHeight},
                               context);
  view->pageView_->setDelegate(
      std::shared_ptr<VXScrollPageViewDelegate>(view, static_cast<VXScrollPageViewDelegate*>(view.get())));
  view->addSubview(view->switchView_);
  view->addSubview(view->pageView_);
  return view;
}

VXNewsView::VXNewsView(const os::Rect& frame) : os::View(frame) {}

void VXNewsView::didSlideSwitchClick(int index) { pageView_->moveScrollViewWithIndex(index); }

void VXNewsView::didScollPageViewChanged(int index) { switchView_->changeButtonStateAtIndex(index); }
