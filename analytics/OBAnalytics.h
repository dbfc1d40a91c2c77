#pragma once
// The usage-analytics client's public entry. The application starts it once, at launch.
//
// For now the session behind it is not built: the operation writes what it was given to the
// process's ServiceCallLog under "OBAnalytics" and does nothing else.
#include <optional>
#include <string>

class OBAnalytics {
 public:
  // Starts the analytics session with the application key, the report policy and the channel
  // (nothing when the application has none).
  static void startWithAppkey(const std::string& appKey, int reportPolicy, const std::optional<std::string>& channelId);

  OBAnalytics() = delete;
};
