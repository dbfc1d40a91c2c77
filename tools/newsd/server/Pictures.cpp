#include "tools/newsd/server/Pictures.h"

#include <png.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace newsd {

namespace {

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

}  // namespace

std::optional<os::Data> drawPicturePNG(std::string_view name, int width, int height) {
  if (width < 1 || height < 1 || width > kMaxPictureSide || height > kMaxPictureSide) return std::nullopt;
  std::uint32_t h = fnv1a(name);
  Rgb sky = colourFrom(h);
  Rgb ground = colourFrom(h * 2654435761u);
  Rgb sun = {240, 200 + static_cast<int>(h % 50), 90};
  int horizon = height * (55 + static_cast<int>(h % 20)) / 100;
  int sunX = width * (20 + static_cast<int>((h >> 5) % 60)) / 100;
  int sunY = horizon / 2;
  int sunR = std::max(2, std::min(width, height) / 8);

  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      std::uint8_t* px = &pixels[(static_cast<std::size_t>(y) * width + x) * 3];
      int dx = x - sunX, dy = y - sunY;
      if (y < horizon && dx * dx + dy * dy <= sunR * sunR) {
        px[0] = static_cast<std::uint8_t>(sun.r);
        px[1] = static_cast<std::uint8_t>(sun.g);
        px[2] = static_cast<std::uint8_t>(sun.b);
      } else if (y < horizon) {
        px[0] = mix(sky.r, 250, y, horizon);
        px[1] = mix(sky.g, 250, y, horizon);
        px[2] = mix(sky.b, 255, y, horizon);
      } else {
        // Furrows across the ground give the picture some texture to scale and crop.
        bool furrow = ((x + 2 * y) / 12) % 2 == 0;
        int shade = furrow ? 0 : 25;
        px[0] = static_cast<std::uint8_t>(std::max(0, ground.r - shade));
        px[1] = static_cast<std::uint8_t>(std::max(0, ground.g - shade));
        px[2] = static_cast<std::uint8_t>(std::max(0, ground.b - shade));
      }
    }
  }

  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(width);
  image.height = static_cast<png_uint_32>(height);
  image.format = PNG_FORMAT_RGB;
  png_alloc_size_t size = 0;
  if (!png_image_write_to_memory(&image, nullptr, &size, 0, pixels.data(), 0, nullptr) || size == 0) {
    png_image_free(&image);
    return std::nullopt;
  }
  os::Data out(size);
  if (!png_image_write_to_memory(&image, out.data(), &size, 0, pixels.data(), 0, nullptr)) {
    png_image_free(&image);
    return std::nullopt;
  }
  out.resize(size);
  return out;
}

}  // namespace newsd
