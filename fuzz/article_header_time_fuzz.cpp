// fuzz-link: news
// The time text the news server writes in an article's header, shown in the device's time zone:
// a time the header can read comes out as "yyyy-MM-dd HH:mm", anything else exactly as written.
#include "fuzz/support/FuzzSupport.h"
#include "news/article/VXNewsDetailHeaderDO.h"

namespace {

std::vector<fuzz::Seed> seeds() {
  return {
      {"beijing", "2026-12-05 19:34"},
      {"seconds", "1796470440"},
      {"partial", "12-07 08:00"},
      {"signs", "2026-12-05 -1:-5"},
      {"month", "2026-13-05 19:34"},
  };
}
FUZZ_SEEDS(seeds);

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string written(reinterpret_cast<const char*>(data), size);
  VXNewsDetailHeaderDO header(os::Dictionary{{"content", "标题"}, {"time", written}});
  std::string shown = header.displayTime();
  bool formatted = shown.size() == 16 && shown[4] == '-' && shown[7] == '-' && shown[10] == ' ' && shown[13] == ':';
  fuzz::check(shown == written || formatted, "a header time neither read nor kept as written");
  return 0;
}
