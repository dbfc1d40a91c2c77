// JSON reading and writing against a widely used header-only reader/writer, on two documents made
// here: a news list of about 1 MB (many small records with repeated keys and Chinese text) and a
// nested document of about 100 KB (objects and arrays up to 25 levels deep).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "bench/ProcessCpu.h"
#include "foundation/formats/JSONDecoder.h"
#include "foundation/formats/JSONTideDeserializing.h"
#include "foundation/formats/JSONTideSerializing.h"
#include "foundation/formats/JSONTraceParser.h"
#include "foundation/formats/JSONTraceWriter.h"

namespace {

std::string newsList(std::size_t targetBytes) {
  static const char* const kTitles[] = {"国务院常务会议部署稳就业措施", "科技公司发布新一代手机芯片",
                                        "今年秋粮收购进度过半", "Markets rally as rates hold steady",
                                        "城市地铁新线路今日开通运营", "\u201c双十一\u201d快递量创新高"};
  std::string s = "{\"code\":0,\"msg\":\"ok\",\"data\":{\"total\":0,\"list\":[";
  for (unsigned i = 0; s.size() < targetBytes; ++i) {
    if (i) s += ',';
    char buf[768];
    std::snprintf(buf, sizeof buf,
                  "{\"id\":%u,\"newsId\":\"%08x\",\"title\":\"%s %u\",\"digest\":\"%s\\n\\u8bb0\\u8005\\u62a5\\u9053 / %u\","
                  "\"url\":\"http://news.example.com/a/%u.html?from=list&pos=%u\",\"category\":\"%s\",\"pubTime\":%u,"
                  "\"comments\":%u,\"score\":%u.%02u,\"hot\":%s,\"video\":null,"
                  "\"imgs\":[\"http://img.example.com/%u_1.jpg\",\"http://img.example.com/%u_2.jpg\"]}",
                  i, i * 2654435761u, kTitles[i % 6], i, kTitles[(i + 3) % 6], i, 1000000 + i, i % 20,
                  i % 3 ? "news" : "sports", 1796574605u - i * 60, i * 7 % 1000, i % 10, i % 100,
                  i % 5 ? "false" : "true", i, i);
    s += buf;
  }
  s += "]}}";
  return s;
}

void nestedInto(std::string& s, int depth, unsigned& counter, std::size_t limit) {
  const unsigned n = ++counter;
  // Past the size wanted, branches end in leaves at once.
  if (depth == 0 || s.size() >= limit) {
    s += std::to_string(n * 31 % 1000);
    s += ".5";
    return;
  }
  s += "{\"name\":\"node";
  s += std::to_string(n);
  s += n % 2 ? "\",\"flag\":true,\"items\":[" : "\",\"flag\":false,\"items\":[";
  for (int i = 0; i < 2; ++i) {
    if (i) s += ',';
    s += '[';
    s += std::to_string(n);
    s += ",-";
    s += std::to_string(n * 3);
    s += ',';
    nestedInto(s, depth - 1, counter, limit);
    s += ']';
  }
  s += "],\"child\":";
  nestedInto(s, depth - 1, counter, limit);
  s += '}';
}

std::string nestedDocument(std::size_t targetBytes) {
  std::string s = "[";
  unsigned counter = 0;
  nestedInto(s, 8, counter, targetBytes);
  s += ']';
  return s;
}

const std::string& document(int which) {
  static const std::string news = newsList(1 << 20);
  static const std::string nested = nestedDocument(100 << 10);
  return which == 0 ? news : nested;
}

void ParseOurs(benchmark::State& state) {
  const std::string& text = document(static_cast<int>(state.range(0)));
  JSONDecoder decoder;
  for (auto _ : state) {
    auto v = decoder.objectWithUTF8String(text.data(), text.size());
    if (!v) state.SkipWithError("parse failed");
    benchmark::DoNotOptimize(v);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void ParseBaseline(benchmark::State& state) {
  const std::string& text = document(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    rapidjson::Document d;
    d.Parse(text.data(), text.size());
    if (d.HasParseError()) state.SkipWithError("parse failed");
    benchmark::DoNotOptimize(d);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void WriteOurs(benchmark::State& state) {
  const std::string& text = document(static_cast<int>(state.range(0)));
  const auto value = objectFromJSONString(text);
  if (!value) {
    state.SkipWithError("parse failed");
    return;
  }
  for (auto _ : state) {
    auto out = JSONString(*value);
    if (!out) state.SkipWithError("write failed");
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void WriteBaseline(benchmark::State& state) {
  const std::string& text = document(static_cast<int>(state.range(0)));
  rapidjson::Document d;
  d.Parse(text.data(), text.size());
  for (auto _ : state) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    d.Accept(writer);
    benchmark::DoNotOptimize(buffer.GetString());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

// The codec with error trace (the QQ Connect, Renren and sharing copies) on the same documents.
void ParseTrace(benchmark::State& state) {
  const std::string& text = document(static_cast<int>(state.range(0)));
  JSONTraceParser parser(JSONTraceProfile::qqConnect());
  for (auto _ : state) {
    auto v = parser.objectWithString(text);
    if (!v) state.SkipWithError("parse failed");
    benchmark::DoNotOptimize(v);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void WriteTrace(benchmark::State& state) {
  const std::string& text = document(static_cast<int>(state.range(0)));
  const auto value = JSONTraceParser(JSONTraceProfile::qqConnect()).objectWithString(text);
  if (!value) {
    state.SkipWithError("parse failed");
    return;
  }
  JSONTraceWriter writer(JSONTraceProfile::qqConnect());
  for (auto _ : state) {
    auto out = writer.stringWithObject(*value);
    if (!out) state.SkipWithError("write failed");
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

// No reading at all: a copy of the tree the reader builds, made node by node as the reader makes
// it, then freed. What this costs is the share of a decode that belongs to the tree of values
// itself (its strings, arrays and dictionaries and their allocations), not to the reader.
os::Value copyTree(const os::Value& v) {
  if (const os::Array* a = v.array()) {
    os::Array out;
    out.reserve(a->size());
    for (const auto& e : *a) out.push_back(copyTree(e));
    return os::Value(std::move(out));
  }
  if (const os::Dictionary* d = v.dictionary()) {
    os::Dictionary out;
    out.reserve(d->size());
    for (const auto& [k, e] : *d) out.set(k, copyTree(e));
    return os::Value(std::move(out));
  }
  if (const std::string* s = v.string()) return os::Value(*s);
  return v;
}

void ValueTreeCopy(benchmark::State& state) {
  const std::string& text = document(static_cast<int>(state.range(0)));
  const auto value = objectFromJSONString(text);
  for (auto _ : state) {
    auto copy = copyTree(*value);
    benchmark::DoNotOptimize(copy);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

// Argument 0 is the news list, 1 the nested document.
BENCHMARK(ParseOurs)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(ParseBaseline)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(WriteOurs)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(WriteBaseline)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(ParseTrace)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(WriteTrace)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(ValueTreeCopy)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// The console report, then each of our cases beside its baseline (medians when the cases repeat).
class ComparingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred || (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median")) continue;
      Figures& f = figures_[run.run_name.str()];
      // A median stands for the case; a single run only when no median came.
      if (run.run_type != Run::RT_Aggregate && f.median) continue;
      f = {run.GetAdjustedRealTime(), run.GetAdjustedCPUTime(), run.run_type == Run::RT_Aggregate};
    }
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    static const char* const kPairs[][3] = {
        {"ParseOurs", "ParseBaseline", "decode"},          {"WriteOurs", "WriteBaseline", "encode"},
        {"ParseTrace", "ParseBaseline", "decode, error trace"}, {"WriteTrace", "WriteBaseline", "encode, error trace"},
        {"ValueTreeCopy", "ParseBaseline", "value tree alone"}};
    static const char* const kDocuments[] = {"1 MB news list", "100 KB nested"};
    std::printf("\n%-40s %12s %12s %8s %10s\n", "ours vs baseline (us)", "ours", "baseline", "ratio", "cpu ratio");
    for (const auto& pair : kPairs) {
      for (int which = 0; which < 2; ++which) {
        char ourName[64], baseName[64], label[64];
        std::snprintf(ourName, sizeof ourName, "%s/%d", pair[0], which);
        std::snprintf(baseName, sizeof baseName, "%s/%d", pair[1], which);
        std::snprintf(label, sizeof label, "%s, %s", pair[2], kDocuments[which]);
        auto ours = figures_.find(ourName), base = figures_.find(baseName);
        if (ours == figures_.end() || base == figures_.end()) continue;
        std::printf("%-40s %12.1f %12.1f %7.2fx %9.2fx\n", label, ours->second.real, base->second.real,
                    ours->second.real / base->second.real, ours->second.cpu / base->second.cpu);
      }
    }
    std::fflush(stdout);
  }

 private:
  struct Figures {
    double real = 0, cpu = 0;
    bool median = false;
  };
  std::map<std::string, Figures> figures_;
};

}  // namespace

int main(int argc, char** argv) {
  // Both readers must agree on the documents before their speed means anything.
  for (int which = 0; which < 2; ++which) {
    const std::string& text = document(which);
    rapidjson::Document d;
    d.Parse(text.data(), text.size());
    auto ours = objectFromJSONString(text);
    if (d.HasParseError() || !ours) {
      std::fprintf(stderr, "document %d does not parse\n", which);
      return 1;
    }
    auto again = objectFromJSONString(*JSONString(*ours));
    if (!again || !(*again == *ours)) {
      std::fprintf(stderr, "document %d does not survive a round trip\n", which);
      return 1;
    }
    JSONTraceParser traceParser(JSONTraceProfile::qqConnect());
    auto traced = traceParser.objectWithString(text);
    auto tracedText = traced ? JSONTraceWriter(JSONTraceProfile::qqConnect()).stringWithObject(*traced) : std::nullopt;
    if (!traced || !(*traced == *ours) || !tracedText || !(*traceParser.objectWithString(*tracedText) == *ours)) {
      std::fprintf(stderr, "document %d: the codec with error trace disagrees\n", which);
      return 1;
    }
    std::fprintf(stderr, "document %d: %zu bytes\n", which, text.size());
  }
  // The comparison follows the console report only; another format asked for is left as it is.
  bool console = true;
  for (int i = 1; i < argc; ++i)
    if (std::string(argv[i]).rfind("--benchmark_format=", 0) == 0) console = std::string(argv[i]) == "--benchmark_format=console";
  ComparingReporter reporter;
  return bench::runCases(argc, argv, console ? &reporter : nullptr);
}
