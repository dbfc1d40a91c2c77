#pragma once
// The sharing component's copy of the cross-application device identifier. It reads and writes
// the same slots and defaults record as the other copies, so every copy in the process agrees on
// one identifier; it only remembers its own answer and makes fresh identifiers from a new UUID.
#include <string>

#include "foundation/device/SharedUDID.h"

class OBSharedUDID {
 public:
  static SharedUDIDProfile profile();
  static SharedUDIDParticipant& participant();

  static std::string value() { return participant().value(); }
  static std::string valueWithError(os::Error* error) { return participant().valueWithError(error); }
  static void setOptOut(bool optOut) { participant().setOptOut(optOut); }
};
