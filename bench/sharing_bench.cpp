// A sharing screen's close among N requests that other screens queued on the same data, N being
// 1,000, 4,000 and 16,000: each request goes through a data service, which notes the screen it is
// for, and the close stops the closing screen's one request. The baseline queues the same
// requests straight on the data manager and drops that one request itself, with nothing noted.
// No request is sent (the component has no service address here), so the figure is the queue's
// and the bookkeeping's own work.
#include <benchmark/benchmark.h>

#include <memory>

#include "bench/ProcessCpu.h"
#include "os/testing/TestSandbox.h"
#include "sharing/service/OBSDataManager.h"
#include "sharing/service/OBSDataManagerSet.h"
#include "sharing/service/OBSocialContext.h"
#include "sharing/service/OBSocialData.h"
#include "sharing/service/OBSocialDataService.h"

namespace {

constexpr std::uint64_t kOtherScreen = 1, kClosingScreen = 2;

os::TestSandbox& sandbox() {
  static os::TestSandbox box;
  return box;
}

// A fresh sharing context with the application key set, so requests can be built.
std::unique_ptr<OBSocialContextScope> freshContext() {
  sandbox();
  auto scope = std::make_unique<OBSocialContextScope>();
  OBSDataManagerSet::shareInstance()->setAppkey("6c3f0e9a2b7d41580a9e3c12");
  return scope;
}

void CloseAmongQueued_DataService(benchmark::State& state) {
  const auto count = state.range(0);
  for (auto _ : state) {
    state.PauseTiming();
    auto context = freshContext();
    auto service = std::make_shared<OBSocialDataService>(OBSocialData::defaultData());
    state.ResumeTiming();
    service->setRequestOwner(kOtherScreen);
    for (long i = 0; i < count; ++i) service->requestSocialDataWithCompletionInternal(nullptr);
    service->setRequestOwner(kClosingScreen);
    service->requestSocialDataWithCompletionInternal(nullptr);
    service->cancelAllRequestInQueueInternal();
    benchmark::DoNotOptimize(OBSDataManager::currentDataManager()->actionArray().size());
    state.PauseTiming();
    service.reset();
    context.reset();
    state.ResumeTiming();
  }
}

void CloseAmongQueued_Baseline(benchmark::State& state) {
  const auto count = state.range(0);
  for (auto _ : state) {
    state.PauseTiming();
    auto context = freshContext();
    auto data = OBSocialData::defaultData();
    state.ResumeTiming();
    auto manager = OBSDataManager::currentDataManager();
    for (long i = 0; i < count; ++i) manager->requestBarInfo(nullptr);
    manager->requestBarInfo(nullptr);
    manager->cancelRequests({manager->actionArray().back()});
    benchmark::DoNotOptimize(manager->actionArray().size());
    state.PauseTiming();
    manager.reset();
    context.reset();
    state.ResumeTiming();
  }
}

BENCHMARK(CloseAmongQueued_DataService)->Arg(1000)->Arg(4000)->Arg(16000)->Unit(benchmark::kMillisecond);
BENCHMARK(CloseAmongQueued_Baseline)->Arg(1000)->Arg(4000)->Arg(16000)->Unit(benchmark::kMillisecond);

}  // namespace

NEWSREADER_BENCH_MAIN()
