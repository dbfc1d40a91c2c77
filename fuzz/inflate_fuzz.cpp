// fuzz-link: os
// The inflater takes bodies from servers and peers: any input must end in data within the cap or an
// error, and what it inflates must deflate and inflate back to itself.
#include "fuzz/support/FuzzSupport.h"
#include "os/core/Compression.h"

namespace {

constexpr std::size_t kCap = 1 << 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // The first byte picks the format, so one corpus reaches every wrapper.
  const os::InflateFormat formats[] = {os::InflateFormat::Detect, os::InflateFormat::Gzip, os::InflateFormat::Zlib,
                                       os::InflateFormat::Raw};
  os::InflateFormat format = formats[data[0] % 4];
  os::Data input(data + 1, data + size);
  os::Error error;
  auto out = os::inflateData(input, kCap, format, &error);
  if (!out) {
    fuzz::check(error.domain == os::kCompressionErrorDomain, "a refused stream must say why");
    return 0;
  }
  fuzz::check(out->size() <= kCap, "output past the cap");
  auto again = os::gzipData(*out);
  fuzz::check(again.has_value(), "inflated bytes do not compress");
  auto back = os::inflateData(*again, kCap);
  fuzz::check(back && *back == *out, "a round trip changed the bytes");
  return 0;
}
