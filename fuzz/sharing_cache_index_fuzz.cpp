// fuzz-link: sharing
// The sharing component's disk cache index ("OBCache.plist"), as any bytes on disk may hold it:
// it reads as an index of dates or as an empty one, never a crash; every entry it lists is a file
// name of the cache's own (never empty, never a path, never the index), and the index it read can
// always be written back.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/support/SameValue.h"
#include "os/store/PropertyList.h"
#include "sharing/widgets/OBCache.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Read as a folder would answer it: with no files, with every file, and with files under the
  // names holding an even count of "%" (a name escaped once more holds twice as many: so an entry
  // may miss its file while the file of a key equal to it is there), at a fixed time so that live
  // and expired entries both come.
  const os::Data bytes(data, data + size);
  const os::Date now = os::Date::fromTimeIntervalSince1970(1.7e9);
  const auto hasFile = [](const std::string& name) { return std::count(name.begin(), name.end(), '%') % 2 == 0; };
  auto index = OBCache::readIndex(bytes, {}, now);
  auto everyFile = OBCache::readIndex(bytes, [](const std::string&) { return true; }, now);
  auto someFiles = OBCache::readIndex(bytes, hasFile, now);
  // An entry whose own file is there is never read as anything else (a date that is not a number
  // never equals itself, yet two readings of it are the same).
  if (!fuzz::sameValue(os::Value(everyFile), os::Value(index))) std::abort();
  // Each entry is read on its own: the files move only entries whose own file is missing, each to
  // a name of its own, so a name with its file stays and no entry is lost.
  if (someFiles.size() < index.size()) std::abort();
  for (const auto& [name, value] : index)
    if (!someFiles.contains(name) && hasFile(name)) std::abort();
  for (const auto& read : {index, someFiles})
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
