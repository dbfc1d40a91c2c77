#include "qqconnect/analytics/VMA4QCJSON.h"

#include "foundation/formats/JSONDecoder.h"
#include "foundation/formats/JTSerializer.h"
#include "os/runtime/Once.h"

const JSONCodecProfile& VMA4QCJSON::profile() {
  static const JSONCodecProfile profile = [] {
    JSONCodecProfile p;
    p.errorDomain = "TXJTErrorDomain";
    p.atIndexKey = "TXJTAtIndexKey";
    p.lineNumberKey = "TXJTLineNumberKey";
    return p;
  }();
  return profile;
}

void VMA4QCJSON::attach() {
  static os::Once once;
  once.call([] { JSONCodecProfile::setCurrent(profile()); });
}

namespace {

// Attached as the program loads, after the data-format layer's own, before anything runs: from
// then on the process-wide operations report under this client's names.
[[maybe_unused]] const bool kAttachedAtLoad = (VMA4QCJSON::attach(), true);

}  // namespace

std::optional<os::Value> VMA4QCJSON::objectWithData(const os::Data& data, os::Error* error) {
  JSONDecoder decoder(JTParseStrict, profile());
  return decoder.objectWithData(data, error);
}

std::optional<os::Value> VMA4QCJSON::objectWithString(const std::string& text, os::Error* error) {
  return objectWithData(os::dataFromString(text), error);
}

std::optional<std::string> VMA4QCJSON::JSONString(const os::Value& collection, os::Error* error) {
  auto text = JTSerializer::serializeObject(collection, 0, JTEncodeAsString | JTEncodeCollectionObject, {}, error,
                                            profile());
  if (!text || !text->string()) return std::nullopt;
  return *text->string();
}
