#include "foundation/formats/JSONTraceFacade.h"

JSONTraceReader::JSONTraceReader(const JSONTraceProfile& profile) : JSONTraceBase(profile), parser_(profile) {}

void JSONTraceReader::keepTrace(const JSONTraceBase& component, os::Error* error) {
  errorTrace_ = component.errorTrace();
  if (error && !errorTrace_.empty()) *error = errorTrace_.back();
}

std::optional<os::Value> JSONTraceReader::objectWithString(std::optional<std::string_view> text) {
  auto value = parser_.objectWithString(text);
  if (!value) keepTrace(parser_, nullptr);
  return value;
}

std::optional<os::Value> JSONTraceReader::objectWithString(std::optional<std::string_view> text, bool allowScalar,
                                                           os::Error* error) {
  auto value = allowScalar ? parser_.fragmentWithString(text) : parser_.objectWithString(text);
  if (!value) keepTrace(parser_, error);
  return value;
}

JSONTraceFacade::JSONTraceFacade(const JSONTraceProfile& profile) : JSONTraceReader(profile), writer_(profile) {}

std::optional<std::string> JSONTraceFacade::stringWithObject(const os::Value& value) {
  auto text = writer_.stringWithObject(value);
  if (!text) keepTrace(writer_, nullptr);
  return text;
}

std::optional<std::string> JSONTraceFacade::stringWithObject(const os::Value& value, bool allowScalar, os::Error* error) {
  auto text = allowScalar ? writer_.stringWithFragment(value) : writer_.stringWithObject(value);
  if (!text) keepTrace(writer_, error);
  return text;
}
