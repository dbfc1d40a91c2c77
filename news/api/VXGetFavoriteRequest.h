#pragma once
// A page of this device's favourites.
#include <string>

#include "news/api/NQBaseRequest.h"

class VXGetFavoriteRequest : public NQBaseRequest {
 public:
  explicit VXGetFavoriteRequest(long long pageNO);
  long long opCode() const override { return 1050; }
  std::string className() const override { return "VXGetFavoriteRequest"; }
};
