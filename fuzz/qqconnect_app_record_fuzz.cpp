// fuzz-link: qqconnect platforms qqconnect_core foundation os
// App-to-app record archives as QQ or QZone leave them on the pasteboard: only the record classes
// are made, within the size limit, and a record that is made archives again and reads back as
// the same class.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/support/FuzzSupport.h"
#include "os/store/KeyedArchive.h"
#include "qqconnect/apptoapp/VelmoraApiInterface.h"
#include "qqconnect/apptoapp/VelmoraApiObject.h"

namespace {

std::vector<fuzz::Seed> seeds() {
  std::vector<fuzz::Seed> out;
  auto add = [&out](const char* name, const std::shared_ptr<os::Archivable>& record) {
    if (auto data = os::KeyedArchiver::archivedData(record, "object"))
      out.push_back({name, std::string(data->begin(), data->end())});
  };
  add("text", VelmoraTextMessageObjV1::initWithText("分享一条新闻"));
  add("empty_text", VelmoraTextMessageObjV1::initWithText(std::nullopt));
  return out;
}
FUZZ_SEEDS(seeds);

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto record = VelmoraMessageParse::unarchive(os::Data(data, data + size));
  if (!record) return 0;
  (void)VelmoraMessagePack::messageVaild(record);
  auto again = os::KeyedArchiver::archivedData(record, "object");
  fuzz::check(again.has_value(), "a record read from an archive archives again");
  auto back = VelmoraMessageParse::unarchive(*again);
  fuzz::check(back && back->archiveClassNames() == record->archiveClassNames(), "a record reads back as its own class");
  return 0;
}
