// The head picture: the size check, the picker's crop, nick and upload to the loopback server.
#include <gtest/gtest.h>

#include "QQConnectTestSupport.h"
#include "qqconnect/web/SetHeadImageViewController.h"
#include "qqconnect/web/UINotifyView.h"
#include "os/graphics/Image.h"
#include "os/testing/HttpTestServer.h"
#include "os/views/Button.h"
#include "os/views/Window.h"

namespace qctest {
namespace {

struct HeadRecorder : Recorder {
  std::vector<std::shared_ptr<APIResponse>> answers;
  void setUserHeadpicResponse(const Response& r) override { answers.push_back(r); }
};

std::shared_ptr<os::Image> picture(int w, int h, double scale = 1) { return os::Image::create(os::Bitmap(w, h), scale); }

TEST(SetHeadImageViewController, NickIsCutOnWholeCharactersAndCropsStayInsideThePicture) {
  using C = SetHeadImageViewController;
  EXPECT_EQ(C::stringByTCOSDKTruncateWithDotAtLimit(24, std::string(30, 'a')), std::string(23, 'a') + "…");
  std::string chinese;
  for (int i = 0; i < 13; ++i) chinese += "兵";
  EXPECT_EQ(C::stringByTCOSDKTruncateWithDotAtLimit(24, chinese), chinese.substr(0, 11 * 3) + "…");
  EXPECT_EQ(C::stringByTCOSDKTruncateWithDotAtLimit(24, chinese.substr(0, 12 * 3)), chinese.substr(0, 12 * 3));
  EXPECT_EQ(C::stringByTCOSDKTruncateWithDotAtLimit(24, std::string(24, 'a')), std::string(24, 'a'));
  const std::string emoji = std::string(22, 'a') + "😀😀";
  EXPECT_EQ(C::stringByTCOSDKTruncateWithDotAtLimit(24, emoji), std::string(22, 'a') + "…");

  auto piece = C::getSubImage(*picture(640, 480), os::Rect{600, 400, 477, 477});
  ASSERT_TRUE(piece);
  EXPECT_EQ(piece->size(), (os::Size{40, 80}));
  EXPECT_FALSE(C::getSubImage(*picture(64, 48), os::Rect{100, 100, 10, 10}));
  EXPECT_EQ(C::ajustDisplaySize({640, 480}), (os::Size{320 * 640.0 / 480, 320}));
}

class HeadPictureTest : public QQConnectTest {
 protected:
  void SetUp() override {
    QQConnectTest::SetUp();
    session = loggedInSession(server, delegate);
    server.route("GET", "/user/get_user_info", os::testing::CannedResponse::text("{\"ret\":0,\"nickname\":\"老兵\"}"));
  }
  void TearDown() override {
    session.reset();
    settle();
    QQConnectTest::TearDown();
  }
  os::testing::HttpTestServer server;
  std::shared_ptr<HeadRecorder> delegate = std::make_shared<HeadRecorder>();
  std::shared_ptr<VelmoraOAuth> session;
};

TEST_F(HeadPictureTest, LargestAcceptedPictureOpensThePickerAndItsChoiceIsUploaded) {
  ASSERT_TRUE(session->setUserHeadpic(picture(3265, 2448), "me.png"));
  ASSERT_EQ(delegate->answers.size(), 1u);
  EXPECT_EQ(delegate->answers[0]->detailRetCode(), 65536);
  EXPECT_FALSE(session->tcUiKit());

  ASSERT_TRUE(session->setUserHeadpic(picture(816, 612, 0.25), ""));  // 3264 × 2448 points
  auto picker = session->tcUiKit()->shownPicker();
  ASSERT_TRUE(picker);
  EXPECT_EQ(session->tcUiKit()->window(), os::Window::keyWindow());
  // Asked again while the picker is up: the call is taken, the picker shown stays.
  EXPECT_TRUE(session->setUserHeadpic(picture(64, 64), "other.png"));
  EXPECT_EQ(session->tcUiKit()->shownPicker(), picker);
  os::Clock::advance(0.01);  // the picture reaches the picker on the coordinator's timer
  settle();
  ASSERT_TRUE(picker->image());
  EXPECT_EQ(picker->image()->size(), (os::Size{2048, 1536}));  // reduced for display
  ASSERT_TRUE(run([&] { return picker->nick() == "老兵"; }));  // fetched for the screen, not the delegate
  EXPECT_TRUE(delegate->calls.empty());

  server.route("POST", "/user/set_user_face", os::testing::CannedResponse::text("{\"ret\":0}"));
  reachability->setDefaultFlags(os::kReachabilityFlagsReachable);
  picker->selectBtn()->sendActionsForControlEvents(os::kControlEventTouchUpInside);
  os::Clock::advance(0.01);
  ASSERT_TRUE(run([&] { return delegate->answers.size() == 2; }));
  const auto upload = server.requests().back();
  ASSERT_TRUE(upload.part("picture"));
  EXPECT_EQ(upload.part("picture")->filename, "qqPic");
  EXPECT_EQ(picker->notify()->text(), "设置成功");

  session->didCancelled(picker->seq());
  os::Clock::advance(0.1);
  settle();
  EXPECT_FALSE(session->tcUiKit()->window());
}

}  // namespace
}  // namespace qctest
