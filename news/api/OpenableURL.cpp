#include "news/api/OpenableURL.h"

#include "os/core/String.h"
#include "os/core/URL.h"

bool isOpenableURL(const std::string& url) {
  auto parsed = os::URL::parse(url);
  if (!parsed) return false;
  std::string scheme = os::lowercaseASCII(parsed->scheme());
  return scheme == "http" || scheme == "https" || scheme == "itms-apps" || scheme == "itms";
}
