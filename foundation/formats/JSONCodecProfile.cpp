#include "foundation/formats/JSONCodecProfile.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

namespace {
std::atomic<const JSONCodecProfile*> gCurrent{nullptr};
std::mutex gKeptMutex;
// Made on first use, so a client may set its profile from a load-time initialiser of its own;
// never destroyed: work on other threads may still reach it while the process exits.
std::vector<std::unique_ptr<JSONCodecProfile>>& kept() {
  static auto* profiles = new std::vector<std::unique_ptr<JSONCodecProfile>>;
  return *profiles;
}
}

const JSONCodecProfile& JSONCodecProfile::standard() {
  static const JSONCodecProfile profile;
  return profile;
}

const JSONCodecProfile& JSONCodecProfile::current() {
  const JSONCodecProfile* p = gCurrent.load(std::memory_order_acquire);
  return p ? *p : standard();
}

void JSONCodecProfile::setCurrent(const JSONCodecProfile& profile) {
  // Profiles handed out by current() must outlive every caller, so each one set is kept.
  std::lock_guard<std::mutex> lock(gKeptMutex);
  kept().push_back(std::make_unique<JSONCodecProfile>(profile));
  gCurrent.store(kept().back().get(), std::memory_order_release);
}

os::Error JSONCodecProfile::error(std::string message) const {
  return os::Error::withDescription(errorDomain, -1, std::move(message));
}
