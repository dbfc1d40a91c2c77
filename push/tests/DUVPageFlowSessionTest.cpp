#include <gtest/gtest.h>

#include "os/runtime/Clock.h"
#include "os/testing/TestSandbox.h"
#include "push/model/DUVPageFlowSession.h"
#include "push/utilities/DUVFileCache.h"

namespace {

TEST(DUVPageFlowSession, DurationsParkingAndTheStoredFlow) {
  os::VirtualClockScope clock;
  os::TestSandbox sandbox;
  auto files = DUVFileCache::startCacheFile("ZURAR");
  std::vector<os::Array> reported;
  int launches = 0;
  DUVPageFlowSession flows(files, {[&] { ++launches; }, [&](const DUVPageFlow& flow) { reported.push_back(flow.pageFlow()); }});
  flows.trySetupSession();

  flows.setViewStart("short");
  os::Clock::advance(0.4);
  flows.setViewStop("short");
  flows.setViewStart("A");
  os::Clock::advance(1);
  flows.setViewStart("B");  // A is parked
  os::Clock::advance(2.9);
  flows.setViewStop("B");
  ASSERT_TRUE(flows.currentPage());
  EXPECT_EQ(flows.currentPage()->pageName, "A");  // resumes
  flows.setViewStop("never started");
  flows.setViewLogSecond({os::Value("only a name")});
  flows.setViewLogSecond({os::Value("given"), os::Value(5)});
  EXPECT_EQ(os::Value(flows.pageFlow()),
            os::Value(os::Array{os::Value(os::Dictionary{{"short", os::Value(1)}}),
                                os::Value(os::Dictionary{{"B", os::Value(2)}}),
                                os::Value(os::Dictionary{{"given", os::Value(5)}})}));

  // To the background: A is stopped and the flow kept for the next start.
  flows.savePageFlowWithTime(os::Clock::now() + 3);
  DUVPageFlowSession next(files, {[&] { ++launches; }, [&](const DUVPageFlow& flow) { reported.push_back(flow.pageFlow()); }});
  next.trySetupSession();
  EXPECT_EQ(next.pageFlow().size(), 4u);
  EXPECT_TRUE(files->objectForKey("__ZRFPFLastFlow").isNull());
  next.closeSession();
  ASSERT_EQ(reported.size(), 1u);
  EXPECT_EQ(reported[0].size(), 4u);
  EXPECT_EQ(launches, 1);
}

TEST(DUVPageFlowSession, PageNamesThatAreNotTextStopNoSaveOfTheFileCache) {
  os::VirtualClockScope clock;
  os::TestSandbox sandbox;
  auto files = DUVFileCache::startCacheFile("ZURAR");
  // What else the cache holds: a pending report and the session's start.
  const os::Value pending(os::Dictionary{{"cacheObjects", os::Value(os::Dictionary{{"1.0", os::Value(os::Dictionary{{"type", os::Value("msg_status")}})}})}});
  files->setObject(pending, "__DUVHistroyCache");
  files->setObject(os::Value(1700000000), "__DUVStart_time");
  DUVPageFlowSession flows(files, {[] {}, [](const DUVPageFlow&) {}});
  flows.trySetupSession();
  for (const std::string& name : {std::string("front"), std::string("bad \xff\xfe name"), std::string("a\0b", 3)}) {
    flows.setViewStart(name);
    os::Clock::advance(2);
    flows.setViewStop(name);
  }
  // To the background: the flow joins the file cache, which is saved whole.
  flows.savePageFlowWithTime(os::Clock::now());
  ASSERT_TRUE(files->synchronize());
  auto next = DUVFileCache::startCacheFile("ZURAR");
  EXPECT_EQ(next->objectForKey("__DUVHistroyCache"), pending);
  EXPECT_EQ(next->objectForKey("__DUVStart_time"), os::Value(1700000000));
  EXPECT_EQ(next->objectForKey("__ZRFPFLastFlow"), os::Value(os::Array{os::Value(os::Dictionary{{"front", os::Value(2)}}),
                                                                      os::Value(os::Dictionary{{"bad \uFFFD\uFFFD name", os::Value(2)}}),
                                                                      os::Value(os::Dictionary{{"a\uFFFDb", os::Value(2)}})}));
}

}  // namespace
