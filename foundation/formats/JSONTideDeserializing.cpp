#include "foundation/formats/JSONTideDeserializing.h"

#include "foundation/formats/JSONDecoder.h"

std::optional<os::Value> objectFromJSONString(std::string_view text) {
  return objectFromJSONStringWithParseOptions(text, JTParseStrict);
}

std::optional<os::Value> objectFromJSONStringWithParseOptions(std::string_view text, unsigned parseOptions, os::Error* error) {
  JSONDecoder decoder(parseOptions);
  // string_view::data() of an empty view may be null; the decoder wants a real pointer.
  return decoder.objectWithUTF8String(text.empty() ? "" : text.data(), text.size(), error);
}

std::optional<os::Value> mutableObjectFromJSONString(std::string_view text) {
  return mutableObjectFromJSONStringWithParseOptions(text, JTParseStrict);
}

std::optional<os::Value> mutableObjectFromJSONStringWithParseOptions(std::string_view text, unsigned parseOptions, os::Error* error) {
  JSONDecoder decoder(parseOptions);
  return decoder.mutableObjectWithUTF8String(text.empty() ? "" : text.data(), text.size(), error);
}

std::optional<os::Value> objectFromJSONData(const os::Data& data) { return objectFromJSONDataWithParseOptions(data, JTParseStrict); }

std::optional<os::Value> objectFromJSONDataWithParseOptions(const os::Data& data, unsigned parseOptions, os::Error* error) {
  return JSONDecoder(parseOptions).objectWithData(data, error);
}

std::optional<os::Value> mutableObjectFromJSONData(const os::Data& data) {
  return mutableObjectFromJSONDataWithParseOptions(data, JTParseStrict);
}

std::optional<os::Value> mutableObjectFromJSONDataWithParseOptions(const os::Data& data, unsigned parseOptions, os::Error* error) {
  return JSONDecoder(parseOptions).mutableObjectWithData(data, error);
}
