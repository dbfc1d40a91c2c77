#pragma once
// Read history: the article (or articles) the reader opened, as given.
#include <string>

#include "news/api/NQBaseRequest.h"

class VXNewsHistoryRequest : public NQBaseRequest {
 public:
  explicit VXNewsHistoryRequest(os::Value ID);
  long long opCode() const override { return 1001; }
  std::string className() const override { return "VXNewsHistoryRequest"; }
};
