#include "news/controllers/VXNewsView.h"

#include <mutex>

namespace {

struct CategoryHooks {
  std::mutex mutex;
  VXNewsView::CategoryListSource source;
  VXNewsView::CategoryListSink sink;
  std::vector<VXNewsCategory> list;
};
CategoryHooks& hooks() {
  static CategoryHooks h;
  return h;
}

}  // namespace

void VXNewsView::setCategoryListSource(CategoryListSource source) {
  std::lock_guard lock(hooks().mutex);
  hooks().source = std::move(source);
}

void VXNewsView::setCategoryListSink(CategoryListSink sink) {
  std::lock_guard lock(hooks().mutex);
  hooks().sink = std::move(sink);
}

std::vector<VXNewsCategory> VXNewsView::categoryList() {
  CategoryListSource source;
  {
    std::lock_guard lock(hooks().mutex);
    if (!hooks().source) return hooks().list;
    source = hooks().source;
  }
  return source();
}

void VXNewsView::setCategoryList(std::vector<VXNewsCategory> list) {
  CategoryListSink sink;
  {
    std::lock_guard lock(hooks().mutex);
    if (!hooks().sink) {
      hooks().list = std::move(list);
      return;
    }
    sink = hooks().sink;
  }
  sink(std::move(list));
}

std::shared_ptr<VXNewsView> VXNewsView::create(const os::Rect& frame) {
  auto view = std::make_shared<VXNewsView>(frame);
  const double w = frame.size.width, h = frame.size.height;
  // The strip first: it hears "fLaunchEnd" before the pages and so selects its first tab
  // while the old pages are still in place; the pages then rebuild on their first page.
  view->switchView_ = VXSlideSwitchView::create(os::Rect{0, 0, w, VXSlideSwitchView::kStripHeight});
  view->switchView_->setDelegate(std::shared_ptr<VXSlideSwitchDelegate>(view, static_cast<VXSlideSwitchDelegate*>(view.get())));
  view->pageView_ =
      VXScrollPageView::create(os::Rect{0, VXSlideSwitchView::kStripHeight, w, h - VXSlideSwitchView::kStripHeight});
  view->pageView_->setDelegate(
      std::shared_ptr<VXScrollPageViewDelegate>(view, static_cast<VXScrollPageViewDelegate*>(view.get())));
  view->addSubview(view->switchView_);
  view->addSubview(view->pageView_);
  return view;
}

VXNewsView::VXNewsView(const os::Rect& frame) : os::View(frame) {}

void VXNewsView::didSlideSwitchClick(int index) { pageView_->moveScrollViewWithIndex(index); }

void VXNewsView::didScollPageViewChanged(int index) { switchView_->changeButtonStateAtIndex(index); }
