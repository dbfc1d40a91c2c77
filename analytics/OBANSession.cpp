#include "analytics/OBANSession.h"

void OBANSession::start(std::string appKey, int reportPolicy, std::optional<std::string> channelId) {
  std::lock_guard lock(mutex_);
  started_ = true;
  appKey_ = std::move(appKey);
  reportPolicy_ = reportPolicy;
  channelId_ = std::move(channelId);
}

bool OBANSession::isStarted() const {
  std::lock_guard lock(mutex_);
  return started_;
}

std::string OBANSession::appKey() const {
  std::lock_guard lock(mutex_);
  return appKey_;
}

int OBANSession::reportPolicy() const {
  std::lock_guard lock(mutex_);
  return reportPolicy_;
}

std::optional<std::string> OBANSession::channelId() const {
  std::lock_guard lock(mutex_);
  return channelId_;
}
