#include "foundation/formats/JSONTideSerializing.h"

namespace {

constexpr unsigned kCollectionData = JTEncodeAsData | JTEncodeCollectionObject;
constexpr unsigned kCollectionString = JTEncodeAsString | JTEncodeCollectionObject;

// The result is the only holder of its text, so the text is moved out, not copied.
std::optional<std::string> asString(std::optional<os::Value> v) {
  if (!v || !v->isString()) return std::nullopt;
  return std::move(*v->mutableString());
}

std::optional<os::Data> asData(std::optional<os::Value> v) {
  if (!v || !v->isData()) return std::nullopt;
  return std::move(*v->mutableData());
}

unsigned stringOption(unsigned as, bool includeQuotes) {
  return as | JTEncodeStringObject | (includeQuotes ? 0 : JTEncodeStringObjectTrimQuotes);
}

}  // namespace

std::optional<std::string> JSONString(const os::Value& object) {
  if (const std::string* s = object.string()) return JSONStringWithOptions(std::string_view(*s), 0, true);
  return JSONStringWithOptions(object, 0);
}

std::optional<os::Data> JSONData(const os::Value& object) {
  if (const std::string* s = object.string()) return JSONDataWithOptions(std::string_view(*s), 0, true);
  return JSONDataWithOptions(object, 0);
}

std::optional<std::string> JSONStringWithOptions(const os::Value& collection, unsigned options, os::Error* error) {
  return asString(JTSerializer::serializeObject(collection, options, kCollectionString, {}, error));
}

std::optional<os::Data> JSONDataWithOptions(const os::Value& collection, unsigned options, os::Error* error) {
  return asData(JTSerializer::serializeObject(collection, options, kCollectionData, {}, error));
}

std::optional<std::string> JSONStringWithOptions(const os::Value& collection, unsigned options,
                                                 const JTSerializer::UnsupportedClassBlock& block, os::Error* error) {
  return asString(JTSerializer::serializeObject(collection, options, kCollectionString, block, error));
}

std::optional<os::Data> JSONDataWithOptions(const os::Value& collection, unsigned options,
                                            const JTSerializer::UnsupportedClassBlock& block, os::Error* error) {
  return asData(JTSerializer::serializeObject(collection, options, kCollectionData, block, error));
}

std::optional<std::string> JSONStringWithOptions(std::string_view string, unsigned options, bool includeQuotes, os::Error* error) {
  return asString(JTSerializer::serializeObject(os::Value(string), options, stringOption(JTEncodeAsString, includeQuotes), {}, error));
}

std::optional<os::Data> JSONDataWithOptions(std::string_view string, unsigned options, bool includeQuotes, os::Error* error) {
  return asData(JTSerializer::serializeObject(os::Value(string), options, stringOption(JTEncodeAsData, includeQuotes), {}, error));
}
