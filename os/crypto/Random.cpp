#include "os/crypto/Random.h"

#include <openssl/rand.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "os/crypto/CryptoLibrary.h"

namespace os {

namespace {

class SecureRandomSource : public RandomSource {
 public:
  void fill(std::uint8_t* out, std::size_t size) override {
    CryptoLibraryUse use;
    // The library only fails when it cannot seed itself; going on with predictable bytes would be worse.
    if (size && RAND_bytes(out, static_cast<int>(size)) != 1) {
      std::fprintf(stderr, "secure random source failed\n");
      std::abort();
    }
  }
};

// Never destroyed: work on other threads may still draw bytes while the process exits.
std::mutex& sourceMutex() {
  static auto* m = new std::mutex;
  return *m;
}

std::shared_ptr<RandomSource>& currentSource() {
  static auto* s = new std::shared_ptr<RandomSource>(std::make_shared<SecureRandomSource>());
  return *s;
}

}  // namespace

void SeededRandomSource::fill(std::uint8_t* out, std::size_t size) {
  // splitmix64: small, fast and well spread for tests.
  for (std::size_t i = 0; i < size;) {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    for (int b = 0; b < 8 && i < size; ++b, ++i) out[i] = static_cast<std::uint8_t>(z >> (8 * b));
  }
}

std::shared_ptr<RandomSource> setRandomSource(std::shared_ptr<RandomSource> source) {
  std::lock_guard lock(sourceMutex());
  auto previous = currentSource();
  currentSource() = source ? std::move(source) : std::make_shared<SecureRandomSource>();
  return previous;
}

std::shared_ptr<RandomSource> randomSource() {
  std::lock_guard lock(sourceMutex());
  return currentSource();
}

Data randomBytes(std::size_t size) {
  Data out(size);
  if (size) randomSource()->fill(out.data(), size);
  return out;
}

std::uint32_t random32() {
  std::uint8_t b[4];
  randomSource()->fill(b, 4);
  return std::uint32_t(b[0]) | std::uint32_t(b[1]) << 8 | std::uint32_t(b[2]) << 16 | std::uint32_t(b[3]) << 24;
}

std::uint32_t randomUniform(std::uint32_t upperBound) {
  if (upperBound < 2) return 0;
  // Reject the low values that would make some results more likely than others.
  std::uint32_t min = (0u - upperBound) % upperBound;
  for (;;) {
    std::uint32_t r = random32();
    if (r >= min) return r % upperBound;
  }
}

std::string uuidString() {
  Data b = randomBytes(16);
  b[6] = static_cast<std::uint8_t>((b[6] & 0x0F) | 0x40);
  b[8] = static_cast<std::uint8_t>((b[8] & 0x3F) | 0x80);
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (std::size_t i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
    out += digits[b[i] >> 4];
    out += digits[b[i] & 15];
  }
  return out;
}

}  // namespace os
