// The view layer where a reader's own actions make it grow: a list reached page by page (each page
// reloads the table), a view emptied of its subviews one at a time, and delayed performs cancelled
// by their target among many pending ones. Each case beside the least the same work could cost.
#include <benchmark/benchmark.h>

#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "ProcessCpu.h"
#include "os/graphics/Font.h"
#include "os/graphics/TextLayout.h"
#include "os/runtime/RunLoop.h"
#include "os/views/TableView.h"
#include "os/views/View.h"

namespace {

constexpr long kPage = 20;

// A row's height as a news list works it out: its title measured in the list's font.
double titleHeight(long row) {
  static const os::Font font = os::Font::systemFont(17);
  static const std::string titles[] = {
      "新型驱逐舰完成首次远海训练", "空军某部开展夜间实弹演练，检验部队全天候作战能力",
      "海军编队访问归来", "陆军某旅组织跨区机动演习，多兵种协同完成多项课目的考核与评估"};
  return os::sizeWithFont(titles[row % 4], font, os::Size{290, 100000}).height + 45;
}

// A list of news rows and, after them, the row that loads the next page.
struct NewsRows : os::TableViewDataSource, os::TableViewDelegate {
  long count = 0;
  long numberOfRowsInSection(os::TableView&, long) override { return count + 1; }
  std::shared_ptr<os::TableViewCell> cellForRowAtIndexPath(os::TableView& table, const os::IndexPath&) override {
    auto cell = table.dequeueReusableCellWithIdentifier("row");
    return cell ? cell : std::make_shared<os::TableViewCell>(os::TableViewCellStyle::Default, "row");
  }
  std::optional<double> heightForRowAtIndexPath(os::TableView&, const os::IndexPath& ip) override {
    return ip.row == count ? 44.0 : titleHeight(ip.row);
  }
};

// A news list's table whose rows arrive a page at a time up to `rows`, each page reloading it; with
// `followEnd` it is scrolled to its end after each, as a reader paging on scrolls it.
struct PagedList {
  std::shared_ptr<NewsRows> source = std::make_shared<NewsRows>();
  std::shared_ptr<os::TableView> table = std::make_shared<os::TableView>(os::Rect(0, 0, 320, 440), os::TableViewStyle::Plain);

  PagedList(long rows, bool followEnd) {
    table->setDataSource(source);
    table->setDelegate(source);
    while (source->count < rows) {
      source->count += kPage;
      table->reloadData();
      if (followEnd) table->setContentOffset(table->maximumContentOffset());
      table->layoutIfNeeded();
    }
  }
};

// Rows arrive a page at a time; each page reloads the table, which is scrolled to its end.
void ReachRowsPageByPage(benchmark::State& state) {
  for (auto _ : state) {
    PagedList list(state.range(0), true);
    benchmark::DoNotOptimize(list.table->contentSize().height);
  }
}

// A list reached page by page, reloaded once more (its rows may have changed out of view), then
// scrolled to its last row as the console's `tap row N` does: the rows above it are asked again.
void ScrollToTheLastRowAfterAReload(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    auto list = std::make_unique<PagedList>(state.range(0), false);
    auto& table = *list->table;
    state.ResumeTiming();
    table.reloadData();
    table.scrollToRowAtIndexPath(os::IndexPath{0, list->source->count - 1}, os::TableViewScrollPosition::Bottom, false);
    table.layoutIfNeeded();
    benchmark::DoNotOptimize(table.contentOffset().y);
    state.PauseTiming();
    list.reset();
    state.ResumeTiming();
  }
}

// Each row measured once, as it arrives.
void BaselineMeasureEachRowOnce(benchmark::State& state) {
  const long rows = state.range(0);
  for (auto _ : state) {
    std::vector<double> heights;
    double total = 0;
    while (static_cast<long>(heights.size()) < rows) {
      for (long i = 0; i < kPage; ++i) {
        heights.push_back(titleHeight(static_cast<long>(heights.size())));
        total += heights.back();
      }
    }
    benchmark::DoNotOptimize(total);
  }
}

std::vector<std::shared_ptr<os::View>> childrenOf(os::View& parent, long count) {
  std::vector<std::shared_ptr<os::View>> children;
  for (long i = 0; i < count; ++i) {
    children.push_back(os::makeView<os::View>(os::Rect(0, static_cast<double>(i), 10, 1)));
    parent.addSubview(children.back());
  }
  return children;
}

// Every subview removed, first to last, as a screen that rebuilds its content does.
void RemoveSubviewsOneByOne(benchmark::State& state) {
  const long count = state.range(0);
  for (auto _ : state) {
    state.PauseTiming();
    auto parent = std::make_shared<os::View>();
    auto children = childrenOf(*parent, count);
    state.ResumeTiming();
    for (auto& child : std::vector<std::shared_ptr<os::View>>(parent->subviews())) child->removeFromSuperview();
    benchmark::DoNotOptimize(parent->subviews().size());
    state.PauseTiming();
    children.clear();
    parent.reset();
    state.ResumeTiming();
  }
}

// The same views let go one by one from a vector that keeps its places.
void BaselineDropFromVector(benchmark::State& state) {
  const long count = state.range(0);
  for (auto _ : state) {
    state.PauseTiming();
    auto parent = std::make_shared<os::View>();
    auto children = childrenOf(*parent, count);
    std::vector<std::shared_ptr<os::View>> held = children;
    state.ResumeTiming();
    for (auto& child : held) child.reset();
    held.clear();
    benchmark::DoNotOptimize(held.size());
    state.PauseTiming();
    children.clear();
    parent.reset();
    state.ResumeTiming();
  }
}

// As many targets as pending performs; each target's performs cancelled in turn.
void CancelAmongPendingPerforms(benchmark::State& state) {
  const long count = state.range(0);
  auto loop = os::RunLoop::current();
  std::vector<char> targets(static_cast<std::size_t>(count));
  for (auto _ : state) {
    state.PauseTiming();
    for (auto& target : targets) loop->performAfterDelay(&target, 3600, [] {});
    state.ResumeTiming();
    for (auto& target : targets) loop->cancelPreviousPerforms(&target);
    benchmark::DoNotOptimize(loop->timerCount());
  }
}

// The same tasks kept in a hash map by target, each target's erased.
void BaselineEraseByTarget(benchmark::State& state) {
  const long count = state.range(0);
  std::vector<char> targets(static_cast<std::size_t>(count));
  for (auto _ : state) {
    state.PauseTiming();
    std::unordered_multimap<const void*, std::function<void()>> pending;
    for (auto& target : targets) pending.emplace(&target, [] {});
    state.ResumeTiming();
    for (auto& target : targets) pending.erase(&target);
    benchmark::DoNotOptimize(pending.size());
  }
}

BENCHMARK(ReachRowsPageByPage)->Arg(250)->Arg(1000)->Arg(4000)->Unit(benchmark::kMillisecond);
BENCHMARK(ScrollToTheLastRowAfterAReload)->Arg(250)->Arg(1000)->Arg(4000)->Unit(benchmark::kMillisecond);
BENCHMARK(BaselineMeasureEachRowOnce)->Arg(250)->Arg(1000)->Arg(4000)->Unit(benchmark::kMillisecond);
BENCHMARK(RemoveSubviewsOneByOne)->Arg(625)->Arg(2500)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BaselineDropFromVector)->Arg(625)->Arg(2500)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(CancelAmongPendingPerforms)->Arg(500)->Arg(2000)->Arg(8000)->Unit(benchmark::kMillisecond);
BENCHMARK(BaselineEraseByTarget)->Arg(500)->Arg(2000)->Arg(8000)->Unit(benchmark::kMillisecond);

}  // namespace

NEWSREADER_BENCH_MAIN()
