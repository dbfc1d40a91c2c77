#include "foundation/formats/JSONTraceProfile.h"

const JSONTraceProfile& JSONTraceProfile::qqConnect() {
  static const JSONTraceProfile profile{"org.vantorell.JSON.ErrorDomain", "TCOSDKSJSONParser", "TCOSDKSJSONWriter",
                                        "TCOSDKSJSON", false};
  return profile;
}

const JSONTraceProfile& JSONTraceProfile::renren() {
  static const JSONTraceProfile profile{"org.vantorell.JSON.ErrorDomain", "RennJsonParser", "", "RennJson", true, true};
  return profile;
}

const JSONTraceProfile& JSONTraceProfile::sharing() {
  static const JSONTraceProfile profile{"com.obsocial.sdk.JSON.ErrorDomain", "OBSJsonParser", "OBSJsonWriter", "", false};
  return profile;
}
