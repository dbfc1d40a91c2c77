// fuzz-link: platforms
// Addresses the Renren login reads its answers from: the single sign-on reply's parameters and
// the web login's success page, read one parameter at a time.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "os/core/String.h"
#include "os/core/URL.h"
#include "platforms/renren/RennUtility.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  os::Dictionary params = RennUtility::parseURLParams(text);
  for (const auto& [key, value] : params) {
    if (!value.string() || !os::isValidUTF8(*value.string())) {
      std::fprintf(stderr, "renren_reply_url_fuzz: a parameter that is not UTF-8 text\n");
      std::abort();
    }
  }
  for (const char* name : {"access_token", "expires_in", "scope", "mac_key", "error_code", "error"}) {
    auto value = RennUtility::getParamValueFromUrl(text, name);
    if (value && !os::isValidUTF8(*value)) std::abort();
  }
  if (auto url = os::URL::parse(text)) RennUtility::parseURLParams(url->fragment() ? url->fragment() : url->query());
  return 0;
}
