// fuzz-link: foundation os
// The QQ Connect copy of the JSON codec with error trace, as the OpenAPI request uses it: any
// text either parses, and then survives a write and a second parse unchanged, or fails with a
// trace whose errors carry the codec's codes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "foundation/formats/JSONTraceFacade.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  JSONTraceFacade json(JSONTraceProfile::qqConnect());
  os::Error error;
  auto value = json.fragmentWithString(text, &error);
  if (!value) {
    if (json.errorTrace().empty() || error.code < 1 || error.code > 12) std::abort();
    return 0;
  }
  auto written = json.stringWithFragment(*value, nullptr);
  if (!written) std::abort();
  auto again = json.fragmentWithString(*written, nullptr);
  if (!again || !(*again == *value)) std::abort();
  return 0;
}
