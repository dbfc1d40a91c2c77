#include <gtest/gtest.h>

#include "os/core/Error.h"
#include "os/views/AlertView.h"
#include "os/views/Button.h"
#include "os/views/TextField.h"
#include "ViewsTestSupport.h"

namespace os::test {
namespace {

struct AlertTrace : AlertViewDelegate, ActionSheetDelegate {
  using ActionSheetDelegate::didDismissWithButtonIndex;
  using ActionSheetDelegate::willDismissWithButtonIndex;
  Trace trace;
  bool dismissInClick = false;
  void clickedButtonAtIndex(AlertView& a, long i) override {
    trace.add("clicked " + std::to_string(i));
    if (dismissInClick) a.dismissWithClickedButtonIndex(i, false);
  }
  void willPresentAlertView(AlertView&) override { trace.add("willPresent"); }
  void didPresentAlertView(AlertView&) override { trace.add("didPresent"); }
  void willDismissWithButtonIndex(AlertView&, long i) override { trace.add("willDismiss " + std::to_string(i)); }
  void didDismissWithButtonIndex(AlertView&, long i) override { trace.add("didDismiss " + std::to_string(i)); }

  void clickedButtonAtIndex(ActionSheet&, long i) override { trace.add("sheet clicked " + std::to_string(i)); }
  void willPresentActionSheet(ActionSheet& sheet) override {
    // Buttons exist (tagged index + 1) before the sheet shows, so they can be restyled.
    for (auto& v : sheet.subviews()) {
      if (auto b = std::dynamic_pointer_cast<Button>(v); b && b->tag() == 2) b->setTitleColor(Color::red(), kControlStateNormal);
    }
  }
};

using AlertViewTest = ScreenTest;

TEST_F(AlertViewTest, CancelIsIndexZeroAndTheChosenIndexReachesTheDelegate) {
  auto d = std::make_shared<AlertTrace>();
  auto alert = std::make_shared<AlertView>("要闻推送", "headline", d, "忽略", std::vector<std::string>{"点击查看"});
  EXPECT_EQ(alert->cancelButtonIndex(), 0);
  EXPECT_EQ(alert->firstOtherButtonIndex(), 1);
  EXPECT_EQ(alert->numberOfButtons(), 2);
  EXPECT_EQ(alert->buttonTitleAtIndex(1), "点击查看");
  EXPECT_THROW(alert->buttonTitleAtIndex(2), Exception);
  alert->show();
  EXPECT_TRUE(alert->isVisible());
  ASSERT_EQ(AlertView::visibleAlertViews().size(), 1u);
  TouchDriver::settle();
  EXPECT_TRUE(TouchDriver::pressAlertButton("点击查看"));
  EXPECT_EQ(d->trace.events, (std::vector<std::string>{"willPresent", "didPresent", "clicked 1", "willDismiss 1", "didDismiss 1"}));
  EXPECT_TRUE(AlertView::visibleAlertViews().empty());
  EXPECT_FALSE(alert->isVisible());
  EXPECT_FALSE(TouchDriver::pressAlertButton(0));
}

TEST_F(AlertViewTest, DismissingFromTheClickHandlerDismissesOnce) {
  auto d = std::make_shared<AlertTrace>();
  d->dismissInClick = true;
  auto alert = std::make_shared<AlertView>("", "message only", d, "OK");
  alert->show();
  TouchDriver::pressAlertButton(0);
  EXPECT_EQ(std::count(d->trace.events.begin(), d->trace.events.end(), "didDismiss 0"), 1);
  EXPECT_EQ(std::count(d->trace.events.begin(), d->trace.events.end(), "willDismiss 0"), 1);
}

TEST_F(AlertViewTest, InputStylesBringTheirTextFields) {
  auto alert = std::make_shared<AlertView>("Login", "", std::weak_ptr<AlertViewDelegate>(), "Cancel", std::vector<std::string>{"OK"});
  alert->setAlertViewStyle(AlertViewStyle::LoginAndPasswordInput);
  EXPECT_FALSE(alert->textFieldAtIndex(0)->isSecureTextEntry());
  EXPECT_TRUE(alert->textFieldAtIndex(1)->isSecureTextEntry());
  EXPECT_THROW(alert->textFieldAtIndex(2), Exception);
  alert->show();
  TouchDriver::typeText(*alert->textFieldAtIndex(0), "reader");
  EXPECT_EQ(alert->textFieldAtIndex(0)->text(), "reader");
  TouchDriver::pressAlertButton("OK");
  EXPECT_FALSE(alert->textFieldAtIndex(0)->isFirstResponder());
}

TEST_F(AlertViewTest, ActionSheetNumbersDestructiveFirstAndCancelLast) {
  auto d = std::make_shared<AlertTrace>();
  auto sheet = std::make_shared<ActionSheet>("设置字体大小", d, "取消", std::nullopt, std::vector<std::string>{"小", "中", "大"});
  EXPECT_EQ(sheet->cancelButtonIndex(), 3);
  EXPECT_EQ(sheet->firstOtherButtonIndex(), 0);
  EXPECT_EQ(sheet->destructiveButtonIndex(), -1);
  auto withDestructive = std::make_shared<ActionSheet>("", d, "Cancel", "Delete", std::vector<std::string>{"Keep"});
  EXPECT_EQ(withDestructive->destructiveButtonIndex(), 0);
  EXPECT_EQ(withDestructive->firstOtherButtonIndex(), 1);
  EXPECT_EQ(withDestructive->cancelButtonIndex(), 2);

  sheet->showInView(*window);
  EXPECT_EQ(sheet->buttonAtIndex(1)->currentTitleColor(), Color::red());  // tag 2 is "中"
  ASSERT_EQ(ActionSheet::visibleActionSheets().size(), 1u);
  TouchDriver::pressAlertButton("中");
  EXPECT_EQ(d->trace.events, std::vector<std::string>{"sheet clicked 1"});
  EXPECT_TRUE(ActionSheet::visibleActionSheets().empty());
}

}  // namespace
}  // namespace os::test
