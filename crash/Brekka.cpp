#include "crash/Brekka.h"

#include "foundation/ServiceCallLog.h"

std::shared_ptr<Brekka> Brekka::sharedReporter() {
  // One reporter for the whole process, never destroyed: crash handlers may reach it at exit.
  static auto* reporter = new std::shared_ptr<Brekka>(std::make_shared<Brekka>(PrivateTag{}));
  return *reporter;
}

std::shared_ptr<Brekka> Brekka::startWithAPIKey(const std::string& apiKey) {
  auto reporter = sharedReporter();
  {
    std::lock_guard<std::mutex> lock(reporter->mutex_);
    reporter->apiKey_ = apiKey;
  }
  ServiceCallLog::record("Brekka", "startWithAPIKey", os::Dictionary{{"apiKey", os::Value(apiKey)}});
  return reporter;
}

std::string Brekka::apiKey() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return apiKey_;
}
