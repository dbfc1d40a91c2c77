#pragma once
// An article's detail: its XML body and the members the article screen shows.
#include <string>

#include "news/api/NQBaseRequest.h"

class VXNewsDetailRequest : public NQBaseRequest {
 public:
  explicit VXNewsDetailRequest(long long ID);
  long long opCode() const override { return 1020; }
  std::string className() const override { return "VXNewsDetailRequest"; }
};
