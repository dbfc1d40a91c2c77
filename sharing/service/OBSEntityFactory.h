#pragma once
// Keeps what the sharing service's answers tell: the bar record and service user id (action 3),
// the accounts (action 10) and the friends of a platform (action 12).
#include <cstdint>

#include "os/core/Value.h"
#include "sharing/service/OBSocialJob.h"

class OBSDataManager;

class OBSEntityFactory {
 public:
  static void storeAnswer(OBSDataManager& manager, std::int32_t action, const OBSocialJobParams& params,
                          const os::Dictionary& answer);
};
