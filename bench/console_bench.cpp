// The reader's console.
// - TypeMegabyte: 1 MB typed into a text view with a counter as the share editor keeps one (each
//   character asks the delegate, changes the text, tells the delegate and posts the change), against
//   BaselineCopyMegabyte, copying the same megabyte once: typing costs in proportion to the text.
// - Answer/...: the program itself (app/newsreader) against the local news server, driven through
//   a pipe: from writing a command to the echo of the marker command sent behind it, which the
//   reader prints once the command is answered and its screen at rest. BaselineEchoProcess is the
//   same exchange with a process that only echoes its input (cat), the cost of the pipes and the
//   process switches alone.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "bench/ProcessCpu.h"
#include "os/console/TouchDriver.h"
#include "os/graphics/Geometry.h"
#include "os/views/Label.h"
#include "os/views/TextView.h"
#include "tools/newsd/server/NewsServer.h"

namespace {

std::string megabyteOfText() {
  std::string text;
  for (std::size_t i = 0; text.size() < (std::size_t{1} << 20); ++i) text += i % 7 == 6 ? "军 " : "ab";
  return text;
}

struct Counter : os::TextViewDelegate {
  std::shared_ptr<os::Label> label = std::make_shared<os::Label>();
  void textViewDidChange(os::TextView& view) override {
    label->setText(std::to_string(140 - static_cast<long>(view.textLength())));
  }
};

void TypeMegabyte(benchmark::State& state) {
  const std::string text = megabyteOfText();
  for (auto _ : state) {
    auto view = std::make_shared<os::TextView>(os::Rect(10, 10, 300, 120));
    auto counter = std::make_shared<Counter>();
    view->setDelegate(counter);
    if (!view->becomeFirstResponder() || !os::TouchDriver::typeText(*view, text)) {
      state.SkipWithError("the text view did not take the text");
      return;
    }
    benchmark::DoNotOptimize(view->text().data());
    view->resignFirstResponder();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(TypeMegabyte)->Unit(benchmark::kMillisecond);

void BaselineCopyMegabyte(benchmark::State& state) {
  const std::string text = megabyteOfText();
  for (auto _ : state) {
    std::string copy = text;
    benchmark::DoNotOptimize(copy.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BaselineCopyMegabyte)->Unit(benchmark::kMillisecond);

double now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

// A child process fed through one pipe and read through another.
class Piped {
 public:
  explicit Piped(std::vector<std::string> args) {
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) std::abort();
    pid_ = fork();
    if (pid_ == 0) {
      dup2(in[0], STDIN_FILENO);
      dup2(out[1], STDOUT_FILENO);
      int null = open("/dev/null", O_WRONLY);
      dup2(null, STDERR_FILENO);
      close(in[0]), close(in[1]), close(out[0]), close(out[1]);
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execvp(argv[0], argv.data());
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    to_ = in[1];
    from_ = out[0];
  }
  ~Piped() {
    close(to_);
    close(from_);
    int status;
    waitpid(pid_, &status, 0);
  }
  // Sends the lines and reads until `until` has come; false at the end of the output or after
  // `limit` seconds.
  bool exchange(const std::string& lines, const std::string& until, double limit = 60) {
    if (write(to_, lines.data(), lines.size()) != static_cast<ssize_t>(lines.size())) return false;
    const double end = now() + limit;
    for (;;) {
      if (auto at = seen_.find(until); at != std::string::npos) {
        seen_.erase(0, at + until.size());
        return true;
      }
      pollfd p{from_, POLLIN, 0};
      const double left = end - now();
      if (left <= 0 || poll(&p, 1, static_cast<int>(left * 1000) + 1) <= 0) return false;
      char buffer[65536];
      ssize_t n = read(from_, buffer, sizeof buffer);
      if (n <= 0) return false;
      seen_.append(buffer, static_cast<std::size_t>(n));
    }
  }

 private:
  pid_t pid_ = -1;
  int to_ = -1, from_ = -1;
  std::string seen_;
};

struct Reader {
  std::unique_ptr<newsd::NewsServer> news;
  std::unique_ptr<Piped> program;
  std::string home;
  bool ready = false;
  Reader() {
    news = std::make_unique<newsd::NewsServer>(newsd::ServerOptions{});
    auto port = news->start();
    char pattern[] = "/tmp/console_bench.XXXXXX";
    if (!port || !mkdtemp(pattern)) return;
    home = pattern;
    program = std::make_unique<Piped>(std::vector<std::string>{NEWSREADER_PROGRAM, "--home", home + "/home", "--server",
                                                               "http://127.0.0.1:" + std::to_string(*port)});
    // The first command waits for the splash and the first list.
    ready = program->exchange("wait 0\n", "> wait 0\n", 120);
  }
  ~Reader() {
    program.reset();
    news->stop();
    std::system(("rm -rf '" + home + "'").c_str());
  }
};

Reader& reader() {
  static Reader r;
  return r;
}

// From sending the command to the echo of the marker behind it.
void answer(benchmark::State& state, Piped& process, const std::vector<std::string>& commands,
            const std::string& echo = "> wait 0\n") {
  std::size_t turn = 0;
  for (auto _ : state) {
    const std::string& command = commands[turn++ % commands.size()];
    const double start = now();
    if (!process.exchange(command + "\nwait 0\n", echo)) {
      state.SkipWithError("no answer came");
      return;
    }
    state.SetIterationTime(now() - start);
  }
}

void Answer(benchmark::State& state, std::vector<std::string> commands) {
  if (!reader().ready) {
    state.SkipWithError("the reader did not start");
    return;
  }
  answer(state, *reader().program, commands);
}
BENCHMARK_CAPTURE(Answer, help, std::vector<std::string>{"help"})->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Answer, dump, std::vector<std::string>{"dump"})->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Answer, rows, std::vector<std::string>{"rows"})->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Answer, error, std::vector<std::string>{"tap 军情"})->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Answer, tab, std::vector<std::string>{"tap 中国军情", "tap 要闻"})
    ->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

void BaselineEchoProcess(benchmark::State& state) {
  Piped echo({"cat"});
  // It echoes the lines as they are, without the reader's "> ".
  answer(state, echo, {"help"}, "\nwait 0\n");
}
BENCHMARK(BaselineEchoProcess)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);

}  // namespace

NEWSREADER_BENCH_MAIN()
