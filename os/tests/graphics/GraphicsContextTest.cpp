#include <gtest/gtest.h>

#include <numbers>

#include "os/graphics/BitmapContext.h"
#include "os/graphics/RecordingContext.h"
#include "os/graphics/TextLayout.h"

namespace os {
namespace {

std::vector<int> px(const Bitmap& b, int x, int y) {
  const std::uint8_t* p = b.pixel(x, y);
  return {p[0], p[1], p[2], p[3]};
}
const std::vector<int> kRed = {255, 0, 0, 255};
const std::vector<int> kNone = {0, 0, 0, 0};

TEST(RecordingContext, RecordsOperationsWithTheStateTheyWereMadeIn) {
  RecordingContext ctx;
  ctx.saveState();
  ctx.setFillColor(Color::fromRGB255(255, 0, 0));
  ctx.translateCTM(0, 100);
  ctx.scaleCTM(1, -1);
  ctx.fillRect(Rect(0, 0, 10, 20));
  ctx.restoreState();
  ctx.restoreState();  // unbalanced: ignored
  ctx.fillRect(Rect(1, 1, 2, 2));
  EXPECT_EQ(ctx.text(),
            "save\n"
            "fillColor rgba(1.00, 0.00, 0.00, 1.00)\n"
            "concat [1, 0, 0, 1, 0, 100]\n"
            "concat [1, 0, 0, -1, 0, 0]\n"
            "fillRect {{0, 0}, {10, 20}}\n"
            "restore\n"
            "fillRect {{1, 1}, {2, 2}}\n");
  auto fills = ctx.operations(DrawOp::Kind::FillRect);
  ASSERT_EQ(fills.size(), 2u);
  // The flip maps y = 20 to 80 in the view; restore brings back black and the identity.
  EXPECT_EQ(fills[0].state.ctm.apply(Point{0, 20}), (Point{0, 80}));
  EXPECT_EQ(fills[0].state.fillColor, Color::red());
  EXPECT_EQ(fills[1].state.fillColor, Color::black());
  EXPECT_TRUE(fills[1].state.ctm.isIdentity());
}

TEST(RecordingContext, PathsGradientsAndImagesReadBack) {
  RecordingContext ctx;
  ctx.setLineWidth(2);
  ctx.setLineCap(LineCap::Round);
  ctx.moveTo(0, 0);
  ctx.addLineTo(10, 0);
  ctx.addArc(10, 10, 10, -std::numbers::pi / 2, 0, false);
  ctx.closePath();
  ctx.strokePath();
  EXPECT_TRUE(ctx.path().isEmpty());  // stroking consumes the path
  ctx.addRoundedRect(Rect(0, 0, 20, 10), 50);  // radius clamped to 5
  ctx.fillPath(FillRule::EvenOdd);
  Gradient g{{{0, Color::white()}, {1, Color::black()}}};
  ctx.drawLinearGradient(g, {0, 0}, {0, 10});
  auto img = Image::create(Bitmap(2, 2));
  img->setName("avatar");
  ctx.drawImage(img, Rect(5, 5, 40, 40));
  auto lines = ctx.text();
  EXPECT_NE(lines.find("lineCap round"), std::string::npos);
  EXPECT_NE(lines.find("strokePath M 0 0 L 10 0 A 10 10 10 -1.5708 0 ccw Z"), std::string::npos);
  EXPECT_NE(lines.find("eoFillPath M 5 0 L 15 0 A 15 5 5"), std::string::npos);
  EXPECT_NE(lines.find("linearGradient (0, 0) -> (0, 10) [0: rgba(1.00, 1.00, 1.00, 1.00), 1: rgba(0.00, 0.00, 0.00, 1.00)]"),
            std::string::npos);
  EXPECT_NE(lines.find("image avatar {{5, 5}, {40, 40}}"), std::string::npos);
  EXPECT_EQ(ctx.operations(DrawOp::Kind::StrokePath)[0].state.lineWidth, 2);
  EXPECT_EQ(g.colorAt(0.5), Color::withWhite(0.5));
}

TEST(RecordingContext, TextIsDrawnLineByLine) {
  RecordingContext ctx;
  ctx.setFillColor(Color::gray());
  ctx.drawText("中文abc def中文", Rect(10, 20, 40, 100), Font::systemFont(10));
  EXPECT_EQ(ctx.drawnTexts(), (std::vector<std::string>{"中文abc", "def中文"}));
  auto ops = ctx.operations(DrawOp::Kind::ShowText);
  EXPECT_EQ(ops[0].point, (Point{10, 28}));
  EXPECT_EQ(ops[1].point, (Point{10, 40}));
  EXPECT_EQ(ops[1].color, Color::gray());

  AttributedString s("ab");
  s.setColor({1, 1}, Color::blue());
  s.setUnderline({1, 1}, true);
  ctx.clear();
  ctx.drawTextFrame(TextFrame::layout(s, Rect(0, 0, 100, 100), Font::systemFont(10)));
  EXPECT_EQ(ctx.text(),
            "text \"a\" at (0, 8) System 10 rgba(0.00, 0.00, 0.00, 1.00)\n"
            "text \"b\" at (5.5, 8) System 10 rgba(0.00, 0.00, 1.00, 1.00) underline\n");
}

TEST(GraphicsContextStack, CurrentContextIsTheInnermostPushed) {
  EXPECT_EQ(currentGraphicsContext(), nullptr);
  auto outer = std::make_shared<RecordingContext>();
  auto inner = std::make_shared<RecordingContext>();
  pushGraphicsContext(outer);
  pushGraphicsContext(inner);
  currentGraphicsContext()->fillRect(Rect(0, 0, 1, 1));
  popGraphicsContext();
  EXPECT_EQ(currentGraphicsContext(), outer.get());
  EXPECT_EQ(inner->operations().size(), 1u);
  EXPECT_TRUE(outer->operations().empty());
  popGraphicsContext();
  popGraphicsContext();  // extra pop: harmless
  EXPECT_EQ(currentGraphicsContext(), nullptr);
  EXPECT_EQ(imageFromCurrentImageContext(), nullptr);
}

TEST(BitmapContext, FillsRectsAndPathsAtPixelCentres) {
  BitmapContext ctx(6, 6);
  ctx.setFillColor(Color::red());
  ctx.fillRect(Rect(1, 1, 2, 3));
  const Bitmap& b = ctx.bitmap();
  EXPECT_EQ(px(b, 1, 1), kRed);
  EXPECT_EQ(px(b, 2, 3), kRed);
  EXPECT_EQ(px(b, 3, 1), kNone);
  EXPECT_EQ(px(b, 1, 4), kNone);
  EXPECT_EQ(px(b, 0, 0), kNone);

  BitmapContext ring(10, 10);
  ring.setFillColor(Color::red());
  ring.addRect(Rect(0, 0, 10, 10));
  ring.addRect(Rect(3, 3, 4, 4));
  ring.fillPath(FillRule::EvenOdd);
  EXPECT_EQ(px(ring.bitmap(), 1, 1), kRed);
  EXPECT_EQ(px(ring.bitmap(), 5, 5), kNone);

  BitmapContext ellipse(10, 10);
  ellipse.setFillColor(Color::red());
  ellipse.fillEllipseInRect(Rect(0, 0, 10, 10));
  EXPECT_EQ(px(ellipse.bitmap(), 5, 5), kRed);
  EXPECT_EQ(px(ellipse.bitmap(), 0, 0), kNone);
  EXPECT_EQ(px(ellipse.bitmap(), 9, 9), kNone);
}

TEST(BitmapContext, TakenImageHoldsThePixelsAndLeavesTheContextEmpty) {
  BitmapContext ctx(4, 2, 2);
  ctx.setFillColor(Color::red());
  ctx.fillRect(Rect(0, 0, 1, 1));
  auto copy = ctx.makeImage();
  auto taken = ctx.takeImage();
  ASSERT_NE(taken, nullptr);
  EXPECT_EQ(taken->bitmap(), copy->bitmap());
  EXPECT_EQ(px(taken->bitmap(), 1, 1), kRed);
  EXPECT_DOUBLE_EQ(taken->scale(), 2);
  EXPECT_EQ(ctx.bitmap().width, 0);
  ctx.fillRect(Rect(0, 0, 2, 1));  // draws nothing, touches nothing
  EXPECT_EQ(px(taken->bitmap(), 3, 1), kNone);
}

TEST(BitmapContext, ClipAlphaStrokeAndClear) {
  BitmapContext ctx(4, 4);
  ctx.fillAll(Color::white());
  ctx.saveState();
  ctx.clipToRect(Rect(0, 0, 2, 4));
  ctx.setFillColor(Color::black());
  ctx.setAlpha(0.5);
  ctx.fillRect(Rect(0, 0, 4, 4));
  ctx.restoreState();
  EXPECT_EQ(px(ctx.bitmap(), 0, 0), (std::vector<int>{128, 128, 128, 255}));
  EXPECT_EQ(px(ctx.bitmap(), 3, 0), (std::vector<int>{255, 255, 255, 255}));
  ctx.clearRect(Rect(0, 0, 1, 1));
  EXPECT_EQ(px(ctx.bitmap(), 0, 0), kNone);

  BitmapContext line(5, 5);
  line.setStrokeColor(Color::red());
  line.setLineWidth(1);
  line.moveTo(0, 2.5);
  line.addLineTo(5, 2.5);
  line.strokePath();
  EXPECT_EQ(px(line.bitmap(), 3, 2), kRed);
  EXPECT_EQ(px(line.bitmap(), 3, 1), kNone);
}

TEST(BitmapContext, DrawsImagesScaledAndTurnedUpright) {
  Bitmap src(2, 1);
  src.pixel(0, 0)[0] = 255;
  src.pixel(0, 0)[3] = 255;
  src.pixel(1, 0)[2] = 255;
  src.pixel(1, 0)[3] = 255;
  BitmapContext ctx(4, 2);
  ctx.setInterpolation(Interpolation::Nearest);
  ctx.drawImage(Image::create(src), Rect(0, 0, 4, 2));
  EXPECT_EQ(px(ctx.bitmap(), 1, 1), kRed);
  EXPECT_EQ(px(ctx.bitmap(), 2, 0), (std::vector<int>{0, 0, 255, 255}));

  // Shown turned clockwise: red on top, blue below.
  BitmapContext turned(1, 2);
  turned.drawImage(Image::create(src, 1, ImageOrientation::Right), Rect(0, 0, 1, 2));
  EXPECT_EQ(px(turned.bitmap(), 0, 0), kRed);
  EXPECT_EQ(px(turned.bitmap(), 0, 1), (std::vector<int>{0, 0, 255, 255}));
}

TEST(BitmapContext, ImageContextsWorkInPointsAtTheirScale) {
  beginImageContext(Size{3, 2}, false, 2);
  ASSERT_NE(currentGraphicsContext(), nullptr);
  currentGraphicsContext()->setFillColor(Color::red());
  currentGraphicsContext()->fillRect(Rect(0, 0, 1, 1));
  auto img = imageFromCurrentImageContext();
  endImageContext();
  EXPECT_EQ(currentGraphicsContext(), nullptr);
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(img->pixelWidth(), 6);
  EXPECT_EQ(img->scale(), 2);
  EXPECT_EQ(img->size(), (Size{3, 2}));
  EXPECT_EQ(px(img->bitmap(), 1, 1), kRed);
  EXPECT_EQ(px(img->bitmap(), 2, 2), kNone);

  // A hostile size draws nothing instead of allocating.
  beginImageContext(Size{60000, 60000}, false, 2);
  currentGraphicsContext()->fillRect(Rect(0, 0, 100, 100));
  EXPECT_EQ(imageFromCurrentImageContext()->pixelWidth(), 0);
  endImageContext();

  beginImageContext(Size{1, 1}, true, 1);
  EXPECT_EQ(px(imageFromCurrentImageContext()->bitmap(), 0, 0), (std::vector<int>{255, 255, 255, 255}));
  endImageContext();
}

TEST(BitmapContext, LinearGradientRunsBetweenItsEnds) {
  BitmapContext ctx(1, 10);
  ctx.drawLinearGradient(Gradient{{{0, Color::black()}, {1, Color::white()}}}, {0, 0}, {0, 10});
  EXPECT_LT(px(ctx.bitmap(), 0, 0)[0], 20);
  EXPECT_GT(px(ctx.bitmap(), 0, 9)[0], 235);
  EXPECT_NEAR(px(ctx.bitmap(), 0, 5)[0], 140, 2);
}

}  // namespace
}  // namespace os
