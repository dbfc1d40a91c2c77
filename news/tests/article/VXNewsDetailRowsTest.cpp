// Article rows: heights on a 320-wide phone, defaults of hostile or missing fields, and what a
// change of the text size step moves.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "news/article/VXNewsDetailAdDO.h"
#include "news/article/VXNewsDetailEvalDO.h"
#include "news/article/VXNewsDetailHeaderDO.h"
#include "news/article/VXNewsDetailImageDO.h"
#include "news/article/VXNewsDetailTextDO.h"
#include "news/store/VXNewsConfig.h"
#include "news/tests/support/ReaderFixture.h"
#include "os/graphics/TextLayout.h"
#include "os/testing/TestSandbox.h"
#include "ui/widgets/LXLabel.h"

namespace {

std::string repeat(const std::string& piece, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += piece;
  return out;
}

class ArticleRowsTest : public newstest::RealTimeFixture {
 protected:
  static double height(VXNewsDetailDO& row) { return row.calHeightByType(); }
  static VXNewsDetailTextDO text(const std::string& content) { return VXNewsDetailTextDO({{"type", 1}, {"content", content}}); }
  static VXNewsDetailHeaderDO header(const std::string& title) {
    return VXNewsDetailHeaderDO({{"content", title}, {"source", "新华社"}, {"time", "2026-12-07 08:00"}});
  }
};

TEST_F(ArticleRowsTest, PicturesScaleToTheContentWidthAndUnsizedOnesAreSquare) {
  VXNewsDetailImageDO sized({{"type", 2}, {"content", "http://x/a.png"}, {"originalwidth", 640.0}, {"originalheight", 480.0}});
  EXPECT_DOUBLE_EQ(height(sized), 242);
  EXPECT_DOUBLE_EQ(sized.imageHeight(), 222);
  EXPECT_DOUBLE_EQ(sized.actualHeight(), 242);

  VXNewsDetailImageDO unsized({{"type", 2}, {"content", "http://x/b.png"}, {"alt", "图"}});
  EXPECT_DOUBLE_EQ(height(unsized), 316);
  EXPECT_DOUBLE_EQ(unsized.imageHeight(), 296);
  EXPECT_EQ(unsized.altText(), "图");

  // Each side defaults on its own; a negative or zero size would divide by zero or flip the row.
  VXNewsDetailImageDO onlyWidth({{"originalwidth", 148.0}, {"originalheight", 0.0}});
  EXPECT_DOUBLE_EQ(height(onlyWidth), 296.0 / 148 * 320 + 20);
  VXNewsDetailImageDO negative({{"originalwidth", -10.0}, {"originalheight", 160.0}});
  EXPECT_DOUBLE_EQ(height(negative), 296.0 / 320 * 160 + 20);
}

TEST_F(ArticleRowsTest, AdAndVoteRowsHaveFixedHeightsAndVoteStateDefaultsToNotVoted) {
  VXNewsDetailAdDO ad({{"adid", 7}, {"urltype", 2}, {"adurl", "http://ads/7"}, {"content", "应用"}, {"note", "好"}});
  EXPECT_DOUBLE_EQ(height(ad), 116);
  EXPECT_DOUBLE_EQ(ad.bodyHeight(), 86);
  EXPECT_EQ(ad.type(), kNewsDetailAd);
  EXPECT_EQ(ad.adid(), 7);
  EXPECT_EQ(ad.urlType(), 2);

  VXNewsDetailEvalDO missing({{"diggcount", 5}, {"burycount", 2}, {"id", 11}, {"category", 3}});
  EXPECT_DOUBLE_EQ(height(missing), 100);
  EXPECT_EQ(missing.flag(), VXNewsDetailEvalDO::kNotVoted);
  EXPECT_EQ(missing.type(), kNewsDetailEval);
  VXNewsDetailEvalDO zero({{"flag", 0}});
  EXPECT_EQ(zero.flag(), VXNewsDetailEvalDO::kNotVoted);
  VXNewsDetailEvalDO votedDown({{"flag", 3}, {"diggcount", "4"}});
  EXPECT_EQ(votedDown.flag(), VXNewsDetailEvalDO::kVotedDown);
  EXPECT_EQ(votedDown.diggCount(), 4);
  // A count beyond 32 bits is clamped, not wrapped into a negative number.
  VXNewsDetailEvalDO huge({{"diggcount", 5000000000LL}});
  EXPECT_EQ(huge.diggCount(), 2147483647);
}

TEST_F(ArticleRowsTest, TextRowsWrapWithinTheMarginsAndAddTwenty) {
  // Body font 18 at step 2: 16 CJK characters fill the 296-point content width, a 17th wraps
  // (it would still fit on a 320-point line).
  auto sixteen = text(repeat("军", 16));
  auto seventeen = text(repeat("军", 17));
  double one = height(sixteen), two = height(seventeen);
  EXPECT_DOUBLE_EQ(one, sixteen.textHeight() + 20);
  EXPECT_GT(sixteen.textHeight(), 0);
  EXPECT_GT(two, one);

  LXLabel measure;
  measure.setText(repeat("军", 17));
  measure.setFont(os::Font::systemFont(18));
  EXPECT_DOUBLE_EQ(seventeen.textHeight(), measure.textHeight(os::Rect{0, 0, 296, 10000}));
}

TEST_F(ArticleRowsTest, HeaderIsTheWrappedTitlePlusThirtyAndNothingWithoutTitle) {
  // Bold 20 at step 2: 14 characters per 296-point line.
  auto oneLine = header(repeat("标", 14));
  auto twoLines = header(repeat("标", 15));
  double line = os::sizeWithFont("标", os::Font::boldSystemFont(20)).height;
  EXPECT_DOUBLE_EQ(height(oneLine), line + 30);
  EXPECT_DOUBLE_EQ(height(twoLines), 2 * line + 30);
  EXPECT_EQ(oneLine.type(), kNewsDetailHeader);
  auto empty = header("");
  EXPECT_DOUBLE_EQ(height(empty), 30);
}

TEST_F(ArticleRowsTest, AFontStepChangeMovesOnlyTextAndHeaderHeights) {
  auto body = text(repeat("这是一段正文。", 12));
  auto title = header(repeat("标题", 9));
  VXNewsDetailImageDO picture({{"originalwidth", 640.0}, {"originalheight", 480.0}});
  VXNewsDetailAdDO ad({{"adid", 1}});
  VXNewsDetailEvalDO votes({{"flag", 1}});

  auto config = VXNewsConfig::share();
  config->setFontSize(1);
  double smallText = height(body), smallTitle = height(title);
  double pictureHeight = height(picture), adHeight = height(ad), voteHeight = height(votes);
  config->setFontSize(3);
  EXPECT_GT(height(body), smallText);
  EXPECT_GT(height(title), smallTitle);
  EXPECT_DOUBLE_EQ(height(picture), pictureHeight);
  EXPECT_DOUBLE_EQ(height(ad), adHeight);
  EXPECT_DOUBLE_EQ(height(votes), voteHeight);
}

TEST_F(ArticleRowsTest, BaseRowHasNoHeightAndDescriptionsListTheirFields) {
  VXNewsDetailDO plain({{"type", 9}, {"content", "x"}});
  EXPECT_DOUBLE_EQ(plain.calHeightByType(), 0);
  EXPECT_EQ(plain.description(), "type = \"9\"\r\ncontent = \"x\"\r\nactualheight = \"0\"\r\n");
  auto title = header("T");
  EXPECT_NE(title.description().find("source = \"新华社\"\r\ntime = \"2026-12-07 08:00\"\r\ntitleHeight = "),
            std::string::npos);
  // Fields of the wrong kind read as absent rather than as garbage.
  VXNewsDetailTextDO odd({{"type", os::Array{}}, {"content", os::Dictionary{}}});
  EXPECT_EQ(odd.type(), 0);
  EXPECT_EQ(odd.content(), "");
}

}  // namespace
