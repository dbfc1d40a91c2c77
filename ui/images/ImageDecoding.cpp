#include "ui/images/ImageDecoding.h"

#include <cmath>
#include <vector>

#include "os/core/String.h"
#include "os/graphics/BitmapContext.h"
#include "os/store/Bundle.h"
#include "os/views/Screen.h"
#include "ui/images/ImageContentType.h"

namespace {
BNImagePtr decodeStill(const os::Data& data) {
  os::ImageDecodeOptions options;
  options.limits = BNImageDecodeLimits();
  return os::decodeImage(data, nullptr, options);
}
}  // namespace

os::ImageDecodeLimits BNImageDecodeLimits() {
  os::ImageDecodeLimits limits;
  limits.maxSide = 8192;
  limits.maxPixels = 12'000'000;
  limits.maxFrames = 300;
  return limits;
}

double BNImageScreenScale() {
  double scale = os::Screen::main().scale();
  return scale > 0 ? scale : 1.0;
}

os::ImageOrientation sd_exifOrientationToOrientation(int exifValue) { return os::orientationFromExif(exifValue); }

os::ImageOrientation sd_imageOrientationFromImageData(const os::Data& data) {
  // Only JPEG carries an orientation among the formats we decode.
  int exif = os::jpegExifOrientation(data);
  return exif == 0 ? os::ImageOrientation::Up : sd_exifOrientationToOrientation(exif);
}

BNImagePtr sd_imageWithData(const os::Data& data) {
  auto type = sd_contentTypeForImageData(data);
  if (type && *type == "image/gif") return sd_animatedGIFWithData(data);
  auto image = decodeStill(data);
  if (!image) return nullptr;
  auto orientation = sd_imageOrientationFromImageData(data);
  if (orientation != image->orientation()) image = image->withScale(image->scale(), orientation);
  return image;
}

double sd_frameDurationAtIndex(std::size_t index, const os::Image& gif) {
  const auto& delays = gif.frameDurations();
  double delay = index < delays.size() ? delays[index] : 0.0;
  if (!(delay >= 0.011)) delay = 0.1;  // also catches NaN
  return delay;
}

BNImagePtr sd_animatedGIFWithData(const os::Data& data) {
  if (data.empty()) return nullptr;
  auto decoded = decodeStill(data);
  if (!decoded) return nullptr;
  if (!decoded->isAnimated()) return decoded;
  double scale = BNImageScreenScale();
  std::vector<BNImagePtr> frames;
  std::vector<double> durations;
  double total = 0;
  const auto& source = decoded->frames();
  for (std::size_t i = 0; i < source.size(); ++i) {
    double d = sd_frameDurationAtIndex(i, *decoded);
    total += d;
    durations.push_back(d);
    frames.push_back(os::Image::create(source[i]->sharedBitmap(), scale, os::ImageOrientation::Up));
  }
  if (total == 0) total = 0.1 * static_cast<double>(frames.size());
  return os::Image::animated(std::move(frames), total, std::move(durations));
}

BNImagePtr sd_animatedGIFNamed(const std::string& name) {
  auto bundle = os::Bundle::mainBundle();
  if (!bundle) return nullptr;
  double scale = BNImageScreenScale();
  if (scale > 1) {
    if (auto data = bundle->dataForResource(name + "@2x", "gif")) return sd_animatedGIFWithData(*data);
  }
  if (auto data = bundle->dataForResource(name, "gif")) return sd_animatedGIFWithData(*data);
  return os::imageNamed(bundle->bundlePath(), name, scale);
}

BNImagePtr sd_animatedImageByScalingAndCroppingToSize(const BNImagePtr& image, os::Size size) {
  if (!image) return nullptr;
  os::Size current = image->size();
  if (current == size || size == os::Size::zero()) return image;
  if (!(current.width > 0 && current.height > 0 && size.width > 0 && size.height > 0)) return image;
  double widthFactor = size.width / current.width;
  double heightFactor = size.height / current.height;
  double factor = std::max(widthFactor, heightFactor);
  os::Rect drawn(0, 0, current.width * factor, current.height * factor);
  if (widthFactor > heightFactor)
    drawn.origin.y = (size.height - drawn.size.height) * 0.5;
  else if (heightFactor > widthFactor)
    drawn.origin.x = (size.width - drawn.size.width) * 0.5;

  double scale = BNImageScreenScale();
  os::BitmapContext context(static_cast<int>(std::ceil(size.width * scale)), static_cast<int>(std::ceil(size.height * scale)), scale);
  if (context.bitmap().width == 0) return image;
  std::vector<BNImagePtr> source = image->isAnimated() ? image->frames() : std::vector<BNImagePtr>{image};
  std::vector<BNImagePtr> frames;
  for (const auto& frame : source) {
    // Each frame starts from a clear canvas: a frame with transparent parts must not show the
    // previous frame beneath it.
    context.clearRect(os::Rect(0, 0, size.width, size.height));
    context.drawImage(frame, drawn);
    frames.push_back(context.makeImage());
  }
  return os::Image::animated(std::move(frames), image->duration(), image->frameDurations());
}

BNImagePtr decodedImageWithImage(const BNImagePtr& image) {
  if (!image || image->isAnimated()) return image;
  // Our bitmaps are decoded RGBA already; a fresh image over the same pixels keeps the contract
  // (ready to draw, same scale and orientation) without a copy.
  return os::Image::create(image->sharedBitmap(), image->scale(), image->orientation());
}

BNImagePtr BNScaledImageForKey(std::string_view key, const BNImagePtr& image) {
  if (!image) return nullptr;
  if (image->isAnimated()) {
    std::vector<BNImagePtr> frames;
    for (const auto& frame : image->frames()) frames.push_back(BNScaledImageForKey(key, frame));
    return os::Image::animated(std::move(frames), image->duration(), image->frameDurations());
  }
  double scale = 1.0;
  std::size_t length = os::utf16Length(key);
  if (length >= 8) {
    std::string window = os::substringWithUTF16Range(key, length - 8, 5);
    if (window.find("@2x.") != std::string::npos) scale = 2.0;
  }
  return image->withScale(scale, image->orientation());
}

namespace {
unsigned be16(const os::Data& d, std::size_t i) { return (unsigned(d[i]) << 8) | d[i + 1]; }
unsigned be32(const os::Data& d, std::size_t i) { return (be16(d, i) << 16) | be16(d, i + 2); }
}  // namespace

std::optional<std::pair<int, int>> BNImagePixelSizeFromHeader(const os::Data& data) {
  auto type = sd_contentTypeForImageData(data);
  if (!type) return std::nullopt;
  auto sized = [](unsigned long long w, unsigned long long h) -> std::optional<std::pair<int, int>> {
    if (w == 0 || h == 0 || w > 0x7fffffff || h > 0x7fffffff) return std::nullopt;
    return std::pair<int, int>(static_cast<int>(w), static_cast<int>(h));
  };
  if (*type == "image/png") {
    if (data.size() < 24) return std::nullopt;
    return sized(be32(data, 16), be32(data, 20));
  }
  if (*type == "image/gif") {
    if (data.size() < 10) return std::nullopt;
    return sized(data[6] | (data[7] << 8), data[8] | (data[9] << 8));
  }
  if (*type == "image/jpeg") {
    std::size_t i = 2;
    while (i + 4 <= data.size()) {
      if (data[i] != 0xFF) return std::nullopt;
      unsigned marker = data[i + 1];
      if (marker == 0xFF) {  // fill byte
        ++i;
        continue;
      }
      if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD9)) {
        i += 2;
        continue;
      }
      unsigned length = be16(data, i + 2);
      if (length < 2) return std::nullopt;
      bool frameHeader = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
      if (frameHeader) {
        if (i + 9 > data.size()) return std::nullopt;
        return sized(be16(data, i + 7), be16(data, i + 5));
      }
      i += 2 + length;
    }
  }
  return std::nullopt;
}
