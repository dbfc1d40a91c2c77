#pragma once
// The sharing component's small services: its console log (off until switched on), MD5 text, URL
// escaping, Base64 text and JSON text both ways. All of the component's JSON passes through
// JSONFragment and JSONValue.
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "os/core/Data.h"
#include "os/core/Value.h"

class OBUtils {
 public:
  static OBUtils& sharedInstance();

  // Every character that has a meaning in a URL, and every one not legal in it, as %XX of its
  // UTF-8 bytes.
  static std::string urlEncode(std::string_view text);
  // 32 upper-case hex digits of the MD5 of the text's bytes up to its first NUL.
  static std::string md5Value(std::string_view text);
  static std::string base64EncodeData(const os::Data& bytes);
  static std::string utilsVersion() { return "1.2.4"; }

  // JSON text of any value; absent (and a console line with the writer's error trace) when it
  // cannot be written.
  static std::optional<std::string> JSONFragment(const os::Value& value);
  // The dictionary or array the text holds; absent (and a console line) for anything else.
  static std::optional<os::Value> JSONValue(std::string_view text);

  static void setPrefix(std::string prefix);
  static void setOpenLog(bool open);
  static bool openLog();
  // One line when the log is on: time and thread header, the prefix, the message.
  static void outLog(std::string_view message);
  template <class... Args>
  static void outLogf(const char* format, Args... args) {
    if (!openLog()) return;
    outLog(formatted(format, args...));
  }
  static std::string formatted(const char* format, ...) __attribute__((format(printf, 1, 2)));

 private:
  OBUtils() = default;
  mutable std::mutex mutex_;
  bool openLog_ = false;
  std::string prefix_;
};
