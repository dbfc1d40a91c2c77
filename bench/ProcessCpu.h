#pragma once
// Processor time beside wall time for every case of a bench program. Google Benchmark's own CPU
// figure is the calling thread's alone, which says nothing of a case whose work runs on other
// threads (a network thread, worker threads, the in-process test server) or spins while it waits.
// Here each case's report carries "cpu_ms": the user and system time of the whole process (and of
// the children it waited for) per iteration.
//
// The figure is taken between reports, which Google Benchmark makes right after each case ran (one
// repetition per run, as scripts/bench runs them). A case with a fixed iteration count ran just
// those iterations in that stretch: its figure is the processor time over them. A case whose
// iteration count was found by trial runs gets the processors' share the process used over the
// stretch (user + system over wall, trials included) times its own time per iteration.
//
// A program's main calls runCases (or is NEWSREADER_BENCH_MAIN()), which wraps the display
// reporter and the --benchmark_out file's.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace bench {

// User plus system time of this process and of its children that ended and were waited for, in
// seconds: a case that runs a program in a child counts the child's work too.
inline double processCpuSeconds() {
  const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
  rusage self{}, children{};
  ::getrusage(RUSAGE_SELF, &self);
  ::getrusage(RUSAGE_CHILDREN, &children);
  return seconds(self.ru_utime) + seconds(self.ru_stime) + seconds(children.ru_utime) + seconds(children.ru_stime);
}

// The processor time the process used between one case's report and the next, and its share of
// the wall time.
class CpuShare {
 public:
  void start() { last_ = now(); }
  // At the first report of a case, with the iterations its runs made: what was used since the
  // previous case's.
  void take(double iterations) {
    iterations_ = iterations;
    const Reading reading = now();
    const double wall = reading.wall - last_.wall;
    cpuSeconds_ = reading.cpu - last_.cpu;
    share_ = wall > 0 ? cpuSeconds_ / wall : 0;
    last_ = reading;
  }
  double share() const { return share_; }
  double cpuSeconds() const { return cpuSeconds_; }
  double iterations() const { return iterations_; }

 private:
  struct Reading {
    double wall = 0, cpu = 0;
  };
  static Reading now() {
    using namespace std::chrono;
    return {duration<double>(steady_clock::now().time_since_epoch()).count(), processCpuSeconds()};
  }
  Reading last_ = now();
  double share_ = 0;
  double cpuSeconds_ = 0;
  double iterations_ = 0;
};

// Passes every report on to `inner` with "cpu_ms" added. The display's wrapper takes the reading
// (it reports first); the file's reuses it.
class CpuReporter : public benchmark::BenchmarkReporter {
 public:
  CpuReporter(benchmark::BenchmarkReporter* inner, std::shared_ptr<CpuShare> share, bool takesShare)
      : inner_(inner), share_(std::move(share)), takesShare_(takesShare) {}

  bool ReportContext(const Context& context) override {
    // Google Benchmark points the outer reporter at the --benchmark_out file.
    inner_->SetOutputStream(&GetOutputStream());
    inner_->SetErrorStream(&GetErrorStream());
    if (takesShare_) share_->start();
    return inner_->ReportContext(context);
  }

  void ReportRuns(const std::vector<Run>& runs) override {
    // A case's runs and then its aggregates come in separate reports: one reading for both.
    if (takesShare_ && !runs.empty() && runs.front().run_name.str() != lastCase_) {
      // With a fixed count (no trial runs), the stretch ran just the repetitions' iterations.
      double iterations = 0;
      for (const Run& run : runs)
        if (run.run_type == Run::RT_Iteration) iterations += static_cast<double>(run.iterations);
      share_->take(iterations);
      lastCase_ = runs.front().run_name.str();
    }
    std::vector<Run> annotated = runs;
    for (Run& run : annotated) {
      if (run.error_occurred || run.iterations <= 0) continue;
      if (run.run_type == Run::RT_Aggregate && run.aggregate_unit != benchmark::kTime) continue;
      double ms;
      if (!run.run_name.iterations.empty() && share_->iterations() > 0) {
        ms = share_->cpuSeconds() * 1e3 / share_->iterations();
      } else {
        ms = share_->share() * run.real_accumulated_time * 1e3 / static_cast<double>(run.iterations);
      }
      run.counters["cpu_ms"] = benchmark::Counter(ms);
    }
    inner_->ReportRuns(annotated);
  }

  void Finalize() override { inner_->Finalize(); }

 private:
  benchmark::BenchmarkReporter* inner_;
  std::shared_ptr<CpuShare> share_;
  bool takesShare_;
  std::string lastCase_;
};

// Initialises Google Benchmark, runs the cases selected by the command line with `display` (the
// default display when null) and the --benchmark_out file, both with "cpu_ms", and shuts down.
// Returns main's exit status.
inline int runCases(int argc, char** argv, benchmark::BenchmarkReporter* display = nullptr) {
  // Read before Initialize takes the flags out of argv.
  bool toFile = false;
  std::string_view fileFormat = "json";
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg.rfind("--benchmark_out=", 0) == 0) toFile = true;
    if (arg.rfind("--benchmark_out_format=", 0) == 0) fileFormat = arg.substr(arg.find('=') + 1);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  auto share = std::make_shared<CpuShare>();
  CpuReporter shownWithCpu(display ? display : benchmark::CreateDefaultDisplayReporter(), share, true);
  std::unique_ptr<benchmark::BenchmarkReporter> file;
  if (toFile && fileFormat == "json") file = std::make_unique<benchmark::JSONReporter>();
  if (toFile && fileFormat == "console") file = std::make_unique<benchmark::ConsoleReporter>(benchmark::ConsoleReporter::OO_None);
  if (file) {
    CpuReporter fileWithCpu(file.get(), share, false);
    benchmark::RunSpecifiedBenchmarks(&shownWithCpu, &fileWithCpu);
  } else {
    // Another file format is written as Google Benchmark writes it, without the figure.
    benchmark::RunSpecifiedBenchmarks(&shownWithCpu);
  }
  benchmark::Shutdown();
  return 0;
}

}  // namespace bench

#define NEWSREADER_BENCH_MAIN() \
  int main(int argc, char** argv) { return bench::runCases(argc, argv); }
