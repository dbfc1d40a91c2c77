#pragma once
// One call to the promotion API: the same envelope as the news API with the promotion fields,
// interface version 3 and the signature under "check".
#include "news/api/NQBaseRequest.h"

class VXBaseQuarnRequest : public NQBaseRequest {
 public:
  // The form fields {"p", "v", "check"}.
  os::Dictionary query() override;
  int interfaceVer() const override;
  std::string serverHost(const VXRequestConfig& config) const override;
  std::string serverPath() const override;
  std::string className() const override { return "VXBaseQuarnRequest"; }
};
