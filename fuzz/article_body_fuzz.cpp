// fuzz-link: news
// The article body the news server sends as XML, turned into text and picture rows. A body that
// does not parse adds no rows; one that does yields only well-formed rows.
#include <cmath>

#include "fuzz/support/FuzzSupport.h"
#include "news/article/VXDetailXMLParseHelper.h"

namespace {

std::vector<fuzz::Seed> seeds() {
  return {
      {"article", "<body><p>\xE4\xB8\xAD\xE5\x9B\xBD\xE6\xB5\xB7\xE5\x86\x9B & \xE9\x99\x86\xE6\x88\x98\xE9\x98\x9F</p>"
                  "<p><img src=\"http://img.example/1.jpg\" width=\"640\" height=\"480.5px\" alt=\"pic\"/></p>"
                  "<p>line one<br/>line two</p><div><span>#lt#b#gt#</span></div></body>"},
      {"nested", "<root><a><b><c>deep</c><img src=\"x\" width=\"-3\" height=\"nan\"/></b></a>tail</root>"},
      {"entities", "<!DOCTYPE r [<!ENTITY a \"aaaa\"><!ENTITY b \"&a;&a;&a;\">]><r><p>&b;&amp;&#x4E2D;</p></r>"},
  };
}
FUZZ_SEEDS(seeds);

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string body(reinterpret_cast<const char*>(data), size);
  os::Array rows{os::Value("kept")};
  std::optional<std::string> error = VXDetailXMLParseHelper::share()->parseXML(body, rows);
  fuzz::check(rows.at(0) == os::Value("kept"), "rows already in the array were touched");
  if (error) {
    fuzz::check(rows.size() == 1, "a body that failed to parse added rows");
    return 0;
  }
  for (std::size_t i = 1; i < rows.size(); ++i) {
    const os::Value& row = rows[i];
    long long type = row["type"].intValue();
    fuzz::check(type == 1 || type == 2, "a row of unknown type");
    fuzz::check(row["content"].isString(), "a row without text content");
    if (type == 2) {
      double w = row["originalwidth"].doubleValue(), h = row["originalheight"].doubleValue();
      fuzz::check(w >= 0 && h >= 0 && std::isfinite(w) && std::isfinite(h), "a picture with a bad size");
    }
  }
  return 0;
}
