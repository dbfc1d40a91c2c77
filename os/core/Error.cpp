#include "os/core/Error.h"

namespace os {

Error::Error(std::string d, long c, Dictionary info) : domain(std::move(d)), code(c), userInfo(std::move(info)) {}

Error Error::withDescription(std::string domain, long code, std::string description) {
  return Error(std::move(domain), code, Dictionary{{kErrorDescriptionKey, Value(std::move(description))}});
}

std::string Error::localizedDescription() const {
  if (const std::string* s = userInfo[kErrorDescriptionKey].string()) return *s;
  return "The operation couldn\xE2\x80\x99t be completed. (" + domain + " error " + std::to_string(code) + ".)";
}

std::string Error::localizedRecoverySuggestion() const { return userInfo[kErrorRecoverySuggestionKey].stringOr(); }

std::string Error::failingURLString() const {
  if (const std::string* s = userInfo[kErrorFailingURLStringKey].string()) return *s;
  return userInfo[kErrorFailingURLKey].stringOr();
}

}  // namespace os
