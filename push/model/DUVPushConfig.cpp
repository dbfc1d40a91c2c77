#include "push/model/DUVPushConfig.h"

#include <algorithm>
#include <cctype>

#include "os/core/Log.h"
#include "os/store/FileManager.h"
#include "os/store/PropertyList.h"
#include "push/model/DUVAlert.h"
#include "push/utilities/DUVLogger.h"

namespace {
constexpr const char* kDocumentLink = "https://docs.qelm.example/zurar/ios/guide#sdk-integration";
const std::string kTitle = "ZUrar ERROR";

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

// The profile is read as Latin-1: one byte, one character, so byte offsets are character offsets.
std::size_t findIgnoringCase(const std::string& haystack, const std::string& needle, std::size_t from = 0,
                             std::size_t limit = std::string::npos) {
  std::string h = lower(haystack.substr(from, limit));
  auto at = h.find(lower(needle));
  return at == std::string::npos ? at : at + from;
}
}  // namespace

bool DUVPushConfig::isValidAppKey(const std::string& key) {
  return std::all_of(key.begin(), key.end(), [](unsigned char c) { return c < 0x80 && std::isalnum(c); });
}

bool DUVPushConfig::loadWithUrl(const std::optional<std::string>& path) {
  if (!path) {
    DUVAlert(kTitle, std::string("配置文件不存在。\n（有关配置文件的说明请参考开发文档“SDK集成步骤”第5条。") + kDocumentLink);
    return false;
  }
  auto config = os::PropertyList::readFile(*path);
  std::string shown = config ? config->description() : "(null)";
  DUVClassLogger("DUVPushConfig")
      ->logMessage("push config:\n" + shown, "push config:\n" + shown + ",info:[TRACING] [FILE: DUVPushConfig.cpp]",
                   &DUVLevel::debug());
  const os::Dictionary* dictionary = config ? config->dictionary() : nullptr;
  if (!dictionary) {
    DUVAlert(kTitle, std::string("配置文件错误。\n（有关配置文件的说明请参考开发文档“SDK集成步骤”第5条。") + kDocumentLink);
    return false;
  }
  const std::string emptyKey =
      std::string("APP_KEY不能为空。\n（有关APP_KEY的说明请参考开发文档“SDK集成步骤”第5条。") + kDocumentLink + "）";
  const os::Value& key = (*dictionary)["APP_KEY"];
  if (key.isNull()) {
    DUVAlert(kTitle, emptyKey);
    return false;
  }
  if (!key.string() || !isValidAppKey(*key.string())) {
    DUVAlert(kTitle, "“" + (key.string() ? *key.string() : key.description()) + "”不是合法的APP_KEY。\n（有关APP_KEY的说明请参考开发文档“SDK集成步骤”第5条。" +
                         kDocumentLink + "）");
    return false;
  }
  if (key.string()->empty()) {
    DUVAlert(kTitle, emptyKey);
    return false;
  }
  applicationKey_ = lower(*key.string());
  const std::string* channel = (*dictionary)["CHANNEL"].string();
  pushChanel_ = channel && !channel->empty() ? *channel : std::string(1, '\x10');

  serviceEndpoints_ = DUVServiceEndpoints::fromConfig(*dictionary);
  configApsEnvironment_ = 0;
  const os::Value& production = (*dictionary)["APS_FOR_PRODUCTION"];
  if (const std::string* text = production.string()) {
    if (*text == "1") {
      configApsEnvironment_ = 2;
    } else if (*text == "0") {
      configApsEnvironment_ = 1;
    } else {
      DUVAlert("Zurar WARNING\n Unkown string value for APS_FOR_PRODUCTION " + *text +
                   ", default set to development aps evironment",
               *text);
    }
  } else if (production.isNumber() || production.isBool()) {
    configApsEnvironment_ = production.boolValue() ? 2 : 1;
  } else {
    os::log("Zurar WARNING\n Unkown value for APS_FOR_PRODUCTION " +
            (production.isNull() ? std::string("(null)") : production.description()) +
            ", default set to development aps evironment");
  }
  return true;
}

int DUVApsEnvironmentOfProfile(const std::optional<std::string>& path) {
  if (!path) {
    os::log("load aps evi error, no em provision url");
    return -1;
  }
  auto bytes = os::FileManager::defaultManager().contentsAtPath(*path);
  if (!bytes) return -2;
  std::string text = os::stringFromData(*bytes);
  auto start = findIgnoringCase(text, "aps-environment");
  if (start == std::string::npos) return -3;
  auto end = findIgnoringCase(text, "</string>", start, 100);
  std::string value = end == std::string::npos ? text.substr(start, 50) : text.substr(start, end - start);
  if (findIgnoringCase(value, "development") != std::string::npos) return 1;
  if (findIgnoringCase(value, "production") != std::string::npos) return 2;
  return -4;
}
