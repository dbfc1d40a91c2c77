#pragma once
// Local notifications of the application, tagged with the caller's identifier key (kept in the
// user info under "__DUVNotificationKey") so they can be found, shown and cancelled by it. Runs on
// the caller's thread (the application's main thread) over the shared application.
#include <optional>
#include <string>
#include <vector>

#include "os/core/Date.h"
#include "os/core/Value.h"
#include "os/views/Application.h"

inline constexpr const char* kDUVNotificationKey = "__DUVNotificationKey";

class DUVLocalNotificationManager {
 public:
  static constexpr std::size_t kMaximumScheduled = 64;

  // The scheduled notification, in the default time zone; nothing (with an error line) without a
  // fire date, for a date in the past, without an application, or when 64 are already scheduled.
  // Region, regionTriggersOnce and category are taken on system 8.0 and later only.
  static std::optional<os::LocalNotification> setLocalNotification(
      std::optional<os::Date> fireDate, const std::string& alertBody, int badge, const std::string& alertAction,
      const std::string& identifierKey, const os::Dictionary& userInfo, const std::string& soundName,
      const std::optional<os::CircularRegion>& region = std::nullopt, bool regionTriggersOnce = false,
      const std::optional<std::string>& category = std::nullopt);
  // Shows it as an alert when no key is given or its key matches.
  static void showLocalNotificationAtFront(const std::optional<os::LocalNotification>& notification,
                                           const std::optional<std::string>& identifierKey);
  static std::optional<std::vector<os::LocalNotification>> findLocalNotificationWithIdentifier(
      const std::optional<std::string>& identifierKey);
  static void deleteLocalNotificationWithIdentifierKey(const std::optional<std::string>& identifierKey);
  static void deleteLocalNotification(const std::optional<os::LocalNotification>& notification);
  static void clearAllLocalNotifications();
};
