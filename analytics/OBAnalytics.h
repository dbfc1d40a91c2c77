#pragma once
// The usage-analytics client's public entry. The application starts it once, at launch.
//
// Starting hands the values to the client's session object, which keeps them; nothing is
// recorded or uploaded yet. Every start is also written to the process's ServiceCallLog under
// "OBAnalytics".
#include <memory>
#include <optional>
#include <string>

class OBANSession;

class OBAnalytics {
 public:
  // Starts the analytics session with the application key, the report policy and the channel
  // (nothing when the application has none).
  static void startWithAppkey(const std::string& appKey, int reportPolicy, const std::optional<std::string>& channelId);

  // The client's one session.
  static std::shared_ptr<const OBANSession> session();

  OBAnalytics() = delete;

 private:
  static std::shared_ptr<OBANSession> sharedSession();
};
