#include <gtest/gtest.h>

#include <gif_lib.h>
#include <jpeglib.h>
#include <png.h>
#include <zlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "os/graphics/BitmapContext.h"
#include "os/graphics/ImageCodec.h"

namespace os {
namespace {

Bitmap pattern(int w, int h) {
  Bitmap b(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      std::uint8_t* p = b.pixel(x, y);
      p[0] = static_cast<std::uint8_t>(x * 255 / std::max(1, w - 1));
      p[1] = static_cast<std::uint8_t>(y * 255 / std::max(1, h - 1));
      p[2] = static_cast<std::uint8_t>((x * 37 + y * 91) % 256);
      p[3] = 255;
    }
  return b;
}

Data jpegOf(int w, int h, double quality = 0.9) {
  auto data = encodeJPEG(*Image::create(pattern(w, h)), quality);
  EXPECT_TRUE(data.has_value());
  return data.value_or(Data{});
}

// A JPEG with an APP1 segment holding only the orientation tag, put right after SOI.
Data withExifOrientation(Data jpeg, int orientation, bool littleEndian) {
  std::vector<std::uint8_t> tiff = littleEndian
      ? std::vector<std::uint8_t>{'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x12, 0x01, 3, 0, 1, 0, 0, 0,
                                  static_cast<std::uint8_t>(orientation), 0, 0, 0, 0, 0, 0, 0}
      : std::vector<std::uint8_t>{'M', 'M', 0, 42, 0, 0, 0, 8, 0, 1, 0x01, 0x12, 0, 3, 0, 0, 0, 1,
                                  0, static_cast<std::uint8_t>(orientation), 0, 0, 0, 0, 0, 0};
  Data seg = {0xFF, 0xE1, 0, 0, 'E', 'x', 'i', 'f', 0, 0};
  seg.insert(seg.end(), tiff.begin(), tiff.end());
  std::size_t len = seg.size() - 2;
  seg[2] = static_cast<std::uint8_t>(len >> 8);
  seg[3] = static_cast<std::uint8_t>(len & 0xFF);
  jpeg.insert(jpeg.begin() + 2, seg.begin(), seg.end());
  return jpeg;
}

struct GifFrame {
  int left, top, width, height;
  int colorIndex;  // every pixel
  int delayCs;
  int disposal = DISPOSAL_UNSPECIFIED;
  int transparent = NO_TRANSPARENT_COLOR;
};

int gifWrite(GifFileType* gif, const GifByteType* bytes, int n) {
  auto* out = static_cast<Data*>(gif->UserData);
  out->insert(out->end(), bytes, bytes + n);
  return n;
}

// Palette: 0 red, 1 green, 2 blue, 3 white.
Data writeGif(int w, int h, const std::vector<GifFrame>& frames, bool withControlBlocks = true) {
  Data out;
  int err = 0;
  GifFileType* gif = EGifOpen(&out, gifWrite, &err);
  EXPECT_NE(gif, nullptr);
  GifColorType colors[4] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
  ColorMapObject* map = GifMakeMapObject(4, colors);
  EGifSetGifVersion(gif, true);
  EGifPutScreenDesc(gif, w, h, 8, 0, map);
  for (const GifFrame& f : frames) {
    if (withControlBlocks) {
      GraphicsControlBlock gcb{f.disposal, false, f.delayCs, f.transparent};
      GifByteType ext[4];
      size_t n = EGifGCBToExtension(&gcb, ext);
      EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(n), ext);
    }
    EGifPutImageDesc(gif, f.left, f.top, f.width, f.height, false, nullptr);
    std::vector<GifPixelType> line(static_cast<std::size_t>(f.width), static_cast<GifPixelType>(f.colorIndex));
    for (int y = 0; y < f.height; ++y) EGifPutLine(gif, line.data(), f.width);
  }
  EGifCloseFile(gif, &err);
  GifFreeMapObject(map);
  return out;
}

std::vector<int> rgba(const Image& img, int x, int y) {
  auto p = img.bitmap().rgba(x, y);
  return {p[0], p[1], p[2], p[3]};
}

TEST(ImageSniffing, RecognisesFormatsByMagicBytes) {
  EXPECT_EQ(sniffImageFormat(jpegOf(2, 2)), ImageFormat::JPEG);
  EXPECT_EQ(sniffImageFormat(*encodePNG(*Image::create(pattern(2, 2)))), ImageFormat::PNG);
  EXPECT_EQ(sniffImageFormat(writeGif(1, 1, {{0, 0, 1, 1, 0, 0}})), ImageFormat::GIF);
  EXPECT_EQ(sniffImageFormat(dataFromString(std::string("II*\0rest", 8))), ImageFormat::TIFF);
  EXPECT_EQ(sniffImageFormat(dataFromString(std::string("MM\0*rest", 8))), ImageFormat::TIFF);
  EXPECT_EQ(sniffImageFormat(dataFromString(std::string("RIFF\x10\0\0\0WEBPVP8 ", 16))), ImageFormat::WebP);
  EXPECT_EQ(sniffImageFormat(dataFromString(std::string("RIFF\x10\0\0\0WAVEfmt ", 16))), ImageFormat::Unknown);
  EXPECT_EQ(sniffImageFormat(dataFromString("RIFF")), ImageFormat::Unknown);
  EXPECT_EQ(sniffImageFormat(Data{}), ImageFormat::Unknown);
  EXPECT_EQ(mimeTypeForImageFormat(ImageFormat::WebP), "image/webp");
  EXPECT_EQ(mimeTypeForImageFormat(ImageFormat::Unknown), "");
  Error e;
  EXPECT_EQ(decodeImage(dataFromString("not an image"), &e), nullptr);
  EXPECT_EQ(e.code, kImageErrorUnknownFormat);
}

TEST(ImagePNG, RoundTripIsExactIncludingAlpha) {
  Bitmap b = pattern(7, 5);
  b.pixel(3, 2)[3] = 0;
  b.pixel(4, 4)[3] = 128;
  auto png = encodePNG(*Image::create(b));
  ASSERT_TRUE(png);
  Error e;
  auto back = decodeImage(*png, &e, ImageDecodeOptions{2, {}});
  ASSERT_NE(back, nullptr) << e.localizedDescription();
  EXPECT_EQ(back->bitmap(), b);
  EXPECT_EQ(back->scale(), 2);
  EXPECT_EQ(back->size(), (Size{3.5, 2.5}));
}

// An Adam7-interlaced RGBA PNG of the bitmap (our encoder writes plain ones).
Data interlacedPNG(const Bitmap& b) {
  Data out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_set_write_fn(
      png, &out,
      [](png_structp p, png_bytep bytes, png_size_t n) {
        auto* d = static_cast<Data*>(png_get_io_ptr(p));
        d->insert(d->end(), bytes, bytes + n);
      },
      nullptr);
  png_set_IHDR(png, info, b.width, b.height, 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_ADAM7,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  std::vector<png_bytep> rows;
  for (int y = 0; y < b.height; ++y) rows.push_back(const_cast<png_bytep>(b.pixel(0, y)));
  png_write_image(png, rows.data());
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out;
}

TEST(ImageDecoding, OpaquePicturesKeepNoAlphaByteAndShowTheSamePixels) {
  Bitmap opaque = pattern(9, 6);
  Bitmap translucent = pattern(9, 6);
  translucent.pixel(8, 5)[3] = 40;  // the last row: the rows before it were read without alpha
  for (bool interlaced : {false, true}) {
    SCOPED_TRACE(interlaced ? "interlaced" : "plain");
    auto encode = [&](const Bitmap& b) { return interlaced ? interlacedPNG(b) : *encodePNG(*Image::create(b)); };
    auto packed = decodePNG(encode(opaque));
    ASSERT_NE(packed, nullptr);
    EXPECT_EQ(packed->bitmap().channels, 3);
    EXPECT_EQ(packed->bitmap().pixels.size(), 9u * 6 * 3);
    EXPECT_EQ(packed->bitmap(), opaque);
    auto kept = decodePNG(encode(translucent));
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(kept->bitmap().channels, 4);
    EXPECT_EQ(kept->bitmap(), translucent);
  }
  auto packed = decodePNG(*encodePNG(*Image::create(opaque)));
  ASSERT_NE(packed, nullptr);
  // Written again, the three-byte picture reads back the same.
  EXPECT_EQ(decodePNG(*encodePNG(*packed))->bitmap(), opaque);
  auto jpeg = decodeJPEG(jpegOf(8, 8));
  ASSERT_NE(jpeg, nullptr);
  EXPECT_EQ(jpeg->bitmap().channels, 3);
  // GIF frames keep an index a pixel, transparent ones too.
  auto gif = decodeGIF(writeGif(2, 2, {{0, 0, 2, 2, 0, 10, DISPOSE_BACKGROUND}, {0, 0, 1, 1, 1, 10}}));
  ASSERT_NE(gif, nullptr);
  EXPECT_EQ(gif->frames()[1]->bitmap().channels, 1);
  EXPECT_EQ(rgba(*gif->frames()[1], 1, 1), (std::vector<int>{0, 0, 0, 0}));
  EXPECT_TRUE(gif->frames()[1]->bitmap().hasAlpha());
  EXPECT_FALSE(gif->frames()[0]->bitmap().hasAlpha());
  // Written as PNG and JPEG, an indexed frame gives its colours.
  EXPECT_EQ(decodePNG(*encodePNG(*gif->frames()[1]))->bitmap(), gif->frames()[1]->bitmap());
  auto red = rgba(*decodeJPEG(*encodeJPEG(*gif->frames()[0], 1.0)), 0, 0);  // red, give or take the loss
  EXPECT_GE(red[0], 250);
  EXPECT_LE(red[1] + red[2], 10);
  // Past 256 colours a frame keeps three or four bytes a pixel.
  Bitmap many(17, 16);
  for (int i = 0; i < 17 * 16; ++i) {
    many.pixels[i * 4] = static_cast<std::uint8_t>(i);
    many.pixels[i * 4 + 3] = 255;
  }
  many.pixel(16, 15)[1] = 1;  // the 257th colour
  EXPECT_EQ(Bitmap::packedCopy(many).channels, 3);
  EXPECT_EQ(Bitmap::packedCopy(many), many);

  // Turned, cropped, scaled and drawn, a packed picture (three bytes or indexed) gives what its
  // four-byte original does.
  for (const Bitmap& layout : {Bitmap::withoutOpaqueAlpha(opaque), Bitmap::packedCopy(translucent)}) {
    auto four = Image::create(layout.channels == 3 ? opaque : translucent);
    auto small = Image::create(layout);
    SCOPED_TRACE(layout.channels);
    EXPECT_EQ(Image::create(layout, 1, ImageOrientation::Right)->upright()->bitmap(),
              Image::create(four->bitmap(), 1, ImageOrientation::Right)->upright()->bitmap());
    EXPECT_EQ(small->cropped(Rect(2, 1, 4, 3))->bitmap(), four->cropped(Rect(2, 1, 4, 3))->bitmap());
    EXPECT_EQ(small->scaledToPixelSize(5, 4)->bitmap(), four->scaledToPixelSize(5, 4)->bitmap());
    BitmapContext a(12, 8, 1), b(12, 8, 1);
    a.drawImage(small, Rect(1, 1, 10, 6));
    b.drawImage(four, Rect(1, 1, 10, 6));
    EXPECT_EQ(a.bitmap(), b.bitmap());
  }
  EXPECT_EQ(Bitmap::packedCopy(translucent).channels, 1);
}

TEST(ImageJPEG, QualitiesDecodeBackToTheSameSize) {
  auto low = encodeJPEG(*Image::create(pattern(40, 30)), 0.6);
  auto high = encodeJPEG(*Image::create(pattern(40, 30)), 0.9);
  ASSERT_TRUE(low && high);
  EXPECT_LT(low->size(), high->size());
  for (const Data* d : {&*low, &*high}) {
    auto img = decodeJPEG(*d);
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(img->pixelWidth(), 40);
    EXPECT_EQ(img->pixelHeight(), 30);
    EXPECT_EQ(img->orientation(), ImageOrientation::Up);
  }
  auto img = decodeJPEG(*high);
  EXPECT_NEAR(rgba(*img, 39, 0)[0], 255, 24);
  EXPECT_NEAR(rgba(*img, 0, 29)[1], 255, 24);
}

TEST(ImageJPEG, ExifOrientationSixDecodesAsRight) {
  for (bool little : {false, true}) {
    Data d = withExifOrientation(jpegOf(4, 2), 6, little);
    EXPECT_EQ(jpegExifOrientation(d), 6);
    auto img = decodeImage(d);
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(img->orientation(), ImageOrientation::Right);
    EXPECT_EQ(img->pixelWidth(), 4);
    EXPECT_EQ(img->size(), (Size{2, 4}));
    // Encoding writes the picture upright.
    auto again = decodeImage(*encodePNG(*img));
    EXPECT_EQ(again->pixelWidth(), 2);
    EXPECT_EQ(again->orientation(), ImageOrientation::Up);
  }
  EXPECT_EQ(jpegExifOrientation(jpegOf(2, 2)), 0);
  EXPECT_EQ(jpegExifOrientation(withExifOrientation(jpegOf(2, 2), 9, true)), 0);
  // A segment length running past the data is ignored, not read.
  Data bad = withExifOrientation(jpegOf(2, 2), 6, true);
  bad[4] = 0xFF;
  EXPECT_EQ(jpegExifOrientation(Data(bad.begin(), bad.begin() + 30)), 0);
  EXPECT_EQ(orientationFromExif(8), ImageOrientation::Left);
  EXPECT_EQ(orientationFromExif(5), ImageOrientation::LeftMirrored);
  EXPECT_EQ(orientationFromExif(0), ImageOrientation::Up);
}

TEST(ImageGIF, FramesKeepTheirDelaysAndDisposals) {
  // Red everywhere; green top-left quarter then restored; blue bottom-right on top.
  Data gif = writeGif(4, 4, {{0, 0, 4, 4, 0, 10, DISPOSE_DO_NOT},
                             {0, 0, 2, 2, 1, 20, DISPOSE_PREVIOUS},
                             {2, 2, 2, 2, 2, 30, DISPOSE_BACKGROUND}});
  Error e;
  auto img = decodeImage(gif, &e);
  ASSERT_NE(img, nullptr) << e.localizedDescription();
  ASSERT_TRUE(img->isAnimated());
  ASSERT_EQ(img->frames().size(), 3u);
  EXPECT_EQ(img->frameDurations(), (std::vector<double>{0.1, 0.2, 0.3}));
  EXPECT_DOUBLE_EQ(img->duration(), 0.6);
  EXPECT_EQ(img->pixelWidth(), 4);
  EXPECT_EQ(rgba(*img->frames()[1], 0, 0), (std::vector<int>{0, 255, 0, 255}));
  EXPECT_EQ(rgba(*img->frames()[1], 3, 3), (std::vector<int>{255, 0, 0, 255}));
  EXPECT_EQ(rgba(*img->frames()[2], 0, 0), (std::vector<int>{255, 0, 0, 255}));  // green disposed
  EXPECT_EQ(rgba(*img->frames()[2], 3, 3), (std::vector<int>{0, 0, 255, 255}));
}

TEST(ImageGIF, TransparencyBackgroundDisposalAndStillImages) {
  Data gif = writeGif(2, 1, {{0, 0, 2, 1, 1, 0, DISPOSE_BACKGROUND}, {1, 0, 1, 1, 3, 0, DISPOSE_DO_NOT, 3}});
  auto img = decodeGIF(gif);
  ASSERT_NE(img, nullptr);
  // The background disposal cleared the first frame; the second frame's only pixel is transparent.
  EXPECT_EQ(rgba(*img->frames()[1], 0, 0), (std::vector<int>{0, 0, 0, 0}));
  EXPECT_EQ(rgba(*img->frames()[1], 1, 0), (std::vector<int>{0, 0, 0, 0}));
  // No control blocks: delays read as 0 for the caller's own default.
  auto plain = decodeGIF(writeGif(1, 1, {{0, 0, 1, 1, 0, 0}, {0, 0, 1, 1, 1, 0}}, false));
  ASSERT_NE(plain, nullptr);
  EXPECT_EQ(plain->frameDurations(), (std::vector<double>{0, 0}));
  auto still = decodeGIF(writeGif(3, 2, {{0, 0, 3, 2, 2, 50}}));
  ASSERT_NE(still, nullptr);
  EXPECT_FALSE(still->isAnimated());
  EXPECT_EQ(still->size(), (Size{3, 2}));
}

Data pngHeaderClaiming(std::uint32_t w, std::uint32_t h) {
  Data d = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13};
  Data chunk = {'I', 'H', 'D', 'R',
                static_cast<std::uint8_t>(w >> 24), static_cast<std::uint8_t>(w >> 16), static_cast<std::uint8_t>(w >> 8),
                static_cast<std::uint8_t>(w), static_cast<std::uint8_t>(h >> 24), static_cast<std::uint8_t>(h >> 16),
                static_cast<std::uint8_t>(h >> 8), static_cast<std::uint8_t>(h), 8, 6, 0, 0, 0};
  uLong crc = crc32(0, chunk.data(), static_cast<uInt>(chunk.size()));
  d.insert(d.end(), chunk.begin(), chunk.end());
  for (int s = 24; s >= 0; s -= 8) d.push_back(static_cast<std::uint8_t>(crc >> s));
  return d;
}

TEST(ImageLimits, HostileHeadersAreRefusedBeforeAllocating) {
  Error e;
  EXPECT_EQ(decodeImage(pngHeaderClaiming(60000, 60000), &e), nullptr);
  EXPECT_EQ(e.code, kImageErrorTooLarge);
  EXPECT_EQ(e.domain, kImageErrorDomain);

  Data jpeg = jpegOf(8, 8);
  for (std::size_t i = 2; i + 8 < jpeg.size(); ++i)
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {
      jpeg[i + 5] = jpeg[i + 7] = 0xEA;  // height and width 60000
      jpeg[i + 6] = jpeg[i + 8] = 0x60;
      break;
    }
  e = {};
  EXPECT_EQ(decodeImage(jpeg, &e), nullptr);
  EXPECT_EQ(e.code, kImageErrorTooLarge);

  Data gif = dataFromString(std::string("GIF89a\x60\xEA\x60\xEA\x00\x00\x00", 13));
  e = {};
  EXPECT_EQ(decodeImage(gif, &e), nullptr);
  EXPECT_EQ(e.code, kImageErrorTooLarge);

  std::vector<GifFrame> many(501, GifFrame{0, 0, 1, 1, 0, 1});
  e = {};
  EXPECT_EQ(decodeImage(writeGif(1, 1, many), &e), nullptr);
  EXPECT_EQ(e.code, kImageErrorTooManyFrames);
  many.resize(500);
  auto ok = decodeImage(writeGif(1, 1, many));
  ASSERT_NE(ok, nullptr);
  EXPECT_EQ(ok->frames().size(), 500u);
}

// A progressive JPEG whose last scan is repeated `repeats` more times.
Data progressiveJpegRepeatingLastScan(int repeats) {
  Bitmap b = pattern(16, 16);
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* buf = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &buf, &size);
  c.image_width = 16;
  c.image_height = 16;
  c.input_components = 4;
  c.in_color_space = JCS_EXT_RGBA;
  jpeg_set_defaults(&c);
  jpeg_simple_progression(&c);
  jpeg_start_compress(&c, TRUE);
  for (int y = 0; y < 16; ++y) {
    JSAMPROW row = b.pixel(0, y);
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  Data d(buf, buf + size);
  std::free(buf);
  jpeg_destroy_compress(&c);
  std::size_t lastScan = 0;
  for (std::size_t i = 2; i + 1 < d.size(); ++i)
    if (d[i] == 0xFF && d[i + 1] == 0xDA) lastScan = i;
  Data scan(d.begin() + static_cast<std::ptrdiff_t>(lastScan), d.end() - 2);  // up to EOI
  for (int i = 0; i < repeats; ++i) d.insert(d.end() - 2, scan.begin(), scan.end());
  return d;
}

TEST(ImageLimits, EndlessProgressiveScansAreRefused) {
  ASSERT_NE(decodeJPEG(progressiveJpegRepeatingLastScan(0)), nullptr);
  Error e;
  EXPECT_EQ(decodeJPEG(progressiveJpegRepeatingLastScan(300), &e), nullptr);
  EXPECT_EQ(e.code, kImageErrorCorrupt);
  EXPECT_NE(e.localizedDescription().find("scans"), std::string::npos);
}

TEST(ImageLimits, TruncatedAndCorruptDataGiveErrors) {
  Data png = *encodePNG(*Image::create(pattern(30, 30)));
  Data jpeg = jpegOf(64, 64);
  Data gif = writeGif(8, 8, {{0, 0, 8, 8, 1, 5}, {0, 0, 8, 8, 2, 5}});
  for (const Data* full : {&png, &jpeg, &gif}) {
    for (std::size_t cut : {full->size() / 2, full->size() * 3 / 4, std::size_t(10), std::size_t(3)}) {
      Error e;
      EXPECT_EQ(decodeImage(Data(full->begin(), full->begin() + static_cast<std::ptrdiff_t>(cut)), &e), nullptr)
          << mimeTypeForImageFormat(sniffImageFormat(*full)) << " cut at " << cut;
      EXPECT_NE(e.code, 0);
    }
  }
  Data garbled = png;
  for (std::size_t i = 40; i < garbled.size(); i += 7) garbled[i] ^= 0x5A;
  Error e;
  EXPECT_EQ(decodeImage(garbled, &e), nullptr);
  EXPECT_EQ(e.code, kImageErrorCorrupt);
}

TEST(ImageOps, UprightScaleAndCrop) {
  Bitmap b(2, 1);
  b.pixel(0, 0)[0] = 255;  // A: red, B: blue
  b.pixel(0, 0)[3] = 255;
  b.pixel(1, 0)[2] = 255;
  b.pixel(1, 0)[3] = 255;
  auto right = Image::create(b, 1, ImageOrientation::Right)->upright();
  ASSERT_EQ(right->pixelWidth(), 1);
  EXPECT_EQ(rgba(*right, 0, 0), (std::vector<int>{255, 0, 0, 255}));  // turned clockwise: A on top
  auto left = Image::create(b, 1, ImageOrientation::Left)->upright();
  EXPECT_EQ(rgba(*left, 0, 0), (std::vector<int>{0, 0, 255, 255}));
  auto mirrored = Image::create(b, 1, ImageOrientation::UpMirrored)->upright();
  EXPECT_EQ(rgba(*mirrored, 0, 0), (std::vector<int>{0, 0, 255, 255}));

  auto big = Image::create(b)->scaledToPixelSize(4, 2, Interpolation::Nearest);
  EXPECT_EQ(rgba(*big, 1, 1), (std::vector<int>{255, 0, 0, 255}));
  EXPECT_EQ(rgba(*big, 2, 0), (std::vector<int>{0, 0, 255, 255}));
  auto smooth = Image::create(b)->scaledToPixelSize(4, 1);
  EXPECT_GT(rgba(*smooth, 1, 0)[0], 100);  // blended between the two
  EXPECT_GT(rgba(*smooth, 1, 0)[2], 0);

  auto src = Image::create(pattern(10, 10), 2);
  auto part = src->cropped(Rect(8, 8, 5, 5));
  ASSERT_NE(part, nullptr);
  EXPECT_EQ(part->pixelWidth(), 2);
  EXPECT_EQ(part->scale(), 1);
  EXPECT_EQ(rgba(*part, 0, 0), rgba(*src, 8, 8));
  EXPECT_EQ(src->cropped(Rect(20, 0, 5, 5)), nullptr);
  // A crop keeping every pixel shares them, still as a plain picture of scale 1.
  auto whole = Image::create(pattern(10, 10), 2, ImageOrientation::Left)->cropped(Rect(-2, -2, 20, 20));
  ASSERT_NE(whole, nullptr);
  EXPECT_EQ(whole->pixelWidth(), 10);
  EXPECT_EQ(whole->scale(), 1);
  EXPECT_EQ(whole->orientation(), ImageOrientation::Up);
  EXPECT_EQ(rgba(*whole, 3, 7), rgba(*src, 3, 7));
  EXPECT_EQ(src->cropped(Rect(0, 0, 10, 10))->sharedBitmap(), src->sharedBitmap());
  EXPECT_EQ(src->scaledToPixelSize(60000, 60000), nullptr);
  EXPECT_EQ(src->scaledToPixelSize(0, 5), nullptr);
}

class NamedImages : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("graphics-named-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  void write(const std::string& name, const Data& d) {
    std::ofstream(dir_ / name, std::ios::binary).write(reinterpret_cast<const char*>(d.data()), static_cast<std::streamsize>(d.size()));
  }
  std::filesystem::path dir_;
};

TEST_F(NamedImages, DoubleResolutionFilesArePreferredOnDoubleScreens) {
  write("icon.png", *encodePNG(*Image::create(pattern(10, 10))));
  write("icon@2x.png", *encodePNG(*Image::create(pattern(20, 20))));
  write("only.png", *encodePNG(*Image::create(pattern(6, 6))));
  Data cut = *encodePNG(*Image::create(pattern(6, 6)));
  cut.resize(40);
  write("broken.png", cut);
  auto at2 = imageNamed(dir_.string(), "icon", 2);
  ASSERT_NE(at2, nullptr);
  EXPECT_EQ(at2->scale(), 2);
  EXPECT_EQ(at2->size(), (Size{10, 10}));
  EXPECT_EQ(at2->name(), "icon");
  auto at1 = imageNamed(dir_.string(), "icon.png", 1);
  ASSERT_NE(at1, nullptr);
  EXPECT_EQ(at1->pixelWidth(), 10);
  auto fallback = imageNamed(dir_.string(), "only", 2);
  ASSERT_NE(fallback, nullptr);
  EXPECT_EQ(fallback->scale(), 1);
  Error e;
  EXPECT_EQ(imageNamed(dir_.string(), "missing", 2, &e), nullptr);
  EXPECT_EQ(e.code, kImageErrorNotFound);
  EXPECT_EQ(imageNamed(dir_.string(), "broken", 1, &e), nullptr);
  EXPECT_EQ(e.code, kImageErrorCorrupt);
}

}  // namespace
}  // namespace os
