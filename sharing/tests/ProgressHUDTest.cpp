// The sharing component's edition of the progress panel: its own class name and an opaque black
// panel, whatever colour or opacity it is given; the widgets' own edition takes both.
#include <gtest/gtest.h>

#include "os/graphics/RecordingContext.h"
#include "os/views/View.h"
#include "sharing/tests/SharingFixture.h"
#include "sharing/widgets/OBSocialKHProgressHUD.h"

namespace {

using ProgressHUDTest = SharingFixture;

// The colour the panel was filled with, drawn into a recording context.
std::optional<os::Color> panelFill(KHProgressHUD& hud) {
  auto context = std::make_shared<os::RecordingContext>();
  os::pushGraphicsContext(context);
  hud.layoutSubviews();
  hud.drawRect(hud.bounds());
  os::popGraphicsContext();
  auto fills = context->operations(os::DrawOp::Kind::FillPath);
  if (fills.empty()) return std::nullopt;
  return fills.back().state.fillColor;
}

TEST_F(ProgressHUDTest, SharingEditionPaintsAnOpaqueBlackPanel) {
  os::View host(os::Rect(0, 0, 320, 480));
  auto sharing = OBSocialKHProgressHUD::initWithView(host);
  EXPECT_EQ(sharing->className(), "OBSocialKHProgressHUD");
  sharing->setColor(os::Color::rgba(1, 0, 0, 1));
  sharing->setOpacity(0.2f);
  EXPECT_EQ(panelFill(*sharing), os::Color::black());

  auto widgets = KHProgressHUD::initWithView(host);
  EXPECT_EQ(widgets->className(), "KHProgressHUD");
  widgets->setColor(os::Color::rgba(1, 0, 0, 1));
  EXPECT_EQ(panelFill(*widgets), os::Color::rgba(1, 0, 0, 1));
}

}  // namespace
