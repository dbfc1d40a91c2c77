// fuzz-link: sharing
// The sharing component's disk cache index ("OBCache.plist"), as any bytes on disk may hold it:
// it reads as an index of dates or as an empty one, never a crash.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "sharing/widgets/OBCache.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto index = OBCache::readIndex(os::Data(data, data + size));
  for (const auto& [key, value] : index)
    if (!value.isDate()) std::abort();
  return 0;
}
