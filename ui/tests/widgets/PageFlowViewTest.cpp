#include "ui/widgets/PageFlowView.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "os/runtime/Clock.h"
#include "os/runtime/RunLoop.h"
#include "os/console/TouchDriver.h"
#include "os/testing/ScreenHelpers.h"
#include "os/views/Window.h"

namespace {

// Pages are plain views tagged with their index; the owner counts the views it had to make.
struct PageOwner : PageFlowViewDataSource, PageFlowViewDelegate {
  std::optional<int> count = 10;
  std::optional<os::Size> size = os::Size{320, 480};
  int made = 0;
  std::vector<int> asked, scrolled, tapped;
  std::set<int> refuse;  // indices answered with no view

  std::optional<int> numberOfPagesInFlowView(PageFlowView&) override { return count; }
  std::shared_ptr<os::View> cellForPageAtIndex(PageFlowView& flow, int index) override {
    asked.push_back(index);
    if (refuse.count(index)) return nullptr;
    auto page = flow.dequeueReusableCell();
    if (!page) {
      page = std::make_shared<os::View>();
      ++made;
    }
    page->setTag(index + 1);
    return page;
  }
  std::optional<os::Size> sizeForPageInFlowView(PageFlowView&) override { return size; }
  void didScrollToPageAtIndex(PageFlowView&, int index) override { scrolled.push_back(index); }
  void didTapPageAtIndex(PageFlowView&, int index) override { tapped.push_back(index); }
};

class PageFlowViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window_ = os::testing::showKeyWindow();
    flow_ = std::make_shared<PageFlowView>(os::Rect{0, 0, 320, 480});
    flow_->setDataSource(owner_);
    flow_->setDelegate(owner_);
  }
  void TearDown() override {
    os::testing::hideKeyWindow(window_);
    os::RunLoop::main()->runUntilIdle();
  }

  void show() {
    window_->addSubview(flow_);
    window_->layoutIfNeeded();
  }
  // Indices of the loaded pages, checking the slot invariants on the way.
  std::vector<int> loaded() {
    std::vector<int> out;
    const auto& cells = flow_->cells();
    EXPECT_EQ(cells.size(), static_cast<std::size_t>(flow_->pageCount()));
    auto range = flow_->visibleRange();
    for (std::size_t i = 0; i < cells.size(); ++i) {
      if (!cells[i]) continue;
      EXPECT_TRUE(i >= range.location && i < range.location + range.length) << "page " << i << " outside the range";
      EXPECT_EQ(cells[i]->superviewPtr(), flow_->scrollView().get());
      EXPECT_EQ(cells[i]->tag(), static_cast<int>(i) + 1);
      out.push_back(static_cast<int>(i));
    }
    return out;
  }
  void restOn(int page) {
    flow_->scrollView()->setContentOffset(os::Point{page * flow_->pageSize().width, 0});
  }

  os::VirtualClockScope clock_;
  std::shared_ptr<os::Window> window_;
  std::shared_ptr<PageOwner> owner_ = std::make_shared<PageOwner>();
  std::shared_ptr<PageFlowView> flow_;
};

TEST_F(PageFlowViewTest, LoadsTheCentredPagesWithOneEachSideAndReusesTheRest) {
  show();
  const auto& scroll = *flow_->scrollView();
  EXPECT_EQ(scroll.frame(), (os::Rect{0, 0, 320, 480}));
  EXPECT_EQ(scroll.contentSize(), (os::Size{3200, 480}));
  // Pages as wide as the view, at rest on page 0: that page and the next only.
  EXPECT_EQ(loaded(), (std::vector<int>{0, 1}));
  EXPECT_EQ(flow_->cells()[1]->frame(), (os::Rect{320, 0, 320, 480}));

  // At rest on a page in the middle: the page and one on each side, not every page to the end.
  restOn(5);
  EXPECT_EQ(loaded(), (std::vector<int>{4, 5, 6}));
  EXPECT_EQ(flow_->cells()[6]->frame(), (os::Rect{1920, 0, 320, 480}));
  // Half-way between two pages both are in view.
  flow_->scrollView()->setContentOffset(os::Point{5 * 320 + 100, 0});
  EXPECT_EQ(loaded(), (std::vector<int>{4, 5, 6, 7}));

  // Paging on one page at a time, views come back out of the pool instead of being made.
  for (int page = 5; page <= 9; ++page) restOn(page);
  EXPECT_EQ(loaded(), (std::vector<int>{8, 9}));
  EXPECT_LE(owner_->made, 5);
  // A view is either on a page or in the pool, never both.
  std::size_t onPages = loaded().size();
  EXPECT_EQ(onPages + flow_->reusableCellCount(), static_cast<std::size_t>(owner_->made));
}

TEST_F(PageFlowViewTest, NarrowerPagesShowTheirNeighboursAndEveryLayoutPassRebuildsFromThePool) {
  owner_->size = os::Size{280, 480};
  show();
  // Centred: the scroll view's frame starts 20 in, so the view reaches from -20 to 300.
  EXPECT_EQ(flow_->scrollView()->frame(), (os::Rect{20, 0, 280, 480}));
  EXPECT_EQ(loaded(), (std::vector<int>{0, 1, 2}));
  int made = owner_->made;
  owner_->asked.clear();

  flow_->setNeedsLayout();
  window_->layoutIfNeeded();
  EXPECT_EQ(owner_->asked, (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(owner_->made, made) << "the previous views wait in the pool";
  EXPECT_EQ(loaded(), (std::vector<int>{0, 1, 2}));

  // A new count reaches the pages and the page control at the next pass.
  auto dots = std::make_shared<os::PageControl>();
  flow_->setPageControl(dots);
  owner_->count = 1;
  flow_->reloadData();
  EXPECT_EQ(dots->numberOfPages(), 0) << "only stored until the reload";
  window_->layoutIfNeeded();
  EXPECT_EQ(dots->numberOfPages(), 1);
  EXPECT_EQ(flow_->visibleRange(), (PageFlowView::Range{0, 1}));
  EXPECT_EQ(loaded(), (std::vector<int>{0}));

}

TEST_F(PageFlowViewTest, OnlyADecelerationMovesTheCurrentPageAndTellsTheDelegate) {
  auto dots = std::make_shared<os::PageControl>();
  flow_->setPageControl(dots);
  show();

  flow_->scrollToPage(3);
  EXPECT_EQ(flow_->scrollView()->contentOffset(), (os::Point{960, 0}));
  EXPECT_EQ(loaded(), (std::vector<int>{2, 3, 4}));
  EXPECT_EQ(flow_->currentPageIndex(), 0);
  EXPECT_TRUE(owner_->scrolled.empty());
  flow_->scrollToPage(10);  // beyond the last page
  EXPECT_EQ(flow_->scrollView()->contentOffset(), (os::Point{960, 0}));
  os::TouchDriver::advance(1);

  // A flick to the next page: the delegate hears of it when the deceleration ends.
  os::TouchDriver::dragScrollView(*flow_->scrollView(), os::Point{-60, 0}, os::Point{-600, 0});
  EXPECT_TRUE(owner_->scrolled.empty());
  os::TouchDriver::advance(os::ScrollView::kDecelerationDuration + 0.1);
  EXPECT_EQ(owner_->scrolled, (std::vector<int>{4}));
  EXPECT_EQ(flow_->currentPageIndex(), 4);
  EXPECT_EQ(dots->currentPage(), 4);

  // Coming to rest on the same page again: the dots are set, the delegate hears nothing.
  dots->setNumberOfPages(10);
  dots->setCurrentPage(0);
  flow_->scrollView()->setContentOffset(os::Point{4 * 320 + 30, 0});
  flow_->scrollViewDidEndDecelerating(*flow_->scrollView());
  EXPECT_EQ(dots->currentPage(), 4);
  EXPECT_EQ(owner_->scrolled, (std::vector<int>{4}));
}

TEST_F(PageFlowViewTest, SidePagesFadeAndShrinkOnlyWhenAsked) {
  owner_->size = os::Size{280, 480};
  show();
  for (int i : loaded()) EXPECT_TRUE(flow_->cells()[i]->layer().transform().isIdentity());

  flow_->setMinimumPageAlpha(0.4);
  flow_->setMinimumPageScale(0.8);
  flow_->scrollView()->setContentOffset(os::Point{140, 0});  // half-way from page 0 to 1
  const auto& cells = flow_->cells();
  EXPECT_DOUBLE_EQ(cells[0]->alpha(), 0.7);
  EXPECT_DOUBLE_EQ(cells[1]->layer().transform().m11, 0.9);
  EXPECT_DOUBLE_EQ(cells[2]->alpha(), 0.4);  // a page or more away
  EXPECT_DOUBLE_EQ(cells[2]->layer().transform().m11, 0.8);

  // A page leaving the strip goes to the pool without its shrink.
  auto page0 = cells[0];
  flow_->scrollView()->setContentOffset(os::Point{3 * 280, 0});
  EXPECT_FALSE(flow_->cells()[0]);
  EXPECT_TRUE(page0->layer().transform().isIdentity());
}

TEST_F(PageFlowViewTest, TapsReachTheDelegateOnlyOnTheCentredPage) {
  owner_->size = os::Size{280, 480};
  show();
  EXPECT_TRUE(os::TouchDriver::tap(os::Point{160, 240}));
  os::TouchDriver::advance(1);
  EXPECT_EQ(owner_->tapped, (std::vector<int>{0}));

  // The strip beside the centred page belongs to the scroll view, but a tap there is ignored.
  EXPECT_EQ(flow_->hitTest(os::Point{310, 240}, nullptr), flow_->scrollView());
  EXPECT_EQ(flow_->hitTest(os::Point{400, 240}, nullptr), nullptr);
  os::TouchDriver::tap(os::Point{310, 240});
  os::TouchDriver::advance(1);
  EXPECT_EQ(owner_->tapped, (std::vector<int>{0}));
}

TEST_F(PageFlowViewTest, ABadDataSourceNeverBreaksTheStrip) {
  // No view for a page: its slot stays empty and the neighbours still load.
  owner_->refuse = {1};
  show();
  EXPECT_EQ(loaded(), (std::vector<int>{0}));
  restOn(2);
  EXPECT_EQ(loaded(), (std::vector<int>{2, 3}));

  // A negative count is no pages.
  owner_->count = -4;
  flow_->reloadData();
  window_->layoutIfNeeded();
  EXPECT_EQ(flow_->pageCount(), 0);
  EXPECT_TRUE(flow_->cells().empty());

  // Pages without width: one page loads, and coming to rest names page 0.
  owner_->count = 5;
  owner_->size = os::Size{0, 480};
  owner_->refuse.clear();
  flow_->reloadData();
  window_->layoutIfNeeded();
  EXPECT_EQ(loaded(), (std::vector<int>{0}));
  flow_->scrollViewDidEndDecelerating(*flow_->scrollView());
  EXPECT_EQ(flow_->currentPageIndex(), 0);

  // An offset past the end names the last page, never one beyond it.
  owner_->size = os::Size{320, 480};
  flow_->reloadData();
  window_->layoutIfNeeded();
  flow_->scrollView()->setContentOffset(os::Point{320 * 7, 0});
  flow_->scrollViewDidEndDecelerating(*flow_->scrollView());
  EXPECT_EQ(flow_->currentPageIndex(), 4);

}

}  // namespace
