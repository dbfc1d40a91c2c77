#include "tools/newsd/server/Pictures.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "os/graphics/Image.h"
#include "os/graphics/ImageCodec.h"

namespace newsd {

namespace {

constexpr double kJPEGQuality = 0.85;

std::uint32_t fnv1a(std::string_view text) {
  std::uint32_t h = 2166136261u;
  for (unsigned char c : text) {
    h ^= c;
    h *= 16777619u;
  }
  return h;
}

struct Rgb {
  int r, g, b;
};

Rgb colourFrom(std::uint32_t bits) {
  // Keep every channel in a middle band so pictures look like photographs, not flags.
  return {60 + static_cast<int>(bits & 0x7f), 60 + static_cast<int>((bits >> 8) & 0x7f),
          60 + static_cast<int>((bits >> 16) & 0x7f)};
}

std::uint8_t mix(int a, int b, int num, int den) {
  return static_cast<std::uint8_t>(a + (b - a) * num / (den > 0 ? den : 1));
}

void put(std::uint8_t* px, int r, int g, int b) {
  px[0] = static_cast<std::uint8_t>(r);
  px[1] = static_cast<std::uint8_t>(g);
  px[2] = static_cast<std::uint8_t>(b);
  px[3] = 255;
}

// The landscape; `frame` moves the sun a little to the right, for the frames of an animation.
os::Bitmap drawLandscape(std::string_view name, int width, int height, int frame) {
  std::uint32_t h = fnv1a(name);
  Rgb sky = colourFrom(h);
  Rgb ground = colourFrom(h * 2654435761u);
  Rgb sun = {240, 200 + static_cast<int>(h % 50), 90};
  int horizon = height * (55 + static_cast<int>(h % 20)) / 100;
  int sunX = width * (20 + static_cast<int>((h >> 5) % 40) + frame * 6) / 100;
  int sunY = horizon / 2;
  int sunR = std::max(2, std::min(width, height) / 8);

  os::Bitmap bitmap(width, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      std::uint8_t* px = bitmap.pixel(x, y);
      int dx = x - sunX, dy = y - sunY;
      if (y < horizon && dx * dx + dy * dy <= sunR * sunR) {
        put(px, sun.r, sun.g, sun.b);
      } else if (y < horizon) {
        put(px, mix(sky.r, 250, y, horizon), mix(sky.g, 250, y, horizon), mix(sky.b, 255, y, horizon));
      } else {
        // Furrows across the ground give the picture some texture to scale and crop.
        int shade = ((x + 2 * y) / 12) % 2 == 0 ? 0 : 25;
        put(px, std::max(0, ground.r - shade), std::max(0, ground.g - shade), std::max(0, ground.b - shade));
      }
    }
  }
  return bitmap;
}

int appendToData(GifFileType* gif, const GifByteType* bytes, int length) {
  auto* out = static_cast<os::Data*>(gif->UserData);
  out->insert(out->end(), bytes, bytes + length);
  return length;
}

// One frame with a palette of its own, quantised from the frame's colours.
bool putFrame(GifFileType* gif, const os::Bitmap& bitmap, int delay) {
  std::size_t count = static_cast<std::size_t>(bitmap.width) * bitmap.height;
  std::vector<GifByteType> red(count), green(count), blue(count), indices(count);
  for (std::size_t i = 0; i < count; ++i) {
    red[i] = bitmap.pixels[i * 4];
    green[i] = bitmap.pixels[i * 4 + 1];
    blue[i] = bitmap.pixels[i * 4 + 2];
  }
  int colours = 256;
  std::vector<GifColorType> palette(256, GifColorType{0, 0, 0});
  if (GifQuantizeBuffer(static_cast<unsigned>(bitmap.width), static_cast<unsigned>(bitmap.height), &colours, red.data(),
                        green.data(), blue.data(), indices.data(), palette.data()) != GIF_OK)
    return false;

  GraphicsControlBlock control{DISPOSE_DO_NOT, false, delay, NO_TRANSPARENT_COLOR};
  GifByteType extension[4];
  EGifGCBToExtension(&control, extension);
  if (EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, sizeof extension, extension) != GIF_OK) return false;

  ColorMapObject* map = GifMakeMapObject(256, palette.data());
  if (!map) return false;
  bool ok = EGifPutImageDesc(gif, 0, 0, bitmap.width, bitmap.height, false, map) == GIF_OK;
  GifFreeMapObject(map);
  for (int y = 0; ok && y < bitmap.height; ++y)
    ok = EGifPutLine(gif, indices.data() + static_cast<std::size_t>(y) * bitmap.width, bitmap.width) == GIF_OK;
  return ok;
}

std::optional<os::Data> encodeAnimatedGIF(std::string_view name, int width, int height) {
  os::Data out;
  int error = 0;
  GifFileType* gif = EGifOpen(&out, appendToData, &error);
  if (!gif) return std::nullopt;
  EGifSetGifVersion(gif, true);
  bool ok = EGifPutScreenDesc(gif, width, height, 8, 0, nullptr) == GIF_OK;
  // Loops for ever, as animated pictures on a page do.
  static const GifByteType kLoopForEver[3] = {1, 0, 0};
  ok = ok && EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE) == GIF_OK &&
       EGifPutExtensionBlock(gif, 11, "NETSCAPE2.0") == GIF_OK &&
       EGifPutExtensionBlock(gif, sizeof kLoopForEver, kLoopForEver) == GIF_OK &&
       EGifPutExtensionTrailer(gif) == GIF_OK;
  for (int frame = 0; ok && frame < kAnimationFrames; ++frame)
    ok = putFrame(gif, drawLandscape(name, width, height, frame), kAnimationDelays[frame]);
  // Closing writes the trailer and frees the writer whatever happened before.
  if (EGifCloseFile(gif, &error) != GIF_OK) ok = false;
  if (!ok) return std::nullopt;
  return out;
}

}  // namespace

std::string_view extensionOf(PictureFormat format) {
  switch (format) {
    case PictureFormat::PNG: return "png";
    case PictureFormat::JPEG: return "jpg";
    case PictureFormat::GIF: return "gif";
  }
  return "png";
}

std::optional<PictureFormat> pictureFormatForExtension(std::string_view extension) {
  for (PictureFormat format : {PictureFormat::PNG, PictureFormat::JPEG, PictureFormat::GIF})
    if (extensionOf(format) == extension) return format;
  return std::nullopt;
}

std::string_view mimeTypeOf(PictureFormat format) {
  switch (format) {
    case PictureFormat::PNG: return "image/png";
    case PictureFormat::JPEG: return "image/jpeg";
    case PictureFormat::GIF: return "image/gif";
  }
  return "application/octet-stream";
}

std::optional<os::Data> drawPicture(std::string_view name, int width, int height, PictureFormat format) {
  if (width < 1 || height < 1 || width > kMaxPictureSide || height > kMaxPictureSide) return std::nullopt;
  if (format == PictureFormat::GIF) return encodeAnimatedGIF(name, width, height);
  auto image = os::Image::create(drawLandscape(name, width, height, 0));
  return format == PictureFormat::JPEG ? os::encodeJPEG(*image, kJPEGQuality) : os::encodePNG(*image);
}

}  // namespace newsd
