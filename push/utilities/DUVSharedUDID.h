#pragma once
// The push client's own copy of the shared device identifier: the shared protocol with names of
// its own, so it never reads or writes the slots of the other participants on the device.
#include <string>

#include "foundation/device/SharedUDID.h"

inline constexpr const char* kDUVSharedUDIDName = "APS_UDID_4C90E90E-C569-4396-AB2D-AC33BF8A1E44";

class DUVSharedUDID {
 public:
  static SharedUDIDProfile profile();
  // The process's copy (current sandbox).
  static SharedUDIDParticipant& participant();
  static std::string value() { return participant().value(); }
  static std::string valueWithError(os::Error* error) { return participant().valueWithError(error); }
  static void setOptOut(bool optOut) { participant().setOptOut(optOut); }
};
