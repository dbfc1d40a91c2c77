#include "fuzz/support/FuzzSupport.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace fuzz {

namespace {

std::vector<SeedGenerator>& generators() {
  static std::vector<SeedGenerator> list;
  return list;
}

std::vector<Setup>& setups() {
  static std::vector<Setup> list;
  return list;
}

int writeSeeds(const std::filesystem::path& dir) {
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec) {
    std::fprintf(stderr, "fuzz: cannot make %s: %s\n", dir.c_str(), ec.message().c_str());
    return 1;
  }
  std::size_t count = 0;
  for (SeedGenerator generate : generators()) {
    for (const Seed& seed : generate()) {
      if (seed.name.empty() || seed.name.find('/') != std::string::npos) {
        std::fprintf(stderr, "fuzz: bad seed name \"%s\"\n", seed.name.c_str());
        return 1;
      }
      std::ofstream out(dir / seed.name, std::ios::binary | std::ios::trunc);
      out.write(seed.bytes.data(), static_cast<std::streamsize>(seed.bytes.size()));
      if (!out) {
        std::fprintf(stderr, "fuzz: cannot write %s\n", (dir / seed.name).c_str());
        return 1;
      }
      ++count;
    }
  }
  std::fprintf(stderr, "fuzz: wrote %zu seeds to %s\n", count, dir.c_str());
  return 0;
}

double threadSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Every seed (written by the target's generators or found in the corpus folders it was given) is
// repeated up to kGrownSize bytes and read once; a reader whose work grows with the square of its
// input takes seconds where one pass takes milliseconds. Processor time of this thread is what is
// bounded, so a busy machine does not make a sound reader fail.
constexpr std::size_t kGrownSize = 64 * 1024;
constexpr double kGrownBoundSeconds = 1.0;

int checkGrowth(int argc, char** argv) {
  std::vector<Seed> inputs;
  for (SeedGenerator generate : generators())
    for (Seed& seed : generate()) inputs.push_back(std::move(seed));
  for (int i = 1; i < argc; ++i) {
    std::error_code ec;
    if (argv[i][0] == '-' || !std::filesystem::is_directory(argv[i], ec)) continue;
    for (const auto& entry : std::filesystem::directory_iterator(argv[i], ec)) {
      std::ifstream in(entry.path(), std::ios::binary);
      inputs.push_back({entry.path().filename().string(), std::string(std::istreambuf_iterator<char>(in), {})});
    }
  }
  std::size_t checked = 0;
  double slowest = 0;
  std::string slowestName;
  for (const Seed& seed : inputs) {
    if (seed.bytes.empty() || seed.bytes.size() >= kGrownSize) continue;
    std::string grown;
    grown.reserve(kGrownSize);
    while (grown.size() + seed.bytes.size() <= kGrownSize) grown += seed.bytes;
    double start = threadSeconds();
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(grown.data()), grown.size());
    double took = threadSeconds() - start;
    ++checked;
    if (took > slowest) slowest = took, slowestName = seed.name;
    if (took > kGrownBoundSeconds) {
      std::fprintf(stderr, "fuzz: seed \"%s\" repeated to %zu bytes took %.2f s of processor time (bound %.2f s): the reader grows faster than its input\n",
                   seed.name.c_str(), grown.size(), took, kGrownBoundSeconds);
      return 1;
    }
  }
  std::fprintf(stderr, "fuzz: %zu seeds grown to %zu bytes, slowest %.3f s (%s)\n", checked, kGrownSize, slowest, slowestName.c_str());
  return 0;
}

}  // namespace

bool registerSeedGenerator(SeedGenerator generator) {
  generators().push_back(generator);
  return true;
}

bool registerSetup(Setup setup) {
  setups().push_back(setup);
  return true;
}

std::string Input::until(char separator) {
  std::string out;
  while (pos_ < size_) {
    char c = static_cast<char>(data_[pos_++]);
    if (c == separator) break;
    out += c;
  }
  return out;
}

std::string Input::rest() {
  std::string out(reinterpret_cast<const char*>(data_) + pos_, size_ - pos_);
  pos_ = size_;
  return out;
}

void fail(std::string_view what) {
  std::fprintf(stderr, "fuzz: %.*s\n", static_cast<int>(what.size()), what.data());
  std::abort();
}

}  // namespace fuzz

// libFuzzer calls this before it reads its own flags, and ignores flags that start with "--".
// `--check-growth` reads every seed grown large before fuzzing starts, and stops with an error
// when one takes too long (see checkGrowth).
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  constexpr const char* kWriteSeeds = "--write-seeds=";
  bool growth = false;
  for (int i = 1; i < *argc; ++i) {
    const char* arg = (*argv)[i];
    if (std::strncmp(arg, kWriteSeeds, std::strlen(kWriteSeeds)) == 0)
      std::exit(fuzz::writeSeeds(arg + std::strlen(kWriteSeeds)));
    if (std::strcmp(arg, "--check-growth") == 0) growth = true;
  }
  for (fuzz::Setup setup : fuzz::setups()) setup();
  if (growth && fuzz::checkGrowth(*argc, *argv) != 0) std::exit(1);
  return 0;
}
