#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <string>

#include "foundation/formats/DateUtilities.h"
#include "os/runtime/Clock.h"
#include "os/runtime/RunLoop.h"
#include "os/store/UserDefaults.h"
#include "os/testing/TestSandbox.h"
#include "os/console/TouchDriver.h"
#include "os/testing/ScreenHelpers.h"
#include "os/views/Device.h"
#include "os/views/ScrollView.h"
#include "os/views/Window.h"
#include "ui/widgets/PRRefreshTableHeaderView.h"

namespace {

// Stands in for a list: counts triggers, answers the loading query from its own flag, and can
// finish synchronously inside the trigger.
struct ListOwner : PRRefreshTableHeaderDelegate, os::ScrollViewDelegate {
  std::weak_ptr<PRRefreshTableHeaderView> header;
  int triggers = 0;
  bool loading = false;
  bool finishAtOnce = false;
  std::optional<os::Date> lastUpdated;
  os::ScrollView* scroll = nullptr;

  void prRefreshTableHeaderDidTriggerRefresh(PRRefreshTableHeaderView& view) override {
    ++triggers;
    loading = true;
    if (finishAtOnce) {
      loading = false;
      view.prRefreshScrollViewDataSourceDidFinishedLoading(*scroll);
    }
  }
  bool prRefreshTableHeaderDataSourceIsLoading(PRRefreshTableHeaderView&) override { return loading; }
  std::optional<os::Date> prRefreshTableHeaderDataSourceLastUpdated(PRRefreshTableHeaderView&) override {
    return lastUpdated;
  }
  void scrollViewDidScroll(os::ScrollView& s) override {
    if (auto h = header.lock()) h->prRefreshScrollViewDidScroll(s);
  }
  void scrollViewDidEndDragging(os::ScrollView& s, bool) override {
    if (auto h = header.lock()) h->prRefreshScrollViewDidEndDragging(s);
  }
};

class PRRefreshTableHeaderViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    os::View::clearAnimationLog();
    window_ = os::testing::showKeyWindow();
    scroll_ = os::makeView<os::ScrollView>(os::Rect{0, 0, 320, 400});
    scroll_->setContentSize(os::Size{320, 1000});
    scroll_->setAlwaysBounceVertical(true);
    window_->addSubview(scroll_);
    owner_ = std::make_shared<ListOwner>();
    owner_->scroll = scroll_.get();
    header_ = std::make_shared<PRRefreshTableHeaderView>(os::Rect{0, -400, 320, 400});
    header_->setDelegate(owner_);
    owner_->header = header_;
    scroll_->addSubview(header_);
    scroll_->setDelegate(owner_);
    os::TouchDriver::settle();
  }
  void TearDown() override {
    os::TouchDriver::advance(2);
    os::testing::hideKeyWindow(window_);
    os::RunLoop::main()->runUntilIdle();
  }
  // Where the finger left the content: the end-of-drag call the owner forwards.
  void releaseAt(double y) {
    scroll_->setContentOffset(os::Point{0, y});
    header_->prRefreshScrollViewDidEndDragging(*scroll_);
  }

  os::VirtualClockScope clock_;
  os::TestSandbox sandbox_;
  os::DeviceProfileScope device_{os::DeviceProfile{}};
  std::shared_ptr<os::Window> window_;
  std::shared_ptr<os::ScrollView> scroll_;
  std::shared_ptr<ListOwner> owner_;
  std::shared_ptr<PRRefreshTableHeaderView> header_;
};

TEST_F(PRRefreshTableHeaderViewTest, ReleaseTriggersFromTheThresholdOnward) {
  releaseAt(-64.9);
  EXPECT_EQ(owner_->triggers, 0);
  EXPECT_EQ(header_->state(), PRRefreshNormal);

  releaseAt(-65);
  EXPECT_EQ(owner_->triggers, 1);
  EXPECT_EQ(header_->state(), PRRefreshLoading);
  EXPECT_EQ(scroll_->contentInset().top, PRRefreshTableHeaderView::kLoadingInset);
  EXPECT_EQ(header_->statusLabel()->text(), "加载中...");
  EXPECT_TRUE(header_->activityView()->isAnimating());
  EXPECT_TRUE(header_->arrowImage()->isHidden());

  header_->prRefreshScrollViewDataSourceDidFinishedLoading(*scroll_);
  EXPECT_EQ(header_->state(), PRRefreshNormal);
  EXPECT_EQ(scroll_->contentInset(), os::EdgeInsets::zero());
  EXPECT_FALSE(header_->activityView()->isAnimating());
  EXPECT_FALSE(header_->arrowImage()->isHidden());
}

TEST_F(PRRefreshTableHeaderViewTest, ADelegateThatFinishesAtOnceLeavesTheHeaderIdle) {
  owner_->finishAtOnce = true;
  releaseAt(-80);
  EXPECT_EQ(owner_->triggers, 1);
  EXPECT_EQ(header_->state(), PRRefreshNormal);
  os::TouchDriver::advance(1);
  EXPECT_EQ(scroll_->contentInset(), os::EdgeInsets::zero());
  // And it can be pulled again.
  releaseAt(-80);
  EXPECT_EQ(owner_->triggers, 2);
}

TEST_F(PRRefreshTableHeaderViewTest, APullDuringTheOwnersLoadChangesNothing) {
  owner_->loading = true;
  os::TouchDriver::dragScrollView(*scroll_, os::Point{0, 200});
  EXPECT_EQ(header_->state(), PRRefreshNormal);
  EXPECT_EQ(owner_->triggers, 0);
  releaseAt(-100);
  EXPECT_EQ(owner_->triggers, 0);
  EXPECT_EQ(header_->state(), PRRefreshNormal);
}

TEST_F(PRRefreshTableHeaderViewTest, AFingerPullFlipsTheArrowAndTheReleaseHoldsTheHeaderInView) {
  // Watches the header while the finger is down, then forwards as the list would.
  struct Spy : os::ScrollViewDelegate {
    std::shared_ptr<ListOwner> inner;
    PRRefreshTableHeaderView* header = nullptr;
    bool sawPulling = false;
    void scrollViewDidScroll(os::ScrollView& s) override {
      inner->scrollViewDidScroll(s);
      if (header->state() == PRRefreshPulling && !sawPulling) {
        sawPulling = true;
        EXPECT_LT(s.contentOffset().y, -65);
        EXPECT_EQ(header->statusLabel()->text(), "松开开始刷新");
        EXPECT_NEAR(header->arrowImage()->transform().m11, -1, 1e-9);
      }
    }
    void scrollViewDidEndDragging(os::ScrollView& s, bool d) override { inner->scrollViewDidEndDragging(s, d); }
  };
  auto spy = std::make_shared<Spy>();
  spy->inner = owner_;
  spy->header = header_.get();
  scroll_->setDelegate(spy);

  // Past the edge the content follows the finger at half the distance: 200 points pull it 100.
  os::TouchDriver::dragScrollView(*scroll_, os::Point{0, 200});
  EXPECT_TRUE(spy->sawPulling);
  EXPECT_EQ(owner_->triggers, 1);
  EXPECT_EQ(header_->state(), PRRefreshLoading);
  os::TouchDriver::advance(1);
  // The bounce-back stops at the loading inset, so the header stays in view.
  EXPECT_EQ(scroll_->contentInset().top, 60);
  EXPECT_EQ(scroll_->contentOffset().y, -60);
}

TEST_F(PRRefreshTableHeaderViewTest, TheLoadingInsetFollowsTheOffsetWithinItsBounds) {
  header_->startLoadingAndExpand(*scroll_);
  EXPECT_EQ(scroll_->contentOffset().y, -60);
  EXPECT_EQ(scroll_->contentInset().top, 60);
  scroll_->setContentOffset(os::Point{0, -25});
  EXPECT_EQ(scroll_->contentInset().top, 25);
  scroll_->setContentOffset(os::Point{0, 30});
  EXPECT_EQ(scroll_->contentInset().top, 0);
  scroll_->setContentOffset(os::Point{0, -150});
  EXPECT_EQ(scroll_->contentInset().top, 60);
}

TEST_F(PRRefreshTableHeaderViewTest, StartingTwiceTriggersOnce) {
  header_->startLoadingAndExpand(*scroll_);
  header_->startLoadingAndExpand(*scroll_);
  EXPECT_EQ(owner_->triggers, 1);
  // Nor does a release while loading start a second refresh.
  releaseAt(-90);
  EXPECT_EQ(owner_->triggers, 1);
}

TEST_F(PRRefreshTableHeaderViewTest, AGoneDelegateCountsAsNeverLoading) {
  owner_.reset();
  scroll_->setDelegate(std::weak_ptr<os::ScrollViewDelegate>{});
  releaseAt(-70);
  EXPECT_EQ(header_->state(), PRRefreshLoading);
  header_->prRefreshScrollViewDataSourceDidFinishedLoading(*scroll_);
  EXPECT_EQ(header_->lastUpdatedLabel()->text(), "");
}

TEST_F(PRRefreshTableHeaderViewTest, TheLastUpdatedLineIsRewrittenOnEachReturnToNormal) {
  auto defaults = os::UserDefaults::standardUserDefaults();
  os::Date first = os::Date::fromTimeIntervalSince1970(1.7e9);
  owner_->lastUpdated = first;
  header_->setState(PRRefreshNormal);
  std::string expected = "上次刷新: " + stringWithDateStyle(first, DateFormatterStyle::Short, DateFormatterStyle::Short);
  EXPECT_EQ(header_->lastUpdatedLabel()->text(), expected);
  EXPECT_EQ(defaults->stringForKey(kPRRefreshLastRefreshKey), expected);

  os::Date later = first.addingTimeInterval(86400 * 3);
  owner_->lastUpdated = later;
  releaseAt(-70);
  header_->prRefreshScrollViewDataSourceDidFinishedLoading(*scroll_);
  expected = "上次刷新: " + stringWithDateStyle(later, DateFormatterStyle::Short, DateFormatterStyle::Short);
  EXPECT_EQ(header_->lastUpdatedLabel()->text(), expected);
  EXPECT_EQ(defaults->stringForKey(kPRRefreshLastRefreshKey), expected);
}

}  // namespace
