#include "sharing/service/OBSocialContext.h"

namespace {
std::mutex gMutex;
// Never destroyed: work on other threads may still reach it while the process exits.
std::shared_ptr<OBSocialContext>& gCurrent = *new std::shared_ptr<OBSocialContext>;
}  // namespace

std::shared_ptr<OBSocialContext> OBSocialContext::current() {
  std::lock_guard lock(gMutex);
  if (!gCurrent) gCurrent = std::make_shared<OBSocialContext>();
  return gCurrent;
}

std::shared_ptr<OBSocialContext> OBSocialContext::setCurrent(std::shared_ptr<OBSocialContext> context) {
  std::lock_guard lock(gMutex);
  auto previous = std::move(gCurrent);
  gCurrent = std::move(context);
  return previous;
}
