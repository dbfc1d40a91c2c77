#include "sharing/net/OBSharedUDID.h"

SharedUDIDProfile OBSharedUDID::profile() {
  SharedUDIDProfile p;
  p.generator = &SharedUDIDProfile::identifierFromUUID;
  return p;
}

SharedUDIDParticipant& OBSharedUDID::participant() {
  static SharedUDIDParticipant copy(profile());
  return copy;
}
