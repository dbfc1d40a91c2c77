#pragma once
// The one result record of the sharing component: every answer of the sharing service, every
// platform handler's outcome and every screen's close reaches completions and delegates as one.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "os/core/Error.h"
#include "os/core/Value.h"

// Codes of the component's own outcomes (service answers carry the service's "st" instead).
enum OBSocialResponseCode : std::int32_t {
  OBSocialResponseCodeSuccess = 200,
  OBSocialResponseCodeShareRefused = 510,
  OBSocialResponseCodeNetworkError = 5050,
  OBSocialResponseCodeAccountUploadFailed = 5051,
  OBSocialResponseCodeCancelled = 5052,
  OBSocialResponseCodeNoSystemAccount = 5053,
  // The request was never sent: no application key, a platform the action does not serve, or
  // what the action needs is missing.
  OBSocialResponseCodeNotSent = 5054,
};

inline constexpr const char* kOBSocialNetworkErrorMessage = "network error, you can get details in error";

class OBSocialResponseEntity {
 public:
  std::int32_t responseCode = 0;
  // The action number whose answer this is; handlers set their own values.
  std::int32_t responseType = 0;
  // The kind of screen that produced the record (2 share list, 3 share editor, 7 authorisation
  // screen, 9 friend picker).
  std::int32_t viewControllerType = 0;
  std::optional<std::string> message;
  std::optional<os::Dictionary> data;
  std::optional<os::Error> error;

  // A record of the component's own failure, for a completion that would otherwise never hear.
  static std::shared_ptr<OBSocialResponseEntity> failure(std::int32_t code, std::string message, std::int32_t responseType = 0);

  // The fields that are set (non-zero or present), as a dictionary's description.
  std::string description() const;
};
