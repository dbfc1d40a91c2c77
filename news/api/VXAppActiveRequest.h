#pragma once
// Activation: "cp" 1 on the first run, 2 on later launches, 3 on return to the foreground.
#include <string>

#include "news/api/NQBaseRequest.h"

class VXAppActiveRequest : public NQBaseRequest {
 public:
  explicit VXAppActiveRequest(int cp);
  long long opCode() const override { return 1000; }
  std::string className() const override { return "VXAppActiveRequest"; }
};
