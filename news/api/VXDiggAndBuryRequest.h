#pragma once
// A vote on an article: "id", "action" and the caller's "category" sent as "categoryid".
#include <string>

#include "news/api/NQBaseRequest.h"

class VXDiggAndBuryRequest : public NQBaseRequest {
 public:
  explicit VXDiggAndBuryRequest(const os::Dictionary& dict);
  long long opCode() const override { return 1060; }
  std::string className() const override { return "VXDiggAndBuryRequest"; }
};
