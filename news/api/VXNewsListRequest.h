#pragma once
// A page of a category's news list. "id" (category) and "flag" (1 newer, 2 older) are copied as given;
// "count", "uptime", "downtime", "upid" and "downid" when present, else 0, -1, -1, 0, 0.
#include <string>

#include "news/api/NQBaseRequest.h"

class VXNewsListRequest : public NQBaseRequest {
 public:
  explicit VXNewsListRequest(const os::Dictionary& dict);
  long long opCode() const override { return 1010; }
  std::string className() const override { return "VXNewsListRequest"; }
};
