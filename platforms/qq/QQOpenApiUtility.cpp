#include "platforms/qq/QQOpenApiUtility.h"

#include "foundation/formats/Base64.h"
#include "platforms/qq/QQApiLog.h"
#include "os/core/String.h"
#include "os/core/URL.h"
#include "os/views/Application.h"

bool QQOpenApiUtility::canOpenURL(const std::optional<std::string>& url) {
  if (!url) return false;
  auto parsed = os::URL::parse(*url);
  auto app = os::Application::shared();
  return parsed && app && app->canOpenURL(*parsed);
}

int QQOpenApiUtility::openURL(const std::optional<std::string>& url) {
  if (!url) return -1;
  if (!canOpenURL(url)) {
    QQAPI_LOG("unable to open url:%s", url->c_str());
    return -1;
  }
  return os::Application::shared()->openURL(*os::URL::parse(*url)) ? 0 : -1;
}

std::string QQOpenApiUtility::base64EncodedStringWithData(const os::Data& data) {
  return base64EncodedString(data).value_or("");
}

std::optional<std::string> QQOpenApiUtility::base64EncodedStringWithUTF8String(const std::optional<std::string>& s) {
  if (!s) return std::nullopt;
  return base64EncodedStringWithData(os::dataFromString(*s));
}

std::optional<os::Data> QQOpenApiUtility::dataWithBase64EncodedString(std::string_view text) {
  std::size_t counted = 0;
  for (const char c : text) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/' || c == '=') ++counted;
  }
  if (counted == 0 || counted % 4 != 0) return std::nullopt;
  return ::dataWithBase64EncodedString(text);
}

std::optional<std::string> QQOpenApiUtility::UTF8StringWithBase64String(std::string_view text) {
  auto data = dataWithBase64EncodedString(text);
  if (!data) return std::nullopt;
  std::string s = os::stringFromData(*data);
  if (!os::isValidUTF8(s)) return std::nullopt;
  return s;
}

std::string QQOpenApiUtility::urlStringWithQQUinsArray(const std::string& base, const std::vector<std::string>& uins) {
  std::string url = base + "getonline?Type=1&";
  // A number is digits; anything else would change the query, so it is escaped.
  for (const auto& uin : uins) url += os::percentEscape(uin) + ":";
  return url;
}

os::Dictionary QQOpenApiUtility::dictionaryWithReturnString(std::string_view reply, const std::vector<std::string>& uins) {
  os::Dictionary out;
  const std::vector<std::string> pieces = os::split(reply, ";");
  if (pieces.size() <= 1) return out;
  for (std::size_t i = 0; i + 1 < pieces.size() && i < uins.size(); ++i) {
    if (pieces[i].size() <= 10) continue;
    const std::string flag = pieces[i].substr(10);
    if (flag == "0") out.set(uins[i], "NO");
    else if (flag == "1") out.set(uins[i], "YES");
  }
  return out;
}
