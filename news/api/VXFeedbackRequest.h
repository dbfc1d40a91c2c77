#pragma once
// The reader's feedback and how to reach them.
#include <string>

#include "news/api/NQBaseRequest.h"

class VXFeedbackRequest : public NQBaseRequest {
 public:
  VXFeedbackRequest(std::string suggestion, std::string contact);
  long long opCode() const override { return 1110; }
  std::string className() const override { return "VXFeedbackRequest"; }
};
