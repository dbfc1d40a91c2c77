#include <gtest/gtest.h>

#include "crash/Brekka.h"
#include "foundation/ServiceCallLog.h"

namespace {

// The caller drops what it gets back; the one reporter must outlive that and take the new key.
TEST(BrekkaTest, StartReturnsTheOneSharedReporterHoldingTheKey) {
  ServiceCallLog::reset();
  const std::string key(40, 'a');
  const Brekka* first = Brekka::startWithAPIKey(key).get();
  auto again = Brekka::startWithAPIKey("b");
  EXPECT_EQ(again.get(), first);
  EXPECT_EQ(again->apiKey(), "b");

  auto starts = ServiceCallLog::calls("Brekka", "startWithAPIKey");
  ASSERT_EQ(starts.size(), 2u);
  EXPECT_EQ(starts[0].arguments["apiKey"].stringOr(), key);
  ServiceCallLog::reset();
}

}  // namespace
