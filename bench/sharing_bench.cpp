// Also the disk cache's clearCache with N pictures, N being 1,000, 4,000 and 16,000, against a
// baseline that deletes the same N files and writes one empty index itself: both start from the
// same folder of pictures and their index, and wait until the disk has it all. The cache's work
// runs on its disk queue, so those cases count wall time.
//
// A sharing screen's close among N requests that other screens queued on the same data, N being
// 1,000, 4,000 and 16,000: each request goes through a data service, which notes the screen it is
// for, and the close stops the closing screen's one request. The baseline queues the same
// requests straight on the data manager and drops that one request itself, with nothing noted.
// No request is sent (the component has no service address here), so the figure is the queue's
// and the bookkeeping's own work.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "bench/ProcessCpu.h"
#include "os/core/Date.h"
#include "os/graphics/Image.h"
#include "os/graphics/ImageCodec.h"
#include "os/store/FileManager.h"
#include "os/store/PropertyList.h"
#include "os/testing/TestSandbox.h"
#include "sharing/service/OBSDataManager.h"
#include "sharing/service/OBSDataManagerSet.h"
#include "sharing/service/OBSocialContext.h"
#include "sharing/service/OBSocialData.h"
#include "sharing/service/OBSocialDataService.h"
#include "sharing/widgets/OBCache.h"

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

// A fresh cache folder of `count` pictures listed live in its index, as a cache left it.
std::string pictureFolder(long count) {
  static const os::Data picture = *os::encodePNG(*os::Image::create(os::Bitmap(4, 4)));
  static long folders = 0;
  auto& files = os::FileManager::defaultManager();
  const std::string folder = sandbox().root() + "/pictures" + std::to_string(++folders);
  files.createDirectoryAtPath(folder, true);
  const os::Value expiry(os::Date::now().addingTimeInterval(604800));
  std::vector<os::Dictionary::Entry> index;
  for (long i = 0; i < count; ++i) {
    std::string name = OBCache::fileNameForKey("http://img.example/" + std::to_string(i) + ".png");
    files.writeData(picture, folder + "/" + name, os::WriteOptions{false, 0644});
    index.emplace_back(std::move(name), expiry);
  }
  os::Dictionary list;
  list.adoptDistinct(std::move(index));
  os::PropertyList::writeFile(os::Value(std::move(list)), folder + "/" + kOBCacheIndexName, os::PropertyListFormat::Binary);
  return folder;
}

void ClearCache_OBCache(benchmark::State& state) {
  const auto count = state.range(0);
  for (auto _ : state) {
    state.PauseTiming();
    auto cache = std::make_shared<OBCache>(pictureFolder(count));
    state.ResumeTiming();
    cache->clearCache();
    cache->waitUntilWritten();
    state.PauseTiming();
    cache.reset();
    state.ResumeTiming();
  }
}

void ClearCache_Baseline(benchmark::State& state) {
  const auto count = state.range(0);
  auto& files = os::FileManager::defaultManager();
  for (auto _ : state) {
    state.PauseTiming();
    const std::string folder = pictureFolder(count);
    state.ResumeTiming();
    for (long i = 0; i < count; ++i)
      files.removeItemAtPath(folder + "/" + OBCache::fileNameForKey("http://img.example/" + std::to_string(i) + ".png"));
    os::PropertyList::writeFile(os::Value(os::Dictionary{}), folder + "/" + kOBCacheIndexName, os::PropertyListFormat::Binary);
  }
}

BENCHMARK(ClearCache_OBCache)->Arg(1000)->Arg(4000)->Arg(16000)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(ClearCache_Baseline)->Arg(1000)->Arg(4000)->Arg(16000)->UseRealTime()->Unit(benchmark::kMillisecond);

BENCHMARK(CloseAmongQueued_DataService)->Arg(1000)->Arg(4000)->Arg(16000)->Unit(benchmark::kMillisecond);
BENCHMARK(CloseAmongQueued_Baseline)->Arg(1000)->Arg(4000)->Arg(16000)->Unit(benchmark::kMillisecond);

}  // namespace

NEWSREADER_BENCH_MAIN()
