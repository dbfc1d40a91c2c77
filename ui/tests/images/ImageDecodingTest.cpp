#include <gtest/gtest.h>

#include "ui/images/ImageContentType.h"
#include "ui/images/ImageDecoding.h"
#include "ui/tests/images/ImageTestSupport.h"

using namespace imagetest;
using namespace std::string_literals;

namespace {

os::Data bytes(std::string s) { return os::Data(s.begin(), s.end()); }

// A JPEG with an APP1 segment holding only the orientation tag, right after SOI.
os::Data withExifOrientation(os::Data data, int orientation) {
  std::vector<std::uint8_t> tiff = {'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x12, 0x01, 3, 0, 1, 0, 0, 0,
                                    static_cast<std::uint8_t>(orientation), 0, 0, 0, 0, 0, 0, 0};
  os::Data segment = {0xFF, 0xE1, 0, 0, 'E', 'x', 'i', 'f', 0, 0};
  segment.insert(segment.end(), tiff.begin(), tiff.end());
  segment[3] = static_cast<std::uint8_t>(segment.size() - 2);
  data.insert(data.begin() + 2, segment.begin(), segment.end());
  return data;
}

TEST(ImageContentType, FirstByteDecidesAndWebPNeedsItsFormType) {
  EXPECT_EQ(sd_contentTypeForImageData(jpeg(2, 2)), "image/jpeg");
  EXPECT_EQ(sd_contentTypeForImageData(png(2, 2)), "image/png");
  EXPECT_EQ(sd_contentTypeForImageData(gif(2, 2, {5})), "image/gif");
  EXPECT_EQ(sd_contentTypeForImageData(bytes("II*\0"s)), "image/tiff");
  EXPECT_EQ(sd_contentTypeForImageData(bytes("MM\0*"s)), "image/tiff");
  EXPECT_EQ(sd_contentTypeForImageData(bytes("RIFF\x10\0\0\0WEBPVP8 "s)), "image/webp");
  EXPECT_EQ(sd_contentTypeForImageData(bytes("RIFF\x10\0\0\0WEB"s)), std::nullopt);  // 11 bytes
  EXPECT_EQ(sd_contentTypeForImageData(bytes("RIFF\x10\0\0\0WAVEfmt "s)), std::nullopt);
  EXPECT_EQ(sd_contentTypeForImageData(os::Data{}), std::nullopt);
  EXPECT_EQ(contentTypeForImageData(bytes("<html>"s)), std::nullopt);
}

TEST(ImageDecoding, StillImagesKeepTheirStoredOrientation) {
  auto image = sd_imageWithData(withExifOrientation(jpeg(4, 2), 6));
  ASSERT_TRUE(image);
  EXPECT_EQ(image->orientation(), os::ImageOrientation::Right);
  EXPECT_EQ(sd_imageOrientationFromImageData(png(2, 2)), os::ImageOrientation::Up);
  EXPECT_EQ(sd_exifOrientationToOrientation(2), os::ImageOrientation::UpMirrored);
  EXPECT_EQ(sd_exifOrientationToOrientation(42), os::ImageOrientation::Up);
  EXPECT_EQ(sd_imageWithData(bytes("not an image"s)), nullptr);
  EXPECT_EQ(sd_imageWithData(os::Data{}), nullptr);
}

TEST(ImageDecoding, GIFFramesPlayForTheirDelaysWithShortOrMissingOnesAtOneTenth) {
  auto stated = sd_imageWithData(gif(3, 3, {20, 50, 1}));
  ASSERT_TRUE(stated && stated->isAnimated());
  ASSERT_EQ(stated->frames().size(), 3u);
  EXPECT_DOUBLE_EQ(sd_frameDurationAtIndex(0, *stated), 0.2);
  EXPECT_DOUBLE_EQ(sd_frameDurationAtIndex(1, *stated), 0.5);
  EXPECT_DOUBLE_EQ(sd_frameDurationAtIndex(2, *stated), 0.1);  // 0.01 s is taken as 0.1
  EXPECT_NEAR(stated->duration(), 0.8, 1e-9);

  auto unstated = sd_animatedGIFWithData(gif(2, 2, std::vector<int>(10, -1)));
  ASSERT_TRUE(unstated && unstated->isAnimated());
  EXPECT_EQ(unstated->frames().size(), 10u);
  EXPECT_NEAR(unstated->duration(), 1.0, 1e-9);

  auto zero = sd_animatedGIFWithData(gif(2, 2, {0, 0}));
  ASSERT_TRUE(zero);
  EXPECT_NEAR(zero->duration(), 0.2, 1e-9);

  // Frames keep their own pixels: the second is green.
  EXPECT_EQ(stated->frames()[1]->bitmap().rgba(1, 1)[1], 255);
  EXPECT_EQ(stated->frames()[1]->bitmap().rgba(1, 1)[0], 0);
}

TEST(ImageDecoding, SingleFrameGIFIsAStillImageAndTooManyFramesAreRefused) {
  auto still = sd_imageWithData(gif(4, 4, {10}));
  ASSERT_TRUE(still);
  EXPECT_FALSE(still->isAnimated());
  EXPECT_EQ(still->pixelWidth(), 4);
  // A file claiming more frames than we keep is no image rather than an exhausted process.
  std::vector<int> many(static_cast<std::size_t>(BNImageDecodeLimits().maxFrames) + 1, 2);
  EXPECT_EQ(sd_imageWithData(gif(1, 1, many)), nullptr);
}

TEST(ImageDecoding, DoubleResolutionKeysGetScaleTwo) {
  auto image = os::Image::create(solid(4, 4, 0, 0, 0), 3.0);
  EXPECT_EQ(BNScaledImageForKey("http://h/a@2x.png", image)->scale(), 2.0);
  EXPECT_EQ(BNScaledImageForKey("http://h/a@2x.jpeg", image)->scale(), 2.0);
  EXPECT_EQ(BNScaledImageForKey("http://h/a@2x.p", image)->scale(), 1.0);
  EXPECT_EQ(BNScaledImageForKey("http://h/a@2x.png?v=1", image)->scale(), 1.0);
  EXPECT_EQ(BNScaledImageForKey("@2x.png", image)->scale(), 1.0);  // shorter than 8
  EXPECT_EQ(BNScaledImageForKey("http://h/a.png", image)->scale(), 1.0);
  EXPECT_EQ(BNScaledImageForKey("k", nullptr), nullptr);

  auto animated = sd_animatedGIFWithData(gif(2, 2, {10, 10}));
  auto scaled = BNScaledImageForKey("http://h/x@2x.gif", animated);
  ASSERT_TRUE(scaled->isAnimated());
  EXPECT_EQ(scaled->frames()[1]->scale(), 2.0);
  EXPECT_DOUBLE_EQ(scaled->duration(), animated->duration());
}

TEST(ImageDecoding, ScaledAnimationFramesDoNotShowEarlierFramesThrough) {
  // Frame 0 opaque red, frame 1 fully transparent: the second snapshot must be empty.
  auto red = os::Image::create(solid(4, 4, 255, 0, 0));
  auto clear = os::Image::create(solid(4, 4, 0, 0, 0, 0));
  auto animation = os::Image::animated({red, clear}, 0.4);
  auto scaled = sd_animatedImageByScalingAndCroppingToSize(animation, os::Size{8, 4});
  ASSERT_TRUE(scaled && scaled->isAnimated());
  ASSERT_EQ(scaled->frames().size(), 2u);
  // Made at the screen's scale: 8 × 4 points.
  int s = static_cast<int>(BNImageScreenScale());
  EXPECT_EQ(scaled->frames()[0]->size(), (os::Size{8, 4}));
  EXPECT_EQ(scaled->frames()[0]->bitmap().pixel(4 * s, 2 * s)[0], 255);
  EXPECT_EQ(scaled->frames()[1]->bitmap().pixel(4 * s, 2 * s)[3], 0);
  EXPECT_DOUBLE_EQ(scaled->duration(), 0.4);
  // Same size or no size: the image itself.
  EXPECT_EQ(sd_animatedImageByScalingAndCroppingToSize(animation, os::Size{4, 4}), animation);
  EXPECT_EQ(sd_animatedImageByScalingAndCroppingToSize(animation, os::Size{}), animation);
}

TEST(ImageDecoding, HeaderSizeIsReadOnceTheHeaderHasArrived) {
  auto p = png(7, 5);
  EXPECT_EQ(BNImagePixelSizeFromHeader(os::Data(p.begin(), p.begin() + 23)), std::nullopt);
  EXPECT_EQ(BNImagePixelSizeFromHeader(os::Data(p.begin(), p.begin() + 24)), (std::pair<int, int>(7, 5)));
  EXPECT_EQ(BNImagePixelSizeFromHeader(gif(9, 3, {1})), (std::pair<int, int>(9, 3)));
  EXPECT_EQ(BNImagePixelSizeFromHeader(withExifOrientation(jpeg(6, 11), 3)), (std::pair<int, int>(6, 11)));
  auto j = jpeg(6, 11);
  EXPECT_EQ(BNImagePixelSizeFromHeader(os::Data(j.begin(), j.begin() + 20)), std::nullopt);
  EXPECT_EQ(BNImagePixelSizeFromHeader(bytes("\xFF\xD8\xFF\x01"s)), std::nullopt);
}

}  // namespace
