// Article cells laid out on a 320-wide phone: where the subviews go, what the vote cell shows,
// and the ad cell's dashed frame.
#include <gtest/gtest.h>

#include <cmath>

#include "news/article/VXNewsDetailAdCell.h"
#include "news/article/VXNewsDetailAdDO.h"
#include "news/article/VXNewsDetailEvalCell.h"
#include "news/article/VXNewsDetailEvalDO.h"
#include "news/article/VXNewsDetailHeaderCell.h"
#include "news/article/VXNewsDetailHeaderDO.h"
#include "news/article/VXNewsDetailImageCell.h"
#include "news/article/VXNewsDetailImageDO.h"
#include "news/article/VXNewsDetailTextCell.h"
#include "news/article/VXNewsDetailTextDO.h"
#include "news/store/VXNewsConfig.h"
#include "news/tests/support/ReaderFixture.h"
#include "os/graphics/RecordingContext.h"
#include "os/graphics/TextLayout.h"
#include "os/testing/TestSandbox.h"

namespace {

class ArticleCellsTest : public newstest::RealTimeFixture {
 protected:
  template <class Cell, class Row>
  std::shared_ptr<Cell> layOut(const std::shared_ptr<Row>& row, const char* identifier) {
    double height = row->calHeightByType();
    auto cell = std::make_shared<Cell>(identifier, VXReaderContext::current());
    cell->setFrame(os::Rect{0, 0, 320, height});
    cell->setContent(row);
    cell->layoutIfNeeded();
    return cell;
  }
};

TEST_F(ArticleCellsTest, TextAndPictureSitInsideTheMargins) {
  auto text = std::make_shared<VXNewsDetailTextDO>(os::Dictionary{{"type", 1}, {"content", "正文"}});
  auto cell = layOut<VXNewsDetailTextCell>(text, "NEWSDETAIL_TEXTCELL");
  EXPECT_EQ(cell->textLabel()->frame(), (os::Rect{12, 5, 296, text->textHeight()}));
  EXPECT_EQ(cell->reuseIdentifier(), "NEWSDETAIL_TEXTCELL");
  EXPECT_EQ(cell->selectionStyle(), os::TableViewCellSelectionStyle::None);

  auto picture = std::make_shared<VXNewsDetailImageDO>(
      os::Dictionary{{"type", 2}, {"content", "not a url"}, {"originalwidth", 640.0}, {"originalheight", 480.0}});
  auto pictureCell = layOut<VXNewsDetailImageCell>(picture, "NEWSDETAIL_IMAGECELL");
  EXPECT_EQ(pictureCell->imageView()->frame(), (os::Rect{12, 5, 296, 222}));
  EXPECT_DOUBLE_EQ(pictureCell->imageView()->layer().cornerRadius(), 5);
}

TEST_F(ArticleCellsTest, HeaderPutsTimeEightAfterTheSourceUnderTheTitle) {
  auto header = std::make_shared<VXNewsDetailHeaderDO>(
      os::Dictionary{{"content", "标题"}, {"source", "新华社"}, {"time", "12-07 08:00"}});
  auto cell = layOut<VXNewsDetailHeaderCell>(header, "NEWSDETAIL_HEADERCELL");
  double y = header->titleHeight() + 11;
  os::Size source = os::sizeWithFont("新华社", os::Font::systemFont(11));
  EXPECT_EQ(cell->titleLabel()->frame(), (os::Rect{12, 3, 296, header->titleHeight()}));
  EXPECT_EQ(cell->sourceLabel()->frame().origin, (os::Point{12, y}));
  EXPECT_EQ(cell->timeLabel()->frame().origin, (os::Point{12 + source.width + 8, y}));
  EXPECT_EQ(cell->timeLabel()->text(), "12-07 08:00");
  EXPECT_EQ(cell->titleLabel()->font(), VXNewsConfig::share()->detailTitleFont());
}

TEST_F(ArticleCellsTest, VoteCellShowsCountsAndSelectsButNeverClears) {
  auto votes = std::make_shared<VXNewsDetailEvalDO>(os::Dictionary{{"flag", 3}, {"diggcount", 7}, {"burycount", -2}});
  auto cell = layOut<VXNewsDetailEvalCell>(votes, "NEWSDETAIL_EVALCELL");
  EXPECT_EQ(cell->diggButton()->frame(), (os::Rect{12, 35, 140, 45}));
  EXPECT_EQ(cell->buryButton()->frame(), (os::Rect{168, 35, 140, 45}));
  EXPECT_EQ(cell->diggButton()->titleForState(os::kControlStateNormal), "7");
  EXPECT_EQ(cell->buryButton()->titleForState(os::kControlStateNormal), "-2");
  EXPECT_TRUE(cell->buryButton()->isSelected());
  EXPECT_FALSE(cell->diggButton()->isSelected());

  cell->setContent(std::make_shared<VXNewsDetailEvalDO>(os::Dictionary{{"flag", 1}}));
  EXPECT_TRUE(cell->buryButton()->isSelected());
  // A cell outside any screen has no rows to update and no table: a vote does nothing harmful.
  EXPECT_EQ(cell->prarentViewController(), nullptr);
  cell->setViewControllerListData(2, 8);
  cell->setContent(nullptr);
  cell->buttonClick(*cell->diggButton());
}

TEST_F(ArticleCellsTest, AdCellIsSelectableAndDrawsARedDashedFrame) {
  auto ad = std::make_shared<VXNewsDetailAdDO>(
      os::Dictionary{{"adid", 1}, {"content", "名字"}, {"note", "说明"}, {"iconurl", ""}, {"adurl", "http://a/"}});
  auto cell = layOut<VXNewsDetailAdCell>(ad, "NEWSDETAIL_ADCELL");
  EXPECT_EQ(cell->selectionStyle(), os::TableViewCellSelectionStyle::Blue);
  EXPECT_EQ(cell->iconView()->frame(), (os::Rect{17, 15, 75, 75}));
  EXPECT_EQ(cell->titleLabel()->text(), "名字");
  EXPECT_EQ(cell->noteLabel()->frame(), (os::Rect{99.5, 50, 205, 40}));

  cell->display();
  ASSERT_TRUE(cell->lastDrawing());
  auto strokes = cell->lastDrawing()->operations(os::DrawOp::Kind::StrokePath);
  ASSERT_EQ(strokes.size(), 1u);
  EXPECT_EQ(strokes[0].state.strokeColor, os::Color::red());
  // 5 on, 5 off around a 296 x 86 frame at (12, 10): 764 points of border, 384 of them drawn.
  double drawn = 0;
  os::Point from;
  for (const auto& element : strokes[0].path.elements()) {
    const os::Point& p = element.points[0];
    bool onBorder = (std::fabs(p.x - 12) < 1e-9 || std::fabs(p.x - 308) < 1e-9) ||
                    (std::fabs(p.y - 10) < 1e-9 || std::fabs(p.y - 96) < 1e-9);
    EXPECT_TRUE(onBorder) << p.x << "," << p.y;
    if (element.verb == os::Path::Verb::Line) {
      double length = std::hypot(p.x - from.x, p.y - from.y);
      EXPECT_LE(length, 5 + 1e-9);
      drawn += length;
    }
    from = p;
  }
  EXPECT_NEAR(drawn, 384, 1e-6);
}

}  // namespace
