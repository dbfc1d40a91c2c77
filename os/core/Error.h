#pragma once
// A failure of the world: domain, code and user info. Never thrown.
#include <string>
#include <string_view>

#include "os/core/Value.h"

namespace os {

// User-info keys.
inline constexpr const char* kErrorDescriptionKey = "LocalizedDescription";
inline constexpr const char* kErrorFailureReasonKey = "LocalizedFailureReason";
inline constexpr const char* kErrorRecoverySuggestionKey = "LocalizedRecoverySuggestion";
inline constexpr const char* kErrorFailingURLKey = "ErrorFailingURLKey";
inline constexpr const char* kErrorFailingURLStringKey = "ErrorFailingURLStringKey";
inline constexpr const char* kErrorUnderlyingErrorKey = "UnderlyingError";

struct Error {
  std::string domain;
  long code = 0;
  Dictionary userInfo;

  Error() = default;
  Error(std::string domain, long code, Dictionary userInfo = {});
  static Error withDescription(std::string domain, long code, std::string description);

  // The description under kErrorDescriptionKey, else "The operation couldn't be completed. (domain error code.)".
  std::string localizedDescription() const;
  std::string localizedRecoverySuggestion() const;
  std::string failingURLString() const;

  bool operator==(const Error& o) const { return domain == o.domain && code == o.code && userInfo == o.userInfo; }
};

// Raised for caller misuse the platform would raise for (index beyond bounds, mutating an immutable
// collection). Carries the platform exception's name and reason.
class Exception : public std::exception {
 public:
  Exception(std::string name, std::string reason) : name_(std::move(name)), reason_(std::move(reason)), what_(name_ + ": " + reason_) {}
  const std::string& name() const { return name_; }
  const std::string& reason() const { return reason_; }
  const char* what() const noexcept override { return what_.c_str(); }

 private:
  std::string name_, reason_, what_;
};

inline constexpr const char* kRangeException = "NSRangeException";
inline constexpr const char* kInvalidArgumentException = "NSInvalidArgumentException";
inline constexpr const char* kInternalInconsistencyException = "NSInternalInconsistencyException";

}  // namespace os
