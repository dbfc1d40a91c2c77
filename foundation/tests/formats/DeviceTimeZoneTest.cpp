#include <gtest/gtest.h>

#include "foundation/formats/DateUtilities.h"
#include "os/views/Device.h"

namespace {

// 11:34 UTC on 5 December 2026: 19:34 in Beijing, as the server writes it.
const os::Date kPublished = os::Date::fromTimeIntervalSince1970(1796470440);

TEST(DeviceTimeZone, DatesAreShownInChinaTimeUnlessTheProfileSaysOtherwise) {
  EXPECT_EQ(os::Device::current().profile().timeZone, "Asia/Shanghai");
  EXPECT_EQ(stringWithFormat(kPublished, "MM-dd HH:mm"), "12-05 19:34");

  os::DeviceProfile profile = os::Device::current().profile();
  profile.timeZone = "America/New_York";
  {
    os::DeviceProfileScope scope(profile);
    EXPECT_EQ(stringWithFormat(kPublished, "MM-dd HH:mm"), "12-05 06:34");
  }
  EXPECT_EQ(stringWithFormat(kPublished, "yyyy-MM-dd HH:mm"), "2026-12-05 19:34");
}

}  // namespace
