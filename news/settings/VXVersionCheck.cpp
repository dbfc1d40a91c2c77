#include "news/settings/VXVersionCheck.h"

#include "foundation/formats/JSONDecoder.h"
#include "news/api/VXRequestConfig.h"
#include "os/store/Bundle.h"

namespace {
constexpr long long kNewVersion = 1;
}

std::string VXVersionCheck::bundleVersion() {
  auto bundle = os::Bundle::mainBundle();
  return bundle ? bundle->objectForInfoDictionaryKey("CFBundleVersion").stringOr() : std::string();
}

std::string VXVersionCheck::address(std::string_view commonPath) {
  return VXRequestConfig::SERVER_HOST() + std::string(commonPath) + "?cmd=verupdate&version=" + bundleVersion();
}

VXVersionCheck::Answer VXVersionCheck::read(const std::string& text) {
  Answer answer;
  JSONDecoder decoder;
  auto value = decoder.objectWithUTF8String(text.data(), text.size());
  if (!value || !(*value)["data"].dictionary()) return answer;
  const os::Value& data = (*value)["data"];
  if (data["result"].intValue() != kNewVersion) {
    answer.outcome = Outcome::UpToDate;
    return answer;
  }
  answer.outcome = Outcome::NewVersion;
  if (const std::string* content = data["content"].string()) answer.url = *content;
  return answer;
}
