#pragma once
// The QQ Connect client's copy of the JSON codec with error trace: the parser its requests and
// login use, the writer of the web login's page callbacks, and the facade of the OpenAPI request.
#include "foundation/formats/JSONTraceFacade.h"

inline const std::string& TCOSDKSJSONErrorDomain() { return JSONTraceProfile::qqConnect().errorDomain; }

class TCOSDKSJSONParser : public JSONTraceParser {
 public:
  TCOSDKSJSONParser() : JSONTraceParser(JSONTraceProfile::qqConnect()) {}
};

class TCOSDKSJSONWriter : public JSONTraceWriter {
 public:
  TCOSDKSJSONWriter() : JSONTraceWriter(JSONTraceProfile::qqConnect()) {}
};

class TCOSDKSJSON : public JSONTraceFacade {
 public:
  TCOSDKSJSON() : JSONTraceFacade(JSONTraceProfile::qqConnect()) {}
};
