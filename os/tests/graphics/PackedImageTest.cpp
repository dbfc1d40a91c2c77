#include <gtest/gtest.h>

#include "os/graphics/BitmapContext.h"
#include "os/graphics/PackedImage.h"

namespace os {
namespace {

// Fills, strokes, a clip, a gradient, a clear and a scaled picture at edges that fall between
// pixels and across bands.
void scene(GraphicsContext& c) {
  c.setFillColor(Color::fromRGB255(30, 60, 90));
  c.fillRect(Rect(0.3, 0.7, 50.2, 40.1));
  c.saveState();
  c.rotateCTM(0.2);
  c.setFillColor(Color::rgba(1, 0, 0, 0.5));
  c.fillEllipseInRect(Rect(5.5, 3.25, 20.3, 17.9));
  c.restoreState();
  c.setStrokeColor(Color::white());
  c.setLineWidth(1.3);
  c.strokeRect(Rect(2.2, 9.9, 30.1, 11.7));
  c.clearRect(Rect(40.4, 1.6, 6.2, 7.7));
  c.saveState();
  c.clipToRect(Rect(10.6, 12.1, 25.3, 14.4));
  c.drawLinearGradient(Gradient{{{0, Color::white()}, {1, Color::rgba(0, 0, 1, 0.7)}}}, {0, 10}, {0, 30});
  c.restoreState();
  Bitmap src(3, 2);
  for (std::size_t i = 0; i < src.pixels.size(); ++i) src.pixels[i] = static_cast<std::uint8_t>(i * 37);
  c.drawImage(Image::create(std::move(src)), Rect(20.7, 14.2, 17.1, 9.3));
}

TEST(PackedImage, BandsHoldTheWholeContextsPixelsInLessRoom) {
  BitmapContext whole(101, 45, 2);
  scene(whole);
  for (int rows : {1, 7, 45, 100}) {
    auto packed = PackedImage::render(101, 45, 2, [](BitmapContext& band) { scene(band); }, rows);
    ASSERT_NE(packed, nullptr) << rows;
    auto image = packed->unpack();
    ASSERT_NE(image, nullptr) << rows;
    EXPECT_EQ(image->bitmap(), whole.bitmap()) << rows;
    EXPECT_EQ(image->scale(), 2);
  }
  auto packed = PackedImage::render(101, 45, 2, [](BitmapContext& band) { scene(band); });
  EXPECT_LT(packed->packedSize(), whole.bitmap().pixels.size() / 4);

  // A band context keeps only its own rows; a size past the image limits gets nothing.
  BitmapContext band(101, 45, 2, 40, 10);
  EXPECT_EQ(band.bitmap().height, 5);
  EXPECT_EQ(PackedImage::render(1 << 20, 1 << 20, 1, [](BitmapContext&) {}), nullptr);
  EXPECT_EQ(PackedImage::render(0, 10, 1, [](BitmapContext&) {}), nullptr);
}

}  // namespace
}  // namespace os
