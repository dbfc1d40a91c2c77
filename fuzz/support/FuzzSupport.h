#pragma once
// What every fuzz target may use beside LLVMFuzzerTestOneInput.
//
// Seeds: a target that can make good starting inputs with the project's own writers registers a
// generator; `<target> --write-seeds=DIR -runs=0` writes them to DIR (scripts/fuzz does this before
// each run), so the seed corpus follows the formats as the code writes them today. Committed seeds
// may sit beside them in fuzz/corpus/<name>/.
//
// The support file owns LLVMFuzzerInitialize, so a target does its one-time setup lazily (a
// function-local static) or registers it with FUZZ_SETUP.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace fuzz {

struct Seed {
  std::string name;   // file name inside the seed folder
  std::string bytes;
};
using SeedGenerator = std::vector<Seed> (*)();
using Setup = void (*)();

// Register at static initialisation (use the macros below).
bool registerSeedGenerator(SeedGenerator generator);
bool registerSetup(Setup setup);

// Reads an input as a sequence of choices and byte runs, so one fuzz input can drive options and
// several texts at once. Past the end, every read answers zero or empty.
class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  bool flag() { return byte() & 1; }
  // The text up to the next `separator` byte (not included) or the end.
  std::string until(char separator);
  std::string rest();
  bool empty() const { return pos_ >= size_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// Stops the run with a message libFuzzer reports as a crash (and saves the input).
[[noreturn]] void fail(std::string_view what);
inline void check(bool condition, std::string_view what) {
  if (!condition) fail(what);
}

}  // namespace fuzz

#define FUZZ_JOIN2(a, b) a##b
#define FUZZ_JOIN(a, b) FUZZ_JOIN2(a, b)
// FUZZ_SEEDS(function returning std::vector<fuzz::Seed>)
#define FUZZ_SEEDS(generator) \
  static const bool FUZZ_JOIN(fuzzSeeds_, __LINE__) = ::fuzz::registerSeedGenerator(generator)
// FUZZ_SETUP(function run once before the first input)
#define FUZZ_SETUP(setup) static const bool FUZZ_JOIN(fuzzSetup_, __LINE__) = ::fuzz::registerSetup(setup)
