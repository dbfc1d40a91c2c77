// Report packets against the local push service's report service.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "foundation/formats/JSONTideDeserializing.h"
#include "foundation/formats/JSONTideSerializing.h"
#include "os/runtime/Clock.h"
#include "os/runtime/RunLoop.h"
#include "os/testing/HttpTestServer.h"
#include "os/testing/Waits.h"
#include "push/report/DUVHttpRequest.h"
#include "push/report/DUVReportCache.h"
#include "push/report/DUVReportRequest.h"
#include "tools/pushd/server/PushServer.h"

namespace {

using os::testing::runUntil;

os::Dictionary record(int n) {
  return {{"type", os::Value("active_launch")}, {"itime", os::Value(1700000000 + n)}, {"session_id", os::Value("s")},
          {"date", os::Value("2023-11-14")}, {"time", os::Value("22:13:20")}};
}

// Reports come from registered devices only: the identity the service is started with.
constexpr std::uint32_t kUid = 1001;
std::string identityFile() {
  std::string path = ::testing::TempDir() + "/pushd-identity-" + std::to_string(getpid());
  std::ofstream(path) << kUid << " secret 0123456789a abc123\n";
  return path;
}

pushd::ServerOptions withIdentity() {
  auto options = pushd::ServerOptions::onFreePorts();
  options.identityFile = identityFile();
  return options;
}

struct Outcomes : DUVHttpRequestDelegate {
  std::vector<int> statuses;
  std::vector<bool> failures;  // whether a resend was scheduled
  void didReceivedHttpFeedback(DUVReportRequest&, int status) override { statuses.push_back(status); }
  void didNotReceivedFromRequest(DUVReportRequest&, bool resent, const os::Error&) override { failures.push_back(resent); }
};

// The service as a process of its own, on the given report port and store, killed at will.
class PushdProcess {
 public:
  PushdProcess(const std::string& folder, const std::string& store, std::uint16_t reportPort) {
    std::string ports = folder + "/ports-" + std::to_string(++starts_);
    std::vector<std::string> args{PUSHD_PROGRAM, "--lookup-port", "0", "--report-port", std::to_string(reportPort),
                                  "--report-store", store, "--port-file", ports, "--identities", identityFile()};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, PUSHD_PROGRAM, nullptr, nullptr, argv.data(), environ) != 0) pid_ = 0;
    runUntil([&] { return std::filesystem::exists(ports); });
    std::ifstream(ports) >> lookup_ >> core_ >> control_ >> report_;
  }
  ~PushdProcess() { kill(); }
  bool running() const { return pid_ > 0 && report_ != 0; }
  std::uint16_t reportPort() const { return report_; }
  void kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = 0;
  }
  // One control command; its answer line.
  std::string command(const std::string& line) const {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(control_);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string answer;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
      std::string text = line + "\n";
      (void)!write(fd, text.data(), text.size());
      char c;
      while (read(fd, &c, 1) == 1 && c != '\n') answer += c;
    }
    close(fd);
    return answer;
  }

 private:
  static inline int starts_ = 0;
  pid_t pid_ = 0;
  std::uint16_t lookup_ = 0, core_ = 0, control_ = 0, report_ = 0;
};

std::vector<std::string> lines(const std::string& path) {
  std::vector<std::string> out;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

class ReportUploadTest : public ::testing::Test {
 protected:
  ~ReportUploadTest() override {
    server_.reset();
    std::filesystem::remove(identityFile());
  }
  std::shared_ptr<DUVReportRequest> report(int n, const std::string& url, const std::string& backup = "") {
    return report(record(n), url, backup);
  }
  std::shared_ptr<DUVReportRequest> report(const os::Dictionary& content, const std::string& url,
                                           const std::string& backup = "", bool allPackets = false) {
    auto request = std::make_shared<DUVReportRequest>(1, cache_);
    request->setIdentity({kUid, "secret", "abc123"});
    request->setContent(content);
    request->setSender(sender(url, backup, allPackets));
    return request;
  }
  // A request's sender holds what it uses, and the test's outcomes only weakly: a resend timer
  // that outlives the test (it stays on the run loop) finds the test gone and sends nothing.
  std::function<void(const std::shared_ptr<DUVReportRequest>&)> sender(const std::string& url, const std::string& backup,
                                                                     bool allPackets) {
    return [url, backup, allPackets, cache = cache_, flag = flag_,
            test = std::weak_ptr<Outcomes>(outcomes_)](const std::shared_ptr<DUVReportRequest>& r) {
      auto outcomes = test.lock();
      if (!outcomes) return;
      r->setReportFlag(++*flag);
      DUVHttpRequest::send(r, cache, url, backup, outcomes);
      if (allPackets && r->isSubpackage()) r->send();
    };
  }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(server_->reportPort()) + "/v2/report"; }

  // The client's time: a packet's time-out and its resends run on the virtual clock, which moves
  // only when the test moves it, however slow the machine.
  os::VirtualClockScope clock_;
  std::unique_ptr<pushd::PushServer> server_ = pushd::PushServer::start(withIdentity());
  std::shared_ptr<DUVReportCache> cache_ = std::make_shared<DUVReportCache>();
  std::shared_ptr<Outcomes> outcomes_ = std::make_shared<Outcomes>();
  std::shared_ptr<std::uint64_t> flag_ = std::make_shared<std::uint64_t>(0);
};

TEST_F(ReportUploadTest, AcceptedRecordsLeaveAndRefusedOnesRideWithTheNextReport) {
  server_->reportService().setMode(pushd::ReportService::Mode::Forbidden);
  cache_->addCacheObject(record(0), "earlier");
  cache_->addCacheObject({{"type", os::Value("loc_info")},
                          {"itime", os::Value(123)},
                          {"wifi", os::Value("")},
                          {"cell", os::Value("")},
                          {"gps", os::Value("")}},
                         "short itime");
  report(1, url())->send();
  ASSERT_TRUE(runUntil([&] { return outcomes_->statuses.size() == 1; }));
  EXPECT_EQ(outcomes_->statuses[0], 403);
  // Every record of the refused packet waits again, not just one of them, the odd itime too.
  EXPECT_EQ(cache_->count(), 3u);
  EXPECT_TRUE(cache_->sendingPackageCache().empty());

  // A record's itime has ten digits: a packet with another is refused whole, and let go.
  server_->reportService().setMode(pushd::ReportService::Mode::Accept);
  report(2, url())->send();
  ASSERT_TRUE(runUntil([&] { return outcomes_->statuses.size() == 2; }));
  EXPECT_EQ(outcomes_->statuses[1], 400);
  EXPECT_TRUE(server_->reportService().records().empty());
  EXPECT_EQ(cache_->count(), 0u);
  EXPECT_TRUE(cache_->sendingPackageCache().empty());

  cache_->addCacheObject(record(0), "earlier");
  report(3, url())->send();
  ASSERT_TRUE(runUntil([&] { return outcomes_->statuses.size() == 3; }));
  EXPECT_EQ(outcomes_->statuses[2], 200);  // the service checked the gzip body and the Authorization
  EXPECT_EQ(server_->reportService().records().size(), 2u);
  EXPECT_EQ(cache_->count(), 0u);
  EXPECT_TRUE(cache_->sendingPackageCache().empty());
}

TEST_F(ReportUploadTest, RecordsTheStoreCouldNotTakeWaitInTheClientAndArriveWithTheNextReport) {
  const std::string folder = ::testing::TempDir() + "/pushd-unstored-" + std::to_string(getpid());
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  auto options = withIdentity();
  options.reportStore = folder + "/reports";
  server_ = pushd::PushServer::start(options);
  ASSERT_TRUE(server_);

  // The store's place taken by a folder while the packet comes.
  std::filesystem::rename(options.reportStore, options.reportStore + ".aside");
  std::filesystem::create_directory(options.reportStore);
  cache_->addCacheObject(record(0), "earlier");
  report(1, url())->send();
  ASSERT_TRUE(runUntil([&] { return outcomes_->statuses.size() == 1; }));
  EXPECT_EQ(outcomes_->statuses[0], 500);
  EXPECT_EQ(cache_->count(), 2u);

  // The store back, the next report carries them; a restart on the store has all three.
  std::filesystem::remove(options.reportStore);
  std::filesystem::rename(options.reportStore + ".aside", options.reportStore);
  report(2, url())->send();
  ASSERT_TRUE(runUntil([&] { return outcomes_->statuses.size() == 2; }));
  EXPECT_EQ(outcomes_->statuses[1], 200);
  EXPECT_EQ(cache_->count(), 0u);
  server_ = pushd::PushServer::start(options);
  ASSERT_TRUE(server_);
  EXPECT_EQ(server_->reportService().records().size(), 3u);
  server_.reset();
  std::filesystem::remove_all(folder);
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

TEST_F(ReportUploadTest, AServiceKilledMidUploadAndRestartedOnItsStoreCountsEveryRecordOnce) {
  std::string folder = ::testing::TempDir() + "/pushd-restart-" + std::to_string(getpid());
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  std::string store = folder + "/reports";
  auto first = std::make_unique<PushdProcess>(folder, store, 0);
  ASSERT_TRUE(first->running());
  std::uint16_t port = first->reportPort();
  std::string at = "http://127.0.0.1:" + std::to_string(port) + "/v2/report";
  ASSERT_EQ(first->command("report stall-after-store"), "ok");

  // Killed after storing the packet and before answering it.
  cache_->addCacheObject(record(0), "earlier");
  report(1, at)->send();
  ASSERT_TRUE(runUntil([&] { return lines(store).size() == 2; }));
  first->kill();
  ASSERT_TRUE(runUntil([&] { return outcomes_->failures.size() == 1; }));
  EXPECT_TRUE(outcomes_->statuses.empty());

  // Restarted on the same store: the packet sent again is known, a new record is kept.
  PushdProcess second(folder, store, port);
  ASSERT_TRUE(second.running());
  os::Clock::advance(40);
  ASSERT_TRUE(runUntil([&] { return outcomes_->statuses.size() == 1; }));

  // Killed before storing (while holding the packet, or before it even came): the record waits.
  ASSERT_EQ(second.command("report stall"), "ok");
  report(2, at)->send();
  second.kill();
  ASSERT_TRUE(runUntil([&] { return outcomes_->failures.size() == 2; }));
  EXPECT_EQ(lines(store).size(), 2u);
  PushdProcess third(folder, store, port);
  ASSERT_TRUE(third.running());
  os::Clock::advance(40);
  ASSERT_TRUE(runUntil([&] { return outcomes_->statuses.size() == 2; }));
  EXPECT_EQ(outcomes_->statuses, (std::vector<int>{200, 200}));

  std::multiset<long long> times;
  for (const auto& line : lines(store)) {
    auto kept = objectFromJSONString(line.substr(line.find(' ') + 1));
    times.insert(kept ? (*kept)["itime"].intValue() : 0);
  }
  EXPECT_EQ(times, (std::multiset<long long>{1700000000, 1700000001, 1700000002}));
  EXPECT_EQ(cache_->count(), 0u);
  EXPECT_TRUE(cache_->sendingPackageCache().empty());
  std::filesystem::remove_all(folder);
}

TEST_F(ReportUploadTest, ARequestSendsNoMoreThanTheCapInPacketsWithinTheBudget) {
  // Records of one length: the cap keeps the request's own record and, before it, as many waiting
  // ones as fit 10240 bytes counted from the envelope, the own record and 10, each further one
  // with 1. The packets of the request go one after another, as the scheduler sends them.
  auto padded = [](int n) {
    os::Dictionary r = record(n);
    r.set("session_id", os::Value(std::string(100, 's') + std::to_string(100 + n)));
    return r;
  };
  const std::size_t length = JSONData(os::Value(padded(0)))->size();
  const std::size_t envelope =
      std::string(R"({"platform":"i","uid":1001,"sdk_ver":"1.8.1","app_key":"abc123"})").size();
  const std::size_t kept = (10240 - envelope - length - 10) / (length + 1);
  for (int n = 1; n <= static_cast<int>(kept) + 20; ++n) cache_->addCacheObject(padded(n), "waiting " + std::to_string(n));
  report(padded(0), url(), "", true)->send();
  auto& service = server_->reportService();
  // Every packet answered at the client: all of them left at once, so none is in flight once their
  // records are settled. (The service keeps a packet's records before it answers: its counts alone
  // can agree with the client's while the last answer is still on its way.)
  ASSERT_TRUE(runUntil([&] { return service.records().size() >= kept + 1 && cache_->sendingPackageCache().empty(); }))
      << service.records().size() << " records kept, " << service.answers().size() << " answers, "
      << outcomes_->statuses.size() << " statuses and " << outcomes_->failures.size() << " failures at the client";
  os::RunLoop::current()->runUntilIdle();
  EXPECT_EQ(outcomes_->statuses.size(), service.answers().size());
  EXPECT_EQ(service.records().size(), kept + 1);
  EXPECT_EQ(service.answers(), std::vector<int>(service.answers().size(), 200));  // each packet within the budget
  EXPECT_GT(service.answers().size(), 1u);
  EXPECT_TRUE(outcomes_->failures.empty());
  EXPECT_TRUE(cache_->sendingPackageCache().empty());
}

TEST_F(ReportUploadTest, EqualRecordsInAPacketAreEachKeptAndOnceAgainWhenResent) {
  // Two statuses of one message in the same second: equal records, two events.
  const os::Dictionary status{{"type", os::Value("msg_status")}, {"itime", os::Value(1700000000)},
                              {"result", os::Value(2001)}, {"msg_id", os::Value("77")}};
  std::string store = ::testing::TempDir() + "/pushd-equal-" + std::to_string(getpid());
  std::filesystem::remove(store);
  auto options = withIdentity();
  options.reportStore = store;
  server_ = pushd::PushServer::start(options);
  auto& service = server_->reportService();

  // Stored, and the answer lost: both wait to be sent again.
  service.setMode(pushd::ReportService::Mode::CrashAfterStore);
  cache_->addCacheObject(status, "first");
  report(status, url())->send();
  ASSERT_TRUE(runUntil([&] { return outcomes_->statuses.size() == 1; }));
  EXPECT_EQ(service.records().size(), 2u);
  EXPECT_EQ(cache_->count(), 2u);

  // Sent again with a new record: the two are known, the new one kept.
  service.setMode(pushd::ReportService::Mode::Accept);
  report(1, url())->send();
  ASSERT_TRUE(runUntil([&] { return outcomes_->statuses.size() == 2; }));
  EXPECT_EQ(outcomes_->statuses[1], 200);
  EXPECT_EQ(service.records().size(), 3u);
  EXPECT_EQ(service.repeats(), 2u);
  EXPECT_EQ(cache_->count(), 0u);

  // A service restarted on its store knows both.
  server_.reset();
  server_ = pushd::PushServer::start(options);
  EXPECT_EQ(server_->reportService().records().size(), 3u);
  cache_->addCacheObject(status, "first");
  report(status, url())->send();
  ASSERT_TRUE(runUntil([&] { return outcomes_->statuses.size() == 3; }));
  EXPECT_EQ(server_->reportService().records().size(), 3u);
  EXPECT_EQ(server_->reportService().repeats(), 2u);
  std::filesystem::remove(store);
}

TEST_F(ReportUploadTest, ResendsAfter40_100_200_300SecondsThenGivesTheRecordsBack) {
  // A port held unlistened: one let go could be given to another program's listener meanwhile.
  const int closed = os::testing::HttpTestServer::refusedPort();
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
