// Report packets against the local push service's report service.
#include <gtest/gtest.h>

#include "os/runtime/Clock.h"
#include "os/runtime/RunLoop.h"
#include "os/testing/TcpTestPeer.h"
#include "push/report/DUVHttpRequest.h"
#include "push/report/DUVReportCache.h"
#include "push/report/DUVReportRequest.h"
#include "tools/pushd/server/PushServer.h"

namespace {

bool runUntil(const std::function<bool()>& condition) { return os::RunLoop::current()->runUntil(condition, 20); }

os::Dictionary record(int n) {
  return {{"type", os::Value("active_launch")}, {"itime", os::Value(1700000000 + n)}};
}

struct Outcomes : DUVHttpRequestDelegate {
  std::vector<int> statuses;
  std::vector<bool> failures;  // whether a resend was scheduled
  void didReceivedHttpFeedback(DUVReportRequest&, int status) override { statuses.push_back(status); }
  void didNotReceivedFromRequest(DUVReportRequest&, bool resent, const os::Error&) override { failures.push_back(resent); }
};

class ReportUploadTest : public ::testing::Test {
 protected:
  std::shared_ptr<DUVReportRequest> report(int n, const std::string& url, const std::string& backup = "") {
    auto request = std::make_shared<DUVReportRequest>(1, cache_);
    request->setIdentity({0, std::nullopt, "abc123"});
    request->setContent(record(n));
    request->setSender([this, url, backup](const std::shared_ptr<DUVReportRequest>& r) {
      r->setReportFlag(++flag_);
      DUVHttpRequest::send(r, cache_, url, backup, outcomes_);
    });
    return request;
  }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(server_->reportPort()) + "/v2/report"; }

  std::unique_ptr<pushd::PushServer> server_ = pushd::PushServer::start(pushd::ServerOptions::onFreePorts());
  std::shared_ptr<DUVReportCache> cache_ = std::make_shared<DUVReportCache>();
  std::shared_ptr<Outcomes> outcomes_ = std::make_shared<Outcomes>();
  std::uint64_t flag_ = 0;
};

TEST_F(ReportUploadTest, AcceptedRecordsLeaveAndRefusedOnesRideWithTheNextReport) {
  server_->reportService().setMode(pushd::ReportService::Mode::Forbidden);
  cache_->addCacheObject(record(0), "earlier");
  cache_->addCacheObject({{"type", os::Value("loc_info")}, {"itime", os::Value(123)}}, "short itime");
  report(1, url())->send();
  ASSERT_TRUE(runUntil([&] { return outcomes_->statuses.size() == 1; }));
  EXPECT_EQ(outcomes_->statuses[0], 403);
  // Every record of the refused packet waits again, not just one of them, the odd itime too.
  EXPECT_EQ(cache_->count(), 3u);
  EXPECT_TRUE(cache_->sendingPackageCache().empty());

  server_->reportService().setMode(pushd::ReportService::Mode::Accept);
  report(2, url())->send();
  ASSERT_TRUE(runUntil([&] { return outcomes_->statuses.size() == 2; }));
  EXPECT_EQ(outcomes_->statuses[1], 200);  // the service checked the gzip body and the Authorization
  EXPECT_EQ(server_->reportService().records().size(), 4u);
  EXPECT_EQ(cache_->count(), 0u);
  EXPECT_TRUE(cache_->sendingPackageCache().empty());
}

TEST_F(ReportUploadTest, AServiceThatDiesAfterStoringCountsEveryRecordOnce) {
  server_->reportService().setMode(pushd::ReportService::Mode::CrashAfterStore);
  cache_->addCacheObject(record(0), "earlier");
  report(1, url())->send();
  ASSERT_TRUE(runUntil([&] { return outcomes_->statuses.size() == 1; }));
  EXPECT_EQ(cache_->count(), 2u);  // no answer: both wait to be sent again
  server_->reportService().setMode(pushd::ReportService::Mode::Accept);
  report(2, url())->send();
  ASSERT_TRUE(runUntil([&] { return outcomes_->statuses.size() == 2; }));
  EXPECT_EQ(server_->reportService().records().size(), 3u);
  EXPECT_EQ(server_->reportService().repeats(), 2u);
  EXPECT_EQ(cache_->count(), 0u);
  EXPECT_TRUE(cache_->sendingPackageCache().empty());
}

TEST_F(ReportUploadTest, ResendsAfter40_100_200_300SecondsThenGivesTheRecordsBack) {
  os::VirtualClockScope clock;
  std::uint16_t closed = 0;
  {
    os::testing::TcpTestPeer gone;
    closed = gone.port();
  }
  std::string nowhere = "http://127.0.0.1:" + std::to_string(closed) + "/v2/report";
  report(1, nowhere, nowhere)->send();
  ASSERT_TRUE(runUntil([&] { return outcomes_->failures.size() == 1; }));
  for (double wait : {40.0, 100.0, 200.0, 300.0}) {
    std::size_t before = outcomes_->failures.size();
    os::Clock::advance(wait - 1);
    os::RunLoop::current()->runUntilIdle();
    EXPECT_EQ(outcomes_->failures.size(), before) << wait;
    os::Clock::advance(1);
    ASSERT_TRUE(runUntil([&] { return outcomes_->failures.size() == before + 1; })) << wait;
  }
  EXPECT_EQ(outcomes_->failures, (std::vector<bool>{true, true, true, true, false}));
  EXPECT_EQ(cache_->count(), 1u);
  EXPECT_TRUE(cache_->sendingPackageCache().empty());
}

}  // namespace
