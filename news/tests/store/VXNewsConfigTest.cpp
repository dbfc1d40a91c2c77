#include "news/store/VXNewsConfig.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "news/api/VXGlobalHelper.h"
#include "news/tests/support/ReaderFixture.h"
#include "os/store/UserDefaults.h"
#include "os/testing/TestSandbox.h"

namespace {

using NewsConfig = newstest::RealTimeFixture;

TEST_F(NewsConfig, FirstStartIsMediumAndStoresIt) {
  VXNewsConfig config;
  EXPECT_EQ(config.fontSize(), 2);
  EXPECT_EQ(config.detailBodyFont(), os::Font::systemFont(18));
  EXPECT_EQ(config.detailTitleFont(), os::Font::boldSystemFont(20));
  EXPECT_EQ(config.textWihtFontSize(), "中");
  EXPECT_EQ(defaults()->objectForKey("kFontSize"), os::Value(2));
  EXPECT_EQ(config.cellTitleFont(), os::Font::boldSystemFont(18));
  EXPECT_EQ(config.titleColor().redByte(), 69);
  EXPECT_EQ(config.cellTitleRInterval2(), 110);
}

TEST_F(NewsConfig, TheStepSurvivesARestart) {
  VXNewsConfig::share()->setFontSize(3);
  VXNewsConfig::setShared(nullptr);
  auto again = VXNewsConfig::share();
  EXPECT_EQ(again->fontSize(), 3);
  EXPECT_EQ(again->detailTitleFont(), os::Font::boldSystemFont(22));
  EXPECT_EQ(again->detailBodyFont(), os::Font::systemFont(21));
  EXPECT_EQ(again->textWihtFontSize(), "大");

  again->setFontSize(1);
  EXPECT_EQ(VXNewsConfig().detailBodyFont(), os::Font::systemFont(15));
}

TEST_F(NewsConfig, AStoredStepOutsideTheRangeStartsAsMediumWithFonts) {
  for (os::Value stored : {os::Value(4), os::Value(-1), os::Value(99999999999LL), os::Value("big")}) {
    defaults()->setObject(stored, "kFontSize");
    VXNewsConfig config;
    EXPECT_EQ(config.fontSize(), 2) << stored.description();
    EXPECT_EQ(config.detailBodyFont(), os::Font::systemFont(18));
    EXPECT_EQ(defaults()->integerForKey("kFontSize"), 2);
  }
}

TEST_F(NewsConfig, StepZeroIsRefusedAndTheSameStepWritesNothing) {
  VXNewsConfig config;
  const std::string logBefore = VXGlobalHelper::readLog().value_or("");
  config.setFontSize(0);
  // The line goes to the application's log file.
  EXPECT_EQ(VXGlobalHelper::readLog().value_or(""), logBefore + "font size is wrong\n");
  EXPECT_EQ(config.fontSize(), 2);

  defaults()->removeObjectForKey("kFontSize");
  config.setFontSize(2);
  EXPECT_FALSE(defaults()->objectForKey("kFontSize"));
}

TEST_F(NewsConfig, AnUnknownStepIsStoredButKeepsThePreviousFonts) {
  VXNewsConfig config;
  config.setFontSize(1);
  config.setFontSize(4);
  EXPECT_EQ(config.fontSize(), 4);
  EXPECT_EQ(defaults()->integerForKey("kFontSize"), 4);
  EXPECT_EQ(config.detailBodyFont(), os::Font::systemFont(15));
  EXPECT_EQ(config.textWihtFontSize(), "");
}

}  // namespace
