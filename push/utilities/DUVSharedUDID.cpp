#include "push/utilities/DUVSharedUDID.h"

SharedUDIDProfile DUVSharedUDID::profile() {
  SharedUDIDProfile profile;
  profile.recordKey = kDUVSharedUDIDName;
  profile.pasteboardType = std::string("org.qelm.") + kDUVSharedUDIDName;
  profile.slotPrefix = profile.pasteboardType + ".slot.";
  profile.errorDomain = profile.pasteboardType;
  profile.displayName = "APSharedUDID";
  profile.generator = &SharedUDIDProfile::identifierFromUUIDModulo;
  return profile;
}

SharedUDIDParticipant& DUVSharedUDID::participant() {
  static SharedUDIDParticipant copy(profile());
  return copy;
}
