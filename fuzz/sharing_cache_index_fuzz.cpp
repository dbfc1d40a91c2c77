// fuzz-link: sharing
// The sharing component's disk cache index ("OBCache.plist"), as any bytes on disk may hold it:
// it reads as an index of dates or as an empty one, never a crash; every entry it lists is a file
// name of the cache's own (never empty, never a path, never the index), and the index it read can
// always be written back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "os/store/PropertyList.h"
#include "sharing/widgets/OBCache.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Read as a folder would answer it: with no files, and with files under the names of even length
  // (so the files that tell an older index of keys from one of names are asked too).
  auto index = OBCache::readIndex(os::Data(data, data + size));
  auto bySize = OBCache::readIndex(os::Data(data, data + size), [](const std::string& name) { return name.size() % 2 == 0; });
  for (const auto& read : {index, bySize})
    for (const auto& [name, value] : read) {
      if (!value.isDate()) std::abort();
      if (!OBCache::isFileName(name) || name.empty() || name == "." || name == ".." || name == kOBCacheIndexName) std::abort();
      if (name.find('/') != std::string::npos || name.find('\0') != std::string::npos) std::abort();
    }
  if (!os::PropertyList::write(os::Value(index), os::PropertyListFormat::Binary)) std::abort();
  // Every key, whatever its bytes, gets such a name.
  std::string key(reinterpret_cast<const char*>(data), size);
  auto name = OBCache::fileNameForKey(key);
  if (!OBCache::isFileName(name) || name.empty() || name.find('/') != std::string::npos || name == "." || name == "..")
    std::abort();
  return 0;
}
