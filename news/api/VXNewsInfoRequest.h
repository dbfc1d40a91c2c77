#pragma once
// An article's votes and favourite mark for this device.
#include <string>

#include "news/api/NQBaseRequest.h"

class VXNewsInfoRequest : public NQBaseRequest {
 public:
  explicit VXNewsInfoRequest(long long ID);
  long long opCode() const override { return 1030; }
  std::string className() const override { return "VXNewsInfoRequest"; }
};
