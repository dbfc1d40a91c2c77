#pragma once
// The push notification client's public entry. The application reaches the client only through
// these class operations; none returns a value or reports a failure, because the device token
// and the notifications come back later through the application delegate.
//
// For now the client behind it is not built: each operation writes what it was given to the
// process's ServiceCallLog under "ROVodozov" and does nothing else.
#include "os/core/Data.h"
#include "os/core/Value.h"

class ROVodozov {
 public:
  // Registers the application for remote notifications of the types in the mask (badge 1,
  // sound 2, alert 4) with the given notification categories, a set, or null for none.
  static void registerForRemoteNotificationTypes(unsigned types, const os::Value& categories);
  // Starts the client with the application's launch options; their remote-notification entry
  // counts as a notification received at launch.
  static void setupWithOption(const os::Dictionary& launchOptions);
  // The device token, as the platform reported it.
  static void registerDeviceToken(const os::Data& token);
  // A remote notification's user info, received while the application runs.
  static void handleRemoteNotification(const os::Dictionary& userInfo);

  ROVodozov() = delete;
};
