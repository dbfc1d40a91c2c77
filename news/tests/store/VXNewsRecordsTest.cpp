#include <gtest/gtest.h>

#include <string>

#include "foundation/formats/JSONDecoder.h"
#include "news/store/VXAdDO.h"
#include "news/store/VXNewsCategory.h"
#include "news/store/VXNewsConfig.h"
#include "news/store/VXNewsDBManager.h"
#include "news/store/VXNewsDO.h"
#include "news/tests/support/ReaderFixture.h"
#include "os/graphics/Font.h"
#include "os/graphics/TextLayout.h"
#include "os/testing/TestSandbox.h"

namespace {

os::Dictionary json(const std::string& text) {
  auto value = JSONDecoder::decoder()->objectWithUTF8String(text.data(), text.size());
  EXPECT_TRUE(value && value->isDictionary()) << text;
  return value && value->dictionary() ? *value->dictionary() : os::Dictionary{};
}

using NewsRecords = newstest::RealTimeFixture;

TEST_F(NewsRecords, ANewsItemReadsItsAnswerAndDerivesItsStyle) {
  VXNewsDO item(json(R"({"id": 12, "categoryid": 3, "title": "T", "source": " \n Src \r\n", "publishtime": 1700000000,
                        "summary": "ignored", "type": "album", "upmark": "hot", "icons": ["a", "b", "c"]})"));
  EXPECT_EQ(item.ID(), 12);
  EXPECT_EQ(item.category(), 3);
  EXPECT_EQ(item.source(), "Src");
  EXPECT_EQ(item.summary(), "");
  EXPECT_EQ(item.time(), 1700000000);
  EXPECT_EQ(item.type(), "album");
  EXPECT_EQ(item.style(), VXNewsDO::kThreeIconStyle);

  for (const char* icons : {R"(["a"])", R"(["a", "b"])", R"(["a", "b", "c", "d"])"})
    EXPECT_EQ(VXNewsDO(json(std::string(R"({"icons": )") + icons + "}")).style(), VXNewsDO::kOneIconStyle) << icons;
  for (const char* icons : {"[]", "null", R"("a")", R"({"x": "y"})"})
    EXPECT_EQ(VXNewsDO(json(std::string(R"({"icons": )") + icons + "}")).style(), VXNewsDO::kTitleStyle) << icons;

  EXPECT_EQ(VXNewsDO(json(R"({"categoryid": 3})"), 9).category(), 9);
}

TEST_F(NewsRecords, ANewsItemTreatsMembersOfTheWrongTypeAsAbsent) {
  VXNewsDO item(json(R"({"id": "x12", "categoryid": [3], "title": 5, "source": {"a": 1}, "publishtime": true,
                        "type": 2, "upmark": null, "icons": [1, null, "u", {"v": 2}]})"));
  EXPECT_EQ(item.ID(), 0);
  EXPECT_EQ(item.category(), 0);
  EXPECT_EQ(item.title(), "");
  EXPECT_EQ(item.source(), "");
  EXPECT_EQ(item.time(), 0);
  EXPECT_EQ(item.type(), "");
  EXPECT_EQ(item.upmark(), "");
  EXPECT_EQ(item.iconurls(), std::vector<std::string>{"u"});
  EXPECT_EQ(item.style(), VXNewsDO::kOneIconStyle);

  // The text form of an integer is one (stored rows give times as text); a fraction is cut.
  VXNewsDO text(json(R"({"id": " 77 ", "publishtime": 12.9})"));
  EXPECT_EQ(text.ID(), 77);
  EXPECT_EQ(text.time(), 12);
}

TEST_F(NewsRecords, SavingAnItemStoresItsDatabaseFormOncePerCategory) {
  VXNewsDO item(json(R"({"id": 8, "title": "x", "icons": ["a", "b", "c"], "summary": "s"})"), 2);
  auto form = item.dictForDB();
  EXPECT_EQ(form["icon3"], os::Value("c"));
  EXPECT_EQ(form["summary"], os::Value(""));
  EXPECT_TRUE(item.saveToDB(false));
  EXPECT_FALSE(item.saveToDB(true));
  auto stored = VXNewsDBManager::share()->createNewsListWithDB(2);
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(stored[0]->iconurls().size(), 3u);
}

TEST_F(NewsRecords, RowHeightsFollowTheStyle) {
  const double W = 320;
  const double line = os::sizeWithFont("A", os::Font::boldSystemFont(18)).height;  // one line of title
  VXNewsDO title(json(R"({"title": "A"})"));
  EXPECT_DOUBLE_EQ(title.calHeightByStyle(W), line + 45);
  EXPECT_DOUBLE_EQ(*title.titleHeight(), line);

  VXNewsDO one(json(R"({"title": "A", "icons": ["a"]})"));
  EXPECT_DOUBLE_EQ(one.calHeightByStyle(W), 63 + 45);  // the icon is taller than one line

  VXNewsDO three(json(R"({"title": "A", "icons": ["a", "b", "c"]})"));
  EXPECT_DOUBLE_EQ(three.calHeightByStyle(W), line + 63 + 55);

  // A long title wraps sooner beside the icon than across the row.
  std::string longTitle(60, 'M');
  VXNewsDO wide(json(R"({"title": ")" + longTitle + R"("})"));
  VXNewsDO narrow(json(R"({"title": ")" + longTitle + R"(", "icons": ["a"]})"));
  wide.calHeightByStyle(W);
  narrow.calHeightByStyle(W);
  EXPECT_GT(*narrow.titleHeight(), *wide.titleHeight());
}

TEST_F(NewsRecords, ACategoryFallsBackToItsIDForOrderAndToFlagOne) {
  VXNewsCategory plain(json(R"({"id": 7, "name": "A"})"));
  EXPECT_EQ(plain.order(), 7);
  EXPECT_EQ(plain.flag(), 1);
  EXPECT_EQ(plain.updateTime(), 0);

  VXNewsCategory wrong(json(R"({"id": 7, "name": 3, "flag": "no", "order": [1]})"));
  EXPECT_EQ(wrong.name(), "");
  EXPECT_EQ(wrong.flag(), 1);
  EXPECT_EQ(wrong.order(), 7);

  VXNewsCategory stored(json(R"({"id": 4, "name": "B", "order": 0, "flag": 3})"), true);
  auto list = VXNewsDBManager::share()->createCategoryListWithDB();
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].ID(), 4);
  EXPECT_EQ(list[0].name(), "B");
  EXPECT_EQ(list[0].flag(), 3);
  EXPECT_EQ(list[0].order(), 0);
  EXPECT_EQ(stored.description(),
            "ID = \"4\"\r\nname = \"B\"\r\nflag = \"3\"\r\norder = \"0\"\r\nupdateTime = \"0\"\r\n");
}

TEST_F(NewsRecords, AnAdKeepsDefaultsForAbsentOrMistypedMembers) {
  VXAdDO only(json(R"({"adid": 5})"));
  EXPECT_EQ(only.adid(), 5);
  EXPECT_EQ(only.type(), 0);
  EXPECT_EQ(only.content(), "");
  EXPECT_EQ(only.name(), "");

  VXAdDO full(json(R"({"adid": 6, "type": 2, "content": "http://ad", "icon": "i", "name": "n", "summary": "s"})"));
  EXPECT_EQ(full.type(), 2);
  EXPECT_EQ(full.content(), "http://ad");
  EXPECT_EQ(full.description(),
            "adid = \"6\"\r\ntype = \"2\"\r\ncontent = \"http://ad\"\r\nicon = \"i\"\r\nname = \"n\"\r\nsummary = \"s\"\r\n");

  VXAdDO wrong(json(R"({"adid": {}, "type": "web", "content": 3, "icon": [], "name": null, "summary": false})"));
  EXPECT_EQ(wrong.adid(), 0);
  EXPECT_EQ(wrong.type(), 0);
  EXPECT_EQ(wrong.content(), "");
  EXPECT_EQ(wrong.icon(), "");
  EXPECT_EQ(wrong.summary(), "");
}

}  // namespace
