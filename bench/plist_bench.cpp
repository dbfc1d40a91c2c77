// Property lists: one flat dictionary of 12,500, 50,000 and 200,000 keys (1x, 4x, 16x; the last
// about 12 MB of XML), as an offline article's answer or a cache index holds one, read and written
// in XML against the same dictionary read and written in the binary form in the same run.
#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "bench/ProcessCpu.h"
#include "os/store/PropertyList.h"

namespace {

os::Value flatDictionary(long keys) {
  std::vector<std::pair<std::string, os::Value>> entries;
  entries.reserve(static_cast<std::size_t>(keys));
  for (long i = 0; i < keys; ++i) {
    std::string key = "article-" + std::to_string(i * 2654435761u % 1000000007u);
    if (i % 2) entries.emplace_back(std::move(key), os::Value("标题 " + std::to_string(i)));
    else entries.emplace_back(std::move(key), os::Value::number('q', i * 1000003));
  }
  return os::Value::dictionaryMovingFrom(std::move(entries));
}

const os::Data& written(long keys, os::PropertyListFormat format) {
  static std::map<std::pair<long, int>, os::Data> made;
  auto& data = made[{keys, static_cast<int>(format)}];
  if (data.empty()) data = *os::PropertyList::write(flatDictionary(keys), format);
  return data;
}

void read(benchmark::State& state, os::PropertyListFormat format) {
  const os::Data& data = written(state.range(0), format);
  for (auto _ : state) {
    auto value = os::PropertyList::read(data);
    if (!value || value->count() != static_cast<std::size_t>(state.range(0))) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(value);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}

void write(benchmark::State& state, os::PropertyListFormat format) {
  const os::Value value = flatDictionary(state.range(0));
  for (auto _ : state) {
    auto data = os::PropertyList::write(value, format);
    if (!data) state.SkipWithError("write failed");
    benchmark::DoNotOptimize(data);
  }
}

void ReadXML(benchmark::State& state) { read(state, os::PropertyListFormat::XML); }
void BaselineReadBinary(benchmark::State& state) { read(state, os::PropertyListFormat::Binary); }
void WriteXML(benchmark::State& state) { write(state, os::PropertyListFormat::XML); }
void BaselineWriteBinary(benchmark::State& state) { write(state, os::PropertyListFormat::Binary); }

}  // namespace

BENCHMARK(ReadXML)->Arg(12500)->Arg(50000)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK(BaselineReadBinary)->Arg(12500)->Arg(50000)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK(WriteXML)->Arg(12500)->Arg(50000)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK(BaselineWriteBinary)->Arg(12500)->Arg(50000)->Arg(200000)->Unit(benchmark::kMillisecond);

NEWSREADER_BENCH_MAIN()
