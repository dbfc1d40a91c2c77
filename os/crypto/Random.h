#pragma once
// The one source of randomness: secure by default, replaceable by a seeded one in tests.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "os/core/Data.h"

namespace os {

class RandomSource {
 public:
  virtual ~RandomSource() = default;
  virtual void fill(std::uint8_t* out, std::size_t size) = 0;
};

// Reproducible bytes from a 64-bit seed (tests only: not secure).
class SeededRandomSource : public RandomSource {
 public:
  explicit SeededRandomSource(std::uint64_t seed) : state_(seed) {}
  void fill(std::uint8_t* out, std::size_t size) override;

 private:
  std::uint64_t state_;
};

// The process-wide source; an empty pointer restores the secure one. Returns the previous source.
std::shared_ptr<RandomSource> setRandomSource(std::shared_ptr<RandomSource> source);
std::shared_ptr<RandomSource> randomSource();

Data randomBytes(std::size_t size);
std::uint32_t random32();
// Uniform in [0, upperBound), without modulo bias; 0 for a bound of 0.
std::uint32_t randomUniform(std::uint32_t upperBound);
// A version-4 UUID as 36 upper-case characters, 8-4-4-4-12.
std::string uuidString();

// Installs a seeded source for the lifetime of the object (tests).
class SeededRandomScope {
 public:
  explicit SeededRandomScope(std::uint64_t seed)
      : previous_(setRandomSource(std::make_shared<SeededRandomSource>(seed))) {}
  ~SeededRandomScope() { setRandomSource(previous_); }
  SeededRandomScope(const SeededRandomScope&) = delete;
  SeededRandomScope& operator=(const SeededRandomScope&) = delete;

 private:
  std::shared_ptr<RandomSource> previous_;
};

}  // namespace os
