#include "sharing/net/OBSJson.h"

const char* const OBSJSONErrorDomain = JSONTraceProfile::sharing().errorDomain.c_str();
