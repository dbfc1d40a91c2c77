#pragma once
// The analytics client's session: the values it was started with, which every report it makes
// would carry (the application key, the report policy and the channel). One per process, reached
// through OBAnalytics::session(). Safe to read from any thread.
#include <mutex>
#include <optional>
#include <string>

class OBANSession {
 public:
  // Takes the values of a start; a later start replaces them.
  void start(std::string appKey, int reportPolicy, std::optional<std::string> channelId);

  bool isStarted() const;
  std::string appKey() const;
  int reportPolicy() const;
  // Nothing when the application has no channel.
  std::optional<std::string> channelId() const;

 private:
  mutable std::mutex mutex_;
  bool started_ = false;
  std::string appKey_;
  int reportPolicy_ = 0;
  std::optional<std::string> channelId_;
};
