#pragma once
// An ad was tapped: "appid" the ad, "cp" 0 and the channel, whatever the ad.
#include <string>

#include "news/api/VXBaseQuarnRequest.h"

class VXAdClickRequest : public VXBaseQuarnRequest {
 public:
  explicit VXAdClickRequest(os::Value adid);
  long long opCode() const override { return 2002; }
  std::string className() const override { return "VXAdClickRequest"; }
};
