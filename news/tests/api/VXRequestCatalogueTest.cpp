#include <gtest/gtest.h>

#include "foundation/formats/Base64.h"
#include "news/api/VXAdClickRequest.h"
#include "news/api/VXAllAdListRequest.h"
#include "news/api/VXDiggAndBuryRequest.h"
#include "news/api/VXFavoriteRequest.h"
#include "news/api/VXGetFavoriteRequest.h"
#include "news/api/VXGlobalHelper.h"
#include "news/api/VXNewsListRequest.h"
#include "news/api/VXPraseXMLErrorRequest.h"
#include "news/api/VXUploadDumpRequest.h"
#include "news/tests/support/ReaderFixture.h"

namespace {

TEST(VXRequestCatalogue, NewsListFillsTheOptionalKeysWithTheirDefaults) {
  VXNewsListRequest request(os::Dictionary{{"id", 5}, {"flag", 1}});
  EXPECT_EQ(request.params()["opcode"].intValue(), 1010);
  const os::Value& opdata = request.params()["opdata"];
  EXPECT_EQ(opdata["id"].intValue(), 5);
  EXPECT_EQ(opdata["flag"].intValue(), 1);
  EXPECT_EQ(opdata["count"].intValue(), 0);
  EXPECT_EQ(opdata["uptime"].intValue(), -1);
  EXPECT_EQ(opdata["downtime"].intValue(), -1);
  EXPECT_EQ(opdata["upid"].intValue(), 0);
  EXPECT_EQ(opdata["downid"].intValue(), 0);

  VXNewsListRequest more(os::Dictionary{{"id", 5}, {"flag", 2}, {"downid", 77}, {"downtime", 1700000000}, {"count", 20}});
  const os::Value& given = more.params()["opdata"];
  EXPECT_EQ(given["downid"].intValue(), 77);
  EXPECT_EQ(given["downtime"].intValue(), 1700000000);
  EXPECT_EQ(given["count"].intValue(), 20);
  EXPECT_EQ(given["uptime"].intValue(), -1);
}

TEST(VXRequestCatalogue, VotesAndFavouritesRenameTheCategory) {
  os::Dictionary caller{{"id", 9}, {"category", 3}, {"action", 2}};
  for (const os::Dictionary& params : {VXDiggAndBuryRequest(caller).params(), VXFavoriteRequest(caller).params()}) {
    const os::Value& opdata = params["opdata"];
    EXPECT_EQ(opdata["id"].intValue(), 9);
    EXPECT_EQ(opdata["categoryid"].intValue(), 3);
    EXPECT_EQ(opdata["action"].intValue(), 2);
    EXPECT_FALSE(opdata.dictionary()->contains("category"));
  }
  EXPECT_EQ(VXDiggAndBuryRequest(caller).opCode(), 1060);
  EXPECT_EQ(VXFavoriteRequest(caller).opCode(), 1070);
}

TEST(VXRequestCatalogue, FixedPromotionFieldsWhateverTheCaller) {
  VXAdClickRequest request(os::Value("ad-42"));
  const os::Value& click = request.params()["in"];
  EXPECT_EQ(click["appid"].stringOr(), "ad-42");
  EXPECT_EQ(click["cp"].intValue(), 0);
  EXPECT_EQ(click["channelid"].intValue(), 11);
  EXPECT_EQ(VXAdClickRequest(os::Value(7)).serverPath(), "/imkt");

  VXAllAdListRequest all(3);
  EXPECT_EQ(all.params()["in"]["pageno"].intValue(), 3);
  EXPECT_EQ(all.serverPath(), "/imkt/mil");
  EXPECT_EQ(VXGetFavoriteRequest(4).params()["opdata"]["type"].intValue(), 1);
}

TEST(VXRequestCatalogue, ParseErrorWithoutTextSendsAnEmptyOne) {
  VXPraseXMLErrorRequest request(os::Value(12), std::nullopt);
  EXPECT_EQ(request.params()["opdata"]["error"].stringOr("missing"), "");
  EXPECT_EQ(request.params()["opdata"]["id"].intValue(), 12);
}

TEST(VXRequestCatalogue, DumpUploadCarriesTheLogAsItStoodWhenMade) {
  newstest::RequestEnvironment env;
  VXGlobalHelper::writeLog("before");
  // A dump long enough that a wrapping encoder would break it.
  std::string dump(200, 'd');
  VXUploadDumpRequest request(dump);
  VXGlobalHelper::writeLog("after");

  const os::Value& opdata = request.params()["opdata"];
  std::string encoded = opdata["dump"].stringOr();
  EXPECT_EQ(encoded.find_first_of("\r\n"), std::string::npos);
  EXPECT_EQ(base64DecodedString(encoded).value_or(""), dump);
  EXPECT_EQ(opdata["log"].stringOr(), "before\n");
}

}  // namespace
