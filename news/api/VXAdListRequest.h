#pragma once
// The first page of ads for article pages.
#include <string>

#include "news/api/VXBaseQuarnRequest.h"

class VXAdListRequest : public VXBaseQuarnRequest {
 public:
  VXAdListRequest();
  long long opCode() const override { return 2613; }
  std::string serverPath() const override;
  std::string className() const override { return "VXAdListRequest"; }
};
