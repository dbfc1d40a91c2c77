// fuzz-link: foundation os
// The sharing component's copy of the JSON codec with error trace, its parser and writer used
// directly: what parses is written back in both layouts and reads back the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "foundation/formats/JSONTraceParser.h"
#include "foundation/formats/JSONTraceWriter.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  JSONTraceParser parser(JSONTraceProfile::sharing());
  auto value = parser.fragmentWithString(text);
  if (!value) return 0;
  JSONTraceWriter writer(JSONTraceProfile::sharing());
  for (bool human : {false, true}) {
    writer.setHumanReadable(human);
    writer.setSortKeys(human);
    auto written = writer.stringWithFragment(*value);
    if (!written) std::abort();
    auto again = parser.fragmentWithString(*written);
    if (!again || !(*again == *value)) std::abort();
  }
  return 0;
}
