#include "qqconnect/analytics/VMA4QCNetwork.h"

SharedUDIDProfile VMA4QCSharedUDID::profile() {
  SharedUDIDProfile p;
  p.generator = &SharedUDIDProfile::identifierFromUUID;
  return p;
}

SharedUDIDParticipant& VMA4QCSharedUDID::participant() {
  static SharedUDIDParticipant copy(profile());
  return copy;
}
