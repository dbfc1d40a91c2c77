// The reader as a person starts it, each run in a fresh process (this program again, with
// --child) on a fresh home, against the local news, sharing and push services started here:
// - ReaderStartToFirstList: from the end of the splash (its 4.0 s animation, on the real clock)
//   to the first category's list on screen and printed. No baseline does the same work, so it
//   stands alone.
// - BaselineListRequest: the same first page asked through the news client's request runner and
//   decoded, in a process with no screens; counter: that process's peak RSS, the baseline of the
//   memory figures (a process with the same libraries loaded).
// - ReaderProgramTour: the program itself (app/newsreader) playing its tour; counter: its peak RSS.
// - ReaderTourThenOffline: the tour (refresh, next page, an article, a share, back, a pushed
//   headline), then an offline download of every category; counters: the peak RSS after the tour
//   and after the download, beside the baseline process's peak RSS (BaselineListRequest).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/RemoteNotificationLink.h"
#include "bench/ProcessCpu.h"
#include "app/VXAppDelegate.h"
#include "app/main/ReaderCommands.h"
#include "app/main/ReaderHome.h"
#include "news/api/VXGlobalHelper.h"
#include "news/api/VXNewsListRequest.h"
#include "news/api/VXReaderContext.h"
#include "news/home/VXSplashView.h"
#include "news/list/VXNewsTableView.h"
#include "news/offline/VXOfflineHelper.h"
#include "os/console/ScreenDump.h"
#include "os/core/String.h"
#include "os/net/NetworkReachability.h"
#include "os/runtime/Process.h"
#include "os/runtime/NotificationCenter.h"
#include "os/runtime/RunLoop.h"
#include "os/store/Bundle.h"
#include "os/store/FileManager.h"
#include "os/store/PropertyList.h"
#include "os/store/Sandbox.h"
#include "os/views/Application.h"
#include "os/views/ImageView.h"
#include "os/views/NamedImage.h"
#include "os/views/TableView.h"
#include "tools/newsd/server/NewsServer.h"
#include "tools/pushd/server/PushServer.h"
#include "tools/sharingd/server/SharingServer.h"

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Peak resident set of this process so far, in kB.
long peakRssKB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  return -1;
}

// ------------------------------------------------------------------ the child (one reader process)

// As the program's own start: Wi-Fi, so the categories are asked of the server.
class WiFiReachability : public os::ReachabilityProvider {
 public:
  std::optional<std::uint32_t> flags(const os::ReachabilityTarget&) override {
    return os::kReachabilityFlagsReachable | os::kReachabilityFlagsIsDirect;
  }
};

struct ChildOptions {
  std::string mode;  // "baseline", "startup", "tour" or "offline"
  std::string home, server, sharing;
  long pushControl = 0;
  long long category = 0;
};

bool runFor(double seconds, const std::function<bool()>& condition) {
  return os::RunLoop::main()->runUntil(condition, seconds);
}

// Picture views below `view` still showing the list's loading placeholder.
int loadingPictures(const os::View& view, const os::Image* placeholder) {
  int count = 0;
  if (auto* image = dynamic_cast<const os::ImageView*>(&view); image && image->image().get() == placeholder) ++count;
  for (const auto& sub : view.subviews()) count += loadingPictures(*sub, placeholder);
  return count;
}

// The reader's start as the program makes it (app/main/main.cpp): home, context, application.
bool prepareReader(const ChildOptions& o) {
  os::RunLoop::makeCurrentThreadMain();
  os::Error error;
  auto sandbox = reader::prepareHome(o.home, &error);
  if (!sandbox) return false;
  os::Sandbox::setCurrent(sandbox);
  if (!o.sharing.empty())
    os::PropertyList::writeFile(os::Value(os::Dictionary{{"baseURL", os::Value(o.sharing)}}),
                                sandbox->bundlePath() + "/SocialSDK-config.plist", os::PropertyListFormat::XML);
  os::ReachabilityProvider::setShared(std::make_shared<WiFiReachability>());
  VXReaderContext::setCurrent(reader::makeReaderContext(o.server));
  return true;
}

// The figures go to standard output as one line of key=value pairs.
[[noreturn]] void report(const std::map<std::string, double>& figures) {
  std::string line;
  for (const auto& [key, value] : figures) line += os::format("%s=%.6f ", key.c_str(), value);
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
  // As the program does: the network and image threads need no orderly shutdown.
  std::_Exit(0);
}

[[noreturn]] void runChild(const ChildOptions& o) {
  // The allocator as the program's entry sets it.
  os::giveLargeAllocationsTheirOwnMappings(128 * 1024);
  os::limitAllocatorHeaps(1);
  if (!prepareReader(o)) report({{"failed", 1}});

  if (o.mode == "baseline") {
    os::Dictionary params{{"id", os::Value(o.category)}, {"flag", os::Value(1)}, {"upid", os::Value(0)},
                          {"uptime", os::Value(-1)}, {"count", os::Value(VXNewsTableView::kPageCount)}};
    // The client warmed up as the splash leaves it (its connection open): the category list first.
    bool warm = false;
    NQBaseRequest categories = NQBaseRequest::initWithOpcode(1040);
    VXGlobalHelper::loadWithRequest(
        categories, 0, [&](const std::optional<os::Dictionary>&) { warm = true; }, [&] { warm = true; });
    runFor(20, [&] { return warm; });
    VXNewsListRequest request(params);
    bool done = false;
    double items = 0;
    auto start = Clock::now();
    VXGlobalHelper::loadWithRequest(
        request, 0,
        [&](const std::optional<os::Dictionary>& data) {
          if (data)
            if (const os::Array* list = (*data)["newslist"].array()) items = static_cast<double>(list->size());
          done = true;
        },
        [&] { done = true; });
    runFor(20, [&] { return done; });
    double seconds = secondsSince(start);
    report({{"seconds", seconds}, {"items", items}, {"peak_rss_kb", static_cast<double>(peakRssKB())}});
  }

  std::ofstream screen("/dev/null");
  auto app = os::Application::create(std::make_shared<VXAppDelegate>(VXReaderContext::current()), reader::kBundleIdentifier);
  app->registerURLSchemesFromInfoDictionary(os::Sandbox::current()->mainBundle()->infoDictionary());
  std::optional<Clock::time_point> splashEnd;
  auto& center = os::NotificationCenter::defaultCenter();
  auto token = center.addObserver(kSplashLaunchEndNotification, nullptr,
                                  [&](const os::Notification&) { splashEnd = Clock::now(); });
  app->launch();
  std::shared_ptr<RemoteNotificationLink> channel;
  if (o.pushControl != 0) channel = RemoteNotificationLink::connect(app, static_cast<std::uint16_t>(o.pushControl));

  if (!runFor(20, [&] { return splashEnd.has_value(); })) report({{"failed", 2}});
  center.removeObserver(token);
  // The tour's own test for the first list: more than the one row a list shows while it loads.
  bool listed = runFor(10, [] {
    auto table = os::mainTableView();
    return table && table->numberOfRowsInSection(0) > 1;
  });
  screen << os::dumpScreen() << std::flush;
  double startup = secondsSince(*splashEnd);
  if (!listed) report({{"failed", 3}});
  // Then the pictures of the rows on screen, as a person waits for them.
  auto placeholder = os::imageNamed("placeholder");
  bool pictured = runFor(10, [&] {
    int loading = 0;
    if (auto table = os::mainTableView())
      for (const auto& cell : table->visibleCells()) loading += loadingPictures(*cell, placeholder.get());
    return loading == 0;
  });
  screen << os::dumpScreen() << std::flush;
  double pictures = secondsSince(*splashEnd);
  if (!pictured) report({{"failed", 4}});
  std::map<std::string, double> figures{
      {"seconds", startup}, {"pictures_seconds", pictures}, {"startup_peak_rss_kb", double(peakRssKB())}};
  if (o.mode == "startup") report(figures);

  reader::ReaderCommands commands(screen);
  if (o.pushControl != 0) commands.setPushControlPort(static_cast<std::uint16_t>(o.pushControl));
  auto tourStart = Clock::now();
  figures["tour_ok"] = commands.runTour() == 0 ? 1 : 0;
  figures["tour_seconds"] = secondsSince(tourStart);
  figures["tour_peak_rss_kb"] = static_cast<double>(peakRssKB());
  if (o.mode == "tour") report(figures);

  // The offline screen from the menu, every category chosen (its default), then the download.
  auto offlineStart = Clock::now();
  int percent = -1;
  auto progress = center.addObserver(kOfflineLoadingNotification, nullptr, [&](const os::Notification& note) {
    if (auto p = VXOfflineHelper::percentOf(note); p && *p >= 0) percent = *p;
  });
  for (const char* command : {"menu", "tap 离线", "tap 下载"}) {
    commands.run(command);
    commands.settle(3);
  }
  auto helper = VXOfflineHelper::share();
  bool finished = runFor(600, [&] { return !helper->isRunning(); });
  commands.settle(3);
  center.removeObserver(progress);
  // The run announces 100 only when every category has been through.
  figures["offline_ok"] = finished && percent == 100 ? 1 : 0;
  figures["offline_percent"] = percent;
  figures["offline_seconds"] = secondsSince(offlineStart);
  figures["offline_peak_rss_kb"] = static_cast<double>(peakRssKB());
  report(figures);
}

// ------------------------------------------------------------------ the parent

struct Services {
  std::unique_ptr<newsd::NewsServer> news;
  std::unique_ptr<sharingd::SharingServer> sharing;
  std::unique_ptr<pushd::PushServer> push;
  std::string newsURL, sharingURL;
  long long firstCategory = 0;
  std::string scratch;

  Services() {
    news = std::make_unique<newsd::NewsServer>(newsd::ServerOptions{});
    auto port = news->start();
    if (!port) std::abort();
    newsURL = "http://127.0.0.1:" + std::to_string(*port);
    firstCategory = news->service().content().categories().front().id;
    sharing = std::make_unique<sharingd::SharingServer>();
    if (auto sp = sharing->start()) sharingURL = "http://127.0.0.1:" + std::to_string(*sp);
    push = pushd::PushServer::start(pushd::ServerOptions::onFreePorts());
    char pattern[] = "/tmp/reader_bench.XXXXXX";
    if (!mkdtemp(pattern)) std::abort();
    scratch = pattern;
  }
  ~Services() {
    sharing->stop();
    news->stop();
    os::FileManager::defaultManager().removeItemAtPath(scratch);
  }

  // A fresh home whose push configuration names the local push service's lookup port.
  std::string freshHome() {
    static int next = 0;
    std::string home = scratch + "/home" + std::to_string(next++);
    os::FileManager::defaultManager().createDirectoryAtPath(home + "/Bundle", true);
    if (push)
      os::PropertyList::writeFile(os::Value(os::Dictionary{{"APP_KEY", os::Value("8a3f0c2e91d74b65a0c1e2f3")},
                                                           {"CHANNEL", os::Value(reader::kChannel)},
                                                           {"APS_FOR_PRODUCTION", os::Value(false)},
                                                           {"SIS_PORT", os::Value(push->lookupPort())},
                                                           {"SIS_BACKUP_PORT", os::Value(push->lookupPort())}}),
                                  home + "/Bundle/PushConfig.plist", os::PropertyListFormat::XML);
    return home;
  }

  // Runs one child and answers its figures (empty when it died or said nothing).
  std::map<std::string, double> child(const std::string& mode) {
    std::vector<std::string> args{"/proc/self/exe", "--child", mode, freshHome(), newsURL, sharingURL,
                                  std::to_string(push ? push->controlPort() : 0), std::to_string(firstCategory)};
    // The reader's own log lines would bury the bench's table.
    std::string text;
    auto exit = run(args, &text);
    std::map<std::string, double> figures;
    std::istringstream in(text);
    std::string pair;
    while (in >> pair)
      if (auto eq = pair.find('='); eq != std::string::npos)
        figures[pair.substr(0, eq)] = std::strtod(pair.c_str() + eq + 1, nullptr);
    if (figures.count("failed") || !exit || !exit->exitedNormally || exit->status != 0) return {};
    return figures;
  }

  // Runs the program's tour (nothing on its standard input) and answers its peak RSS in kB, or
  // nothing when it failed. A started program's peak counts the starter's too when that is larger
  // (the system keeps the larger of the two), so a small process of this program starts it:
  // see launchAndMeasure.
  std::optional<long> programTour() {
    std::vector<std::string> args{"/proc/self/exe", "--launch", NEWSREADER_PROGRAM, "--home", freshHome(), "--server", newsURL};
    if (!sharingURL.empty()) args.insert(args.end(), {"--sharing-server", sharingURL});
    if (push) args.insert(args.end(), {"--push-control", std::to_string(push->controlPort())});
    std::string text;
    auto exit = run(args, &text);
    if (!exit || !exit->exitedNormally || exit->status != 0) return std::nullopt;
    long peak = std::strtol(text.c_str(), nullptr, 10);
    if (peak <= 0) return std::nullopt;
    return peak;
  }

  // Runs a program with what it prints read into `text` and its errors dropped.
  static std::optional<os::ProcessExit> run(const std::vector<std::string>& args, std::string* text) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return std::nullopt;
    os::ProcessLaunch launch;
    launch.arguments = args;
    launch.output = out[1];
    launch.error = os::ProcessLaunch::kNullDevice;
    auto pid = os::startProcess(launch);
    close(out[1]);
    if (pid) {
      char buffer[4096];
      ssize_t n;
      while ((n = read(out[0], buffer, sizeof buffer)) > 0) text->append(buffer, static_cast<std::size_t>(n));
    }
    close(out[0]);
    return pid ? os::waitForProcess(*pid) : std::nullopt;
  }
};

Services& services() {
  static Services s;
  return s;
}

constexpr double kMB = 1024.0;

void ReaderStartToFirstList(benchmark::State& state) {
  double rss = 0;
  for (auto _ : state) {
    auto figures = services().child("startup");
    if (figures.empty()) {
      state.SkipWithError("the reader did not show its first list");
      return;
    }
    state.SetIterationTime(figures["seconds"]);
    state.counters["with_pictures_ms"] = figures["pictures_seconds"] * 1e3;
    rss = std::max(rss, figures["startup_peak_rss_kb"] / kMB);
  }
  state.counters["peak_rss_MB"] = rss;
}
BENCHMARK(ReaderStartToFirstList)->Iterations(1)->Repetitions(1)->UseManualTime()->Unit(benchmark::kMillisecond);

void BaselineListRequest(benchmark::State& state) {
  double rss = 0;
  for (auto _ : state) {
    auto figures = services().child("baseline");
    if (figures.empty() || figures["items"] < 2) {
      state.SkipWithError("the list request failed");
      return;
    }
    state.SetIterationTime(figures["seconds"]);
    rss = std::max(rss, figures["peak_rss_kb"] / kMB);
  }
  state.counters["peak_rss_MB"] = rss;
}
BENCHMARK(BaselineListRequest)->Iterations(1)->Repetitions(1)->UseManualTime()->Unit(benchmark::kMillisecond);

void ReaderProgramTour(benchmark::State& state) {
  for (auto _ : state) {
    auto start = Clock::now();
    auto rss = services().programTour();
    if (!rss) {
      state.SkipWithError("the program's tour failed");
      return;
    }
    state.SetIterationTime(secondsSince(start));
    state.counters["peak_rss_MB"] = static_cast<double>(*rss) / kMB;
  }
}
BENCHMARK(ReaderProgramTour)->Iterations(1)->Repetitions(1)->UseManualTime()->Unit(benchmark::kMillisecond);

void ReaderTourThenOffline(benchmark::State& state) {
  for (auto _ : state) {
    auto figures = services().child("offline");
    if (figures.empty() || figures["tour_ok"] != 1 || figures["offline_ok"] != 1) {
      state.SkipWithError("the tour or the offline download did not finish");
      return;
    }
    state.SetIterationTime(figures["tour_seconds"] + figures["offline_seconds"]);
    state.counters["tour_peak_rss_MB"] = figures["tour_peak_rss_kb"] / kMB;
    state.counters["offline_peak_rss_MB"] = figures["offline_peak_rss_kb"] / kMB;
    state.counters["offline_percent"] = figures["offline_percent"];
    state.counters["offline_seconds"] = figures["offline_seconds"];
  }
}
BENCHMARK(ReaderTourThenOffline)->Iterations(1)->Repetitions(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

// `--launch PROGRAM ARGS...`: runs the program with no input or output and prints its peak RSS in
// kB; fails when the program did. Run in a fresh process of this program, far smaller than the
// reader, so the figure is the reader's own.
int launchAndMeasure(int argc, char** argv) {
  os::ProcessLaunch launch;
  launch.arguments.assign(argv + 2, argv + argc);
  launch.input = launch.output = launch.error = os::ProcessLaunch::kNullDevice;
  auto pid = os::startProcess(launch);
  auto exit = pid ? os::waitForProcess(*pid) : std::nullopt;
  if (!exit || !exit->exitedNormally || exit->status != 0) return 1;
  std::printf("%ld\n", exit->peakResidentKB);
  return 0;
}

int main(int argc, char** argv) {
  if (argc > 2 && std::strcmp(argv[1], "--launch") == 0) return launchAndMeasure(argc, argv);
  if (argc == 8 && std::strcmp(argv[1], "--child") == 0) {
    ChildOptions o;
    o.mode = argv[2];
    o.home = argv[3];
    o.server = argv[4];
    o.sharing = argv[5];
    o.pushControl = std::strtol(argv[6], nullptr, 10);
    o.category = std::strtoll(argv[7], nullptr, 10);
    runChild(o);
  }
  return bench::runCases(argc, argv);
}
