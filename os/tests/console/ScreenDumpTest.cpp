#include <gtest/gtest.h>

#include "os/graphics/Image.h"
#include "os/console/ScreenDump.h"
#include "os/views/Button.h"
#include "os/views/ImageView.h"
#include "os/views/Label.h"
#include "os/views/SearchBar.h"
#include "os/views/Switch.h"
#include "os/tests/views/ViewsTestSupport.h"

namespace os::test {
namespace {

using ScreenDumpTest = ScreenTest;

std::shared_ptr<Image> namedImage(const std::string& name) {
  auto img = Image::create(Bitmap(4, 2), 2);
  img->setName(name);
  return img;
}

TEST_F(ScreenDumpTest, ShowsTheVisibleTreeWithTextsAndImages) {
  auto root = makeView<View>(Rect(0, 20, 320, 548));
  window->addSubview(root);
  auto label = makeView<Label>(Rect(10, 10, 100, 20.5));
  label->setText("say \"hi\"\nnow");
  root->addSubview(label);
  auto button = makeView<Button>(Rect(10, 40, 80, 30));
  button->setTitle("升级", kControlStateNormal);
  button->setImage(namedImage("navbar-back"), kControlStateNormal);
  button->setSelected(true);
  button->setTag(3);
  root->addSubview(button);
  auto image = makeView<ImageView>(Rect(0, 0, 2, 1));
  image->setImage(namedImage("logo_placeholder"));
  root->addSubview(image);
  auto hidden = makeView<Label>(Rect(0, 0, 10, 10));
  hidden->setText("secret");
  hidden->setHidden(true);
  root->addSubview(hidden);
  auto faded = makeView<View>(Rect(0, 0, 10, 10));
  faded->setAlpha(0);
  faded->addSubview(makeView<Label>(Rect(0, 0, 1, 1)));
  root->addSubview(faded);

  EXPECT_EQ(dumpScreen(),
            "Window (0, 0, 320, 568)\n"
            "  View (0, 20, 320, 548)\n"
            "    Label (10, 10, 100, 20.5) text=\"say \\\"hi\\\"\\nnow\"\n"
            "    Button (10, 40, 80, 30) title=\"升级\" image=navbar-back selected tag=3\n"
            "    ImageView (0, 0, 2, 1) image=logo_placeholder\n");
}

TEST_F(ScreenDumpTest, AlertsPrintAboveTheWindowTheyCover) {
  auto alert = std::make_shared<AlertView>("反馈成功", "", std::weak_ptr<AlertViewDelegate>(), "确定");
  alert->show();
  std::string dump = dumpScreen();
  auto windowAt = dump.find("Window (0, 0, 320, 568)\n");
  auto alertAt = dump.find("AlertView");
  ASSERT_NE(alertAt, std::string::npos);
  EXPECT_LT(windowAt, alertAt);
  EXPECT_NE(dump.find("title=\"反馈成功\""), std::string::npos);
  EXPECT_NE(dump.find("Button (12, "), std::string::npos);
  EXPECT_NE(dump.find("title=\"确定\" tag=1"), std::string::npos);
}

TEST_F(ScreenDumpTest, ControlsDescribeTheirState) {
  auto sw = makeView<Switch>(Rect(0, 0, 0, 0));
  auto search = makeView<SearchBar>(Rect(0, 50, 320, 44));
  search->setPlaceholder("搜索");
  window->addSubview(sw);
  window->addSubview(search);
  std::string dump = dumpView(*window);
  EXPECT_NE(dump.find("  Switch (0, 0, 79, 27) off\n"), std::string::npos);
  EXPECT_NE(dump.find("  SearchBar (0, 50, 320, 44) placeholder=\"搜索\"\n"), std::string::npos);
  EXPECT_NE(dump.find("    TextField (8, 7, 304, 30) placeholder=\"搜索\"\n"), std::string::npos);
}

}  // namespace
}  // namespace os::test
