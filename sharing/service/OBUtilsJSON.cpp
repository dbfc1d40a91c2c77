// The component's two doors to JSON: every text it reads or writes goes through them.
#include "os/core/Log.h"
#include "sharing/net/OBSJson.h"
#include "sharing/service/OBUtils.h"

namespace {

std::string describe(const std::vector<os::Error>& trace) {
  os::Array texts;
  for (const auto& error : trace) texts.emplace_back(error.localizedDescription());
  return os::Value(std::move(texts)).description();
}

}  // namespace

std::optional<std::string> OBUtils::JSONFragment(const os::Value& value) {
  OBSJsonWriter writer;
  auto text = writer.stringWithFragment(value);
  if (!text) os::logf("-JSONFragment failed. Error trace is: %s", describe(writer.errorTrace()).c_str());
  return text;
}

std::optional<os::Value> OBUtils::JSONValue(std::string_view text) {
  OBSJsonParser parser;
  auto value = parser.objectWithString(text);
  if (!value) os::logf("-JSONValue failed. Error trace is: %s", describe(parser.errorTrace()).c_str());
  return value;
}
