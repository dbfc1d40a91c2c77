// The analytics client's codec holds the process-wide JSON operations: a caller anywhere in the
// process gets the same results as the data-format layer's codec, with errors under the
// analytics client's names.
#include <gtest/gtest.h>

#include "foundation/formats/JSONCodecProfile.h"
#include "foundation/formats/JSONTideDeserializing.h"
#include "foundation/formats/JSONTideSerializing.h"
#include "foundation/formats/JTSerializer.h"
#include "qqconnect/analytics/VMA4QCJSON.h"

namespace {

TEST(ProcessWideJSON, ParseErrorsCarryTheAnalyticsNamesAndResultsStayTheSame) {
  os::Error error;
  EXPECT_FALSE(objectFromJSONStringWithParseOptions("{\"a\":\n[1,", 0, &error));
  EXPECT_EQ(error.domain, "TXJTErrorDomain");
  EXPECT_EQ(error.code, -1);
  EXPECT_TRUE(error.userInfo.find("TXJTAtIndexKey"));
  ASSERT_TRUE(error.userInfo.find("TXJTLineNumberKey"));
  EXPECT_EQ(error.userInfo["TXJTLineNumberKey"].intValue(), 2);
  EXPECT_FALSE(error.userInfo.find("JTAtIndexKey"));
  EXPECT_FALSE(error.userInfo.find("JTLineNumberKey"));

  os::Error dataError;
  EXPECT_FALSE(objectFromJSONDataWithParseOptions(os::dataFromString("[1 2]"), 0, &dataError));
  EXPECT_EQ(dataError.domain, "TXJTErrorDomain");

  // The news client's request builder writes through the same operation: same text as ever.
  const os::Value request(os::Dictionary{{"opcode", 1010}, {"title", "军情/\"速递\""}, {"rate", 0.1}});
  auto standard = JTSerializer::serializeObject(request, 0, JTEncodeAsString | JTEncodeCollectionObject, {}, nullptr,
                                                JSONCodecProfile::standard());
  ASSERT_TRUE(standard && standard->string());
  EXPECT_EQ(JSONString(request), *standard->string());
  EXPECT_EQ(objectFromJSONString(*JSONString(request)), request);
}

}  // namespace
