#pragma once
// The news on the home screen: the category tab strip over the paged lists, kept in step (a tab
// tap pages the lists, a swipe of the lists selects the tab). Main thread only.
#include <memory>
#include <string>
#include <vector>

#include "news/home/VXScrollPageView.h"
#include "news/home/VXSlideSwitchView.h"
#include "news/store/VXNewsCategory.h"
#include "os/views/View.h"

class VXReaderContext;

class VXNewsView : public os::View, public VXSlideSwitchDelegate, public VXScrollPageViewDelegate {
 public:
  // The tabs: the category manager's current list (of the current context, or of `context`).
  static std::vector<VXNewsCategory> categoryList();
  static std::vector<VXNewsCategory> categoryList(VXReaderContext& context);

  // `context`: the reader context whose categories and lists it shows.
  static std::shared_ptr<VXNewsView> create(const os::Rect& frame, std::shared_ptr<VXReaderContext> context);
  explicit VXNewsView(const os::Rect& frame);  // use create()
  std::string className() const override { return "VXNewsView"; }

  const std::shared_ptr<VXSlideSwitchView>& switchView() const { return switchView_; }
  const std::shared_ptr<VXScrollPageView>& pageView() const { return pageView_; }

  void didSlideSwitchClick(int index) override;
  void didScollPageViewChanged(int index) override;

 private:
  std::shared_ptr<VXSlideSwitchView> switchView_;
  std::shared_ptr<VXScrollPageView> pageView_;
};
