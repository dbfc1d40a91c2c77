#include "news/api/VXReaderContext.h"

#include "ui/images/BNImageCache.h"

namespace {

// The one process-wide value of the news client: which context the shared accessors answer from.
std::mutex gCurrentMutex;
// Never destroyed: work on other threads may still reach it while the process exits.
std::shared_ptr<VXReaderContext>& gCurrent = *new std::shared_ptr<VXReaderContext>;

}  // namespace

std::shared_ptr<VXReaderContext> VXReaderContext::current() {
  std::lock_guard lock(gCurrentMutex);
  if (!gCurrent) gCurrent = std::make_shared<VXReaderContext>();
  return gCurrent;
}

std::shared_ptr<BNImageCache> VXReaderContext::images() {
  return imageCache.get([] { return BNImageCache::sharedImageCache(); });
}

std::shared_ptr<VXReaderContext> VXReaderContext::setCurrent(std::shared_ptr<VXReaderContext> context) {
  std::lock_guard lock(gCurrentMutex);
  std::swap(gCurrent, context);
  return context;
}
