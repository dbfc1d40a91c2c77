#include "os/runtime/RunLoop.h"
#include "os/testing/ScreenHelpers.h"
#include "os/views/Application.h"
#include "os/views/Button.h"
#include "os/views/Label.h"
#include "os/views/Window.h"
#include "sharing/service/OBSocialSnsPlatformManager.h"
#include "sharing/widgets/OBSocialXToast.h"
#include "sharing/tests/SharingFixture.h"

namespace {

class ToastTest : public SharingFixture {
 protected:
  void SetUp() override {
    app_->makeShared();
    window_ = os::testing::showKeyWindow(nullptr, os::Rect(0, 0, 320, 480));
  }
  void TearDown() override { os::testing::hideKeyWindow(window_); }
  void pass(double seconds) {
    os::Clock::advance(seconds);
    os::RunLoop::main()->runUntilIdle();
  }
  std::vector<std::shared_ptr<os::View>> toasts() const {
    std::vector<std::shared_ptr<os::View>> out;
    for (const auto& view : window_->subviews())
      if (view->tag() == kOBSocialXToastTag) out.push_back(view);
    return out;
  }

  std::shared_ptr<os::Application> app_ = os::Application::create(nullptr);
  std::shared_ptr<os::Window> window_;
};

TEST_F(ToastTest, ShowsCentredThenFadesAndLeavesTheWindow) {
  auto toast = OBSocialXToast::makeText("分享成功");
  toast->show();
  ASSERT_EQ(toasts().size(), 1u);
  auto box = toast->view();
  EXPECT_EQ(box->center(), (os::Point{160, 240}));
  EXPECT_EQ(box->frame().size.height, box->subviews().back()->frame().size.height + 16);
  EXPECT_DOUBLE_EQ(box->alpha(), 1);
  pass(1.0);  // the duration: the fade starts
  EXPECT_DOUBLE_EQ(box->alpha(), 0);
  pass(0.3);  // the fade ended: the box is gone, not left as an invisible cover
  EXPECT_TRUE(toasts().empty());
}

TEST_F(ToastTest, OneToastAtATimeAndPlacement) {
  auto first = OBSocialXToast::makeText("一");
  first->setDuration(30000).show();
  auto second = OBSocialXToast::makeText(std::string(200, 'x'));  // wraps within 280 points, cut at 60
  second->setGravity(OBSocialXToastGravityTop).show();
  ASSERT_EQ(toasts().size(), 1u);
  EXPECT_EQ(toasts()[0], second->view());
  EXPECT_LE(second->view()->frame().size.width, 320);
  EXPECT_LE(second->view()->frame().size.height, 76);
  EXPECT_EQ(second->view()->center().y, 45);

  auto placed = OBSocialXToast::makeText("p");
  placed->setGravity(0, 10, 20).show();
  EXPECT_EQ(placed->view()->center(), (os::Point{10, 20}));

  // A touch hides it at once.
  placed->view()->sendActionsForControlEvents(os::kControlEventTouchDown);
  pass(0.3);
  EXPECT_TRUE(toasts().empty());
}

TEST_F(ToastTest, HiddenSettingShowsNothing) {
  OBSocialXToastSettings::getSharedSettings()->setIsHidden(true);
  OBSocialXToast::makeText("t")->show();
  EXPECT_TRUE(toasts().empty());
}

// The registry's account-request toast stays half a minute, unless taken down before.
TEST_F(ToastTest, RegistryMaskViewHoldsItsToastUntilRemoved) {
  sandbox_.writeBundleFile("OBSocialLocalizable.strings", "\"label_request_account\" = \"正在获取帐号\";\n");
  auto registry = OBSocialSnsPlatformManager::sharedInstance();
  registry->addMaskView();
  ASSERT_EQ(toasts().size(), 1u);
  ASSERT_TRUE(registry->toast());
  EXPECT_EQ(registry->toast()->text(), "正在获取帐号");
  pass(29);
  EXPECT_EQ(toasts().size(), 1u);
  registry->removeMaskView();
  EXPECT_TRUE(toasts().empty());
  EXPECT_FALSE(registry->toast());

  registry->addMaskView();
  pass(31);
  pass(1);  // the fade
  EXPECT_TRUE(toasts().empty());
  registry->removeMaskView();
}

}  // namespace
