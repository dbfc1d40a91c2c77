// fuzz-link: os ui
// Image bytes from the network: type sniffing and decoding under tight limits. What decodes must
// stay within the limits it was given.
#include "fuzz/support/FuzzSupport.h"
#include "os/graphics/ImageCodec.h"
#include "ui/images/ImageContentType.h"

namespace {

std::shared_ptr<os::Image> picture(int width, int height) {
  os::Bitmap bitmap(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      std::uint8_t* p = bitmap.pixel(x, y);
      p[0] = static_cast<std::uint8_t>(x * 40);
      p[1] = static_cast<std::uint8_t>(y * 60);
      p[2] = 90;
      p[3] = 200;
    }
  return os::Image::create(std::move(bitmap));
}

// Two-frame GIF 2x2, with delays and a transparent index; written by hand since nothing here
// encodes GIF.
std::string smallGif() {
  const unsigned char bytes[] = {
      'G', 'I', 'F', '8', '9', 'a', 2, 0, 2, 0, 0x80, 0, 0,      // screen 2x2, 2-colour table
      255, 0, 0, 0, 0, 255,                                       // red, blue
      0x21, 0xF9, 4, 0x05, 10, 0, 1, 0,                           // delay 10, transparent 1
      0x2C, 0, 0, 0, 0, 2, 0, 2, 0, 0, 2, 2, 0x44, 0x01, 0,       // frame 1
      0x21, 0xF9, 4, 0x08, 20, 0, 0, 0,                           // delay 20, restore background
      0x2C, 0, 0, 0, 0, 2, 0, 2, 0, 0, 2, 2, 0x8C, 0x01, 0,       // frame 2
      0x3B};
  return std::string(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

std::vector<fuzz::Seed> seeds() {
  std::vector<fuzz::Seed> out;
  if (auto png = os::encodePNG(*picture(3, 2))) out.push_back({"small.png", os::stringFromData(*png)});
  if (auto jpeg = os::encodeJPEG(*picture(8, 8), 0.5)) out.push_back({"small.jpg", os::stringFromData(*jpeg)});
  out.push_back({"small.gif", smallGif()});
  return out;
}
FUZZ_SEEDS(seeds);

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  os::Data bytes(data, data + size);
  (void)sd_contentTypeForImageData(bytes);
  (void)os::sniffImageFormat(bytes);
  (void)os::jpegExifOrientation(bytes);

  os::ImageDecodeOptions options;
  options.limits.maxSide = 512;
  options.limits.maxPixels = 64 * 1024;
  options.limits.maxFrames = 16;
  os::Error error;
  std::shared_ptr<os::Image> image = os::decodeImage(bytes, &error, options);
  if (!image) {
    fuzz::check(!error.domain.empty(), "a refused image must say why");
    return 0;
  }
  fuzz::check(image->pixelWidth() > 0 && image->pixelHeight() > 0, "a decoded image has no pixels");
  fuzz::check(image->pixelWidth() <= options.limits.maxSide && image->pixelHeight() <= options.limits.maxSide,
              "a decoded image is larger than its limits");
  fuzz::check(image->frames().size() <= static_cast<std::size_t>(options.limits.maxFrames), "too many frames");
  return 0;
}
