// The coordinator's picker window and the head-picture picker: what the reader sees and what the
// QQ Connect service on loopback hears of it.
#include <gtest/gtest.h>

#include <algorithm>

#include "QQConnectTestSupport.h"
#include "UsageReportsSupport.h"
#include "os/console/TouchDriver.h"
#include "os/graphics/Image.h"
#include "os/graphics/RecordingContext.h"
#include "os/runtime/NotificationCenter.h"
#include "os/views/Button.h"
#include "os/views/Label.h"
#include "os/views/NavigationBar.h"
#include "os/views/Screen.h"
#include "os/views/Switch.h"
#include "os/views/Window.h"
#include "qqconnect/web/SetHeadImageViewController.h"
#include "qqconnect/web/TCUiKit.h"
#include "qqconnect/web/UINotifyView.h"

namespace qctest {
namespace {

std::shared_ptr<os::Image> picture(int w, int h) { return os::Image::create(os::Bitmap(w, h)); }

struct Uploader : setHeadImageDelegate {
  std::int32_t answer = 7;
  int uploads = 0;
  std::vector<std::int32_t> cancelled;
  std::shared_ptr<os::Image> last;
  std::int32_t didFinishedSetUserLocalPic(SetHeadImageViewController&, const std::shared_ptr<os::Image>& image,
                                          const std::string&) override {
    ++uploads;
    last = image;
    return answer;
  }
  void didCancelled(std::int32_t seq) override { cancelled.push_back(seq); }
};

class PickerReportsTest : public ReportingServiceTest {
 protected:
  void SetUp() override {
    ReportingServiceTest::SetUp();
    appWindow = os::testing::showKeyWindow();
  }
  void TearDown() override {
    kit.reset();
    appWindow.reset();
    settle();
    ReportingServiceTest::TearDown();
  }
  void advance(double seconds) {
    os::Clock::advance(seconds);
    settle();
  }
  // Each report goes out on a request of its own, so two sent together may arrive either way
  // round: the ones from `from` on, in sorted order.
  std::vector<std::string> arrived(std::size_t from = 0) {
    auto all = actions();
    std::vector<std::string> some(all.begin() + static_cast<long>(std::min(from, all.size())), all.end());
    std::sort(some.begin(), some.end());
    return some;
  }
  // The last report of `action` that arrived; an empty one when none did.
  qqconnectd::ActionReport lastReportOf(const std::string& action) {
    const auto all = service().actionReports();
    auto it = std::find_if(all.rbegin(), all.rend(), [&](const auto& r) { return r.action == action; });
    return it == all.rend() ? qqconnectd::ActionReport{} : *it;
  }
  bool reported(std::size_t count) {
    return run([&] { return service().actionReports().size() >= count; });
  }
  static std::shared_ptr<APIResponse> answer(int retCode, int ret) {
    auto response = std::make_shared<APIResponse>();
    response->setRetCode(retCode);
    response->setJsonResponse(os::Dictionary{{"ret", os::Value(ret)}});
    return response;
  }

  std::shared_ptr<os::Window> appWindow;
  std::shared_ptr<Uploader> uploader = std::make_shared<Uploader>();
  std::unique_ptr<TCUiKit> kit = std::make_unique<TCUiKit>(kAppId);
};

TEST_F(PickerReportsTest, PickerWindowClearsTheScreenAndReportsShowingAndClosing) {
  auto parked = std::make_shared<os::Window>(os::Rect{-2000, 0, 320, 480});  // already off the screen
  parked->setHidden(false);
  ASSERT_TRUE(kit->popSetHeadImageViewWnd(uploader, picture(640, 480), std::nullopt, std::nullopt));
  EXPECT_FALSE(kit->popSetHeadImageViewWnd(uploader, picture(640, 480), std::nullopt, std::nullopt));
  auto picker = kit->shownPicker();
  ASSERT_TRUE(picker);
  EXPECT_EQ(picker->fileName(), "qqPic");
  EXPECT_EQ(picker->appId(), kAppId);
  EXPECT_FALSE(picker->image());  // the picture follows after 0.01 s
  advance(0.01);
  EXPECT_TRUE(picker->image());
  EXPECT_EQ(kit->window(), os::Window::keyWindow());
  EXPECT_EQ(appWindow->frame().origin.x, os::Screen::main().bounds().size.width);
  EXPECT_NE(std::find(kit->windowsArray().begin(), kit->windowsArray().end(), parked), kit->windowsArray().end());

  kit->doClose();
  EXPECT_EQ(appWindow->frame().origin.x, 0);
  EXPECT_EQ(parked->frame().origin.x, -2000);  // left where it was
  EXPECT_EQ(os::Window::keyWindow(), appWindow);
  ASSERT_TRUE(reported(2));
  EXPECT_EQ(arrived(), (std::vector<std::string>{"10653", "10661"}));  // closed without a nick
  EXPECT_EQ(service().actionReports().at(0).appid, kAppId);

  ASSERT_TRUE(kit->popSetHeadImageViewWnd(uploader, picture(64, 64), "me", "老兵"));
  kit->closeWindow();
  ASSERT_TRUE(reported(4));
  EXPECT_EQ(arrived(2), (std::vector<std::string>{"10653", "10659"}));  // with one
  ASSERT_TRUE(kit->popSetHeadImageViewWnd(uploader, picture(64, 64), "me", ""));
  kit->closeWindow();
  ASSERT_TRUE(reported(6));
  EXPECT_EQ(arrived(4), (std::vector<std::string>{"10653", "10661"}));  // an empty nick is none

  // Handed out: the picture follows after 0.1 s; no window, so nothing is reported on close.
  auto handed = kit->getHeadImageViewController(uploader, picture(64, 64), "", "n");
  ASSERT_TRUE(handed);
  EXPECT_FALSE(kit->getHeadImageViewController(uploader, nullptr, "", "n"));
  advance(0.05);
  EXPECT_FALSE(handed->image());
  advance(0.05);
  EXPECT_TRUE(handed->image());
  EXPECT_EQ(handed->nick(), "n");
  kit->doClose();
  EXPECT_FALSE(kit->headImageViewController());
  ASSERT_TRUE(reported(7));
  settle();
  EXPECT_EQ(actions().size(), 7u);

  EXPECT_FALSE(kit->getLoginViewController(kAppId, {}, "1", std::nullopt));
  EXPECT_TRUE(kit->popLoginWnd(kAppId, {}, "1", std::nullopt));
  auto web = kit->getWebViewController("https://pages.velmora.example/x", "t", {});
  ASSERT_TRUE(web);
  EXPECT_EQ(web->requestURLStr(), "https://pages.velmora.example/x");
  EXPECT_FALSE(kit->webViewKit()->window());
}

TEST_F(PickerReportsTest, PickerScreenHasItsPartsAndReportsEachChoice) {
  auto app = os::Application::shared();
  ASSERT_TRUE(kit->popSetHeadImageViewWnd(uploader, picture(640, 480), "face", std::nullopt));
  auto picker = kit->shownPicker();
  picker->view();  // loaded with the window
  ASSERT_TRUE(picker->activityView());
  EXPECT_TRUE(picker->activityView()->isAnimating());  // until the picture arrives
  EXPECT_EQ(picker->activityView()->style(), os::ActivityIndicatorViewStyle::WhiteLarge);
  EXPECT_EQ(picker->activityView()->center().y, 240);
  EXPECT_TRUE(app->isStatusBarHidden());
  advance(0.01);
  EXPECT_FALSE(picker->activityView());

  EXPECT_EQ(picker->hintLabel()->text(), "移动和缩放");
  EXPECT_EQ(picker->hintLabel()->font().pointSize(), 14);
  EXPECT_TRUE(picker->qqImage());
  EXPECT_EQ(picker->toolbar()->frame().size.height, 55);
  EXPECT_EQ(picker->toolbar()->barStyle(), os::BarStyle::BlackTranslucent);
  EXPECT_EQ(picker->destRectView()->frame().size, (os::Size{320, 320}));
  picker->destRectView()->display();
  const auto strokes = picker->destRectView()->lastDrawing()->operations(os::DrawOp::Kind::StrokeRect);
  ASSERT_EQ(strokes.size(), 1u);
  EXPECT_EQ(strokes[0].rect, (os::Rect{0, 0, 320, 320}));
  EXPECT_EQ(strokes[0].state.strokeColor, os::Color::white());
  EXPECT_EQ(strokes[0].state.lineWidth, 1);

  os::TouchDriver::dragScrollView(*picker->scrollView(), os::Point{-30, -20});
  ASSERT_TRUE(reported(2));
  EXPECT_EQ(arrived(), (std::vector<std::string>{"10653", "10654"}));

  // Chosen three seconds after it appeared; offline: the network notice and "重试".
  reachability->setDefaultFlags(0);
  advance(3);
  picker->selectBtnClick();
  advance(0.01);
  EXPECT_EQ(picker->selectBtn()->titleForState(os::kControlStateNormal), "重试");
  EXPECT_EQ(picker->notify()->text(), "网络有问题，检查一下网络再重试:)");
  EXPECT_EQ(uploader->uploads, 0);
  ASSERT_TRUE(reported(3));
  EXPECT_EQ(lastReportOf("10655").elapsed, "3");

  // Online again: the retry uploads and the indicator turns until the answer.
  reachability->setDefaultFlags(os::kReachabilityFlagsReachable);
  picker->selectBtnClick();
  advance(0.01);
  EXPECT_EQ(uploader->uploads, 1);
  ASSERT_TRUE(picker->activityView());
  EXPECT_TRUE(picker->activityView()->isAnimating());
  EXPECT_TRUE(picker->setViewControllerResponse(answer(1, 0)));  // transport failed, whatever "ret" says
  EXPECT_FALSE(picker->activityView());
  EXPECT_EQ(picker->notify()->text(), "设置出错了，请重新登录再尝试下呢:)");
  EXPECT_TRUE(picker->setViewControllerResponse(answer(0, 0)));
  EXPECT_EQ(picker->notify()->text(), "设置成功");
  ASSERT_TRUE(reported(6));
  EXPECT_EQ(arrived(3), (std::vector<std::string>{"10657", "10658", "10660"}));

  // Back from the background after the answer: one choice, one upload.
  os::NotificationCenter::defaultCenter().post(os::kApplicationDidBecomeActiveNotification);
  advance(0.01);
  EXPECT_EQ(uploader->uploads, 1);

  // Back from the background with an upload handed over and not yet answered: chosen again.
  picker->selectBtnClick();
  advance(0.01);
  EXPECT_EQ(uploader->uploads, 2);
  os::NotificationCenter::defaultCenter().post(os::kApplicationDidBecomeActiveNotification);
  advance(0.01);
  EXPECT_EQ(uploader->uploads, 3);

  advance(1.96);
  picker->cancelBtnClick();
  EXPECT_EQ(uploader->cancelled, std::vector<std::int32_t>{7});
  // The cancel's report may overtake the one of the choice made on return.
  ASSERT_TRUE(reported(9));
  EXPECT_EQ(lastReportOf("10656").elapsed, "5");

  picker->viewWillDisappear(false);
  EXPECT_FALSE(app->isStatusBarHidden());
}

// The framed square is cut whole from pictures smaller and larger than the 320-point frame: a
// small picture is enlarged until its shorter side fills the frame.
TEST_F(PickerReportsTest, TheChosenSquareIsSquareWhateverThePictureSize) {
  reachability->setDefaultFlags(os::kReachabilityFlagsReachable);
  struct Case {
    int w, h;
    double zoom;
    double side;
  };
  for (const Case& c : {Case{200, 150, 320.0 / 150, 149}, Case{150, 200, 320.0 / 150, 149},
                        Case{640, 480, 320.0 / 480, 477}, Case{2048, 1536, 320.0 / 1536, 640}}) {
    SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h));
    ASSERT_TRUE(kit->popSetHeadImageViewWnd(uploader, picture(c.w, c.h), "face", std::nullopt));
    auto picker = kit->shownPicker();
    picker->view();
    advance(0.01);
    EXPECT_NEAR(picker->scrollView()->zoomScale(), c.zoom, 1e-9);
    const int before = uploader->uploads;
    picker->selectBtnClick();
    advance(0.01);
    ASSERT_EQ(uploader->uploads, before + 1);
    ASSERT_TRUE(uploader->last);
    EXPECT_EQ(uploader->last->size(), (os::Size{c.side, c.side}));
    kit->doClose();
    settle();
  }
}

// The picture follows its own picker, whichever picker is shown when it comes.
TEST_F(PickerReportsTest, ThePictureReachesThePickerItWasGivenFor) {
  auto inWindow = picture(64, 64), handedOut = picture(32, 32);
  ASSERT_TRUE(kit->popSetHeadImageViewWnd(uploader, inWindow, "face", "窗口"));
  auto windowPicker = kit->shownPicker();
  ASSERT_TRUE(windowPicker);
  advance(0.01);
  ASSERT_EQ(windowPicker->image(), inWindow);

  // Handed out while the window is still up.
  auto handed = kit->getHeadImageViewController(uploader, handedOut, "", "递交");
  ASSERT_TRUE(handed);
  advance(0.1);
  EXPECT_EQ(handed->image(), handedOut);
  EXPECT_EQ(handed->nick(), "递交");
  EXPECT_EQ(windowPicker->image(), inWindow);
  EXPECT_EQ(windowPicker->nick(), "窗口");
}

}  // namespace
}  // namespace qctest
