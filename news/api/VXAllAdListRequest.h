#pragma once
// A page of the recommended-apps list.
#include <string>

#include "news/api/VXBaseQuarnRequest.h"

class VXAllAdListRequest : public VXBaseQuarnRequest {
 public:
  explicit VXAllAdListRequest(long long pageno);
  long long opCode() const override { return 2616; }
  std::string serverPath() const override;
  std::string className() const override { return "VXAllAdListRequest"; }
};
