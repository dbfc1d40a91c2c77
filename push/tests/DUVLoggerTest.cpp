#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "os/core/Log.h"
#include "os/testing/LogCapture.h"
#include "push/utilities/DUVLogger.h"

namespace {

TEST(DUVLogger, LevelsOrderAndLookups) {
  EXPECT_EQ(DUVLevel::levelWithName("warn"), &DUVLevel::warn());
  EXPECT_EQ(DUVLevel::levelWithName("INTERNAL"), nullptr);
  EXPECT_EQ(DUVLevel::levelWithName("chatty"), &DUVLevel::info());
  EXPECT_EQ(DUVLevel::levelWithName(std::nullopt), &DUVLevel::info());
  EXPECT_EQ(&DUVLevel::levelWithInt(40), &DUVLevel::info());
  EXPECT_EQ(&DUVLevel::levelWithInt(41), &DUVLevel::info());
  EXPECT_EQ(&DUVLevel::levelWithInt(110), &DUVLevel::error());
  // WARN ranks below INFO; ERROR and FORCE above OFF.
  EXPECT_FALSE(DUVLevel::warn().isGreaterOrEqual(DUVLevel::info()));
  EXPECT_TRUE(DUVLevel::force().isGreaterOrEqual(DUVLevel::off()));
}

TEST(DUVLogger, PrefixesThresholdsAndSwitches) {
  os::testing::LogCapture log;
  auto registry = DUVLoggerController::create(DUVLevel::info());
  auto early = registry->loggerForClass({"NSObject", "DUVSession"});
  early->log(DUVLevel::warn(), "dropped");
  early->log(DUVLevel::error(), "shown");
  early->log(DUVLevel::force(), "banner");
  early->log(DUVLevel::test(), "never");
  early->logMessage("internal", std::nullopt, DUVLevel::internal());
  early->logMessage(std::nullopt, "only internal", &DUVLevel::error());

  registry->setLevel(DUVLevel::off());
  auto quiet = registry->loggerForClass({"NSObject", "DUVTcpSocket"});
  quiet->log(DUVLevel::info(), "silenced");
  quiet->log(DUVLevel::force(), "still forced");
  quiet->log(DUVLevel::error(), "still an error");

  registry->setLevel(DUVLevel::debug());
  early->log(DUVLevel::debug(), "early logger keeps INFO");
  registry->loggerForClass({"NSObject", "DUVUdpSocket"})->log(DUVLevel::debug(), "debugging");

  EXPECT_EQ(log.lines(), (std::vector<std::string>{"ZUrarLog ERROR: shown", "ZUrarLog: banner", "ZUrarLog: still forced",
                                                 "ZUrarLog ERROR: still an error", "ZUrarLog DEBUG: debugging"}));
  // The same class always gets the same logger.
  EXPECT_EQ(registry->loggerForClass({"NSObject", "DUVSession"}), early);
}

TEST(DUVLogger, SuperclassLoggerTakesOverThePlaceholderAndAnExplicitLimitApplies) {
  os::testing::LogCapture log;
  auto registry = DUVLoggerController::create(DUVLevel::info());
  auto child = registry->loggerForClass({"NSObject", "DUVBase", "DUVChild"});
  EXPECT_EQ(child->parent(), registry->rootLogger());
  auto base = registry->loggerForClass({"NSObject", "DUVBase"});
  EXPECT_EQ(base->level(), nullptr);
  EXPECT_EQ(child->parent(), base);
  EXPECT_EQ(base->parent(), registry->rootLogger());
  EXPECT_EQ(base->effectiveLevel(), &DUVLevel::info());
  base->log(DUVLevel::debug(), "no level of its own");

  // A fresh registry disables nothing; a limit that is set is honoured.
  EXPECT_FALSE(registry->isDisabled(0));
  registry->setLimitedLevelName("ERROR");
  base->log(DUVLevel::debug(), "below the limit");
  EXPECT_FALSE(base->isDebugEnabled());
  EXPECT_EQ(log.lines(), (std::vector<std::string>{"ZUrarLog DEBUG: no level of its own"}));
}

TEST(DUVLogger, SecondStartKeepsTheFirstLevel) {
  auto first = DUVLoggerController::startLoggerWithLevel(DUVLevel::info());
  auto second = DUVLoggerController::startLoggerWithLevel(DUVLevel::debug());
  EXPECT_EQ(first, second);
  EXPECT_EQ(second->rootLogger()->level(), &DUVLevel::info());
}

}  // namespace
