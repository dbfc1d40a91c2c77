#include "os/net/URLError.h"

namespace os {

Error makeURLError(long code, const std::string& failingURL, const std::string& description) {
  Dictionary info;
  if (!description.empty()) info.set(kErrorDescriptionKey, Value(description));
  if (!failingURL.empty()) {
    info.set(kErrorFailingURLKey, Value(failingURL));
    info.set(kErrorFailingURLStringKey, Value(failingURL));
  }
  return Error(kURLErrorDomain, code, std::move(info));
}

}  // namespace os
