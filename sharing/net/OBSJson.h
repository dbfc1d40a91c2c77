#pragma once
// The sharing component's JSON reader and writer: the codec with error trace under the
// component's own error domain. One parser or writer serves one call.
#include "foundation/formats/JSONTraceParser.h"
#include "foundation/formats/JSONTraceWriter.h"

extern const char* const OBSJSONErrorDomain;

class OBSJsonParser : public JSONTraceParser {
 public:
  OBSJsonParser() : JSONTraceParser(JSONTraceProfile::sharing()) {}
};

class OBSJsonWriter : public JSONTraceWriter {
 public:
  OBSJsonWriter() : JSONTraceWriter(JSONTraceProfile::sharing()) {}
};
