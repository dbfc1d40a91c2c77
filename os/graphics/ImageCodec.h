#pragma once
// Reading and writing image files: format sniffing, PNG, JPEG (with the EXIF orientation) and
// GIF (every frame composed with its disposal method, with its delay).
//
// Every decoder checks the stated dimensions and frame count against the limits before it
// allocates, and turns corrupt or truncated data into an os::Error.
#include <memory>
#include <optional>
#include <string>

#include "os/core/Data.h"
#include "os/core/Error.h"
#include "os/graphics/Image.h"

namespace os {

enum class ImageFormat { Unknown, PNG, JPEG, GIF, TIFF, WebP };

// By the magic bytes at the start of the data.
ImageFormat sniffImageFormat(const Data& data);
// "image/png", "image/jpeg", "image/gif", "image/tiff", "image/webp"; "" for Unknown.
std::string mimeTypeForImageFormat(ImageFormat format);

struct ImageDecodeLimits {
  int maxSide = 10000;
  long long maxPixels = 50'000'000;
  // Animated GIFs keep every composed frame: at most maxFrames of them, and at most
  // 2 × maxPixels canvas pixels over all frames together.
  int maxFrames = 500;
};

struct ImageDecodeOptions {
  double scale = 1;  // the decoded image's scale
  ImageDecodeLimits limits;
};

// Decodes PNG, JPEG or GIF. A JPEG's EXIF orientation becomes the image's orientation (the
// pixels stay as stored). A GIF of two or more frames becomes an animated image whose frame
// durations are the file's delays (0 where a frame states none) and whose duration is their sum;
// a GIF of one frame is a still image.
std::shared_ptr<Image> decodeImage(const Data& data, Error* error = nullptr, const ImageDecodeOptions& options = {});
std::shared_ptr<Image> decodePNG(const Data& data, Error* error = nullptr, const ImageDecodeOptions& options = {});
std::shared_ptr<Image> decodeJPEG(const Data& data, Error* error = nullptr, const ImageDecodeOptions& options = {});
std::shared_ptr<Image> decodeGIF(const Data& data, Error* error = nullptr, const ImageDecodeOptions& options = {});

// The EXIF orientation value (1..8) in a JPEG's APP1 segment; 0 when there is none.
int jpegExifOrientation(const Data& data);

// Encoders write the image as shown (orientation applied). PNG keeps alpha and is lossless;
// JPEG drops alpha (colour values are written as stored) at a quality of 0..1, clamped.
std::optional<Data> encodePNG(const Image& image, Error* error = nullptr);
std::optional<Data> encodeJPEG(const Image& image, double quality, Error* error = nullptr);

}  // namespace os
