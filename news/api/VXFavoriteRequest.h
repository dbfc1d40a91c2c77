#pragma once
// Adds or removes a favourite: "id", "action" and the caller's "category" sent as "categoryid".
#include <string>

#include "news/api/NQBaseRequest.h"

// Posted (no object) once the server has taken a favourite added or removed, so a list of the
// favourites already on screen lists it as it now is.
inline constexpr const char* kFavoritesChangedNotification = "fFavoritesChanged";

class VXFavoriteRequest : public NQBaseRequest {
 public:
  explicit VXFavoriteRequest(const os::Dictionary& dict);
  long long opCode() const override { return 1070; }
  std::string className() const override { return "VXFavoriteRequest"; }
};
