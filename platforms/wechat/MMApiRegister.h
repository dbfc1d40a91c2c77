#pragma once
// The application's registration entry on the pasteboard "wechat_register", where the messenger
// lists the applications that use it: name, bundle identifier, icon, first and last launch times.
#include <memory>
#include <optional>
#include <string>

#include "os/core/Value.h"

namespace os {
class Pasteboard;
}

class MMApiRegister {
 public:
  static std::string getRegisterPasteboardName() { return "wechat_register"; }
  // The whole registration dictionary; reading does not clear it.
  static std::optional<os::Dictionary> getRegisterDictionary(const os::Pasteboard& pasteboard);
  // Path of the application's icon file in its bundle; none without bundle information.
  static std::optional<std::string> getIconString();
  static os::Dictionary buildAppDictionary(const std::string& appId,
                                           const std::optional<os::Dictionary>& oldAppDictionary);
  // Writes this application's entry and keeps the others'. A description of 1 to 1024
  // characters goes in as well.
  static bool registerApp(const std::string& appId, const std::optional<std::string>& description = std::nullopt);
};
