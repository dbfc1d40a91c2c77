#pragma once
// URL opening, Base64 and the online-status helpers of the QQ client.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "os/core/Data.h"
#include "os/core/Value.h"

class QQOpenApiUtility {
 public:
  static bool canOpenURL(const std::optional<std::string>& url);
  // 0 opened, -1 not (logged when nothing takes the URL).
  static int openURL(const std::optional<std::string>& url);

  // Standard alphabet, "=" padding, one line.
  static std::string base64EncodedStringWithData(const os::Data& data);
  static std::optional<std::string> base64EncodedStringWithUTF8String(const std::optional<std::string>& s);
  // Characters outside the alphabet are skipped; nothing unless the rest ("=" counted) comes in
  // groups of four.
  static std::optional<os::Data> dataWithBase64EncodedString(std::string_view text);
  static std::optional<std::string> UTF8StringWithBase64String(std::string_view text);

  // "getonline?Type=1&" and "<uin>:" for each number, after the address base.
  static std::string urlStringWithQQUinsArray(const std::string& base, const std::vector<std::string>& uins);
  // ";"-separated pieces, the flag at index 10 of each: "0" NO, "1" YES for the number at the
  // same position. The last piece, pieces too short to hold the flag and pieces beyond the
  // numbers asked for are skipped.
  static os::Dictionary dictionaryWithReturnString(std::string_view reply, const std::vector<std::string>& uins);
};
