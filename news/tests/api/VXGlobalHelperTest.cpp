#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "foundation/http/TLHTTPRequestOperation.h"
#include "news/api/NQProxy.h"
#include "news/api/VXAdListRequest.h"
#include "news/api/VXAppActiveRequest.h"
#include "news/api/VXGlobalHelper.h"
#include "news/tests/support/ReaderFixture.h"
#include "os/console/TouchDriver.h"
#include "os/core/String.h"
#include "os/runtime/Clock.h"
#include "os/store/FileManager.h"
#include "os/testing/CutShortWrite.h"
#include "os/testing/FullDisk.h"
#include "os/testing/HttpTestServer.h"
#include "os/views/View.h"
#include "ui/widgets/KHProgressHUD.h"

namespace {

std::string logText() { return VXGlobalHelper::readLog().value_or("<unreadable>"); }

using VXGlobalHelperEnvelope = newstest::RealTimeFixture;

TEST_F(VXGlobalHelperEnvelope, AFailureResultIsStillTheCallersToJudge) {
  auto data = VXGlobalHelper::praseRespString(R"({"errorcode": 0, "opcode": 1070, "data": {"result": 2}})");
  ASSERT_TRUE(data);
  EXPECT_EQ((*data)["result"].intValue(), 2);
  EXPECT_EQ(logText(), "");
}

TEST_F(VXGlobalHelperEnvelope, NegativeErrorCodeGivesNothingEvenWithData) {
  EXPECT_FALSE(VXGlobalHelper::praseRespString(R"({"errorcode": -1, "opcode": 1010, "data": {"result": 1}})"));
  EXPECT_TRUE(os::hasPrefix(logText(), "errorcode is -1 and opcode is 1010 and respdict is ")) << logText();
}

TEST_F(VXGlobalHelperEnvelope, MissingResultGivesNothingAndTheLogLine) {
  EXPECT_FALSE(VXGlobalHelper::praseRespString(R"({"errorcode": 0, "opcode": 1030, "data": {"diggcount": 4}})"));
  EXPECT_TRUE(os::hasPrefix(logText(), "data is nil and opcode is 1030 and respdict is ")) << logText();
}

TEST_F(VXGlobalHelperEnvelope, EachUnusableAnswerSaysWhyInTheLog) {
  EXPECT_FALSE(VXGlobalHelper::praseRespString(std::nullopt));
  EXPECT_FALSE(VXGlobalHelper::praseRespString(""));
  EXPECT_FALSE(VXGlobalHelper::praseRespString("<html>busy</html>"));
  EXPECT_EQ(logText(), "resp is nil\nresp is nil\nrespDict is nil\n");
}

TEST_F(VXGlobalHelperEnvelope, MembersOfTheWrongTypeCountAsAbsent) {
  // Top level an array, "data" an array or a string, "result" null: no data, no crash.
  EXPECT_FALSE(VXGlobalHelper::praseRespString(R"([{"data": {"result": 1}}])"));
  EXPECT_FALSE(VXGlobalHelper::praseRespString(R"({"errorcode": 0, "data": [{"result": 1}]})"));
  EXPECT_FALSE(VXGlobalHelper::praseRespString(R"({"errorcode": 0, "data": "result"})"));
  EXPECT_FALSE(VXGlobalHelper::praseRespString(R"({"errorcode": 0, "data": {"result": null}})"));
  // A non-numeric error code is no error code: the answer is judged by its data.
  auto data = VXGlobalHelper::praseRespString(R"({"errorcode": "-9", "opcode": [1], "data": {"result": 1}})");
  ASSERT_TRUE(data);
  EXPECT_EQ((*data)["result"].intValue(), 1);
  // Bad UTF-8 inside a string is repaired rather than losing the answer.
  auto repaired = VXGlobalHelper::praseRespString("{\"errorcode\": 0, \"data\": {\"result\": 1, \"t\": \"a\xff\"}}");
  ASSERT_TRUE(repaired);
  EXPECT_EQ((*repaired)["t"].stringOr(), "a\xEF\xBF\xBD");
}

// The status is a number, or a number written as text: a "result" of any other kind is no
// status, and a caller testing "not 2" would read it as a success.
TEST_F(VXGlobalHelperEnvelope, AResultThatIsNoNumberGivesNothing) {
  for (const char* result : {R"("ok")", R"("0abc")", R"("")", R"("-")", "true", "[1]", R"({"result": 1})"}) {
    const std::string answer = std::string(R"({"errorcode": 0, "opcode": 1010, "data": {"newslist": [], "result": )") +
                               result + "}}";
    EXPECT_FALSE(VXGlobalHelper::praseRespString(answer)) << answer;
  }
  EXPECT_TRUE(os::hasPrefix(logText(), "data is nil and opcode is 1010 and respdict is ")) << logText();
  auto fractional = VXGlobalHelper::praseRespString(R"({"errorcode": 0, "data": {"result": 1.0}})");
  ASSERT_TRUE(fractional);
  EXPECT_EQ((*fractional)["result"].intValue(), 1);
  for (const char* text : {R"("1")", R"("2")", R"("-1")"}) {
    auto written = VXGlobalHelper::praseRespString(std::string(R"({"errorcode": 0, "data": {"result": )") + text + "}}");
    ASSERT_TRUE(written) << text;
  }
}

TEST_F(VXGlobalHelperEnvelope, FoldersLiveInTheCaches) {
  std::string caches = VXGlobalHelper::cachesDirectory();
  EXPECT_TRUE(os::hasSuffix(caches, "/Library/Caches/"));
  bool isDirectory = false;
  EXPECT_TRUE(os::FileManager::defaultManager().fileExistsAtPath(VXGlobalHelper::offlineDirectory(), &isDirectory));
  EXPECT_TRUE(isDirectory);
  EXPECT_EQ(VXGlobalHelper::offlineDirectory(), caches + "offline/");
  EXPECT_EQ(VXGlobalHelper::pathLog(), caches + "log.txt");
  EXPECT_TRUE(os::FileManager::defaultManager().fileExistsAtPath(caches + "log.txt"));
}

// The log limit belongs to the runner of the test's own context: nothing to restore.
using VXGlobalHelperLog = newstest::RealTimeFixture;

TEST_F(VXGlobalHelperLog, LinesFromManyThreadsStayWhole) {
  constexpr int kThreads = 6, kLines = 150;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < kLines; ++i) VXGlobalHelper::writeLog(os::format("thread %d line %03d ......", t, i));
    });
  for (auto& th : threads) th.join();
  auto lines = os::split(logText(), "\n");
  ASSERT_EQ(lines.size(), kThreads * kLines + 1u);  // the last piece follows the final "\n"
  EXPECT_EQ(lines.back(), "");
  for (std::size_t i = 0; i + 1 < lines.size(); ++i)
    EXPECT_TRUE(os::hasPrefix(lines[i], "thread ") && os::hasSuffix(lines[i], "......")) << lines[i];
}

TEST_F(VXGlobalHelperLog, TheFileStaysBelowItsLimitKeepingTheNewestLines) {
  VXGlobalHelper::setLogLimit(1000);
  for (int i = 0; i < 500; ++i) VXGlobalHelper::writeLog(os::format("entry %04d", i));
  std::string text = logText();
  EXPECT_LE(text.size(), 1000u);
  EXPECT_TRUE(os::hasSuffix(text, "entry 0499\n"));
  EXPECT_TRUE(os::hasPrefix(text, "entry ")) << "a line was cut: " << text.substr(0, 20);
  EXPECT_EQ(text.find("entry 0000"), std::string::npos);
}

// A rewrite of the log (a trim, an edit) killed part-way leaves its temporary file in the caches
// folder: the next rewrite removes it, and the folder's other files stay.
TEST_F(VXGlobalHelperLog, ARewriteRemovesWhatARewriteCutShortLeft) {
  auto& fm = os::FileManager::defaultManager();
  const std::string log = VXGlobalHelper::pathLog();
  const std::string others = os::testing::plantCutShortWrite(VXGlobalHelper::cachesDirectory() + "crash.m");
  ASSERT_FALSE(others.empty());
  VXGlobalHelper::setLogLimit(1000);
  VXGlobalHelper::writeLog("entry first");

  const std::string trimCutShort = os::testing::plantCutShortWrite(log, 1);
  ASSERT_FALSE(trimCutShort.empty());
  for (int i = 0; i < 100; ++i) VXGlobalHelper::writeLog(os::format("entry %04d", i));
  EXPECT_FALSE(fm.fileExistsAtPath(trimCutShort));
  EXPECT_EQ(logText().find("entry first"), std::string::npos) << "the log was not trimmed";

  const std::string editCutShort = os::testing::plantCutShortWrite(log, 2);
  ASSERT_FALSE(editCutShort.empty());
  VXGlobalHelper::editLog([](const std::string&) { return std::optional<std::string>("kept\n"); });
  EXPECT_FALSE(fm.fileExistsAtPath(editCutShort));
  EXPECT_EQ(logText(), "kept\n");
  EXPECT_TRUE(fm.fileExistsAtPath(others));
}

// A line the full disk takes only part of leaves no half line (nor half a character) for the
// next line to run on from: the log reads as whole lines, and the crash upload can carry it.
TEST_F(VXGlobalHelperLog, ALineTheFullDiskCutsShortLeavesNoHalfLine) {
  auto& fm = os::FileManager::defaultManager();
  VXGlobalHelper::writeLog("before the disk filled");
  const std::uint64_t size = fm.attributesOfItemAtPath(VXGlobalHelper::pathLog())->size;
  {
    // Room for the first two bytes of the line's first character.
    os::testing::FullDisk disk(size + 2);
    VXGlobalHelper::writeLog("数据库写入失败 db failed");
  }
  VXGlobalHelper::writeLog("after room was made");
  EXPECT_EQ(logText(), "before the disk filled\nafter room was made\n");
}

class VXGlobalHelperRunner : public newstest::RealTimeFixture {
 protected:
  os::testing::HttpTestServer http_;
};

TEST_F(VXGlobalHelperRunner, ZeroTimeOutMeansTenSeconds) {
  VXRequestConfig::setServerRoot(http_.url("/"));
  VXAppActiveRequest request(1);
  auto proxy = NQProxy::loadWithRequest(request, 0, nullptr, nullptr);
  ASSERT_TRUE(proxy->oper());
  EXPECT_DOUBLE_EQ(proxy->oper()->request().timeoutInterval(), 10.0);
  auto given = NQProxy::loadWithRequest(request, 3.0, nullptr, nullptr);
  EXPECT_DOUBLE_EQ(given->oper()->request().timeoutInterval(), 3.0);
  EXPECT_FALSE(proxy->isLoading());
  EXPECT_FALSE(proxy->isLoaded());
}

TEST_F(VXGlobalHelperRunner, ParsedRunsDeliverOnTheMainThread) {
  http_.route("POST", "/api/imobile/",
                os::testing::CannedResponse::text(R"({"errorcode":0,"opcode":1000,"data":{"result":1,"pass":1}})"));
  VXRequestConfig::setServerRoot(http_.url("/"));

  VXAppActiveRequest request(1);
  bool called = false, onMain = false;
  std::optional<os::Dictionary> data;
  VXGlobalHelper::loadWithRequest(request, [&](const std::optional<os::Dictionary>& d) {
    called = true;
    onMain = os::RunLoop::isMainThread();
    data = d;
  });
  ASSERT_TRUE(newstest::runUntil([&] { return called; }));
  EXPECT_TRUE(onMain);
  ASSERT_TRUE(data);
  EXPECT_EQ((*data)["pass"].intValue(), 1);
  EXPECT_EQ(http_.requests().at(0).headers.value("Content-Type").value_or("").rfind("application/x-www-form-urlencoded", 0), 0u);
}

TEST_F(VXGlobalHelperRunner, AFailedExchangeCallsOnlyTheFailureClosure) {
  http_.route("POST", "/imkt/mil/", os::testing::CannedResponse::text("gateway trouble", 502));
  VXRequestConfig::setServerRoot(http_.url("/"));
  VXAdListRequest ads;
  int completions = 0, failures = 0;
  bool failedOnMain = false;
  VXGlobalHelper::loadWithRequest(
      ads, 0, [&](const std::optional<os::Dictionary>&) { ++completions; },
      [&] {
        ++failures;
        failedOnMain = os::RunLoop::isMainThread();
      });
  ASSERT_TRUE(newstest::runUntil([&] { return failures > 0; }));
  os::RunLoop::main()->runUntilIdle();
  EXPECT_EQ(completions, 0);
  EXPECT_EQ(failures, 1);
  EXPECT_TRUE(failedOnMain);
}

TEST_F(VXGlobalHelperRunner, PlainRequestsAnswerOnTheMainQueue) {
  http_.route("GET", "/common/", os::testing::CannedResponse::text(R"({"data":{"result":1}})"));
  std::optional<std::string> text;
  bool onMain = false;
  NQProxy::loadCommonRequest(
      os::URLRequest(http_.url("/common/?cmd=verupdate&version=1.0")),
      [&](const std::string& body, os::StringEncoding) {
        onMain = os::RunLoop::isMainThread();
        text = body;
      },
      nullptr);
  ASSERT_TRUE(newstest::runUntil([&] { return text.has_value(); }));
  EXPECT_TRUE(onMain);
  EXPECT_EQ(*text, R"({"data":{"result":1}})");
}

TEST_F(VXGlobalHelperRunner, SynchronousRunWorksOffTheMainThreadAndIsRefusedOnIt) {
  http_.route("POST", "/api/imobile/",
                os::testing::CannedResponse::text(R"({"errorcode":0,"opcode":1000,"data":{"result":1}})"));
  VXRequestConfig::setServerRoot(http_.url("/"));
  VXAppActiveRequest request(2);

  EXPECT_FALSE(VXGlobalHelper::synchWithRequest(request));
  EXPECT_EQ(http_.requestCount(), 0u);

  std::optional<os::Dictionary> data;
  std::thread worker([&] { data = VXGlobalHelper::synchWithRequest(request); });
  worker.join();
  ASSERT_TRUE(data);
  EXPECT_EQ((*data)["result"].intValue(), 1);
  EXPECT_EQ(http_.requestCount(), 1u);
}

}  // namespace

// ---- the shared HUD

namespace {

TEST(VXGlobalHelperHud, OneHudMovesToTheViewThatAskedLastAndHidesItself) {
  os::VirtualClockScope clock;
  auto first = os::makeView<os::View>(os::Rect(0, 0, 320, 480));
  auto second = os::makeView<os::View>(os::Rect(0, 0, 200, 300));
  VXGlobalHelper& helper = VXGlobalHelper::share();

  helper.showHud("网络异常", first, true);
  os::RunLoop::main()->runUntilIdle();
  auto hud = helper.hud();
  ASSERT_TRUE(hud);
  EXPECT_EQ(hud->superview(), first);
  EXPECT_EQ(hud->mode(), KHProgressHUDModeText);
  EXPECT_EQ(hud->detailsLabelText().value_or(""), "网络异常");
  EXPECT_EQ(hud->detailsLabelFont(), os::Font::systemFont(16));
  EXPECT_EQ(hud->alpha(), 1);

  helper.showActivityHud("加载中", second, false);
  os::RunLoop::main()->runUntilIdle();
  EXPECT_EQ(helper.hud(), hud);
  EXPECT_EQ(hud->superview(), second);
  EXPECT_EQ(first->subviews().size(), 0u);
  EXPECT_EQ(hud->mode(), KHProgressHUDModeIndeterminate);
  EXPECT_EQ(hud->frame(), second->bounds());

  // The first message's auto-hide does not take the activity HUD down with it.
  os::TouchDriver::advance(1.5);
  EXPECT_EQ(hud->alpha(), 1);
  helper.hideHud(false);
  os::TouchDriver::advance(0.1);
  EXPECT_EQ(hud->alpha(), 0);

  helper.showHud("已收藏", first, true);
  os::TouchDriver::advance(0.5);
  EXPECT_EQ(hud->alpha(), 1);
  os::TouchDriver::advance(1.0);
  EXPECT_EQ(hud->alpha(), 0);
  hud->removeFromSuperview();
}

}  // namespace
