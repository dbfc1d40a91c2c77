#include "fuzz/support/FuzzSupport.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

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
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  constexpr const char* kWriteSeeds = "--write-seeds=";
  for (int i = 1; i < *argc; ++i) {
    const char* arg = (*argv)[i];
    if (std::strncmp(arg, kWriteSeeds, std::strlen(kWriteSeeds)) == 0)
      std::exit(fuzz::writeSeeds(arg + std::strlen(kWriteSeeds)));
  }
  for (fuzz::Setup setup : fuzz::setups()) setup();
  return 0;
}
