#include <gtest/gtest.h>

#include "os/core/Log.h"
#include "os/store/FileManager.h"
#include "os/store/PropertyList.h"
#include "os/testing/TestSandbox.h"
#include "push/model/DUVPushConfig.h"

namespace {

class DUVPushConfigTest : public ::testing::Test {
 protected:
  bool load(const os::Dictionary& config) {
    std::string path = sandbox_.root() + "/PushConfig.plist";
    os::PropertyList::writeFile(os::Value(config), path, os::PropertyListFormat::XML);
    return config_.loadWithUrl(path);
  }
  int profile(const std::string& text) {
    std::string path = sandbox_.root() + "/embedded.mobileprovision";
    os::FileManager::defaultManager().writeData(os::dataFromString(text), path);
    return DUVApsEnvironmentOfProfile(path);
  }
  bool logged(const std::string& part) const {
    for (const auto& line : lines_)
      if (line.find(part) != std::string::npos) return true;
    return false;
  }

  os::TestSandbox sandbox_;
  DUVPushConfig config_;
  std::vector<std::string> lines_;
  std::function<void(std::string_view)> previous_ =
      os::setLogSink([this](std::string_view line) { lines_.emplace_back(line); });
  void TearDown() override { os::setLogSink(previous_); }
};

TEST_F(DUVPushConfigTest, KeyAndChannel) {
  ASSERT_TRUE(load({{"APP_KEY", os::Value("AbC123")}, {"CHANNEL", os::Value(7)}}));
  EXPECT_EQ(config_.applicationKey(), "abc123");
  EXPECT_EQ(config_.pushChanel(), "\x10");
  EXPECT_EQ(config_.configApsEnvironment(), 0);
  EXPECT_TRUE(logged("Unkown value for APS_FOR_PRODUCTION"));

  EXPECT_FALSE(load({{"APP_KEY", os::Value("abc-123")}}));
  EXPECT_TRUE(logged("ZUrarLog ERROR: ZUrar ERROR\n“abc-123”不是合法的APP_KEY"));
  EXPECT_FALSE(load({{"APP_KEY", os::Value("")}}));
  EXPECT_TRUE(logged("APP_KEY不能为空"));
  EXPECT_FALSE(load({{"CHANNEL", os::Value("c")}}));
  EXPECT_FALSE(config_.loadWithUrl(std::nullopt));
  EXPECT_TRUE(logged("配置文件不存在"));
  EXPECT_FALSE(config_.loadWithUrl(sandbox_.root() + "/missing.plist"));
  EXPECT_TRUE(logged("配置文件错误"));
}

TEST_F(DUVPushConfigTest, ProductionTableAndProfile) {
  auto environment = [&](os::Value value) {
    load({{"APP_KEY", os::Value("k")}, {"CHANNEL", os::Value("store")}, {"APS_FOR_PRODUCTION", value}});
    return config_.configApsEnvironment();
  };
  EXPECT_EQ(environment(os::Value("1")), 2);
  EXPECT_EQ(environment(os::Value("0")), 1);
  EXPECT_EQ(environment(os::Value("1 ")), 0);
  EXPECT_TRUE(logged("Unkown string value for APS_FOR_PRODUCTION 1 "));
  EXPECT_EQ(environment(os::Value(true)), 2);
  EXPECT_EQ(environment(os::Value(0)), 1);
  EXPECT_EQ(config_.pushChanel(), "store");

  EXPECT_EQ(profile("<key>aps-environment</key>\n<string>production</string>"), 2);
  EXPECT_EQ(profile("<key>APS-Environment</key><string>DevelopMent</string>"), 1);
  EXPECT_EQ(profile("<key>get-task-allow</key>"), -3);
  EXPECT_EQ(profile("<key>aps-environment</key><string>staging</string>"), -4);
  EXPECT_EQ(DUVApsEnvironmentOfProfile(std::nullopt), -1);
  EXPECT_EQ(DUVApsEnvironmentOfProfile(sandbox_.root() + "/none"), -2);
}

}  // namespace
