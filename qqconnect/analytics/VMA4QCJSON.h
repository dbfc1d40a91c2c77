#pragma once
// The analytics client's JSON: the process's one codec under this client's error names.
#include <optional>
#include <string>

#include "foundation/formats/JSONCodecProfile.h"
#include "os/core/Data.h"
#include "os/core/Error.h"
#include "os/core/Value.h"

class VMA4QCJSON {
 public:
  // Domain "TXJTErrorDomain", keys "TXJTAtIndexKey" and "TXJTLineNumberKey".
  static const JSONCodecProfile& profile();
  // Makes these names the ones the process-wide string, data and collection operations report.
  // This client's operations are attached last, so they serve every caller: it runs as the
  // program loads (a load-time initialiser of this file), before other threads run. Later calls
  // do nothing.
  static void attach();

  // Strict parse (options 0) with this client's error names.
  static std::optional<os::Value> objectWithData(const os::Data& data, os::Error* error = nullptr);
  static std::optional<os::Value> objectWithString(const std::string& text, os::Error* error = nullptr);
  // Text of a dictionary or an array.
  static std::optional<std::string> JSONString(const os::Value& collection, os::Error* error = nullptr);
};
