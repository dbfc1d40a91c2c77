#include <gtest/gtest.h>

#include "os/runtime/Clock.h"
#include "os/testing/TestSandbox.h"
#include "os/views/Device.h"
#include "ui/images/BNImageCache.h"
#include "ui/tests/images/ImageTestSupport.h"

using namespace imagetest;

namespace {

TEST(ImageMemoryBounds, AFreshCacheKeepsPicturesWithinTheDevicesMemoryAndCount) {
  os::VirtualClockScope clock;
  os::TestSandbox sandbox;
  os::DeviceProfileScope device({.physicalMemory = std::uint64_t{256} << 20});  // a sixteenth: 16 MiB of pixels
  auto cache = BNImageCache::initWithNamespace("bounded");
  EXPECT_EQ(cache->maxMemoryCost(), (std::uint64_t{16} << 20) / 4 / 2);

  for (int i = 0; i < 20; ++i) cache->storeImage(os::Image::create(solid(512, 512, 1, 2, 3)), "big" + std::to_string(i), false);
  EXPECT_FALSE(cache->imageFromMemoryCacheForKey("big0"));
  EXPECT_TRUE(cache->imageFromMemoryCacheForKey("big19"));

  for (int i = 0; i < 300; ++i) cache->storeImage(os::Image::create(solid(1, 1, 1, 2, 3)), "dot" + std::to_string(i), false);
  EXPECT_FALSE(cache->imageFromMemoryCacheForKey("dot0"));
  EXPECT_TRUE(cache->imageFromMemoryCacheForKey("dot299"));
  EXPECT_FALSE(cache->imageFromMemoryCacheForKey("big19"));

  // One picture over the whole budget is still kept, alone, until the next store.
  cache->storeImage(os::Image::create(solid(2048, 2048, 1, 2, 3)), "huge", false);
  EXPECT_TRUE(cache->imageFromMemoryCacheForKey("huge"));
  EXPECT_FALSE(cache->imageFromMemoryCacheForKey("dot299"));
}

}  // namespace
