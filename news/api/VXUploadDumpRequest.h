#pragma once
// A crash dump (Base64, one line) with the log file as it stands when the request is made.
#include <string>
#include <string_view>

#include "news/api/NQBaseRequest.h"

class VXUploadDumpRequest : public NQBaseRequest {
 public:
  explicit VXUploadDumpRequest(std::string_view dump);
  long long opCode() const override { return 1090; }
  std::string className() const override { return "VXUploadDumpRequest"; }
};
