#pragma once
// Reports an article whose body could not be parsed; a missing error text is sent as "".
#include <optional>
#include <string>

#include "news/api/NQBaseRequest.h"

class VXPraseXMLErrorRequest : public NQBaseRequest {
 public:
  VXPraseXMLErrorRequest(os::Value ID, std::optional<std::string> error);
  long long opCode() const override { return 1100; }
  std::string className() const override { return "VXPraseXMLErrorRequest"; }
};
